// number_test.cpp - the one number grammar and the General display, both builds alike.
#include <cfloat>
#include <cmath>

#include <gtest/gtest.h>

#include "rules/number.h"

namespace {

struct GrammarCase { const char* text; NumberRead read; double value; const char* fault; };
constexpr GrammarCase GrammarCases[] = {
    {"2.5", NumberRead::Ok, 2.5, "plain decimal refused"},
    {"-.5", NumberRead::Ok, -0.5, "leading point or sign refused"},
    {"3.", NumberRead::Ok, 3.0, "trailing point refused, as the sheet takes it"},
    {"1E+3", NumberRead::Ok, 1000.0, "upper-case exponent with sign refused"},
    {"1e-400", NumberRead::Ok, 0.0, "underflow treated as an error instead of rounding to zero"},
    {"4.9e-324", NumberRead::Ok, 4.9e-324, "smallest subnormal lost"},
    {"1e400", NumberRead::Overflow, 0.0, "overflow read as infinity"},
    {"1000000000000e300", NumberRead::Overflow, 0.0, "overflow through the mantissa's digits missed"},
    {"0x10", NumberRead::NotANumber, 0.0, "hexadecimal accepted"},
    {"inf", NumberRead::NotANumber, 0.0, "infinity word accepted"},
    {"nan", NumberRead::NotANumber, 0.0, "nan word accepted"},
    {"1e", NumberRead::NotANumber, 0.0, "dangling exponent accepted"},
    {" 1", NumberRead::NotANumber, 0.0, "surrounding space accepted by the grammar itself"},
    {".", NumberRead::NotANumber, 0.0, "lone point accepted"},
    {"--1", NumberRead::NotANumber, 0.0, "double sign accepted"},
};

TEST(ParseNumber, AcceptsTheSheetsGrammarOnly)
{
    for (const GrammarCase& c : GrammarCases) {
        SCOPED_TRACE(c.fault);
        double value = -7.0;
        EXPECT_EQ(ParseNumber(c.text, &value), c.read) << c.text;
        if (c.read == NumberRead::Ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(NumberLength, StopsWhereTheLiteralEnds)
{
    EXPECT_EQ(NumberLength("12.5e3+1"), 6u);  // the formula reader's + is an operator
    EXPECT_EQ(NumberLength("1e+x"), 1u);       // "1" then a name: an exponent needs digits
    EXPECT_EQ(NumberLength("x1"), 0u);
}

struct DisplayCase { double value; const char* shown; const char* fault; };
const DisplayCase DisplayCases[] = {
    {100000.0, "100000", "exponent form for a number General shows plainly"},
    {0.0001, "0.0001", "exponent form for a small number that fits"},
    {-0.0, "0", "negative zero shown with its sign"},
    {0.1 + 0.2, "0.30000000000000004", "digits rounded away: no round trip"},
    {12345678901.5, "12345678901.5", "plain range ends too early"},
    {1e11, "1E+11", "plain form past the column General fills"},
    {-1.5e-10, "-1.5E-10", "small number not in exponent form"},
    {DBL_MAX, "1.7976931348623157E+308", "three-digit exponent mangled"},
    {HUGE_VAL, "#NUM!", "infinity shown as a number"},
};

TEST(FormatNumber, GeneralWhereItFitsRoundTripDigitsAlways)
{
    for (const DisplayCase& c : DisplayCases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(FormatNumber(c.value), c.shown);
        double back = 0.0;
        if (std::isfinite(c.value)) {
            ASSERT_EQ(ParseNumber(FormatNumber(c.value), &back), NumberRead::Ok);
            EXPECT_EQ(back, c.value);
        }
    }
}

}  // namespace
