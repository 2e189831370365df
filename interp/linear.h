// interp/linear.h - linear interpolation in a monotone table, bisection search.
// X and Y hold n >= 2 values; the direction comes from X[0] and X[1] alone.
// x at or past an end node: hold the end value, or extend the end interval if extrapolate != 0.
// x equal to an inner node X[k] of an increasing table falls in the interval ending at X[k].
#pragma once

#include <cstdint>

double InterpolateLinear(const double* X, const double* Y, int32_t n, double x, int32_t extrapolate);
// The same at count points: answers[i] is InterpolateLinear at x[i], bit for bit.
void InterpolateLinearPoints(const double* X, const double* Y, int32_t n, const double* x, int64_t count,
                             int32_t extrapolate, double* answers);
