// writer_test.cpp - the copy with new cached values, read back by the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "xlsx/archive.h"
#include "xlsx/reader.h"
#include "xlsx/writer.h"

using namespace quorin_host;

namespace {

const std::string Source = std::string(QUORIN_WORKBOOKS) + "/quorin_test.xlsx";

std::filesystem::path FreshFolder(const char* name)
{
    const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

CachedUpdate Update(size_t sheet, const char* cell, CachedKind kind, double number, const char* text = "")
{
    CachedUpdate update;
    update.sheet = sheet;
    ParseCellName(cell, &update.row, &update.column);
    update.kind = kind;
    update.number = number;
    update.boolean = number != 0.0;
    update.text = text;
    return update;
}

bool SameCell(const XlsxCell& a, const XlsxCell& b)
{
    return a.row == b.row && a.column == b.column && a.kind == b.kind && a.text == b.text && a.boolean == b.boolean &&
           (a.number == b.number || (std::isnan(a.number) && std::isnan(b.number))) && a.hasFormula == b.hasFormula &&
           a.formula == b.formula && a.shiftRows == b.shiftRows && a.shiftColumns == b.shiftColumns &&
           a.arrayFormula == b.arrayFormula;
}

TEST(WriteRecalculated, OnlyTheUpdatedCachedValuesChange)
{
    const std::filesystem::path out = FreshFolder("xlsx_writer_updates") / "out.xlsx";
    struct Expected {
        XlsxKind kind;
        double number;
        const char* text;
        const char* fault;
    };
    const std::pair<CachedUpdate, Expected> cases[] = {
        {Update(0, "B2", CachedKind::Error, 0.0, "#ERR999"), {XlsxKind::Error, 0.0, "#N/A", "a failure the spreadsheet cannot store"}},
        {Update(0, "B10", CachedKind::Number, 0.1), {XlsxKind::Number, 0.1, "", "t=\"e\" left on a number"}},
        {Update(0, "B11", CachedKind::Number, -2.5e-300), {XlsxKind::Number, -2.5e-300, "", "number text loses bits"}},
        {Update(0, "D4", CachedKind::String, 0.0, "a <b> & c"), {XlsxKind::FormulaString, 0.0, "a <b> & c", "text not escaped"}},
        {Update(0, "G2", CachedKind::Boolean, 1.0), {XlsxKind::Boolean, 0.0, "", "array area cell not updated"}},
        {Update(0, "B14", CachedKind::Number, std::nan("")), {XlsxKind::Error, 0.0, "#NUM!", "NaN written as a number"}},
        {Update(0, "B13", CachedKind::Number, 7.0), {XlsxKind::Number, 7.0, "", "inline string kept beside <v>"}},
        {Update(2, "A3", CachedKind::Number, 2.5), {XlsxKind::Number, 2.5, "", "update lands on the wrong sheet"}},
    };
    std::vector<CachedUpdate> updates;
    for (const auto& c : cases) updates.push_back(c.first);
    std::string error;
    ASSERT_TRUE(WriteRecalculated(Source, out.string(), updates, &error)) << error;

    XlsxBook before, after;
    ASSERT_TRUE(ReadXlsx(Source, &before, &error)) << error;
    ASSERT_TRUE(ReadXlsx(out.string(), &after, &error)) << error;
    ASSERT_EQ(after.sheets.size(), before.sheets.size());
    for (size_t s = 0; s < before.sheets.size(); ++s) {
        ASSERT_EQ(after.sheets[s].cells.size(), before.sheets[s].cells.size());
        for (size_t n = 0; n < before.sheets[s].cells.size(); ++n) {
            const XlsxCell& was = before.sheets[s].cells[n];
            const XlsxCell& is = after.sheets[s].cells[n];
            const auto updated = std::find_if(std::begin(cases), std::end(cases), [&](const auto& c) {
                return c.first.sheet == s && c.first.row == was.row && c.first.column == was.column;
            });
            SCOPED_TRACE(CellName(was.row, was.column));
            if (updated == std::end(cases)) {
                EXPECT_TRUE(SameCell(was, is)) << "a cell not updated changed";
                continue;
            }
            SCOPED_TRACE(updated->second.fault);
            EXPECT_EQ(is.kind, updated->second.kind);
            if (is.kind == XlsxKind::Number) {
                EXPECT_EQ(is.number, updated->second.number);
            } else if (is.kind == XlsxKind::Boolean) {
                EXPECT_TRUE(is.boolean);
            } else {
                EXPECT_EQ(is.text, updated->second.text);
            }
            EXPECT_EQ(is.formula, was.formula);
            EXPECT_EQ(is.shiftRows, was.shiftRows);
            EXPECT_EQ(is.arrayFormula, was.arrayFormula);
        }
    }
}

// Catches a part saved whole again: its byte order mark, quotes, spacing and character references
// would change in cells and settings that are not ours.
TEST(WriteRecalculated, BytesOutsideTheEditedCellsAreTheFilesOwn)
{
    const std::string source = std::string(QUORIN_WORKBOOKS) + "/own_layout.xlsx";
    const std::filesystem::path out = FreshFolder("xlsx_writer_layout") / "out.xlsx";
    std::string error;
    ASSERT_TRUE(WriteRecalculated(source, out.string(), {Update(0, "B10", CachedKind::Number, 0.5),
                                                         Update(0, "B11", CachedKind::Number, 0.25)}, &error)) << error;
    std::string parts[2];
    const std::string paths[2] = {source, out.string()};
    for (int n = 0; n < 2; ++n) {
        const ZipArchive archive = OpenArchive(paths[n], &error);
        ASSERT_NE(archive, nullptr) << error;
        uint64_t budget = XlsxLimits().maxTotalBytes;
        ASSERT_TRUE(ReadPart(archive.get(), "xl/worksheets/sheet1.xml", XlsxLimits(), &budget, &parts[n], &error)) << error;
    }
    const std::string& before = parts[0];
    const std::string& after = parts[1];
    ASSERT_EQ(before.compare(0, 3, "\xEF\xBB\xBF"), 0);
    const size_t first = before.find("<c r=\"B10\"");
    const size_t beforeEnd = before.find("</c>", before.find("<c r=\"B11\"")) + 4;
    const size_t afterEnd = after.find("</c>", after.find("<c r=\"B11\"")) + 4;
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(after.substr(0, first), before.substr(0, first));
    EXPECT_EQ(after.substr(afterEnd), before.substr(beforeEnd));
    EXPECT_NE(after.find("<v>0.25</v>"), std::string::npos);
}

std::string PartBytes(const std::string& book, const char* part)
{
    std::string error, bytes;
    const ZipArchive archive = OpenArchive(book, &error);
    uint64_t budget = XlsxLimits().maxTotalBytes;
    EXPECT_TRUE(archive && ReadPart(archive.get(), part, XlsxLimits(), &budget, &bytes, &error)) << error;
    return bytes;
}

// The element of a cell in a part as xlsxwriter writes it: from <c r="REF" to its </c> or />.
std::pair<size_t, size_t> CellSpan(const std::string& bytes, const char* cell)
{
    const size_t begin = bytes.find(std::string("<c r=\"") + cell + "\"");
    if (begin == std::string::npos) return {std::string::npos, std::string::npos};
    const size_t tagEnd = bytes.find('>', begin);
    const size_t end = bytes[tagEnd - 1] == '/' ? tagEnd + 1 : bytes.find("</c>", begin) + 4;
    return {begin, end};
}

// A rewritten sheet is the source's bytes but for the updated cell's element, whatever pieces it was
// read in; kinds that move t=, replace an inline string or an error, or land in an array area.
TEST(WriteRecalculated, RewrittenSheetDiffersOnlyInTheUpdatedCell)
{
    const std::filesystem::path folder = FreshFolder("xlsx_writer_bytes");
    const std::string emptyElement = std::string(QUORIN_WORKBOOKS) + "/empty_element.xlsx";  // <c r="B12"/>
    const std::pair<std::string, CachedUpdate> cases[] = {
        {Source, Update(0, "B2", CachedKind::Error, 0.0, "#ERR999")}, {Source, Update(0, "B10", CachedKind::Number, 0.1)},
        {Source, Update(0, "D4", CachedKind::String, 0.0, "a <b> & \"c\"")}, {Source, Update(0, "B13", CachedKind::Number, 7.0)},
        {Source, Update(0, "G2", CachedKind::Boolean, 1.0)}, {Source, Update(2, "A3", CachedKind::Number, 2.5)},
        {emptyElement, Update(0, "B12", CachedKind::Number, 3.5)},
        // Past a megabyte, the copy is deflated in blocks: a wrong join or CRC fails the read back.
        {std::string(QUORIN_WORKBOOKS) + "/big_sheet.xlsx", Update(0, "B14999", CachedKind::Number, 0.5)},
    };
    const char* const parts[] = {"xl/worksheets/sheet1.xml", "", "xl/worksheets/my_data.xml"};
    for (const auto& [source, update] : cases) {
        const std::string cell = CellName(update.row, update.column);
        SCOPED_TRACE(source + " " + cell);
        const std::string before = PartBytes(source, parts[update.sheet]);
        std::string whole;
        for (const size_t piece : {size_t{64} * 1024, size_t{1}}) {
            if (piece == 1 && before.size() > (size_t{1} << 20)) continue;  // a megabyte a byte at a time: seconds
            XlsxLimits limits;
            limits.pieceBytes = piece;
            const std::string out = (folder / ("out" + std::to_string(piece) + ".xlsx")).string();
            std::string error;
            ASSERT_TRUE(WriteRecalculated(source, out, {update}, &error, limits)) << error;
            const std::string after = PartBytes(out, parts[update.sheet]);
            if (whole.empty()) whole = after;
            EXPECT_EQ(after, whole) << "pieces of " << piece << " bytes wrote another copy";
            const auto was = CellSpan(before, cell.c_str());
            const auto is = CellSpan(after, cell.c_str());
            ASSERT_NE(was.first, std::string::npos);
            ASSERT_NE(is.first, std::string::npos);
            EXPECT_EQ(after.substr(0, is.first), before.substr(0, was.first));
            EXPECT_EQ(after.substr(is.second), before.substr(was.second));
            EXPECT_NE(after.substr(is.first, is.second - is.first), before.substr(was.first, was.second - was.first));
            XlsxBook book;
            ASSERT_TRUE(ReadXlsx(out, &book, &error)) << error;
            const auto& cells = book.sheets[update.sheet].cells;
            EXPECT_TRUE(std::any_of(cells.begin(), cells.end(), [&](const XlsxCell& c) {
                return c.row == update.row && c.column == update.column && c.hasCached;
            })) << "the new value is not in the element";
        }
    }
}

TEST(WriteRecalculated, EditedPartKeepsItsRecordedTime)
{
    const std::filesystem::path out = FreshFolder("xlsx_writer_time") / "out.xlsx";
    std::string error;
    ASSERT_TRUE(WriteRecalculated(Source, out.string(), {Update(0, "B2", CachedKind::Number, 1.5)}, &error)) << error;
    const ZipArchive before = OpenArchive(Source, &error);
    const ZipArchive after = OpenArchive(out.string(), &error);
    ASSERT_TRUE(before && after) << error;
    zip_stat_t was, is;
    ASSERT_EQ(zip_stat(before.get(), "xl/worksheets/sheet1.xml", 0, &was), 0);
    ASSERT_EQ(zip_stat(after.get(), "xl/worksheets/sheet1.xml", 0, &is), 0);
    EXPECT_EQ(is.mtime, was.mtime) << "the same recalculation would give different bytes at another time";
    EXPECT_NE(is.crc, was.crc);
}

TEST(WriteRecalculated, FailureLeavesNoFileBehind)
{
    const std::filesystem::path folder = FreshFolder("xlsx_writer_failures");
    const std::string corrupt = std::string(QUORIN_WORKBOOKS) + "/malformed_xml.xlsx";
    const std::string utf16 = std::string(QUORIN_WORKBOOKS) + "/utf16_sheet.xlsx";
    const struct {
        std::string in;
        std::filesystem::path out;
        CachedUpdate update;
        const char* message;
    } cases[] = {
        {Source, folder / "out.xlsx", Update(0, "Z99", CachedKind::Number, 1.0), "xl/worksheets/sheet1.xml: cell Z99: not in the sheet"},
        {Source, folder / "out.xlsx", Update(7, "A1", CachedKind::Number, 1.0), "no worksheet number 8"},
        {corrupt, folder / "out.xlsx", Update(0, "B2", CachedKind::Number, 1.0), "xl/worksheets/sheet1.xml: malformed XML"},
        // UTF-8 cells spliced into UTF-16 once made a broken sheet, reported as written.
        {utf16, folder / "out.xlsx", Update(0, "B2", CachedKind::Number, 1.0), "xl/worksheets/sheet1.xml: stored in UTF-16"},
        {Source, folder / "missing" / "out.xlsx", Update(0, "B2", CachedKind::Number, 1.0), "cannot create a file beside it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::string error;
        EXPECT_FALSE(WriteRecalculated(c.in, c.out.string(), {c.update}, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << "a partial or temporary file was left";
    }
}

TEST(WriteRecalculated, WritesOverItsSourceWhenAsked)
{
    const std::filesystem::path book = FreshFolder("xlsx_writer_in_place") / "book.xlsx";
    std::filesystem::copy_file(Source, book);
    std::string error;
    ASSERT_TRUE(WriteRecalculated(book.string(), book.string(), {Update(0, "B2", CachedKind::Number, 4.75)}, &error)) << error;
    XlsxBook after;
    ASSERT_TRUE(ReadXlsx(book.string(), &after, &error)) << error;
    EXPECT_EQ(after.sheets[0].cells[6].number, 4.75);  // B2: after A1, B1, C1, D1, F1, A2
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(book.parent_path()), {}), 1);
}

TEST(StoredErrorText, KeepsTheSpreadsheetsErrorsAndMapsOthersToNotAvailable)
{
    const std::pair<const char*, const char*> cases[] = {
        {"#DIV/0!", "#DIV/0!"}, {"#VALUE!", "#VALUE!"}, {"#N/A", "#N/A"}, {"#ERR999", "#N/A"}, {"#CIRCULAR!", "#N/A"},
    };
    for (const auto& c : cases) EXPECT_EQ(StoredErrorText(c.first), c.second) << c.first;
}

}  // namespace
