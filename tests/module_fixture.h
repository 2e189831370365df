// module_fixture.h - the module loaded into the substitute host once per test process, and helpers for
// calling worksheet functions through it and comparing answers bit for bit.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/substitute_host.h"
#include "tests/support/test_host.h"

namespace quorin_test {

// Worksheet functions the module registers: the blocks of its catalogue.
size_t CatalogueFunctionCount();

using quorin_host::Kind;
using quorin_host::SubstituteHost;
using quorin_host::Value;

// The blocks a test placed, side by side from column A, over the host's own sheet.
class BlockCells : public quorin_host::CellSource {
public:
    explicit BlockCells(const SubstituteHost& owner) : host_(owner) {}
    struct Block { uint16_t first; int32_t rows, columns; std::vector<double> numbers; };
    std::vector<Block> blocks;
    const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const override;

private:
    const SubstituteHost& host_;
    mutable Value cell_;
};

// The host with the module loaded and opened; every test starts with the host's records cleared.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;  // checks that every record the host filled was released once
    SubstituteHost& host = quorin_test::TestHost();

    // Calls a registered function; the answer is a copy.
    Value Call(const std::string& name, const std::vector<Value>& arguments);
    // Calls a registered function and expects a number; NaN when it answers anything else.
    double Number(const std::string& name, const std::vector<Value>& arguments);
    // A reference to the numbers as a rows x columns block (row-major) on the sheet, right of the blocks
    // placed before in this test: the host hands a range over by copying the sheet's records, where
    // marshalling 10^5 array elements per call would cost far more than the call.
    Value PlaceOnSheet(const std::vector<double>& numbers, int32_t rows, int32_t columns);

private:
    BlockCells blocks_{host};
    std::optional<quorin_host::ScopedCellSource> reading_;
    uint16_t nextColumn_ = 0;
};

inline uint64_t Bits(double v)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Bit-exact comparison, so that -0.0, NaN payloads and the last ulp all count.
#define EXPECT_SAME_DOUBLE(actual, expected) \
    EXPECT_EQ(::quorin_test::Bits(actual), ::quorin_test::Bits(expected)) << (actual) << " vs " << (expected)

inline bool IsFailure(const Value& v) { return v.kind == Kind::Error && v.error == 999; }

Value Column(const std::vector<double>& numbers);

}  // namespace quorin_test
