// number.h - the one grammar of a number, used wherever text becomes a number (sheet cells, formula
// literals, text in arithmetic, command-line arguments), and the one way a number is shown.
// A number is decimal digits with an optional point and fraction (or a point and a fraction), then
// an optional exponent: e or E, an optional sign and digits. No hexadecimal, no "inf" or "nan" words,
// no thousands separators. A magnitude past the largest double is an error, not infinity; one below
// the smallest subnormal reads as zero, as the spreadsheet rounds it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class NumberRead { Ok, NotANumber, Overflow };

// Length of the unsigned number at the start of text, 0 when text does not start with one. A formula
// reader takes this many characters as one literal; "1e" is the number 1 followed by "e".
size_t NumberLength(std::string_view text);

// The whole of text, with an optional leading sign, as a number.
NumberRead ParseNumber(std::string_view text, double* value);

// Text as a cell takes it typed in, or as arithmetic reads it: a number with spaces around it.
bool ReadSpacedNumber(std::string_view text, double* value);

// As the spreadsheet's General format shows a number that fits its column: plain decimals from 1E-09
// up to below 1E+11, the exponent form (1.5E+20, 2E-10) outside that range, and in both the shortest
// digits that read back as the same double. Zero of either sign shows as 0. Non-finite values have
// no cell form and show as #NUM!.
std::string FormatNumber(double v);
