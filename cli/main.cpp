// main.cpp - quorin-host: loads the add-in into the substitute host and evaluates formulas with it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "cli/call_log.h"
#include "engine/csv.h"
#include "engine/evaluate.h"
#include "engine/formula.h"
#include "cli/plot.h"
#include "host/substitute_host.h"
#include "engine/text_file.h"
#include "engine/workbook.h"
#include "engine/workers.h"
#include "cli/xlsx_commands.h"

using namespace quorin_host;

// What the command line's exit status says.
enum ExitStatus : int {
    Done = 0,        // every answer computed, every sheet as recorded
    Failed = 1,      // a formula, cell or file failed; the message says which
    UsageError = 2,  // the command line itself is wrong
    NoModule = 3,    // the add-in could not be loaded or opened
};

static const char Usage[] =
    "usage: quorin-host [--module PATH] [--jobs N] COMMAND\n"
    "       quorin-host --version | --help\n"
    "  --jobs N          evaluate workbooks on N workers, each with its own copy of the add-in\n"
    "                    (1 to 64; the number of cores by default): the same answers whatever N is\n"
    "  eval FORMULA...   evaluate each formula, e.g. '=StudentT(10)' or '=LLSQ({0,1,2},{1,3,5},2)'\n"
    "  functions         list the registered functions as the function wizard shows them\n"
    "  manager           show the add-in manager's title and the add and remove alerts\n"
    "  sheet FILE.csv [--csv | --calls]\n"
    "                    recalculate a sheet: cells hold numbers, text, or formulas starting with '='\n"
    "                    (quote those with commas); print it as a table, or as CSV with --csv, or\n"
    "                    each call of the add-in as a line of JSON with --calls: its arguments as a\n"
    "                    custom function receives them, their addresses on the sheet named as the\n"
    "                    file, and its answer\n"
    "  check DIR|FILE.csv...\n"
    "                    recalculate every NAME.csv and compare it with NAME.expected.csv beside it;\n"
    "                    then check every .xlsx and .xlsm workbook in DIR as below, by name\n"
    "  check BOOK.xlsx... [--tolerance ULPS]\n"
    "                    recalculate the workbook's formulas that call the add-in and compare each cell\n"
    "                    with the value the file cached; formulas calling built-in functions keep theirs;\n"
    "                    several workbooks are checked at once and reported in the order given\n"
    "  sheet BOOK.xlsx [--csv]\n"
    "                    show every recalculated sheet of the workbook, headed by its name\n"
    "  recalc IN.xlsx OUT.xlsx [--in-place]\n"
    "                    write a copy in which only the recalculated cells' cached values change;\n"
    "                    writing over IN needs --in-place\n"
    "  plot FORMULA VARIABLE FROM TO OUT.svg [--samples N]\n"
    "                    draw the formula's answer for VARIABLE from FROM to TO (N samples, 2 to 100000,\n"
    "                    401 by default), with the data points it reads, e.g.\n"
    "                    plot '=Spline({0,1,2,3,4},{0,1,0,1,0},x)' x 0 4 spline.svg\n"
    "Numbers print as the spreadsheet's General format shows them, with the digits that read back as\n"
    "the same number; the add-in's failure answer prints as #ERR999.\n"
    "Exit status: 0 all done; 1 a formula, a cell or a file failed (a message on standard error says\n"
    "which), or a sheet differs from its recorded answers; 2 the command line is wrong; 3 the add-in\n"
    "could not be loaded or opened.\n";

// More workers than this would be copies of the module with no core to run on.
constexpr int MaxJobs = 64;

static int UsageFailure(const std::string& problem)
{
    if (!problem.empty()) std::fprintf(stderr, "quorin-host: %s\n", problem.c_str());
    std::fputs(Usage, stderr);
    return UsageError;
}

static void PrintAlerts(SubstituteHost& host, size_t from)
{
    for (size_t a = from; a < host.alerts.size(); ++a) std::printf("[alert] %s\n", host.alerts[a].message.c_str());
}

static int Evaluate(SubstituteHost& host, const std::vector<std::string>& formulas)
{
    if (formulas.empty()) return UsageFailure("eval needs at least one formula");
    int status = Done;
    for (const std::string& formula : formulas) {
        Formula expression;
        std::string error;
        size_t column = 0;
        if (!ParseFormula(formula, &expression, &error, &column)) {
            std::fprintf(stderr, "%s: column %zu: %s\n", formula.c_str(), column, error.c_str());
            status = Failed;
            continue;
        }
        const Value answer = Evaluate(host, expression, &error);
        // A host refusal (an unknown function, a wrong argument count) comes with its reason.
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", formula.c_str(), error.c_str());
            status = Failed;
        }
        std::printf("%s  ->  %s\n", formula.c_str(), FormatValue(answer).c_str());
    }
    return status;
}

static int ListFunctions(const SubstituteHost& host)
{
    for (const Registration& r : host.registrations) {
        if (!r.accepted || r.texts.size() < 10) continue;
        std::printf("%s(%s)    [category: %s]\n  %s\n", r.texts[3].c_str(), r.texts[4].c_str(), r.texts[6].c_str(), r.texts[9].c_str());
        std::string names = r.texts[4];
        for (size_t h = 10; h < r.texts.size(); ++h) {
            const size_t comma = names.find(',');
            std::printf("    %s: %s\n", names.substr(0, comma).c_str(), r.texts[h].c_str());
            names = (comma == std::string::npos) ? std::string() : names.substr(comma + 1);
        }
    }
    return Done;
}

static int ShowManager(SubstituteHost& host)
{
    std::printf("title: %s\n", FormatValue(host.ManagerInfo(Value::Number(1))).c_str());
    const size_t before = host.alerts.size();
    host.Add();
    host.Remove();
    PrintAlerts(host, before);
    return Done;
}

static bool LoadCsv(const std::string& path, CsvRows* rows)
{
    std::string text, error;
    if (!ReadTextFile(path, &text, &error) || !ReadCsv(text, rows, &error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

static bool EvaluateOnOwnThread(SubstituteHost& host, const CsvRows& cells, const std::string& name, EvaluatedSheet* sheet)
{
    const bool evaluated = OnFreshThread([&] { return EvaluateSheet(host, cells, name, sheet); });
    for (const std::string& note : sheet->notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    for (const std::string& problem : sheet->problems) std::fprintf(stderr, "%s\n", problem.c_str());
    return evaluated;
}

// What a command runs with: the host the add-in was opened in, and the workers evaluating workbooks,
// that host the first of them.
struct Session {
    SubstituteHost& host;
    Workers& workers;
};

static int EvaluateSheetFile(Session& session, const std::vector<std::string>& arguments)
{
    std::string path;
    bool csv = false;
    bool calls = false;
    for (const std::string& a : arguments) {
        if (a == "--csv") csv = true;
        else if (a == "--calls") calls = true;
        else if (path.empty()) path = a;
        else return UsageFailure("sheet takes one file");
    }
    if (path.empty()) return UsageFailure("sheet needs a file");
    SubstituteHost& host = session.host;
    if (NamesWorkbook({path})) {
        if (calls) return UsageFailure("--calls is for a CSV sheet");
        return ShowWorkbook(session.workers, path, csv);
    }
    CsvRows cells;
    if (!LoadCsv(path, &cells)) return Failed;
    EvaluatedSheet sheet;
    std::string callLines;
    if (calls) {
        // A spreadsheet opening a CSV file names its one sheet after the file.
        const std::string sheetName = FileName(std::filesystem::path(path).stem());
        host.callObserver = [&](const std::string& name, const std::vector<Value>& given, const Value& answer) {
            callLines += CallJson(host.Cells(), sheetName, host.TypeTextOf(name), name, given, answer);
        };
    }
    const bool evaluated = EvaluateOnOwnThread(host, cells, path, &sheet);
    host.callObserver = nullptr;
    const std::string text = calls ? callLines : csv ? SheetCsv(sheet) : SheetTable(sheet);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return evaluated ? Done : Failed;
}

static const char ExpectedSuffix[] = ".expected.csv";

static bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The CSV sheets against their recorded answers, and the summary line; missing counts the names given
// that were not there.
static int CheckCsvSheets(SubstituteHost& host, const std::vector<std::string>& sheets, int32_t missing)
{
    int32_t unread = 0;
    int32_t differing = 0;
    for (const std::string& path : sheets) {
        const std::string expectedPath = path.substr(0, path.size() - 4) + ExpectedSuffix;
        CsvRows cells, expected;
        // A sheet or its answers that cannot be read is reported as such, not as a difference.
        if (!LoadCsv(path, &cells) || !LoadCsv(expectedPath, &expected)) {
            std::printf("UNREAD %s\n", path.c_str());
            ++unread;
            continue;
        }
        EvaluatedSheet sheet;
        bool same = EvaluateOnOwnThread(host, cells, path, &sheet);
        const std::vector<std::string> differences = same ? CompareSheet(sheet, expected) : std::vector<std::string>();
        same = same && differences.empty();
        std::printf("%s %s\n", same ? "same  " : "DIFFER", path.c_str());
        for (const std::string& d : differences) std::printf("    %s\n", d.c_str());
        if (!same) ++differing;
    }
    const size_t recorded = sheets.size() - static_cast<size_t>(differing) - static_cast<size_t>(unread);
    std::printf("check: %zu sheets, %zu as recorded, %d differing, %d unreadable\n", sheets.size() + static_cast<size_t>(missing),
                recorded, static_cast<int>(differing), static_cast<int>(missing + unread));
    return (differing == 0 && missing + unread == 0) ? Done : Failed;
}

static int CheckSheets(Session& session, const std::vector<std::string>& arguments)
{
    if (arguments.empty()) return UsageFailure("check needs a directory or a sheet");
    std::vector<std::string> sheets, workbooks;
    int32_t missing = 0;
    for (const std::string& a : arguments) {
        std::error_code error;
        if (!std::filesystem::is_directory(FilePath(a), error)) {
            if (std::filesystem::exists(FilePath(a), error)) {
                sheets.push_back(a);
            } else {
                std::fprintf(stderr, "%s: no such file or directory\n", a.c_str());
                ++missing;
            }
            continue;
        }
        std::vector<std::string> found, foundBooks;
        for (const auto& entry : std::filesystem::directory_iterator(FilePath(a), error)) {
            const std::string name = FileName(entry.path().filename());
            // A forward slash joins on Windows too, and keeps the path as the user typed it.
            const bool separated = EndsWith(a, "/") || EndsWith(a, "\\");
            const std::string path = a + (separated ? "" : "/") + name;
            if (EndsWith(name, ".csv") && !EndsWith(name, ExpectedSuffix)) found.push_back(path);
            // ~$NAME.xlsx is the lock file the spreadsheet keeps beside an open workbook, not a workbook.
            if (NamesWorkbook({name}) && name.compare(0, 2, "~$") != 0) foundBooks.push_back(path);
        }
        if (error) std::fprintf(stderr, "%s: %s\n", a.c_str(), error.message().c_str());
        // The folder's listing order is the file system's: sorted, the output is the same everywhere.
        std::sort(found.begin(), found.end());
        std::sort(foundBooks.begin(), foundBooks.end());
        sheets.insert(sheets.end(), found.begin(), found.end());
        workbooks.insert(workbooks.end(), foundBooks.begin(), foundBooks.end());
    }
    if (sheets.empty() && workbooks.empty()) {
        if (missing == 0) std::fputs("check: no sheets found\n", stderr);
        return Failed;
    }
    int status = sheets.empty() && missing == 0 ? Done : CheckCsvSheets(session.host, sheets, missing);
    if (!workbooks.empty()) status = std::max(status, CheckWorkbookList(session.workers, workbooks, 0));
    return status;
}

// A number on the command line, read by the one number grammar; false with a message naming what.
static bool ReadNumberArgument(const std::string& text, const char* what, double* value, std::string* problem)
{
    const NumberRead read = ParseNumber(text, value);
    if (read == NumberRead::Ok) return true;
    *problem = std::string(what) + (read == NumberRead::Overflow ? " is beyond the largest number: " : " must be a number: ") + text;
    return false;
}

static int PlotFormula(SubstituteHost& host, const std::vector<std::string>& arguments)
{
    PlotRequest request;
    std::vector<std::string> positional;
    std::string problem;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != "--samples") {
            positional.push_back(arguments[i]);
            continue;
        }
        if (i + 1 >= arguments.size()) return UsageFailure("--samples needs a number");
        double samples = 0.0;
        const std::string& text = arguments[++i];
        if (!ReadNumberArgument(text, "--samples", &samples, &problem)) return UsageFailure(problem);
        if (!(samples >= MinSamples && samples <= MaxSamples) || samples != std::floor(samples)) {
            return UsageFailure("--samples takes a whole number from " + std::to_string(MinSamples) + " to " +
                                std::to_string(MaxSamples) + ": " + text);
        }
        request.samples = static_cast<int32_t>(samples);
    }
    if (positional.size() != 5) return UsageFailure("plot takes a formula, a variable, two ends and an output file");
    if (!ReadNumberArgument(positional[2], "FROM", &request.from, &problem) ||
        !ReadNumberArgument(positional[3], "TO", &request.to, &problem)) return UsageFailure(problem);
    request.formula = positional[0];
    request.variable = positional[1];
    PlotData data;
    std::string error;
    if (!SamplePlot(host, request, &data, &error)) {
        std::fprintf(stderr, "%s: %s\n", request.formula.c_str(), error.c_str());
        return Failed;
    }
    if (!WriteFileWhole(positional[4], RenderSvg(data), &error)) {
        std::fprintf(stderr, "%s: %s\n", positional[4].c_str(), error.c_str());
        return Failed;
    }
    std::printf("%s: %zu samples (%d without a number), %zu data points, %zu constraints\n", positional[4].c_str(),
                data.xs.size(), static_cast<int>(data.failures), data.points.size(), data.constraints.size());
    return Done;
}

// The commands, looked up before the add-in is loaded so that a mistyped one costs no load.
struct Command {
    const char* name;
    int (*run)(Session& session, const std::vector<std::string>& arguments);
};
static const Command Commands[] = {
    {"eval", [](Session& session, const std::vector<std::string>& arguments) { return Evaluate(session.host, arguments); }},
    {"functions", [](Session& session, const std::vector<std::string>&) { return ListFunctions(session.host); }},
    {"manager", [](Session& session, const std::vector<std::string>&) { return ShowManager(session.host); }},
    {"sheet", EvaluateSheetFile},
    {"check", [](Session& session, const std::vector<std::string>& arguments) {
         return NamesWorkbook(arguments) ? CheckWorkbooks(session.workers, arguments) : CheckSheets(session, arguments);
     }},
    {"recalc", [](Session& session, const std::vector<std::string>& arguments) { return RecalculateWorkbook(session.workers, arguments); }},
    {"plot", [](Session& session, const std::vector<std::string>& arguments) { return PlotFormula(session.host, arguments); }},
};

// The arguments as UTF-8. Windows hands main its arguments in the ANSI code page, which cannot spell
// every file name, so there they are read again from the wide command line.
static std::vector<std::string> Arguments(int argc, char** argv)
{
#if defined(_WIN32)
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        std::vector<std::string> arguments;
        for (int i = 1; i < count; ++i) arguments.push_back(FileName(std::filesystem::path(wide[i])));
        LocalFree(wide);
        return arguments;
    }
#endif
    return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

int main(int argc, char** argv)
{
#if defined(_WIN32)
    // Output is the same bytes on every system: LF line ends, so that --csv output is one file.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const std::vector<std::string> arguments = Arguments(argc, argv);
    // Answered before the module is loaded, so that they work even where the module is missing.
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::printf("quorin-host %s\n", QUORIN_VERSION);
        return Done;
    }
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::fputs(Usage, stdout);
        return Done;
    }
    std::string modulePath = DefaultModulePath();
    size_t jobs = CoreCount();
    size_t a = 0;
    for (; a < arguments.size() && (arguments[a] == "--module" || arguments[a] == "--jobs"); a += 2) {
        if (a + 1 >= arguments.size()) return UsageFailure(arguments[a] + (arguments[a] == "--module" ? " needs a path" : " needs a number"));
        if (arguments[a] == "--module") {
            modulePath = arguments[a + 1];
            continue;
        }
        double number = 0.0;
        if (ParseNumber(arguments[a + 1], &number) != NumberRead::Ok || !(number >= 1.0 && number <= MaxJobs) || number != std::floor(number)) {
            return UsageFailure("--jobs takes a whole number from 1 to " + std::to_string(MaxJobs) + ": " + arguments[a + 1]);
        }
        jobs = static_cast<size_t>(number);
    }
    if (a >= arguments.size()) return UsageFailure("");
    const std::string name = arguments[a++];
    const std::vector<std::string> rest(arguments.begin() + static_cast<std::ptrdiff_t>(a), arguments.end());
    const Command* command = std::find_if(std::begin(Commands), std::end(Commands), [&](const Command& c) { return name == c.name; });
    if (command == std::end(Commands)) return UsageFailure("unknown command " + name);

    SubstituteHost host;
    std::string error;
    if (!host.Load(modulePath, &error)) {
        std::fprintf(stderr, "quorin-host: %s\n", error.c_str());
        return NoModule;
    }
    const int32_t opened = host.Open();
    PrintAlerts(host, 0);
    if (opened != 1) {
        std::fprintf(stderr, "quorin-host: the add-in did not open\n");
        return NoModule;
    }

    int status = Failed;
    // The commands that read a workbook name it themselves; any other input too large for memory is
    // named here by the command as typed, so nothing ends in an uncaught exception.
    try {
        Workers workers(host, jobs);
        Session session{host, workers};
        status = command->run(session, rest);
    } catch (const std::bad_alloc&) {
        std::string typed = name;
        for (const std::string& r : rest) typed += " " + r;
        std::fprintf(stderr, "quorin-host %s: out of memory\n", typed.c_str());
    }
    host.Close();
    host.Unload();
    return status;
}
