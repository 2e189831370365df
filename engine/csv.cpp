// csv.cpp - fields and rows out of CSV text, and a field written so that it reads back the same.
#include "engine/csv.h"

namespace quorin_host {

bool ReadCsv(const std::string& text, CsvRows* rows, std::string* error)
{
    rows->clear();
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, fieldStarted = false;
    size_t line = 1, quoteLine = 0;
    // "CSV UTF-8" files start with a byte-order mark; it is no part of the first cell.
    const size_t start = (text.compare(0, 3, "\xEF\xBB\xBF") == 0) ? 3 : 0;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        const bool lineEnd = c == '\n' || c == '\r';
        // CRLF is one line end; a lone CR is one too, as older systems save text.
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                if (lineEnd) ++line;
                field += c;
                if (c == '\r' && text[i] == '\n') field += '\n';
            }
            continue;
        }
        if (c == '"' && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
            quoteLine = line;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            fieldStarted = false;
        } else if (lineEnd) {
            row.push_back(field);
            rows->push_back(row);
            row.clear();
            field.clear();
            fieldStarted = false;
            ++line;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        if (error != nullptr) *error = "line " + std::to_string(quoteLine) + ": quoted field never ends";
        return false;
    }
    if (fieldStarted || !row.empty()) {
        row.push_back(field);
        rows->push_back(row);
    }
    return true;
}

std::string CsvField(const std::string& text)
{
    const bool plain = text.find_first_of(",\"\r\n") == std::string::npos &&
                       (text.empty() || (text.front() != ' ' && text.back() != ' '));
    if (plain) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace quorin_host
