// linear.cpp - linear interpolation with a bounded bisection search.
#include "interp/linear.h"

// 32 halvings narrow any int32_t count to one interval, so the cap never cuts a search short;
// it bounds the loop by a count whatever x holds.
static constexpr int32_t MaxBisections = 32;

// Points searched side by side, so that their probes into a large table overlap instead of each
// waiting for the last; each point's probes and answer are exactly those of a search of its own.
static constexpr int32_t Lanes = 8;

void InterpolateLinearPoints(const double* X, const double* Y, int32_t n, const double* x, int64_t count,
                             int32_t extrapolate, double* answers)
{
    // Equal first nodes count as decreasing; no other node is checked for order.
    const bool increasing = X[1] > X[0];
    for (int64_t first = 0; first < count; first += Lanes) {
        const int32_t lanes = (count - first < Lanes) ? static_cast<int32_t>(count - first) : Lanes;
        const double* at = x + first;
        int32_t lo[Lanes];
        int32_t hi[Lanes];
        bool held[Lanes];  // an end value held: no interval is searched
        for (int32_t l = 0; l < lanes; ++l) {
            const bool beforeStart = increasing ? (at[l] <= X[0]) : (at[l] >= X[0]);
            const bool pastEnd = increasing ? (at[l] >= X[n - 1]) : (at[l] <= X[n - 1]);
            lo[l] = 0;
            hi[l] = n - 1;
            held[l] = (beforeStart || pastEnd) && extrapolate == 0;
            if (beforeStart) {
                hi[l] = 1;
                answers[first + l] = Y[0];
            } else if (pastEnd) {
                lo[l] = n - 2;
                answers[first + l] = Y[n - 1];
            }
        }
        // Strict comparisons send x equal to X[mid] to the lower half, so an inner node of an
        // increasing table ends its interval. A NaN x keeps halving towards lo = 0.
        for (int32_t probe = 0; probe < MaxBisections; ++probe) {
            bool searching = false;
            for (int32_t l = 0; l < lanes; ++l) {
                if (hi[l] <= lo[l] + 1) continue;
                searching = true;
                const int32_t mid = lo[l] + ((hi[l] - lo[l]) / 2);  // (lo + hi) / 2 without overflow
                const bool beyond = increasing ? (at[l] > X[mid]) : (X[mid] > at[l]);
                lo[l] = beyond ? mid : lo[l];
                hi[l] = beyond ? hi[l] : mid;
            }
            if (!searching) break;
        }
        for (int32_t l = 0; l < lanes; ++l) {
            if (held[l]) continue;
            const double rise = Y[hi[l]] - Y[lo[l]];
            const double run = at[l] - X[lo[l]];
            const double width = X[hi[l]] - X[lo[l]];
            answers[first + l] = (rise * run) / width + Y[lo[l]];
        }
    }
}

double InterpolateLinear(const double* X, const double* Y, int32_t n, double x, int32_t extrapolate)
{
    double answer = 0.0;
    InterpolateLinearPoints(X, Y, n, &x, 1, extrapolate, &answer);
    return answer;
}
