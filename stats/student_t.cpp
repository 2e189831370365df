// student_t.cpp - Student-t critical value by Horner steps in u = 1/DOF, highest powers first.
#include "stats/student_t.h"

double StudentTCritical(int32_t DOF)
{
    // A number, not an error: callers of the worksheet function rely on always getting one.
    if (DOF <= 0) return 999.0;
    const double u = 1.0 / static_cast<double>(DOF);
    // The coefficients are the function's defining polynomial, kept as given because the answers users
    // already hold (12.706150300808995 at DOF 1) follow from them. It is an empirical fit, not a series:
    // the constant is within 1.5e-6 of z = 1.959964, the normal 0.975 quantile, and the u term near
    // the first Cornish-Fisher correction (z^3 + z) / 4 = 2.3723; docs/FUNCTIONS.md lists its error.
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
