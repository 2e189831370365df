// count_test.cpp - the half-open interval count, including its boundaries and non-finite values.
#include "stats/count.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Values[] = {2.385, 1.0, 4.0, 4.0, -0.5, NaN, 3.999, Inf, -Inf};

struct CountCase { int32_t n; double low; double high; int32_t expected; const char* source; };
constexpr CountCase CountCases[] = {
    {9, 1.0,  4.0,   3, "hand count: low included (1.0), high excluded (both 4.0)"},
    {9, 1.0,  4.001, 5, "hand count: just above the duplicated 4.0 takes both"},
    {9, 4.0,  4.0,   0, "hand count: empty interval when low == high"},
    {9, 4.0,  1.0,   0, "hand count: reversed bounds count nothing"},
    {9, -Inf, Inf,   7, "hand count: -inf counted, +inf excluded, NaN never"},
    {9, NaN,  Inf,   0, "hand count: a NaN bound admits nothing"},
    {2, 1.0,  5.0,   2, "hand count: values past n are not read"},
    {0, -Inf, Inf,   0, "hand count: no values"},
};

}  // namespace

TEST(CountInInterval, CountsHalfOpenInterval)
{
    for (const CountCase& c : CountCases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(CountInInterval(Values, c.n, c.low, c.high), c.expected);
    }
}
