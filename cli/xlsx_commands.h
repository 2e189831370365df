// xlsx_commands.h - the command line's .xlsx commands: check a workbook against its cached values,
// show its recalculated sheets, write a recalculated copy. Each returns the process's exit status:
// 0 done (check: every recomputed cell matches), 1 a difference or a failure, 2 a usage error.
// The Windows build has no .xlsx reader; there each command says so and fails.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "host/substitute_host.h"

namespace quorin_host {

// Whether any argument names a .xlsx file (any case), so that the command is the workbook one.
inline bool NamesWorkbook(const std::vector<std::string>& arguments)
{
    for (const std::string& a : arguments) {
        std::string end = a.size() > 5 ? a.substr(a.size() - 5) : std::string();
        for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end == ".xlsx") return true;
    }
    return false;
}

// check BOOK.xlsx... [--tolerance ULPS]
int CheckWorkbooks(SubstituteHost& host, const std::vector<std::string>& arguments);
// sheet BOOK.xlsx [--csv]
int ShowWorkbook(SubstituteHost& host, const std::string& path, bool csv);
// recalc IN.xlsx OUT.xlsx [--in-place]
int RecalculateWorkbook(SubstituteHost& host, const std::vector<std::string>& arguments);

}  // namespace quorin_host
