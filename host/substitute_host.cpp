// substitute_host.cpp - the host's side of every callback, module loading and argument marshalling.
#include "host/substitute_host.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "host/xlcall32.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace quorin_host {

Value Sheet::Get(uint32_t row, uint16_t column) const
{
    auto found = cells.find({row, column});
    if (found != cells.end()) return found->second;
    return background ? background(row, column) : Value{};
}

void Sheet::Set(uint32_t row, uint16_t column, Value v) { cells[{row, column}] = std::move(v); }

static int HandleCallback(int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    return SubstituteHost::Instance().Handle(xlfn, operRes, count, opers);
}

SubstituteHost::SubstituteHost() { InstallExcelHandler(&HandleCallback); }

SubstituteHost& SubstituteHost::Instance()
{
    static SubstituteHost host;
    return host;
}

bool SubstituteHost::Load(const std::string& path, std::string* error)
{
    Unload();
#if defined(_WIN32)
    module_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (module_ == nullptr && error != nullptr) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
#else
    module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr && error != nullptr) *error = dlerror();
#endif
    if (module_ != nullptr) path_ = path;
    return module_ != nullptr;
}

void SubstituteHost::Unload()
{
    if (module_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(module_));
#else
    dlclose(module_);
#endif
    module_ = nullptr;
    registrations.clear();
}

void* SubstituteHost::Procedure(const char* name) const
{
    if (module_ == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module_), name));
#else
    return dlsym(module_, name);
#endif
}

template <typename R>
static R CallEntry(const SubstituteHost& host, const char* name, R fallback)
{
    void* entry = host.Procedure(name);
    if (entry == nullptr) return fallback;
    return reinterpret_cast<R (*)()>(entry)();
}

int32_t SubstituteHost::Open()
{
    registrations.clear();
    return CallEntry<int>(*this, "xlAutoOpen", 0);
}
int32_t SubstituteHost::Close() { return CallEntry<int>(*this, "xlAutoClose", 0); }
int32_t SubstituteHost::Add() { return CallEntry<int>(*this, "xlAutoAdd", 0); }
int32_t SubstituteHost::Remove() { return CallEntry<int>(*this, "xlAutoRemove", 0); }

Value SubstituteHost::ManagerInfo(const Value& action)
{
    void* entry = Procedure("xlAddInManagerInfo");
    if (entry == nullptr) return Value::Error(xlerrName);
    Value answer = ValueOf(reinterpret_cast<XLOPER* (*)(XLOPER*)>(entry)(MakeRecord(action)));
    ReleaseArguments();
    return answer;
}

Value SubstituteHost::AutoRegister(const std::string& name)
{
    void* entry = Procedure("xlAutoRegister");
    if (entry == nullptr) return Value::Error(xlerrName);
    Value answer = ValueOf(reinterpret_cast<XLOPER* (*)(XLOPER*)>(entry)(MakeRecord(Value::Text(name))));
    ReleaseArguments();
    return answer;
}

static bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y)); });
}

std::string SubstituteHost::TypeTextOf(const std::string& name, std::string* procedure) const
{
    for (const Registration& r : registrations) {
        if (r.accepted && r.texts.size() > 3 && SameName(r.texts[3], name)) {
            if (procedure != nullptr) *procedure = r.texts[1];
            return r.texts[2];
        }
    }
    return "";
}

XLOPER* SubstituteHost::Invoke(void* p, const std::string& t, const std::vector<RawArgument>& a)
{
    using X = XLOPER*;
    auto R = [&](size_t i) { return a[i].record; };
    auto B = [&](size_t i) { return a[i].number; };
    auto J = [&](size_t i) { return a[i].integer; };
    if (a.size() + 1 != t.size()) return nullptr;
    if (t == "R") return reinterpret_cast<X (*)()>(p)();
    if (t == "RJ") return reinterpret_cast<X (*)(int32_t)>(p)(J(0));
    if (t == "RR") return reinterpret_cast<X (*)(X)>(p)(R(0));
    if (t == "RBB") return reinterpret_cast<X (*)(double, double)>(p)(B(0), B(1));
    if (t == "RRB") return reinterpret_cast<X (*)(X, double)>(p)(R(0), B(1));
    if (t == "RRBB") return reinterpret_cast<X (*)(X, double, double)>(p)(R(0), B(1), B(2));
    if (t == "RRRB") return reinterpret_cast<X (*)(X, X, double)>(p)(R(0), R(1), B(2));
    if (t == "RRRJ") return reinterpret_cast<X (*)(X, X, int32_t)>(p)(R(0), R(1), J(2));
    if (t == "RRRBJ") return reinterpret_cast<X (*)(X, X, double, int32_t)>(p)(R(0), R(1), B(2), J(3));
    if (t == "RRBBJ") return reinterpret_cast<X (*)(X, double, double, int32_t)>(p)(R(0), B(1), B(2), J(3));
    if (t == "RRRJRR") return reinterpret_cast<X (*)(X, X, int32_t, X, X)>(p)(R(0), R(1), J(2), R(3), R(4));
    return nullptr;
}

// The number a B or J argument receives, as the host converts a value before the call; false when
// the host would answer #VALUE! without calling.
static bool NumberArgument(const Value& v, const Sheet& sheet, double* out)
{
    switch (v.kind) {
    case Kind::Number: *out = v.number; return true;
    case Kind::Boolean: *out = v.boolean ? 1.0 : 0.0; return true;
    case Kind::Empty: *out = 0.0; return true;
    case Kind::Text: {
        return ParseNumber(v.text, out) == NumberRead::Ok;
    }
    case Kind::Array:
        return !v.elements.empty() && NumberArgument(v.elements[0], sheet, out);
    case Kind::Reference:
        if (v.areas.size() != 1) return false;
        return NumberArgument(sheet.Get(v.areas[0].rowFirst, v.areas[0].columnFirst), sheet, out);
    default: return false;
    }
}

Value SubstituteHost::Call(const std::string& name, const std::vector<Value>& arguments, std::string* error)
{
    std::string procedureName;
    const std::string typeText = TypeTextOf(name, &procedureName);
    void* procedure = typeText.empty() ? nullptr : Procedure(procedureName.c_str());
    if (procedure == nullptr) {
        if (error != nullptr) *error = "no registered function " + name;
        return Value::Error(xlerrName);
    }
    if (arguments.size() + 1 > typeText.size()) {
        if (error != nullptr) *error = name + " takes " + std::to_string(typeText.size() - 1) + " arguments";
        return Value::Error(xlerrValue);
    }
    for (const Value& v : arguments) {
        if (v.kind == Kind::Array && (v.rows > 65535 || v.columns > 65535)) {
            if (error != nullptr) *error = "an array of more than 65,535 rows or columns cannot be passed";
            return Value::Error(xlerrValue);
        }
    }
    std::vector<RawArgument> raw(typeText.size() - 1);
    for (size_t i = 0; i < raw.size(); ++i) {
        const Value missing = [] { Value m; m.kind = Kind::Empty; return m; }();
        const Value& v = (i < arguments.size()) ? arguments[i] : missing;
        if (v.kind == Kind::Error && typeText[i + 1] != 'R') {
            ReleaseArguments();
            return v;
        }
        if (typeText[i + 1] == 'R') {
            raw[i].record = (i < arguments.size()) ? MakeRecord(v) : MakeRecord(missing);
            if (i >= arguments.size()) raw[i].record->xltype = xltypeMissing;
            continue;
        }
        double number = 0.0;
        if (!NumberArgument(v, sheet, &number)) {
            ReleaseArguments();
            return Value::Error(xlerrValue);
        }
        if (typeText[i + 1] == 'B') {
            raw[i].number = number;
        } else {
            // Integers arrive truncated toward zero; values beyond 32 bits are refused by the host.
            if (!(std::fabs(number) < 2147483648.0)) {
                ReleaseArguments();
                return Value::Error(xlerrNum);
            }
            raw[i].integer = static_cast<int32_t>(number);
        }
    }
    lastAnswer = Invoke(procedure, typeText, raw);
    Value answer = ValueOf(lastAnswer);
    ReleaseArguments();
    return answer;
}

XLOPER* SubstituteHost::MakeRecord(const Value& v)
{
    argumentArrays_.emplace_back(1);
    XLOPER* record = argumentArrays_.back().data();
    switch (v.kind) {
    case Kind::Number: record->xltype = xltypeNum; record->val.num = v.number; break;
    case Kind::Boolean: record->xltype = xltypeBool; record->val.w = v.boolean ? 1 : 0; break;
    case Kind::Error: record->xltype = xltypeErr; record->val.err = v.error; break;
    case Kind::Empty: case Kind::Uncalculated: record->xltype = xltypeNil; break;
    case Kind::Text: {
        const size_t length = std::min<size_t>(v.text.size(), 255);
        std::vector<char> counted(length + 1);
        counted[0] = static_cast<char>(length);
        std::memcpy(counted.data() + 1, v.text.data(), length);
        argumentStrings_.push_back(std::move(counted));
        record->xltype = xltypeStr;
        record->val.str = argumentStrings_.back().data();
        break;
    }
    case Kind::Array: {
        // The record counts rows and columns in 16 bits: a larger array cannot be passed at all.
        if (v.rows < 0 || v.columns < 0 || v.rows > 65535 || v.columns > 65535 ||
            v.elements.size() != static_cast<size_t>(v.rows) * static_cast<size_t>(v.columns)) {
            record->xltype = xltypeErr;
            record->val.err = xlerrValue;
            break;
        }
        std::vector<XLOPER> elements(v.elements.size());
        for (size_t k = 0; k < v.elements.size(); ++k) elements[k] = *MakeRecord(v.elements[k]);
        argumentArrays_.push_back(std::move(elements));
        record->xltype = xltypeMulti;
        record->val.array.lparray = argumentArrays_.back().data();
        record->val.array.rows = static_cast<uint16_t>(v.rows);
        record->val.array.columns = static_cast<uint16_t>(v.columns);
        break;
    }
    case Kind::Reference:
        // Host-private layouts: one area in place, or a pointer to the areas and their count.
        if (v.areas.size() == 1 && !v.multiArea) {
            record->xltype = xltypeSRef;
            std::memcpy(record->val.area, &v.areas[0], sizeof(Area));
        } else {
            argumentAreas_.push_back(v.areas);
            const Area* areas = argumentAreas_.back().data();
            const uint32_t count = static_cast<uint32_t>(v.areas.size());
            record->xltype = xltypeRef;
            std::memcpy(record->val.area, &areas, sizeof(areas));
            std::memcpy(record->val.area + sizeof(areas), &count, sizeof(count));
        }
        break;
    }
    argumentRecords_.push_back(record);
    return record;
}

void SubstituteHost::ReleaseArguments()
{
    argumentArrays_.clear();
    argumentStrings_.clear();
    argumentAreas_.clear();
    argumentRecords_.clear();
}

Value SubstituteHost::ValueOf(const XLOPER* record)
{
    if (record == nullptr) return Value::Error(xlerrNull);
    switch (record->xltype & 0x0FFF) {
    case xltypeNum: return Value::Number(record->val.num);
    case xltypeInt: return Value::Number(record->val.w);
    case xltypeBool: return Value::Boolean(record->val.w != 0);
    case xltypeErr: return Value::Error(record->val.err);
    case xltypeStr: return Value::Text(CountedText(record->val.str));
    case xltypeMulti: {
        const int32_t rows = record->val.array.rows, columns = record->val.array.columns;
        std::vector<Value> elements;
        for (int32_t k = 0; k < rows * columns; ++k) elements.push_back(ValueOf(&record->val.array.lparray[k]));
        return Value::Array(rows, columns, std::move(elements));
    }
    default: return Value{};
    }
}

void SubstituteHost::ResetRecords()
{
    outstanding_.clear();
    releaseViolations = 0;
    callbackCounts.clear();
    alerts.clear();
    registrationsSeen_ = 0;
    coercionsSeen_ = 0;
}

char* SubstituteHost::TrackString(const std::string& text)
{
    const size_t length = std::min<size_t>(text.size(), 255);
    Owned owned;
    owned.strings.emplace_back(length + 1);
    char* counted = owned.strings.back().data();
    counted[0] = static_cast<char>(length);
    std::memcpy(counted + 1, text.data(), length);
    outstanding_[counted] = std::move(owned);
    return counted;
}

XLOPER* SubstituteHost::TrackArray(size_t count)
{
    Owned owned;
    owned.elements.resize(std::max<size_t>(count, 1));
    XLOPER* elements = owned.elements.data();
    outstanding_[elements] = std::move(owned);
    return elements;
}

void SubstituteHost::Release(XLOPER* record)
{
    if (record == nullptr) {
        ++releaseViolations;
        return;
    }
    const uint16_t type = record->xltype & 0x0FFF;
    const void* key = (type == xltypeStr) ? static_cast<const void*>(record->val.str)
                      : (type == xltypeMulti) ? static_cast<const void*>(record->val.array.lparray)
                                              : nullptr;
    if (key == nullptr) return;
    auto found = outstanding_.find(key);
    if (found == outstanding_.end()) {
        ++releaseViolations;
        return;
    }
    // The array's string elements live in the same ownership record.
    outstanding_.erase(found);
}

int SubstituteHost::CoerceToArray(const Value& source, XLOPER* result)
{
    int32_t rows = 1, columns = 1;
    const Area* area = nullptr;
    if (source.kind == Kind::Reference) {
        // Only one rectangle can become an array; the host's array counts are 16-bit.
        if (source.areas.size() != 1) return xlretFailed;
        area = &source.areas[0];
        if (area->rowLast < area->rowFirst || area->columnLast < area->columnFirst) return xlretFailed;
        const uint64_t areaRows = uint64_t{area->rowLast} - area->rowFirst + 1;
        const uint64_t areaColumns = uint64_t{area->columnLast} - area->columnFirst + 1;
        if (areaRows > 65535 || areaColumns > 65535) return xlretFailed;
        rows = static_cast<int32_t>(areaRows);
        columns = static_cast<int32_t>(areaColumns);
    } else if (source.kind == Kind::Array) {
        rows = source.rows;
        columns = source.columns;
    }

    const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(columns);
    XLOPER* elements = TrackArray(count);
    Owned& owned = outstanding_[elements];
    for (size_t k = 0; k < count; ++k) {
        Value cell;
        const Value* v = &source;
        if (area != nullptr) {
            cell = sheet.Get(area->rowFirst + static_cast<uint32_t>(k / static_cast<size_t>(columns)),
                             static_cast<uint16_t>(area->columnFirst + k % static_cast<size_t>(columns)));
            v = &cell;
        } else if (source.kind == Kind::Array) {
            if (k >= source.elements.size()) break;
            v = &source.elements[k];
        }
        XLOPER& e = elements[k];
        switch (v->kind) {
        case Kind::Number: e.xltype = xltypeNum; e.val.num = v->number; break;
        case Kind::Boolean: e.xltype = xltypeBool; e.val.w = v->boolean ? 1 : 0; break;
        case Kind::Error: e.xltype = xltypeErr; e.val.err = v->error; break;
        case Kind::Uncalculated:
            outstanding_.erase(elements);
            return xlretUncalced;
        case Kind::Text: {
            const size_t length = std::min<size_t>(v->text.size(), 255);
            owned.strings.emplace_back(length + 1);
            char* counted = owned.strings.back().data();
            counted[0] = static_cast<char>(length);
            std::memcpy(counted + 1, v->text.data(), length);
            e.xltype = xltypeStr;
            e.val.str = counted;
            break;
        }
        default: e.xltype = xltypeNil; break;
        }
    }
    result->xltype = xltypeMulti;
    result->val.array.lparray = elements;
    result->val.array.rows = static_cast<uint16_t>(rows);
    result->val.array.columns = static_cast<uint16_t>(columns);
    return xlretSuccess;
}

// The host's view of a record the module passed in.
static Value ValueOfArgument(const XLOPER* record)
{
    const uint16_t type = record->xltype & 0x0FFF;
    if (type == xltypeSRef) {
        Area a;
        std::memcpy(&a, record->val.area, sizeof(Area));
        return Value::Reference({a});
    }
    if (type == xltypeRef) {
        const Area* areas = nullptr;
        uint32_t count = 0;
        std::memcpy(&areas, record->val.area, sizeof(areas));
        std::memcpy(&count, record->val.area + sizeof(areas), sizeof(count));
        return Value::Reference(std::vector<Area>(areas, areas + count));
    }
    return SubstituteHost::ValueOf(record);
}

int SubstituteHost::Coerce(XLOPER* source, XLOPER* target, XLOPER* result)
{
    ++coercionsSeen_;
    if (faults.coerceFailAlways || coercionsSeen_ == faults.coerceFailAt) return faults.coerceAnswer;
    if (source == nullptr || target == nullptr || result == nullptr) return xlretFailed;
    if (faults.coerceVerbatim != nullptr) {
        *result = *faults.coerceVerbatim;
        const uint16_t type = result->xltype & 0x0FFF;
        if (type == xltypeMulti || type == xltypeStr) outstanding_[type == xltypeMulti ? static_cast<const void*>(result->val.array.lparray) : result->val.str] = Owned{};
        return xlretSuccess;
    }
    const int targetType = (target->xltype & 0x0FFF) == xltypeInt ? target->val.w
                           : (target->xltype & 0x0FFF) == xltypeNum ? static_cast<int>(target->val.num)
                                                                     : 0;
    const Value value = ValueOfArgument(source);
    if (targetType == xltypeMulti) return CoerceToArray(value, result);

    double number = 0.0;
    if (!NumberArgument(value, sheet, &number)) return xlretFailed;
    if (value.kind == Kind::Reference) {
        const Value cell = sheet.Get(value.areas[0].rowFirst, value.areas[0].columnFirst);
        if (cell.kind == Kind::Uncalculated) return xlretUncalced;
    }
    if (targetType == xltypeNum) {
        result->xltype = xltypeNum;
        result->val.num = number;
        return xlretSuccess;
    }
    if (targetType == xltypeInt) {
        const double rounded = std::round(number);
        if (!(std::fabs(rounded) <= 32767.0)) return xlretFailed;
        result->xltype = xltypeInt;
        result->val.w = static_cast<int16_t>(rounded);
        return xlretSuccess;
    }
    return xlretFailed;
}

int SubstituteHost::RegisterFunction(XLOPER* result, int count, XLOPER* opers[])
{
    Registration registration;
    for (int a = 0; a < count; ++a) {
        const XLOPER* r = opers[a];
        registration.texts.push_back((r != nullptr && (r->xltype & 0x0FFF) == xltypeStr) ? CountedText(r->val.str) : std::string("<not a string>"));
    }
    ++registrationsSeen_;
    // Like the real host, refuse a procedure the module does not export.
    const bool exported = registration.texts.size() > 1 && Procedure(registration.texts[1].c_str()) != nullptr;
    registration.accepted = exported && registrationsSeen_ != faults.refuseRegistration;
    registrations.push_back(registration);
    if (result != nullptr) {
        result->xltype = registration.accepted ? xltypeNum : xltypeErr;
        if (registration.accepted) result->val.num = static_cast<double>(registrationsSeen_);
        else result->val.err = xlerrValue;
    }
    return registration.accepted ? xlretSuccess : xlretFailed;
}

int SubstituteHost::Handle(int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    ++callbackCounts[xlfn];
    switch (xlfn) {
    case xlFree:
        for (int a = 0; a < count; ++a) Release(opers[a]);
        return xlretSuccess;
    case xlCoerce:
        if (count < 1) return xlretFailed;
        return Coerce(opers[0], count > 1 ? opers[1] : nullptr, operRes);
    case xlGetName:
        if (faults.failGetName || operRes == nullptr) return xlretFailed;
        operRes->xltype = xltypeStr;
        operRes->val.str = TrackString(path_);
        return xlretSuccess;
    case xlfRegister:
        return RegisterFunction(operRes, count, opers);
    case xlcAlert: {
        Alert alert;
        if (count > 0 && opers[0] != nullptr && (opers[0]->xltype & 0x0FFF) == xltypeStr) alert.message = CountedText(opers[0]->val.str);
        if (count > 1 && opers[1] != nullptr && (opers[1]->xltype & 0x0FFF) == xltypeInt) alert.style = opers[1]->val.w;
        alerts.push_back(alert);
        return xlretSuccess;
    }
    default:
        return xlretInvXlfn;
    }
}

std::string CountedText(const char* counted)
{
    if (counted == nullptr) return "";
    return std::string(counted + 1, static_cast<unsigned char>(counted[0]));
}

std::string DefaultModulePath()
{
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self = path;
    const char* file = "quorin64.xll";
    const size_t slash = self.find_last_of("\\/");
#else
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string self = (length > 0) ? std::string(path, static_cast<size_t>(length)) : std::string();
    const char* file = "quorin64.so";
    const size_t slash = self.find_last_of('/');
#endif
    return (slash == std::string::npos) ? std::string(file) : self.substr(0, slash + 1) + file;
}

}  // namespace quorin_host
