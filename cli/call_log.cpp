// call_log.cpp - add-in calls as JSON lines for the other doors' tests.
#include "cli/call_log.h"

#include <cstdio>

#include "engine/formula.h"

namespace quorin_host {

namespace {

void AppendString(const std::string& text, std::string* out)
{
    *out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            *out += escaped;
        } else {
            *out += c;
        }
    }
    *out += '"';
}

// One value as a custom function receives it; 17 digits read back to the same double.
void AppendScalar(const Value& v, std::string* out)
{
    char number[32];
    switch (v.kind) {
    case Kind::Number:
        std::snprintf(number, sizeof number, "%.17g", v.number);
        *out += number;
        return;
    case Kind::Text: AppendString(v.text, out); return;
    case Kind::Boolean: *out += v.boolean ? "true" : "false"; return;
    case Kind::Error:
        *out += "{\"error\":";
        AppendString(FormatValue(v), out);
        *out += '}';
        return;
    default: *out += v.missing ? "{\"missing\":true}" : "null"; return;
    }
}

void AppendRows(const CellSource& cells, const Area& area, std::string* out)
{
    *out += '[';
    for (uint32_t r = area.rowFirst; r <= area.rowLast; ++r) {
        *out += (r == area.rowFirst) ? "[" : ",[";
        for (uint32_t c = area.columnFirst; c <= area.columnLast; ++c) {
            if (c != area.columnFirst) *out += ',';
            AppendScalar(cells.CellAt(area.sheet, r, static_cast<uint16_t>(c)), out);
        }
        *out += ']';
    }
    *out += ']';
}

void AppendArgument(const CellSource& cells, const Value& v, bool range, std::string* out)
{
    if (v.kind == Kind::Array) {
        *out += '[';
        for (int32_t r = 0; r < v.rows; ++r) {
            *out += (r == 0) ? "[" : ",[";
            for (int32_t c = 0; c < v.columns; ++c) {
                if (c != 0) *out += ',';
                AppendScalar(v.elements[static_cast<size_t>(r) * static_cast<size_t>(v.columns) + static_cast<size_t>(c)], out);
            }
            *out += ']';
        }
        *out += ']';
        return;
    }
    if (v.kind != Kind::Reference || v.areas.empty()) {
        AppendScalar(v, out);
        return;
    }
    const Area& area = v.areas[0];
    const bool oneCell = area.rowFirst == area.rowLast && area.columnFirst == area.columnLast;
    if (oneCell && !range) AppendScalar(cells.CellAt(area.sheet, area.rowFirst, area.columnFirst), out);
    else AppendRows(cells, area, out);
}

// "$B$3" for "B3".
std::string AbsoluteCellName(uint32_t row, uint16_t column)
{
    const std::string name = CellName(row, column);
    const size_t digits = name.find_first_of("0123456789");
    return "$" + name.substr(0, digits) + "$" + name.substr(digits);
}

}  // namespace

std::string CallJson(const CellSource& cells, const std::string& sheet, const std::string& typeText,
                     const std::string& name, const std::vector<Value>& arguments, const Value& answer)
{
    std::string out = "{\"function\":";
    AppendString(name, &out);
    out += ",\"arguments\":[";
    for (size_t k = 0; k < arguments.size(); ++k) {
        if (k != 0) out += ',';
        AppendArgument(cells, arguments[k], k + 1 < typeText.size() && typeText[k + 1] == 'R', &out);
    }
    out += "],\"addresses\":[";
    for (size_t k = 0; k < arguments.size(); ++k) {
        if (k != 0) out += ',';
        const Value& v = arguments[k];
        if (v.kind != Kind::Reference || v.areas.size() != 1) {
            out += "null";
            continue;
        }
        const Area& a = v.areas[0];
        // The sheet's name as a formula writes it, quoted where it must be, then the corners.
        const std::string first = SheetCellName(sheet, a.rowFirst, a.columnFirst);
        std::string address = first.substr(0, first.rfind('!') + 1) + AbsoluteCellName(a.rowFirst, a.columnFirst);
        if (a.rowFirst != a.rowLast || a.columnFirst != a.columnLast) address += ":" + AbsoluteCellName(a.rowLast, a.columnLast);
        AppendString(address, &out);
    }
    out += "],\"answer\":[";
    if (answer.kind == Kind::Array) {
        for (size_t k = 0; k < answer.elements.size(); ++k) {
            if (k != 0) out += ',';
            AppendString(FormatValue(answer.elements[k]), &out);
        }
    } else {
        AppendString(FormatValue(answer), &out);
    }
    out += "]}\n";
    return out;
}

}  // namespace quorin_host
