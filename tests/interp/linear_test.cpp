// linear_test.cpp - linear interpolation: worked examples bit for bit, then properties on any table.
#include "interp/linear.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

uint64_t Bits(double value) { uint64_t bits = 0; std::memcpy(&bits, &value, sizeof bits); return bits; }

struct LinearCase { double X[4]; double Y[4]; int32_t n; double x; int32_t flag; double expected; const char* source; };
constexpr LinearCase LinearCases[] = {
    {{1, 2, 4}, {10, 20, 40}, 3, 3.0, 0, 30.0, "worked example: inside"},
    {{1, 2, 4}, {10, 20, 40}, 3, 0.0, 0, 10.0, "worked example: held start"},
    {{1, 2, 4}, {10, 20, 40}, 3, 0.0, 1, 0.0, "worked example: extended start"},
    {{1, 2, 4}, {10, 20, 40}, 3, 5.0, 0, 40.0, "worked example: held end"},
    {{1, 2, 4}, {10, 20, 40}, 3, 5.0, -7, 50.0, "worked example: any nonzero flag extends the end"},
    {{5, 3, 1}, {10, 30, 50}, 3, 2.0, 0, 40.0, "worked example: decreasing, inside"},
    {{5, 3, 1}, {10, 30, 50}, 3, 6.0, 0, 10.0, "worked example: decreasing, held start"},
    {{5, 3, 1}, {10, 30, 50}, 3, 6.0, 1, 0.0, "worked example: decreasing, extended start"},
    {{5, 3, 1}, {10, 30, 50}, 3, 0.0, 1, 60.0, "hand derivation: decreasing, extended end"},
    {{1, 2, 4}, {10, 20, 60}, 3, 5.0, 1, 80.0, "hand derivation: the end piece's slope 20, not the first's"},
    {{1, 2, 4}, {10, 20, 60}, 3, 0.0, 1, 0.0, "hand derivation: the start piece's slope 10, not the last's"},
    // The duplicated node 2 tells the intervals apart: ending there gives 20, starting there 99.
    {{1, 2, 2, 3}, {10, 20, 99, 40}, 4, 2.0, 0, 20.0, "hand derivation: inner node ends its interval"},
    {{3, 2, 2, 1}, {10, 20, 99, 40}, 4, 2.0, 0, 20.0, "hand derivation: same rule when decreasing"},
    {{2, 2, 1}, {10, 20, 40}, 3, 3.0, 0, 10.0, "hand derivation: X[1] == X[0] is decreasing (held start)"},
    {{1, 1}, {10, 20}, 2, 0.0, 1, -Inf, "hand derivation: zero-width interval, -10 / 0 + 10"},
    {{1, 2, 4}, {10, 20, 40}, 3, -Inf, 0, 10.0, "hand derivation: -inf holds the start"},
    {{1, 2, 4}, {10, 20, 40}, 3, Inf, 1, Inf, "hand derivation: +inf extends to +inf"},
    {{1, Inf, 4}, {10, 20, 40}, 3, 1.5, 0, 10.0, "hand derivation: infinite width, 5 / inf + 10"},
};

}  // namespace

TEST(InterpolateLinear, MatchesWorkedExamplesExactly)
{
    for (const LinearCase& c : LinearCases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(Bits(InterpolateLinear(c.X, c.Y, c.n, c.x, c.flag)), Bits(c.expected));
    }
}

TEST(InterpolateLinear, NodesGiveTheirValuesAndLinesStayLines)
{
    // Rows: increasing and decreasing x; y on the line 2.385 x - 0.731 in the last two.
    const double X[2][5] = {{-2.7, -0.35, 0.415, 1.9, 3.68}, {3.68, 1.9, 0.415, -0.35, -2.7}};
    const double Y[2][5] = {{4.913, -0.27, 1.618, 3.3, -2.05}, {-2.05, 3.3, 1.618, -0.27, 4.913}};
    double L[2][5];
    for (int32_t t = 0; t < 2; ++t) for (int32_t k = 0; k < 5; ++k) L[t][k] = (2.385 * X[t][k]) - 0.731;
    for (int32_t t = 0; t < 2; ++t) {
        // At a node: (rise * w) / w + Y[k-1] rounds four times, each within half an epsilon of
        // at most 5, the largest |Y|: 4 * 5 eps covers it.
        for (int32_t k = 0; k < 5; ++k) {
            EXPECT_NEAR(InterpolateLinear(X[t], Y[t], 5, X[t][k], 0), Y[t][k], 20.0 * DBL_EPSILON) << k;
            EXPECT_NEAR(InterpolateLinear(X[t], Y[t], 5, X[t][k], 1), Y[t][k], 20.0 * DBL_EPSILON) << k;
        }
        // On the line, from -6.3 to 7.4: the six roundings (nodes, differences, product,
        // quotient, sum) each stay within half an epsilon of a quantity below 16 times the
        // run-to-width ratio (at most 2.2 here): 32 * 16 eps covers them.
        for (int32_t step = 0; step < 74; ++step) {
            const double x = -6.3 + (0.1875 * step);
            const double held = std::min(std::max(x, -2.7), 3.68);
            EXPECT_NEAR(InterpolateLinear(X[t], L[t], 5, x, 1), (2.385 * x) - 0.731, 512.0 * DBL_EPSILON) << x;
            EXPECT_NEAR(InterpolateLinear(X[t], L[t], 5, x, 0), (2.385 * held) - 0.731, 512.0 * DBL_EPSILON) << x;
        }
    }
}

TEST(InterpolateLinear, NaNInputsReturnNaNWithoutHanging)
{
    double X[6] = {0.0, 0.5, 1.0, 1.5, 2.0, 2.5};
    double Y[6] = {0.0, 2.385, 4.77, 7.155, NaN, 11.925};
    EXPECT_TRUE(std::isnan(InterpolateLinear(X, Y, 6, NaN, 0)));
    EXPECT_TRUE(std::isnan(InterpolateLinear(X, Y, 6, 1.75, 0)));  // interval (1.5, 2) holds the NaN
    EXPECT_EQ(Bits(InterpolateLinear(X, Y, 6, 1.0, 0)), Bits(4.77));  // other intervals unaffected
    X[1] = NaN;  // the table now counts as decreasing, and 2.25 as a held start
    EXPECT_EQ(Bits(InterpolateLinear(X, Y, 6, 2.25, 0)), Bits(0.0));
    EXPECT_TRUE(std::isnan(InterpolateLinear(X, Y, 6, 2.25, 1)));
}
