// lifecycle_test.cpp - loading, using from two threads and unloading the module, over and over.
#include <cstdio>
#include <thread>

#include "module_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <fstream>
#endif

namespace quorin_test {
namespace {

// Memory the process holds, in bytes: its commit charge or working set, whichever the system reports higher.
size_t ProcessMemory()
{
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PagefileUsage > counters.WorkingSetSize ? counters.PagefileUsage : counters.WorkingSetSize;
#else
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
#endif
}

using LifecycleTest = ModuleTest;

TEST_F(LifecycleTest, ThousandLoadsOpensAndUnloadsStayCleanAndFlat)
{
    constexpr int Cycles = 1000;
    constexpr int Warm = 50;
    const std::string path = host.ModulePath();
    size_t warmMemory = 0;
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        std::string error;
        ASSERT_TRUE(host.Load(path, &error)) << error;
        ASSERT_EQ(host.Open(), 1);
        // Each thread draws from its own generator, which must start from the first state.
        std::thread first([&] { EXPECT_SAME_DOUBLE(Number("RandNorm", {}), 0.0800856552832625); });
        first.join();
        std::thread second([&] {
            EXPECT_SAME_DOUBLE(Number("RandDist", {Value::Number(10), Value::Number(2)}), 10.961027863399153);
            EXPECT_SAME_DOUBLE(Number("StudentT", {Value::Number(10)}), 2.2281411036749326);
        });
        second.join();
        EXPECT_SAME_DOUBLE(Number("CountBetween", {Column(std::vector<double>(3000, 1.0)), Value::Number(1), Value::Number(2)}), 3000.0);
        EXPECT_EQ(host.Close(), 1);
        host.Unload();
        if (cycle == Warm) warmMemory = ProcessMemory();
        if (HasFailure()) break;
    }
    const size_t finalMemory = ProcessMemory();
    std::printf("process memory after %d cycles: %zu bytes; after %d: %zu bytes\n", Warm + 1, warmMemory, Cycles, finalMemory);
    // A buffer or list left behind by each unload would add tens of kilobytes per cycle. The address
    // sanitizer keeps bookkeeping of its own for every module it has seen, so there only its leak
    // check speaks.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(finalMemory, warmMemory + 2 * 1024 * 1024) << "grew from " << warmMemory << " to " << finalMemory;
#endif
    EXPECT_EQ(host.Outstanding(), 0u);
    EXPECT_EQ(host.releaseViolations, 0);
}

}  // namespace
}  // namespace quorin_test
