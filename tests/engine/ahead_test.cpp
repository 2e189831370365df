// ahead_test.cpp - items made ahead on a second thread arrive as if made in place, in any order taken.
#include "engine/ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace quorin_test {
namespace {

using Item = std::vector<size_t>;

// The item each index must arrive as; it reuses the room of whatever it overwrites, as the engine's do.
void MakeItem(size_t i, Item* item) { item->assign(1 + i % 5, i); }

struct OrderCase {
    const char* name;
    std::vector<size_t> order;
};

std::vector<size_t> Orders(size_t count, const char* kind)
{
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    const std::string k = kind;
    if (k == "reversed") std::reverse(order.begin(), order.end());
    // Far ahead of the window, then back: batches made and never all taken stop the worker.
    if (k == "strided") std::stable_partition(order.begin(), order.end(), [](size_t i) { return i % 3 == 0; });
    if (k == "pairs swapped") {
        for (size_t i = 0; i + 1 < count; i += 2) std::swap(order[i], order[i + 1]);
    }
    return order;
}

TEST(Ahead, EveryItemArrivesAsMadeWhateverTheOrderTaken)
{
    for (const size_t count : {size_t{1}, size_t{63}, size_t{5000}}) {
        for (const char* kind : {"in order", "reversed", "strided", "pairs swapped"}) {
            SCOPED_TRACE(std::to_string(count) + " items " + kind);
            quorin_host::Ahead<Item> ahead(count, [](size_t i, Item* item, bool) { MakeItem(i, item); }, true);
            Item item, expected;
            for (const size_t i : Orders(count, kind)) {
                ahead.Take(i, &item);
                MakeItem(i, &expected);
                ASSERT_EQ(item, expected) << "item " << i << ": another item's, or one made over";
            }
        }
    }
}

// A worker that runs out of memory leaves the batch it was making to the taker, who gets each item
// all the same instead of waiting for the batch for ever.
TEST(Ahead, ItemsTheWorkerFailsToMakeAreMadeByTheTaker)
{
    const size_t count = 3000;
    std::atomic<bool> failed{false};
    quorin_host::Ahead<Item> ahead(
        count,
        [&](size_t i, Item* item, bool worker) {
            if (worker) failed = true, throw std::bad_alloc();
            MakeItem(i, item);
        },
        true);
    // The worker claims the first batch and fails on it before anything is taken.
    while (!failed) std::this_thread::yield();
    Item item, expected;
    for (size_t i = 0; i < count; ++i) {
        ahead.Take(i, &item);
        MakeItem(i, &expected);
        ASSERT_EQ(item, expected) << "item " << i;
    }
}

}  // namespace
}  // namespace quorin_test
