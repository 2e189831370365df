// pipe_test.cpp - buffers handed from a producing thread arrive in order, and neither side's end leaves
// the other waiting.
#include "xlsx/pipe.h"

#include <gtest/gtest.h>

#include <new>

namespace {

using quorin_host::Pipe;

// More buffers than the ring holds, so that each is filled again after its first hand-over.
TEST(Pipe, BuffersArriveInOrderAndTheProducersFailureAfterThem)
{
    for (const bool fails : {false, true}) {
        Pipe<int, 3> pipe;
        ASSERT_TRUE(pipe.Start([&] {
            for (int n = 0; n < 10; ++n) {
                int* buffer = pipe.Fill();
                ASSERT_NE(buffer, nullptr);
                *buffer = n;
                pipe.Send();
            }
            if (fails) throw std::bad_alloc();
        }));
        int expected = 0;
        bool threw = false;
        try {
            while (const int* buffer = pipe.Next()) EXPECT_EQ(*buffer, expected++) << "a buffer lost, repeated or overwritten";
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        EXPECT_EQ(expected, 10) << "buffers sent before the failure not all handed over";
        EXPECT_EQ(threw, fails) << "the producer's failure lost, or one made up";
    }
}

// A consumer that stops early (or is gone) releases a producer waiting for room: the pipe's end
// joins the thread instead of waiting for ever.
TEST(Pipe, StoppingReleasesAProducerWaitingForRoom)
{
    int filled = 0;
    {
        Pipe<int, 2> pipe;
        ASSERT_TRUE(pipe.Start([&] {
            while (int* buffer = pipe.Fill()) *buffer = filled++, pipe.Send();
        }));
        ASSERT_NE(pipe.Next(), nullptr);
        pipe.Stop();
    }
    EXPECT_LE(filled, 3) << "the producer ran past the ring";
}

}  // namespace
