// workbook_test.cpp - CSV reading and whole-sheet recalculation through the host with the module loaded.
#include "engine/workbook.h"

#include <new>

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
        {"\xEF\xBB\xBF" "1,2\n", {{"1", "2"}}, "a byte-order mark read into A1, making it text"},
        {"a\rb\r", {{"a"}, {"b"}}, "lone CR line ends making the whole file one cell"},
        {"a\r\n\r\nb", {{"a"}, {""}, {"b"}}, "CRLF counted as two line ends"},
        {"\"x\ry\",z\r", {{"x\ry", "z"}}, "a CR inside quotes taken as a line end"},
        {"\"x\r\ny\"\n", {{"x\r\ny"}}, "CRLF inside quotes losing a byte"},
        {"a,\xEF\xBB\xBF", {{"a", "\xEF\xBB\xBF"}}, "a mark skipped anywhere but at the start"},
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
    EXPECT_FALSE(quorin_host::ReadCsv("a\r\"b\rc", &rows, &error));
    EXPECT_EQ(error, "line 2: quoted field never ends") << "a lone CR not counted as a line";
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
        {"=B1+1,,x\n", {{"1", "", "x"}}, "an operator answers no array: reading its empty neighbour is no cycle"},
        {"=B1,,x\n", {{"0", "", "x"}}, "a one-cell reference answers no array either"},
        {"\"=LLSQ({0,1,2},{1,3,5},2)\",,\"=A1:B1\"\n", {{"1", "2", "1", "2"}}, "a range answer spills like a call's"},
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
    EXPECT_EQ(sheet.shown[0][0], FormatNumber(expected));
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

TEST_F(WorkbookTest, EachBadCellShowsItsErrorAndTheOthersAreComputed)
{
    const EvaluatedSheet sheet = Evaluate("=Nope(1),=StudentT(1;2),\"=StudentT(1,2)\",=StudentT(),=StudentT(10)*2,=1+nope\n", false);
    EXPECT_EQ(sheet.shown, (CsvRows{{"#NAME?", "#NAME?", "#VALUE!", "#VALUE!", "4.456282207349865", "#NAME?"}}));
    EXPECT_EQ(sheet.problems, (std::vector<std::string>{
                                  "t.csv: A1: column 2: unknown function Nope: =Nope(1)",
                                  "t.csv: B1: column 12: expected ',' or ')': =StudentT(1;2)",
                                  "t.csv: C1: column 2: StudentT takes 1 argument, not 2: =StudentT(1,2)",
                                  "t.csv: D1: column 2: StudentT takes 1 argument, not 0: =StudentT()",
                                  "t.csv: F1: column 4: unknown name nope: =1+nope",
                              }));
}

// A formula made ready by another goes before every later formula ready from the start, so random
// numbers are drawn in the order of the sheet written without the wait.
TEST_F(WorkbookTest, AFormulaMadeReadyGoesBeforeLaterOnesReadyFromTheStart)
{
    EvaluatedSheet waiting, plain;
    quorin_host::OnFreshThread([&] { return waiting = Evaluate("\"=RandDist(B2,1)\"\n,\"=Polynomial({5},0)\"\n\"=RandDist(0,1)\"\n"), true; });
    quorin_host::OnFreshThread([&] { return plain = Evaluate("\"=RandDist(5,1)\"\n\"=RandDist(0,1)\"\n"), true; });
    EXPECT_EQ(waiting.shown[0][0], plain.shown[0][0]) << "A1 drew after A3";
    EXPECT_EQ(waiting.shown[2][0], plain.shown[1][0]);
}

// Chains long enough that a rescan per formula, or recursion per link, would show; the 100,000-row
// chains are timed from the command line.
TEST_F(WorkbookTest, ChainsAreComputedInEitherDirection)
{
    constexpr int32_t Rows = 20000;
    std::string up, down = "1\n";
    for (int32_t r = 1; r < Rows; ++r) {
        up += "=A" + std::to_string(r + 1) + "+1\n";
        down += "=A" + std::to_string(r) + "+1\n";
    }
    up += "1\n";
    for (const std::string* csv : {&up, &down}) {
        const EvaluatedSheet sheet = Evaluate(csv->c_str());
        const size_t last = (csv == &up) ? 0 : Rows - 1;
        EXPECT_EQ(sheet.shown[last][0], std::to_string(Rows));
    }
}

// Interp1 through a table point answers that point's value exactly, so a call handed records of the
// table built before its values were computed, or another area's, shows.
TEST_F(WorkbookTest, AnAreaReadByManyCallsIsBuiltOnceItsCellsAreComputed)
{
    std::string csv;
    for (int32_t r = 1; r <= 40; ++r) {
        csv += std::to_string(r) + ",\"=Polynomial({1,2,0.5},A" + std::to_string(r) + ")\"";
        if (r <= 3) csv += ",\"=Interp1(A$1:A$40,B$1:B$40,A" + std::to_string(10 * r) + ",0)\",\"=Interp1(A$1:A$39,B$1:B$39,A1,0)\"";
        if (r == 4) csv += ",\"=Interp1(A$1:A$40,A$1:A$40,A5,0)\"";
        csv += "\n";
    }
    const EvaluatedSheet sheet = Evaluate(csv.c_str());
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(sheet.shown[r][2], sheet.shown[10 * (r + 1) - 1][1]) << "row " << r + 1;
        EXPECT_EQ(sheet.shown[r][3], sheet.shown[0][1]) << "an area's records handed for another area";
    }
    // An area lent to the module rather than copied, for both of one call's ranges: its release is
    // the module's due, not a release of something the host never filled.
    EXPECT_EQ(sheet.shown[3][2], "5");
    EXPECT_EQ(host.releaseViolations, 0) << "a lent area's release counted as a violation";
    EXPECT_EQ(host.Outstanding(), 0u) << "a lent area left outstanding";
    // Text in a built area: its records point into text the area keeps, copied out for each call (the
    // sanitizer build sees a pointer left to freed text); the add-in refuses text both times.
    std::string withText;
    for (int32_t r = 1; r <= 40; ++r) withText += (r == 7 ? std::string("w") : std::to_string(r)) + (r <= 2 ? ",\"=CountBetween(A1:A40,0,9)\"" : "") + "\n";
    const EvaluatedSheet counted = Evaluate(withText.c_str());
    EXPECT_EQ(counted.shown[0][1], "#ERR999");
    EXPECT_EQ(counted.shown[1][1], "#ERR999") << "a built area's text read differently the second time";
}

quorin_host::WorkbookFormula Written(const char* text, int32_t shiftRows = 0)
{
    quorin_host::WorkbookFormula formula;
    formula.text = text;
    formula.shiftRows = shiftRows;
    return formula;
}

TEST_F(WorkbookTest, ACycleThroughANameIsCircular)
{
    quorin_host::Workbook book;
    book.AddSheet("S");
    book.names.push_back({"Next", -1, "S!$A$2"});
    book.SetFormula(0, 0, 0, Written("=Next+1"));
    book.SetFormula(0, 1, 0, Written("=A1*2"));
    book.SetFormula(0, 2, 0, Written("=StudentT(10)"));
    quorin_host::WorkbookEvaluation evaluation;
    EXPECT_FALSE(quorin_host::EvaluateWorkbook(host, book, {}, &evaluation));
    EXPECT_EQ(evaluation.problems, std::vector<std::string>{"circular reference: A1, A2 wait on each other, or on cells that do"});
    EXPECT_EQ(evaluation.formulas[2].outcome, quorin_host::FormulaOutcome::Computed);
}

// A workbook as a file reader fills one: sheets, names, shared and array formulas, cached values.
TEST_F(WorkbookTest, WorkbookReferencesSheetsNamesSharedAndArrayFormulas)
{
    using quorin_host::FormulaOutcome;
    quorin_host::Workbook book;
    const uint32_t data = book.AddSheet("Data"), mine = book.AddSheet("My data"), calc = book.AddSheet("Calc");
    // Data!A1:A3 hold 1, 2, 3 through the module, so that the formulas reading them are recomputed.
    for (uint32_t r = 0; r < 3; ++r) book.SetFormula(data, r, 0, Written(r == 0 ? "=Polynomial({1},0)" : r == 1 ? "=Polynomial({2},0)" : "=Polynomial({3},0)"));
    book.SetValue(mine, 1, 1, Value::Number(10));
    book.names.push_back({"Rate", -1, "0.5"});
    book.names.push_back({"Last", -1, "Data!$A$3"});
    book.names.push_back({"Alias", -1, "Last"});
    book.names.push_back({"Loop", -1, "Loop2"});
    book.names.push_back({"Loop2", -1, "Loop+Loop"});
    struct Entry { uint32_t sheet, row; uint16_t column; quorin_host::WorkbookFormula formula; };
    quorin_host::WorkbookFormula area = Written("=_xll.LLSQ({1,2,3},{3,5,7},2)");
    area.overArea = true;
    area.area = quorin_host::Area{2, 2, 0, 1};
    const auto cached = [](const char* text, double value) {
        quorin_host::WorkbookFormula f = Written(text);
        f.hasCached = true;
        f.cached = Value::Number(value);
        return f;
    };
    const Entry entries[] = {
        {data, 0, 1, Written("=Calc!B3*10")},                 // reads a cell of a later sheet's array formula
        {data, 1, 1, Written("=A1*10", 1)},                // shared formula written for B1: reads A2 here
        {data, 2, 1, Written("=$A$1+A1", 2)},              // the absolute corner stays
        {calc, 0, 0, Written("=Data!A2*'My data'!B2+Rate")},
        {calc, 1, 0, Written("=Nowhere!A1")},
        {calc, 2, 0, area},
        {calc, 3, 0, cached("SUM(1,2)", 3)},
        {calc, 4, 0, Written("=A4+Polynomial({1},0)")},     // reads the cached value of the formula before
        {calc, 5, 0, Written("=Last*2")},
        {calc, 6, 0, cached("=SUM(Data!A1:A3)", 99)},         // reads recomputed cells through a built-in
        {calc, 7, 0, cached("=A7+1", 100)},
        {calc, 8, 0, Written("=Alias*3")},
        {calc, 9, 0, cached("=StudentT(Loop)", 5)},
        {calc, 12, 3, Written("=StudentT(T[[#This Row],[v]])")},
    };
    // A table on Calc!C12:C13, its area's own sheet field left 0 as the package reader leaves it.
    book.tables.push_back({"T", calc, quorin_host::Area{11, 12, 2, 2, 0}, 1, 0, {"v"}});
    book.SetValue(calc, 12, 2, Value::Number(10));
    for (const Entry& e : entries) book.SetFormula(e.sheet, e.row, e.column, e.formula);
    quorin_host::EvaluationOptions options;
    options.keepForeignFormulas = true;
    quorin_host::WorkbookEvaluation evaluation;
    EXPECT_TRUE(quorin_host::EvaluateWorkbook(host, book, options, &evaluation)) << ::testing::PrintToString(evaluation.problems);
    const struct { uint32_t sheet, row; uint16_t column; const char* shown; const char* fault; } cells[] = {
        {data, 0, 1, "20", "dependency order across sheets, into an array formula's area"},
        {data, 1, 1, "20", "shared formula shifted one row"},
        {data, 2, 1, "4", "shared formula keeps its absolute corner"},
        {calc, 0, 0, "20.5", "quoted sheet names, a name for a constant"},
        {calc, 1, 0, "", "a formula of no add-in call computed (here: an unknown sheet's #REF!) instead of kept"},
        {calc, 2, 1, "2", "the array answer fills the formula's area"},
        {calc, 3, 0, "3", "a foreign function's formula keeps its cached value"},
        {calc, 4, 0, "4", "a formula reading it reads the cached value"},
        {calc, 5, 0, "6", "a name for a cell on another sheet"},
        {calc, 6, 0, "99", "a built-in reading recomputed cells is computed or cleared instead of left stale"},
        {calc, 7, 0, "100", "a formula reading a stale one computed from the stale value"},
        {calc, 8, 0, "9", "a name defined as another name is unknown (issue 19)"},
        {calc, 9, 0, "5", "names defined through each other followed without end, or once per use (2^32 times)"},
        {calc, 12, 3, "2.2281411036749326", "a table on a later sheet read from the first sheet"},
    };
    for (const auto& c : cells) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(quorin_host::FormatValue(evaluation.CellAt(c.sheet, c.row, c.column)), c.shown);
    }
    EXPECT_EQ(evaluation.keptCached, 2u);
    EXPECT_EQ(evaluation.stale, 3u);
    ASSERT_EQ(evaluation.formulas.size(), 17u);
    EXPECT_EQ(evaluation.formulas[8].outcome, FormulaOutcome::Computed);  // reading order: Calc!A3, the LLSQ
    EXPECT_EQ(quorin_host::FormatValue(evaluation.Answer(8)), "{1,2}");
    EXPECT_EQ(evaluation.formulas[9].outcome, FormulaOutcome::KeptCached);
    EXPECT_EQ(evaluation.Reason(12), "calls SUM, which the engine does not compute");
}

TEST_F(WorkbookTest, ArrayFormulaAreaRepeatsASingleRowAndPadsWithNA)
{
    quorin_host::Workbook book;
    book.AddSheet("S");
    quorin_host::WorkbookFormula formula = Written("=LLSQ({0,1,2},{1,3,5},2)");
    formula.overArea = true;
    formula.area = quorin_host::Area{0, 1, 0, 2};
    book.SetFormula(0, 0, 0, formula);
    book.SetValue(0, 1, 2, Value::Number(7));  // a cached value inside the area is overwritten
    quorin_host::WorkbookEvaluation evaluation;
    ASSERT_TRUE(quorin_host::EvaluateWorkbook(host, book, {}, &evaluation));
    for (uint32_t r = 0; r < 2; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(quorin_host::FormatValue(evaluation.CellAt(0, r, 0)), "1");
        EXPECT_EQ(quorin_host::FormatValue(evaluation.CellAt(0, r, 1)), "2");
        EXPECT_EQ(quorin_host::FormatValue(evaluation.CellAt(0, r, 2)), "#N/A");
    }
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

// An exception leaving a std::thread's function ends the process: out of memory while evaluating
// would be a crash instead of a message.
TEST(OnFreshThread, HandsBackWhatTheEvaluationThrows)
{
    EXPECT_THROW(quorin_host::OnFreshThread([]() -> bool { throw std::bad_alloc(); }), std::bad_alloc);
}
