// spline_test.cpp - the spline against worked examples and against the polynomials it must reproduce.
#include "interp/spline.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

uint64_t Bits(double value) { uint64_t bits; std::memcpy(&bits, &value, sizeof bits); return bits; }

// Uniform in [lo, hi) from the top 53 bits, so the stream is the same under every library.
double Uniform(std::mt19937_64& generator, double lo, double hi)
{
    return lo + static_cast<double>(generator() >> 11) * 0x1.0p-53 * (hi - lo);
}

struct ExactCase { int32_t n; double X[5]; double Y[5]; double x; double expected; const char* source; };
constexpr ExactCase ExactCases[] = {
    {4, {0, 1, 2, 3}, {0, 1, 8, 27}, 1.5, 3.375, "worked example: x^3 reproduced"},
    {4, {0, 1, 2, 3}, {0, 1, 8, 27}, 3.0, 27.0, "hand derivation: last node, t = 0"},
    {5, {0, 1, 2, 3, 4}, {0, 1, 0, 1, 0}, 2.5, 0.3888888888888889, "worked example"},
    {5, {0, 1, 2, 3, 4}, {0, 1, 0, 1, 0}, -1.0, -7.444444444444444, "worked example: before the first node"},
    {5, {0, 1, 2, 3, 4}, {0, 1, 0, 1, 0}, 5.0, -7.444444444444444, "worked example: past the last node"},
    {5, {0, 1, 2, 3, 4}, {0, 1, 0, 1, 0}, 0.0, 0.0, "hand derivation: first node, t = 0"},
};

TEST(Spline, MatchesWorkedExamplesExactly)
{
    for (const ExactCase& c : ExactCases) {
        SCOPED_TRACE(c.source);
        double* coefficients = SplineCoefficients(c.X, c.Y, c.n);
        ASSERT_NE(coefficients, nullptr);
        EXPECT_EQ(Bits(SplineEvaluate(c.X, c.Y, c.n, coefficients, c.x, 0)), Bits(c.expected));
        std::free(coefficients);
    }
}

// Two points give their line, three their parabola, four or more any cubic, with its derivatives,
// inside, at a node and up to one width outside. Rounding in the node values and the solve
// reaches the answer through a bounded combination (widths 0.5 to 1.5), measured under 5 ulps of
// the polynomial's size sum |C_k| R^k; each derivative divides by a width >= 0.5, hence 2^order.
TEST(Spline, ReproducesSampledPolynomialsAndTheirDerivatives)
{
    std::mt19937_64 generator(385);
    for (int32_t trial = 0; trial < 4000; ++trial) {
        const int32_t n = 2 + static_cast<int32_t>(generator() % 15);
        double X[16], Y[16], C[4] = {};
        for (int32_t k = 0; k < 4 && k < n; ++k) C[k] = Uniform(generator, -3.7, 3.7);
        X[0] = Uniform(generator, -5.0, 5.0);
        for (int32_t k = 1; k < n; ++k) X[k] = X[k - 1] + Uniform(generator, 0.5, 1.5);
        for (int32_t k = 0; k < n; ++k) Y[k] = static_cast<double>(((C[3] * static_cast<long double>(X[k]) + C[2]) * X[k] + C[1]) * X[k] + C[0]);
        const double node = X[generator() % static_cast<uint64_t>(n)];
        const double inside = Uniform(generator, X[0] - 1.0, X[n - 1] + 1.0);
        const double R = std::fmax(std::fabs(X[0] - 1.0), std::fabs(X[n - 1] + 1.0));
        const double size = ((std::fabs(C[3]) * R + std::fabs(C[2])) * R + std::fabs(C[1])) * R + std::fabs(C[0]);

        double* coefficients = SplineCoefficients(X, Y, n);
        ASSERT_NE(coefficients, nullptr);
        for (const double x : {node, inside}) {
            const long double t = x;
            const long double expected[4] = {((C[3] * t + C[2]) * t + C[1]) * t + C[0],
                                             (3.0L * C[3] * t + 2.0L * C[2]) * t + C[1],
                                             6.0L * C[3] * t + 2.0L * C[2], 6.0L * C[3]};
            for (int32_t order = 0; order <= 3; ++order) {
                EXPECT_NEAR(SplineEvaluate(X, Y, n, coefficients, x, order), static_cast<double>(expected[order]),
                            64.0 * DBL_EPSILON * size * std::ldexp(1.0, order)) << "trial " << trial << " order " << order;
            }
        }
        std::free(coefficients);
    }
}

struct RejectCase { int32_t n; double X[4]; const char* source; };
const RejectCase RejectCases[] = {
    {4, {0.0, 1.0, 1.0, 2.0}, "hand derivation: a repeated x"},
    {4, {3.0, 2.0, 1.0, 0.0}, "hand derivation: decreasing x"},
    {4, {0.0, 1.0, NAN, 3.0}, "guard: NaN compares neither way, so it cannot increase"},
    {1, {0.0, 1.0, 2.0, 3.0}, "guard: one point makes no spline"},
};

TEST(Spline, RejectsTablesThatDoNotStrictlyIncrease)
{
    const double Y[4] = {1.0, 2.0, 3.0, 4.0};
    for (const RejectCase& c : RejectCases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(SplineCoefficients(c.X, Y, c.n), nullptr);
    }
}

// Run under AddressSanitizer in CI: the tables are exactly n long, so a stray index would show.
TEST(Spline, NonFiniteInputsStayInsideTheTable)
{
    for (const int32_t n : {2, 5, 1000003}) {
        std::vector<double> X(static_cast<std::size_t>(n)), Y(X.size());
        for (std::size_t k = 0; k < X.size(); ++k) { X[k] = 0.25 * static_cast<double>(k); Y[k] = std::sin(X[k]); }
        double* coefficients = SplineCoefficients(X.data(), Y.data(), n);
        ASSERT_NE(coefficients, nullptr);
        EXPECT_TRUE(std::isnan(SplineEvaluate(X.data(), Y.data(), n, coefficients, NAN, 0)));
        EXPECT_FALSE(std::isfinite(SplineEvaluate(X.data(), Y.data(), n, coefficients, INFINITY, 0)));
        EXPECT_FALSE(std::isfinite(SplineEvaluate(X.data(), Y.data(), n, coefficients, -INFINITY, 1)));
        std::free(coefficients);
    }
    const double X[5] = {0.0, 1.0, 2.0, 3.0, INFINITY};  // increasing, so answered rather than refused
    const double Y[5] = {0.0, NAN, 1.0, 2.0, 3.0};
    double* coefficients = SplineCoefficients(X, Y, 5);
    ASSERT_NE(coefficients, nullptr);
    EXPECT_TRUE(std::isnan(SplineEvaluate(X, Y, 5, coefficients, 1.5, 0)));
    std::free(coefficients);
}

}  // namespace
