// range_buffer_test.cpp - reading range and array arguments into buffers, through the host's coercion.
#include <cstdlib>

#include "addin/range_buffer.h"
#include "module_fixture.h"
#include "support/indexed_cells.h"

namespace quorin_test {
namespace {

using quorin_host::Area;

class RangeReaderTest : public ModuleTest {
protected:
    void TearDown() override
    {
        std::free(buffer.items);
        ModuleTest::TearDown();
    }
    int32_t Read(const Value& argument, bool zeroCorner = false)
    {
        const int32_t status = ReadRange(host.MakeRecord(argument), &buffer, zeroCorner);
        host.ReleaseArguments();
        return status;
    }
    Value Cells(uint32_t rowFirst, uint32_t rowLast, uint16_t columnFirst, uint16_t columnLast)
    {
        return Value::Reference({Area{rowFirst, rowLast, columnFirst, columnLast}});
    }
    RangeBuffer buffer = {};
};

TEST_F(RangeReaderTest, ReferenceReadsRowByRow)
{
    // A1:B3 holding 1..6 row by row: A1, B1, A2, B2, A3, B3.
    for (uint32_t r = 0; r < 3; ++r) {
        for (uint16_t c = 0; c < 2; ++c) host.sheet.Set(r, c, Value::Number(1 + r * 2 + c));
    }
    ASSERT_EQ(Read(Cells(0, 2, 0, 1)), 6);
    EXPECT_EQ(buffer.rows, 3);
    EXPECT_EQ(buffer.columns, 2);
    for (int32_t k = 0; k < 6; ++k) EXPECT_EQ(buffer.items[k], k + 1);

    ASSERT_EQ(Read(Cells(1, 1, 1, 1)), 1) << "a single cell";
    EXPECT_EQ(buffer.items[0], 4.0);
    EXPECT_EQ(buffer.rows * buffer.columns, 1);
}

struct ElementCase {
    Value element;
    bool zeroCorner;
    int32_t expected;
    const char* source;
};

TEST_F(RangeReaderTest, OnlyNumbersAreRead_ExceptAZeroedCorner)
{
    const ElementCase cases[] = {
        {Value{}, false, ReadNotNumber, "empty cell"},
        {Value::Text("1"), false, ReadNotNumber, "text, even numeric-looking"},
        {Value::Boolean(true), false, ReadNotNumber, "logical value"},
        {Value::Error(7), false, ReadNotNumber, "error value"},
        {Value::Text("corner"), true, 4, "corner ignored when zeroed"},
        {Value::Error(42), true, 4, "corner ignored when zeroed"},
    };
    for (const ElementCase& c : cases) {
        SCOPED_TRACE(c.source);
        for (size_t position : {size_t{0}, size_t{3}}) {
            std::vector<Value> elements(4, Value::Number(2.5));
            elements[position] = c.element;
            const bool corner = position == 0;
            const int32_t expected = (corner || !c.zeroCorner) ? c.expected : ReadNotNumber;
            EXPECT_EQ(Read(Value::Array(2, 2, elements), c.zeroCorner), expected) << "position " << position;
            if (expected == 4 && corner) {
                EXPECT_EQ(buffer.items[0], 0.0);
            }
        }
    }
}

TEST_F(RangeReaderTest, RecordsThatAreNotRangesAreRefused)
{
    EXPECT_EQ(Read(Value::Number(5)), ReadNotRange);
    EXPECT_EQ(Read(Value::Text("A1:A3")), ReadNotRange);
    EXPECT_EQ(Read(Value::Boolean(false)), ReadNotRange);
    EXPECT_EQ(ReadRange(nullptr, &buffer, false), ReadNotRange);
    EXPECT_EQ(host.callbackCounts[xlCoerce], 0) << "refused before asking the host";
}

TEST_F(RangeReaderTest, RefusedCoercionsFailWithoutReadingTheRecord)
{
    host.sheet.Set(0, 0, Value::Number(1));
    host.sheet.Set(1, 0, Value::Uncalculated());
    EXPECT_EQ(Read(Cells(0, 1, 0, 0)), ReadUncalculated);
    EXPECT_EQ(Read(Value::Reference({Area{0, 0, 0, 0}, Area{2, 2, 0, 0}})), ReadUncalculated) << "two areas";
    host.faults.coerceFailAlways = true;
    for (int answer : {quorin_host::xlretFailed, 1, 8}) {
        host.faults.coerceAnswer = answer;
        EXPECT_LT(Read(Column({1, 2})), 0);
    }
    EXPECT_EQ(host.callbackCounts[xlFree], 0) << "nothing filled, nothing released";
}

TEST_F(RangeReaderTest, MultiAreaReferenceOfOneAreaReads)
{
    host.sheet.Set(4, 2, Value::Number(-3.25));
    host.sheet.Set(5, 2, Value::Number(8.5));
    Value reference = Value::Reference({Area{4, 5, 2, 2}});
    reference.multiArea = true;
    XLOPER* record = host.MakeRecord(reference);
    ASSERT_EQ(record->xltype, xltypeRef);
    EXPECT_EQ(ReadRange(record, &buffer, false), 2);
    EXPECT_EQ(buffer.items[1], 8.5);
    host.ReleaseArguments();
}

TEST_F(RangeReaderTest, CapacityStartsAt1024AndAtLeastDoubles)
{
    const struct { int32_t count; int32_t capacity; } steps[] = {{10, 1024}, {1500, 2048}, {5000, 5000}, {20, 5000}};
    for (const auto& s : steps) {
        std::vector<double> values(static_cast<size_t>(s.count), 1.5);
        values.back() = s.count;
        ASSERT_EQ(Read(Column(values)), s.count);
        EXPECT_EQ(buffer.capacity, s.capacity) << "after reading " << s.count;
        EXPECT_EQ(buffer.items[s.count - 1], s.count) << "values of the current read";
    }
    RangeBuffer fresh = {};
    std::swap(fresh, buffer);
    std::free(fresh.items);
    ASSERT_EQ(Read(Column(std::vector<double>(1500, 2.0))), 1500);
    EXPECT_EQ(buffer.capacity, 1500) << "a first read larger than 1024";
}

TEST_F(RangeReaderTest, EmptyAndOversizedArraysAreRefused)
{
    XLOPER element = {};
    element.xltype = xltypeNum;
    XLOPER array = {};
    array.xltype = xltypeMulti;
    array.val.array.lparray = &element;
    // 65535 x 65535 values exceed what a buffer can count: refused before anything is read.
    const struct { uint16_t rows, columns; int32_t expected; } shapes[] = {
        {0, 5, ReadEmpty}, {5, 0, ReadEmpty}, {65535, 65535, ReadTooLarge}};
    host.faults.coerceVerbatim = &array;
    for (const auto& s : shapes) {
        array.val.array.rows = s.rows;
        array.val.array.columns = s.columns;
        EXPECT_EQ(Read(Column({1})), s.expected);
        EXPECT_EQ(buffer.capacity, 0) << "no storage taken";
    }
}

TEST_F(RangeReaderTest, LargestReferenceReadsThroughTheModule)
{
    // 65,535 rows by 255 columns, each cell holding its own index: the count checks every value.
    const IndexedCells indexed;
    const quorin_host::ScopedCellSource reading(host, indexed);
    const Value all = Cells(0, 65534, 0, 254);
    const double total = 65535.0 * 255.0;
    EXPECT_EQ(Number("CountBetween", {all, Value::Number(0), Value::Number(total)}), total);
    EXPECT_EQ(Number("CountBetween", {all, Value::Number(1000), Value::Number(total - 1000)}), total - 2000);
}

}  // namespace
}  // namespace quorin_test
