// allocation_counter.cpp - the wrapped calloc and free of the counted module.
#include "tests/robustness/allocation_counter.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>

namespace quorin_test {
namespace {

int32_t RequestsSeen = 0;
int32_t FailAt = 0;
bool RefusedOne = false;
std::map<void*, size_t> Live;
std::set<uintptr_t> Sites;

}  // namespace

void AllocationCounter::Arm(int32_t failAt)
{
    RequestsSeen = 0;
    FailAt = failAt;
    RefusedOne = false;
}

void AllocationCounter::Disarm() { FailAt = 0; }
int32_t AllocationCounter::Requests() { return RequestsSeen; }
bool AllocationCounter::Refused() { return RefusedOne; }
size_t AllocationCounter::LiveBlocks() { return Live.size(); }

size_t AllocationCounter::LiveBytes()
{
    size_t bytes = 0;
    for (const auto& block : Live) bytes += block.second;
    return bytes;
}

const std::set<uintptr_t>& AllocationCounter::RefusedSites() { return Sites; }

void AllocationCounter::ReleaseAbandoned()
{
    for (const auto& block : Live) std::free(block.first);
    Live.clear();
}

}  // namespace quorin_test

using namespace quorin_test;

// Exported from the test program; the counted module's undefined __wrap_ symbols bind here at load.
extern "C" __attribute__((visibility("default"))) void* __wrap_calloc(size_t count, size_t size)
{
    ++RequestsSeen;
    if (FailAt > 0 && RequestsSeen == FailAt) {
        RefusedOne = true;
        Dl_info info = {};
        void* caller = __builtin_return_address(0);
        if (dladdr(caller, &info) != 0) {
            Sites.insert(reinterpret_cast<uintptr_t>(caller) - reinterpret_cast<uintptr_t>(info.dli_fbase));
        }
        return nullptr;
    }
    void* block = std::calloc(count, size);
    if (block != nullptr) Live[block] = count * size;
    return block;
}

extern "C" __attribute__((visibility("default"))) void __wrap_free(void* block)
{
    if (block == nullptr) return;
    Live.erase(block);
    std::free(block);
}
