// reader_test.cpp - the .xlsx reader on workbooks written by python3-xlsxwriter (tests/workbooks).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <tuple>

#include "xlsx/archive.h"
#include "xlsx/reader.h"
#include "xlsx/workbook.h"
#include "tests/support/failing_allocation.h"

using namespace quorin_host;

namespace {

const std::string Workbooks = QUORIN_WORKBOOKS;

const XlsxCell* FindCell(const XlsxBook& book, const std::string& sheetName, const char* cellName)
{
    uint32_t row = 0;
    uint16_t column = 0;
    if (!ParseCellName(cellName, &row, &column)) return nullptr;
    for (const XlsxSheet& sheet : book.sheets) {
        if (sheet.name != sheetName) continue;
        for (const XlsxCell& cell : sheet.cells) {
            if (cell.row == row && cell.column == column) return &cell;
        }
    }
    return nullptr;
}

struct CellCase {
    const char* sheet;
    const char* cell;
    XlsxKind kind;
    double number;
    const char* text;
    const char* formula;  // nullptr: no formula
    int32_t shiftRows;
    const char* fault;
};
const CellCase CellCases[] = {
    {"Model", "B2", XlsxKind::Number, 2.2281411036749326, "", "StudentT(10)", 0, "cached number loses bits"},
    {"Model", "B3", XlsxKind::Number, 2.2281411036749326, "", "_xll.StudentT(10)", 0, "_xll. prefix dropped or refused"},
    {"Model", "B5", XlsxKind::Number, 30.0, "", "Interp1('My data'!$A$2:$A$7,'My data'!$B$2:$B$7,3,0)", 0,
     "quoted sheet name in a formula altered"},
    {"Model", "B10", XlsxKind::Error, 0.0, "#N/A", "Interp1({1,2,3},{10,20},1.5,0)", 0, "t=\"e\" read as a number"},
    {"Model", "B11", XlsxKind::FormulaString, 0.0, "AB", "UPPER(\"ab\")", 0, "t=\"str\" looked up as a shared string"},
    {"Model", "B12", XlsxKind::Boolean, 0.0, "", nullptr, 0, "t=\"b\" not read"},
    {"Model", "A13", XlsxKind::SharedString, 0.0, "rich text runs", nullptr, 0, "rich-text runs of a shared string lost"},
    {"Model", "B13", XlsxKind::InlineString, 0.0, " inline ", nullptr, 0, "inline string, or its edge spaces, lost"},
    {"Model", "D2", XlsxKind::Number, 12.706150300808995, "", "StudentT(C2)", 0, "shared formula master not read"},
    {"Model", "D5", XlsxKind::Number, 2.2281411036749326, "", "StudentT(C2)", 3, "follower without master text or offset"},
    {"Model", "G2", XlsxKind::Number, 1.9999999999997586, "", nullptr, 0, "array formula's other cells lost"},
    {"Data", "B4", XlsxKind::Number, 11.0, "", nullptr, 0, "cell without r= not placed after the previous"},
    {"Data", "B5", XlsxKind::Number, 27.0, "", nullptr, 0, "row without r= not placed after the previous"},
    {"My data", "B7", XlsxKind::Number, 52.0, "", nullptr, 0, "sheet part found by name, not by relationship"},
};

TEST(ReadXlsx, ReadsEveryKindOfCellAsStored)
{
    XlsxBook book;
    std::string error;
    ASSERT_TRUE(ReadXlsx(Workbooks + "/quorin_test.xlsx", &book, &error)) << error;
    for (const CellCase& c : CellCases) {
        SCOPED_TRACE(std::string(c.sheet) + "!" + c.cell + ": " + c.fault);
        const XlsxCell* cell = FindCell(book, c.sheet, c.cell);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->kind, c.kind);
        EXPECT_TRUE(cell->hasCached);
        if (c.kind == XlsxKind::Number) {
            EXPECT_EQ(cell->number, c.number);  // round-trip text: exact
        } else if (c.kind == XlsxKind::Boolean) {
            EXPECT_TRUE(cell->boolean);
        } else {
            EXPECT_EQ(cell->text, c.text);
        }
        EXPECT_EQ(cell->hasFormula, c.formula != nullptr);
        EXPECT_EQ(cell->formula, c.formula != nullptr ? c.formula : "");
        EXPECT_EQ(cell->shiftRows, c.shiftRows);
        EXPECT_EQ(cell->shiftColumns, 0);
    }
}

TEST(ReadXlsx, ArrayFormulaCarriesItsArea)
{
    XlsxBook book;
    std::string error;
    ASSERT_TRUE(ReadXlsx(Workbooks + "/quorin_test.xlsx", &book, &error)) << error;
    const XlsxCell* cell = FindCell(book, "Model", "F2");
    ASSERT_NE(cell, nullptr);
    EXPECT_TRUE(cell->arrayFormula);
    EXPECT_EQ(cell->formula, "LLSQ(Data!A2:A7,Data!B2:B7,4)");
    EXPECT_EQ(std::make_pair(cell->rowFirst, cell->rowLast), std::make_pair(1u, 1u));
    EXPECT_EQ(cell->columnFirst, 5);  // F
    EXPECT_EQ(cell->columnLast, 8);   // I
}

TEST(ReadXlsx, SheetsInWorkbookOrderAndNamesWithTheirScope)
{
    XlsxBook book;
    std::string error;
    ASSERT_TRUE(ReadXlsx(Workbooks + "/quorin_test.xlsx", &book, &error)) << error;
    ASSERT_EQ(book.sheets.size(), 3u);
    EXPECT_EQ(book.sheets[2].name, "My data");
    EXPECT_EQ(book.sheets[2].part, "xl/worksheets/my_data.xml");
    ASSERT_EQ(book.names.size(), 3u);
    const XlsxName expected[] = {{"Dof", "10", -1}, {"Local", "Data!$B$2", 1}, {"XValues", "Data!$A$2:$A$7", -1}};
    for (size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(book.names[n].name, expected[n].name);
        EXPECT_EQ(book.names[n].text, expected[n].text);
        EXPECT_EQ(book.names[n].localSheet, expected[n].localSheet);
    }
}

struct BadFileCase {
    const char* file;
    const char* message;  // the part (and cell) the message must name
};
const BadFileCase BadFileCases[] = {
    {"truncated.xlsx", "not a readable zip archive"},
    {"encrypted.xlsx", "an encrypted workbook or one in the binary format"},
    {"no_sheets.xlsx", "xl/worksheets/sheet1.xml: part missing from the archive; no other worksheet can be read either"},
    {"zip_bomb.xlsx", "xl/worksheets/sheet1.xml: an archive bomb: would inflate to 1073741824 bytes"},
    {"bomb_8gb.xlsx", "xl/worksheets/sheet1.xml: an archive bomb: would inflate to 8589934592 bytes"},

    {"crc_error.xlsx", "xl/worksheets/sheet1.xml: cannot inflate: CRC error"},
    {"lying_size.xlsx", "xl/worksheets/sheet1.xml: inflates past the 100 bytes its archive entry declares"},
    {"duplicate_entry.xlsx", "entry XL/Worksheets/Sheet1.xml appears twice"},
    {"no_such_file.xlsx", "not a readable zip archive"},
};

TEST(ReadXlsx, BadFileIsRefusedNamingThePart)
{
    for (const BadFileCase& c : BadFileCases) {
        SCOPED_TRACE(c.file);
        XlsxBook book;
        std::string error;
        EXPECT_FALSE(ReadXlsx(Workbooks + "/" + c.file, &book, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

// Valid packages as other writers make them: each reads whole, every cell of quorin_test.xlsx in place.
struct AcceptedFileCase {
    const char* file;
    const char* cell;  // on Model, holding kind and text; nullptr: nothing beyond the whole read
    XlsxKind kind;
    const char* text;
    const char* fault;
};
const AcceptedFileCase AcceptedFileCases[] = {
    {"huge_dimension.xlsx", nullptr, XlsxKind::Empty, "", "a dimension past the sheet refused the file: it is a hint"},
    {"row_dimension.xlsx", nullptr, XlsxKind::Empty, "", "a dimension of whole rows (\"1:4\") refused"},
    {"local_header_time.xlsx", nullptr, XlsxKind::Empty, "", "zip consistency check: local header's time unlike the directory's"},
    {"trailing_bytes.xlsx", nullptr, XlsxKind::Empty, "", "zip consistency check: bytes after the end record"},
    {"prefixed_ids.xlsx", nullptr, XlsxKind::Empty, "", "relationship id under a second prefix, or one bound on the sheet"},
    {"date_cell.xlsx", "B12", XlsxKind::Date, "2026-01-31T00:00:00", "t=\"d\" refused, or its text altered"},
    {"empty_value.xlsx", "B12", XlsxKind::Empty, "", "empty <v/> refused as not a boolean, or read as a value"},
    {"empty_element.xlsx", "B12", XlsxKind::Empty, "", "a cell written as an empty-element tag lost, or its end taken from the next"},
    {"shared_before_master.xlsx", nullptr, XlsxKind::Empty, "", "a shared formula's follower before its master refused, or left without its text"},
    {"array_off_cell.xlsx", nullptr, XlsxKind::Empty, "", "an array area not starting at its cell refused"},
    {"escaped_text.xlsx", "B13", XlsxKind::InlineString, "R&D <1> A\n", "text split at a reference kept only its last piece"},
    {"utf16_sheet.xlsx", nullptr, XlsxKind::Empty, "", "a sheet in UTF-16 taken for UTF-8, whether pushed its bytes or pulling them"},
    {"empty_sheet_id.xlsx", nullptr, XlsxKind::Empty, "", "a sheet with an empty relationship id refused"},
    {"backslash_names.xlsx", nullptr, XlsxKind::Empty, "", "entries named with backslashes taken for missing parts"},
};

TEST(ReadXlsx, ValidPackageOtherReadersOpenIsRead)
{
    XlsxBook good;
    std::string error;
    ASSERT_TRUE(ReadXlsx(Workbooks + "/quorin_test.xlsx", &good, &error)) << error;
    for (const AcceptedFileCase& c : AcceptedFileCases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.fault);
        XlsxBook book;
        if (!ReadXlsx(Workbooks + "/" + c.file, &book, &error)) {
            ADD_FAILURE() << error;
            continue;
        }
        // A sheet past the good ones (a macro sheet) keeps its place with no cells.
        ASSERT_GE(book.sheets.size(), good.sheets.size());
        for (size_t s = 0; s < book.sheets.size(); ++s) {
            EXPECT_EQ(book.sheets[s].cells.size(), s < good.sheets.size() ? good.sheets[s].cells.size() : 0u);
        }
        const XlsxCell* follower = FindCell(book, "Model", "D3");
        ASSERT_NE(follower, nullptr);
        EXPECT_EQ(follower->formula, FindCell(good, "Model", "D3")->formula);
        EXPECT_EQ(follower->shiftRows, 1);
        if (c.cell == nullptr) continue;
        const XlsxCell* cell = FindCell(book, "Model", c.cell);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->kind, c.kind);
        EXPECT_EQ(cell->hasCached, c.kind != XlsxKind::Empty);
        EXPECT_EQ(cell->text, c.text);
    }
}

// Faults no writer should make, read as LibreOffice 7.4 reads them (its csv export of each file), the
// rest of the workbook as it is; text for a number is #REF! by our own rule, where LibreOffice shows 0.
struct ToleratedFileCase {
    const char* file;
    XlsxTolerance kind;
    size_t count;
    const char* cell;  // on its sheet, holding expected as the engine takes it
    Value expected;
    const char* fault;
};
const ToleratedFileCase ToleratedFileCases[] = {
    {"missing_part.xlsx", XlsxTolerance::MissingSheet, 1, "Data!A2", Value{}, "a missing sheet refused the workbook"},
    {"missing_strings.xlsx", XlsxTolerance::MissingStrings, 1, "Data!A1", Value{}, "missing shared strings refused the workbook"},
    {"bad_shared_string.xlsx", XlsxTolerance::NoSuchString, 1, "Model!A1", Value{}, "an index past the strings refused, or read as text"},
    {"spaced_index.xlsx", XlsxTolerance::SpacedNumber, 1, "Data!B1", Value::Text("y"), "an index with spaces refused"},
    {"outside_row.xlsx", XlsxTolerance::OutsideRow, 1, "Data!D9", Value::Number(5), "a cell outside its row refused or put in the row"},
    {"duplicate_cell.xlsx", XlsxTolerance::WrittenTwice, 1, "Data!A2", Value::Number(0), "a cell written twice refused"},
    {"written_twice.xlsx", XlsxTolerance::WrittenTwice, 1, "Data!A2", Value::Number(42), "the first of a cell written twice kept"},
    {"text_for_number.xlsx", XlsxTolerance::TextForNumber, 2, "Data!B3", Value::Error(xlerrRef), "text for a number refused or read as 0"},
    {"text_for_number.xlsx", XlsxTolerance::TextForNumber, 2, "Model!B2", Value::Error(xlerrRef), "a formula over text recomputed"},
    // A sheet whose markup is damaged is left out, every cell read before the damage too; the others stand.
    {"malformed_xml.xlsx", XlsxTolerance::UnreadableSheet, 1, "Model!A2", Value{}, "a malformed sheet refused the workbook"},
    {"huge_row.xlsx", XlsxTolerance::UnreadableSheet, 1, "Data!A2", Value::Number(0), "a row past the grid refused the workbook"},
    {"huge_column.xlsx", XlsxTolerance::UnreadableSheet, 1, "Model!A2", Value{}, "a cell before the damage kept"},
    {"entity_sheet.xlsx", XlsxTolerance::UnreadableSheet, 1, "Data!A2", Value::Number(0), "an entity declaration refused the workbook"},
    {"unnamed_sheet.xlsx", XlsxTolerance::MissingSheet, 1, "Data!A2", Value{}, "a sheet named by no relationship refused the workbook"},
    {"damaged_table.xlsx", XlsxTolerance::UnreadableTable, 1, "Sheet1!A2", Value::Number(1), "a damaged table part refused the workbook"},
    {"damaged_link.xlsx", XlsxTolerance::UnreadableLink, 1, "Sheet1!A1", Value::Number(1), "a damaged link cache refused the workbook"},
};

TEST(ReadXlsx, FaultOtherReadersOpenIsReadAsTheyReadIt)
{
    for (const ToleratedFileCase& c : ToleratedFileCases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.fault);
        XlsxBook book;
        std::string error;
        ASSERT_TRUE(ReadXlsx(Workbooks + "/" + c.file, &book, &error)) << error;
        ASSERT_EQ(book.tolerated.size(), c.kind == XlsxTolerance::MissingStrings ? 2u : 1u);  // and the cells naming strings
        EXPECT_EQ(book.tolerated[0].kind, c.kind);
        EXPECT_EQ(book.tolerated[0].count, c.count);
        const quorin_host::Workbook engine = ToWorkbook(book);
        const std::string cell = c.cell;
        const uint32_t sheet = cell.compare(0, 5, "Data!") == 0 ? 1 : 0;
        uint32_t row = 0;
        uint16_t column = 0;
        ASSERT_TRUE(ParseCellName(cell.substr(cell.find('!') + 1), &row, &column));
        EXPECT_EQ(FormatValue(engine.values.Get(sheet, row, column)), FormatValue(c.expected));
        for (const StoredFormula& f : engine.formulas) EXPECT_FALSE(f.sheet == sheet && f.row == row && f.column == column);
    }
}

TEST(ReadXlsx, LimitsBoundCellsAndInflatedBytes)
{
    XlsxLimits fewCells;
    fewCells.maxCells = 3;
    XlsxLimits fewBytes;
    fewBytes.maxTotalBytes = 4096;  // the package's own parts alone exceed this
    XlsxLimits tightRatio;  // any part deflates more than twice: the ratio is judged, past the floor
    tightRatio.bombFloorBytes = 0;
    tightRatio.bombRatio = 2;
    const std::pair<XlsxLimits, const char*> cases[] = {
        {fewCells, "more than 3 cells"},
        {fewBytes, "inflates past the 4096 bytes bound on the workbook"},
        {tightRatio, "an archive bomb: would inflate to"},
    };
    for (const auto& c : cases) {
        XlsxBook book;
        std::string error;
        EXPECT_FALSE(ReadXlsx(Workbooks + "/quorin_test.xlsx", &book, &error, c.first));
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
    }
}

TEST(ReadXlsxBuffer, ReadsWhatTheFileReaderReads)
{
    std::ifstream file(Workbooks + "/quorin_test.xlsx", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    XlsxBook fromFile, fromMemory;
    std::string error;
    ASSERT_TRUE(ReadXlsx(Workbooks + "/quorin_test.xlsx", &fromFile, &error)) << error;
    ASSERT_TRUE(ReadXlsxBuffer(bytes.data(), bytes.size(), &fromMemory, &error)) << error;
    ASSERT_EQ(fromMemory.sheets.size(), fromFile.sheets.size());
    for (size_t s = 0; s < fromFile.sheets.size(); ++s) EXPECT_EQ(fromMemory.sheets[s].cells.size(), fromFile.sheets[s].cells.size());
    EXPECT_FALSE(ReadXlsxBuffer(bytes.data(), bytes.size() / 2, &fromMemory, &error));
}

bool SameBook(const XlsxBook& a, const XlsxBook& b)
{
    if (a.sheets.size() != b.sheets.size() || a.names.size() != b.names.size()) return false;
    for (size_t s = 0; s < a.sheets.size(); ++s) {
        const std::vector<XlsxCell>& x = a.sheets[s].cells;
        const std::vector<XlsxCell>& y = b.sheets[s].cells;
        if (x.size() != y.size()) return false;
        for (size_t n = 0; n < x.size(); ++n) {
            const auto fields = [](const XlsxCell& c) {
                return std::make_tuple(c.row, c.column, c.kind, c.text, c.boolean, c.hasCached, c.hasFormula, c.formula, c.shiftRows,
                                       c.shiftColumns, c.arrayFormula, c.dataTable, c.rowFirst, c.rowLast, c.columnFirst, c.columnLast);
            };
            // Bits, not values: a NaN or a signed zero read differently is a difference.
            if (fields(x[n]) != fields(y[n]) || std::memcmp(&x[n].number, &y[n].number, sizeof(double)) != 0) return false;
        }
    }
    return true;
}

// The stream sees a part in whatever pieces it inflates in; a piece of 1 byte splits every tag, text,
// entity and multi-byte character, so any state carried wrongly across pieces shows.
TEST(ReadXlsx, ReadsTheSameWorkbookWhateverThePieces)
{
    std::vector<std::string> files = {"quorin_test.xlsx"};
    for (const AcceptedFileCase& c : AcceptedFileCases) files.push_back(c.file);
    for (const ToleratedFileCase& c : ToleratedFileCases) files.push_back(c.file);
    for (const std::string& file : files) {
        XlsxBook whole;
        std::string error;
        ASSERT_TRUE(ReadXlsx(Workbooks + "/" + file, &whole, &error)) << error;
        // Inflated ahead on a thread of its own, a piece handed over while the next inflates.
        for (const auto& [piece, ahead] : {std::pair{size_t{1}, false}, {size_t{7}, false}, {size_t{4096}, false}, {size_t{5}, true}, {size_t{4096}, true}}) {
            SCOPED_TRACE(file + " in pieces of " + std::to_string(piece) + (ahead ? ", inflated ahead" : ""));
            XlsxLimits limits;
            limits.pieceBytes = piece;
            if (ahead) limits.aheadFrom = 0;
            XlsxBook pieces;
            ASSERT_TRUE(ReadXlsx(Workbooks + "/" + file, &pieces, &error, limits)) << error;
            EXPECT_TRUE(SameBook(pieces, whole));
        }
    }
    // Parsed on a thread of its own, a sheet is refused for what refuses it when read on one.
    for (const BadFileCase& c : BadFileCases) {
        for (const bool ahead : {false, true}) {
            SCOPED_TRACE(std::string(c.file) + (ahead ? " read ahead" : " in pieces of 1 byte"));
            XlsxLimits limits;
            if (ahead) limits.aheadFrom = 0;
            else limits.pieceBytes = 1;
            XlsxBook book;
            std::string error;
            EXPECT_FALSE(ReadXlsx(Workbooks + "/" + c.file, &book, &error, limits));
            EXPECT_NE(error.find(c.message), std::string::npos) << error;
        }
    }
}

// Whichever allocation fails, the read ends in std::bad_alloc for the command to report (or absorbs
// the refusal), never in a message blaming the file ("malformed XML ... Could not allocate memory") or a crash.
TEST(ReadXlsx, RunningOutOfMemoryAnywhereThrowsBadAlloc)
{
    const pugi::allocation_function pugiAllocate = pugi::get_memory_allocation_function();
    const pugi::deallocation_function pugiFree = pugi::get_memory_deallocation_function();
    pugi::set_memory_management_functions(quorin_test::FailingAllocation::Malloc, std::free);
    // Read whole, streamed into the engine's records (a refusal there is thrown from inside expat),
    // and read on two threads (a refusal on the other is thrown again on this one).
    XlsxLimits ahead;
    ahead.aheadFrom = 0;
    for (int64_t k = 1, reader = 0; reader < 3; ++k) {
        XlsxBook book;
        quorin_host::Workbook engine;
        std::string error;
        bool read = false, threw = false;
        quorin_test::FailingAllocation::Arm(k);
        try {
            read = reader == 0   ? ReadXlsx(Workbooks + "/quorin_test.xlsx", &book, &error)
                   : reader == 1 ? quorin_host::ReadWorkbook(Workbooks + "/quorin_test.xlsx", &book, &engine, &error)
                                 : ReadXlsx(Workbooks + "/quorin_test.xlsx", &book, &error, ahead);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        const bool refused = quorin_test::FailingAllocation::Refused();
        quorin_test::FailingAllocation::Disarm();
        if (!refused) {
            EXPECT_TRUE(read) << error;
            k = 0, ++reader;
            continue;
        }
        // A refusal may be absorbed (shrink_to_fit only asks), but is never a fault of the file.
        ASSERT_TRUE(threw || read) << "allocation " << k << " refused, and the read said: " << error;
    }
    pugi::set_memory_management_functions(pugiAllocate, pugiFree);
}

TEST(ParseCellName, AcceptsTheSheetsBoundsAndNothingPast)
{
    const struct {
        const char* text;
        bool ok;
        uint32_t row;
        uint16_t column;
        const char* fault;
    } cases[] = {
        {"B3", true, 2, 1, "off by one in row or column"},
        {"XFD1048576", true, 1048575, 16383, "last cell of the sheet refused"},
        {"AA10", true, 9, 26, "two-letter column misnumbered"},
        {"XFE1", false, 0, 0, "column past XFD accepted"},
        {"A1048577", false, 0, 0, "row past 1048576 accepted"},
        {"A0", false, 0, 0, "row 0 accepted"},
        {"A99999999999", false, 0, 0, "row overflow wraps into range"},
        {"1A", false, 0, 0, "digits before letters accepted"},
        {"B3x", false, 0, 0, "trailing text accepted"},
        {"", false, 0, 0, "empty reference accepted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        uint32_t row = 0;
        uint16_t column = 0;
        EXPECT_EQ(ParseCellName(c.text, &row, &column), c.ok);
        if (c.ok) {
            EXPECT_EQ(std::make_pair(row, column), std::make_pair(c.row, c.column));
        }
    }
}

}  // namespace
