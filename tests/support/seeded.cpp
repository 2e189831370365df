// seeded.cpp - the seeded sequence and its helpers; the golden digest depends on every bit of Between.
#include "tests/support/seeded.h"

#include <cmath>
#include <utility>

namespace quorin_test {

uint64_t Generator::Next()
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Generator::Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

double Generator::Between(double lo, double hi) { return lo + ((hi - lo) * Unit()); }

int32_t Generator::Below(int32_t k) { return static_cast<int32_t>(Next() % static_cast<uint64_t>(k)); }

bool SameAnswer(double a, double b) { return (std::isnan(a) && std::isnan(b)) || Bits(a) == Bits(b); }

Value Shaped(const std::vector<double>& numbers, int32_t rows, int32_t columns)
{
    std::vector<Value> elements;
    elements.reserve(numbers.size());
    for (double v : numbers) elements.push_back(Value::Number(v));
    return Value::Array(rows, columns, std::move(elements));
}

}  // namespace quorin_test
