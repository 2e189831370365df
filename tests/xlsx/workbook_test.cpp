// workbook_test.cpp - .xlsx workbooks recalculated through the module and compared with their cache.
#include "xlsx/workbook.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <set>

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
        {Value::Number(0.0), Value::Number(-0.0), 0, Agreement::Near, "zero of either sign counted apart"},
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
        EXPECT_TRUE(EvaluateWorkbook(host, ToWorkbook(xlsx), options, &evaluation)) << ::testing::PrintToString(evaluation.problems);
        *comparison = CompareBook(xlsx, evaluation, tolerance);
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
    // Plain, _xll., other sheets, names, operators, the failure, the built-in's cached value read,
    // five shared-formula cells and the four cells of the LLSQ array.
    EXPECT_EQ(comparison.cells.size(), 9u + 5u + 4u) << "a recomputed cell left out of the comparison";
    EXPECT_EQ(comparison.keptCached, 2u) << "built-in calls (SUM, UPPER) not kept and counted";
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

TEST_F(XlsxCheck, UnreadableFormulaNamesSheetCellAndColumn)
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
    EXPECT_FALSE(EvaluateWorkbook(host, ToWorkbook(xlsx), EvaluationOptions{"book.xlsx", true, false}, &evaluation));
    ASSERT_EQ(evaluation.problems.size(), 1u);
    EXPECT_NE(evaluation.problems[0].find("book.xlsx: 'My model'!B3: column 12"), std::string::npos) << evaluation.problems[0];
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
    }
}

}  // namespace
}  // namespace quorin_test
