// workbook_test.cpp - .xlsx workbooks recalculated through the module and compared with their cache.
#include "xlsx/workbook.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <set>

#include "engine/workers.h"
#include "module_fixture.h"

namespace quorin_test {
namespace {

using namespace quorin_host;

const std::string Workbooks = QUORIN_WORKBOOKS;

TEST(CompareCached, CountsUlpsAndComparesErrorsAsStored)
{
    const double x = 2.2281411036749326, tiny = std::numeric_limits<double>::denorm_min();
    const double up1 = std::nextafter(x, 3.0), up2 = std::nextafter(up1, 3.0);
    const struct {
        Value cached, computed;
        uint64_t tolerance;
        Agreement agreement;
        const char* fault;
    } cases[] = {
        {Value::Number(x), Value::Number(x), 0, Agreement::Same, "equal numbers counted as differing"},
        {Value::Number(x), Value::Number(up1), 0, Agreement::Far, "a last-digit difference passes without a tolerance"},
        {Value::Number(x), Value::Number(up1), 1, Agreement::Near, "a tolerance of one ulp does not admit one ulp"},
        {Value::Number(x), Value::Number(up2), 1, Agreement::Far, "a tolerance admits one ulp more than asked"},
        {Value::Number(-tiny), Value::Number(tiny), 1, Agreement::Far, "ulps miscounted across zero"},
        {Value::Number(0.0), Value::Number(-0.0), 0, Agreement::Same, "a computed -0 not compared as the 0 it is stored as (issue 19)"},
        {Value::Error(xlerrNA), Value::Error(999), 0, Agreement::Same, "the add-in's failure not compared as it is stored (#N/A)"},
        {Value::Error(xlerrNA), Value::Error(xlerrNum), 0, Agreement::OtherKind, "errors compared by kind only"},
        {Value::Number(999), Value::Error(999), 1000, Agreement::OtherKind, "an error compared as its code"},
        {Value::Error(xlerrNum), Value::Number(std::numeric_limits<double>::infinity()), 0, Agreement::Same,
         "a number with no cell form not compared as the #NUM! it is stored as"},
        {Value::Number(0.0), Value{}, 0, Agreement::Same, "a formula reading an empty cell not compared as 0"},
        {Value::Text("AB"), Value::Text("ab"), 0, Agreement::OtherKind, "text compared without case"},
        {Value::Boolean(true), Value::Number(1.0), 0, Agreement::OtherKind, "TRUE taken for 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(CompareCached(c.cached, c.computed, c.tolerance).agreement, c.agreement);
    }
    EXPECT_EQ(UlpDistance(x, up2), 2u);
}

class XlsxCheck : public ModuleTest {
protected:
    // Differing cells as Sheet!Cell, read, recalculated and compared.
    std::set<std::string> Differing(const std::string& file, uint64_t tolerance, BookComparison* comparison)
    {
        XlsxBook xlsx;
        std::string error;
        EXPECT_TRUE(ReadXlsx(Workbooks + "/" + file, &xlsx, &error)) << error;
        EvaluationOptions options;
        options.keepForeignFormulas = true;
        WorkbookEvaluation evaluation;
        const Workbook book = ToWorkbook(xlsx);
        EXPECT_TRUE(EvaluateWorkbook(host, book, options, &evaluation)) << ::testing::PrintToString(evaluation.problems);
        *comparison = CompareBook(book, evaluation, tolerance);
        std::set<std::string> cells;
        for (const RecomputedCell& c : comparison->cells) {
            if (c.comparison.agreement == Agreement::Far || c.comparison.agreement == Agreement::OtherKind) {
                cells.insert(SheetCellName(xlsx.sheets[c.sheet].name, c.row, c.column));
            }
        }
        return cells;
    }
};

TEST_F(XlsxCheck, FindsEveryPlantedDifferenceAndNoOther)
{
    std::set<std::string> planted;
    std::ifstream list(Workbooks + "/planted.txt");
    for (std::string line; std::getline(list, line);) planted.insert(line);
    ASSERT_FALSE(planted.empty());
    BookComparison comparison;
    EXPECT_EQ(Differing("planted.xlsx", 0, &comparison), planted);
    EXPECT_EQ(comparison.differing, planted.size());
    // Plain, _xll., other sheets, names, operators, the failure, five shared-formula cells and the
    // four cells of the LLSQ array.
    EXPECT_EQ(comparison.cells.size(), 8u + 5u + 4u) << "a recomputed cell left out of the comparison";
    EXPECT_EQ(comparison.keptCached, 3u) << "formulas of no add-in call (SUM, UPPER, one reading SUM's cell) not kept and counted";
    EXPECT_EQ(Differing("quorin_test.xlsx", 0, &comparison), std::set<std::string>()) << "a cell the spreadsheet would cache differs";
    EXPECT_EQ(UpdatesFor(comparison).size(), 0u) << "a copy would rewrite values that are already right";
}

TEST_F(XlsxCheck, ToleranceAdmitsTheLastDigitOnly)
{
    BookComparison comparison;
    const std::set<std::string> differing = Differing("planted.xlsx", 1, &comparison);
    EXPECT_EQ(differing.count("Model!B2"), 0u) << "one ulp apart still differs at --tolerance 1";
    EXPECT_EQ(differing.count("Model!D4"), 1u) << "a difference in the 12th digit admitted";
}

// Issue 19: a formula of ours that does not read no longer fails the workbook; it is left stale.
TEST_F(XlsxCheck, UnreadableFormulaIsStaleWithItsColumn)
{
    XlsxBook xlsx;
    xlsx.sheets.resize(2);
    xlsx.sheets[0].name = "Data";
    xlsx.sheets[1].name = "My model";
    XlsxCell cell;
    cell.row = 2;
    cell.column = 1;
    cell.hasFormula = true;
    cell.formula = "StudentT(10";
    xlsx.sheets[1].cells.push_back(cell);
    WorkbookEvaluation evaluation;
    EXPECT_TRUE(EvaluateWorkbook(host, ToWorkbook(xlsx), EvaluationOptions{"book.xlsx", true, false}, &evaluation));
    ASSERT_EQ(evaluation.formulas.size(), 1u);
    EXPECT_EQ(evaluation.formulas[0].outcome, FormulaOutcome::Stale);
    EXPECT_EQ(evaluation.Reason(0), "column 12: expected ',' or ')'");
}

// The data sheet damaged half-way (the cells it handed over before the damage dropped), or the table
// the formulas name: the formulas of ours reading what could not be read keep their cached values,
// saying why, instead of computing on nothing.
TEST_F(XlsxCheck, FormulasReadingADamagedPartAreStale)
{
    const struct {
        const char* file;
        const char* reason;
        size_t matching;  // formulas that read nothing damaged, computed as before
    } cases[] = {
        {"damaged_data.xlsx", "reads sheet Data, which could not be read", 11},
        {"damaged_table.xlsx", "names a table not found, which may be the one whose part could not be read", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        XlsxBook xlsx;
        Workbook book;
        std::string error;
        ASSERT_TRUE(ReadWorkbook(Workbooks + "/" + c.file, &xlsx, &book, &error)) << error;
        if (c.matching > 0) {
            EXPECT_FALSE(book.values.Has(1, 1, 0)) << "Data!A2, read before the damage, kept";
        }
        WorkbookEvaluation evaluation;
        EvaluateWorkbook(host, book, EvaluationOptions{c.file, true, false}, &evaluation);
        const BookComparison comparison = CompareBook(book, evaluation, 0);
        EXPECT_EQ(comparison.differing, 0u) << "a formula computed over what could not be read";
        EXPECT_EQ(comparison.matching, c.matching);
        ASSERT_FALSE(comparison.stale.empty());
        for (const StaleFormula& f : comparison.stale) EXPECT_EQ(f.reason, c.reason);
    }
}

// Formulas computed ahead on two workers a window of two at a time are settled as one worker computes
// them: an answer taken from another window's place, or a chained formula computed ahead, shows.
TEST_F(XlsxCheck, ComputedAheadInWindowsAsOnOneWorker)
{
    for (const char* file : {"ours_chains.xlsx", "ours_ranges.xlsx", "ours_table.xlsx", "planted.xlsx"}) {
        SCOPED_TRACE(file);
        Workbook book;
        XlsxBook xlsx;
        std::string error;
        ASSERT_TRUE(ReadWorkbook(Workbooks + "/" + file, &xlsx, &book, &error)) << error;
        EvaluationOptions options{file, true, false};
        WorkbookEvaluation alone, windowed;
        EvaluateWorkbook(host, book, options, &alone);
        Workers workers(host, 2);
        options.earlyWindow = 2;
        const HostLease lease = workers.Take();
        EvaluateWorkbook(*lease.hosts[0], book, options, &windowed, &workers);
        ASSERT_EQ(windowed.formulas.size(), alone.formulas.size());
        for (size_t k = 0; k < alone.formulas.size(); ++k) {
            EXPECT_EQ(windowed.formulas[k].outcome, alone.formulas[k].outcome) << "formula " << k;
            EXPECT_EQ(FormatValue(windowed.Answer(k)), FormatValue(alone.Answer(k))) << "formula " << k;
        }
    }
}

// Read cell by cell into the engine, a workbook evaluates as it does read whole, also with its
// formulas scanned and parsed ahead on a second thread; a comparison that keeps fewer cells counts the
// same and keeps every cell a copy rewrites.
TEST_F(XlsxCheck, StreamedIntoTheEngineAsReadWhole)
{
    for (const char* file : {"planted.xlsx", "shared_before_master.xlsx", "ours_ranges.xlsx", "ours_table.xlsx", "ours_link.xlsx"}) {
        SCOPED_TRACE(file);
        XlsxBook whole, streamed;
        Workbook book;
        std::string error;
        ASSERT_TRUE(ReadXlsx(Workbooks + "/" + file, &whole, &error)) << error;
        ASSERT_TRUE(ReadWorkbook(Workbooks + "/" + file, &streamed, &book, &error)) << error;
        EXPECT_TRUE(streamed.sheets[0].cells.empty()) << "the file's cell records held beside the engine's";
        const Workbook read = ToWorkbook(whole);
        WorkbookEvaluation fromWhole, fromStream;
        EvaluationOptions ahead{file, true, false};
        ahead.aheadFrom = 0;
        EvaluateWorkbook(host, read, EvaluationOptions{file, true, false}, &fromWhole);
        EvaluateWorkbook(host, book, ahead, &fromStream);
        ASSERT_EQ(fromStream.formulas.size(), fromWhole.formulas.size()) << "a formula lost (a follower before its master?)";
        for (size_t k = 0; k < fromWhole.formulas.size(); ++k) {
            EXPECT_EQ(fromStream.formulas[k].outcome, fromWhole.formulas[k].outcome);
            EXPECT_EQ(FormatValue(fromStream.Answer(k)), FormatValue(fromWhole.Answer(k)));
            EXPECT_EQ(fromStream.Reason(k), fromWhole.Reason(k));
        }
        const BookComparison all = CompareBook(read, fromWhole, 0);
        const BookComparison notSame = CompareBook(book, fromStream, 0, KeepCells::NotSame);
        const BookComparison none = CompareBook(book, fromStream, 0, KeepCells::None);
        EXPECT_EQ(all.recomputed, all.cells.size());
        for (const BookComparison* c : {&notSame, &none}) {
            EXPECT_EQ(c->recomputed, all.recomputed);
            EXPECT_EQ(c->differing, all.differing);
            EXPECT_EQ(c->stale.size(), all.stale.size());
        }
        EXPECT_TRUE(none.cells.empty());
        EXPECT_EQ(UpdatesFor(notSame).size(), UpdatesFor(all).size()) << "a cell to rewrite dropped by NotSame";
        EXPECT_EQ(UpdatesFor(book, fromStream).size(), UpdatesFor(all).size()) << "updates made from the evaluation differ";
    }
}

// A cell of an array formula's area that the file writes with no value (formatting only) is still
// the file's: a copy can and must update it.
TEST_F(XlsxCheck, ACellWrittenWithoutValueInAnArrayAreaIsUpdated)
{
    XlsxBook xlsx;
    xlsx.sheets.resize(1);
    xlsx.sheets[0].name = "S";
    XlsxCell anchor;
    anchor.column = 1;
    anchor.hasFormula = anchor.arrayFormula = true;
    anchor.formula = "LLSQ({0,1,2},{1,3,5},2)";
    anchor.columnFirst = 1;
    anchor.columnLast = 2;
    XlsxCell blank;
    blank.column = 2;
    xlsx.sheets[0].cells = {anchor, blank};
    const Workbook book = ToWorkbook(xlsx);
    WorkbookEvaluation evaluation;
    EXPECT_TRUE(EvaluateWorkbook(host, book, EvaluationOptions{"b.xlsx", true, false}, &evaluation));
    const std::vector<CachedUpdate> updates = UpdatesFor(book, evaluation);
    ASSERT_EQ(updates.size(), 2u) << "the blank cell of the area left out of the copy's updates";
    EXPECT_EQ(updates[1].column, 2u);
    EXPECT_EQ(updates[1].number, 2.0);
}

// Small workbooks as people keep them (tests/workbooks/make_workbooks.py: KEPT, OURS), one per kind
// of formula; the cached values are the spreadsheet's, so a computed cell must match its cache.
struct KeptOrOursCase {
    const char* file;
    const char* cell;  // on Sheet1
    FormulaOutcome outcome;
    bool matches;      // Computed: agrees with its cache
    const char* fault;
};
const KeptOrOursCase KeptOrOursCases[] = {
    {"kept_table.xlsx", "E2", FormulaOutcome::KeptCached, true, "a table reference refused the workbook (issue 19)"},
    {"kept_table.xlsx", "F2", FormulaOutcome::KeptCached, true, "[#This Row] refused the workbook"},
    {"kept_empty_argument.xlsx", "E1", FormulaOutcome::KeptCached, true, "an empty argument refused the workbook"},
    {"kept_link.xlsx", "E2", FormulaOutcome::KeptCached, true, "a link to another workbook refused the workbook"},
    {"kept_names.xlsx", "E1", FormulaOutcome::KeptCached, true, "an unknown name in a formula not ours refused the workbook"},
    {"kept_names.xlsx", "E3", FormulaOutcome::KeptCached, true, "a sheet-qualified name refused the workbook"},
    {"kept_union.xlsx", "E2", FormulaOutcome::KeptCached, true, "union or intersection refused the workbook"},
    {"kept_offset.xlsx", "E1", FormulaOutcome::KeptCached, true, "A1:OFFSET(..) refused the workbook"},
    {"kept_3d.xlsx", "E2", FormulaOutcome::KeptCached, true, "a 3-D reference refused the workbook"},
    {"kept_lambda.xlsx", "E1", FormulaOutcome::KeptCached, true, "LAMBDA refused the workbook"},
    {"kept_special_cells.xlsx", "B1", FormulaOutcome::KeptCached, true, "<f ca=\"1\"/> or a data table refused the workbook"},
    {"kept_wrong_values.xlsx", "E2", FormulaOutcome::KeptCached, true, "a formula of no add-in call computed and written over its cache"},
    {"ours_stale.xlsx", "A2", FormulaOutcome::Stale, true, "a built-in reading a recomputed cell not left stale"},
    {"ours_stale.xlsx", "A3", FormulaOutcome::Stale, true, "a formula reading a stale one computed from the stale value"},
    {"ours_stale.xlsx", "A4", FormulaOutcome::Computed, true, "arithmetic on a recomputed cell not recomputed"},
    {"ours_stale.xlsx", "A5", FormulaOutcome::Stale, true, "an unreadable formula of ours not left stale"},
    {"ours_table.xlsx", "E2", FormulaOutcome::Computed, true, "a table reference not passed as its data range"},
    {"ours_table.xlsx", "E3", FormulaOutcome::Computed, true, "[#All] without the header row"},
    {"ours_table.xlsx", "E4", FormulaOutcome::Computed, true, "[#This Row] not the formula's row"},
    {"ours_empty_argument.xlsx", "E1", FormulaOutcome::Computed, true, "an empty argument not passed as a missing one"},
    {"ours_link.xlsx", "E1", FormulaOutcome::Computed, true, "a linked workbook's cell not read from the link's cache"},
    {"ours_link.xlsx", "E2", FormulaOutcome::Computed, true, "a linked workbook's range not read from the link's cache"},
    {"ours_link.xlsx", "E3", FormulaOutcome::Computed, true, "a link not cached is not #REF! for its cell alone"},
    {"ours_data_table.xlsx", "D2", FormulaOutcome::Stale, true, "a data table over a formula of ours not left stale"},
    {"ours_names.xlsx", "E1", FormulaOutcome::Computed, true, "a name defined as another name is unknown (issue 19)"},
    {"ours_names.xlsx", "E2", FormulaOutcome::Computed, true, "a sheet-qualified name not read"},
    {"ours_ranges.xlsx", "D2", FormulaOutcome::Computed, true, "=C1:C3 in row 2 not C2 (implicit intersection)"},
    {"ours_ranges.xlsx", "E3", FormulaOutcome::Computed, true, "=C:C not intersected with the formula's row"},
    {"ours_ranges.xlsx", "F1", FormulaOutcome::Stale, true, "an array formula computed as one value, not element by element"},
    {"ours_ranges.xlsx", "G5", FormulaOutcome::Computed, true, "a range missing the formula's row not #VALUE!"},
    {"ours_ranges.xlsx", "H1", FormulaOutcome::Computed, true, "a computed -0 differs from the cached 0"},
    {"ours_ranges.xlsx", "H2", FormulaOutcome::Computed, false, "a cached #SPILL! taken for the add-in's failure"},
    {"ours_ranges.xlsx", "I2", FormulaOutcome::Computed, true, "a range given for a number read as its first cell"},
    {"ours_ranges.xlsx", "J1", FormulaOutcome::Stale, true, "an array formula giving a range for a number computed once"},
};

TEST_F(XlsxCheck, RecomputesOnlyWhatDependsOnTheAddIn)
{
    for (const KeptOrOursCase& c : KeptOrOursCases) {
        SCOPED_TRACE(std::string(c.file) + "!" + c.cell + ": " + c.fault);
        XlsxBook xlsx;
        std::string error;
        ASSERT_TRUE(ReadXlsx(Workbooks + "/" + c.file, &xlsx, &error)) << error;
        WorkbookEvaluation evaluation;
        const Workbook book = ToWorkbook(xlsx);
        EXPECT_TRUE(EvaluateWorkbook(host, book, EvaluationOptions{c.file, true, false}, &evaluation));
        const BookComparison comparison = CompareBook(book, evaluation, 0);
        const bool kept = std::string(c.file).compare(0, 5, "kept_") == 0;
        EXPECT_TRUE(!kept || (comparison.cells.empty() && comparison.stale.empty())) << "a workbook with no add-in call recomputed";
        uint32_t row = 0;
        uint16_t column = 0;
        ASSERT_TRUE(ParseCellName(c.cell, &row, &column));
        const auto result = std::find_if(evaluation.formulas.begin(), evaluation.formulas.end(),
                                         [&](const FormulaResult& r) { return r.row == row && r.column == column; });
        ASSERT_NE(result, evaluation.formulas.end());
        EXPECT_EQ(result->outcome, c.outcome) << evaluation.Reason(static_cast<size_t>(result - evaluation.formulas.begin()));
        const auto cell = std::find_if(comparison.cells.begin(), comparison.cells.end(),
                                       [&](const RecomputedCell& r) { return r.row == row && r.column == column; });
        if (c.outcome != FormulaOutcome::Computed) continue;
        ASSERT_NE(cell, comparison.cells.end());
        EXPECT_EQ(cell->comparison.agreement == Agreement::Same, c.matches) << FormatValue(cell->computed);
    }
}

TEST(StoredValue, ErrorsByTheirText)
{
    const struct { const char* text; uint16_t code; const char* fault; } cases[] = {
        {"#DIV/0!", xlerrDiv0, "an error read as another"},
        {"#N/A", xlerrNA, "#N/A misread"},
        {"#SPILL!", xlerrNA, "an error the host does not know taken for a value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        XlsxCell cell;
        cell.kind = XlsxKind::Error;
        cell.text = c.text;
        const Value v = StoredValue(cell);
        EXPECT_EQ(v.kind, Kind::Error);
        EXPECT_EQ(v.error, c.code);
        EXPECT_EQ(FormatValue(v), c.text) << "an error shown as another than the file stored";
    }
}

}  // namespace
}  // namespace quorin_test
