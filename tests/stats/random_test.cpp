// random_test.cpp - generator sequences, each run on a fresh thread so that it starts from state 1.
#include "stats/random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

namespace {

uint64_t Bits(double value) { uint64_t bits = 0; std::memcpy(&bits, &value, sizeof bits); return bits; }

// Runs body on a new thread, whose generator state starts at 1 whatever ran before.
template <typename Body> void RunOnFreshThread(Body body) { std::thread worker(body); worker.join(); }

// From state 1: the worked example's twelve draws, then the 13th from an independent oracle
// (the congruence evaluated in arbitrary-precision integers).
constexpr int32_t FirstDraws[13] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464, 5705, 28145, 23281};

}  // namespace

TEST(UniformDraw, EachThreadStartsItsOwnSequenceFromStateOne)
{
    RunOnFreshThread([] {
        for (int32_t k = 0; k < 12; ++k) EXPECT_EQ(UniformDraw(), FirstDraws[k]) << k;
        int32_t otherFirst = -1;
        RunOnFreshThread([&] { otherFirst = UniformDraw(); });
        EXPECT_EQ(otherFirst, FirstDraws[0]);
        EXPECT_EQ(UniformDraw(), FirstDraws[12]);  // this thread's state was not disturbed
    });
}

TEST(DrawNormalUnit, MatchesWorkedExampleExactly)
{
    constexpr double Expected[5] = {0.0800856552832625, -0.35499130222479935, -0.16741945656707458,
                                    0.21185440636412656, 0.18715984577979872};
    RunOnFreshThread([] { EXPECT_EQ(NormalSum12(), 212347); });  // worked example
    RunOnFreshThread([&] {
        for (int32_t k = 0; k < 5; ++k) EXPECT_EQ(Bits(DrawNormalUnit()), Bits(Expected[k])) << k;
    });
}

TEST(DrawNormal, MatchesWorkedExampleAndSharesTheGenerator)
{
    constexpr double Expected[3] = {10.961027863399153, 5.740104373302408, 7.990966521195105};
    RunOnFreshThread([&] {
        for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(Bits(DrawNormal(10.0, 2.0)), Bits(Expected[k])) << k;
    });
    RunOnFreshThread([&] {
        EXPECT_EQ(Bits(DrawNormal(10.0, 0.0)), Bits(10.0));  // zero spread, yet twelve draws taken
        EXPECT_EQ(Bits(DrawNormalUnit()), Bits(-0.35499130222479935));  // second worked value
        EXPECT_EQ(Bits(DrawNormal(10.0, 2.0)), Bits(Expected[2]));
    });
    // Negative spread mirrors about the average; independent oracle: the steps redone in binary64.
    RunOnFreshThread([] { EXPECT_EQ(Bits(DrawNormal(10.0, -2.0)), Bits(9.038972136600847)); });
}

TEST(DrawNormalUnit, KeptStateFollowsTheThreadsSequenceWithoutTouchingIt)
{
    RunOnFreshThread([] {
        uint32_t kept = 1;
        const double first = DrawNormalUnit(&kept);
        EXPECT_EQ(Bits(DrawNormalUnit()), Bits(first));  // the thread's own sequence still starts at state 1
        EXPECT_EQ(Bits(DrawNormal(&kept, 10.0, 2.0)), Bits(DrawNormal(10.0, 2.0)));
        EXPECT_EQ(UniformDraw(&kept), UniformDraw());
    });
}

// The oracle is the sequence itself: a jump of k lands where k single steps do. Catches a wrong
// composition order, a missed bit of k, or the increment doubled with the wrong multiplier.
TEST(JumpedState, LandsWhereStepByStepDrawsLand)
{
    constexpr uint64_t Jumps[] = {0, 1, 2, 12, 13, 1000, (1u << 20) + 3};
    for (const uint32_t start : {1u, 2385u, 0xFFFFFFFFu}) {
        uint32_t stepped = start;
        uint64_t taken = 0;
        for (const uint64_t k : Jumps) {
            for (; taken < k; ++taken) UniformDraw(&stepped);
            EXPECT_EQ(JumpedState(start, k), stepped) << start << " + " << k;
        }
        // The period is 2^32: a jump of a whole period, or of k plus one, changes nothing.
        EXPECT_EQ(JumpedState(start, uint64_t{1} << 32), start);
        EXPECT_EQ(JumpedState(start, (uint64_t{1} << 32) + 12), JumpedState(start, 12));
    }
}

// Jumps too long to step: their composition must still be the sum of their lengths, which a jump
// that drops or misplaces a high bit of k breaks.
TEST(JumpedState, LongJumpsComposeAsTheirLengthsAdd)
{
    constexpr uint64_t Quarter = uint64_t{1} << 30;
    EXPECT_EQ(JumpedState(JumpedState(2385u, 3 * Quarter), Quarter), 2385u);
    EXPECT_EQ(JumpedState(JumpedState(7u, Quarter + 12345), 2 * Quarter - 1), JumpedState(7u, 3 * Quarter + 12344));
}
