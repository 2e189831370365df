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

// Points nested side by side, so that their chains of multiplications and additions overlap; each
// point's steps are exactly those of its own nesting.
static constexpr int32_t Lanes = 8;

void EvaluatePolynomialPoints(const double* C, int32_t n, const double* x, int64_t count, double* answers)
{
    for (int64_t first = 0; first < count; first += Lanes) {
        const int32_t lanes = (count - first < Lanes) ? static_cast<int32_t>(count - first) : Lanes;
        double b[Lanes];
        for (int32_t l = 0; l < lanes; ++l) b[l] = (n < 1) ? 0.0 : C[n - 1];
        for (int32_t i = n - 2; i >= 0; --i) {
            for (int32_t l = 0; l < lanes; ++l) {
                const double scaled = b[l] * x[first + l];
                b[l] = scaled + C[i];
            }
        }
        for (int32_t l = 0; l < lanes; ++l) answers[first + l] = b[l];
    }
}

double EvaluatePolynomial(const double* C, int32_t n, double x)
{
    double answer = 0.0;
    EvaluatePolynomialPoints(C, n, &x, 1, &answer);
    return answer;
}
