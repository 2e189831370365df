// set_cached.cpp - writes a copy of a workbook with given cached values, for the openpyxl read-back.
// usage: xlsx_set_cached IN OUT [SHEET CELL VALUE]...  SHEET by name; VALUE a number, #ERROR,
// TRUE or FALSE, or any other text (stored as a string).
#include <cstdio>
#include <string>
#include <vector>

#include "rules/number.h"
#include "xlsx/archive.h"
#include "xlsx/reader.h"
#include "xlsx/writer.h"

using namespace quorin_host;

int main(int argc, char** argv)
{
    if (argc < 3 || (argc - 3) % 3 != 0) {
        std::fprintf(stderr, "usage: xlsx_set_cached IN OUT [SHEET CELL VALUE]...\n");
        return 2;
    }
    XlsxBook book;
    std::string error;
    if (!ReadXlsx(argv[1], &book, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::vector<CachedUpdate> updates;
    for (int a = 3; a < argc; a += 3) {
        CachedUpdate update;
        while (update.sheet < book.sheets.size() && book.sheets[update.sheet].name != argv[a]) ++update.sheet;
        if (update.sheet == book.sheets.size() || !ParseCellName(argv[a + 1], &update.row, &update.column)) {
            std::fprintf(stderr, "no cell %s!%s\n", argv[a], argv[a + 1]);
            return 2;
        }
        const std::string value = argv[a + 2];
        if (ParseNumber(value, &update.number) == NumberRead::Ok) {
            update.kind = CachedKind::Number;
        } else if (value == "TRUE" || value == "FALSE") {
            update.kind = CachedKind::Boolean;
            update.boolean = value == "TRUE";
        } else {
            update.kind = value[0] == '#' ? CachedKind::Error : CachedKind::String;
            update.text = value;
        }
        updates.push_back(update);
    }
    if (!WriteRecalculated(argv[1], argv[2], updates, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
        return 1;
    }
    return 0;
}
