// csv.h - the CSV reader and writer of sheets: RFC 4180 fields (commas, double quotes around a field,
// "" for a quote inside one), as spreadsheets save them: a UTF-8 byte-order mark at the start is
// skipped, and lines end in LF, CRLF or a lone CR.
#pragma once

#include <string>
#include <vector>

namespace quorin_host {

using CsvRows = std::vector<std::vector<std::string>>;

// False, with the line in error, for a quoted field that never ends.
bool ReadCsv(const std::string& text, CsvRows* rows, std::string* error);
// One field as ReadCsv reads it back: quoted when it holds a comma, quote, line break or edge space.
std::string CsvField(const std::string& text);

}  // namespace quorin_host
