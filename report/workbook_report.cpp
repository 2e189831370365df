// workbook_report.cpp - one workbook read, recalculated, compared with its cache or written as a copy.
#include "report/workbook_report.h"

#include <filesystem>

#include "engine/ahead.h"
#include "engine/formula.h"
#include "engine/text_file.h"
#include "xlsx/writer.h"

namespace quorin_host {

void Recalculate(Workers& workers, const std::string& path, Recalculated* run)
{
    run->read = ReadWorkbook(path, &run->xlsx, &run->book, &run->error);
    if (!run->read) return;
    EvaluationOptions options;
    options.fileName = path;
    options.keepForeignFormulas = true;
    options.spillRight = false;
    const HostLease lease = workers.Take();
    run->evaluated = OnFreshThread([&] { return EvaluateWorkbook(*lease.hosts[0], run->book, options, &run->evaluation, &workers); });
}

// What the run says about itself, whatever comes of it.
static void TakeMessages(const std::string& path, const Recalculated& run, WorkbookReport* report)
{
    report->read = run.read;
    report->evaluated = run.evaluated;
    if (!run.read) report->failure = path + ": " + run.error;
    report->notes = run.evaluation.notes;
    report->problems = run.evaluation.problems;
    report->tolerated = ToleratedLines(run.xlsx);
}

// A cell a report lists: further apart than the tolerance, or of another kind.
static bool Reported(const RecomputedCell& cell)
{
    return cell.comparison.agreement == Agreement::Far || cell.comparison.agreement == Agreement::OtherKind;
}

static ReportedCell ReportedOf(const Workbook& book, const RecomputedCell& cell)
{
    return ReportedCell{SheetCellName(book.sheets[cell.sheet], cell.row, cell.column), cell.formula, cell.cached, cell.computed,
                        cell.comparison};
}

// The comparison's cells and stale formulas, named; its counts.
static void TakeComparison(const Workbook& book, const BookComparison& comparison, WorkbookReport* report)
{
    for (const RecomputedCell& cell : comparison.cells) {
        if (Reported(cell)) report->cells.push_back(ReportedOf(book, cell));
    }
    for (const StaleFormula& f : comparison.stale) {
        report->stale.push_back(ReportedStale{SheetCellName(book.sheets[f.sheet], f.row, f.column), f.formula, f.reason});
    }
    report->recomputed = comparison.recomputed;
    report->matching = comparison.matching;
    report->differing = comparison.differing;
    report->keptCached = comparison.keptCached;
}

void CheckWorkbookReport(Workers& workers, const std::string& path, uint64_t toleranceUlps, WorkbookReport* report)
{
    Recalculated run;
    Recalculate(workers, path, &run);
    TakeMessages(path, run, report);
    if (!run.evaluated) return;
    TakeComparison(run.book, CompareBook(run.book, run.evaluation, toleranceUlps, KeepCells::NotSame), report);
}

void CheckWorkbookReport(Workers& workers, const std::string& path, uint64_t toleranceUlps, WorkbookReport* report,
                         const std::function<void(const WorkbookReport& counted)>& counted,
                         const std::function<void(const ReportedCell& cell, std::string* text)>& line,
                         const std::function<void(const std::string& text)>& write)
{
    Recalculated run;
    Recalculate(workers, path, &run);
    TakeMessages(path, run, report);
    if (!run.evaluated) return;
    // Counted first, compared again as the cells go out: comparing costs little beside holding them all.
    TakeComparison(run.book, CompareBook(run.book, run.evaluation, toleranceUlps, KeepCells::None), report);
    counted(*report);
    // Putting a difference into words costs several times comparing it: with many, the second core
    // words every other few formulas' cells while this one words and writes in order.
    constexpr size_t Formulas = 32;      // a piece: few enough that the pieces made ahead stay small
    constexpr size_t ThreadFrom = 4096;  // differences
    const size_t formulas = run.evaluation.formulas.size();
    Ahead<std::string> pieces((formulas + Formulas - 1) / Formulas, [&](size_t i, std::string* text, bool) {
        text->clear();
        CompareBook(run.book, run.evaluation, toleranceUlps, [&](const RecomputedCell& compared) {
            if (Reported(compared)) line(ReportedOf(run.book, compared), text);
        }, i * Formulas, (i + 1) * Formulas);
    }, report->differing >= ThreadFrom);
    std::string text;
    for (size_t i = 0; i * Formulas < formulas; ++i) {
        pieces.Take(i, &text);
        if (!text.empty()) write(text);
    }
}

void RecalculateWorkbookReport(Workers& workers, const std::string& in, const std::string& out, bool keepCells,
                               WorkbookReport* report)
{
    Recalculated run;
    Recalculate(workers, in, &run);
    TakeMessages(in, run, report);
    if (!run.evaluated) return;
    TakeComparison(run.book, CompareBook(run.book, run.evaluation, 0, keepCells ? KeepCells::NotSame : KeepCells::None),
                   report);
    const std::vector<CachedUpdate> updates = UpdatesFor(run.book, run.evaluation);
    report->changed = updates.size();
    // The copy needs only the updates: the workbook's records go before the edited sheet is built.
    run = Recalculated();
    std::string writeError;
    report->written = WriteRecalculated(in, out, updates, &writeError);
    if (!report->written) report->failure = out + ": " + writeError;
}

bool SameFile(const std::string& in, const std::string& out)
{
    std::error_code error;
    return std::filesystem::equivalent(FilePath(in), FilePath(out), error) && !error;
}

}  // namespace quorin_host
