// seeded.h - seeded test data: one pseudo-random sequence on every platform, lists shaped into host
// arrays, and the comparison of answers that treats every NaN alike.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/module_fixture.h"

namespace quorin_test {

// splitmix64: the same sequence on every platform, unlike the standard distributions. Aggregate, so
// a test starts it with its own seed: Generator g{0x1A7E2B01}.
struct Generator {
    uint64_t state;
    uint64_t Next();                         // the next 64 bits of the sequence
    double Unit();                           // the top 53 bits of Next() scaled into [0, 1)
    double Between(double lo, double hi);    // lo + ((hi - lo) * Unit()), in that order of rounding
    int32_t Below(int32_t k);                // Next() mod k, for k >= 1
};

// True where both are NaN (sign and payload follow whichever operand the processor propagated, which
// the compiler may swap in a commutative product) or where the bits are the same.
bool SameAnswer(double a, double b);

// The numbers as a rows x columns array constant, row-major.
Value Shaped(const std::vector<double>& numbers, int32_t rows, int32_t columns);

}  // namespace quorin_test
