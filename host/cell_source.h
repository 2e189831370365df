// cell_source.h - where the host reads the cells a reference names when the module coerces it: the
// host's own sheet, or the workbook an evaluation is computing, installed for as long as it runs.
#pragma once

#include <cstdint>

#include "host/value.h"

namespace quorin_host {

class CellSource {
public:
    virtual ~CellSource() = default;
    // The cell's value; Kind::Uncalculated for a formula not computed yet, Kind::Empty for nothing. The
    // reference stays valid until the source changes.
    virtual const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const = 0;
    // When the source keeps its cells as the records the module reads: count cells of one row from
    // column on, laid side by side, none of them uncalculated, valid until the source changes. The host
    // then copies records (and the text they point to) instead of reading cell by cell. nullptr to
    // have the host read them through CellAt.
    virtual const XLOPER* Records(uint32_t sheet, uint32_t row, uint16_t column, uint32_t count) const
    {
        (void)sheet, (void)row, (void)column, (void)count;
        return nullptr;
    }
};

}  // namespace quorin_host
