// workbook.cpp - .xlsx records into the workbook engine, and its results against the file's cache.
#include "xlsx/workbook.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
std::string ShownFormula(const XlsxCell& anchor)
{
    if (anchor.dataTable) return "(data table over " + CellName(anchor.rowFirst, anchor.columnFirst) + ":" + CellName(anchor.rowLast, anchor.columnLast) + ")";
    std::string text = anchor.arrayFormula ? "{=" + anchor.formula + "}" : "=" + anchor.formula;
    if (anchor.shiftRows != 0 || anchor.shiftColumns != 0) {
        text += " (shared, as written for " +
                CellName(static_cast<uint32_t>(static_cast<int64_t>(anchor.row) - anchor.shiftRows),
                         static_cast<uint16_t>(int32_t{anchor.column} - anchor.shiftColumns)) + ")";
    }
    return text;
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
    // One cell record per cell read, taken at once: grown by doubling, the records would cost up to
    // twice their size, and three times while the last growth copies them.
    size_t cells = 0;
    for (const XlsxSheet& sheet : xlsx.sheets) cells += sheet.cells.size();
    book.cells.reserve(cells);
    for (const XlsxSheet& sheet : xlsx.sheets) {
        const uint32_t s = book.AddSheet(sheet.name);
        for (const XlsxCell& cell : sheet.cells) {
            // A formula with no text is a cell of an array or spill range: a value here.
            if (!cell.hasFormula || (cell.formula.empty() && !cell.dataTable)) {
                if (cell.hasCached) book.SetValue(s, cell.row, cell.column, StoredValue(cell));
                continue;
            }
            WorkbookFormula formula;
            formula.text = cell.formula;
            formula.shiftRows = cell.shiftRows;
            formula.shiftColumns = cell.shiftColumns;
            formula.overArea = cell.arrayFormula || cell.dataTable;
            formula.dataTable = cell.dataTable;
            formula.area = Area{cell.rowFirst, cell.rowLast, cell.columnFirst, cell.columnLast, s};
            formula.hasCached = cell.hasCached;
            formula.cached = StoredValue(cell);
            book.SetFormula(s, cell.row, cell.column, std::move(formula));
        }
    }
    for (const XlsxName& name : xlsx.names) {
        if (name.name.compare(0, 6, "_xlnm.") == 0) continue;
        book.names.push_back({name.name, name.localSheet, name.text});
    }
    for (const XlsxTable& t : xlsx.tables) {
        book.tables.push_back({t.name, static_cast<uint32_t>(t.sheet), Area{t.rowFirst, t.rowLast, t.columnFirst, t.columnLast, 0},
                               t.headerRows, t.totalsRows, t.columns});
    }
    for (const XlsxLink& link : xlsx.links) {
        LinkedBook linked;
        for (size_t s = 0; s < link.sheets.size(); ++s) {
            linked.sheets.push_back(link.sheets[s].name);
            for (const XlsxCell& cell : link.sheets[s].cells) {
                WorkbookCell value;
                value.sheet = static_cast<uint32_t>(s);
                value.row = cell.row;
                value.column = cell.column;
                value.value = StoredValue(cell);
                linked.cells.push_back(std::move(value));
            }
        }
        book.links.push_back(std::move(linked));
    }
    return book;
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

BookComparison CompareBook(const XlsxBook& xlsx, const WorkbookEvaluation& evaluation, uint64_t toleranceUlps)
{
    // What the file holds per cell, for the cells of array areas that carry no formula of their own.
    std::vector<std::vector<std::pair<std::pair<uint32_t, uint16_t>, const XlsxCell*>>> stored(xlsx.sheets.size());
    for (size_t s = 0; s < xlsx.sheets.size(); ++s) {
        for (const XlsxCell& cell : xlsx.sheets[s].cells) stored[s].push_back({{cell.row, cell.column}, &cell});
        std::sort(stored[s].begin(), stored[s].end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    const auto find = [&](size_t sheet, uint32_t row, uint16_t column) -> const XlsxCell* {
        const auto& cells = stored[sheet];
        const auto at = std::lower_bound(cells.begin(), cells.end(), std::make_pair(row, column),
                                         [](const auto& entry, const std::pair<uint32_t, uint16_t>& key) { return entry.first < key; });
        return (at != cells.end() && at->first == std::make_pair(row, column)) ? at->second : nullptr;
    };
    BookComparison comparison;
    comparison.keptCached = evaluation.keptCached;
    for (const FormulaResult& result : evaluation.formulas) {
        const XlsxCell* anchor = find(result.sheet, result.row, result.column);
        if (anchor == nullptr) continue;
        if (result.outcome == FormulaOutcome::Stale) {
            comparison.stale.push_back({result.sheet, result.row, result.column, ShownFormula(*anchor), result.reason});
            continue;
        }
        if (result.outcome != FormulaOutcome::Computed) continue;
        Area area{result.row, result.row, result.column, result.column, result.sheet};
        if (anchor->arrayFormula || anchor->dataTable) {
            area = Area{anchor->rowFirst, anchor->rowLast, anchor->columnFirst, anchor->columnLast, result.sheet};
        }
        const std::string text = ShownFormula(*anchor);
        for (uint32_t r = area.rowFirst; r <= area.rowLast; ++r) {
            for (uint32_t c = area.columnFirst; c <= area.columnLast; ++c) {
                RecomputedCell cell;
                cell.sheet = result.sheet;
                cell.row = r;
                cell.column = static_cast<uint16_t>(c);
                cell.formula = text;
                const XlsxCell* inFile = find(result.sheet, r, cell.column);
                cell.inFile = inFile != nullptr;
                if (inFile != nullptr) cell.cached = StoredValue(*inFile);
                cell.computed = evaluation.CellAt(result.sheet, r, cell.column);
                cell.comparison = CompareCached(cell.cached, cell.computed, toleranceUlps);
                if (cell.comparison.agreement == Agreement::Same || cell.comparison.agreement == Agreement::Near) {
                    ++comparison.matching;
                } else {
                    ++comparison.differing;
                }
                comparison.cells.push_back(std::move(cell));
            }
        }
    }
    std::sort(comparison.cells.begin(), comparison.cells.end(), [](const RecomputedCell& a, const RecomputedCell& b) {
        return std::tie(a.sheet, a.row, a.column) < std::tie(b.sheet, b.row, b.column);
    });
    return comparison;
}

std::vector<CachedUpdate> UpdatesFor(const BookComparison& comparison)
{
    std::vector<CachedUpdate> updates;
    for (const RecomputedCell& cell : comparison.cells) {
        if (!cell.inFile || cell.comparison.agreement == Agreement::Same) continue;
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
        updates.push_back(std::move(update));
    }
    return updates;
}

}  // namespace quorin_host
