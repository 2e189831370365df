// table_test.cpp - table interpolation: worked examples bit for bit, then properties on any table.
#include "interp/table.h"

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

// Row-major tables; the first column is the X axis, the first row the Y axis.
constexpr double Worked[16] = {0, 10, 20, 30, 1, 1, 2, 3, 2, 4, 5, 6, 3, 7, 8, 9};
constexpr double Block[9] = {0, 10, 20, 1, 1, 2, 3, 5, 7};
// Unsorted X axis 1, 3, 2, 4, z constant along Y: each interval gives a distinct answer.
constexpr double Unsorted[15] = {0, 10, 20, 1, 10, 10, 3, 30, 30, 2, 100, 100, 4, 1000, 1000};
// Both axes 1, 5, 1: the end nodes coincide, so a value outside both is a true tie.
constexpr double Tied[16] = {0, 1, 5, 1, 1, 11, 12, 13, 5, 21, 22, 23, 1, 31, 32, 33};
// X axis 1, 1, 3: X = 1 brackets the first interval, whose width is zero.
constexpr double Flat[16] = {0, 10, 20, 30, 1, 1, 2, 3, 1, 4, 5, 6, 3, 7, 8, 9};

struct TableCase { const double* items; int32_t R; int32_t C; double X; double Y; int32_t flag; double expected; const char* source; };
const TableCase TableCases[] = {
    {Worked, 4, 4, 1.5, 25, 0, 4.0, "worked example: inside"},
    {Worked, 4, 4, 2, 20, 0, 5.0, "worked example: on inner nodes"},
    {Worked, 4, 4, 0, 25, 0, 2.5, "worked example: X held at the first row"},
    {Worked, 4, 4, 0, 25, 1, -0.5, "worked example: X extended"},
    {Worked, 4, 4, 3.5, 35, 0, 9.0, "worked example: both held at the far corner"},
    {Worked, 4, 4, 3.5, 35, 1, 11.0, "worked example: both extended"},
    {Worked, 4, 4, 0, 0, 9, -3.0, "hand derivation: plane 3X + Y/10 - 3 from the near corner, any nonzero flag"},
    {Block, 3, 3, 2, 15, 0, 3.75, "hand derivation: bilinear inside"},
    {Block, 3, 3, 0, 15, 0, 1.5, "hand derivation: X held, Y interpolated"},
    {Block, 3, 3, 2, 5, 0, 3.0, "hand derivation: Y held, X interpolated"},
    {Block, 3, 3, 4, 25, 0, 7.0, "hand derivation: both held"},
    {Unsorted, 5, 3, 2.5, 15, 0, 25.0, "hand derivation: first bracketing interval (1, 3), not (3, 2) or (2, 4)"},
    {Tied, 4, 4, 0, 0, 0, 33.0, "hand derivation: a tie picks the last interval on both axes"},
    // Far values whose distances to both ends round equal still take the nearer end.
    {Worked, 4, 4, -1e17, 25, 0, 2.5, "hand derivation: far below the X axis holds the first row"},
    {Worked, 4, 4, -Inf, 25, 0, 2.5, "hand derivation: -inf holds the first row"},
    {Worked, 4, 4, Inf, 25, 0, 8.5, "hand derivation: +inf holds the last row"},
    {Worked, 4, 4, 2, -Inf, 0, 4.0, "hand derivation: -inf holds the first column"},
    {Flat, 4, 4, 1, 15, 0, NaN, "hand derivation: zero-width interval, 0 * 0 / 0"},
    {Worked, 4, 4, NaN, 25, 0, NaN, "hand derivation: NaN X falls back to the last interval"},
    {Worked, 4, 4, 1.5, NaN, 1, NaN, "hand derivation: NaN Y falls back to the last interval"},
};

double Plane(double X, double Y) { return ((1.73 * X) - (0.415 * Y)) + 2.385; }

}  // namespace

TEST(InterpolateTable, MatchesWorkedExamplesExactly)
{
    for (const TableCase& c : TableCases) {
        SCOPED_TRACE(c.source);
        const double got = InterpolateTable(c.items, c.R, c.C, c.X, c.Y, c.flag);
        if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(got));
        else EXPECT_EQ(Bits(got), Bits(c.expected));
    }
}

TEST(InterpolateTable, PlaneDataGiveThePlaneAndNodesTheirValues)
{
    // X axis decreasing, Y axis increasing, both unevenly spaced; a plane is bilinear.
    const double Xaxis[4] = {4.1, 2.7, 1.3, -0.35};
    const double Yaxis[5] = {-1.2, 0.4, 2.385, 3.9, 6.25};
    double items[30] = {0.0};
    for (int32_t c = 1; c < 6; ++c) items[c] = Yaxis[c - 1];
    for (int32_t r = 1; r < 5; ++r) {
        items[r * 6] = Xaxis[r - 1];
        for (int32_t c = 1; c < 6; ++c) items[r * 6 + c] = Plane(Xaxis[r - 1], Yaxis[c - 1]);
    }
    // Each axis step rounds six times (nodes, differences, product, quotient, sum), each within
    // half an epsilon of a quantity below 32 (the table's largest value, 12, times the
    // run-to-width ratio, below 2.7 here); 32 * 32 eps covers both steps.
    for (int32_t r = 1; r < 5; ++r) {
        for (int32_t c = 1; c < 6; ++c) {
            EXPECT_NEAR(InterpolateTable(items, 5, 6, Xaxis[r - 1], Yaxis[c - 1], 0), items[r * 6 + c], 1024.0 * DBL_EPSILON);
            EXPECT_NEAR(InterpolateTable(items, 5, 6, Xaxis[r - 1], Yaxis[c - 1], 1), items[r * 6 + c], 1024.0 * DBL_EPSILON);
        }
    }
    for (int32_t s = 0; s < 23 * 23; ++s) {
        const double X = -2.3 + (0.375 * (s / 23));
        const double Y = -3.1 + (0.5 * (s % 23));
        const double heldX = std::min(std::max(X, -0.35), 4.1);
        const double heldY = std::min(std::max(Y, -1.2), 6.25);
        EXPECT_NEAR(InterpolateTable(items, 5, 6, X, Y, 1), Plane(X, Y), 1024.0 * DBL_EPSILON) << X << "," << Y;
        EXPECT_NEAR(InterpolateTable(items, 5, 6, X, Y, 0), Plane(heldX, heldY), 1024.0 * DBL_EPSILON) << X << "," << Y;
    }
}

TEST(InterpolateTable, NonFiniteTableValuesStayInTheirBlock)
{
    double items[16];
    std::copy(Worked, Worked + 16, items);
    items[15] = NaN;  // z(3, 3) lies outside the block used for (1.5, 15)
    EXPECT_EQ(Bits(InterpolateTable(items, 4, 4, 1.5, 15, 0)), Bits(3.0));
    items[5] = Inf;   // z(1, 1) feeds that block: (2 - inf) * 5 / 10 + inf is -inf + inf
    EXPECT_TRUE(std::isnan(InterpolateTable(items, 4, 4, 1.5, 15, 0)));
    EXPECT_EQ(Bits(InterpolateTable(items, 4, 4, 1.5, 25, 0)), Bits(4.0));
    items[8] = NaN;   // X_2: nothing brackets 1.5 any more, and the fallback is still an interval
    items[2] = NaN;   // Y_2 as well
    EXPECT_TRUE(std::isnan(InterpolateTable(items, 4, 4, 1.5, 15, 1)));
}
