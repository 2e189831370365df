// workbook.cpp - .xlsx records into the workbook engine, and its results against the file's cache.
#include "xlsx/workbook.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <utility>

#include "engine/formula.h"

namespace quorin_host {

namespace {

int64_t Ordered(double v)
{
    int64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    // Negative doubles count down from zero, so that the integers run in the doubles' order.
    return bits < 0 ? INT64_MIN - bits : bits;
}

// The value as the file would store it: the kind and text a comparison sees. The spreadsheet stores
// no negative zero.
Value AsStored(const Value& v)
{
    if (v.kind == Kind::Empty) return Value::Number(0.0);
    if (v.kind == Kind::Number && !std::isfinite(v.number)) return Value::Error(xlerrNum);
    if (v.kind == Kind::Number && v.number == 0.0) return Value::Number(0.0);
    return v;
}

// The cached error is compared as the file wrote it, so that an error the host does not know (#SPILL!)
// never passes for the add-in's failure stored as #N/A.
bool ErrorsAgree(const Value& cached, const Value& computed)
{
    return StoredErrorText(FormatValue(computed)) == FormatValue(cached);
}

// The formula of a cell as check shows it.
std::string ShownFormula(const Workbook& book, const StoredFormula& anchor)
{
    const Area& a = anchor.area;
    if (anchor.dataTable) return "(data table over " + CellName(a.rowFirst, a.columnFirst) + ":" + CellName(a.rowLast, a.columnLast) + ")";
    std::string text = anchor.overArea ? "{=" + book.TextOf(anchor) + "}" : "=" + book.TextOf(anchor);
    if (anchor.shiftRows != 0 || anchor.shiftColumns != 0) {
        text += " (shared, as written for " +
                CellName(static_cast<uint32_t>(static_cast<int64_t>(anchor.row) - anchor.shiftRows),
                         static_cast<uint16_t>(int32_t{anchor.column} - anchor.shiftColumns)) + ")";
    }
    return text;
}

// One cell of the file into the engine's records. A formula with no text is a cell of an array or
// spill range: a value here.
void AddCell(Workbook* book, uint32_t sheet, const XlsxCell& cell)
{
    if (!cell.hasFormula || (cell.formula.empty() && !cell.dataTable)) {
        if (cell.hasCached) book->SetValue(sheet, cell.row, cell.column, StoredValue(cell));
        else book->SetBlank(sheet, cell.row, cell.column);
        return;
    }
    WorkbookFormula formula;
    formula.text = cell.formula;
    formula.shiftRows = cell.shiftRows;
    formula.shiftColumns = cell.shiftColumns;
    formula.overArea = cell.arrayFormula || cell.dataTable;
    formula.dataTable = cell.dataTable;
    formula.area = Area{cell.rowFirst, cell.rowLast, cell.columnFirst, cell.columnLast, sheet};
    formula.hasCached = cell.hasCached;
    formula.cached = StoredValue(cell);
    book->SetFormula(sheet, cell.row, cell.column, formula);
}

// Of a cell written twice the last element stands: the store kept its value, and of its formulas only
// the last is kept, when the last element was one.
void KeepLastWritten(const XlsxBook& xlsx, Workbook* book)
{
    if (xlsx.writtenTwice.empty()) return;
    std::map<std::tuple<size_t, uint32_t, uint16_t>, bool> keepNext;  // from the back: whether the next met stays
    for (const XlsxCellTwice& t : xlsx.writtenTwice) keepNext[{t.sheet, t.row, t.column}] = t.lastIsFormula;
    std::vector<bool> dropped(book->formulas.size(), false);
    for (size_t k = book->formulas.size(); k-- > 0;) {
        const StoredFormula& f = book->formulas[k];
        const auto twice = keepNext.find({f.sheet, f.row, f.column});
        if (twice == keepNext.end()) continue;
        dropped[k] = !twice->second;
        twice->second = false;
    }
    size_t kept = 0;
    for (size_t k = 0; k < book->formulas.size(); ++k) {
        if (!dropped[k]) book->formulas[kept++] = book->formulas[k];
    }
    book->formulas.resize(kept);
}

// Everything but the cells: the sheets not met yet, the names, the tables and the links; then the
// cells are ordered for reading.
void AddTheRest(const XlsxBook& xlsx, Workbook* book)
{
    while (book->sheets.size() < xlsx.sheets.size()) book->AddSheet(xlsx.sheets[book->sheets.size()].name);
    // A damaged sheet may have handed over cells before its damage was met: none of them stands.
    for (uint32_t s = 0; s < xlsx.sheets.size(); ++s) {
        if (!xlsx.sheets[s].unreadable.empty()) book->SetUnreadable(s, xlsx.sheets[s].unreadable);
    }
    book->tableUnreadable = std::any_of(xlsx.tolerated.begin(), xlsx.tolerated.end(),
                                        [](const XlsxTolerated& t) { return t.kind == XlsxTolerance::UnreadableTable; });
    KeepLastWritten(xlsx, book);
    for (const XlsxName& name : xlsx.names) {
        if (name.name.compare(0, 6, "_xlnm.") == 0) continue;
        book->names.push_back({name.name, name.localSheet, name.text});
    }
    for (const XlsxTable& t : xlsx.tables) {
        book->tables.push_back({t.name, static_cast<uint32_t>(t.sheet), Area{t.rowFirst, t.rowLast, t.columnFirst, t.columnLast, 0},
                                t.headerRows, t.totalsRows, t.columns});
    }
    for (const XlsxLink& link : xlsx.links) {
        LinkedBook linked;
        linked.values.SetSheets(link.sheets.size());
        for (size_t s = 0; s < link.sheets.size(); ++s) {
            linked.sheets.push_back(link.sheets[s].name);
            for (const XlsxCell& cell : link.sheets[s].cells) linked.values.Add(static_cast<uint32_t>(s), cell.row, cell.column, StoredValue(cell));
        }
        linked.values.Seal();
        book->links.push_back(std::move(linked));
    }
    book->Seal();
}

// Every cell a computed formula fills, against its cache, in the order of the evaluation's formulas
// (an array formula's area row by row), of formulas [first, last); stale formulas go to stale. Cells
// are read as copies, so that threads may compare parts of one evaluation at once.
template <typename Visit>
void EachRecomputed(const Workbook& book, const WorkbookEvaluation& evaluation, uint64_t toleranceUlps, Visit visit,
                    std::vector<StaleFormula>* stale, size_t first = 0, size_t last = SIZE_MAX)
{
    for (size_t k = first; k < std::min(last, evaluation.formulas.size()); ++k) {
        const FormulaResult& result = evaluation.formulas[k];
        const StoredFormula& anchor = book.formulas[result.formula];
        if (result.outcome == FormulaOutcome::Stale && stale != nullptr) {
            stale->push_back({result.sheet, result.row, result.column, ShownFormula(book, anchor), evaluation.Reason(k)});
            continue;
        }
        if (result.outcome != FormulaOutcome::Computed) continue;
        Area area{result.row, result.row, result.column, result.column, result.sheet};
        if (anchor.overArea) area = anchor.area;
        for (uint32_t r = area.rowFirst; r <= area.rowLast; ++r) {
            for (uint32_t c = area.columnFirst; c <= area.columnLast; ++c) {
                RecomputedCell cell;
                cell.sheet = result.sheet;
                cell.row = r;
                cell.column = static_cast<uint16_t>(c);
                cell.cached = book.values.Copy(result.sheet, r, cell.column, &cell.inFile);
                cell.computed = evaluation.CopyAt(result.sheet, r, cell.column);
                cell.comparison = CompareCached(cell.cached, cell.computed, toleranceUlps);
                visit(anchor, cell);
            }
        }
    }
}

// Whether the copy must cache another value for cell: one the file has, computed differently.
bool NeedsUpdate(const RecomputedCell& cell) { return cell.inFile && cell.comparison.agreement != Agreement::Same; }

// The update that makes the copy cache what cell computed.
CachedUpdate UpdateOf(const RecomputedCell& cell)
{
    const Value v = AsStored(cell.computed);
    CachedUpdate update;
    update.sheet = cell.sheet;
    update.row = cell.row;
    update.column = cell.column;
    switch (v.kind) {
    case Kind::Number: update.kind = CachedKind::Number; update.number = v.number; break;
    case Kind::Boolean: update.kind = CachedKind::Boolean; update.boolean = v.boolean; break;
    case Kind::Text: update.kind = CachedKind::String; update.text = v.text; break;
    default: update.kind = CachedKind::Error; update.text = FormatValue(v); break;
    }
    return update;
}

}  // namespace

Value StoredValue(const XlsxCell& cell)
{
    switch (cell.kind) {
    case XlsxKind::Empty: return Value{};
    case XlsxKind::Number: return Value::Number(cell.number);
    case XlsxKind::Boolean: return Value::Boolean(cell.boolean);
    case XlsxKind::Error: {
        uint16_t code = xlerrNA;
        if (ParseErrorText(cell.text, &code)) return Value::Error(code);
        Value unknown = Value::Error(code);
        unknown.text = cell.text;
        return unknown;
    }
    case XlsxKind::SharedString: case XlsxKind::InlineString: case XlsxKind::FormulaString: case XlsxKind::Date:
        return Value::Text(cell.text);
    }
    return Value{};
}

Workbook ToWorkbook(const XlsxBook& xlsx)
{
    Workbook book;
    for (const XlsxSheet& sheet : xlsx.sheets) {
        const uint32_t s = book.AddSheet(sheet.name);
        for (const XlsxCell& cell : sheet.cells) AddCell(&book, s, cell);
    }
    AddTheRest(xlsx, &book);
    return book;
}

bool ReadWorkbook(const std::string& path, XlsxBook* xlsx, Workbook* book, std::string* error, const XlsxLimits& limits)
{
    *book = Workbook();
    const auto sink = [&](size_t sheet, const XlsxCell& cell) {
        while (book->sheets.size() <= sheet) book->AddSheet(xlsx->sheets[book->sheets.size()].name);
        AddCell(book, static_cast<uint32_t>(sheet), cell);
    };
    if (!ReadXlsx(path, xlsx, sink, error, limits)) return false;
    AddTheRest(*xlsx, book);
    return true;
}

uint64_t UlpDistance(double a, double b)
{
    const int64_t x = Ordered(a), y = Ordered(b);
    return x > y ? static_cast<uint64_t>(x) - static_cast<uint64_t>(y) : static_cast<uint64_t>(y) - static_cast<uint64_t>(x);
}

CellComparison CompareCached(const Value& cached, const Value& computed, uint64_t toleranceUlps)
{
    const Value stored = AsStored(computed);
    CellComparison result;
    if (stored.kind != cached.kind) {
        result.agreement = Agreement::OtherKind;
        return result;
    }
    switch (stored.kind) {
    case Kind::Number: {
        uint64_t cachedBits = 0, storedBits = 0;
        std::memcpy(&cachedBits, &cached.number, sizeof cachedBits);
        std::memcpy(&storedBits, &stored.number, sizeof storedBits);
        result.ulps = UlpDistance(cached.number, stored.number);
        result.agreement = cachedBits == storedBits ? Agreement::Same : result.ulps <= toleranceUlps ? Agreement::Near : Agreement::Far;
        return result;
    }
    case Kind::Text: result.agreement = stored.text == cached.text ? Agreement::Same : Agreement::OtherKind; break;
    case Kind::Boolean: result.agreement = stored.boolean == cached.boolean ? Agreement::Same : Agreement::OtherKind; break;
    case Kind::Error: result.agreement = ErrorsAgree(cached, stored) ? Agreement::Same : Agreement::OtherKind; break;
    default: result.agreement = Agreement::OtherKind; break;
    }
    return result;
}

// Counts every recomputed cell into comparison and hands over those keep asks for, their formula shown.
template <typename Hand>
void Compare(const Workbook& book, const WorkbookEvaluation& evaluation, uint64_t toleranceUlps, KeepCells keep, BookComparison* comparison,
             Hand hand, size_t first = 0, size_t last = SIZE_MAX)
{
    comparison->keptCached = evaluation.keptCached;
    const StoredFormula* shownFor = nullptr;
    std::string shown;
    EachRecomputed(book, evaluation, toleranceUlps, [&](const StoredFormula& anchor, RecomputedCell& cell) {
        ++comparison->recomputed;
        const Agreement agreement = cell.comparison.agreement;
        if (agreement == Agreement::Same || agreement == Agreement::Near) ++comparison->matching;
        else ++comparison->differing;
        if (keep == KeepCells::None || (keep == KeepCells::NotSame && agreement == Agreement::Same)) return;
        // An array formula's cells show one text, made once.
        if (shownFor != &anchor) shown = ShownFormula(book, anchor), shownFor = &anchor;
        cell.formula = shown;
        hand(cell);
    }, &comparison->stale, first, last);
}

BookComparison CompareBook(const Workbook& book, const WorkbookEvaluation& evaluation, uint64_t toleranceUlps, KeepCells keep)
{
    BookComparison comparison;
    Compare(book, evaluation, toleranceUlps, keep, &comparison, [&](RecomputedCell& cell) { comparison.cells.push_back(std::move(cell)); });
    std::sort(comparison.cells.begin(), comparison.cells.end(), [](const RecomputedCell& a, const RecomputedCell& b) {
        return std::tie(a.sheet, a.row, a.column) < std::tie(b.sheet, b.row, b.column);
    });
    return comparison;
}

BookComparison CompareBook(const Workbook& book, const WorkbookEvaluation& evaluation, uint64_t toleranceUlps,
                           const std::function<void(const RecomputedCell& cell)>& visit, size_t first, size_t last)
{
    BookComparison comparison;
    Compare(book, evaluation, toleranceUlps, KeepCells::NotSame, &comparison, [&](const RecomputedCell& cell) { visit(cell); }, first, last);
    return comparison;
}

std::vector<CachedUpdate> UpdatesFor(const BookComparison& comparison)
{
    std::vector<CachedUpdate> updates;
    for (const RecomputedCell& cell : comparison.cells) {
        if (NeedsUpdate(cell)) updates.push_back(UpdateOf(cell));
    }
    return updates;
}

std::vector<CachedUpdate> UpdatesFor(const Workbook& book, const WorkbookEvaluation& evaluation)
{
    // Counted first: comparing again costs less than a list grown by doubling, held beside the workbook.
    size_t count = 0;
    EachRecomputed(book, evaluation, 0, [&](const StoredFormula&, const RecomputedCell& cell) { count += NeedsUpdate(cell) ? 1 : 0; }, nullptr);
    std::vector<CachedUpdate> updates;
    updates.reserve(count);
    EachRecomputed(book, evaluation, 0, [&](const StoredFormula&, const RecomputedCell& cell) {
        if (NeedsUpdate(cell)) updates.push_back(UpdateOf(cell));
    }, nullptr);
    // Reading order already, unless an array formula's area reaches past the formulas after it.
    const auto before = [](const CachedUpdate& a, const CachedUpdate& b) { return std::tie(a.sheet, a.row, a.column) < std::tie(b.sheet, b.row, b.column); };
    if (!std::is_sorted(updates.begin(), updates.end(), before)) std::sort(updates.begin(), updates.end(), before);
    return updates;
}

}  // namespace quorin_host
