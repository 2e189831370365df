// failing_allocation.cpp - the replaced global operator new and delete, counting while armed.
#include "tests/support/failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace quorin_test {
namespace {

// Atomic: gtest and the evaluation's thread allocate too, and only the armed stretch of one test counts.
std::atomic<int64_t> Remaining{0};
std::atomic<bool> RefusedOne{false};

bool Refuse()
{
    if (Remaining.load() <= 0) return false;
    if (Remaining.fetch_sub(1) != 1) return false;
    RefusedOne = true;
    return true;
}

}  // namespace

void FailingAllocation::Arm(int64_t failAt)
{
    RefusedOne = false;
    Remaining = failAt;
}

void FailingAllocation::Disarm() { Remaining = 0; }
bool FailingAllocation::Refused() { return RefusedOne; }
void* FailingAllocation::Malloc(size_t size) { return Refuse() ? nullptr : std::malloc(size); }

}  // namespace quorin_test

void* operator new(std::size_t size)
{
    void* block = quorin_test::FailingAllocation::Malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
// The standard library asks for temporary buffers with the nothrow forms: they must pair with the
// deletes above, and are refused like the others.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return quorin_test::FailingAllocation::Malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept { return operator new(size, nothrow); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
