// cell_store.h - the values of a workbook's cells: a column's numbers in consecutive rows in eight
// bytes a cell, any other cell in sixteen (a number kept as it is, any other value in a list beside, a
// text once however many cells hold it), so that a sheet of millions of numbers or of repeated texts
// costs little more than its cells. Cells are added in any order (a file's reading order costs no sort)
// and found in their column's numbers, or by their row's place in an index, then by binary search
// along the row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "addin/host_api.h"
#include "host/value.h"

namespace quorin_host {

class CellStore {
public:
    // Cells are added to sheets 0 .. count - 1.
    void SetSheets(size_t count);
    size_t Sheets() const { return sheets_.size(); }

    // A cell that holds value; Kind::Empty is a cell that is there but holds nothing (a formula with
    // no cached value), and blank a cell a file writes with no value at all (formatting only), which is
    // there but spans no rows or columns. Of a cell added twice, the last stands.
    void Add(uint32_t sheet, uint32_t row, uint16_t column, const Value& value, bool blank = false);
    // Forgets every cell of a sheet (one that turned out unreadable); its values' text may stay held.
    void ClearSheet(uint32_t sheet);
    // Orders what was added; Has, Get and Set read only what was added before. Sealing again after no
    // Add costs nothing.
    void Seal();
    bool Sealed() const { return sealed_; }

    bool Has(uint32_t sheet, uint32_t row, uint16_t column) const;  // as Get, whose last answer it ends
    // The cell's value, empty where there is none (*there, when given, says which); valid until the
    // next Get or Set.
    const Value& Get(uint32_t sheet, uint32_t row, uint16_t column, bool* there = nullptr) const;
    // The same as a copy, which threads may read at once: Get's answer may lie in one place it reuses.
    Value Copy(uint32_t sheet, uint32_t row, uint16_t column, bool* there = nullptr) const;
    // Changes a cell's value; a cell not there is added.
    void Set(uint32_t sheet, uint32_t row, uint16_t column, Value value);
    // The area's cells as the records the module reads, row after row into out, each row's text kept in
    // strings: a row's cells found with one search, not one each. False, with out partly written, when a
    // cell is uncalculated. Threads may read at once, as with Copy.
    bool Records(uint32_t sheet, const Area& area, XLOPER* out, std::vector<std::vector<char>>* strings) const;

    // Rows and columns spanned by the cells of a sheet, blank cells aside.
    uint32_t RowsOf(uint32_t sheet) const;
    uint16_t ColumnsOf(uint32_t sheet) const;

private:
    enum Tag : uint8_t { Empty, Blank, Number, Uncalculated, Other };
    struct Entry {
        uint64_t key;   // row << 14 | column, the tag in the top byte
        uint64_t bits;  // Number: the double's bits; Other: an index into shared_ or own_
    };
    // A column's numbers in rows first, first + 1, ..., one added after the other: the cells a range
    // names are then read in order, a cell eight bytes. A cell in its rows is nowhere else (an entry
    // that shares its place was added before it), and once anything but a number is added or set in
    // them, the run's numbers become entries. A column has a run after each gap.
    struct Run {
        uint32_t first = 0;
        std::vector<double> numbers;
        bool Holds(uint32_t row) const { return row - first < numbers.size(); }  // wraps below first
        uint32_t End() const { return first + static_cast<uint32_t>(numbers.size()); }
    };
    // Columns past this many keep their numbers as entries, so that a cell far to the right costs no
    // runs for each column before it.
    static constexpr uint16_t RunColumns = 256;
    // A run shorter than this becomes entries once the column's next run starts, or at the seal:
    // scattered numbers cost no more than they did as entries.
    static constexpr size_t ShortestRun = 16;
    struct Sheet {
        std::vector<Entry> entries;             // sorted by row and column once sealed
        std::vector<uint32_t> rowStart;         // per row: the first entry of the row, and one past the last row's
        std::vector<std::vector<Run>> runs;     // by column, as many as have had a number: its runs, in row order
        std::unordered_map<uint64_t, Value> added;  // cells set that were never added
        // The run of the column holding row, its index in *at when given; nullptr when none does.
        const Run* RunAt(uint32_t row, uint16_t column, size_t* at = nullptr) const;
        const double* Number(uint32_t row, uint16_t column) const
        {
            const Run* run = RunAt(row, column);
            return run != nullptr ? &run->numbers[row - run->first] : nullptr;
        }
    };

    // The sheet to change, made this store's own first if a copy shares it.
    Sheet& Own(uint32_t sheet);
    Entry* Find(uint32_t sheet, uint32_t row, uint16_t column);
    const Entry* Find(uint32_t sheet, uint32_t row, uint16_t column) const;
    // The cell's number where a run holds it, else nullptr.
    const double* NumberAt(uint32_t sheet, uint32_t row, uint16_t column) const
    {
        return sheet < sheets_.size() ? sheets_[sheet]->Number(row, column) : nullptr;
    }
    // Makes a column's run entries, in order if the store is sealed.
    void Spill(Sheet& s, uint16_t column, size_t run);
    static void Order(Sheet& s);
    void Store(Entry* entry, uint64_t key, const Value& value, bool blank);

    // A copy of the store shares its sheets until one is changed: an evaluation's copy of a workbook's
    // cells costs only the sheets its formulas fill, not a second copy of a sheet of data.
    std::vector<std::shared_ptr<Sheet>> sheets_;
    // Values other than numbers: those stored before the store was last sealed, shared with its copies
    // (an evaluation's copy of a workbook's cells holds no second copy of their text), and those
    // stored since, its own; an index with OwnBit set is into own_.
    static constexpr uint64_t OwnBit = uint64_t{1} << 63;
    std::shared_ptr<const std::vector<Value>> shared_;
    std::deque<Value> own_;  // a deque: its values never move, so interned_ can point into them
    // Texts added since the last seal, by content: a text in many cells (a shared string, a category)
    // is kept once. Dropped when sealed; values set afterwards (answers) are not looked up.
    std::unordered_map<std::string_view, uint64_t> interned_;
    bool sealed_ = true;
    mutable Value scratch_;
};

}  // namespace quorin_host
