// indexed_cells.h - a sheet whose every cell holds row * 255 + column, for the largest ranges a record
// can carry without storing them: it hands the host rows of records as a stored sheet does.
#pragma once

#include <vector>

#include "host/cell_source.h"

namespace quorin_test {

class IndexedCells : public quorin_host::CellSource {
public:
    const quorin_host::Value& CellAt(uint32_t, uint32_t row, uint16_t column) const override
    {
        cell_ = quorin_host::Value::Number(row * 255.0 + column);
        return cell_;
    }
    const XLOPER* Records(uint32_t, uint32_t row, uint16_t column, uint32_t count) const override
    {
        row_.resize(count);
        for (uint32_t c = 0; c < count; ++c) {
            row_[c].xltype = xltypeNum;
            row_[c].val.num = row * 255.0 + (column + c);
        }
        return row_.data();
    }

private:
    mutable quorin_host::Value cell_;
    mutable std::vector<XLOPER> row_;
};

}  // namespace quorin_test
