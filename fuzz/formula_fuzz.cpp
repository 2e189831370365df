// formula_fuzz.cpp - the formula reader and the scan on any text, and evaluation of what it reads
// without the module: every call is then an unknown function, so operators, conversions, references,
// the dependency order, the choice of what to recompute and the messages are what runs.
#include <cstdint>
#include <string>

#include "engine/evaluate.h"
#include "engine/formula.h"
#include "engine/workbook.h"

using namespace quorin_host;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // No module is loaded: every call is refused, and the engine's paths around the calls are what is fuzzed.
    static SubstituteHost host;
    // Every node the scan finds starts at a character of its own.
    if (ScanFormula(text).nodes.size() > text.size()) __builtin_trap();
    // The text as a workbook keeps it: a formula beside a table and a name, as the .xlsx commands see it.
    Workbook book;
    book.AddSheet("S");
    book.names.push_back({"N", -1, text});
    book.tables.push_back({"T", 0, Area{0, 2, 0, 1, 0}, 1, 0, {"x", "y"}});
    WorkbookFormula written;
    written.text = text;
    book.SetFormula(0, 1, 2, written);
    written.text = "N+T[x]";
    book.SetFormula(0, 2, 2, written);
    EvaluationOptions keep;
    keep.keepForeignFormulas = true;
    WorkbookEvaluation kept;
    (void)EvaluateWorkbook(host, book, keep, &kept);
    Formula formula;
    std::string error;
    size_t column = 0;
    if (!ParseFormula(text, &formula, &error, &column)) {
        if (error.empty() || column == 0 || column > text.size() + 1) __builtin_trap();
        return 0;
    }
    (void)Evaluate(host, formula, &error);
    ShiftReferences(&formula, static_cast<int32_t>(size % 7) - 3, static_cast<int32_t>(size % 5) - 2);
    (void)Evaluate(host, formula, &error);

    // The formula in a small sheet that reads it and that it may read.
    const CsvRows cells = {{"=" + text, "2"}, {"=A1", "text"}};
    EvaluatedSheet sheet;
    (void)EvaluateSheet(host, cells, "fuzz.csv", &sheet);
    return 0;
}
