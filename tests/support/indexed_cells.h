// indexed_cells.h - a sheet whose every cell holds row * 255 + column, for the largest ranges a record
// can carry without storing them.
#pragma once

#include "host/cell_source.h"

namespace quorin_test {

class IndexedCells : public quorin_host::CellSource {
public:
    const quorin_host::Value& CellAt(uint32_t, uint32_t row, uint16_t column) const override
    {
        cell_ = quorin_host::Value::Number(row * 255.0 + column);
        return cell_;
    }

private:
    mutable quorin_host::Value cell_;
};

}  // namespace quorin_test
