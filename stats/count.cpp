// count.cpp - interval count over a value array, in buffer order.
#include "stats/count.h"

int32_t CountInInterval(const double* X, int32_t n, double low, double high)
{
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k) {
        const double v = X[k];
        if (v >= low && v < high) ++count;
    }
    return count;
}
