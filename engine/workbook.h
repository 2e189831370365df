// workbook.h - workbooks recalculated through the substitute host: named sheets of constants and
// formulas, workbook-wide or sheet-local defined names, tables, cached cells of linked workbooks, array
// formulas entered over a range. Formulas are computed in an order derived from their references
// (reading order where none waits on another), so every cell a formula reads is computed before it;
// formulas that wait on each other, or on such formulas, are a circular reference and show
// #CIRCULAR!. A formula that cannot be read, calls an unknown function or name or has the wrong
// argument count shows its error and fails the evaluation; every other formula is computed all the
// same. A workbook kept by a spreadsheet is evaluated under EvaluationOptions::keepForeignFormulas.
// A CSV file is a one-sheet workbook whose formulas start with '='; a formula's array answer there
// fills the empty cells to its right, as an array formula entered over a row does.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/cell_store.h"
#include "host/cell_source.h"
#include "engine/csv.h"
#include "engine/formula.h"
#include "engine/workers.h"
#include "host/substitute_host.h"

namespace quorin_host {

struct WorkbookFormula {
    std::string text;              // as written, with or without the leading '='
    int32_t shiftRows = 0;         // a shared formula: text is written for the cell this many rows up
    int32_t shiftColumns = 0;      // ... and this many columns left; its relative references move
    bool overArea = false;         // an array formula entered over area (its top-left cell is this one)
    bool dataTable = false;        // ... a data table over area: no text; it reads the row above the
                                   // area and the column to its left, and the engine never computes it
    Area area;                     // rows and columns on the formula's sheet
    bool hasCached = false;        // the value the file recorded for the cell
    Value cached;
};

// A formula cell as the engine keeps it: its text once in Workbook::formulaTexts (a shared formula's
// cells, added one after another, share one copy), its cached value in Workbook::values.
struct StoredFormula {
    uint32_t sheet = 0, row = 0;
    uint16_t column = 0;
    bool overArea = false, dataTable = false;  // as WorkbookFormula
    uint32_t text = 0;                         // index into Workbook::formulaTexts
    int32_t shiftRows = 0, shiftColumns = 0;
    Area area;
};

struct DefinedName {
    std::string name;
    int32_t sheet = -1;            // the sheet it belongs to, -1 for the whole workbook
    std::string text;              // a range (Data!$A$2:$A$7) or a constant, as a formula
};

struct WorkbookTable {
    std::string name;
    uint32_t sheet = 0;
    Area area;                     // header row, data rows and totals row
    uint32_t headerRows = 1, totalsRows = 0;
    std::vector<std::string> columns;  // names, left to right
};

// A workbook the formulas link to as [n], n counted from 1: its cells as this file cached them.
struct LinkedBook {
    std::vector<std::string> sheets;
    CellStore values;  // sealed for reading
};

struct Workbook {
    std::vector<std::string> sheets;       // names, in the file's order
    CellStore values;                      // constants, blank cells and every formula's cached value
    std::vector<StoredFormula> formulas;   // any order; one entry per formula cell
    std::vector<std::string> formulaTexts;
    std::vector<DefinedName> names;
    std::vector<WorkbookTable> tables;
    std::vector<LinkedBook> links;         // [1] is links[0]
    // Sheets whose cells could not be read (a damaged part), with why: each keeps its place and name
    // and holds nothing, and a formula that must be recomputed but reads one is stale.
    std::map<uint32_t, std::string> unreadable;
    // A table's part could not be read: a table a formula names but that is not found may be it.
    bool tableUnreadable = false;

    uint32_t AddSheet(const std::string& name);
    void SetValue(uint32_t sheet, uint32_t row, uint16_t column, const Value& value);
    // A cell a file writes with no value (formatting only): there, but holding nothing.
    void SetBlank(uint32_t sheet, uint32_t row, uint16_t column);
    void SetFormula(uint32_t sheet, uint32_t row, uint16_t column, const WorkbookFormula& formula);
    // The sheet's cells turned out unreadable: the cells and formulas added to it are forgotten.
    void SetUnreadable(uint32_t sheet, const std::string& why);
    const std::string& TextOf(const StoredFormula& formula) const { return formulaTexts[formula.text]; }
    // Ends the adding: the cells are ordered for reading (EvaluateWorkbook does it on its own copy).
    void Seal() { values.Seal(); }

private:
    std::vector<uint32_t> recentTexts_;  // the texts last added, which a shared formula's next cell repeats
};

struct EvaluationOptions {
    std::string fileName;            // prefixes every message
    // Recompute only what depends on the module: a formula is computed when it calls a registered
    // function (directly or through a name) or reads a cell so computed; every other formula keeps
    // its cached value, is never a reason to fail, and is read no further than ScanFormula reads it.
    // A formula that must be recomputed but needs what the engine does not compute (another function,
    // syntax it does not evaluate, a cell left stale, a circle) is stale: it keeps its cached value.
    // Ranges are read as the spreadsheet reads them (EvaluationContext::spreadsheetRanges).
    bool keepForeignFormulas = false;
    // An array answer of a formula not entered over an area shows in the empty cells to its right,
    // first row only, up to a cell that holds something (CSV sheets).
    bool spillRight = false;
    // Keeping foreign formulas, formulas are scanned and parsed on a second thread, ahead of their
    // turn, when at least this many are (fewer cost less than starting the thread) and the first of
    // them are not mostly made cheaply from one another. 0: always.
    size_t aheadFrom = 4096;
    // Keeping foreign formulas, with workers to help: when at least this many formulas of ours read no
    // formula of ours (nor draw random numbers), those are computed first, on every worker at once.
    size_t parallelFrom = 2;
    // Those formulas are computed ahead this many at a time, each batch's answers held until their
    // turn: enough that starting and finishing a batch on every worker costs little, few enough that
    // the answers held take megabytes, not a hundred and fifty bytes for every formula of a sheet.
    size_t earlyWindow = size_t{1} << 15;
};

enum class FormulaOutcome {
    Computed,    // evaluated through the host
    KeptCached,  // depends on no registered function: the cached value stands
    Stale,       // depends on one, but needs what the engine does not compute: the cached value stands
    Refused,     // unreadable, an unknown function or name, a wrong argument count: shows its error
    Circular,    // waits on itself: shows #CIRCULAR!
};

struct FormulaResult {
    uint32_t formula = 0;          // index into Workbook::formulas
    uint32_t sheet = 0, row = 0;
    uint16_t column = 0;
    FormulaOutcome outcome = FormulaOutcome::Computed;
};

// The outcome of an evaluation, and the cells as they stand after it.
class WorkbookEvaluation : public CellSource {
public:
    const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const override;
    // The same as a copy, which threads may read at once once the evaluation is done.
    Value CopyAt(uint32_t sheet, uint32_t row, uint16_t column) const { return store_.Copy(sheet, row, column); }
    // An area of at least RecordsFrom cells read a second time is built into records once and handed
    // to every call reading it after: the cells a formula reads are computed before it and never
    // again. An area read once, or past MaxRecordBytes, is built by RecordsInto into the host's own
    // copy. Workers computing at once may ask for records together.
    const XLOPER* Records(const Area& area, size_t* rowStride, bool* lasting) const override;
    bool RecordsInto(const Area& area, XLOPER* out, std::vector<std::vector<char>>* strings) const override;
    // Rows and columns spanned by the cells of a sheet that hold something.
    uint32_t RowsOf(uint32_t sheet) const { return store_.RowsOf(sheet); }
    uint16_t ColumnsOf(uint32_t sheet) const { return store_.ColumnsOf(sheet); }
    // The whole answer of formulas[k] (an array for an array answer), and why a stale one is stale.
    Value Answer(size_t k) const;
    std::string Reason(size_t k) const;

    std::vector<FormulaResult> formulas;  // one per formula cell, in reading order (sheet, row, column)
    std::vector<std::string> problems;    // refusals and circular references: the evaluation failed
    std::vector<std::string> notes;       // host refusals of values, answers clipped
    size_t keptCached = 0;                // formulas whose cached value stands (KeptCached)
    size_t stale = 0;                     // formulas left stale
    bool Succeeded() const { return problems.empty(); }

private:
    friend class Recalculation;
    struct RecordBlock {
        std::vector<XLOPER> records;
        std::vector<std::vector<char>> strings;  // the text the records point to
        bool text = false;                       // some record is text
    };
    CellStore store_;
    std::unordered_map<uint32_t, Value> arrays_;         // array answers, by formula
    std::unordered_map<uint32_t, std::string> reasons_;  // stale formulas, by formula
    // A map: a block once built stays where it is while others are added.
    using AreaKey = std::tuple<uint32_t, uint32_t, uint32_t, uint16_t, uint16_t>;
    mutable std::map<AreaKey, RecordBlock> blocks_;
    mutable size_t blockBytes_ = 0;
    // Areas read once so far, by a hash of their place (two sharing one are kept a reading early). An
    // area is kept from its second reading on: most workbooks give each formula blocks of its own,
    // which would fill the budget with records never read again.
    mutable std::unordered_set<uint64_t> readOnce_;
    struct BlockLock {  // guards blocks_; a new evaluation's, whatever is assigned
        BlockLock() = default;
        BlockLock(const BlockLock&) {}
        BlockLock& operator=(const BlockLock&) { return *this; }
        std::mutex mutex;
    };
    mutable BlockLock blockLock_;
};

// Areas smaller than this are read cell by cell: building them costs what reading them does.
constexpr size_t RecordsFrom = 32;
// The records built for areas stay within this many bytes; areas past it are built for each call.
constexpr size_t MaxRecordBytes = size_t{64} << 20;

// Computes every formula of book through the host. False when the evaluation has problems; the
// evaluation is complete all the same. Keeping foreign formulas, the hosts free in workers meanwhile
// help (EvaluationOptions::parallelFrom), each on a thread of its own: every answer is the one the host
// alone gives, and the formulas drawing random numbers are computed by the host, in its order.
bool EvaluateWorkbook(SubstituteHost& host, const Workbook& book, const EvaluationOptions& options, WorkbookEvaluation* evaluation,
                      Workers* workers = nullptr);

// Runs evaluate on a thread of its own and returns its answer. The random numbers' generator starts
// afresh on every thread, so a sheet or workbook evaluated there shows the same numbers however many
// were evaluated before it.
// An exception the evaluation throws (std::bad_alloc) is thrown again here, in the caller's thread.
bool OnFreshThread(const std::function<bool()>& evaluate);

struct EvaluatedSheet {
    uint32_t rows = 0;
    uint16_t columns = 0;
    std::vector<std::vector<std::string>> shown;  // rows x columns, each cell as the host shows it
    std::vector<std::string> problems;  // as WorkbookEvaluation::problems: the sheet fails
    std::vector<std::string> notes;
};

// What a cell shows while it is part of a circular reference (the host itself would show 0).
constexpr const char* CircularText = "#CIRCULAR!";

// A CSV file as a one-sheet workbook named after the file: '=' starts a formula; a number, TRUE or
// FALSE is that constant; anything else is text.
Workbook CsvWorkbook(const CsvRows& cells, const std::string& fileName);

// Evaluates a CSV sheet (fileName prefixes every message). False when the sheet has problems; shown
// is filled all the same.
bool EvaluateSheet(SubstituteHost& host, const CsvRows& cells, const std::string& fileName, EvaluatedSheet* sheet);

// Fills shown (rows, columns and each cell as the host shows it) from one sheet of an evaluation.
void ShowSheet(const WorkbookEvaluation& evaluation, uint32_t sheet, EvaluatedSheet* shown);

// The evaluated sheet as CSV (LF line ends, every row as wide as the sheet) or as an aligned table
// headed by column letters and row numbers.
std::string SheetCsv(const EvaluatedSheet& sheet);
std::string SheetTable(const EvaluatedSheet& sheet);

// Cells that differ between an evaluated sheet and its recorded answers, as "B3: gives X, expected Y";
// a missing cell counts as empty, so trailing empty cells and line ends do not matter.
std::vector<std::string> CompareSheet(const EvaluatedSheet& sheet, const CsvRows& expected);

}  // namespace quorin_host
