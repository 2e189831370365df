// number.cpp - the number grammar and the General display.
#include "rules/number.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t DigitsFrom(std::string_view text, size_t at)
{
    size_t end = at;
    while (end < text.size() && IsDigit(text[end])) ++end;
    return end - at;
}

#if !defined(_LIBCPP_VERSION)
// Decimal order of magnitude of an unsigned literal that from_chars found out of range: positive means
// it overflowed, negative that it underflowed.
long OrderOfMagnitude(std::string_view literal)
{
    long order = 0;
    bool seenPoint = false, seenDigit = false;
    size_t at = 0;
    for (; at < literal.size() && (IsDigit(literal[at]) || literal[at] == '.'); ++at) {
        const char c = literal[at];
        if (c == '.') { seenPoint = true; continue; }
        if (!seenDigit && c == '0') { if (seenPoint) --order; continue; }
        if (!seenDigit) seenDigit = true;
        if (!seenPoint) ++order;
    }
    if (at < literal.size()) {
        // The exponent's digits may be many; the sign of the sum is all that matters, so clamp them.
        const bool negative = literal[at + 1] == '-';
        const size_t digitsAt = at + 1 + ((literal[at + 1] == '-' || literal[at + 1] == '+') ? 1 : 0);
        long exponent = 0;
        for (size_t k = digitsAt; k < literal.size() && exponent < 100000; ++k) exponent = exponent * 10 + (literal[k] - '0');
        order += negative ? -exponent : exponent;
    }
    return order;
}
#endif

}  // namespace

size_t NumberLength(std::string_view text)
{
    const size_t whole = DigitsFrom(text, 0);
    size_t at = whole;
    size_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        fraction = DigitsFrom(text, at + 1);
        at += 1 + fraction;
    }
    if (whole == 0 && fraction == 0) return 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        const size_t signAt = at + 1;
        const size_t sign = (signAt < text.size() && (text[signAt] == '+' || text[signAt] == '-')) ? 1 : 0;
        const size_t exponent = DigitsFrom(text, signAt + sign);
        if (exponent > 0) at = signAt + sign + exponent;
    }
    return at;
}

NumberRead ParseNumber(std::string_view text, double* value)
{
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view literal = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? text.substr(1) : text;
    const size_t length = NumberLength(literal);
    if (length == 0 || length != literal.size()) return NumberRead::NotANumber;
    double magnitude = 0.0;
#if !defined(_LIBCPP_VERSION)
    const std::from_chars_result read = std::from_chars(literal.data(), literal.data() + literal.size(), magnitude);
    if (read.ec == std::errc::result_out_of_range) {
        if (OrderOfMagnitude(literal) > 0) return NumberRead::Overflow;
        magnitude = 0.0;
    } else if (read.ec != std::errc() || read.ptr != literal.data() + literal.size()) {
        return NumberRead::NotANumber;
    }
#else
    // A C++ library without from_chars for doubles (libc++ 14, the WebAssembly build's): the C
    // library's strtod, correctly rounded as well and locale-free there, on the literal the grammar
    // has already checked. Past the largest double it answers infinity; below the smallest
    // subnormal, zero: the same two outcomes as above.
    const std::string terminated(literal);
    magnitude = std::strtod(terminated.c_str(), nullptr);
    if (std::isinf(magnitude)) return NumberRead::Overflow;
#endif
    *value = negative ? -magnitude : magnitude;
    return NumberRead::Ok;
}

bool ReadSpacedNumber(std::string_view text, double* value)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return false;
    return ParseNumber(text.substr(first, text.find_last_not_of(' ') - first + 1), value) == NumberRead::Ok;
}

std::string FormatNumber(double v)
{
    if (!std::isfinite(v)) return "#NUM!";
    if (v == 0.0) return "0";
    // Shortest round-trip digits in exponent form, "-d.ddde+XX", then laid out as General would.
    char buffer[64];
    const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof(buffer), v, std::chars_format::scientific);
    const std::string_view scientific(buffer, static_cast<size_t>(written.ptr - buffer));
    const size_t e = scientific.find('e');
    const bool negative = scientific[0] == '-';
    std::string digits;
    for (size_t k = negative ? 1 : 0; k < e; ++k) {
        if (scientific[k] != '.') digits += scientific[k];
    }
    const int exponent = std::atoi(std::string(scientific.substr(e + 1)).c_str());
    std::string shown = negative ? "-" : "";
    if (exponent < -9 || exponent > 10) {
        shown += digits.substr(0, 1);
        if (digits.size() > 1) shown += "." + digits.substr(1);
        const int size = std::abs(exponent);
        shown += exponent < 0 ? "E-" : "E+";
        shown += (size < 10 ? "0" : "") + std::to_string(size);
    } else if (exponent < 0) {
        shown += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const size_t whole = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            shown += digits + std::string(whole - digits.size(), '0');
        } else {
            shown += digits.substr(0, whole) + "." + digits.substr(whole);
        }
    }
    return shown;
}

