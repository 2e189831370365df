// allocation_counter.h - the counted module's calloc and free, which its link routes here
// (--wrap), so tests can see every block the module takes and refuse the k-th one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

namespace quorin_test {

struct AllocationCounter {
    // Counts requests from zero; with failAt > 0 the failAt-th request from now answers nullptr.
    static void Arm(int32_t failAt);
    static void Disarm();                // requests still count, none fails
    static int32_t Requests();           // since the last Arm
    static bool Refused();               // whether the armed request came
    static size_t LiveBlocks();          // blocks the module holds now
    static size_t LiveBytes();
    // Offsets in the module of the call sites whose request was refused, over the whole process.
    static const std::set<uintptr_t>& RefusedSites();
    // After the module is unloaded nothing holds its blocks any more; returns them to the system.
    static void ReleaseAbandoned();
};

}  // namespace quorin_test
