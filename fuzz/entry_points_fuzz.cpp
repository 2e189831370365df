// entry_points_fuzz.cpp - every exported entry of the module, called through the substitute host with
// argument records built from the input; aborts as soon as a call breaks one of the host's rules.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/substitute_host.h"

using namespace quorin_host;
using quorin_fuzz::Integer;
using quorin_fuzz::Number;

namespace {

// Bounds that keep one input to a few milliseconds; the stress tests cover the large shapes.
constexpr int32_t MaxReferenceCells = 4096;
constexpr int32_t MaxArrayElements = 2048;
constexpr int MaxCallsPerInput = 8;
constexpr uint16_t FailureCode = 999;
constexpr int32_t MostTerms = 20;

struct Function {
    void* procedure;
    std::string name;
    std::string typeText;
};

// Arguments whose cost grows faster than their cell count: Lagrange's points cost quadratic time,
// a fit's constraints cubic (they border its system). Each range argument listed here carries at most
// this many cells; the stress tests call these functions with the largest shapes.
struct CellBound {
    const char* function;
    size_t argument;  // 0-based, as in the type text after the answer
    int32_t cells;
};
constexpr CellBound CellBounds[] = {
    {"Lagrange", 0, 256}, {"Lagrange", 1, 256}, {"LLSQLC", 3, 32}, {"LLSQLC", 4, 32},
};

int32_t MostCells(const std::string& function, size_t argument)
{
    for (const CellBound& b : CellBounds) {
        if (function == b.function && argument == b.argument) return b.cells;
    }
    return MaxReferenceCells;
}

std::vector<Function> Functions;
XLOPER* SharedAnswer = nullptr;  // the record the first worksheet call answered; every later one must match
SubstituteHost* Host = nullptr;

[[noreturn]] void Broken(const std::string& entry, const char* rule)
{
    std::fprintf(stderr, "%s broke a rule: %s\n", entry.c_str(), rule);
    std::abort();
}

Value Scalar(FuzzedDataProvider& in, bool inSheet)
{
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: return Value::Text(in.ConsumeRandomLengthString(300));
    case 1: return Value::Boolean(in.ConsumeBool());
    case 2: return Value::Error(in.ConsumeIntegral<uint16_t>());
    case 3: return Value{};
    case 4: return inSheet ? Value::Uncalculated() : Value{};
    default: return Value::Number(Number(in));
    }
}

// A count from least to most with its magnitude drawn first, each power of two as likely as the next:
// most shapes stay small and cheap (the host coerces cell by cell) while the largest remain reachable.
int32_t Size(FuzzedDataProvider& in, int32_t least, int32_t most)
{
    const int doublings = in.ConsumeIntegralInRange<int>(0, 12);
    const int32_t ceiling = std::min(most, int32_t{1} << doublings);
    return in.ConsumeIntegralInRange<int32_t>(least, std::max(least, ceiling));
}

// Numbers only, an arithmetic run (so that tables pass the order checks), or any mix of kinds.
Value ArrayValue(FuzzedDataProvider& in, int32_t mostCells)
{
    int32_t rows = Size(in, 0, 48);
    int32_t columns = Size(in, 0, rows == 0 ? 48 : std::min(48, mostCells / rows));
    if (in.ConsumeBool()) {
        rows = Size(in, 0, std::min(MaxArrayElements, mostCells));
        columns = 1;
        if (in.ConsumeBool()) std::swap(rows, columns);
    }
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);
    const double start = Number(in);
    const double step = in.ConsumeBool() ? Number(in) : static_cast<double>(in.ConsumeIntegralInRange<int>(-3, 3));
    std::vector<Value> elements;
    elements.reserve(static_cast<size_t>(rows) * static_cast<size_t>(columns));
    for (int32_t k = 0; k < rows * columns; ++k) {
        if (mode == 0) elements.push_back(Value::Number(Number(in)));
        else if (mode == 1) elements.push_back(Value::Number(start + step * k));
        else elements.push_back(Scalar(in, false));
    }
    return Value::Array(rows, columns, std::move(elements));
}

Area AreaValue(FuzzedDataProvider& in, int32_t mostCells)
{
    Area a;
    a.rowFirst = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 40) : in.ConsumeIntegralInRange<uint32_t>(0, 1048575);
    a.columnFirst = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint16_t>(0, 8) : in.ConsumeIntegralInRange<uint16_t>(0, 16383);
    const int32_t cells = Size(in, 1, mostCells);
    const uint32_t rows = in.ConsumeIntegralInRange<uint32_t>(1, static_cast<uint32_t>(std::min(64, cells)));
    const uint32_t columns = static_cast<uint32_t>(cells) / rows;
    a.rowLast = a.rowFirst + rows - 1;
    a.columnLast = static_cast<uint16_t>(a.columnFirst + columns - 1);
    // Inverted bounds, as a malformed reference would carry: the host refuses to coerce them.
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) std::swap(a.rowFirst, a.rowLast);
    return a;
}

// A record of a type no worksheet function accepts as a range: the plain and flagged scalar types and
// any other type word whose value area holds no pointer the host would follow.
XLOPER* OddRecord(FuzzedDataProvider& in)
{
    XLOPER* record = Host->MakeRecord(Value::Number(Number(in)));
    static constexpr uint16_t Types[] = {xltypeInt, xltypeMissing, xltypeNil, xltypeBool, xltypeErr,
                                         0x1000 | xltypeNum, 0x4000 | xltypeNum, 0x1000 | xltypeMulti,
                                         0x4000 | xltypeSRef, 0};
    uint16_t type = Types[in.ConsumeIntegralInRange<size_t>(0, sizeof(Types) / sizeof(Types[0]) - 1)];
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
        type = in.ConsumeIntegral<uint16_t>();
        const uint16_t base = type & 0x0FFF;
        if (base == xltypeStr || base == xltypeRef || base == xltypeMulti || base == xltypeSRef) type = xltypeMissing;
    }
    const uint64_t payload = in.ConsumeIntegral<uint64_t>();
    std::memcpy(record->val.area, &payload, sizeof payload);
    record->xltype = type;
    return record;
}

XLOPER* RecordArgument(FuzzedDataProvider& in, int32_t mostCells)
{
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: return Host->MakeRecord(Scalar(in, false));
    case 1: return OddRecord(in);
    case 2: case 3: case 4: return Host->MakeRecord(ArrayValue(in, mostCells));
    case 5: {
        std::vector<Area> areas{AreaValue(in, std::max(1, mostCells / 2)), AreaValue(in, std::max(1, mostCells / 2))};
        if (in.ConsumeBool()) areas.pop_back();
        return Host->MakeRecord(Value::Reference(areas));
    }
    default: return Host->MakeRecord(Value::Reference({AreaValue(in, mostCells)}));
    }
}

// The host's sheet, with the cells never set read from one of a few generators.
struct GeneratedBackground : CellSource {
    int kind = 0;
    double step = 0.0;
    mutable Value cell;
    const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const override
    {
        const Value& set = Host->sheet.CellAt(sheet, row, column);
        if (set.kind != Kind::Empty || kind == 0) return set;
        cell = Value::Number(kind == 1 ? row * 0.5 + column : kind == 2 ? step * row - column : step);
        return cell;
    }
} Background;

void FillSheet(FuzzedDataProvider& in)
{
    Host->sheet = Sheet{};
    const int cells = in.ConsumeIntegralInRange<int>(0, 48);
    for (int c = 0; c < cells; ++c) {
        const uint32_t row = in.ConsumeIntegralInRange<uint32_t>(0, 40);
        const uint16_t column = in.ConsumeIntegralInRange<uint16_t>(0, 8);
        Host->sheet.Set(row, column, Scalar(in, true));
    }
    Background.kind = in.ConsumeIntegralInRange<int>(0, 3);
    Background.step = Number(in);
}

void CheckHostRecords(const std::string& entry)
{
    if (Host->Outstanding() != 0) Broken(entry, "a record the host filled was not released");
    if (Host->releaseViolations != 0) Broken(entry, "a record was released twice or never filled");
}

void CheckWorksheetAnswer(const Function& f, const XLOPER* answer, const std::vector<RawArgument>& raw)
{
    if (answer == nullptr) Broken(f.name, "answered no record");
    if (SharedAnswer == nullptr) SharedAnswer = const_cast<XLOPER*>(answer);
    if (answer != SharedAnswer) Broken(f.name, "answered a record other than the shared one");
    const bool fit = f.name == "LLSQ" || f.name == "LLSQLC";
    const bool alwaysNumber = f.name == "StudentT" || f.name == "RandNorm" || f.name == "RandDist";
    switch (answer->xltype) {
    case xltypeNum:
        if (fit) Broken(f.name, "a fit answered a plain number");
        if (f.name == "CountBetween" && !(answer->val.num >= 0.0 && answer->val.num == std::floor(answer->val.num))) {
            Broken(f.name, "a count that is not a whole number");
        }
        return;
    case xltypeErr:
        if (answer->val.err != FailureCode) Broken(f.name, "an error other than 999");
        if (alwaysNumber) Broken(f.name, "failed where only numbers are answered");
        return;
    case xltypeMulti: {
        if (!fit) Broken(f.name, "an array from a function answering numbers");
        const int32_t terms = raw[2].integer;
        if (terms < 2 || terms > MostTerms) Broken(f.name, "an array for a term count it must refuse");
        if (answer->val.array.rows != 1 || answer->val.array.columns != terms) Broken(f.name, "array shape is not 1 x terms");
        if (answer->val.array.lparray == nullptr) Broken(f.name, "array without elements");
        for (int32_t k = 0; k < terms; ++k) {
            if (answer->val.array.lparray[k].xltype != xltypeNum) Broken(f.name, "array element is not a number");
        }
        return;
    }
    default: Broken(f.name, "answered a record type outside number, error and array");
    }
}

void CallWorksheetFunction(FuzzedDataProvider& in, const Function& f)
{
    std::vector<RawArgument> raw(f.typeText.size() - 1);
    for (size_t a = 0; a < raw.size(); ++a) {
        const char letter = f.typeText[a + 1];
        if (letter == 'R') raw[a].record = RecordArgument(in, MostCells(f.name, a));
        else if (letter == 'B') raw[a].number = Number(in);
        else raw[a].integer = Integer(in);
    }
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        Host->faults.coerceFailAt = in.ConsumeIntegralInRange<int32_t>(1, 5);
        Host->faults.coerceAnswer = Integer(in);
        if (Host->faults.coerceAnswer == 0) Host->faults.coerceAnswer = xlretUncalced;
    }
    const XLOPER* answer = Host->Invoke(f.procedure, f.typeText, raw);
    CheckWorksheetAnswer(f, answer, raw);
}

const char Title[] = "Quorin V1.00";

void CallManagerEntry(FuzzedDataProvider& in, int which)
{
    using Plain = int (*)();
    using WithRecord = XLOPER* (*)(XLOPER*);
    static const char* const Names[] = {"xlAutoOpen", "xlAutoClose", "xlAutoAdd", "xlAutoRemove", "xlAutoRegister",
                                        "xlAddInManagerInfo"};
    const std::string name = Names[which];
    void* entry = Host->Procedure(Names[which]);
    if (entry == nullptr) Broken(name, "is not exported");
    if (which == 0) {
        const int32_t refuse = in.ConsumeIntegralInRange<int32_t>(0, 12);
        const bool failName = in.ConsumeIntegralInRange<int>(0, 7) == 0;
        Host->faults.refuseRegistration = refuse;
        Host->faults.failGetName = failName;
        Host->registrations.clear();
        const int opened = reinterpret_cast<Plain>(entry)();
        const bool refused = failName || (refuse >= 1 && refuse <= static_cast<int32_t>(Functions.size()));
        if (opened != (refused ? 0 : 1)) Broken(name, "answer does not match the host's refusals");
        if (refused && (Host->alerts.size() != 1 || Host->alerts[0].message != "Error: Failed to register the XLL!")) {
            Broken(name, "a refusal without its one alert");
        }
        if (!refused && (Host->registrations.size() != Functions.size() || !Host->alerts.empty())) {
            Broken(name, "did not register every function silently");
        }
        return;
    }
    if (which <= 3) {
        if (reinterpret_cast<Plain>(entry)() != 1) Broken(name, "did not answer 1");
        if (which == 1) return;
        const std::string expected = std::string(Title) + (which == 2 ? " Loaded!" : " Removed!") + "\nbuilt on ";
        if (Host->alerts.size() != 1 || Host->alerts[0].message.compare(0, expected.size(), expected) != 0 ||
            Host->alerts[0].style != 2) {
            Broken(name, "alert text or style is wrong");
        }
        return;
    }
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
        Host->faults.coerceFailAt = 1;
        Host->faults.coerceAnswer = Integer(in);
        if (Host->faults.coerceAnswer == 0) Host->faults.coerceAnswer = xlretUncalced;
    }
    XLOPER* argument = RecordArgument(in, MaxReferenceCells);
    const XLOPER* answer = reinterpret_cast<WithRecord>(entry)(argument);
    if (answer == nullptr) Broken(name, "answered no record");
    const bool error15 = answer->xltype == xltypeErr && answer->val.err == xlerrValue;
    if (which == 4 && !error15) Broken(name, "answered something other than error 15");
    const bool title = answer->xltype == xltypeStr && CountedText(answer->val.str) == Title;
    if (which == 5 && !error15 && !title) Broken(name, "answered neither the title nor error 15");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Made once and never destroyed: libFuzzer may end the process from anywhere.
    Host = new SubstituteHost;
    // The manager entries are called directly, outside the host's own entry points.
    Host->AnswerUnboundThreads();
    std::string error;
    if (!Host->Load(DefaultModulePath(), &error)) {
        std::fprintf(stderr, "cannot load the module: %s\n", error.c_str());
        std::abort();
    }
    if (Host->Open() != 1) Broken("xlAutoOpen", "refused to open in a faultless host");
    for (const Registration& r : Host->registrations) {
        void* procedure = Host->Procedure(r.texts[1].c_str());
        if (procedure == nullptr) Broken(r.texts[1], "is registered but not exported");
        Functions.push_back({procedure, r.texts[3], r.texts[2]});
    }
    static const ScopedCellSource reading(*Host, Background);
    Host->ResetRecords();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    FillSheet(in);
    const int calls = in.ConsumeIntegralInRange<int>(1, MaxCallsPerInput);
    for (int c = 0; c < calls && in.remaining_bytes() > 0; ++c) {
        Host->faults = Faults{};
        Host->ResetRecords();
        const size_t which = in.ConsumeIntegralInRange<size_t>(0, Functions.size() + 5);
        if (which < Functions.size()) {
            CallWorksheetFunction(in, Functions[which]);
            CheckHostRecords(Functions[which].name);
        } else {
            const int entry = static_cast<int>(which - Functions.size());
            CallManagerEntry(in, entry);
            CheckHostRecords("add-in manager entry");
        }
        Host->ReleaseArguments();
    }
    // Nothing this input made outlives it, so libFuzzer's malloc and free counts match and it does not
    // re-run the input to look for a leak. (The module's argument buffers persist by design; they
    // grow only until they hold the largest shape, or again after an xlAutoClose released them.)
    Host->faults = Faults{};
    Host->sheet = Sheet{};
    Host->ResetRecords();
    Host->registrations.clear();
    return 0;
}
