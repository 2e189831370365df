// call_buffers_test.cpp - the rules answer calls on several threads at once when each has buffers of its own.
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rules/functions.h"

namespace {

// A call's ranges as plain arrays, read the way every door's reader fills a buffer.
struct ArrayCall {
    std::vector<const std::vector<double>*> ranges;
};

int32_t ReadArray(void* arguments, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit,
                  void* context)
{
    const std::vector<double>& values = *static_cast<ArrayCall*>(arguments)->ranges[static_cast<size_t>(index)];
    const int32_t count = static_cast<int32_t>(values.size());
    if (!GrowRangeBuffer(buffer, count)) return ReadNoStorage;
    std::memcpy(buffer->items, values.data(), values.size() * sizeof(double));
    if (zeroCorner) buffer->items[0] = 0.0;
    buffer->count = count;
    buffer->rows = count;
    buffer->columns = 1;
    if (visit != nullptr) visit(buffer->items, count, context);
    return count;
}

// Every range-reading family once: its answers, one after another, through buffers of the call's own.
std::vector<double> AnswerEach(const std::vector<double>& X, const std::vector<double>& Y, CallBuffers* own)
{
    ArrayCall call{{&X, &Y, &X, &Y}};
    const RangeArguments ranges{ReadArray, &call, BuffersOf(own)};
    std::vector<double> answers(8 + MaxTerms, 0.0);
    const double at[] = {0.37, 2.9, 5.5};
    EXPECT_EQ(AnswerSplinePoints(ranges, at, 3, answers.data()), RuleOk);
    EXPECT_EQ(AnswerInterp1Points(ranges, at, 3, 1, answers.data() + 3), RuleOk);
    EXPECT_EQ(AnswerCountBetween(ranges, 1.0, 4.0, answers.data() + 6), RuleOk);
    EXPECT_EQ(AnswerLLSQ(ranges, 3, answers.data() + 8), RuleOk);
    return answers;
}

TEST(CallBuffers, ThreadsAnsweringAtOnceGiveTheOneThreadBits)
{
    // Two tables of different lengths and values, long enough for the threads' reads to overlap, so
    // that a buffer shared between them shows as counts differing or the other table's values.
    std::vector<double> X1, Y1, X2, Y2;
    for (int i = 0; i < 3000; ++i) X1.push_back(0.002 * i), Y1.push_back((i % 7) * 0.375);
    for (int i = 0; i < 4000; ++i) X2.push_back(0.0017 * i), Y2.push_back((i % 5) * -0.625);
    CallBuffers first = {}, second = {};
    const std::vector<double> expected1 = AnswerEach(X1, Y1, &first), expected2 = AnswerEach(X2, Y2, &second);
    std::vector<std::vector<double>> seen1, seen2;
    std::thread other([&] { for (int i = 0; i < 200; ++i) seen2.push_back(AnswerEach(X2, Y2, &second)); });
    for (int i = 0; i < 200; ++i) seen1.push_back(AnswerEach(X1, Y1, &first));
    other.join();
    for (const std::vector<double>& seen : seen1) ASSERT_EQ(std::memcmp(seen.data(), expected1.data(), seen.size() * 8), 0);
    for (const std::vector<double>& seen : seen2) ASSERT_EQ(std::memcmp(seen.data(), expected2.data(), seen.size() * 8), 0);
    ReleaseCallBuffers(&first);
    ReleaseCallBuffers(&second);
    EXPECT_EQ(first.x.items, nullptr);
}

}  // namespace
