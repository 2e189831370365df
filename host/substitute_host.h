// substitute_host.h - a spreadsheet host in miniature: it loads the add-in module, answers its callbacks
// (module name, coercion, release, registration, alerts), keeps a sheet of cells for references, and
// calls worksheet functions by name with arguments marshalled as the registered type text says.
// Every record it fills in for the module is tracked until the module releases it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "addin/host_api.h"
#include "host/cell_source.h"
#include "host/number.h"
#include "host/value.h"

namespace quorin_host {

// Cells not set read from background when it is set, else as empty.
struct Sheet {
    std::map<std::pair<uint32_t, uint16_t>, Value> cells;
    std::function<Value(uint32_t row, uint16_t column)> background;

    Value Get(uint32_t row, uint16_t column) const;
    void Set(uint32_t row, uint16_t column, Value v);
};

struct Registration {
    std::vector<std::string> texts;  // every argument decoded: path, procedure, type text, ...
    bool accepted = false;
};

struct Alert {
    std::string message;
    int32_t style = 0;
};

// Faults the host can be told to answer with; counts are 1-based, 0 means never.
struct Faults {
    int32_t refuseRegistration = 0;  // refuse the k-th registration from now on
    bool failGetName = false;
    int32_t coerceFailAt = 0;        // the k-th coercion from now on answers coerceAnswer
    bool coerceFailAlways = false;   // every coercion answers coerceAnswer
    int coerceAnswer = xlretFailed;
    // When set, every coercion succeeds with this record as it stands (the host keeps its memory),
    // so shapes no real sheet could back can still be handed to the module.
    const XLOPER* coerceVerbatim = nullptr;
};

// An argument as passed by value: a record pointer for R, a double for B, an int32 for J.
struct RawArgument {
    XLOPER* record = nullptr;
    double number = 0.0;
    int32_t integer = 0;
};

class SubstituteHost {
public:
    // The callbacks reach one host per process.
    static SubstituteHost& Instance();

    bool Load(const std::string& path, std::string* error);
    void Unload();
    bool Loaded() const { return module_ != nullptr; }
    const std::string& ModulePath() const { return path_; }
    void* Procedure(const char* name) const;

    // The add-in manager's calls; false when the module lacks the entry point.
    int32_t Open();
    int32_t Close();
    int32_t Add();
    int32_t Remove();
    Value ManagerInfo(const Value& action);
    Value AutoRegister(const std::string& name);

    // Type text of a function registered by the last open, found case-insensitively; "" if none.
    std::string TypeTextOf(const std::string& name, std::string* procedure = nullptr) const;
    // Calls a registered function with host values, converting them as the type text says. The
    // answer is copied out of the module's record at once.
    Value Call(const std::string& name, const std::vector<Value>& arguments, std::string* error);
    // Calls a procedure with ready-made arguments; returns the module's own record.
    static XLOPER* Invoke(void* procedure, const std::string& typeText, const std::vector<RawArgument>& arguments);

    // What the host has seen and what it still holds for the module.
    std::vector<Registration> registrations;
    std::vector<Alert> alerts;
    std::map<int, int32_t> callbackCounts;  // by function number
    size_t Outstanding() const { return outstanding_.size(); }  // records filled and not yet released
    int32_t releaseViolations = 0;  // releases of records the host never filled, or released twice
    void ResetRecords();

    Sheet sheet;
    Faults faults;
    XLOPER* lastAnswer = nullptr;  // the record the last Call got back

    // Host-owned records for arguments; valid until ReleaseArguments.
    XLOPER* MakeRecord(const Value& v);
    void ReleaseArguments();

    // The answer record as a host value (a copy).
    static Value ValueOf(const XLOPER* record);

    int Handle(int xlfn, XLOPER* operRes, int count, XLOPER* opers[]);

private:
    SubstituteHost();
    int Coerce(XLOPER* source, XLOPER* target, XLOPER* result);
    int CoerceToArray(const Value& source, XLOPER* result);
    int RegisterFunction(XLOPER* result, int count, XLOPER* opers[]);
    char* TrackString(const std::string& text);
    XLOPER* TrackArray(size_t count);
    void Release(XLOPER* record);

    void* module_ = nullptr;
    std::string path_;
    int32_t registrationsSeen_ = 0;
    int32_t coercionsSeen_ = 0;
    struct Owned {
        std::vector<std::vector<char>> strings;
        std::vector<XLOPER> elements;
    };
    std::map<const void*, Owned> outstanding_;
    std::vector<std::vector<XLOPER>> argumentArrays_;
    std::vector<std::vector<char>> argumentStrings_;
    std::vector<std::vector<Area>> argumentAreas_;
    std::vector<XLOPER*> argumentRecords_;
};

// The module's counted string as text.
std::string CountedText(const char* counted);
// The default module file: quorin64.so or quorin64.xll beside the running program.
std::string DefaultModulePath();

}  // namespace quorin_host
