// xlsx_commands.h - the command line's .xlsx commands: check a workbook against its cached values,
// show its recalculated sheets, write a recalculated copy. Each returns the process's exit status:
// 0 done (check: every recomputed cell matches), 1 a difference or a failure, 2 a usage error.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/workers.h"

namespace quorin_host {

// Whether any argument names a .xlsx or .xlsm file (any case), so that the command is the workbook
// one. A .xlsm is the same package with a macro part, which is copied as stored like any other.
inline bool NamesWorkbook(const std::vector<std::string>& arguments)
{
    for (const std::string& a : arguments) {
        std::string end = a.size() > 5 ? a.substr(a.size() - 5) : std::string();
        for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end == ".xlsx" || end == ".xlsm") return true;
    }
    return false;
}

// check BOOK.xlsx... [--tolerance ULPS]
int CheckWorkbooks(Workers& workers, const std::vector<std::string>& arguments);
// Workbooks against their cached values, as check prints them, in the order given: one alone on every
// worker, several each on a worker of its own at once. 0 all matching, 1 a difference or a failure.
int CheckWorkbookList(Workers& workers, const std::vector<std::string>& paths, uint64_t toleranceUlps);
// sheet BOOK.xlsx [--csv]
int ShowWorkbook(Workers& workers, const std::string& path, bool csv);
// recalc IN.xlsx OUT.xlsx [--in-place]
int RecalculateWorkbook(Workers& workers, const std::vector<std::string>& arguments);

}  // namespace quorin_host
