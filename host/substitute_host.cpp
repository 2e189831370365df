// substitute_host.cpp - the host's front: the module's life, its registrations, and calls by name.
#include "host/substitute_host.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "host/xlcall32.h"

namespace quorin_host {

static int HandleCallback(void* context, int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    return static_cast<SubstituteHost*>(context)->Handle(xlfn, operRes, count, opers);
}

class SubstituteHost::Serving {
public:
    explicit Serving(SubstituteHost& host) : previous_(BindThreadExcelHandler({&HandleCallback, &host})) {}
    ~Serving() { BindThreadExcelHandler(previous_); }
    Serving(const Serving&) = delete;
    Serving& operator=(const Serving&) = delete;

private:
    const ExcelBinding previous_;
};

void SubstituteHost::AnswerUnboundThreads() { InstallExcelHandler({&HandleCallback, this}); }

bool SubstituteHost::Load(const std::string& path, std::string* error)
{
    registrations.clear();
    return module_.Load(path, error);
}

bool SubstituteHost::LoadCopy(const std::string& path, std::string* error)
{
    registrations.clear();
    return module_.LoadCopy(path, error);
}

XLOPER* SubstituteHost::Invoke(void* procedure, const std::string& typeText, const std::vector<RawArgument>& arguments)
{
    const Serving serving(*this);
    return InvokeProcedure(procedure, typeText, arguments);
}

void SubstituteHost::Unload()
{
    module_.Unload();
    registrations.clear();
}

int32_t SubstituteHost::CallEntry(const char* name)
{
    void* entry = Procedure(name);
    if (entry == nullptr) return 0;
    const Serving serving(*this);
    return reinterpret_cast<int (*)()>(entry)();
}

int32_t SubstituteHost::Open()
{
    registrations.clear();
    return CallEntry("xlAutoOpen");
}
int32_t SubstituteHost::Close() { return CallEntry("xlAutoClose"); }
int32_t SubstituteHost::Add() { return CallEntry("xlAutoAdd"); }
int32_t SubstituteHost::Remove() { return CallEntry("xlAutoRemove"); }

Value SubstituteHost::CallWithRecord(const char* name, const Value& argument)
{
    void* entry = Procedure(name);
    if (entry == nullptr) return Value::Error(xlerrName);
    const Serving serving(*this);
    Value answer = ValueOf(reinterpret_cast<XLOPER* (*)(XLOPER*)>(entry)(MakeRecord(argument)));
    ReleaseArguments();
    return answer;
}

Value SubstituteHost::ManagerInfo(const Value& action) { return CallWithRecord("xlAddInManagerInfo", action); }
Value SubstituteHost::AutoRegister(const std::string& name) { return CallWithRecord("xlAutoRegister", Value::Text(name)); }

const Registration* SubstituteHost::Find(const std::string& name) const
{
    for (const Registration& r : registrations) {
        if (r.accepted && r.texts.size() > 3 && SameText(r.texts[3], name)) return &r;
    }
    return nullptr;
}

const std::string& SubstituteHost::TypeTextOf(const std::string& name) const
{
    static const std::string none;
    const Registration* r = Find(name);
    return r == nullptr ? none : r->texts[2];
}

Value SubstituteHost::Call(const std::string& name, const std::vector<Value>& arguments, std::string* error)
{
    Value answer = CallModule(name, arguments, error);
    if (callObserver) callObserver(name, arguments, answer);
    return answer;
}

Value SubstituteHost::CallModule(const std::string& name, const std::vector<Value>& arguments, std::string* error)
{
    const Registration* r = Find(name);
    if (r == nullptr || r->texts[2].empty()) {
        if (error != nullptr) *error = "no registered function " + name;
        return Value::Error(xlerrName);
    }
    // Accepted, a registration's procedure was found when it was registered.
    const std::string& typeText = r->texts[2];
    void* procedure = r->procedure;
    if (arguments.size() + 1 > typeText.size()) {
        if (error != nullptr) *error = name + " takes " + std::to_string(typeText.size() - 1) + " arguments";
        return Value::Error(xlerrValue);
    }
    for (const Value& v : arguments) {
        if (v.kind == Kind::Array && (static_cast<uint32_t>(v.rows) > MaxRecordCount || static_cast<uint32_t>(v.columns) > MaxRecordCount)) {
            if (error != nullptr) *error = "an array of more than 65,535 rows or columns cannot be passed";
            return Value::Error(xlerrValue);
        }
    }
    Value missing;
    std::vector<RawArgument> raw(typeText.size() - 1);
    for (size_t i = 0; i < raw.size(); ++i) {
        const Value& v = (i < arguments.size()) ? arguments[i] : missing;
        if (v.kind == Kind::Error && typeText[i + 1] != 'R') {
            ReleaseArguments();
            return v;
        }
        if (typeText[i + 1] == 'R') {
            raw[i].record = MakeRecord(v);
            if (i >= arguments.size() || v.missing) raw[i].record->xltype = xltypeMissing;
            continue;
        }
        double number = 0.0;
        if (!NumberArgument(v, Cells(), &number)) {
            ReleaseArguments();
            return Value::Error(xlerrValue);
        }
        if (typeText[i + 1] == 'B') {
            raw[i].number = number;
        } else {
            // Integers arrive truncated toward zero; a number beyond 32 bits is refused with #NUM!, as
            // the spreadsheet refuses a number out of an integer argument's range.
            if (!(std::fabs(number) < 2147483648.0)) {
                ReleaseArguments();
                return Value::Error(xlerrNum);
            }
            raw[i].integer = static_cast<int32_t>(number);
        }
    }
    refusal_.clear();
    lastAnswer = Invoke(procedure, typeText, raw);
    Value answer = ValueOf(lastAnswer);
    ReleaseArguments();
    if (!refusal_.empty() && error != nullptr) *error = refusal_;
    return answer;
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

}  // namespace quorin_host
