// student_t.h - two-sided 95 % Student-t critical value (the 0.975 quantile) from a polynomial in 1/DOF.
// DOF <= 0 answers the number 999.0, not a failure; large DOF tends to 1.959962573499.
#pragma once

#include <cstdint>

double StudentTCritical(int32_t DOF);  // the approximate critical value for DOF degrees of freedom
