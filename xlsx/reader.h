// reader.h - reads a .xlsx workbook into a plain record: its sheets in workbook order, each
// sheet's cells with their stored values and formulas as written, the defined names, the tables and
// the cells cached from linked workbooks. Nothing is
// evaluated here; shifting a shared formula's references is the formula parser's job, from the
// offsets recorded per cell.
// Sheet parts are read as a stream, so memory follows the cells kept, not the part's size; running out
// of memory throws std::bad_alloc.
// Bad input (a corrupt or truncated archive, a CRC error, a missing part the workbook cannot do
// without, malformed XML in the workbook, relationships or shared strings, an archive bomb, no
// worksheet that can be read) gives false and one message naming the part, and the cell where there is one.
// What other readers open is read: an archive whose local headers disagree with its directory or
// that has bytes after its end record, an empty <v/> (no stored value), any dimension (a hint only),
// and the faults XlsxTolerance lists, each as LibreOffice reads it, counted in XlsxBook::tolerated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorin_host {

// What the file stores in a cell's <v> (or <is>), by its t= attribute.
enum class XlsxKind : uint8_t {
    Empty,          // no stored value (a formula cell never calculated, or a formatted blank)
    Number,         // t="n" or no t
    SharedString,   // t="s": text holds the string itself, already looked up
    InlineString,   // t="inlineStr"
    FormulaString,  // t="str": the text a formula cached
    Boolean,        // t="b"
    Error,          // t="e": text holds the error as written, e.g. "#N/A"
    Date,           // t="d": text holds the ISO 8601 date as written, kept as text
};

struct XlsxCell {
    uint32_t row = 0;     // 0-based
    uint16_t column = 0;  // 0-based
    XlsxKind kind = XlsxKind::Empty;
    double number = 0.0;
    std::string text;
    bool boolean = false;
    bool hasCached = false;  // a <v> (or <is>) was present
    bool hasFormula = false;
    std::string formula;  // as written, without '='; a shared-formula follower holds its master's text;
                          // empty for a cell of an array or spill range and for a data table
    // A shared-formula follower's offset from its master: its relative references move by as much.
    int32_t shiftRows = 0;
    int32_t shiftColumns = 0;
    bool arrayFormula = false;  // t="array": the formula's answer fills the area below, 0-based
    bool dataTable = false;     // t="dataTable": the what-if table over the area below (no formula text)
    uint32_t rowFirst = 0, rowLast = 0;
    uint16_t columnFirst = 0, columnLast = 0;
};

struct XlsxSheet {
    std::string name;
    std::string part;  // e.g. "xl/worksheets/sheet1.xml"; empty for a sheet that is not a worksheet
    std::vector<XlsxCell> cells;  // document order: by row, then column
    std::string unreadable;       // why its markup could not be read (XlsxTolerance::UnreadableSheet): no cells
};

struct XlsxName {
    std::string name;
    std::string text;        // the definition as written, e.g. "Data!$A$2:$A$7" or "2.5"
    int32_t localSheet = -1; // index into XlsxBook::sheets, or -1 for a workbook-level name
};

// A table (a list object) over an area of a worksheet, for formulas that name it: Sales[Amount].
struct XlsxTable {
    std::string name;
    size_t sheet = 0;  // index into XlsxBook::sheets
    uint32_t rowFirst = 0, rowLast = 0;  // header row, data rows and totals row
    uint16_t columnFirst = 0, columnLast = 0;
    uint32_t headerRows = 1, totalsRows = 0;
    std::vector<std::string> columns;  // names, left to right
};

// Another workbook that formulas link to as [n]: the sheets and cells this file cached from it.
struct XlsxLinkedSheet {
    std::string name;
    std::vector<XlsxCell> cells;  // values only
};
struct XlsxLink {
    std::vector<XlsxLinkedSheet> sheets;  // empty when the link's part holds no cached cells
};

// What a package holds that no writer should, read as other readers read it rather than refused.
enum class XlsxTolerance : uint8_t {
    MissingStrings,  // the shared strings the workbook names are not in the archive: there are none
    NoSuchString,    // a t="s" cell whose index names no string: no stored value, as LibreOffice shows it
    SpacedNumber,    // a number or string index written with spaces around it: the number
    OutsideRow,      // a cell whose reference lies in another row than its <row>: at its own reference
    WrittenTwice,    // a cell written twice: the last one written
    TextForNumber,   // text in a numeric cell's <v>: unreadable, #REF! for what reads it, its formula kept as stored
    MissingSheet,    // a worksheet whose part (or relationship) is not in the archive: an empty sheet
    UnreadableSheet, // a worksheet whose markup is damaged (malformed XML, a cell that does not read):
                     // no cells, and a formula of ours that reads it keeps its cached value
    UnreadableTable, // a table whose part's markup is damaged: left out, and a formula of ours naming a
                     // table not found keeps its cached value, since it may be that one
    UnreadableLink,  // a linked workbook's cache whose markup is damaged: no cells, as a missing one
};
struct XlsxTolerated {
    XlsxTolerance kind;
    size_t count = 0;
    std::string first;  // where it was first met: Sheet!A1, or the part
};
// A cell written twice in a sheet: its last element stands, a formula or not.
struct XlsxCellTwice {
    size_t sheet = 0;
    uint32_t row = 0;
    uint16_t column = 0;
    bool lastIsFormula = false;
};

struct XlsxBook {
    std::vector<XlsxSheet> sheets;
    std::vector<XlsxName> names;
    std::vector<XlsxTable> tables;
    std::vector<XlsxLink> links;  // [1] in a formula is links[0]
    std::vector<XlsxTolerated> tolerated;  // one per kind met, in the order first met
    std::vector<XlsxCellTwice> writtenTwice;
};

// One line per kind of fault tolerated, saying how many and where first, in the order first met.
std::vector<std::string> ToleratedLines(const XlsxBook& book);

// Bounds on what one workbook may cost. By default a workbook is read up to the grid's limits whatever
// its parts' sizes: a sheet is streamed, so memory follows the cells kept, and running out of it is
// std::bad_alloc. What is refused is an archive bomb: a part past bombFloorBytes inflated to more than
// bombRatio times its compressed size, judged first by the sizes its archive entry declares, then as it
// inflates, and a part inflating past the size its entry declares. The other bounds are off unless set.
struct XlsxLimits {
    uint64_t maxPartBytes = UINT64_MAX;   // inflated size of one part
    uint64_t maxTotalBytes = UINT64_MAX;  // inflated size of all parts read
    size_t maxCells = SIZE_MAX;           // cells in all sheets
    // Sheet markup as spreadsheets write it, every cell with its reference, deflates 8 to 21 times
    // (styled blanks, numbers, shared formulas, empty rows with heights); zeros or blanks without
    // references reach deflate's limit, about 1,030. Below the floor a part costs too little to matter,
    // and every part read before these bounds (256 MiB at most) is read still.
    uint64_t bombFloorBytes = uint64_t{256} << 20;
    uint64_t bombRatio = 100;
    // Parts are inflated and parsed in pieces of this size, so that a lying or hostile part costs no
    // more than its bound and a sheet is never whole in memory; any size reads the same workbook.
    size_t pieceBytes = 64 * 1024;
    // A part declaring at least this inflated size is inflated on a thread of its own, a few pieces
    // ahead of its parsing, and a sheet read for its cells is parsed on another, a few batches of
    // cells ahead of their reader; smaller parts cost less than starting the threads.
    uint64_t aheadFrom = uint64_t{1} << 20;
};

// Reads the workbook at path; on false, book is incomplete and error names the part (and cell).
bool ReadXlsx(const std::string& path, XlsxBook* book, std::string* error, const XlsxLimits& limits = XlsxLimits());

// Takes each cell of a worksheet as it is read: sink(sheet, cell), sheet an index into XlsxBook::sheets.
using XlsxCellSink = std::function<void(size_t sheet, const XlsxCell& cell)>;
// The same, the sheets' cells handed to sink and never held: XlsxSheet::cells stays empty. A sheet's
// cells come in its order, but for shared-formula followers written before their master, which come
// once the sheet is read; a sheet that turns out damaged may have handed over cells before it failed.
bool ReadXlsx(const std::string& path, XlsxBook* book, const XlsxCellSink& sink, std::string* error,
              const XlsxLimits& limits = XlsxLimits());
// The same from bytes in memory (the fuzz target's entry point).
bool ReadXlsxBuffer(const void* data, size_t size, XlsxBook* book, std::string* error,
                    const XlsxLimits& limits = XlsxLimits());

}  // namespace quorin_host
