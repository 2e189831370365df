// value.cpp - host values and their cell display.
#include "host/value.h"

#include <algorithm>
#include <cctype>

#include "rules/number.h"

namespace quorin_host {

Value Value::Number(double v) { Value r; r.kind = Kind::Number; r.number = v; return r; }
Value Value::Text(std::string s) { Value r; r.kind = Kind::Text; r.text = std::move(s); return r; }
Value Value::Boolean(bool b) { Value r; r.kind = Kind::Boolean; r.boolean = b; return r; }
Value Value::Error(uint16_t code) { Value r; r.kind = Kind::Error; r.error = code; return r; }
Value Value::Uncalculated() { Value r; r.kind = Kind::Uncalculated; return r; }
Value Value::Array(int32_t rows, int32_t columns, std::vector<Value> elements)
{
    Value r;
    r.kind = Kind::Array;
    r.rows = rows;
    r.columns = columns;
    r.elements = std::move(elements);
    return r;
}
Value Value::Row(const std::vector<double>& numbers)
{
    std::vector<Value> elements;
    for (double v : numbers) elements.push_back(Number(v));
    return Array(1, static_cast<int32_t>(numbers.size()), std::move(elements));
}
Value Value::Reference(std::vector<Area> areas) { Value r; r.kind = Kind::Reference; r.areas = std::move(areas); return r; }

std::string FormatValue(const Value& v)
{
    switch (v.kind) {
    case Kind::Empty: return "";
    case Kind::Number: return FormatNumber(v.number);
    case Kind::Text: return v.text;
    case Kind::Boolean: return v.boolean ? "TRUE" : "FALSE";
    case Kind::Uncalculated: return "#UNCALCULATED";
    case Kind::Reference: return "#REF";
    case Kind::Error:
        if (!v.text.empty()) return v.text;
        switch (v.error) {
        case xlerrNull: return "#NULL!";
        case xlerrDiv0: return "#DIV/0!";
        case xlerrValue: return "#VALUE!";
        case xlerrRef: return "#REF!";
        case xlerrName: return "#NAME?";
        case xlerrNum: return "#NUM!";
        case xlerrNA: return "#N/A";
        default: return "#ERR" + std::to_string(v.error);
        }
    case Kind::Array: {
        std::string text = "{";
        for (int32_t r = 0; r < v.rows; ++r) {
            for (int32_t c = 0; c < v.columns; ++c) {
                if (c > 0) text += ",";
                const Value& e = v.elements[static_cast<size_t>(r * v.columns + c)];
                text += (e.kind == Kind::Text) ? "\"" + e.text + "\"" : FormatValue(e);
            }
            if (r + 1 < v.rows) text += ";";
        }
        return text + "}";
    }
    }
    return "";
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return UpperAscii(x) == UpperAscii(y); });
}

}  // namespace quorin_host
