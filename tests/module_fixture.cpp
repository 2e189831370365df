// module_fixture.cpp - loads the module once per process and checks the host's records after each test.
#include "module_fixture.h"

#include <algorithm>
#include <cmath>

#include "addin/catalogue.h"

namespace quorin_test {

void ModuleTest::SetUp()
{
    if (!host.Loaded()) {
        std::string error;
        const bool loaded = host.Load(quorin_host::DefaultModulePath(), &error);
        ASSERT_TRUE(loaded) << error;
    }
    host.faults = quorin_host::Faults{};
    host.sheet = quorin_host::Sheet{};
    host.ResetRecords();
    // A test that made the open fail leaves the catalogue partly registered: open again.
    const bool registered = host.registrations.size() == CatalogueFunctionCount() &&
        std::all_of(host.registrations.begin(), host.registrations.end(), [](const quorin_host::Registration& r) { return r.accepted; });
    if (!registered) {
        ASSERT_EQ(host.Open(), 1);
    }
    host.ResetRecords();
}

void ModuleTest::TearDown()
{
    reading_.reset();
    EXPECT_EQ(host.Outstanding(), 0u) << "records the module did not release";
    EXPECT_EQ(host.releaseViolations, 0) << "records released twice or never filled";
}

Value ModuleTest::Call(const std::string& name, const std::vector<Value>& arguments)
{
    std::string error;
    Value answer = host.Call(name, arguments, &error);
    EXPECT_TRUE(error.empty()) << error;
    return answer;
}

double ModuleTest::Number(const std::string& name, const std::vector<Value>& arguments)
{
    const Value answer = Call(name, arguments);
    EXPECT_EQ(answer.kind, Kind::Number) << name << " answered " << quorin_host::FormatValue(answer);
    return answer.kind == Kind::Number ? answer.number : std::nan("");
}

Value ModuleTest::PlaceOnSheet(const std::vector<double>& numbers, int32_t rows, int32_t columns)
{
    const uint16_t first = nextColumn_;
    nextColumn_ = static_cast<uint16_t>(nextColumn_ + columns);
    blocks_.blocks.push_back({first, rows, columns, numbers});
    if (!reading_) reading_.emplace(host, blocks_);
    return Value::Reference({quorin_host::Area{0, static_cast<uint32_t>(rows - 1), first, static_cast<uint16_t>(first + columns - 1)}});
}

const Value& BlockCells::CellAt(uint32_t sheet, uint32_t row, uint16_t column) const
{
    for (const Block& b : blocks) {
        if (column >= b.first && column < b.first + b.columns && row < static_cast<uint32_t>(b.rows)) {
            cell_ = Value::Number(b.numbers[row * static_cast<size_t>(b.columns) + (column - b.first)]);
            return cell_;
        }
    }
    return host_.sheet.CellAt(sheet, row, column);
}

size_t CatalogueFunctionCount()
{
    size_t count = 0;
    for (const CatalogueRecord* r = FunctionCatalogue; r->type != 0; ++r, ++count) {
        while (r->type != 0) ++r;  // the block's header and arguments, up to its closing record
    }
    return count;
}

Value Column(const std::vector<double>& numbers)
{
    std::vector<Value> elements;
    for (double v : numbers) elements.push_back(Value::Number(v));
    return Value::Array(static_cast<int32_t>(numbers.size()), 1, std::move(elements));
}

}  // namespace quorin_test
