// lagrange.cpp - Lagrange form and Horner's rule, each quotient and product one rounded step.
#include "interp/lagrange.h"

double InterpolateLagrange(const double* X, const double* Y, int32_t n, double x)
{
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        double c = Y[i];
        for (int32_t j = 0; j < n; ++j) {
            if (j == i) continue;
            // The quotient is rounded before it scales the running term, never the product of
            // numerators over the product of denominators.
            const double numerator = x - X[j];
            const double denominator = X[i] - X[j];
            const double factor = numerator / denominator;
            c = c * factor;
        }
        sum = sum + c;
    }
    return sum;
}

double EvaluatePolynomial(const double* C, int32_t n, double x)
{
    if (n < 1) return 0.0;
    double b = C[n - 1];
    for (int32_t i = n - 2; i >= 0; --i) {
        const double scaled = b * x;
        b = scaled + C[i];
    }
    return b;
}
