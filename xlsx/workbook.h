// workbook.h - a .xlsx workbook as the workbook engine takes it, and the engine's results set
// against what the file cached: which recomputed cells differ, by how much, and the cached values a
// recalculated copy must store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/workbook.h"
#include "xlsx/reader.h"
#include "xlsx/writer.h"

namespace quorin_host {

// Every sheet in file order (chart sheets too, empty, so that sheet numbers agree), every stored value
// and formula (a formula with no text, in an array, spill range or data table, as its stored value),
// the defined names other than the spreadsheet's own (_xlnm.: print areas, filters), which formulas
// never name, the tables, and the linked workbooks' cached cells.
Workbook ToWorkbook(const XlsxBook& xlsx);

// The same read straight from the file at path, a cell at a time, so that the file's cell records are
// never held: xlsx gets the rest (sheets, names, tables, links), its sheets without cells. A cell with
// no stored value is kept as blank, so that the copy knows which cells the file has.
bool ReadWorkbook(const std::string& path, XlsxBook* xlsx, Workbook* book, std::string* error,
                  const XlsxLimits& limits = XlsxLimits());

// What a cell stored, as a value: an error by its text (one the host does not know, #SPILL!, keeps
// its text and reads as #N/A), a string of any kind as text, and no stored value as empty.
Value StoredValue(const XlsxCell& cell);

enum class Agreement {
    Same,           // the same bits, text or error
    Near,           // numbers within the tolerance, but not the same bits
    Far,            // numbers further apart than the tolerance
    OtherKind,      // a number against an error, text against a number, ...
};

struct CellComparison {
    Agreement agreement = Agreement::Same;
    uint64_t ulps = 0;  // numbers: how many doubles apart, 0 for +0 against -0
};

// Doubles apart along the number line (finite values).
uint64_t UlpDistance(double a, double b);

// A computed value against the value the file cached. A computed error compares as it would be stored
// (StoredErrorText: the add-in's failure is stored as #N/A), a computed number that is not finite as
// #NUM!, a computed empty as 0, as the spreadsheet shows a formula reading an empty cell, and a
// computed -0 as the 0 the spreadsheet stores for it.
CellComparison CompareCached(const Value& cached, const Value& computed, uint64_t toleranceUlps);

// One cell a computed formula fills (an array formula: every cell of its area), against its cache.
struct RecomputedCell {
    size_t sheet = 0;
    uint32_t row = 0;
    uint16_t column = 0;
    std::string formula;       // as written (an array formula's in braces, for every cell of its area;
                               // a shared one's with the cell it is written for)
    bool inFile = false;       // the file has an element for the cell (a copy can only update those)
    Value cached, computed;
    CellComparison comparison;
};

// A formula that depends on the add-in but was not brought up to date (FormulaOutcome::Stale).
struct StaleFormula {
    size_t sheet = 0;
    uint32_t row = 0;
    uint16_t column = 0;
    std::string formula;  // as RecomputedCell::formula
    std::string reason;
};

struct BookComparison {
    std::vector<RecomputedCell> cells;  // reading order: every recomputed cell, or as CompareBook keeps
    std::vector<StaleFormula> stale;    // reading order
    size_t recomputed = 0, matching = 0, differing = 0, keptCached = 0;
};

// Which recomputed cells a comparison keeps: all, those not the same bits as their cache (what check
// reports and a copy rewrites), or none (the counts only). Millions of cells are compared in little
// memory when few are kept.
enum class KeepCells { All, NotSame, None };

// The evaluation of book against the values book cached; book as ToWorkbook or ReadWorkbook make it
// (its cells sealed for reading).
BookComparison CompareBook(const Workbook& book, const WorkbookEvaluation& evaluation, uint64_t toleranceUlps,
                           KeepCells keep = KeepCells::All);

// The same, every recomputed cell not the same bits as its cache handed to visit as it is compared,
// in reading order (an array formula's area with its first cell), none kept: cells stays empty. A
// report goes out as it is found, in memory that does not grow with the differences. Only the
// evaluation's formulas [first, last) are compared when given: threads may compare parts at once.
BookComparison CompareBook(const Workbook& book, const WorkbookEvaluation& evaluation, uint64_t toleranceUlps,
                           const std::function<void(const RecomputedCell& cell)>& visit, size_t first = 0,
                           size_t last = SIZE_MAX);

// The updates that make a copy cache what was computed: every cell in the file whose cached value
// is not the computed one bit for bit; from a comparison that kept them, or from the evaluation itself.
std::vector<CachedUpdate> UpdatesFor(const BookComparison& comparison);
std::vector<CachedUpdate> UpdatesFor(const Workbook& book, const WorkbookEvaluation& evaluation);

}  // namespace quorin_host
