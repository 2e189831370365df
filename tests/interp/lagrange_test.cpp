// lagrange_test.cpp - Lagrange form and Horner's rule against worked examples and a long double oracle.
#include "interp/lagrange.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

namespace {

uint64_t Bits(double value) { uint64_t bits; std::memcpy(&bits, &value, sizeof bits); return bits; }

// Uniform in [lo, hi) from the top 53 bits, so the stream is the same under every library.
double Uniform(std::mt19937_64& generator, double lo, double hi)
{
    return lo + static_cast<double>(generator() >> 11) * 0x1.0p-53 * (hi - lo);
}

struct ExactCase { bool lagrange; double X[3]; double Y[3]; int32_t n; double x; double expected; const char* source; };
constexpr ExactCase ExactCases[] = {  // Horner rows hold the coefficients in X
    {true, {0, 1, 2}, {1, 3, 7}, 3, 3.0, 13.0, "worked example: x^2 + x + 1 at 3"},
    {true, {-1.5, 2.5}, {4, -4}, 2, 0.5, 0.0, "hand derivation: the line's two halves cancel"},
    {false, {1, 2, 3}, {}, 3, 2.0, 17.0, "worked example: 1 + 2x + 3x^2 at 2"},
    {false, {2.385}, {}, 1, NAN, 2.385, "worked example: one coefficient is that constant for every x"},
    {false, {}, {}, 0, 3.0, 0.0, "guard: the empty polynomial is zero"},
};

TEST(Lagrange, MatchesWorkedExamplesExactly)
{
    for (const ExactCase& c : ExactCases) {
        SCOPED_TRACE(c.source);
        const double got = c.lagrange ? InterpolateLagrange(c.X, c.Y, c.n, c.x) : EvaluatePolynomial(c.X, c.n, c.x);
        EXPECT_EQ(Bits(got), Bits(c.expected));  // fixed order: exact on purpose
    }
    const double repeated[] = {0.0, 1.0, 1.0};
    EXPECT_FALSE(std::isfinite(InterpolateLagrange(repeated, repeated, 3, 0.5)));  // answered, not trapped
}

// Lagrange: each term takes 4(n-1) roundings (two differences, quotient, product per factor), the
// sum n-1 more, each sampled y one, so 8n ulps of sum |term| bounds it. Horner: 2(n-1) roundings
// bounded by sum |C_k x^k|, so 4n ulps of that. Both with room for the oracle's own rounding.
TEST(Lagrange, AgreesWithHornerOnSampledPolynomials)
{
    std::mt19937_64 generator(20240611);
    for (int32_t trial = 0; trial < 2000; ++trial) {
        const int32_t n = 2 + static_cast<int32_t>(generator() % 9);
        const int32_t terms = 1 + static_cast<int32_t>(generator() % static_cast<uint64_t>(n));
        double X[10], Y[10], C[10];
        for (int32_t k = 0; k < terms; ++k) C[k] = Uniform(generator, -3.7, 3.7);
        for (int32_t k = 0; k < n; ++k) X[k] = k + Uniform(generator, -0.3, 0.3);
        const double x = Uniform(generator, -0.5, n - 0.5);
        long double at[11] = {}, size = 0.0L;  // the polynomial at X[0..n-1] and at x
        for (int32_t k = 0; k <= n; ++k) {
            const long double t = k < n ? X[k] : x;
            for (int32_t i = terms - 1; i >= 0; --i) at[k] = at[k] * t + C[i];
            if (k < n) Y[k] = static_cast<double>(at[k]);
        }
        long double termSize = 0.0L;
        for (int32_t i = 0; i < n; ++i) {
            long double term = Y[i];
            for (int32_t j = 0; j < n; ++j) term *= j == i ? 1.0L : (x - static_cast<long double>(X[j])) / (X[i] - static_cast<long double>(X[j]));
            termSize += std::fabs(term);
        }
        for (int32_t i = terms - 1; i >= 0; --i) size = size * std::fabs(x) + std::fabs(C[i]);
        const double expected = static_cast<double>(at[n]);
        EXPECT_NEAR(InterpolateLagrange(X, Y, n, x), expected, 8.0 * n * DBL_EPSILON * static_cast<double>(termSize));
        EXPECT_NEAR(EvaluatePolynomial(C, terms, x), expected, 4.0 * terms * DBL_EPSILON * static_cast<double>(size));
    }
}

}  // namespace
