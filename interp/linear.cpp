// linear.cpp - linear interpolation with a bounded bisection search.
#include "interp/linear.h"

// 32 halvings narrow any int32_t count to one interval, so the cap never cuts a search short;
// it bounds the loop by a count whatever x holds.
static constexpr int32_t MaxBisections = 32;

double InterpolateLinear(const double* X, const double* Y, int32_t n, double x, int32_t extrapolate)
{
    // Equal first nodes count as decreasing; no other node is checked for order.
    const bool increasing = X[1] > X[0];
    const bool beforeStart = increasing ? (x <= X[0]) : (x >= X[0]);
    const bool pastEnd = increasing ? (x >= X[n - 1]) : (x <= X[n - 1]);
    int32_t lo = 0;
    int32_t hi = n - 1;
    if (beforeStart) {
        if (extrapolate == 0) return Y[0];
        hi = 1;
    } else if (pastEnd) {
        if (extrapolate == 0) return Y[n - 1];
        lo = n - 2;
    } else {
        // Strict comparisons send x equal to X[mid] to the lower half, so an inner node
        // of an increasing table ends its interval. A NaN x keeps halving towards lo = 0.
        for (int32_t probe = 0; probe < MaxBisections && hi > lo + 1; ++probe) {
            const int32_t mid = lo + ((hi - lo) / 2);  // (lo + hi) / 2 without overflow
            const bool beyond = increasing ? (x > X[mid]) : (X[mid] > x);
            if (beyond) lo = mid;
            else hi = mid;
        }
    }
    const double rise = Y[hi] - Y[lo];
    const double run = x - X[lo];
    const double width = X[hi] - X[lo];
    return (rise * run) / width + Y[lo];
}
