// polyfit_test.cpp - least-squares fits: worked examples bit for bit, exact polynomial data, constraints met.
#include "fit/polyfit.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

uint64_t Bits(double v)
{
    uint64_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

const double LineX[] = {0, 1, 2};
const double LineY[] = {1, 3, 5};
const double NoisyX[] = {0, 1, 2, 3, 4};
const double NoisyY[] = {1.1, 2.9, 5.2, 6.8, 9.1};
const double Origin[] = {0};
const double One[] = {1};

TEST(FitPolynomial, MatchesWorkedExamplesExactly)
{
    double a[3] = {};
    ASSERT_EQ(FitPolynomial(LineX, LineY, 3, a, 2), FitOk);  // worked example
    EXPECT_EQ(Bits(a[0]), Bits(1.0));
    EXPECT_EQ(Bits(a[1]), Bits(2.0));
    ASSERT_EQ(FitPolynomial(NoisyX, NoisyY, 5, a, 2), FitOk);  // worked example
    EXPECT_EQ(Bits(a[0]), Bits(1.0400000000000025));
    EXPECT_EQ(Bits(a[1]), Bits(1.9899999999999989));
    ASSERT_EQ(FitPolynomialConstrained(NoisyX, NoisyY, 5, 2, Origin, One, 1, a), ConstrainedFitOk);  // worked example
    EXPECT_EQ(Bits(a[0]), Bits(1.0));
    EXPECT_EQ(Bits(a[1]), Bits(2.003333333333333));
}

// Powers by repeated multiplication and the documented sums, replayed in binary64 by a separate
// program (independent oracle); powers from a library pow give different bits here.
TEST(FitPolynomial, MatchesReplayedArithmeticOnUnevenData)
{
    const double X[] = {0.3, 1.7, 2.385, 3.1, 4.45, 5.9};
    const double Y[] = {1.2, 0.4, -0.35, 0.9, 2.6, 1.15};
    const double expected[] = {2.238273541603069, -3.547006325624207, 1.5109412400544437, -0.15916552703519793};
    double a[4] = {};
    ASSERT_EQ(FitPolynomial(X, Y, 6, a, 4), FitOk);
    for (int32_t j = 0; j < 4; ++j) EXPECT_EQ(Bits(a[j]), Bits(expected[j])) << "term " << j;
}

struct ExactCase { int32_t n; int32_t m; double x0; double h; double a[6]; double kappa; };
// kappa: infinity-norm condition of the normal matrix, from an independent 50-digit computation.
const ExactCase ExactCases[] = {
    {3, 3, 0.0, 1.0, {1, 2, 0}, 341},
    {10, 2, 0.0, 0.5, {2.385, -1.25}, 43},
    {9, 3, -1.0, 0.25, {2.385, -1.25, 0.615}, 16},
    {11, 4, -1.5, 0.3, {2.385, -1.25, 0.615, 0.0875}, 47},
    {13, 6, -1.0, 1.0 / 6.0, {2.385, -1.25, 0.615, 0.0875, -0.43, 0.19}, 2368},
};

// Exact data has a zero residual, so the least-squares answer is the polynomial itself.
TEST(FitPolynomial, ReturnsCoefficientsOfExactPolynomialData)
{
    for (const ExactCase& c : ExactCases) {
        double X[16], Y[16], a[6];
        for (int32_t i = 0; i < c.n; ++i) {
            X[i] = c.x0 + i * c.h;
            Y[i] = c.a[c.m - 1];
            for (int32_t j = c.m - 2; j >= 0; --j) Y[i] = Y[i] * X[i] + c.a[j];
        }
        ASSERT_EQ(FitPolynomial(X, Y, c.n, a, c.m), FitOk);
        // Forming the sums perturbs each entry by n + 1 roundings and elimination adds about 3m;
        // the forward error is kappa times that, with a factor 2 for pivot growth.
        double aMax = 0.0;
        for (int32_t j = 0; j < c.m; ++j) aMax = std::max(aMax, std::fabs(c.a[j]));
        const double tolerance = c.kappa * (2.0 * c.n + 6.0 * c.m + 4.0) * DBL_EPSILON * aMax;
        for (int32_t j = 0; j < c.m; ++j) EXPECT_NEAR(a[j], c.a[j], tolerance) << "n " << c.n << " m " << c.m;
    }
}

struct ConstrainedCase { int32_t n; int32_t m; int32_t k; };
const ConstrainedCase ConstrainedCases[] = {{5, 3, 2}, {12, 5, 3}, {30, 10, 6}};

TEST(FitPolynomialConstrained, PassesThroughEveryConstraintPoint)
{
    for (const ConstrainedCase& c : ConstrainedCases) {
        double X[32], Y[32], Xc[8], Yc[8], a[10];
        for (int32_t i = 0; i < c.n; ++i) {
            X[i] = -1.3 + 2.6 * i / (c.n - 1);
            Y[i] = std::sin(3.1 * X[i]) + 0.37 * X[i];
        }
        for (int32_t q = 0; q < c.k; ++q) {
            Xc[q] = -1.1 + 2.2 * (q + 0.5) / c.k;
            Yc[q] = std::cos(2.0 * Xc[q]);
        }
        ASSERT_EQ(FitPolynomialConstrained(X, Y, c.n, c.m, Xc, Yc, c.k, a), ConstrainedFitOk);
        // A backward-stable solve meets each equation to a few ulps of its own terms; 8 (m + k)
        // ulps of sum |a_j x^j| allows for growth in the elimination of the bordered system.
        for (int32_t q = 0; q < c.k; ++q) {
            long double p = 0.0L, scale = 0.0L, power = 1.0L;
            for (int32_t j = c.m - 1; j >= 0; --j) p = p * Xc[q] + a[j];
            for (int32_t j = 0; j < c.m; ++j, power *= Xc[q]) scale += std::fabs(power * a[j]);
            const double tolerance = 8.0 * (c.m + c.k) * DBL_EPSILON * static_cast<double>(scale);
            EXPECT_NEAR(static_cast<double>(p), Yc[q], tolerance) << "constraint " << q << " of " << c.k;
        }
    }
}

struct FailureCase { int32_t n; int32_t m; int32_t k; const double* X; const double* Xc; int32_t status; const char* source; };
const double Repeated[] = {1, 1, 1, 1, 1};
const double Twice[] = {0.5, 0.5};
const FailureCase FailureCases[] = {
    {3, 1, 0, LineX, nullptr, FitFewTerms, "guard: a constant alone is refused"},
    {2, 3, 0, LineX, nullptr, FitFewPoints, "guard: fewer points than terms"},
    {3, 2, 0, Repeated, nullptr, FitSolverFailed, "hand derivation: one distinct x, exact zero last pivot"},
    {5, 1, 1, NoisyX, Origin, ConstrainedFitFewTerms, "guard"},
    {5, 2, 0, NoisyX, Origin, ConstrainedFitNoConstraints, "guard"},
    {5, 3, 3, NoisyX, Twice, ConstrainedFitFewPoints, "worked example: 5 < 3 + 3"},
    {5, 2, INT32_MAX, NoisyX, Twice, ConstrainedFitFewPoints, "guard: m + k beyond int32 still compares"},
    {5, 3, 2, NoisyX, Twice, ConstrainedFitSolverFailed, "hand derivation: a repeated constraint row"},
    {5, 2, 3, NoisyX, NoisyX, ConstrainedFitManyConstraints, "issue 14: k = m + 1 answered noise as a fit"},
};

TEST(FitPolynomial, ReportsEachFailureSite)
{
    const double Yc[] = {2, 2};
    for (const FailureCase& c : FailureCases) {
        SCOPED_TRACE(c.source);
        double a[4] = {};
        const int32_t status = c.Xc == nullptr ? FitPolynomial(c.X, NoisyY, c.n, a, c.m)
                                               : FitPolynomialConstrained(c.X, NoisyY, c.n, c.m, c.Xc, Yc, c.k, a);
        EXPECT_EQ(status, c.status);
    }
}

}  // namespace
