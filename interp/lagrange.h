// lagrange.h - the polynomial through given points in Lagrange form, and a polynomial from its
// coefficients by Horner's rule. Both take plain arrays of n values and return the value at x.
// Repeated x values in InterpolateLagrange divide by zero; the non-finite value is the answer.
// C[0] is the constant term; an empty polynomial (n < 1) is 0.0 everywhere.
#pragma once

#include <cstdint>

// Sum over i of Y[i] times the product over j != i of (x - X[j]) / (X[i] - X[j]); 0.0 if n < 1.
double InterpolateLagrange(const double* X, const double* Y, int32_t n, double x);
// C[0] + C[1] x + ... + C[n-1] x^(n-1), nested from C[n-1] down; 0.0 if n < 1.
double EvaluatePolynomial(const double* C, int32_t n, double x);
// The same at count points: answers[i] is EvaluatePolynomial at x[i], bit for bit.
void EvaluatePolynomialPoints(const double* C, int32_t n, const double* x, int64_t count, double* answers);
