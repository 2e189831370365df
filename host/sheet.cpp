// sheet.cpp - a dense block of records, grown to the farthest cell set.
#include "host/sheet.h"

#include <algorithm>

#include "host/marshal.h"

namespace quorin_host {

namespace {
// The sheet's own mark for an uncalculated cell; it never leaves the sheet, since Records declines
// while any cell is uncalculated.
constexpr uint16_t UncalculatedType = 0x0800;
}  // namespace

bool Sheet::Set(uint32_t row, uint16_t column, const Value& v)
{
    if (row >= rows_ || column >= columns_) {
        const uint32_t columns = std::max<uint32_t>(columns_, column + 1u);
        if (uint64_t{row + 1u} * columns > MaxCells) return false;
        // Rows grow by half again at least, so filling a column cell by cell stays linear.
        const uint64_t roomy = std::min<uint64_t>(uint64_t{rows_} + rows_ / 2, MaxCells / columns);
        const uint32_t rows = static_cast<uint32_t>(std::max<uint64_t>(std::max(rows_, row + 1), roomy));
        std::vector<XLOPER> grown(static_cast<size_t>(rows) * columns);
        for (XLOPER& r : grown) r.xltype = xltypeNil;
        for (uint32_t r = 0; r < rows_; ++r) {
            std::copy_n(records_.data() + static_cast<size_t>(r) * columns_, columns_, grown.data() + static_cast<size_t>(r) * columns);
        }
        records_.swap(grown);
        // A wider row moves every cell's index; the strings themselves stay where they are.
        if (columns != columns_) {
            std::unordered_map<size_t, std::vector<char>> moved;
            for (auto& [at, counted] : texts_) moved[(at / columns_) * columns + at % columns_] = std::move(counted);
            texts_.swap(moved);
        }
        rows_ = rows;
        columns_ = columns;
    }
    const size_t index = static_cast<size_t>(row) * columns_ + column;
    XLOPER& record = records_[index];
    if (record.xltype == UncalculatedType) --uncalculated_;
    if (v.kind == Kind::Uncalculated) {
        record.xltype = UncalculatedType;
        ++uncalculated_;
    } else if (v.kind == Kind::Array || v.kind == Kind::Reference) {
        record.xltype = xltypeErr;
        record.val.err = xlerrValue;
    } else {
        std::vector<std::vector<char>> text;
        ScalarRecord(v, &record, &text);
        // Moving the string keeps its buffer, so the record's pointer stays valid.
        if (!text.empty()) texts_[index] = std::move(text.front());
    }
    if (record.xltype != xltypeStr) texts_.erase(index);
    return true;
}

const XLOPER* Sheet::Record(uint32_t row, uint16_t column) const
{
    if (row >= rows_ || column >= columns_) return nullptr;
    return &records_[static_cast<size_t>(row) * columns_ + column];
}

Value Sheet::Get(uint32_t row, uint16_t column) const { return CellAt(0, row, column); }

const Value& Sheet::CellAt(uint32_t sheet, uint32_t row, uint16_t column) const
{
    const XLOPER* record = (sheet == 0) ? Record(row, column) : nullptr;
    if (record == nullptr) scratch_ = Value{};
    else if (record->xltype == UncalculatedType) scratch_ = Value::Uncalculated();
    else scratch_ = ValueOfRecord(record);
    return scratch_;
}

const XLOPER* Sheet::Records(const Area& area, size_t* rowStride, bool* lasting) const
{
    if (area.sheet != 0 || uncalculated_ != 0 || area.rowLast >= rows_ || area.columnLast >= columns_) return nullptr;
    // A test may set cells between calls, and a module under test may write where it should not.
    *lasting = false;
    *rowStride = columns_;
    return Record(area.rowFirst, area.columnFirst);
}

}  // namespace quorin_host
