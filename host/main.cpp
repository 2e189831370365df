// main.cpp - quorin-host: loads the add-in into the substitute host and evaluates formulas with it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/evaluate.h"
#include "host/formula.h"
#include "host/plot.h"
#include "host/substitute_host.h"
#include "host/workbook.h"
#include "host/xlsx_commands.h"

using namespace quorin_host;

static const char Usage[] =
    "usage: quorin-host [--module PATH] COMMAND\n"
    "  eval FORMULA...   evaluate each formula, e.g. '=StudentT(10)' or '=LLSQ({0,1,2},{1,3,5},2)'\n"
    "  functions         list the registered functions as the function wizard shows them\n"
    "  manager           show the add-in manager's title and the add and remove alerts\n"
    "  sheet FILE.csv [--csv]\n"
    "                    recalculate a sheet: cells hold numbers, text, or formulas starting with '='\n"
    "                    (quote those with commas); print it as a table, or as CSV with --csv\n"
    "  check DIR|FILE.csv...\n"
    "                    recalculate every NAME.csv and compare it with NAME.expected.csv beside it\n"
    "  check BOOK.xlsx... [--tolerance ULPS]\n"
    "                    recalculate the workbook's formulas that call the add-in and compare each cell\n"
    "                    with the value the file cached; formulas calling built-in functions keep theirs\n"
    "  sheet BOOK.xlsx [--csv]\n"
    "                    show every recalculated sheet of the workbook, headed by its name\n"
    "  recalc IN.xlsx OUT.xlsx [--in-place]\n"
    "                    write a copy in which only the recalculated cells' cached values change;\n"
    "                    writing over IN needs --in-place (.xlsx needs the Linux build)\n"
    "  plot FORMULA VARIABLE FROM TO OUT.svg [--samples N]\n"
    "                    draw the formula's answer for VARIABLE from FROM to TO, with the data points\n"
    "                    it reads, e.g. plot '=Spline({0,1,2,3,4},{0,1,0,1,0},x)' x 0 4 spline.svg\n"
    "Numbers print at full round-trip precision; the add-in's failure answer prints as #ERR999.\n";

static void PrintAlerts(SubstituteHost& host, size_t from)
{
    for (size_t a = from; a < host.alerts.size(); ++a) std::printf("[alert] %s\n", host.alerts[a].message.c_str());
}

static int Evaluate(SubstituteHost& host, const std::vector<std::string>& formulas)
{
    int status = 0;
    for (const std::string& formula : formulas) {
        Formula expression;
        std::string error;
        size_t column = 0;
        if (!ParseFormula(formula, &expression, &error, &column)) {
            std::fprintf(stderr, "%s: column %zu: %s\n", formula.c_str(), column, error.c_str());
            status = 1;
            continue;
        }
        const Value answer = Evaluate(host, expression, &error);
        if (!error.empty()) std::fprintf(stderr, "%s: %s\n", formula.c_str(), error.c_str());
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
    return 0;
}

static int ShowManager(SubstituteHost& host)
{
    std::printf("title: %s\n", FormatValue(host.ManagerInfo(Value::Number(1))).c_str());
    const size_t before = host.alerts.size();
    host.Add();
    host.Remove();
    PrintAlerts(host, before);
    return 0;
}

static bool ReadWholeFile(const std::string& path, std::string* text)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    *text = content.str();
    return true;
}

static bool LoadCsv(const std::string& path, CsvRows* rows)
{
    std::string text, error;
    if (!ReadWholeFile(path, &text)) {
        std::fprintf(stderr, "%s: cannot read the file\n", path.c_str());
        return false;
    }
    if (!ReadCsv(text, rows, &error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// The random numbers' generator starts afresh on every thread, so each sheet gets a thread of its
// own and shows the same numbers however many sheets ran before it.
static bool EvaluateOnOwnThread(SubstituteHost& host, const CsvRows& cells, const std::string& name, EvaluatedSheet* sheet)
{
    bool evaluated = false;
    std::thread worker([&] { evaluated = EvaluateSheet(host, cells, name, sheet); });
    worker.join();
    for (const std::string& note : sheet->notes) std::fprintf(stderr, "note: %s\n", note.c_str());
    for (const std::string& problem : sheet->problems) std::fprintf(stderr, "%s\n", problem.c_str());
    return evaluated;
}

static int EvaluateSheetFile(SubstituteHost& host, const std::vector<std::string>& arguments)
{
    std::string path;
    bool csv = false;
    for (const std::string& a : arguments) {
        if (a == "--csv") csv = true;
        else if (path.empty()) path = a;
        else return std::fputs(Usage, stderr), 2;
    }
    if (path.empty()) return std::fputs(Usage, stderr), 2;
    if (NamesWorkbook({path})) return ShowWorkbook(host, path, csv);
    CsvRows cells;
    if (!LoadCsv(path, &cells)) return 1;
    EvaluatedSheet sheet;
    const bool evaluated = EvaluateOnOwnThread(host, cells, path, &sheet);
    const std::string text = csv ? SheetCsv(sheet) : SheetTable(sheet);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return evaluated ? 0 : 1;
}

static const char ExpectedSuffix[] = ".expected.csv";

static bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

static int CheckSheets(SubstituteHost& host, const std::vector<std::string>& arguments)
{
    std::vector<std::string> sheets;
    for (const std::string& a : arguments) {
        std::error_code error;
        if (!std::filesystem::is_directory(a, error)) {
            sheets.push_back(a);
            continue;
        }
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(a, error)) {
            const std::string name = entry.path().filename().string();
            // A forward slash joins on Windows too, and keeps the path as the user typed it.
            const bool separated = EndsWith(a, "/") || EndsWith(a, "\\");
            if (EndsWith(name, ".csv") && !EndsWith(name, ExpectedSuffix)) found.push_back(a + (separated ? "" : "/") + name);
        }
        if (error) std::fprintf(stderr, "%s: %s\n", a.c_str(), error.message().c_str());
        std::sort(found.begin(), found.end());
        sheets.insert(sheets.end(), found.begin(), found.end());
    }
    if (sheets.empty()) {
        std::fputs("check: no sheets found\n", stderr);
        return 1;
    }
    int32_t differing = 0;
    for (const std::string& path : sheets) {
        const std::string expectedPath = path.substr(0, path.size() - 4) + ExpectedSuffix;
        CsvRows cells, expected;
        EvaluatedSheet sheet;
        bool same = LoadCsv(path, &cells) && LoadCsv(expectedPath, &expected);
        same = same && EvaluateOnOwnThread(host, cells, path, &sheet);
        const std::vector<std::string> differences = same ? CompareSheet(sheet, expected) : std::vector<std::string>();
        same = same && differences.empty();
        std::printf("%s %s\n", same ? "same  " : "DIFFER", path.c_str());
        for (const std::string& d : differences) std::printf("    %s\n", d.c_str());
        if (!same) ++differing;
    }
    std::printf("check: %zu sheets, %d as recorded, %d differing\n", sheets.size(), static_cast<int>(sheets.size()) - differing, differing);
    return differing == 0 ? 0 : 1;
}

static bool ReadDouble(const std::string& text, double* value)
{
    return ParseNumber(text, value) == NumberRead::Ok;
}

static int PlotFormula(SubstituteHost& host, const std::vector<std::string>& arguments)
{
    PlotRequest request;
    std::vector<std::string> positional;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--samples" && i + 1 < arguments.size()) request.samples = std::atoi(arguments[++i].c_str());
        else positional.push_back(arguments[i]);
    }
    if (positional.size() != 5 || !ReadDouble(positional[2], &request.from) || !ReadDouble(positional[3], &request.to)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    request.formula = positional[0];
    request.variable = positional[1];
    PlotData data;
    std::string error;
    if (!SamplePlot(host, request, &data, &error)) {
        std::fprintf(stderr, "%s: %s\n", request.formula.c_str(), error.c_str());
        return 1;
    }
    const std::string svg = RenderSvg(data);
    std::ofstream out(positional[4], std::ios::binary);
    out << svg;
    if (!out.flush()) {
        std::fprintf(stderr, "%s: cannot write the file\n", positional[4].c_str());
        return 1;
    }
    std::printf("%s: %zu samples (%d without a number), %zu data points, %zu constraints\n", positional[4].c_str(),
                data.xs.size(), static_cast<int>(data.failures), data.points.size(), data.constraints.size());
    return 0;
}

int main(int argc, char** argv)
{
    std::string modulePath = DefaultModulePath();
    int a = 1;
    if (a + 1 < argc && std::strcmp(argv[a], "--module") == 0) {
        modulePath = argv[a + 1];
        a += 2;
    }
    if (a >= argc) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const std::string command = argv[a++];
    std::vector<std::string> rest(argv + a, argv + argc);

    SubstituteHost& host = SubstituteHost::Instance();
    std::string error;
    if (!host.Load(modulePath, &error)) {
        std::fprintf(stderr, "quorin-host: %s\n", error.c_str());
        return 1;
    }
    const int32_t opened = host.Open();
    PrintAlerts(host, 0);
    if (opened != 1) {
        std::fprintf(stderr, "quorin-host: the add-in did not open\n");
        return 1;
    }

    int status = 2;
    if (command == "eval") status = Evaluate(host, rest);
    else if (command == "functions") status = ListFunctions(host);
    else if (command == "manager") status = ShowManager(host);
    else if (command == "sheet") status = EvaluateSheetFile(host, rest);
    else if (command == "check") status = NamesWorkbook(rest) ? CheckWorkbooks(host, rest) : CheckSheets(host, rest);
    else if (command == "recalc") status = RecalculateWorkbook(host, rest);
    else if (command == "plot") status = PlotFormula(host, rest);
    else std::fputs(Usage, stderr);
    host.Close();
    host.Unload();
    return status;
}
