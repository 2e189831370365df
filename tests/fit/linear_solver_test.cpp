// linear_solver_test.cpp - complete pivoting: worked examples bit for bit, a long double oracle, non-finite input.
#include "fit/linear_solver.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

uint64_t Bits(double v)
{
    uint64_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

struct SolveCase { int32_t n; double A[16]; double b[4]; int32_t status; double x[4]; const char* source; };
const SolveCase SolveCases[] = {
    {3, {3, 0, 0, 0, 5, 0, 0, 0, 4}, {6, 10, 8}, SolveOk, {2, 2, 2}, "worked example: pivots 5 then 4"},
    {3, {3, 0, 0, 0, 5, 0, 0, 0, 4}, {3, 15, 8}, SolveOk, {1, 3, 2}, "hand derivation: distinct unknowns expose the column order"},
    {2, {1, 3, 3, 1}, {2.385, 1.7}, SolveOk, {0.33937500000000004, 0.6818749999999999},
     "hand derivation: tie between (0,1) and (1,0), (0,1) first in row-major order"},
    {2, {3, 3, 1, 2}, {2.385, 1.7}, SolveOk, {-0.11000000000000003, 0.90500000000000003},
     "hand derivation: A[0][1] only ties A[0][0], which stays the pivot"},
    {4, {-1.992, -2.297, -2.646, 1.609, -2.224, -1.514, -0.654, 2.229, -2.517, -0.305, 0.297, 2.3, 1.916, 2.184, -1.329, -0.508},
     {-0.847, 2.305, 2.746, -2.094}, SolveOk, {0.9351456285195129, -0.5362266752285803, 1.2857041637565885, 1.9801557714796478},
     "independent oracle: the elimination replayed in binary64 by a separate program; sums in any other order differ"},
    {3, {1, 2, 3, 1, 2, 3, 4, 5, 6}, {1, 2, 3}, SolveZeroLastPivot, {}, "worked example: two equal rows"},
    {3, {1, 2, 3, 2, 4, 6, 3, 6, 9}, {1, 2, 3}, SolveZeroPivot, {}, "hand derivation: rank one, block vanishes at k = 1"},
    {3, {1, 0, 0, 0, 1, 0, 0, 0, 0x1p-127}, {1, 1, 1}, SolveZeroLastPivot, {}, "hand derivation: subnormal last pivot"},
    {2, {0x1p-126, 0, 0, 0x1p-126}, {0x1p-126, 0x1p-125}, SolveOk, {1, 2}, "hand derivation: the threshold itself is a pivot"},
    {1, {2}, {6}, SolveOk, {3}, "worked example"},
    {1, {0}, {6}, SolveZeroScalar, {}, "worked example"},
    {0, {}, {}, SolveEmpty, {}, "guard: empty system"},
};

TEST(SolveLinearSystem, MatchesWorkedExamplesExactly)
{
    for (const SolveCase& c : SolveCases) {
        SCOPED_TRACE(c.source);
        SolveCase work = c;
        ASSERT_EQ(SolveLinearSystem(work.A, work.b, c.n), c.status);
        for (int32_t i = 0; c.status == SolveOk && i < c.n; ++i) EXPECT_EQ(Bits(work.b[i]), Bits(c.x[i]));
    }
}

// splitmix64: the same sequence on every platform, unlike the standard distributions.
double NextUniform(uint64_t* state)
{
    uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z = z ^ (z >> 31);
    return static_cast<double>(z >> 11) * 0x1p-52 - 1.0;  // in [-1, 1)
}

// Rows are strictly diagonally dominant by a margin of at least 1 (diagonal n + 1 + u, n - 1
// off-diagonal entries in [-1, 1)), so ||A^-1||inf <= 1 and ||A||inf <= 2n + 1: kappa <= 2n + 1.
// Rows and columns are then shuffled so that complete pivoting has to swap both.
TEST(SolveLinearSystem, RecoversChosenSolutionOfShuffledDominantSystems)
{
    uint64_t state = 2385;
    for (int32_t n : {2, 3, 5, 8, 13, 21, 34, 40}) {
        std::vector<double> D(static_cast<size_t>(n * n)), A(D.size()), b(static_cast<size_t>(n)), x(b.size());
        std::vector<int32_t> rowOf(b.size()), colOf(b.size());
        for (int32_t i = 0; i < n; ++i) {
            rowOf[i] = i;
            colOf[i] = i;
            x[i] = 3.7 * NextUniform(&state);
            for (int32_t c = 0; c < n; ++c) D[i * n + c] = NextUniform(&state) + (i == c ? n + 1.0 : 0.0);
        }
        for (int32_t i = n - 1; i > 0; --i) {
            std::swap(rowOf[i], rowOf[static_cast<int32_t>((NextUniform(&state) + 1.0) * 0.5 * (i + 1))]);
            std::swap(colOf[i], colOf[static_cast<int32_t>((NextUniform(&state) + 1.0) * 0.5 * (i + 1))]);
        }
        for (int32_t r = 0; r < n; ++r) {
            long double sum = 0.0L;
            for (int32_t c = 0; c < n; ++c) {
                A[r * n + c] = D[rowOf[r] * n + colOf[c]];
                sum += static_cast<long double>(A[r * n + c]) * x[colOf[c]];
            }
            b[r] = static_cast<double>(sum);
        }
        ASSERT_EQ(SolveLinearSystem(A.data(), b.data(), n), SolveOk);
        // Forward error <= kappa * backward error; elimination on a dominant matrix has growth
        // below 2 and a backward error of a few n ulps, so 8n ulps covers it and the rounding of b.
        double xMax = 0.0;
        for (double v : x) xMax = std::max(xMax, std::fabs(v));
        const double tolerance = 8.0 * n * (2.0 * n + 1.0) * DBL_EPSILON * xMax;
        for (int32_t c = 0; c < n; ++c) EXPECT_NEAR(b[c], x[colOf[c]], tolerance) << "n = " << n;
    }
}

// A NaN never wins a comparison, so the search must still keep every index inside the block.
TEST(SolveLinearSystem, NonFiniteEntriesReturnWithoutStrayingOutOfBounds)
{
    for (double bad : {NAN, INFINITY, -INFINITY}) {
        for (int32_t p = 0; p < 9; ++p) {
            double A[9] = {2.385, 1, 0.5, -1, 3.1, 0.25, 0.75, -0.5, 1.9};
            double b[3] = {1, 2, 3};
            A[p] = bad;
            const int32_t status = SolveLinearSystem(A, b, 3);
            EXPECT_TRUE(status == SolveOk || status == SolveZeroPivot || status == SolveZeroLastPivot);
            if (std::isnan(bad)) {
                EXPECT_EQ(status, SolveOk);
                for (double v : b) EXPECT_TRUE(std::isnan(v)) << "NaN at " << p;
            }
        }
    }
}

}  // namespace
