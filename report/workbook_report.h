// workbook_report.h - check and recalc of one .xlsx workbook as a report, for every program that
// offers them (quorin-host, the Python package): the cells recomputed, those that differ from what
// the file cached, the formulas left stale, and why a file was not read or a copy not written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/workbook.h"
#include "engine/workers.h"
#include "xlsx/reader.h"
#include "xlsx/workbook.h"

namespace quorin_host {

// A workbook read and recalculated: what depends on the add-in, and nothing else.
struct Recalculated {
    XlsxBook xlsx;  // its sheets, names, tables and links: the cells went to book
    Workbook book;
    WorkbookEvaluation evaluation;  // its notes and problems name the file and cell
    std::string error;              // why the file was not read
    bool read = false;              // the file read
    bool evaluated = false;         // ... and evaluated without problems
};

// Reads path, then recalculates it with a host taken from workers (waiting for one if all are out),
// helped by those free meanwhile, on a thread of its own, so that the random numbers start afresh as
// the host's do for each workbook.
void Recalculate(Workers& workers, const std::string& path, Recalculated* run);

// One recomputed cell, named Sheet!A1, against what the file cached.
struct ReportedCell {
    std::string cell;
    std::string formula;
    Value cached, computed;
    CellComparison comparison;
};

// A formula that depends on the add-in but kept its cached value, and why.
struct ReportedStale {
    std::string cell;
    std::string formula;
    std::string reason;
};

struct WorkbookReport {
    bool read = false;       // the file read
    bool evaluated = false;  // ... and evaluated without problems
    bool written = false;    // recalc: the copy is in place
    std::string failure;     // why the file was not read, or the copy not written: "FILE: reason"
    std::vector<std::string> notes, problems;
    std::vector<std::string> tolerated;  // what the reader tolerated, one line per kind
    std::vector<ReportedCell> cells;  // reading order: the cells further apart than the tolerance or of another kind
    std::vector<ReportedStale> stale;  // reading order
    size_t recomputed = 0, matching = 0, differing = 0, keptCached = 0;
    size_t changed = 0;  // recalc: cached values the copy changes
};

// check: path recalculated and compared with the values it cached, numbers within toleranceUlps.
void CheckWorkbookReport(Workers& workers, const std::string& path, uint64_t toleranceUlps, WorkbookReport* report);
// The same, each differing cell put into words by line(cell, &text) as it is found, and the words
// handed to write in reading order, a few cells at a time; never held (report->cells stays empty).
// With many differences, line runs on two threads at once, each appending to a text of its own.
// counted is called before the first with the report but for them, so that what heads a report (the
// verdict, what was tolerated) goes out first. None is called when the file does not evaluate.
void CheckWorkbookReport(Workers& workers, const std::string& path, uint64_t toleranceUlps, WorkbookReport* report,
                         const std::function<void(const WorkbookReport& counted)>& counted,
                         const std::function<void(const ReportedCell& cell, std::string* text)>& line,
                         const std::function<void(const std::string& text)>& write);
// recalc: in recalculated and written to out as a copy whose only changes are the recomputed cells'
// cached values, renamed into place when whole. The differing cells are listed when keepCells.
void RecalculateWorkbookReport(Workers& workers, const std::string& in, const std::string& out, bool keepCells,
                               WorkbookReport* report);

// Whether in and out name one existing file, through links too.
bool SameFile(const std::string& in, const std::string& out);

}  // namespace quorin_host
