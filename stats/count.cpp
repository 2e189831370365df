// count.cpp - interval count over a value array, in buffer order.
#include "stats/count.h"

namespace {

// Two values, and their two comparison results (all ones or zero), side by side: one
// instruction compares both. The count is an integer, so the pairing cannot change it.
typedef double Pair __attribute__((vector_size(16)));
typedef long long PairMask __attribute__((vector_size(16)));

}  // namespace

int32_t CountInInterval(const double* X, int32_t n, double low, double high)
{
    // Both comparisons every time and no branch: on unsorted data a branch per value
    // mispredicts about as often as the value falls inside. A NaN compares false either way.
    const Pair lows = {low, low};
    const Pair highs = {high, high};
    PairMask insideMasks = {0, 0};
    int32_t k = 0;
    for (; n - k >= 2; k += 2) {
        Pair v;
        __builtin_memcpy(&v, X + k, sizeof v);
        const PairMask inside = (v >= lows) & (v < highs);
        insideMasks = insideMasks - inside;
    }
    int32_t count = static_cast<int32_t>(insideMasks[0] + insideMasks[1]);
    for (; k < n; ++k) {
        const bool inside = (X[k] >= low) & (X[k] < high);
        count += static_cast<int32_t>(inside);
    }
    return count;
}
