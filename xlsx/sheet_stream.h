// sheet_stream.h - a worksheet part read as a stream of cells: each <c> of <sheetData> is handed over
// as soon as it is parsed, with its position, its attributes, its formula and stored value as written
// and where its bytes lie, so that reading or rewriting a sheet holds one cell and one inflated chunk,
// never the part or a tree of it. Internal to quorin_xlsx; callers use reader.h and writer.h.
#pragma once

#include <zip.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xlsx/reader.h"

namespace quorin_host {

// One <c> element as written. Text is as the XML gives it (entities resolved); the format's own
// _xHHHH_ escapes are decoded in inlineText only, the one field that is a string item.
struct CellMarkup {
    uint32_t row = 0;     // 0-based; a row or cell without r= follows the previous one
    uint16_t column = 0;
    bool outsideRow = false;  // its reference names another row than its <row>'s: it is placed there
    std::string name;     // the element's name, with any namespace prefix; only when copying
    std::vector<std::pair<std::string, std::string>> attributes;  // in the order written; only when copying
    std::string type;     // t=, empty when absent
    bool hasFormula = false;
    std::string formulaType, formulaRef, formulaShared, formulaText;  // <f>'s t=, ref=, si= and text
    bool hasValue = false;
    std::string value;    // <v>'s text
    bool hasInline = false;
    std::string inlineText;  // <is>: its <t>, or its rich-text runs' <t>; phonetic runs are not its text
    // Byte offsets in the part. The element is [begin, end); its content starts at contentBegin (== end
    // for an empty-element tag); <v> and <is> (the first of each) lie at [valueBegin, valueEnd) and
    // [inlineBegin, inlineEnd), empty ranges when absent; formulaEnd ends <f>, 0 when absent. These
    // and emptyElement are kept only when the part is copied: all are 0 otherwise.
    uint64_t begin = 0, end = 0, contentBegin = 0;
    uint64_t valueBegin = 0, valueEnd = 0, inlineBegin = 0, inlineEnd = 0, formulaEnd = 0;
    bool emptyElement = false;
};

// visit(cell, raw, replacement, error) for every cell in document order; raw is the element's bytes
// when a copy is made (empty otherwise). A replacement left empty keeps the cell's bytes. False from
// visit stops the read with its error.
using CellMarkupVisitor =
    std::function<bool(const CellMarkup& cell, std::string_view raw, std::string* replacement, std::string* error)>;

// Reads the part's cells, counted against the same bounds as ReadPart. With copy, the part's bytes go
// there as they were, but for the cells visit replaced. False, naming the part (and the cell or row),
// for a damaged part, malformed XML, an entity declaration (a sheet has none to expand), a reference
// that does not parse or lies past the sheet's bounds. Running out of memory throws std::bad_alloc.
// *refused, when given, tells such faults of the markup (and visit's refusals) from a damaged part.
bool StreamSheetCells(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
                      const CellMarkupVisitor& visit, std::string* copy, std::string* error, bool* refused = nullptr);
// The same, the copy handed to copied after each piece (and at the end, last true), which may take its
// bytes and leave it empty: the copy is then never whole in memory.
using CopyDrain = std::function<void(std::string* copy, bool last)>;
bool StreamSheetCells(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
                      const CellMarkupVisitor& visit, std::string* copy, const CopyDrain& copied, std::string* error,
                      bool* refused = nullptr);

// Text as the format escapes it in a string item: _xHHHH_ stands for the character U+HHHH.
std::string DecodeText(const char* text);

}  // namespace quorin_host
