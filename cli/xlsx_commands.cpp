// xlsx_commands.cpp - check, sheet and recalc on .xlsx workbooks: read, recalculate, compare or write.
#include "cli/xlsx_commands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "report/workbook_report.h"
#include "engine/text_file.h"
#include "engine/workbook.h"
#include "rules/number.h"

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

// Where a workbook's report goes: straight out, or, while files before it are still being checked,
// held and written after theirs, each piece to the stream it was meant for.
class Output {
public:
    explicit Output(bool held) : held_(held) {}
    void Out(const std::string& text) { Put(stdout, text); }
    void Err(const std::string& text) { Put(stderr, text); }
    void Release()
    {
        // Each stream flushed before the other is written, so that the pieces keep their order.
        for (const auto& piece : pieces_) {
            std::fflush(piece.first == stdout ? stderr : stdout);
            std::fwrite(piece.second.data(), 1, piece.second.size(), piece.first);
        }
        pieces_.clear();
        pieces_.shrink_to_fit();
    }

private:
    void Put(std::FILE* stream, const std::string& text)
    {
        if (!held_) std::fwrite(text.data(), 1, text.size(), stream);
        else if (!pieces_.empty() && pieces_.back().first == stream) pieces_.back().second += text;
        else pieces_.emplace_back(stream, text);
    }

    const bool held_;
    std::vector<std::pair<std::FILE*, std::string>> pieces_;
};

// Running out of memory is this input meeting this machine, not a fault of the program: a message
// naming the file, and the command's failure. What was read is released by then.
template <typename Run> int WithinMemory(const std::string& path, const char* aftermath, Output& output, Run run)
{
    try {
        return run();
    } catch (const std::bad_alloc&) {
        output.Err(path + ": out of memory" + aftermath + "\n");
        return 1;
    }
}

template <typename Run> int WithinMemory(const std::string& path, const char* aftermath, Run run)
{
    Output direct(false);
    return WithinMemory(path, aftermath, direct, run);
}

// Why a workbook was not read, then what its evaluation noted and the problems it met, on stderr.
void PrintMessages(bool read, const std::string& failure, const std::vector<std::string>& notes,
                   const std::vector<std::string>& problems, Output& output)
{
    if (!read) output.Err(failure + "\n");
    for (const std::string& note : notes) output.Err("note: " + note + "\n");
    for (const std::string& problem : problems) output.Err(problem + "\n");
}

void PrintMessages(const WorkbookReport& report, Output& output)
{
    PrintMessages(report.read, report.failure, report.notes, report.problems, output);
}

std::string Shown(const Value& v)
{
    if (v.kind == Kind::Empty) return "(nothing)";
    if (v.kind == Kind::Text) return "\"" + v.text + "\"";
    return FormatValue(v);
}

std::string HowFar(const ReportedCell& cell)
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
std::string StaleLines(const WorkbookReport& report)
{
    std::string lines;
    for (const ReportedStale& f : report.stale) lines += "    stale  " + f.cell + "  " + f.formula + "  (" + f.reason + ")\n";
    return lines;
}

// What the reader tolerated, one line per kind, as check and recalc both say it.
std::string ToleratedText(const WorkbookReport& report)
{
    std::string lines;
    for (const std::string& line : report.tolerated) lines += "    tolerated  " + line + "\n";
    return lines;
}

}  // namespace

// The commands' work on one file, inside WithinMemory.
static int CheckRead(Workers& workers, const std::string& path, uint64_t tolerance, Output& output);
static int ShowRead(Workers& workers, const std::string& path, bool csv);
static int RecalculateRead(Workers& workers, const std::string& in, const std::string& out);

static int CheckWorkbook(Workers& workers, const std::string& path, uint64_t tolerance, Output& output)
{
    return WithinMemory(path, "", output, [&] { return CheckRead(workers, path, tolerance, output); });
}

static int CheckRead(Workers& workers, const std::string& path, uint64_t tolerance, Output& output)
{
    WorkbookReport report;
    // The differing cells are printed as they are found, after the verdict and what was tolerated.
    CheckWorkbookReport(workers, path, tolerance, &report,
        [&](const WorkbookReport& counted) {
            PrintMessages(counted, output);
            output.Out((counted.differing == 0 ? "same   " : "DIFFER ") + path + "\n");
            output.Out(ToleratedText(counted));
        },
        [](const ReportedCell& cell, std::string* text) {
            // Appended piece by piece: a sum of strings would copy the line once per piece.
            text->append("    ").append(cell.cell).append("  ").append(cell.formula).append("  cached ").append(Shown(cell.cached));
            text->append("  computed ").append(Shown(cell.computed)).append("  (").append(HowFar(cell)).append(")\n");
        },
        [&](const std::string& text) { output.Out(text); });
    if (!report.evaluated) {
        PrintMessages(report, output);
        output.Out("FAILED " + path + "\n");
        return 1;
    }
    output.Out(StaleLines(report));
    output.Out(path + ": " + std::to_string(report.recomputed) + " cells recomputed, " + std::to_string(report.matching) + " matching, " +
               std::to_string(report.differing) + " differing; " + std::to_string(report.stale.size()) + " formulas stale; " +
               std::to_string(report.keptCached) + " formulas kept their cached value (no add-in call)\n");
    return report.differing == 0 ? 0 : 1;
}

int CheckWorkbookList(Workers& workers, const std::vector<std::string>& paths, uint64_t tolerance)
{
    if (paths.size() == 1) {
        Output direct(false);
        return CheckWorkbook(workers, paths[0], tolerance, direct);
    }
    // Each file on a thread and a worker of its own; its report held until those before it are out.
    struct File {
        Output output{true};
        int status = 0;
        bool done = false;
    };
    std::vector<File> files(paths.size());
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < paths.size(); i = next++) {
            const int status = CheckWorkbook(workers, paths[i], tolerance, files[i].output);
            const std::lock_guard<std::mutex> lock(mutex);
            files[i].status = status;
            files[i].done = true;
            finished.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::min(workers.Count(), paths.size()); ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    if (threads.empty()) work();
    int status = 0;
    for (File& file : files) {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return file.done; });
        lock.unlock();
        file.output.Release();
        status = std::max(status, file.status);
    }
    for (std::thread& t : threads) t.join();
    return status;
}

int CheckWorkbooks(Workers& workers, const std::vector<std::string>& arguments)
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
    return CheckWorkbookList(workers, books, tolerance);
}

int ShowWorkbook(Workers& workers, const std::string& path, bool csv)
{
    return WithinMemory(path, "", [&] { return ShowRead(workers, path, csv); });
}

static int ShowRead(Workers& workers, const std::string& path, bool csv)
{
    Recalculated run;
    Recalculate(workers, path, &run);
    Output direct(false);
    PrintMessages(run.read, path + ": " + run.error, run.evaluation.notes, run.evaluation.problems, direct);
    if (!run.read) return 1;
    // The table goes to stdout as data; what the reader read around is said beside it.
    for (const std::string& line : ToleratedLines(run.xlsx)) std::fprintf(stderr, "tolerated: %s\n", line.c_str());
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

int RecalculateWorkbook(Workers& workers, const std::vector<std::string>& arguments)
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
    const bool same = SameFile(in, out);
    if (same && !inPlace) {
        std::fprintf(stderr, "recalc: %s is %s itself; add --in-place to write over it\n", out.c_str(), in.c_str());
        return 2;
    }
    // Written over through another name (a link), the file itself is replaced, not the link.
    std::error_code error;
    if (same) out = FileName(std::filesystem::canonical(FilePath(in), error));
    const std::string unwritten = "; " + out + " not written";
    return WithinMemory(in, unwritten.c_str(), [&] { return RecalculateRead(workers, in, out); });
}

static int RecalculateRead(Workers& workers, const std::string& in, const std::string& out)
{
    WorkbookReport report;
    RecalculateWorkbookReport(workers, in, out, false, &report);
    Output direct(false);
    PrintMessages(report, direct);
    if (!report.evaluated) {
        std::fprintf(stderr, "recalc: %s not written\n", out.c_str());
        return 1;
    }
    if (!report.written) {
        std::fprintf(stderr, "%s\n", report.failure.c_str());
        return 1;
    }
    std::fputs((ToleratedText(report) + StaleLines(report)).c_str(), stdout);
    std::printf("%s: %zu cells recomputed, %zu cached values changed; %zu formulas left stale; %zu formulas kept their cached value "
                "(no add-in call)\n",
                out.c_str(), report.recomputed, report.changed, report.stale.size(), report.keptCached);
    return 0;
}

}  // namespace quorin_host
