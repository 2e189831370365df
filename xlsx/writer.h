// writer.h - writes a copy of a .xlsx workbook in which only the cached values of given cells
// change: each such cell's <v> and t= are rewritten; its formula, style and every other cell stay as
// they were, and every part other than the sheets touched is copied from the source as it is stored.
// The workbook's calculation settings are left alone: formula cells keep their place in the
// calculation chain, and nothing asks the spreadsheet to recalculate on opening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "xlsx/reader.h"

namespace quorin_host {

enum class CachedKind : uint8_t { Number, Error, Boolean, String };

struct CachedUpdate {
    size_t sheet = 0;     // index into XlsxBook::sheets
    uint32_t row = 0;     // 0-based
    uint16_t column = 0;  // 0-based
    CachedKind kind = CachedKind::Number;
    double number = 0.0;  // a number that is not finite is stored as the error #NUM!
    std::string text;     // the string, or the error as the host shows it (see StoredErrorText)
    bool boolean = false;
};

// The error text a cell may store for an error the host shows: the spreadsheet knows only its own
// error values, and opening a file with another one fails, so any other error (the add-in's failure,
// shown as #ERR999) is stored as #N/A, the value for "no answer available", which formulas can test
// for with ISNA. A comparison with a stored value must map the computed error the same way.
std::string StoredErrorText(const std::string& shownError);

// Writes the copy beside out under a temporary name and renames it into place only once complete,
// so a failure never leaves a partial file at out. Every updated cell must exist in the source's
// sheet; false, naming the part and cell, otherwise. out == in replaces the source: whether that is
// allowed is the caller's decision.
// Sheets are rewritten as a stream: an edited sheet's bytes are copied but for the updated cells, and
// memory holds the edited part once, not a tree of it; limits bound and piece the reading as ReadXlsx's.
bool WriteRecalculated(const std::string& in, const std::string& out, const std::vector<CachedUpdate>& updates,
                       std::string* error, const XlsxLimits& limits = XlsxLimits());

}  // namespace quorin_host
