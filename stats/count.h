// count.h - counts the values of an array lying in the half-open interval [low, high).
// NaN values and NaN bounds count nothing; low >= high gives 0.
#pragma once

#include <cstdint>

int32_t CountInInterval(const double* X, int32_t n, double low, double high);  // #{k < n : low <= X[k] < high}
