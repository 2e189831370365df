// substitute_host.h - a spreadsheet host in miniature: it loads the add-in module, answers its callbacks
// (module name, coercion, release, registration, alerts), and calls worksheet functions by name with
// arguments marshalled as the registered type text says. References read their cells from the cell
// source an evaluation installs (ScopedCellSource), else from the host's own sheet. Every record it
// fills in for the module is tracked until the module releases it. Hosts are independent objects: each
// loads its own module, and the module's callbacks reach the host whose entry point the thread is in.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "addin/host_api.h"
#include "host/cell_source.h"
#include "host/marshal.h"
#include "host/module_loader.h"
#include "rules/number.h"
#include "host/sheet.h"
#include "host/value.h"

namespace quorin_host {

struct Registration {
    std::vector<std::string> texts;  // every argument decoded: path, procedure, type text, ...
    bool accepted = false;
    void* procedure = nullptr;  // accepted: the module's export texts[1] names, found when registered
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

class SubstituteHost {
public:
    SubstituteHost() = default;
    SubstituteHost(const SubstituteHost&) = delete;
    SubstituteHost& operator=(const SubstituteHost&) = delete;

    bool Load(const std::string& path, std::string* error);
    // Loads a private copy of the module at path, with statics of its own, so that it may be called on
    // one thread while another host's copy is called on another (ModuleLoader::LoadCopy).
    bool LoadCopy(const std::string& path, std::string* error);
    void Unload();
    bool Loaded() const { return module_.Loaded(); }
    const std::string& ModulePath() const { return module_.Path(); }
    void* Procedure(const char* name) const { return module_.Procedure(name); }

    // The add-in manager's calls; 0 when the module lacks the entry point.
    int32_t Open();
    int32_t Close();
    int32_t Add();
    int32_t Remove();
    Value ManagerInfo(const Value& action);
    Value AutoRegister(const std::string& name);

    // The accepted registration of a function, found case-insensitively; nullptr if none. texts[1]
    // is its procedure, texts[2] its type text, texts[3] its name, texts[4] its argument names.
    const Registration* Find(const std::string& name) const;
    // Type text of a function registered by the last open; "" if none.
    const std::string& TypeTextOf(const std::string& name) const;
    // Calls a registered function with host values, converting them as the type text says. The
    // answer is copied out of the module's record at once. error says why the host refused to call
    // (#NAME? for an unknown function, #VALUE! for too many arguments or a value a number argument
    // cannot take, #NUM! for an integer argument beyond 32 bits) or why it refused a coercion the
    // module asked for (a range too large for an array record).
    Value Call(const std::string& name, const std::vector<Value>& arguments, std::string* error);
    // Told of each call Call answers, refused ones included, on the calling thread: the name as the
    // formula spells it, the arguments as given (references unread) and the answer. Empty: nobody is.
    std::function<void(const std::string& name, const std::vector<Value>& arguments, const Value& answer)> callObserver;
    // Calls a procedure with ready-made arguments; returns the module's own record.
    XLOPER* Invoke(void* procedure, const std::string& typeText, const std::vector<RawArgument>& arguments);
    // Makes this host answer the callbacks of threads that are in none of a host's entry points: code
    // that calls the module's procedures, or the add-in's routines, directly (tests, benchmarks).
    void AnswerUnboundThreads();

    // What the host has seen and what it still holds for the module.
    std::vector<Registration> registrations;
    std::vector<Alert> alerts;
    std::map<int, int32_t> callbackCounts;  // by function number
    size_t Outstanding() const { return outstanding_.size(); }  // records filled and not yet released
    int32_t releaseViolations = 0;  // releases of records the host never filled, or released twice
    void ResetRecords();

    Sheet sheet;  // the cells references read when no other source is installed
    Faults faults;
    XLOPER* lastAnswer = nullptr;  // the record the last Call got back

    // Where references read their cells now.
    const CellSource& Cells() const { return cells_ != nullptr ? *cells_ : sheet; }

    // Host-owned records for arguments; valid until ReleaseArguments.
    XLOPER* MakeRecord(const Value& v) { return arguments_.Make(v); }
    void ReleaseArguments() { arguments_.Clear(); }

    // The answer record as a host value (a copy).
    static Value ValueOf(const XLOPER* record) { return ValueOfRecord(record); }

    // Every callback the module makes (callbacks.cpp).
    int Handle(int xlfn, XLOPER* operRes, int count, XLOPER* opers[]);

private:
    friend class ScopedCellSource;
    Value CallModule(const std::string& name, const std::vector<Value>& arguments, std::string* error);
    // Binds the calling thread's callbacks to the host while one of its entry points runs, and gives
    // back the binding before (entry points may nest, and another host's may be outside).
    class Serving;
    int32_t CallEntry(const char* name);                       // an entry taking nothing, 0 if missing
    Value CallWithRecord(const char* name, const Value& argument);  // an entry taking one record
    int Coerce(XLOPER* source, XLOPER* target, XLOPER* result);
    int CoerceToArray(const Value& source, XLOPER* result);
    int RegisterFunction(XLOPER* result, int count, XLOPER* opers[]);
    char* TrackString(const std::string& text);
    XLOPER* TrackArray(size_t count);
    void Release(XLOPER* record);

    ModuleLoader module_;
    const CellSource* cells_ = nullptr;
    std::string refusal_;  // why the host refused a coercion during the current call
    int32_t registrationsSeen_ = 0;
    int32_t coercionsSeen_ = 0;
    struct Owned {
        std::vector<std::vector<char>> strings;
        std::unique_ptr<XLOPER[]> elements;  // left uninitialised: every element is written once
        size_t count = 0;
        size_t lent = 0;  // records of the cell source handed out as they are: not ours to free
    };
    // The last large array released, kept for the next: fresh memory of that size costs a page fault
    // per 170 records, more than copying them.
    Owned spare_;
    std::map<const void*, Owned> outstanding_;
    ArgumentRecords arguments_;
};

// Makes references read their cells from source for as long as it lives, then restores the source
// installed before (evaluations may nest).
class ScopedCellSource {
public:
    ScopedCellSource(SubstituteHost& host, const CellSource& source) : host_(host), previous_(host.cells_) { host.cells_ = &source; }
    ~ScopedCellSource() { host_.cells_ = previous_; }
    ScopedCellSource(const ScopedCellSource&) = delete;
    ScopedCellSource& operator=(const ScopedCellSource&) = delete;

private:
    SubstituteHost& host_;
    const CellSource* previous_;
};

}  // namespace quorin_host
