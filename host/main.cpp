// main.cpp - quorin-host: loads the add-in into the substitute host and evaluates formulas with it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/formula.h"
#include "host/substitute_host.h"

using namespace quorin_host;

static const char Usage[] =
    "usage: quorin-host [--module PATH] COMMAND\n"
    "  eval FORMULA...   evaluate each formula, e.g. '=StudentT(10)' or '=LLSQ({0,1,2},{1,3,5},2)'\n"
    "  functions         list the registered functions as the function wizard shows them\n"
    "  manager           show the add-in manager's title and the add and remove alerts\n"
    "Numbers print at full round-trip precision; the add-in's failure answer prints as #ERR999.\n";

static void PrintAlerts(SubstituteHost& host, size_t from)
{
    for (size_t a = from; a < host.alerts.size(); ++a) std::printf("[alert] %s\n", host.alerts[a].message.c_str());
}

static int Evaluate(SubstituteHost& host, const std::vector<std::string>& formulas)
{
    int status = 0;
    for (const std::string& formula : formulas) {
        Expression expression;
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
    else std::fputs(Usage, stderr);
    host.Close();
    host.Unload();
    return status;
}
