// plain_readings.h - the solver, the fit and the spline construction read step by step: one rounded
// operation per step, in the order the algorithm is written, nothing rearranged or fused, so that the
// tuned cores and the worksheet functions can be held to them bit for bit.
// Matrices are n x n, row-major. A pivot below 2^-126 (the smallest normal float) stops the solve.
#pragma once

#include <cstdint>
#include <vector>

namespace quorin_test {

// Complete pivoting on A; b becomes the solution. False where a pivot falls below 2^-126.
bool ReadSolve(std::vector<double>& A, std::vector<double>& b, int32_t n);

// The m-term fit through (X, Y), bordered by the constraints (Xc, Yc), every sum formed point by point;
// row grows to at least m values and ends as the coefficients, or on false (the solve failed) as the
// last basis row built, the way the core leaves its scratch row. No checks of m or the counts.
bool ReadFit(const std::vector<double>& X, const std::vector<double>& Y, int32_t m, const std::vector<double>& Xc,
             const std::vector<double>& Yc, std::vector<double>* row);

// The cubic spline's (b, c, d) for each of the n >= 2 nodes, node after node, as the core lays them out;
// the end conditions match the end cubics' third derivatives from n = 4 on. X strictly increasing.
std::vector<double> ReadSplineCoefficients(const std::vector<double>& X, const std::vector<double>& Y);

// Linear interpolation with one bisection per point, probe by probe; the end rules as the core's header.
double ReadInterpolateLinear(const std::vector<double>& X, const std::vector<double>& Y, double x, bool extrapolate);

// C[0] + C[1] x + ... nested from the last coefficient down, one product and one sum a step.
double ReadPolynomial(const std::vector<double>& C, double x);

}  // namespace quorin_test
