// cell_source_test.cpp - references read through the cell source an evaluation installs, and the host's
// own sheet handing over ranges as records.
#include "module_fixture.h"
#include "support/indexed_cells.h"

namespace quorin_test {
namespace {

using quorin_host::Area;
using quorin_host::FormatValue;

// Every cell holds one value, so the source in use shows in the answer.
class Constant : public quorin_host::CellSource {
public:
    explicit Constant(double v) : cell_(Value::Number(v)) {}
    const Value& CellAt(uint32_t, uint32_t, uint16_t) const override { return cell_; }

private:
    Value cell_;
};

using CellSourceTest = ModuleTest;

TEST_F(CellSourceTest, ReferencesReadTheInstalledSourceUntilItGoes)
{
    const Value a1 = Value::Reference({Area{0, 0, 0, 0}});
    const Value column = Value::Reference({Area{0, 9, 0, 0}});
    for (uint32_t r = 0; r < 10; ++r) host.sheet.Set(r, 0, Value::Number(10));
    const auto count = [&](double low) { return Number("CountBetween", {column, Value::Number(low), Value::Number(low + 1)}); };
    const Constant one(1), two(2);
    {
        const quorin_host::ScopedCellSource outer(host, one);
        EXPECT_EQ(Number("StudentT", {a1}), Number("StudentT", {Value::Number(1)})) << "a B argument read the host's sheet";
        {
            const quorin_host::ScopedCellSource inner(host, two);
            EXPECT_EQ(count(2), 10) << "a range read the outer source";
        }
        EXPECT_EQ(count(1), 10) << "the outer source not restored";
    }
    EXPECT_EQ(count(10), 10) << "the host's sheet not restored";
}

TEST_F(CellSourceTest, SheetRangesCarryEveryKindOfCell)
{
    // Records copied whole must still give text a copy of its own, and cells never set read as empty.
    const Value cells[] = {Value::Number(2.5), Value::Text("4"), Value::Boolean(true), Value::Error(quorin_host::xlerrNA)};
    for (uint16_t c = 0; c < 4; ++c) host.sheet.Set(1, c, cells[c]);
    XLOPER target{}, result{};
    target.xltype = xltypeInt;
    target.val.w = xltypeMulti;
    XLOPER* opers[] = {host.MakeRecord(Value::Reference({Area{1, 1, 0, 4}})), &target};
    ASSERT_EQ(host.Handle(xlCoerce, &result, 2, opers), xlretSuccess);
    host.sheet = quorin_host::Sheet{};
    const Value array = SubstituteHost::ValueOf(&result);
    ASSERT_EQ(array.elements.size(), 5u);
    for (size_t c = 0; c < 4; ++c) EXPECT_EQ(FormatValue(array.elements[c]), FormatValue(cells[c])) << "column " << c;
    EXPECT_EQ(array.elements[4].kind, Kind::Empty) << "a cell beyond the sheet's cells";
    XLOPER* release[] = {&result};
    host.Handle(xlFree, nullptr, 1, release);
    host.ReleaseArguments();
}

TEST_F(CellSourceTest, TextKeepsItsStringWhenTheSheetWidens)
{
    // Widening moves every cell's index: a string still kept under A2's old index (that of B1 now)
    // would be freed when B1 is rewritten, leaving A2 pointing at freed memory.
    host.sheet.Set(1, 0, Value::Text("kept"));
    host.sheet.Set(0, 2, Value::Number(1));
    host.sheet.Set(0, 1, Value::Text("replaced"));
    host.sheet.Set(0, 1, Value::Number(2));
    EXPECT_EQ(host.sheet.Get(1, 0).text, "kept");
    EXPECT_EQ(host.sheet.Get(0, 1).number, 2.0);
}

TEST_F(CellSourceTest, ARangeTooTallForTheRecordSaysWhy)
{
    // The array record counts rows in 16 bits: 65,536 rows cannot be handed over at all.
    const struct { uint32_t rowLast; bool refused; } cases[] = {{65534, false}, {65535, true}};
    const IndexedCells indexed;
    const quorin_host::ScopedCellSource reading(host, indexed);
    for (const auto& c : cases) {
        std::string error;
        const Value answer = host.Call("CountBetween", {Value::Reference({Area{0, c.rowLast, 0, 0}}), Value::Number(0), Value::Number(1)}, &error);
        EXPECT_EQ(error.find("65536 rows") != std::string::npos && error.find("16 bits") != std::string::npos, c.refused) << error;
        EXPECT_EQ(answer.kind == Kind::Number, !c.refused) << quorin_host::FormatValue(answer);
    }
}

}  // namespace
}  // namespace quorin_test
