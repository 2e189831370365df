// formula_test.cpp - the formula language: precedence and conversions, its limits, reference shifting.
#include "engine/evaluate.h"
#include "engine/formula.h"
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

namespace {

using quorin_host::Formula;

struct ShownCase {
    std::string formula;
    const char* shown;
    const char* fault;
};

std::string Repeated(const std::string& part, size_t count)
{
    std::string text;
    for (size_t k = 0; k < count; ++k) text += part;
    return text;
}

// Evaluated with no workbook and no calls: the operators and conversions alone, and the longest and
// deepest formulas the reader accepts.
TEST(EvaluateFormula, OperatorsFollowTheSpreadsheetsPrecedenceConversionsAndLimits)
{
    const ShownCase cases[] = {
        {"=1+2*3", "7", "* binds tighter than +"},
        {"=2^3^2", "64", "^ is left-associative"},
        {"=-2^2", "4", "unary minus binds tighter than ^"},
        {"=2*-3%", "-0.06", "% applies to its operand, after the sign"},
        {"=1-2-3", "-4", "- is left-associative"},
        {"=1+2=3", "TRUE", "comparison binds loosest"},
        {"=1&2+3", "15", "& binds looser than +"},
        {"=\"a\"&1.5&TRUE&\"\"\"\"", "a1.5TRUE\"", "& shows numbers and booleans as cells do; \"\" is a quote"},
        {"=100000&\"\"", "100000", "& uses the cell display, not 1e+05"},
        {"=\" 3 \"*2", "6", "text that reads as a number, spaces around it, counts in arithmetic"},
        {"=\"0x10\"+0", "#VALUE!", "hexadecimal text is not a number"},
        {"=TRUE+TRUE", "2", "TRUE counts as 1"},
        {"=1/0", "#DIV/0!", "division by zero"},
        {"=1e308*10", "#NUM!", "an overflowing result is no number"},
        {"=0^0", "#NUM!", "0^0 has no value"},
        {"=(-8)^(1/3)", "#NUM!", "a negative base to a fractional power"},
        {"=#N/A+\"x\"", "#N/A", "the leftmost operand's error comes first"},
        {"=\"x\"+#N/A", "#N/A", "an error operand propagates even beside text that is no number"},
        {"=1<\"a\"", "TRUE", "numbers sort before text"},
        {"=\"z\"<FALSE", "TRUE", "text sorts before booleans"},
        {"=\"ABC\"=\"abc\"", "TRUE", "text compares without regard to case"},
        {"=A1=0", "TRUE", "an empty cell compares as 0"},
        {"=A1&\"x\"", "x", "an empty cell joins as \"\""},
        {"={1,2}+1", "#VALUE!", "no array arithmetic: a multi-element operand is #VALUE!"},
        {"={-1.5}*2", "-3", "a one-element array is its element; negative numbers in array constants"},
        {"=--\"2\"", "2", "double negation turns text into a number"},
        {"=A1", "0", "an answer that is a reference reads the cell; empty shows 0"},
        {"=A:A", "#VALUE!", "a whole column is a range, more rows than an answer may read"},
        {"=" + Repeated("(", 255) + "1" + Repeated(")", 255), "1", "255 levels of parentheses are allowed"},
        {"=" + Repeated("-", 8000) + "1", "1", "a long run of signs costs no stack"},
        {"=" + Repeated("1+", 4095) + "10", "4105", "exactly 8,192 characters after '='"},
        {"=" + Repeated("_xll.Nope(", 64) + "1" + Repeated(")", 64), "#NAME?", "64 nested calls read; _xll. is dropped"},
    };
    quorin_host::SubstituteHost& host = quorin_test::TestHost();
    host.sheet = quorin_host::Sheet{};
    for (const ShownCase& c : cases) {
        SCOPED_TRACE(c.fault);
        Formula f;
        std::string error;
        size_t column = 0;
        ASSERT_TRUE(quorin_host::ParseFormula(c.formula, &f, &error, &column)) << error << " at " << column;
        EXPECT_EQ(quorin_host::FormatValue(quorin_host::Evaluate(host, f, &error)), c.shown) << c.formula;
    }
}

struct RefusedCase {
    std::string formula;
    size_t column;
    const char* error;
    const char* fault;
};

TEST(ParseFormula, RefusesWhatItCannotReadWithTheColumn)
{
    const std::string calls65 = "=" + Repeated("f(", 65) + "1" + Repeated(")", 65);
    const RefusedCase cases[] = {
        {"=1e400", 2, "number too large for a double: 1e400", "an overflowing literal is not infinity"},
        {"=Polynomial({1,2},0x10)", 20, "expected ',' or ')'", "no hexadecimal literals"},
        {"=inf", 0, nullptr, "inf is a name, not a number (it reads; evaluating it gives #NAME?)"},
        {calls65, 130, "more than 64 levels of nested calls", "the host's nesting limit"},
        {"=" + Repeated("(", 4000) + "1" + Repeated(")", 4000), 257, "more than 255 levels of nested parentheses and calls",
         "deep parentheses refused before the stack is"},
        {"=" + Repeated("1+", 4096) + "1", 8194, "the formula is longer than 8,192 characters", "the host's length limit"},
        {"='My data!A1", 2, "unterminated sheet name", "a quoted sheet name must end"},
        {"=A1:", 5, "expected a cell after ':'", "a range needs its second corner"},
        {"={1,2;3}", 8, "array rows differ in length", "array constants are rectangles"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.fault);
        Formula f;
        std::string error;
        size_t column = 0;
        const bool parsed = quorin_host::ParseFormula(c.formula, &f, &error, &column);
        EXPECT_EQ(parsed, c.error == nullptr);
        if (c.error == nullptr) continue;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(column, c.column);
    }
}

// The nodes that say what a formula reads and calls, as "F()", "Sheet!A1:B2", "[1]Sheet!A1", "Name",
// "Sheet!Name", "Table[detail]", and "_" for an empty argument.
std::string Found(const Formula& f)
{
    std::string text;
    for (const quorin_host::Node& n : f.nodes) {
        std::string item;
        switch (n.type) {
        case quorin_host::NodeType::Call: item = n.name + "()"; break;
        case quorin_host::NodeType::Name: item = (n.detail.empty() ? "" : n.detail + "!") + n.name; break;
        case quorin_host::NodeType::Table: item = n.name + "[" + n.detail + "]"; break;
        case quorin_host::NodeType::Reference:
            item = (n.link == 0 ? "" : "[" + std::to_string(n.link) + "]") + (n.name.empty() ? "" : n.name + "!") +
                   quorin_host::CellName(n.area.rowFirst, n.area.columnFirst) +
                   (n.area.rowFirst == n.area.rowLast && n.area.columnFirst == n.area.columnLast
                        ? "" : ":" + quorin_host::CellName(n.area.rowLast, n.area.columnLast));
            break;
        case quorin_host::NodeType::Literal: item = f.LiteralOf(n).missing ? "_" : ""; break;
        default: break;
        }
        if (!item.empty()) text += (text.empty() ? "" : " ") + item;
    }
    return text;
}

struct ScanCase {
    const char* formula;
    const char* scanned;  // ScanFormula, in the order written
    const char* parsed;   // ParseFormula, operands first; nullptr where the grammar refuses the text
    const char* fault;
};

// What workbooks kept by people write: the scan must find every call and reference even where the
// grammar stops, and the grammar must read what the module's arguments may hold (issue 19).
TEST(ScanFormula, FindsCallsAndReferencesWhereverTheGrammarStops)
{
    const ScanCase cases[] = {
        {"=SUM(Table1[Column3])", "SUM() Table1[Column3]", "Table1[Column3] SUM()", "a table reference"},
        {"=Sales[[#This Row],[Amount]]*2", "Sales[[#This Row],[Amount]]", "Sales[[#This Row],[Amount]]", "nested brackets end the table early"},
        {"=IF(A1,,StudentT(B2))", "IF() A1 StudentT() B2", "A1 _ B2 StudentT() IF()", "an empty argument"},
        {"=[1]Sheet1!A1+StudentT(3)", "[1]Sheet1!A1 StudentT()", "[1]Sheet1!A1 StudentT()", "a link hides the call after it"},
        {"='[2]My data'!A1:A3", "[2]My data!A1:A3", "[2]My data!A1:A3", "a quoted link keeps its number"},
        {"=_xll.StudentT(Data!Rate)", "StudentT() Data!Rate", "Data!Rate StudentT()", "a sheet-qualified name; _xll. kept"},
        {"=SUM((A1,B2))", "SUM() A1 B2", nullptr, "the union's second area lost"},
        {"=SUM(A1:B5 B2:C9)", "SUM() A1:B5 B2:C9", nullptr, "the intersection's second area lost"},
        {"=SUM(A1:OFFSET(A1,2,0))", "SUM() A1 OFFSET() A1", nullptr, "A1:OFFSET(..) loses its first corner or the call"},
        {"=SUM(Sheet1:Sheet3!B2)", "SUM() Sheet1:Sheet3!B2", nullptr, "a 3-D reference names one sheet"},
        {"=_xlfn.LAMBDA(_xlpm.x,_xlpm.x+1)(A1)", "_xlfn.LAMBDA() _xlpm.x _xlpm.x A1", nullptr, "the argument after LAMBDA(..) lost"},
        {"=\"StudentT(1)\"&'My sheet'!$B$2", "My sheet!B2", "My sheet!B2", "text taken for a call"},
        {"=StudentT(10", "StudentT()", nullptr, "a formula the grammar refuses hides its call"},
        {"=A:A+1:2", "A1:A1048576 A1:XFD2", "A1:A1048576 A1:XFD2", "whole columns and rows"},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(std::string(c.formula) + ": " + c.fault);
        EXPECT_EQ(Found(quorin_host::ScanFormula(c.formula)), c.scanned);
        Formula f;
        EXPECT_EQ(quorin_host::ParseFormula(c.formula, &f, nullptr, nullptr), c.parsed != nullptr);
        EXPECT_EQ(Found(f), c.parsed != nullptr ? c.parsed : "");
    }
}

struct ShiftCase {
    const char* formula;
    int32_t rows, columns;
    const char* shifted;
    const char* fault;
};

std::string ReferenceText(const Formula& f, const quorin_host::Node& n)
{
    if (n.type != quorin_host::NodeType::Reference) return quorin_host::FormatValue(f.LiteralOf(n));
    return (n.name.empty() ? "" : n.name + "!") + quorin_host::CellName(n.area.rowFirst, n.area.columnFirst) + ":" +
           quorin_host::CellName(n.area.rowLast, n.area.columnLast);
}

TEST(ShiftReferences, MovesRelativeCornersOnly)
{
    const ShiftCase cases[] = {
        {"=B3", 2, 1, "C5:C5", "both parts relative"},
        {"=$B$3", 2, 1, "B3:B3", "both parts absolute"},
        {"=B$3", 2, 1, "C3:C3", "absolute row, relative column"},
        {"=$B3", 2, 1, "B5:B5", "absolute column, relative row"},
        {"=A$1:A1", 4, 0, "A1:A5", "a running range: the first corner stays"},
        {"=A5:A$3", 4, 0, "A3:A9", "corners given in reverse keep their own marks"},
        {"='My data'!B2", -1, -1, "My data!A1:A1", "a sheet-qualified reference moves too"},
        {"=A1", -1, 0, "#REF!", "moved off the sheet"},
        {"=B:$C", 5, 1, "C1:C1048576", "a whole column keeps its rows; the $ column stays"},
        {"=Data!$2:3", 1, 1, "Data!A2:XFD4", "whole rows keep their columns"},
    };
    for (const ShiftCase& c : cases) {
        SCOPED_TRACE(c.fault);
        Formula f;
        ASSERT_TRUE(quorin_host::ParseFormula(c.formula, &f, nullptr, nullptr));
        quorin_host::ShiftReferences(&f, c.rows, c.columns);
        EXPECT_EQ(ReferenceText(f, f.nodes.back()), c.shifted);
    }
}

struct MovedCase {
    const char* model;   // read at row 5 (0-based 4)
    int32_t rows;        // rows further down the text is
    const char* text;
    bool made;           // made from the model, not read afresh
    const char* fault;
};

// Every node's every field, so that a tree made from a moved model differs from the one read from
// the text in nothing, positions included.
std::string Dump(const Formula& f)
{
    std::string text;
    for (const quorin_host::Node& n : f.nodes) {
        text += std::to_string(static_cast<int>(n.type)) + "," + std::to_string(n.first) + "," + std::to_string(n.column) + "," +
                std::to_string(n.argumentCount) + "," + n.name + "," + n.detail + "," + std::to_string(n.link) + "," +
                quorin_host::CellName(n.area.rowFirst, n.area.columnFirst) + quorin_host::CellName(n.area.rowLast, n.area.columnLast) + "," +
                std::to_string(n.absolute) + "," + std::to_string(n.length) + "," +
                (n.type == quorin_host::NodeType::Literal ? quorin_host::FormatValue(f.LiteralOf(n)) : "") + ";";
    }
    return text;
}

// The reader's own reading of the text is the oracle; a text that is not the model moved is read afresh.
TEST(ReadMovedFormula, MakesWhatReadingGivesOrDeclines)
{
    const MovedCase cases[] = {
        {"=_xll.Interp1(Table!$A$1:$A$1000,Table!$B$1:$B$1000,B5,0)", 1, "=_xll.Interp1(Table!$A$1:$A$1000,Table!$B$1:$B$1000,B6,0)", true, "the common case"},
        {"=B9+C9*2", 1, "=B10+C10*2", true, "positions after a reference that grew not moved on"},
        {"=B5+C5", 3, "=B8+C8", true, "a move of more than one row"},
        {"='My data'!A5*2+[1]Data!$B5", 1, "='My data'!A6*2+[1]Data!$B6", true, "a quoted sheet or a link taken for part of the cell"},
        {"=B5 + 1", 1, "=B6 + 1", true, "the space after a reference counted into it"},
        {"=A5&\"A5\"", 1, "=A6&\"A5\"", true, "text inside quotes taken for a reference"},
        {"=A5&\"A5\"", 1, "=A6&\"A6\"", false, "a changed text constant accepted"},
        {"=B5", 1, "=B7", false, "a reference moved by another count accepted"},
        {"=B5:B5", 1, "=B5:B6", false, "a cell written as a range: its first corner taken for a sheet"},
        {"=b5*2", 1, "=b6*2", false, "letters in lower case written back in capitals"},
        {"=SUM(A:A)+A5", 1, "=SUM(A:A)+A6", false, "whole columns written back as cells"},
        {"=A5*2", -5, "=A0*2", false, "a reference moved off the sheet"},
        {"=B5*2", 1, "=B60*2", false, "digits after the moved reference taken for the same text"},
    };
    for (const MovedCase& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + ": " + c.model + " -> " + c.text);
        for (const bool scanned : {false, true}) {
            Formula model, made, read;
            if (scanned) {
                quorin_host::ScanFormula(c.model, &model);
                quorin_host::ScanFormula(c.text, &read);
            } else {
                ASSERT_TRUE(quorin_host::ParseFormula(c.model, &model, nullptr, nullptr));
                quorin_host::ParseFormula(c.text, &read, nullptr, nullptr);
            }
            EXPECT_EQ(quorin_host::ReadMovedFormula(c.model, model, c.rows, 0, c.text, &made), c.made) << (scanned ? "scanned" : "parsed");
            if (c.made) {
                EXPECT_EQ(Dump(made), Dump(read)) << (scanned ? "scanned" : "parsed");
            }
        }
    }
}

}  // namespace
