// function_reference_test.cpp - every worked example the function reference quotes is a formula of an
// example sheet, and its answer is the one recorded for that sheet (which the examples test recomputes).
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/workbook.h"

namespace {

using quorin_host::CsvRows;

std::string ReadSourceFile(const std::string& relative)
{
    std::ifstream file(std::string(QUORIN_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

CsvRows ReadSourceCsv(const std::string& relative)
{
    CsvRows rows;
    EXPECT_TRUE(quorin_host::ReadCsv(ReadSourceFile(relative), &rows, nullptr)) << relative;
    return rows;
}

std::string CellText(const CsvRows& rows, size_t row, size_t column)
{
    return (row < rows.size() && column < rows[row].size()) ? rows[row][column] : std::string();
}

size_t ColumnIndex(const std::string& letters)
{
    size_t column = 0;
    for (char c : letters) column = column * 26 + static_cast<size_t>(c - 'A' + 1);
    return column - 1;
}

TEST(FunctionReference, QuotesEveryExampleSheetWithItsRecordedAnswers)
{
    const std::string reference = ReadSourceFile("docs/FUNCTIONS.md");
    ASSERT_FALSE(reference.empty());
    // "From `examples/NAME.csv`" opens the quotes of that sheet; each row is "| B2 | case | `=formula` | answers |",
    // the answers of a row-wide result separated by ", ".
    const std::regex opening("^From .*`(examples/([a-z0-9_]+)\\.csv)`");
    const std::regex quoted("^\\| ([A-Z]+)([0-9]+) \\| [^|]* \\| `([^`]*)` \\| ([^|]*) \\|$");
    std::istringstream lines(reference);
    std::string line, sheet;
    std::set<std::string> sheetsQuoted;
    size_t rowsQuoted = 0;
    CsvRows input, expected;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (std::regex_search(line, m, opening)) {
            sheet = m[1];
            input = ReadSourceCsv(sheet);
            expected = ReadSourceCsv("examples/" + m[2].str() + ".expected.csv");
            continue;
        }
        if (!std::regex_match(line, m, quoted)) continue;
        SCOPED_TRACE(sheet + ": " + line);
        ASSERT_FALSE(sheet.empty()) << "an example quoted before any sheet is named";
        const size_t row = std::stoul(m[2]) - 1, column = ColumnIndex(m[1]);
        EXPECT_EQ(CellText(input, row, column), m[3].str());
        std::string answers = m[4];
        size_t k = 0;
        for (size_t at = 0;; ++k) {
            const size_t comma = answers.find(", ", at);
            EXPECT_EQ(CellText(expected, row, column + k), answers.substr(at, comma - at)) << "answer cell " << k;
            if (comma == std::string::npos) break;
            at = comma + 2;
        }
        EXPECT_TRUE(CellText(expected, row, column + k + 1).empty()) << "the answer is wider than quoted";
        sheetsQuoted.insert(sheet);
        ++rowsQuoted;
    }
    // One sheet per worksheet function.
    EXPECT_EQ(sheetsQuoted.size(), 11u);
    EXPECT_GE(rowsQuoted, 40u);
}

}  // namespace
