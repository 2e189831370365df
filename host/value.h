// value.h - a value as the host sees it (a cell's content, an argument or an answer), the host's codes
// beyond the ones the module reads, and how a value shows in a cell.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "addin/host_api.h"

namespace quorin_host {

// Record types the host uses beyond the ones the module reads.
constexpr uint16_t xltypeBool = 4;
constexpr uint16_t xltypeMissing = 128;
constexpr uint16_t xltypeNil = 256;

// Callback answers beyond success and "uncalculated".
constexpr int xlretInvXlfn = 2;
constexpr int xlretFailed = 32;

// Host error codes as the host shows them.
constexpr uint16_t xlerrNull = 0, xlerrDiv0 = 7, xlerrRef = 23, xlerrName = 29, xlerrNum = 36, xlerrNA = 42;

// A rectangle of cells, 0-based and inclusive; row up to 1,048,575, column up to 16,383; sheet is the
// workbook's index of the sheet it lies on (0 for a lone sheet). It travels inside the reference record.
struct Area {
    uint32_t rowFirst = 0, rowLast = 0;
    uint16_t columnFirst = 0, columnLast = 0;
    uint32_t sheet = 0;
};
static_assert(sizeof(Area) <= sizeof(XLOPER{}.val.area), "an area travels inside a reference record");

enum class Kind { Empty, Number, Text, Boolean, Error, Uncalculated, Array, Reference };

// A value as the host sees it: a cell's content, an argument or an answer.
struct Value {
    Kind kind = Kind::Empty;
    double number = 0.0;
    std::string text;
    bool boolean = false;
    uint16_t error = 0;
    int32_t rows = 0, columns = 0;   // Array
    std::vector<Value> elements;     // Array, row-major
    std::vector<Area> areas;         // Reference
    bool multiArea = false;          // Reference: passed as a multi-area record even with one area
    bool missing = false;            // Empty: an argument left out, f(a,,b), passed as a missing one

    static Value Number(double v);
    static Value Text(std::string s);
    static Value Boolean(bool b);
    static Value Error(uint16_t code);
    static Value Uncalculated();
    static Value Array(int32_t rows, int32_t columns, std::vector<Value> elements);
    static Value Row(const std::vector<double>& numbers);
    static Value Reference(std::vector<Area> areas);
};

// A value as the host would show it in a cell: numbers, text, TRUE/FALSE, #VALUE!, #ERR999, ...; an
// error that carries text (one a file stored that the host does not know, #SPILL!) shows that text.
std::string FormatValue(const Value& v);

// Names (of functions, sheets, defined names) and words (TRUE, error values) compare without regard
// to case, as the host compares them.
bool SameText(std::string_view a, std::string_view b);
// A letter in upper case, by ASCII whatever the process's locale (names are compared by the million).
inline char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace quorin_host
