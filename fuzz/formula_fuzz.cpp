// formula_fuzz.cpp - the formula reader on any text, and evaluation of what it reads without the
// module: every call is then an unknown function, so operators, conversions, references, the
// dependency order and the messages are what runs.
#include <cstdint>
#include <string>

#include "engine/evaluate.h"
#include "engine/formula.h"
#include "engine/workbook.h"

using namespace quorin_host;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    SubstituteHost& host = SubstituteHost::Instance();
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
