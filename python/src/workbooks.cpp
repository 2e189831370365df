// workbooks.cpp - formulas and workbooks through the engine: its workers, loaded on first use.
#include "workbooks.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>
#include <string>

#include <pybind11/stl.h>

#include "report/workbook_report.h"
#include "engine/evaluate.h"
#include "engine/formula.h"
#include "engine/workers.h"
#include "host/xlcall32.h"
#include "values.h"

namespace quorin_python {

namespace {

using quorin_host::Kind;
using quorin_host::SubstituteHost;
using quorin_host::Value;
using quorin_host::Workers;

// The engine's workers, one per core, each host with its own copy of the module, so that calls from
// several threads run at once: made on first use under StartLock (a start that fails is tried again
// at the next call) and kept for the process's life, never unloaded under a thread still calling.
std::mutex StartLock;
SubstituteHost* FirstHost = nullptr;
Workers* Pool = nullptr;

// The file beside this extension, where the package keeps the native module.
std::string BesideExtension(const char* file)
{
    Dl_info self = {};
    dladdr(reinterpret_cast<void*>(&BesideExtension), &self);
    const std::string path = (self.dli_fname != nullptr) ? self.dli_fname : "";
    const size_t slash = path.find_last_of('/');
    return (slash == std::string::npos) ? std::string(file) : path.substr(0, slash + 1) + file;
}

// The host with the module loaded and opened; "" or why not. Python loads this extension's libraries
// privately, so the callback library is made global first: the module finds Excel4 there.
std::string LoadedHost(SubstituteHost& host)
{
    Dl_info callbacks = {};
    if (dladdr(reinterpret_cast<void*>(&InstallExcelHandler), &callbacks) == 0 || callbacks.dli_fname == nullptr ||
        dlopen(callbacks.dli_fname, RTLD_NOW | RTLD_GLOBAL | RTLD_NOLOAD) == nullptr) {
        return "the host's callback library could not be shared with the add-in";
    }
    std::string error;
    if (!host.Load(BesideExtension("quorin64.so"), &error)) return error;
    if (host.Open() != 1) {
        host.Unload();
        return "the add-in did not open";
    }
    return "";
}

// The workers, started if they were not; "" or why they could not be.
std::string StartedWorkers(Workers** workers)
{
    const std::lock_guard<std::mutex> hold(StartLock);
    if (Pool == nullptr) {
        auto first = std::make_unique<SubstituteHost>();
        const std::string error = LoadedHost(*first);
        if (!error.empty()) return error;
        FirstHost = first.release();
        Pool = new Workers(*FirstHost, quorin_host::CoreCount());
    }
    *workers = Pool;
    return "";
}

// A host value as Python's: a number as a float, text as str, TRUE/FALSE as bool, nothing as None,
// an error as its text (#N/A); an array as a list of rows.
py::object ToPython(const Value& v)
{
    switch (v.kind) {
    case Kind::Number: return py::float_(v.number);
    case Kind::Text: return py::str(v.text);
    case Kind::Boolean: return py::bool_(v.boolean);
    case Kind::Empty: return py::none();
    case Kind::Array: {
        py::list rows;
        for (int32_t r = 0; r < v.rows; ++r) {
            py::list row;
            for (int32_t c = 0; c < v.columns; ++c) row.append(ToPython(v.elements[static_cast<size_t>(r * v.columns + c)]));
            rows.append(row);
        }
        return rows;
    }
    default: return py::str(quorin_host::FormatValue(v));
    }
}

bool IsError(const Value& v)
{
    if (v.kind == Kind::Error) return true;
    if (v.kind != Kind::Array) return false;
    for (const Value& e : v.elements) {
        if (IsError(e)) return true;
    }
    return false;
}

py::object Evaluate(const std::string& formula)
{
    quorin_host::Formula expression;
    std::string error;
    size_t column = 0;
    if (!quorin_host::ParseFormula(formula, &expression, &error, &column)) {
        Fail("evaluate", formula + ": column " + std::to_string(column) + ": " + error);
    }
    Value answer;
    {
        py::gil_scoped_release release;
        Workers* workers = nullptr;
        error = StartedWorkers(&workers);
        if (error.empty()) {
            const quorin_host::HostLease lease = workers->Take();
            answer = quorin_host::Evaluate(*lease.hosts[0], expression, &error);
        }
    }
    if (!error.empty()) Fail("evaluate", formula + ": " + error);
    // An error answer is the function's failure, as Python's functions raise it.
    if (IsError(answer)) Fail("evaluate", formula + ": " + quorin_host::FormatValue(answer));
    return ToPython(answer);
}

// The report as a dict for the package's Report; the engine's messages in notes.
py::dict ToPython(const quorin_host::WorkbookReport& report)
{
    py::list differing, stale;
    for (const quorin_host::ReportedCell& cell : report.cells) {
        const bool numbers = cell.cached.kind == Kind::Number && cell.comparison.agreement != quorin_host::Agreement::OtherKind;
        differing.append(py::make_tuple(cell.cell, cell.formula, ToPython(cell.cached), ToPython(cell.computed),
                                        numbers ? py::object(py::int_(cell.comparison.ulps)) : py::none()));
    }
    for (const quorin_host::ReportedStale& s : report.stale) stale.append(py::make_tuple(s.cell, s.formula, s.reason));
    py::dict d;
    d["recomputed"] = report.recomputed;
    d["matching"] = report.matching;
    d["differing"] = differing;
    d["differing_count"] = report.differing;
    d["stale"] = stale;
    d["kept_cached"] = report.keptCached;
    d["changed"] = report.changed;
    d["notes"] = py::cast(report.notes);
    d["tolerated"] = py::cast(report.tolerated);
    return d;
}

// Why a workbook was refused: the reason it was not read, or the problems its cells met.
[[noreturn]] void FailReport(const char* function, const quorin_host::WorkbookReport& report, const std::string& after)
{
    std::string why = report.failure;
    for (const std::string& problem : report.problems) why += (why.empty() ? "" : "\n") + problem;
    Fail(function, why + after);
}

// work(workers) with the GIL released: calls from other threads run meanwhile, each on its own worker.
template <typename Work> void WithWorkers(const char* function, Work work)
{
    std::string error;
    {
        py::gil_scoped_release release;
        Workers* workers = nullptr;
        error = StartedWorkers(&workers);
        if (error.empty()) work(*workers);
    }
    if (!error.empty()) Fail(function, error);
}

py::dict Check(const std::string& path, py::handle tolerance)
{
    int64_t ulps = 0;
    if (!PyLong_Check(tolerance.ptr()) || PyBool_Check(tolerance.ptr()) || (ulps = tolerance.cast<int64_t>()) < 0) {
        throw py::type_error("check: tolerance must be a whole number of ulps, 0 or more");
    }
    quorin_host::WorkbookReport report;
    WithWorkers("check", [&](Workers& workers) { CheckWorkbookReport(workers, path, static_cast<uint64_t>(ulps), &report); });
    if (!report.evaluated) FailReport("check", report, "");
    return ToPython(report);
}

py::dict Recalc(const std::string& source, const std::string& destination)
{
    if (quorin_host::SameFile(source, destination)) {
        Fail("recalc", destination + " is " + source + " itself; write the copy elsewhere");
    }
    quorin_host::WorkbookReport report;
    WithWorkers("recalc", [&](Workers& workers) { RecalculateWorkbookReport(workers, source, destination, true, &report); });
    if (!report.evaluated) FailReport("recalc", report, "; " + destination + " not written");
    if (!report.written) FailReport("recalc", report, "");
    return ToPython(report);
}

}  // namespace

void BindWorkbooks(py::module_& m)
{
    using py::arg;
    m.def("evaluate", Evaluate, arg("formula"),
          "A formula in the spreadsheet's language, evaluated as quorin-host eval evaluates it: a float, str, bool,\n"
          "None, or a list of rows for an array. An error answer or a formula the host refuses raises QuorinError.");
    m.def("_check", Check, arg("path"), arg("tolerance") = 0);
    m.def("_recalc", Recalc, arg("source"), arg("destination"));
}

}  // namespace quorin_python
