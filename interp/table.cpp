// table.cpp - bilinear table interpolation: interpolate along Y in two rows, then along X.
#include "interp/table.h"

#include <cmath>

// The first k in 1 .. count-2 whose nodes axis[k * stride], axis[(k + 1) * stride] bracket v,
// else 1 or count-2, whichever end interval is nearer; the scan is bounded by count alone.
static int32_t FindAxisInterval(const double* axis, int32_t stride, int32_t count, double v)
{
    for (int32_t k = 1; k <= count - 2; ++k) {
        const double toNext = v - axis[(k + 1) * stride];
        const double toThis = v - axis[k * stride];
        if (toNext * toThis <= 0.0) return k;
    }
    const double first = axis[stride];
    const double last = axis[(count - 1) * stride];
    const double fromLast = std::fabs(v - last);
    const double fromFirst = std::fabs(v - first);
    if (fromLast > fromFirst) return 1;
    if (fromLast < fromFirst) return count - 2;
    // Equal distances are a true tie only when the end nodes coincide (then the last interval).
    // Otherwise rounding of a far or infinite v made them equal: nothing brackets v, so it lies
    // beyond both ends, nearer the end on its own side. A NaN anywhere lands on count-2.
    const bool firstNearer = (v < first && first < last) || (v > first && first > last);
    return firstNearer ? 1 : count - 2;
}

// Value at v on the line through (v0, z0) and (v1, z1); with hold, v beyond either node takes
// that node's value. The "beyond" tests are strict, so a node itself is interpolated.
static double InterpolateAlong(double v0, double v1, double z0, double z1, double v, bool hold)
{
    const bool pastSecond = (v1 > v0 && v > v1) || (v0 > v1 && v1 > v);
    const bool pastFirst = (v1 > v0 && v0 > v) || (v0 > v1 && v > v0);
    if (hold && pastSecond) return z1;
    if (hold && pastFirst) return z0;
    const double rise = z1 - z0;
    const double run = v - v0;
    const double width = v1 - v0;
    return (rise * run) / width + z0;
}

double InterpolateTable(const double* items, int32_t R, int32_t C, double X, double Y, int32_t extrapolate)
{
    const bool hold = extrapolate == 0;
    const int32_t i = FindAxisInterval(items, C, R, X);  // X_r = items[r * C]
    const int32_t j = FindAxisInterval(items, 1, C, Y);  // Y_c = items[c]
    const double* rowI = items + (i * C);
    const double* rowNext = items + ((i + 1) * C);
    const double a = InterpolateAlong(items[j], items[j + 1], rowI[j], rowI[j + 1], Y, hold);
    const double b = InterpolateAlong(items[j], items[j + 1], rowNext[j], rowNext[j + 1], Y, hold);
    return InterpolateAlong(rowI[0], rowNext[0], a, b, X, hold);
}
