// cell_source.h - where the host reads the cells a reference names when the module coerces it: the
// host's own sheet, or the workbook an evaluation is computing, installed for as long as it runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/value.h"

namespace quorin_host {

class CellSource {
public:
    virtual ~CellSource() = default;
    // The cell's value; Kind::Uncalculated for a formula not computed yet, Kind::Empty for nothing. The
    // reference stays valid until the source changes.
    virtual const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const = 0;
    // When the source keeps the area's cells as the records the module reads, none of them
    // uncalculated: the record of its first cell, each row's records side by side and *rowStride
    // records from one row's start to the next, valid until the source changes. The host then copies
    // records (and the text they point to) instead of reading cell by cell. nullptr to have the host
    // read the cells through CellAt. *lasting is set when the records hold no text and stay as they
    // are for as long as the source is installed: the host may then hand them to the module itself,
    // which only reads what it coerces, instead of a copy.
    virtual const XLOPER* Records(const Area& area, size_t* rowStride, bool* lasting) const
    {
        (void)area, (void)rowStride, (void)lasting;
        return nullptr;
    }
    // Asked when Records answered nullptr: whether the source wrote the area's records itself, row
    // after row into out, the text they point to kept in strings. False, out partly written, to have
    // the host read the cells through CellAt (as for a cell not computed yet). A source that keeps
    // records only of the areas read again builds the others here, where the host would copy them.
    virtual bool RecordsInto(const Area& area, XLOPER* out, std::vector<std::vector<char>>* strings) const
    {
        (void)area, (void)out, (void)strings;
        return false;
    }
};

}  // namespace quorin_host
