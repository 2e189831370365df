// stats_entries_test.cpp - CountBetween, RandNorm and RandDist as a sheet calls them.
#include <thread>
#include <vector>

#include "module_fixture.h"

namespace quorin_test {
namespace {

using StatsEntriesTest = ModuleTest;

TEST_F(StatsEntriesTest, CountBetweenCountsTheHalfOpenInterval)
{
    const Value values = Value::Array(2, 3, {Value::Number(1), Value::Number(2), Value::Number(2.5),
                                             Value::Number(3), Value::Number(-1), Value::Number(3)});
    const struct { double low, high, expected; const char* source; } cases[] = {
        {2, 3, 2, "low included, high excluded"},
        {-1, 3.0000000000000004, 6, "everything"},
        {3, 3, 0, "empty interval"},
        {4, 1, 0, "low above high"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(Number("CountBetween", {values, Value::Number(c.low), Value::Number(c.high)}), c.expected);
    }
}

// The count is taken block by block during the read (issue 14): each block counted once, and a
// non-number in the last block still fails the call after the earlier blocks were counted.
TEST_F(StatsEntriesTest, CountBetweenCountsEveryBlockOfALongRangeOnce)
{
    std::vector<Value> numbers;
    for (int32_t k = 0; k < 3000; ++k) numbers.push_back(Value::Number(k));
    EXPECT_EQ(Number("CountBetween", {Value::Array(3000, 1, numbers), Value::Number(1000), Value::Number(2500)}), 1500);
    numbers[2999] = Value::Text("x");
    EXPECT_TRUE(IsFailure(Call("CountBetween", {Value::Array(3000, 1, numbers), Value::Number(0), Value::Number(9)})));
}

TEST_F(StatsEntriesTest, CountBetweenFailsOnAnEmptyCellOrANonRange)
{
    host.sheet.Set(0, 0, Value::Number(1));
    host.sheet.Set(2, 0, Value::Number(3));
    EXPECT_TRUE(IsFailure(Call("CountBetween", {Value::Reference({{0, 2, 0, 0}}), Value::Number(0), Value::Number(9)})));
    EXPECT_TRUE(IsFailure(Call("CountBetween", {Value::Number(1), Value::Number(0), Value::Number(9)})));
}

// Runs body on a thread of its own, where the generator starts from its first state.
template <typename Body>
void OnFreshThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

TEST_F(StatsEntriesTest, RandNormFollowsTheSequenceFromTheFirstState)
{
    const double expected[] = {0.0800856552832625, -0.35499130222479935, -0.16741945656707458, 0.21185440636412656,
                               0.18715984577979872};
    for (int run = 0; run < 2; ++run) {
        OnFreshThread([&] {
            for (double e : expected) EXPECT_SAME_DOUBLE(Number("RandNorm", {}), e);
        });
    }
}

TEST_F(StatsEntriesTest, RandDistSharesTheGeneratorAndScales)
{
    OnFreshThread([&] {
        const double expected[] = {10.961027863399153, 5.740104373302408, 7.990966521195105};
        for (double e : expected) EXPECT_SAME_DOUBLE(Number("RandDist", {Value::Number(10), Value::Number(2)}), e);
    });
    OnFreshThread([&] {
        EXPECT_SAME_DOUBLE(Number("RandDist", {Value::Number(10), Value::Number(0)}), 10.0);
        EXPECT_SAME_DOUBLE(Number("RandNorm", {}), -0.35499130222479935) << "twelve draws consumed";
    });
}

}  // namespace
}  // namespace quorin_test
