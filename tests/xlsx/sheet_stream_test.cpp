// sheet_stream_test.cpp - the two parsers a sheet goes through see the same cells: expat, which copies
// it for recalc, is the oracle of libxml2, which reads it (pushed its pieces, or pulling them on a
// thread of its own).
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "xlsx/archive.h"
#include "xlsx/sheet_stream.h"

using namespace quorin_host;

namespace {

struct SheetCells {
    bool read = false;
    std::vector<CellMarkup> cells;
};

SheetCells Stream(zip_t* archive, const std::string& part, bool copied, bool ahead)
{
    XlsxLimits limits;
    // Small pieces split names, attributes and text; a thread of its own, or a large sheet, is
    // handed larger ones.
    zip_stat_t stat;
    const bool large = zip_stat(archive, part.c_str(), 0, &stat) == 0 && stat.size > 65536;
    limits.pieceBytes = ahead || large ? 4096 : 7;
    if (ahead) limits.aheadFrom = 0;
    uint64_t budget = UINT64_MAX;
    SheetCells out;
    std::string copy, error;
    const CellMarkupVisitor visit = [&](const CellMarkup& cell, std::string_view, std::string*, std::string*) {
        out.cells.push_back(cell);
        return true;
    };
    out.read = StreamSheetCells(archive, part, limits, &budget, visit, copied ? &copy : nullptr, &error);
    return out;
}

auto Fields(const CellMarkup& c)
{
    return std::tie(c.row, c.column, c.outsideRow, c.type, c.hasFormula, c.formulaType, c.formulaRef, c.formulaShared,
                    c.formulaText, c.hasValue, c.value, c.hasInline, c.inlineText);
}

TEST(SheetStream, ReadAndCopiedSheetsGiveTheSameCells)
{
    size_t sheets = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUORIN_WORKBOOKS)) {
        // The archive bombs are the reader's to refuse, and cost seconds to inflate this far.
        if (entry.path().extension() != ".xlsx" || entry.path().filename().string().find("bomb") != std::string::npos) continue;
        std::string error;
        const ZipArchive archive = OpenArchive(entry.path().string(), &error);
        if (!archive) continue;
        for (zip_int64_t n = 0; n < zip_get_num_entries(archive.get(), 0); ++n) {
            const std::string part = zip_get_name(archive.get(), static_cast<zip_uint64_t>(n), 0);
            if (part.rfind("xl/worksheets/sheet", 0) != 0 || part.find('/', 14) != std::string::npos) continue;
            SCOPED_TRACE(entry.path().filename().string() + " " + part);
            const SheetCells oracle = Stream(archive.get(), part, true, false);
            // A copy refuses a UTF-16 sheet, which a read takes: only what expat read is compared.
            if (!oracle.read) continue;
            ++sheets;
            for (const bool ahead : {false, true}) {
                const SheetCells read = Stream(archive.get(), part, false, ahead);
                EXPECT_TRUE(read.read) << (ahead ? "pulled" : "pushed");
                ASSERT_EQ(read.cells.size(), oracle.cells.size()) << (ahead ? "pulled" : "pushed");
                for (size_t k = 0; k < read.cells.size(); ++k) {
                    EXPECT_TRUE(Fields(read.cells[k]) == Fields(oracle.cells[k])) << "cell " << k << (ahead ? ", pulled" : ", pushed");
                }
            }
        }
    }
    EXPECT_GT(sheets, 40u);
}

}  // namespace
