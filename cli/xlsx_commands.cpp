// xlsx_commands.cpp - check, sheet and recalc on .xlsx workbooks: read, recalculate, compare or write.
#include "cli/xlsx_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>

#include "rules/number.h"
#include "engine/text_file.h"
#include "engine/workbook.h"
#include "xlsx/reader.h"
#include "xlsx/workbook.h"
#include "xlsx/writer.h"

namespace quorin_host {

namespace {

// More cells than this in one sheet's used area are not printed: the table would not be read anyway.
constexpr uint64_t MaxShownCells = uint64_t{1} << 20;

constexpr char Usage[] =
    "usage: quorin-host check BOOK.xlsx... [--tolerance ULPS]\n"
    "       quorin-host sheet BOOK.xlsx [--csv]\n"
    "       quorin-host recalc IN.xlsx OUT.xlsx [--in-place]\n";

int UsageError()
{
    std::fputs(Usage, stderr);
    return 2;
}

// Running out of memory is this input meeting this machine, not a fault of the program: a message
// naming the file, and the command's failure. What was read is released by then.
template <typename Run> int WithinMemory(const std::string& path, const char* aftermath, Run run)
{
    try {
        return run();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory%s\n", path.c_str(), aftermath);
        return 1;
    }
}

// A workbook read and recalculated: what depends on the add-in, and nothing else.
struct Recalculated {
    XlsxBook xlsx;  // its sheets, names, tables and links: the cells went to book
    Workbook book;
    WorkbookEvaluation evaluation;
    bool read = false;       // the file read
    bool evaluated = false;  // ... and evaluated without problems
};

// The random numbers' generator starts afresh on every thread, so the workbook gets a thread of its
// own, as a CSV sheet does. Why it does not read or evaluate goes to stderr.
void Recalculate(SubstituteHost& host, const std::string& path, Recalculated* run)
{
    std::string error;
    run->read = ReadWorkbook(path, &run->xlsx, &run->book, &error);
    if (!run->read) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return;
    }
    EvaluationOptions options;
    options.fileName = path;
    options.keepForeignFormulas = true;
    options.spillRight = false;
    run->evaluated = OnFreshThread([&] { return EvaluateWorkbook(host, run->book, options, &run->evaluation); });
    for (const std::string& note : run->evaluation.notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    for (const std::string& problem : run->evaluation.problems) std::fprintf(stderr, "%s\n", problem.c_str());
}

std::string Shown(const Value& v)
{
    if (v.kind == Kind::Empty) return "(nothing)";
    if (v.kind == Kind::Text) return "\"" + v.text + "\"";
    return FormatValue(v);
}

std::string HowFar(const RecomputedCell& cell)
{
    if (cell.cached.kind == Kind::Number && cell.comparison.agreement != Agreement::OtherKind) {
        return std::to_string(cell.comparison.ulps) + (cell.comparison.ulps == 1 ? " ulp" : " ulps") + " apart";
    }
    return cell.cached.kind == cell.computed.kind ? "not the same value" : "another kind of value";
}

// The whole of text as a count of ulps: a whole number up to 2^53.
bool ReadUlps(const std::string& text, uint64_t* ulps)
{
    double v = 0.0;
    if (ParseNumber(text, &v) != NumberRead::Ok || !(v >= 0.0) || v > 9007199254740992.0 || v != static_cast<double>(static_cast<uint64_t>(v))) {
        return false;
    }
    *ulps = static_cast<uint64_t>(v);
    return true;
}

// The formulas left stale, one line each, as check and recalc both list them.
std::string StaleLines(const Workbook& book, const BookComparison& comparison)
{
    std::string lines;
    for (const StaleFormula& f : comparison.stale) {
        lines += "    stale  " + SheetCellName(book.sheets[f.sheet], f.row, f.column) + "  " + f.formula + "  (" + f.reason + ")\n";
    }
    return lines;
}

// What the reader tolerated, one line per kind, as check and recalc both say it.
std::string ToleratedText(const XlsxBook& xlsx)
{
    std::string lines;
    for (const std::string& line : ToleratedLines(xlsx)) lines += "    tolerated  " + line + "\n";
    return lines;
}

}  // namespace

// The commands' work on one file, inside WithinMemory.
static int CheckRead(SubstituteHost& host, const std::string& path, uint64_t tolerance);
static int ShowRead(SubstituteHost& host, const std::string& path, bool csv);
static int RecalculateRead(SubstituteHost& host, const std::string& in, const std::string& out);

int CheckWorkbook(SubstituteHost& host, const std::string& path, uint64_t tolerance)
{
    return WithinMemory(path, "", [&] { return CheckRead(host, path, tolerance); });
}

static int CheckRead(SubstituteHost& host, const std::string& path, uint64_t tolerance)
{
    Recalculated run;
    Recalculate(host, path, &run);
    if (!run.evaluated) {
        std::printf("FAILED %s\n", path.c_str());
        return 1;
    }
    const Workbook& book = run.book;
    const BookComparison comparison = CompareBook(book, run.evaluation, tolerance, KeepCells::NotSame);
    std::printf("%s %s\n", comparison.differing == 0 ? "same  " : "DIFFER", path.c_str());
    std::fputs(ToleratedText(run.xlsx).c_str(), stdout);
    for (const RecomputedCell& cell : comparison.cells) {
        if (cell.comparison.agreement != Agreement::Far && cell.comparison.agreement != Agreement::OtherKind) continue;
        std::printf("    %s  %s  cached %s  computed %s  (%s)\n", SheetCellName(book.sheets[cell.sheet], cell.row, cell.column).c_str(),
                    cell.formula.c_str(), Shown(cell.cached).c_str(), Shown(cell.computed).c_str(), HowFar(cell).c_str());
    }
    std::fputs(StaleLines(book, comparison).c_str(), stdout);
    std::printf("%s: %zu cells recomputed, %zu matching, %zu differing; %zu formulas stale; %zu formulas kept their cached value "
                "(no add-in call)\n",
                path.c_str(), comparison.recomputed, comparison.matching, comparison.differing, comparison.stale.size(),
                comparison.keptCached);
    return comparison.differing == 0 ? 0 : 1;
}

int CheckWorkbooks(SubstituteHost& host, const std::vector<std::string>& arguments)
{
    std::vector<std::string> books;
    uint64_t tolerance = 0;
    for (size_t a = 0; a < arguments.size(); ++a) {
        if (arguments[a] == "--tolerance") {
            if (a + 1 == arguments.size() || !ReadUlps(arguments[a + 1], &tolerance)) {
                std::fputs("check: --tolerance takes a whole number of ulps\n", stderr);
                return 2;
            }
            ++a;
        } else if (NamesWorkbook({arguments[a]})) {
            books.push_back(arguments[a]);
        } else {
            std::fprintf(stderr, "check: %s: check CSV sheets and .xlsx workbooks in separate calls\n", arguments[a].c_str());
            return 2;
        }
    }
    if (books.empty()) return UsageError();
    int status = 0;
    for (const std::string& path : books) status = std::max(status, CheckWorkbook(host, path, tolerance));
    return status;
}

int ShowWorkbook(SubstituteHost& host, const std::string& path, bool csv)
{
    return WithinMemory(path, "", [&] { return ShowRead(host, path, csv); });
}

static int ShowRead(SubstituteHost& host, const std::string& path, bool csv)
{
    Recalculated run;
    Recalculate(host, path, &run);
    if (!run.read) return 1;
    const std::vector<XlsxSheet>& sheets = run.xlsx.sheets;
    bool shown = true;
    for (uint32_t s = 0; s < sheets.size(); ++s) {
        if (sheets[s].part.empty()) continue;
        const uint32_t rows = run.evaluation.RowsOf(s);
        const uint16_t columns = run.evaluation.ColumnsOf(s);
        std::printf("%s== %s ==\n", s == 0 ? "" : "\n", sheets[s].name.c_str());
        if (uint64_t{rows} * columns > MaxShownCells) {
            std::fprintf(stderr, "%s: sheet %s spans %u rows and %u columns: too large to show\n", path.c_str(),
                         sheets[s].name.c_str(), rows, static_cast<unsigned>(columns));
            shown = false;
            continue;
        }
        EvaluatedSheet sheet;
        ShowSheet(run.evaluation, s, &sheet);
        const std::string text = csv ? SheetCsv(sheet) : SheetTable(sheet);
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return run.evaluated && shown ? 0 : 1;
}

int RecalculateWorkbook(SubstituteHost& host, const std::vector<std::string>& arguments)
{
    std::vector<std::string> paths;
    bool inPlace = false;
    for (const std::string& a : arguments) {
        if (a == "--in-place") inPlace = true;
        else paths.push_back(a);
    }
    if (paths.size() == 1 && inPlace) paths.push_back(paths[0]);
    if (paths.size() != 2) return UsageError();
    const std::string& in = paths[0];
    std::string out = paths[1];
    std::error_code error;
    const bool same = std::filesystem::equivalent(FilePath(in), FilePath(out), error) && !error;
    if (same && !inPlace) {
        std::fprintf(stderr, "recalc: %s is %s itself; add --in-place to write over it\n", out.c_str(), in.c_str());
        return 2;
    }
    // Written over through another name (a link), the file itself is replaced, not the link.
    if (same) out = FileName(std::filesystem::canonical(FilePath(in), error));
    const std::string unwritten = "; " + out + " not written";
    return WithinMemory(in, unwritten.c_str(), [&] { return RecalculateRead(host, in, out); });
}

static int RecalculateRead(SubstituteHost& host, const std::string& in, const std::string& out)
{
    Recalculated run;
    Recalculate(host, in, &run);
    if (!run.evaluated) {
        std::fprintf(stderr, "recalc: %s not written\n", out.c_str());
        return 1;
    }
    const BookComparison comparison = CompareBook(run.book, run.evaluation, 0, KeepCells::None);
    const std::vector<CachedUpdate> updates = UpdatesFor(run.book, run.evaluation);
    // The copy needs only the updates: what is reported after it is taken now, and the workbook's
    // records go before the edited sheet is built.
    const std::string stale = ToleratedText(run.xlsx) + StaleLines(run.book, comparison);
    const size_t recomputed = comparison.recomputed, staleCount = comparison.stale.size(), kept = comparison.keptCached;
    run = Recalculated();
    std::string writeError;
    if (!WriteRecalculated(in, out, updates, &writeError)) {
        std::fprintf(stderr, "%s: %s\n", out.c_str(), writeError.c_str());
        return 1;
    }
    std::fputs(stale.c_str(), stdout);
    std::printf("%s: %zu cells recomputed, %zu cached values changed; %zu formulas left stale; %zu formulas kept their cached value "
                "(no add-in call)\n",
                out.c_str(), recomputed, updates.size(), staleCount, kept);
    return 0;
}

}  // namespace quorin_host
