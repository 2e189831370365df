// sheet.h - the host's own cells, read by references when no evaluation has installed a workbook of
// its own. Cells are kept as the records the module reads, row after row, so a range is handed to the
// module by copying records rather than by building a value per cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "addin/host_api.h"
#include "host/cell_source.h"
#include "host/value.h"

namespace quorin_host {

class Sheet : public CellSource {
public:
    // The most cells the sheet keeps: it stores the rectangle from A1 to its farthest cell.
    static constexpr uint64_t MaxCells = uint64_t{1} << 23;

    Sheet() = default;
    Sheet(Sheet&&) = default;
    Sheet& operator=(Sheet&&) = default;
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    // A number, text, TRUE/FALSE, an error, nothing or an uncalculated formula (an array or a reference
    // is kept as #VALUE!, as a cell shows it). False, with the sheet unchanged, past MaxCells.
    bool Set(uint32_t row, uint16_t column, const Value& v);
    // The cell's value (a copy); cells never set are empty.
    Value Get(uint32_t row, uint16_t column) const;

    // Sheet 0 is this sheet; any other sheet reads as empty. The reference holds until the next read.
    const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const override;
    const XLOPER* Records(const Area& area, size_t* rowStride, bool* lasting) const override;

private:
    const XLOPER* Record(uint32_t row, uint16_t column) const;

    uint32_t rows_ = 0, columns_ = 0;
    std::vector<XLOPER> records_;            // rows_ x columns_, row-major; cells never set are nil
    // The counted string each text cell's record points to, by the cell's index in records_: a cell
    // written again drops its old text, so rewriting cells does not grow the sheet.
    std::unordered_map<size_t, std::vector<char>> texts_;
    uint64_t uncalculated_ = 0;               // cells marked uncalculated: no record can carry that
    mutable Value scratch_;
};

}  // namespace quorin_host
