// spline.h - interpolating cubic spline whose end pieces share the third derivative of the cubic
// through the four end points, so any cubic sampled at four or more points is reproduced.
// Coefficients: 3n doubles interleaved (b_i, c_i, d_i) per point; between X[i] and X[i+1] the
// spline is Y[i] + b_i t + c_i t^2 + d_i t^3 with t = x - X[i]. Point n-1 carries the last
// piece's slope, half second derivative and cubic coefficient there, so the last piece continues
// past X[n-1]; the first piece continues before X[0].
#pragma once

#include <cstdint>

// A new std::calloc'd array of 3n doubles the caller releases with std::free, or nullptr when
// n < 2, when X is not strictly increasing (a NaN anywhere in X counts as not increasing), or
// when the storage is not obtained. n = 2 gives the line, n = 3 the parabola through the points.
double* SplineCoefficients(const double* X, const double* Y, int32_t n);
// The value at x, or its order-th derivative for order 1, 2 or 3; 0.0 if n < 2. The interval
// search takes at most 32 probes and always lands on a point 0 .. n-1, NaN x included.
double SplineEvaluate(const double* X, const double* Y, int32_t n, const double* coefficients,
                      double x, int32_t order);
