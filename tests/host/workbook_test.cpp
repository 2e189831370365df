// workbook_test.cpp - CSV reading and whole-sheet recalculation through the host with the module loaded.
#include "host/workbook.h"

#include "module_fixture.h"

namespace quorin_test {
namespace {

using quorin_host::CsvRows;
using quorin_host::EvaluatedSheet;

struct CsvCase {
    const char* text;
    CsvRows rows;
    const char* source;
};

TEST(ReadCsv, ReadsQuotedFieldsAndEitherLineEnd)
{
    const CsvCase cases[] = {
        {"a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}, "plain, LF"},
        {"a,b\r\n1,2", {{"a", "b"}, {"1", "2"}}, "CRLF, no final line end"},
        {"\"=f({1,2},3)\",x\n", {{"=f({1,2},3)", "x"}}, "commas inside quotes stay in the field"},
        {"\"say \"\"hi\"\"\",\n", {{"say \"hi\"", ""}}, "doubled quote, trailing empty field"},
        {"\"two\nlines\",z\n", {{"two\nlines", "z"}}, "line break inside quotes"},
        {",,\n\n", {{"", "", ""}, {""}}, "empty fields and an empty line"},
    };
    for (const CsvCase& c : cases) {
        SCOPED_TRACE(c.source);
        CsvRows rows;
        std::string error;
        ASSERT_TRUE(quorin_host::ReadCsv(c.text, &rows, &error)) << error;
        EXPECT_EQ(rows, c.rows);
    }
}

TEST(ReadCsv, UnterminatedQuoteNamesItsLine)
{
    CsvRows rows;
    std::string error;
    EXPECT_FALSE(quorin_host::ReadCsv("a\nb,\"open\n", &rows, &error));
    EXPECT_EQ(error, "line 2: quoted field never ends");
}

TEST(CsvField, ReadsBackAsTheSameText)
{
    for (const std::string text : {"", "plain", "a,b", "say \"hi\"", " edge", "two\nlines", "#ERR999"}) {
        CsvRows rows;
        ASSERT_TRUE(quorin_host::ReadCsv(quorin_host::CsvField(text) + "\n", &rows, nullptr));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0], std::vector<std::string>{text});
    }
}

class WorkbookTest : public ModuleTest {
protected:
    EvaluatedSheet Evaluate(const char* csv, bool expectSuccess = true)
    {
        CsvRows cells;
        EXPECT_TRUE(quorin_host::ReadCsv(csv, &cells, nullptr));
        EvaluatedSheet sheet;
        EXPECT_EQ(quorin_host::EvaluateSheet(host, cells, "t.csv", &sheet), expectSuccess);
        return sheet;
    }
};

struct ShownCase {
    const char* csv;
    CsvRows shown;
    const char* source;
};

TEST_F(WorkbookTest, ShowsWhatTheHostWouldShow)
{
    const ShownCase cases[] = {
        {"0,1.5,-2e-3,TRUE,word\n", {{"0", "1.5", "-0.002", "TRUE", "word"}}, "constants stay as typed, numbers in shortest form"},
        {"inf,0x10, 7 \n", {{"inf", "0x10", "7"}}, "only decimal text is a number"},
        {"\"=Interp1({1,1,2},{1,2,3},1,1)\"\n", {{"#NUM!"}}, "0/0 from a repeated x shows as #NUM!"},
        {"\"=StudentT(\"\"ten\"\")\"\n", {{"#VALUE!"}}, "the host refuses text for an integer argument"},
        {"\"=LLSQ({0,1},{1,3},1)\"\n", {{"#ERR999"}}, "the add-in's failure value by its code"},
        {"=StudentT(-1)\n", {{"999"}}, "a number 999 is not the failure value"},
        {"=C1,x\n", {{"0", "x"}}, "a reference to an empty cell shows 0"},
        {"\"=LLSQ({0,1,2},{1,3,5},2)\",,x\n", {{"1", "2", "x"}}, "a row answer fills the cells to its right"},
    };
    for (const ShownCase& c : cases) {
        SCOPED_TRACE(c.source);
        const EvaluatedSheet sheet = Evaluate(c.csv);
        EXPECT_EQ(sheet.shown, c.shown);
    }
}

TEST_F(WorkbookTest, FormulaReadingALaterFormulaIsRetriedOnceThatIsComputed)
{
    // A1 reads the row that A2 spills and A3's count; each is computed after A1 in row order.
    const EvaluatedSheet sheet = Evaluate(
        "\"=Polynomial(A2:C2,2)\",=StudentT(A3)\n"
        "\"=LLSQ({0,1,2,3},{1,3,5,7.5},3)\"\n"
        "\"=CountBetween({1,2,3},0,10)\"\n");
    const Value row = Call("LLSQ", {Value::Row({0, 1, 2, 3}), Value::Row({1, 3, 5, 7.5}), Value::Number(3)});
    ASSERT_EQ(row.kind, Kind::Array);
    const double expected = Number("Polynomial", {row, Value::Number(2)});
    EXPECT_EQ(sheet.shown[0][0], quorin_host::FormatNumber(expected));
    EXPECT_EQ(sheet.shown[0][1], "3.182449214762066");  // StudentT(3), from the function's reference table
    EXPECT_TRUE(sheet.problems.empty());
}

TEST_F(WorkbookTest, CircularReferenceIsReportedAndLeavesOtherCellsComputed)
{
    const EvaluatedSheet sheet = Evaluate(
        "\"=Polynomial(B1:B1,2)\",\"=Polynomial(A1:A1,2)\",=StudentT(1)\n"
        "\"=CountBetween(A1:B1,0,1)\",=StudentT(2)\n",
        false);
    EXPECT_EQ(sheet.shown, (CsvRows{{"#CIRCULAR!", "#CIRCULAR!", "12.706150300808995"}, {"#CIRCULAR!", "4.302655726745257", ""}}));
    ASSERT_EQ(sheet.problems.size(), 1u);
    EXPECT_EQ(sheet.problems[0], "t.csv: circular reference: A1, B1, A2 wait on each other, or on cells that do");
}

TEST_F(WorkbookTest, FormulaReadingItsOwnSpillIsCircular)
{
    const EvaluatedSheet sheet = Evaluate("\"=Polynomial(B1:C1,2)\"\n", false);
    EXPECT_EQ(sheet.shown[0][0], "#CIRCULAR!");
}

TEST_F(WorkbookTest, RowAnswerStopsAtACellThatHoldsSomething)
{
    const EvaluatedSheet sheet = Evaluate("\"=LLSQ({0,1,2,3},{1,3,5,7},3)\",,kept\n");
    EXPECT_EQ(sheet.shown[0][2], "kept");
    EXPECT_FALSE(sheet.shown[0][1].empty());
    ASSERT_EQ(sheet.notes.size(), 1u);
    EXPECT_EQ(sheet.notes[0], "t.csv: A1: answer is 3 cells wide; only 2 are free to show it");
}

TEST_F(WorkbookTest, UnparsableFormulaIsNamedByFileCellAndColumn)
{
    const EvaluatedSheet sheet = Evaluate("1\n2,\"=Spline({0,1,2,3},{0,1,8,27},1.5\"\n", false);
    ASSERT_EQ(sheet.problems.size(), 1u);
    EXPECT_EQ(sheet.problems[0], "t.csv: B2: column 33: expected ',' or ')': =Spline({0,1,2,3},{0,1,8,27},1.5");
}

TEST_F(WorkbookTest, UnknownFunctionShowsNameErrorAndFailsTheSheet)
{
    const EvaluatedSheet sheet = Evaluate("=Nope(1)\n", false);
    EXPECT_EQ(sheet.shown[0][0], "#NAME?");
    ASSERT_EQ(sheet.problems.size(), 1u);
    EXPECT_EQ(sheet.problems[0], "t.csv: A1: column 2: unknown function Nope: =Nope(1)");
}

TEST(CompareSheet, IgnoresTrailingEmptyCellsAndNamesDifferences)
{
    EvaluatedSheet sheet;
    sheet.shown = {{"1", "", ""}, {"", "2", ""}};
    sheet.rows = 2;
    sheet.columns = 3;
    EXPECT_TRUE(quorin_host::CompareSheet(sheet, {{"1"}, {"", "2"}, {}}).empty());
    EXPECT_EQ(quorin_host::CompareSheet(sheet, {{"1"}, {"", "3"}, {"x"}}),
              (std::vector<std::string>{"B2: gives \"2\", expected \"3\"", "A3: gives \"\", expected \"x\""}));
}

}  // namespace
}  // namespace quorin_test
