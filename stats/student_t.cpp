// student_t.cpp - Student-t critical value by Horner steps in u = 1/DOF, highest powers first.
#include "stats/student_t.h"

double StudentTCritical(int32_t DOF)
{
    // A number, not an error: callers of the worksheet function rely on always getting one.
    if (DOF <= 0) return 999.0;
    const double u = 1.0 / static_cast<double>(DOF);
    // Each step rounds to double; the published values depend on exactly this sequence.
    double s = 47.80984118273 - (u * 20.41398774509);
    s = (s * u) - 40.21914837586;
    s = (s * u) + 17.35809407526;
    s = (s * u) - 1.89143028414;
    s = (s * u) + 2.925899576419;
    s = (s * u) + 2.804312164531;
    s = (s * u) + 2.37260713346;
    s = (s * u) + 1.959962573499;
    return s;
}
