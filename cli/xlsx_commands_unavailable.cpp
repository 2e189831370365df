// xlsx_commands_unavailable.cpp - the .xlsx commands where the build has no .xlsx reader (Windows).
#include <cstdio>

#include "cli/xlsx_commands.h"

namespace quorin_host {

namespace {

int Unavailable(const std::string& command)
{
    std::fprintf(stderr, "%s: .xlsx workbooks need the Linux build of quorin-host; CSV sheets work here\n", command.c_str());
    return 1;
}

}  // namespace

int CheckWorkbooks(SubstituteHost&, const std::vector<std::string>&) { return Unavailable("check"); }
int ShowWorkbook(SubstituteHost&, const std::string&, bool) { return Unavailable("sheet"); }
int RecalculateWorkbook(SubstituteHost&, const std::vector<std::string>&) { return Unavailable("recalc"); }

}  // namespace quorin_host
