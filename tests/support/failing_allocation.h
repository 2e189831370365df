// failing_allocation.h - the test program's own operator new (and a malloc for pugixml), which can be
// told to refuse the k-th request from now, so that every allocation of a routine can be made to fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin_test {

struct FailingAllocation {
    static void Arm(int64_t failAt);  // the failAt-th request from now is refused (new throws std::bad_alloc)
    static void Disarm();             // nothing is refused; requests are not counted
    static bool Refused();            // whether the armed request came
    static void* Malloc(size_t size); // counted like new; nullptr when refused
};

}  // namespace quorin_test
