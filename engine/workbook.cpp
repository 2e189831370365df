// workbook.cpp - workbooks recalculated in dependency order (a per-column index of the cells each
// formula fills, then Kahn's order), CSV sheets as one-sheet workbooks, and their display.
#include "engine/workbook.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <tuple>
#include <map>
#include <memory>
#include <queue>
#include <system_error>
#include <thread>

#include "engine/ahead.h"
#include "engine/evaluate.h"
#include "host/marshal.h"
#include "rules/number.h"

namespace quorin_host {

namespace {

std::string Shown(const Value& v)
{
    return (v.kind == Kind::Uncalculated) ? std::string(CircularText) : FormatValue(v);
}

// Whether the formula's answer can be an array, and so needs room to its right on a CSV sheet.
bool MayAnswerArray(const Formula& f)
{
    const Node& root = f.nodes.back();
    switch (root.type) {
    case NodeType::Call: case NodeType::Name: return true;
    case NodeType::Reference: return root.area.rowFirst != root.area.rowLast || root.area.columnFirst != root.area.columnLast;
    case NodeType::Literal: return f.LiteralOf(root).kind == Kind::Array;
    default: return false;
    }
}

bool AreaFits(const Area& a)
{
    const uint64_t cells = (uint64_t{a.rowLast} - a.rowFirst + 1) * (uint64_t{a.columnLast} - a.columnFirst + 1);
    return a.rowFirst <= a.rowLast && a.columnFirst <= a.columnLast && a.rowLast < MaxSheetRows && a.columnLast < MaxSheetColumns &&
           cells <= (uint64_t{1} << 20);
}

// The functions whose answers are the module's next random numbers: a workbook's draws come in the
// order one host computes its formulas, whatever else is computed at once beside them.
bool DrawsRandomNumbers(const std::string& function)
{
    return SameText(function, "RandNorm") || SameText(function, "RandDist");
}

// The element of an answer that a cell of an array formula's area shows: a single row or column
// repeats across the area, cells past the answer show #N/A.
Value ElementFor(const Value& answer, uint32_t r, uint32_t c)
{
    if (answer.kind != Kind::Array) return answer;
    const uint32_t rows = static_cast<uint32_t>(answer.rows), columns = static_cast<uint32_t>(answer.columns);
    const uint32_t rr = (rows == 1) ? 0 : r, cc = (columns == 1) ? 0 : c;
    if (rr >= rows || cc >= columns) return Value::Error(xlerrNA);
    return answer.elements[size_t{rr} * columns + cc];
}

// The most cells of a linked workbook read as one argument, as for a range of this one.
constexpr uint64_t MaxLinkedCells = uint64_t{1} << 20;

// The items of a table reference's bracketed text, each without its brackets and escaping quotes; a
// ':' between two items makes them a column range. "@" is written for the item #This Row.
std::vector<std::string> TableItems(const std::string& detail, bool* columnRange)
{
    std::vector<std::string> items;
    *columnRange = false;
    if (detail.find('[') == std::string::npos) {
        if (!detail.empty() && detail[0] == '@') return {"#This Row", detail.substr(1)};
        return detail.empty() ? items : std::vector<std::string>{detail};
    }
    std::string item;
    int32_t depth = 0;
    for (size_t k = 0; k < detail.size(); ++k) {
        const char c = detail[k];
        if (depth > 0 && c == '\'' && k + 1 < detail.size()) {
            item += detail[++k];
        } else if (c == '[') {
            if (depth++ > 0) item += c;
        } else if (c == ']') {
            if (--depth > 0) item += c;
            else items.push_back(std::move(item)), item.clear();
        } else if (depth > 0) {
            item += c;
        } else if (c == ':') {
            *columnRange = true;
        } else if (c == '@') {
            items.push_back("#This Row");
        }
    }
    return items;
}

// The cells of table t that a reference's bracketed text names, for a formula in the given row: the
// special items choose the rows (the data rows where none is given), the other items one column or a
// range of them (every column where none is given).
bool TableArea(const WorkbookTable& t, const std::string& detail, uint32_t row, Area* area)
{
    bool columnRange = false;
    std::vector<std::string> columns;
    bool all = false, data = false, headers = false, totals = false, thisRow = false;
    for (const std::string& item : TableItems(detail, &columnRange)) {
        if (SameText(item, "#All")) all = true;
        else if (SameText(item, "#Data")) data = true;
        else if (SameText(item, "#Headers")) headers = true;
        else if (SameText(item, "#Totals")) totals = true;
        else if (SameText(item, "#This Row")) thisRow = true;
        else columns.push_back(item);
    }
    *area = t.area;
    area->sheet = t.sheet;
    const int64_t dataFirst = int64_t{t.area.rowFirst} + t.headerRows, dataLast = int64_t{t.area.rowLast} - t.totalsRows;
    if (thisRow) {
        if (row < dataFirst || row > dataLast) return false;
        area->rowFirst = area->rowLast = row;
    } else if (!all) {
        if (!data && !headers && !totals) data = true;
        const int64_t first = headers ? t.area.rowFirst : data ? dataFirst : dataLast + 1;
        const int64_t last = totals ? t.area.rowLast : data ? dataLast : dataFirst - 1;
        if ((headers && t.headerRows == 0) || (totals && t.totalsRows == 0) || first > last || (headers && totals && !data)) return false;
        area->rowFirst = static_cast<uint32_t>(first);
        area->rowLast = static_cast<uint32_t>(last);
    }
    if (columns.empty()) return true;
    if (columns.size() > 2 || (columns.size() == 2 && !columnRange)) return false;
    uint16_t found[2] = {0, 0};
    for (size_t k = 0; k < columns.size(); ++k) {
        const auto at = std::find_if(t.columns.begin(), t.columns.end(), [&](const std::string& name) { return SameText(name, columns[k]); });
        if (at == t.columns.end()) return false;
        found[k] = static_cast<uint16_t>(t.area.columnFirst + (at - t.columns.begin()));
    }
    area->columnFirst = std::min(found[0], found[columns.size() - 1]);
    area->columnLast = std::max(found[0], found[columns.size() - 1]);
    return true;
}

}  // namespace

uint32_t Workbook::AddSheet(const std::string& name)
{
    sheets.push_back(name);
    values.SetSheets(sheets.size());
    return static_cast<uint32_t>(sheets.size() - 1);
}

void Workbook::SetValue(uint32_t sheet, uint32_t row, uint16_t column, const Value& value) { values.Add(sheet, row, column, value); }

void Workbook::SetBlank(uint32_t sheet, uint32_t row, uint16_t column) { values.Add(sheet, row, column, Value{}, true); }

void Workbook::SetUnreadable(uint32_t sheet, const std::string& why)
{
    unreadable[sheet] = why;
    values.ClearSheet(sheet);
    formulas.erase(std::remove_if(formulas.begin(), formulas.end(), [&](const StoredFormula& f) { return f.sheet == sheet; }), formulas.end());
    recentTexts_.clear();
}

void Workbook::SetFormula(uint32_t sheet, uint32_t row, uint16_t column, const WorkbookFormula& formula)
{
    StoredFormula stored;
    stored.sheet = sheet;
    stored.row = row;
    stored.column = column;
    stored.overArea = formula.overArea;
    stored.dataTable = formula.dataTable;
    stored.shiftRows = formula.shiftRows;
    stored.shiftColumns = formula.shiftColumns;
    stored.area = formula.area;
    constexpr size_t Recent = 8;
    const auto same = std::find_if(recentTexts_.begin(), recentTexts_.end(), [&](uint32_t t) { return formulaTexts[t] == formula.text; });
    if (same != recentTexts_.end()) {
        stored.text = *same;
    } else {
        stored.text = static_cast<uint32_t>(formulaTexts.size());
        formulaTexts.push_back(formula.text);
        if (recentTexts_.size() == Recent) recentTexts_.erase(recentTexts_.begin());
        recentTexts_.push_back(stored.text);
    }
    formulas.push_back(stored);
    values.Add(sheet, row, column, formula.hasCached ? formula.cached : Value{});
}

const Value& WorkbookEvaluation::CellAt(uint32_t sheet, uint32_t row, uint16_t column) const { return store_.Get(sheet, row, column); }

const XLOPER* WorkbookEvaluation::Records(const Area& area, size_t* rowStride, bool* lasting) const
{
    const size_t rows = size_t{area.rowLast} - area.rowFirst + 1, columns = size_t{area.columnLast} - area.columnFirst + 1;
    if (rows * columns < RecordsFrom) return nullptr;
    const size_t bytes = rows * columns * sizeof(XLOPER);
    const AreaKey key = std::make_tuple(area.sheet, area.rowFirst, area.rowLast, area.columnFirst, area.columnLast);
    {
        std::lock_guard<std::mutex> lock(blockLock_.mutex);
        const auto found = blocks_.find(key);
        if (found != blocks_.end()) {
            *rowStride = columns;
            *lasting = !found->second.text;
            return found->second.records.data();
        }
        if (bytes > MaxRecordBytes - blockBytes_) return nullptr;
        const uint64_t place = (uint64_t{area.sheet} * 0x9E3779B97F4A7C15u) ^ (uint64_t{area.rowFirst} << 32 | area.rowLast) ^
                               (uint64_t{area.columnFirst} << 48 | uint64_t{area.columnLast} << 32);
        // Bounded: a table read again is read again long before this many other areas.
        if (readOnce_.size() >= (size_t{1} << 16)) readOnce_.clear();
        if (readOnce_.insert(place).second) return nullptr;
    }
    // Built without the lock, so that workers reading areas at once build them at once.
    RecordBlock block;
    block.records.resize(rows * columns);
    if (!store_.Records(area.sheet, area, block.records.data(), &block.strings)) return nullptr;
    block.text = !block.strings.empty();
    std::lock_guard<std::mutex> lock(blockLock_.mutex);
    const auto placed = blocks_.emplace(key, std::move(block));
    if (placed.second) blockBytes_ += bytes;  // else another worker built it meanwhile: the same records
    *rowStride = columns;
    *lasting = !placed.first->second.text;
    return placed.first->second.records.data();
}

bool WorkbookEvaluation::RecordsInto(const Area& area, XLOPER* out, std::vector<std::vector<char>>* strings) const
{
    const size_t rows = size_t{area.rowLast} - area.rowFirst + 1, columns = size_t{area.columnLast} - area.columnFirst + 1;
    return rows * columns >= RecordsFrom && store_.Records(area.sheet, area, out, strings);
}

Value WorkbookEvaluation::Answer(size_t k) const
{
    const auto array = arrays_.find(static_cast<uint32_t>(k));
    if (array != arrays_.end()) return array->second;
    const FormulaResult& f = formulas[k];
    return store_.Get(f.sheet, f.row, f.column);
}

std::string WorkbookEvaluation::Reason(size_t k) const
{
    const auto found = reasons_.find(static_cast<uint32_t>(k));
    return found == reasons_.end() ? std::string() : found->second;
}

// One evaluation of a workbook: the cells as they stand, the index of which formula fills which cell,
// and the order of computation. It is the sheet and name lookup its formulas evaluate against.
class Recalculation : public FormulaNames {
public:
    Recalculation(SubstituteHost& host, const Workbook& book, const EvaluationOptions& options, WorkbookEvaluation* out, Workers* workers)
        : host_(host), book_(book), options_(options), out_(out), workers_(workers) {}

    bool FindSheet(const std::string& name, uint32_t* sheet) const override { return FindSheet(name, sheet, &lastSheet_); }

    // Formulas name the same sheet over and over: the last answer is kept in last, as asked.
    bool FindSheet(const std::string& name, uint32_t* sheet, std::pair<std::string, uint32_t>* last) const
    {
        if (name != last->first) {
            const auto found = sheetIndex_.find(Upper(name));
            *last = {name, found == sheetIndex_.end() ? UINT32_MAX : found->second};
        }
        *sheet = last->second;
        return last->second != UINT32_MAX;
    }

    const Formula* FindName(const std::string& name, uint32_t sheet) const override
    {
        const NameEntry* entry = FindNameEntry(name, sheet);
        return (entry == nullptr || !entry->readable) ? nullptr : &entry->formula;
    }

    bool FindTable(const std::string& table, const std::string& detail, uint32_t sheet, uint32_t row, uint16_t column,
                   Area* area) const override
    {
        const WorkbookTable* t = TableFor(table, sheet, row, column);
        return t != nullptr && TableArea(*t, detail, row, area);
    }

    bool LinkedValue(uint32_t link, const std::string& sheet, const Area& area, Value* value) const override
    {
        if (link == 0 || link > book_.links.size()) return false;
        const LinkedBook& linked = book_.links[link - 1];
        const auto named = std::find_if(linked.sheets.begin(), linked.sheets.end(), [&](const std::string& s) { return SameText(s, sheet); });
        const uint64_t rows = uint64_t{area.rowLast} - area.rowFirst + 1, columns = uint64_t{area.columnLast} - area.columnFirst + 1;
        if (named == linked.sheets.end() || rows * columns > MaxLinkedCells) return false;
        const uint32_t s = static_cast<uint32_t>(named - linked.sheets.begin());
        std::vector<Value> elements;
        for (uint32_t r = area.rowFirst; r <= area.rowLast; ++r) {
            for (uint32_t c = area.columnFirst; c <= area.columnLast; ++c) elements.push_back(linked.values.Copy(s, r, static_cast<uint16_t>(c)));
        }
        *value = elements.size() == 1 ? elements[0] : Value::Array(static_cast<int32_t>(rows), static_cast<int32_t>(columns), std::move(elements));
        return true;
    }

    void Run()
    {
        *out_ = WorkbookEvaluation{};
        out_->store_ = book_.values;
        out_->store_.SetSheets(book_.sheets.size());
        out_->store_.Seal();
        // The cached values a stale formula keeps, read from the book (ordered for reading if it is not).
        if (keep_ && !book_.values.Sealed()) sealedCopy_ = out_->store_;
        cached_ = book_.values.Sealed() ? &book_.values : &sealedCopy_;
        prefix_ = options_.fileName.empty() ? std::string() : options_.fileName + ": ";
        for (size_t s = 0; s < book_.sheets.size(); ++s) sheetIndex_[Upper(book_.sheets[s])] = static_cast<uint32_t>(s);
        ReadNames();
        PlaceInput();
        IndexOutputs();
        Link();
        if (keep_) ChooseRecomputed();
        Compute();
        std::vector<std::string> circular = std::move(out_->problems);
        out_->problems = std::move(namesProblems_);
        // Formulas are computed in dependency order; their messages are reported in reading order.
        const auto byFormula = [](const Message& x, const Message& y) { return x.first < y.first; };
        std::stable_sort(problems_.begin(), problems_.end(), byFormula);
        std::stable_sort(notes_.begin(), notes_.end(), byFormula);
        for (Message& p : problems_) out_->problems.push_back(std::move(p.second));
        for (Message& n : notes_) out_->notes.push_back(std::move(n.second));
        for (const FormulaResult& r : out_->formulas) {
            out_->keptCached += r.outcome == FormulaOutcome::KeptCached;
            out_->stale += r.outcome == FormulaOutcome::Stale;
        }
        out_->problems.insert(out_->problems.end(), circular.begin(), circular.end());
    }

private:
    struct NameEntry {
        bool readable = false;
        Formula formula;  // readable: the definition parsed
        Formula scan;     // what ScanFormula finds in it, read or not
        // The last walk that met it: a walk through names reads each once, however often they are used.
        mutable uint64_t walk = 0;
    };
    // What the evaluation knows of a formula beside the book's record (formulas are many: it is small).
    struct FormulaCell {
        bool callsRegistered = false;  // keeping foreign formulas: it calls a registered function
        bool drawsRandom = false;      // ... one that draws from the module's random sequence
        bool evaluable = false;   // computed if it must be (keeping foreign formulas: if it is recomputed)
        bool recomputed = false;  // keeping foreign formulas: it depends on a registered function
        bool staleInput = false;  // it reads a formula left stale
        uint32_t unreadSheet = 0;  // 1 + a sheet it reads whose cells could not be read, 0 for none
        bool unknownTable = false;  // it names a table not found while a table's part could not be read
        uint32_t runEnd = 0;  // spilling: the columns before this one to the right of the cell are its own
    };
    using Message = std::pair<uint32_t, std::string>;  // a formula's problem or note, by formula
    // The last formula read in each of a few columns: a text further down the column is often the same
    // formula moved (written out in full in each cell), made from it instead of read (ReadMovedFormula).
    struct Above {
        uint32_t sheet = UINT32_MAX, row = 0, text = 0;  // where its text was written for
        uint16_t column = 0;
        Formula formula;
    };
    // The last shared text read (scanned, or parsed), before it is moved to its cell; the formulas
    // above. Each thread reading formulas has its own.
    struct LastRead {
        uint32_t text = UINT32_MAX;
        bool ok = false;
        Formula formula;
        std::string error;
        Above above[8];  // by column, modulo 8
    };
    struct Tail { uint32_t row; uint32_t formula; };
    struct SheetIndex {
        uint32_t width = 0;                                           // columns the input spans
        std::vector<std::vector<std::pair<uint32_t, uint32_t>>> columns;  // per column: (row, formula), by row
        std::vector<Tail> tails;  // formulas whose spill runs on past width, by row
    };

    std::string Label(uint32_t sheet, uint32_t row, uint16_t column) const
    {
        return book_.sheets.size() < 2 ? CellName(row, column) : SheetCellName(book_.sheets[sheet], row, column);
    }

    // A name the grammar cannot read is a problem only where every formula is computed; keeping
    // foreign formulas, it fails only the formulas of ours that use it.
    void ReadNames()
    {
        for (const DefinedName& n : book_.names) {
            NameEntry entry;
            std::string error;
            size_t column = 0;
            entry.readable = ParseFormula(n.text, &entry.formula, &error, &column);
            if (!entry.readable && !keep_) {
                namesProblems_.push_back(prefix_ + "name " + n.name + ": column " + std::to_string(column) + ": " + error + ": " + n.text);
                continue;
            }
            if (keep_) entry.scan = ScanFormula(n.text);
            names_[{n.sheet, Upper(n.name)}] = std::move(entry);
        }
    }

    const NameEntry* FindNameEntry(const std::string& name, uint32_t sheet) const
    {
        auto found = names_.find({static_cast<int64_t>(sheet), Upper(name)});
        if (found == names_.end()) found = names_.find({-1, Upper(name)});
        return (found == names_.end()) ? nullptr : &found->second;
    }

    // The sheet a name written Data!Rate is looked up from, or the formula's own.
    uint32_t NameSheet(const Node& n, uint32_t sheet) const
    {
        uint32_t qualified = sheet;
        return (!n.detail.empty() && FindSheet(n.detail, &qualified)) ? qualified : sheet;
    }

    // Whether f, or a name it uses (a name that is called, as a LAMBDA is, counts as used), calls a
    // function wanted(name) picks.
    template <typename Wanted> bool Calls(const Formula& f, uint32_t sheet, int32_t depth, const Wanted& wanted) const
    {
        if (depth == 0) ++walks_;
        for (const Node& n : f.nodes) {
            if (n.type == NodeType::Call && wanted(n.name)) return true;
            if ((n.type != NodeType::Name && n.type != NodeType::Call) || depth >= MaxNameDepth) continue;
            const NameEntry* entry = FindNameEntry(n.name, NameSheet(n, sheet));
            if (entry == nullptr || entry->walk == walks_) continue;
            entry->walk = walks_;
            if (Calls(entry->scan, sheet, depth + 1, wanted)) return true;
        }
        return false;
    }

    // Why a parsed formula of ours cannot be computed here: a function the module did not register.
    static std::string UnregisteredCall(const Formula& f, const SubstituteHost& host)
    {
        for (const Node& n : f.nodes) {
            if (n.type == NodeType::Call && host.TypeTextOf(n.name).empty()) return "calls " + n.name + ", which the engine does not compute";
        }
        return "";
    }

    // A table by its name, or with none the table that holds the cell.
    const WorkbookTable* TableFor(const std::string& name, uint32_t sheet, uint32_t row, uint16_t column) const
    {
        for (const WorkbookTable& t : book_.tables) {
            if (!name.empty() ? SameText(t.name, name)
                              : (t.sheet == sheet && row >= t.area.rowFirst && row <= t.area.rowLast && column >= t.area.columnFirst &&
                                 column <= t.area.columnLast)) {
                return &t;
            }
        }
        return nullptr;
    }

    void PlaceInput()
    {
        widths_.resize(book_.sheets.size());
        for (uint32_t s = 0; s < book_.sheets.size(); ++s) widths_[s] = out_->store_.ColumnsOf(s);
        std::vector<uint32_t> order(book_.formulas.size());
        for (uint32_t k = 0; k < order.size(); ++k) order[k] = k;
        const auto reading = [this](uint32_t a, uint32_t b) {
            const StoredFormula &x = book_.formulas[a], &y = book_.formulas[b];
            return std::tie(x.sheet, x.row, x.column) < std::tie(y.sheet, y.row, y.column);
        };
        // A file's formulas come in reading order already: checking costs a fraction of sorting.
        if (!std::is_sorted(order.begin(), order.end(), reading)) std::sort(order.begin(), order.end(), reading);
        formulas_.resize(order.size());
        out_->formulas.resize(order.size());
        textUses_.assign(book_.formulaTexts.size(), 0);
        for (const StoredFormula& f : book_.formulas) textUses_[f.text] += textUses_[f.text] < 2;
        if (!keep_) parsed_.resize(order.size());
        for (uint32_t k = 0; k < order.size(); ++k) {
            const StoredFormula& c = book_.formulas[order[k]];
            FormulaCell& f = formulas_[k];
            FormulaResult& result = out_->formulas[k];
            result.formula = order[k];
            result.sheet = c.sheet;
            result.row = c.row;
            result.column = c.column;
            // Kept, every formula starts with its cached value; the ones chosen for recomputing are
            // computed over it. Only those are parsed (Prepare), so that memory follows what is ours.
            result.outcome = FormulaOutcome::KeptCached;
            if (keep_) continue;
            std::string why;
            if (!ParseWritten(c, &parsed_[k], &why, &lastParse_)) {
                problems_.emplace_back(k, prefix_ + Label(c.sheet, c.row, c.column) + ": " + why + ": " + book_.TextOf(c));
                result.outcome = FormulaOutcome::Refused;
                Set(c.sheet, c.row, c.column, Value::Error((c.overArea && !AreaFits(c.area)) ? xlerrRef : xlerrName));
            } else {
                // Every tree is held until all are computed: not the room it grew in.
                parsed_[k].nodes.shrink_to_fit();
                f.evaluable = true;
                result.outcome = FormulaOutcome::Computed;
                Set(c.sheet, c.row, c.column, Value::Uncalculated());
            }
        }
    }

    // What a formula reads and calls, read when it is linked and dropped after; last is the calling
    // thread's own. True when it was made from another formula's reading (its shared text's, or the
    // one above it moved) rather than read.
    bool Scan(const StoredFormula& written, Formula* scan, LastRead* last) const
    {
        bool made = true;
        if (textUses_[written.text] < 2) {
            made = FromAbove(written, scan, last);
            if (!made) ScanFormula(book_.TextOf(written), scan), KeepAbove(written, *scan, last);
        } else {
            if (last->text != written.text) ScanFormula(book_.TextOf(written), &last->formula), last->text = written.text;
            *scan = last->formula;
        }
        ShiftReferences(scan, written.shiftRows, written.shiftColumns);
        const Area& a = written.area;
        if (written.dataTable && a.rowFirst > 0 && a.columnFirst > 0) {
            Node above, left;
            above.type = left.type = NodeType::Reference;
            above.area = Area{a.rowFirst - 1, a.rowFirst - 1, static_cast<uint16_t>(a.columnFirst - 1), a.columnLast, 0};
            left.area = Area{a.rowFirst - 1, a.rowLast, static_cast<uint16_t>(a.columnFirst - 1), static_cast<uint16_t>(a.columnFirst - 1), 0};
            scan->nodes = {above, left};
        }
        return made;
    }

    // A written formula read by the grammar and moved to its cell; why says what stops it. A text that
    // several cells share (a shared formula's) is read once for the run of them (in last, the calling
    // thread's own) and copied.
    bool ParseWritten(const StoredFormula& written, Formula* formula, std::string* why, LastRead* last) const
    {
        if (written.overArea && !AreaFits(written.area)) {
            *why = "an array formula's area must lie on the sheet and hold at most 1,048,576 cells";
            return false;
        }
        const auto parse = [&](Formula* into, std::string* failure) {
            std::string error;
            size_t errorColumn = 0;
            if (ParseFormula(book_.TextOf(written), into, &error, &errorColumn)) return true;
            *failure = "column " + std::to_string(errorColumn) + ": " + error;
            return false;
        };
        if (textUses_[written.text] < 2) {
            if (!FromAbove(written, formula, last)) {
                if (!parse(formula, why)) return false;
                KeepAbove(written, *formula, last);
            }
        } else {
            if (last->text != written.text) last->ok = parse(&last->formula, &last->error), last->text = written.text;
            if (!last->ok) {
                *why = last->error;
                return false;
            }
            *formula = last->formula;
        }
        ShiftReferences(formula, written.shiftRows, written.shiftColumns);
        return true;
    }

    // The cell written's text was written for (a shared formula's follower reads its master's), and
    // the record of the formula last read in that column.
    static Above& AboveOf(const StoredFormula& written, uint32_t* row, uint16_t* column, LastRead* last)
    {
        *row = written.row - static_cast<uint32_t>(written.shiftRows);
        *column = static_cast<uint16_t>(written.column - written.shiftColumns);
        return last->above[*column % 8];
    }

    // The formula last read in written's column, moved to written's text, if that is what it is.
    bool FromAbove(const StoredFormula& written, Formula* formula, LastRead* last) const
    {
        uint32_t row = 0;
        uint16_t column = 0;
        const Above& above = AboveOf(written, &row, &column, last);
        return above.sheet == written.sheet && above.column == column &&
               ReadMovedFormula(book_.formulaTexts[above.text], above.formula, static_cast<int32_t>(row - above.row), 0, book_.TextOf(written),
                                formula);
    }

    static void KeepAbove(const StoredFormula& written, const Formula& formula, LastRead* last)
    {
        uint32_t row = 0;
        uint16_t column = 0;
        Above& above = AboveOf(written, &row, &column, last);
        above.sheet = written.sheet;
        above.row = row;
        above.column = column;
        above.text = written.text;
        above.formula = formula;  // into the room the last one had
    }

    // Whether the formulas, judged by the first few, are mostly the one above moved or a shared text:
    // made from another for a fraction of reading them, they would cost a second thread more to hand
    // over than it saved.
    bool MostlyCheapToRead() const
    {
        constexpr uint32_t Sample = 512;
        LastRead sample;
        Formula formula;
        uint32_t cheap = 0, count = std::min<uint32_t>(Sample, static_cast<uint32_t>(formulas_.size()));
        for (uint32_t k = 0; k < count; ++k) cheap += Scan(Written(k), &formula, &sample);
        return cheap * 10 >= count * 9;
    }

    // The book's record of formula k (reading order).
    const StoredFormula& Written(uint32_t k) const { return book_.formulas[out_->formulas[k].formula]; }

    // A recomputed formula read by the grammar, or why it cannot be; last is the calling thread's own.
    struct Parsed {
        Formula formula;
        bool read = false;
        std::string whyNot;
    };
    void Parse(uint32_t k, Parsed* parsed, LastRead* last) const
    {
        const StoredFormula& written = Written(k);
        parsed->read = false;
        parsed->whyNot.clear();
        if (written.dataTable) parsed->whyNot = "a data table, filled by the spreadsheet's what-if analysis";
        else parsed->read = ParseWritten(written, &parsed->formula, &parsed->whyNot, last);
    }

    void Own(SheetIndex* index, uint32_t row, uint32_t column, uint32_t formula)
    {
        if (column >= index->columns.size()) index->columns.resize(column + 1);
        index->columns[column].emplace_back(row, formula);
    }

    void IndexOutputs()
    {
        indexes_.resize(book_.sheets.size());
        for (size_t s = 0; s < indexes_.size(); ++s) indexes_[s].width = widths_[s];
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            FormulaCell& f = formulas_[k];
            if (!f.evaluable && !keep_) continue;
            const StoredFormula& written = Written(k);
            SheetIndex& index = indexes_[written.sheet];
            if (written.overArea && AreaFits(written.area)) {
                for (uint32_t r = written.area.rowFirst; r <= written.area.rowLast; ++r) {
                    for (uint32_t c = written.area.columnFirst; c <= written.area.columnLast; ++c) Own(&index, r, c, k);
                }
                continue;
            }
            Own(&index, written.row, written.column, k);
            f.runEnd = uint32_t{written.column} + 1;
            if (!options_.spillRight || !MayAnswerArray(parsed_[k])) continue;
            while (f.runEnd < index.width && !out_->store_.Has(written.sheet, written.row, static_cast<uint16_t>(f.runEnd))) {
                Own(&index, written.row, f.runEnd++, k);
            }
            if (f.runEnd == index.width) {
                index.tails.push_back({written.row, k});
                f.runEnd = MaxSheetColumns;
            }
        }
        for (SheetIndex& index : indexes_) {
            for (auto& column : index.columns) {
                if (!std::is_sorted(column.begin(), column.end())) std::sort(column.begin(), column.end());
            }
            std::sort(index.tails.begin(), index.tails.end(), [](const Tail& a, const Tail& b) { return a.row < b.row; });
        }
    }

    void Edge(uint32_t from, uint32_t to)
    {
        if (stamp_[from] == to + 1) return;
        stamp_[from] = to + 1;
        successors_[from].push_back(to);
        ++waiting_[to];
    }

    // Edges to formula to from every formula that fills a cell of area.
    void EdgesFrom(const Area& area, uint32_t to)
    {
        if (area.sheet >= indexes_.size()) return;
        const SheetIndex& index = indexes_[area.sheet];
        const uint32_t last = std::min<uint32_t>(area.columnLast, static_cast<uint32_t>(index.columns.size()) - 1);
        for (uint32_t c = area.columnFirst; !index.columns.empty() && c <= last; ++c) {
            const auto& column = index.columns[c];
            auto at = std::lower_bound(column.begin(), column.end(), std::make_pair(area.rowFirst, uint32_t{0}));
            for (; at != column.end() && at->first <= area.rowLast; ++at) Edge(at->second, to);
        }
        if (area.columnLast < index.width) return;
        auto at = std::lower_bound(index.tails.begin(), index.tails.end(), area.rowFirst, [](const Tail& t, uint32_t row) { return t.row < row; });
        for (; at != index.tails.end() && at->row <= area.rowLast; ++at) Edge(at->formula, to);
    }

    // The sheets a reference's sheet part names: its own, one by name, or First:Last and those between.
    bool SheetsOf(const Node& n, uint32_t sheet, uint32_t* first, uint32_t* last) const
    {
        *first = *last = sheet;
        if (n.name.empty()) return true;
        const size_t colon = n.name.find(':');
        if (colon == std::string::npos) return FindSheet(n.name, first) && FindSheet(n.name, last);
        return FindSheet(n.name.substr(0, colon), first) && FindSheet(n.name.substr(colon + 1), last) && *first <= *last;
    }

    // Edges into formula `to` from the formulas that fill what formula reads; a name's definition is
    // read for the formula's cell (its relative references stand where the formula is).
    void ReferencesOf(const Formula& formula, const StoredFormula& cell, int32_t depth, uint32_t to)
    {
        if (depth == 0) ++walks_;
        for (const Node& n : formula.nodes) {
            uint32_t first = 0, last = 0;
            if (n.type == NodeType::Reference && n.link == 0 && SheetsOf(n, cell.sheet, &first, &last)) {
                for (uint32_t s = first; s <= last; ++s) {
                    Area area = n.area;
                    area.sheet = s;
                    EdgesFrom(area, to);
                    if (book_.unreadable.count(s) != 0) formulas_[to].unreadSheet = s + 1;
                }
            } else if (n.type == NodeType::Table) {
                Area area;
                const WorkbookTable* t = TableFor(n.name, cell.sheet, cell.row, cell.column);
                if (t != nullptr && !TableArea(*t, n.detail, cell.row, &area)) {
                    area = t->area;
                    area.sheet = t->sheet;
                }
                if (t != nullptr) EdgesFrom(area, to);
                if (t != nullptr && book_.unreadable.count(t->sheet) != 0) formulas_[to].unreadSheet = t->sheet + 1;
                if (t == nullptr && book_.tableUnreadable) formulas_[to].unknownTable = true;
            } else if ((n.type == NodeType::Name || n.type == NodeType::Call) && depth < MaxNameDepth) {
                const NameEntry* entry = FindNameEntry(n.name, NameSheet(n, cell.sheet));
                if (entry == nullptr || entry->walk == walks_) continue;
                entry->walk = walks_;
                ReferencesOf(keep_ ? entry->scan : entry->formula, cell, depth + 1, to);
            }
        }
    }

    void Link()
    {
        stamp_.assign(formulas_.size(), 0);
        successors_.assign(formulas_.size(), {});
        waiting_.assign(formulas_.size(), 0);
        LastRead aheadScan;
        ahead_ = keep_ && formulas_.size() >= options_.aheadFrom && (options_.aheadFrom == 0 || !MostlyCheapToRead());
        Ahead<Formula> scans(
            formulas_.size(), [&](size_t k, Formula* into, bool worker) { Scan(Written(static_cast<uint32_t>(k)), into, worker ? &aheadScan : &lastScan_); },
            ahead_);
        Formula scan;
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            FormulaCell& f = formulas_[k];
            const StoredFormula& written = Written(k);
            if (!keep_) {
                if (f.evaluable) ReferencesOf(parsed_[k], written, 0, k);
                continue;
            }
            scans.Take(k, &scan);
            ReferencesOf(scan, written, 0, k);
            f.callsRegistered = Calls(scan, written.sheet, 0, [&](const std::string& name) { return !host_.TypeTextOf(name).empty(); });
            f.drawsRandom = f.callsRegistered && Calls(scan, written.sheet, 0, DrawsRandomNumbers);
        }
    }

    // The formulas that call a registered function, and every formula reading one, directly or not;
    // each now waits only on the recomputed formulas it reads.
    void ChooseRecomputed()
    {
        std::vector<uint32_t> next;
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            if (!formulas_[k].callsRegistered) continue;
            formulas_[k].recomputed = true;
            next.push_back(k);
        }
        while (!next.empty()) {
            const uint32_t k = next.back();
            next.pop_back();
            for (uint32_t s : successors_[k]) {
                if (formulas_[s].recomputed) continue;
                formulas_[s].recomputed = true;
                next.push_back(s);
            }
        }
        waiting_.assign(formulas_.size(), 0);
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            if (!formulas_[k].recomputed) continue;
            for (uint32_t s : successors_[k]) ++waiting_[s];
            const FormulaResult& at = out_->formulas[k];
            Set(at.sheet, at.row, at.column, Value::Uncalculated());
        }
    }

    // A recomputed formula that cannot be computed keeps its cached value, and so leaves every
    // formula reading it stale too.
    void LeaveStale(uint32_t k, std::string reason)
    {
        FormulaResult& result = out_->formulas[k];
        result.outcome = FormulaOutcome::Stale;
        out_->reasons_[k] = std::move(reason);
        Set(result.sheet, result.row, result.column, cached_->Get(result.sheet, result.row, result.column));
        for (uint32_t s : successors_[k]) formulas_[s].staleInput = true;
    }

    void Set(uint32_t sheet, uint32_t row, uint32_t column, Value v)
    {
        out_->store_.Set(sheet, row, static_cast<uint16_t>(column), std::move(v));
    }

    void Place(uint32_t k, const Value& answer)
    {
        const FormulaCell& f = formulas_[k];
        const StoredFormula& written = Written(k);
        const uint32_t sheet = written.sheet, row = written.row;
        const uint16_t column = written.column;
        if (answer.kind == Kind::Array) out_->arrays_[k] = answer;
        if (written.overArea) {
            for (uint32_t r = written.area.rowFirst; r <= written.area.rowLast; ++r) {
                for (uint32_t c = written.area.columnFirst; c <= written.area.columnLast; ++c) {
                    Set(sheet, r, c, ElementFor(answer, r - written.area.rowFirst, c - written.area.columnFirst));
                }
            }
            return;
        }
        if (answer.kind != Kind::Array) {
            Set(sheet, row, column, answer);
            return;
        }
        if (answer.elements.empty()) {
            Set(sheet, row, column, Value::Error(xlerrValue));
            return;
        }
        if (!options_.spillRight) {
            Set(sheet, row, column, answer.elements[0]);
            return;
        }
        // Only the first row shows, as in an array formula entered over one row.
        int32_t filled = 0;
        for (int32_t e = 0; e < answer.columns; ++e) {
            const uint32_t at = uint32_t{column} + static_cast<uint32_t>(e);
            if (at >= MaxSheetColumns || (e > 0 && at >= f.runEnd)) break;
            Set(sheet, row, at, answer.elements[static_cast<size_t>(e)]);
            ++filled;
        }
        if (filled < answer.columns) {
            notes_.emplace_back(k, prefix_ + Label(sheet, row, column) + ": answer is " + std::to_string(answer.columns) +
                                       " cells wide; only " + std::to_string(filled) + " are free to show it");
        }
    }

    // Formula k's answer, read through cells and names and called through host; nothing is placed.
    Value Answer(uint32_t k, const Formula& formula, SubstituteHost& host, const CellSource& cells, const FormulaNames& names,
                 FormulaMessages* messages) const
    {
        const StoredFormula& cell = Written(k);
        EvaluationContext context;
        context.host = &host;
        context.cells = &cells;
        context.names = &names;
        context.sheet = cell.sheet;
        context.spreadsheetRanges = keep_;
        context.arrayFormula = cell.overArea;
        context.row = cell.row;
        context.column = cell.column;
        return EvaluateFormula(context, formula, formula.Root(), messages);
    }

    // Formula k's answer placed, or, kept foreign formulas, it left stale for what refused it.
    void Settle(uint32_t k, const Value& answer, const FormulaMessages& messages)
    {
        const StoredFormula& cell = Written(k);
        if (keep_ && !messages.refusals.empty()) {
            std::string reason;
            for (const FormulaMessage& m : messages.refusals) reason += (reason.empty() ? "" : "; ") + ("column " + std::to_string(m.column) + ": " + m.text);
            LeaveStale(k, reason);
            return;
        }
        const std::string label = (messages.refusals.empty() && messages.notes.empty()) ? std::string() : prefix_ + Label(cell.sheet, cell.row, cell.column);
        for (const FormulaMessage& m : messages.refusals) {
            problems_.emplace_back(k, label + ": column " + std::to_string(m.column) + ": " + m.text + ": " + book_.TextOf(cell));
        }
        for (const FormulaMessage& m : messages.notes) notes_.emplace_back(k, label + ": column " + std::to_string(m.column) + ": " + m.text);
        out_->formulas[k].outcome = messages.refusals.empty() ? FormulaOutcome::Computed : FormulaOutcome::Refused;
        Place(k, answer);
    }

    void ComputeOne(uint32_t k, const Formula& formula)
    {
        FormulaMessages messages;
        const Value answer = Answer(k, formula, host_, *out_, *this, &messages);
        Settle(k, answer, messages);
    }

    // Why a recomputed formula, parsed, keeps its cached value; "" when it is to be computed.
    std::string WhyStale(uint32_t k, Parsed* parsed, const SubstituteHost& host) const
    {
        if (parsed->read) parsed->whyNot = UnregisteredCall(parsed->formula, host);
        if (!parsed->whyNot.empty()) return parsed->whyNot;
        const FormulaCell& f = formulas_[k];
        if (f.unreadSheet != 0) return "reads sheet " + book_.sheets[f.unreadSheet - 1] + ", which could not be read";
        if (f.unknownTable) return "names a table not found, which may be the one whose part could not be read";
        if (f.staleInput) return "reads a formula left stale";
        return "";
    }

    // A formula computed before its turn, by whichever worker: its answer, or why it is stale.
    struct Early {
        Value answer;
        std::string stale;
        std::unique_ptr<FormulaMessages> messages;  // only where there are any
    };

    // What a worker reads while several compute at once: cells as copies (the store's Get answers in
    // one place it reuses) and names through the evaluation, with a sheet lookup of its own.
    class SharedReading : public CellSource, public FormulaNames {
    public:
        SharedReading(const Recalculation& recalculation) : r_(recalculation) {}
        const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const override
        {
            cell_ = r_.out_->CopyAt(sheet, row, column);
            return cell_;
        }
        const XLOPER* Records(const Area& area, size_t* rowStride, bool* lasting) const override
        {
            return r_.out_->Records(area, rowStride, lasting);
        }
        bool RecordsInto(const Area& area, XLOPER* out, std::vector<std::vector<char>>* strings) const override
        {
            return r_.out_->RecordsInto(area, out, strings);
        }
        bool FindSheet(const std::string& name, uint32_t* sheet) const override { return r_.FindSheet(name, sheet, &lastSheet_); }
        const Formula* FindName(const std::string& name, uint32_t sheet) const override { return r_.FindName(name, sheet); }
        bool FindTable(const std::string& table, const std::string& detail, uint32_t sheet, uint32_t row, uint16_t column,
                       Area* area) const override
        {
            return r_.FindTable(table, detail, sheet, row, column, area);
        }
        bool LinkedValue(uint32_t link, const std::string& sheet, const Area& area, Value* value) const override
        {
            return r_.LinkedValue(link, sheet, area, value);
        }

    private:
        const Recalculation& r_;
        mutable Value cell_;
        mutable std::pair<std::string, uint32_t> lastSheet_{std::string(), UINT32_MAX};
    };

    // The formulas of ours that read none of ours and draw no random numbers, computed at once on this
    // thread with host_ and on one more per helper. Their answers depend on cells no formula of ours
    // fills, so on nothing computed before them: each is the answer the host alone would give at its
    // turn. Nothing is placed here, so that every worker reads the cells unchanged.
    // chosen[from, to) into early[0, to - from).
    void ComputeEarly(const std::vector<uint32_t>& chosen, size_t from, size_t to, const std::vector<SubstituteHost*>& helpers,
                      std::vector<Early>* early)
    {
        early->clear();
        early->resize(to - from);
        const size_t threads = helpers.size() + 1;
        // Small batches spread a small workbook over every worker; large ones cost one claim per 64.
        const size_t batch = std::max<size_t>(1, std::min<size_t>(64, (to - from) / (threads * 8)));
        std::atomic<size_t> next{from};
        const auto work = [&](SubstituteHost& host) {
            const SharedReading reading(*this);
            const ScopedCellSource source(host, reading);
            LastRead last;
            Parsed parsed;
            for (size_t first = next.fetch_add(batch); first < to; first = next.fetch_add(batch)) {
                for (size_t n = first; n < std::min(to, first + batch); ++n) {
                    const uint32_t k = chosen[n];
                    Early& e = (*early)[n - from];
                    Parse(k, &parsed, &last);
                    e.stale = WhyStale(k, &parsed, host);
                    if (!e.stale.empty()) continue;
                    FormulaMessages messages;
                    e.answer = Answer(k, parsed.formula, host, reading, reading, &messages);
                    if (!messages.refusals.empty() || !messages.notes.empty()) e.messages.reset(new FormulaMessages(std::move(messages)));
                }
            }
        };
        std::vector<std::thread> started;
        std::vector<std::exception_ptr> failures(helpers.size());
        for (size_t h = 0; h < helpers.size(); ++h) {
            try {
                started.emplace_back([&, h] {
                    try {
                        work(*helpers[h]);
                    } catch (...) {
                        failures[h] = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: those started, and this one, share the work
            }
        }
        std::exception_ptr failure;
        try {
            work(host_);
        } catch (...) {
            failure = std::current_exception();
        }
        for (std::thread& t : started) t.join();
        for (const std::exception_ptr& f : failures) {
            if (f && !failure) failure = f;
        }
        if (failure) std::rethrow_exception(failure);
    }

    // Kahn's order; among formulas ready at once the first in reading order goes first, so a sheet
    // whose formulas wait on none is computed row by row (and random answers come in that order).
    void Compute()
    {
        const ScopedCellSource reading(host_, *out_);
        // The formulas ready from the start, in reading order, and those made ready since; the next is
        // the first of either. Most are ready from the start: a heap of them all would cost more.
        std::vector<uint32_t> readyFirst;
        size_t nextFirst = 0;
        std::priority_queue<uint32_t, std::vector<uint32_t>, std::greater<uint32_t>> ready;
        size_t pending = 0;
        const auto counted = [this](uint32_t k) { return keep_ ? formulas_[k].recomputed : formulas_[k].evaluable; };
        // Kept, the recomputed formulas are parsed at their turn, or in reading order ahead of it on a
        // second thread where one is used.
        std::vector<uint32_t> order, rank(keep_ ? formulas_.size() : 0);
        // With workers free to help, the formulas that wait on none and draw no random numbers are
        // computed ahead, a window of them at a time on every worker free then, and each is settled at
        // its turn: only a window's answers are held. early[rank[k] - earlyFrom] is formula k's.
        std::vector<uint32_t> chosen;
        std::vector<Early> early;
        size_t earlyFrom = 0, earlyTo = 0;
        std::vector<uint8_t> computedEarly(keep_ && workers_ != nullptr ? formulas_.size() : 0);
        if (!computedEarly.empty()) {
            for (uint32_t k = 0; k < formulas_.size(); ++k) {
                if (formulas_[k].recomputed && waiting_[k] == 0 && !formulas_[k].drawsRandom) chosen.push_back(k);
            }
        }
        if (chosen.size() < std::max<size_t>(options_.parallelFrom, 1) || workers_->Count() < 2) chosen.clear();
        for (size_t n = 0; n < chosen.size(); ++n) computedEarly[chosen[n]] = 1, rank[chosen[n]] = static_cast<uint32_t>(n);
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            if (!counted(k)) continue;
            ++pending;
            if (waiting_[k] == 0) readyFirst.push_back(k);
            if (keep_ && (computedEarly.empty() || !computedEarly[k])) rank[k] = static_cast<uint32_t>(order.size()), order.push_back(k);
        }
        LastRead aheadParse;
        Parsed parsed;
        Ahead<Parsed> parses(
            order.size(), [&](size_t n, Parsed* into, bool worker) { Parse(order[n], into, worker ? &aheadParse : &lastParse_); },
            ahead_ && order.size() >= options_.aheadFrom);
        while (nextFirst < readyFirst.size() || !ready.empty()) {
            uint32_t k = 0;
            if (ready.empty() || (nextFirst < readyFirst.size() && readyFirst[nextFirst] < ready.top())) {
                k = readyFirst[nextFirst++];
            } else {
                k = ready.top();
                ready.pop();
            }
            if (!keep_) {
                ComputeOne(k, parsed_[k]);
            } else if (!computedEarly.empty() && computedEarly[k]) {
                if (rank[k] < earlyFrom || rank[k] >= earlyTo) {
                    earlyFrom = rank[k];
                    earlyTo = std::min(chosen.size(), earlyFrom + std::max<size_t>(options_.earlyWindow, 1));
                    // Taken for the window alone, so that other workbooks' evaluations may have them
                    // between windows; with none free, this host computes the window alone.
                    const HostLease helpers = workers_->TakeFree(workers_->Count() - 1);
                    ComputeEarly(chosen, earlyFrom, earlyTo, helpers.hosts, &early);
                }
                Early& e = early[rank[k] - earlyFrom];
                if (!e.stale.empty()) LeaveStale(k, std::move(e.stale));
                else Settle(k, e.answer, e.messages ? *e.messages : FormulaMessages{});
                e = Early{};
            } else {
                // Parsed shortly before its turn and dropped after, so that few formulas' trees are held.
                parses.Take(rank[k], &parsed);
                const std::string stale = WhyStale(k, &parsed, host_);
                if (!stale.empty()) LeaveStale(k, stale);
                else ComputeOne(k, parsed.formula);
            }
            --pending;
            for (uint32_t next : successors_[k]) {
                if (--waiting_[next] == 0) ready.push(next);
            }
        }
        if (pending == 0) return;
        if (keep_) {
            for (uint32_t k = 0; k < formulas_.size(); ++k) {
                if (counted(k) && waiting_[k] > 0) LeaveStale(k, "waits on itself (a circular reference), or on formulas that do");
            }
            return;
        }
        std::string names;
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            const FormulaResult& f = out_->formulas[k];
            if (!formulas_[k].evaluable || waiting_[k] == 0) continue;
            names += (names.empty() ? "" : ", ") + Label(f.sheet, f.row, f.column);
            out_->formulas[k].outcome = FormulaOutcome::Circular;
        }
        out_->problems.push_back(prefix_ + "circular reference: " + names + " wait on each other, or on cells that do");
    }

    SubstituteHost& host_;
    const Workbook& book_;
    const EvaluationOptions& options_;
    WorkbookEvaluation* out_;
    Workers* workers_;  // hosts that may help, or nullptr
    const bool keep_ = options_.keepForeignFormulas;
    std::string prefix_;
    std::map<std::string, uint32_t> sheetIndex_;
    mutable std::pair<std::string, uint32_t> lastSheet_{std::string(), UINT32_MAX};  // FindSheet's last name and answer
    std::map<std::pair<int64_t, std::string>, NameEntry> names_;
    mutable uint64_t walks_ = 0;  // walks through names so far (NameEntry::walk)
    std::vector<uint32_t> widths_;
    std::vector<std::string> namesProblems_;
    std::vector<FormulaCell> formulas_;  // in reading order, as out_->formulas
    std::vector<Formula> parsed_;        // every formula computed (each parsed when it is placed), as formulas_
    std::vector<Message> problems_, notes_;
    CellStore sealedCopy_;
    std::vector<uint8_t> textUses_;  // per formula text: the cells that have it, counted to 2
    bool ahead_ = false;             // formulas are scanned and parsed on a second thread too
    LastRead lastScan_, lastParse_;  // this thread's
    const CellStore* cached_ = nullptr;
    std::vector<SheetIndex> indexes_;
    std::vector<uint32_t> stamp_;        // per formula: 1 + the formula whose edges were last added from it
    std::vector<std::vector<uint32_t>> successors_;
    std::vector<uint32_t> waiting_;      // per formula: formulas it still waits on
};

bool EvaluateWorkbook(SubstituteHost& host, const Workbook& book, const EvaluationOptions& options, WorkbookEvaluation* evaluation,
                      Workers* workers)
{
    Recalculation(host, book, options, evaluation, workers).Run();
    return evaluation->Succeeded();
}

bool OnFreshThread(const std::function<bool()>& evaluate)
{
    bool answer = false;
    // An exception leaving a thread's function ends the process: it is carried back to the caller, whose
    // command reports it (out of memory, say) for the file it was reading.
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            answer = evaluate();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return answer;
}

namespace {

Value InputValue(const std::string& field)
{
    double number = 0.0;
    if (ReadSpacedNumber(field, &number)) return Value::Number(number);
    bool boolean = false;
    if (ReadBoolean(field, &boolean)) return Value::Boolean(boolean);
    return Value::Text(field);
}

std::string SheetNameOf(const std::string& fileName)
{
    const size_t slash = fileName.find_last_of("/\\");
    std::string stem = (slash == std::string::npos) ? fileName : fileName.substr(slash + 1);
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) stem = stem.substr(0, dot);
    return stem.empty() ? std::string("Sheet1") : stem;
}

}  // namespace

Workbook CsvWorkbook(const CsvRows& cells, const std::string& fileName)
{
    Workbook book;
    book.AddSheet(SheetNameOf(fileName));
    for (size_t r = 0; r < cells.size(); ++r) {
        for (size_t c = 0; c < cells[r].size(); ++c) {
            const std::string& field = cells[r][c];
            const uint32_t row = static_cast<uint32_t>(r);
            const uint16_t column = static_cast<uint16_t>(c);
            if (field.empty()) continue;
            if (field[0] != '=') {
                book.SetValue(0, row, column, InputValue(field));
                continue;
            }
            WorkbookFormula formula;
            formula.text = field;
            book.SetFormula(0, row, column, std::move(formula));
        }
    }
    return book;
}

bool EvaluateSheet(SubstituteHost& host, const CsvRows& cells, const std::string& fileName, EvaluatedSheet* sheet)
{
    *sheet = EvaluatedSheet{};
    const std::string prefix = fileName.empty() ? std::string() : fileName + ": ";
    size_t width = 0;
    for (const std::vector<std::string>& line : cells) width = std::max(width, line.size());
    if (cells.size() > MaxSheetRows || width > MaxSheetColumns) {
        sheet->problems.push_back(prefix + "larger than a sheet (1048576 rows, 16384 columns)");
        return false;
    }
    EvaluationOptions options;
    options.fileName = fileName;
    options.spillRight = true;
    WorkbookEvaluation evaluation;
    EvaluateWorkbook(host, CsvWorkbook(cells, fileName), options, &evaluation);
    ShowSheet(evaluation, 0, sheet);
    sheet->problems = std::move(evaluation.problems);
    sheet->notes = std::move(evaluation.notes);
    return sheet->problems.empty();
}

void ShowSheet(const WorkbookEvaluation& evaluation, uint32_t sheet, EvaluatedSheet* shown)
{
    shown->rows = evaluation.RowsOf(sheet);
    shown->columns = evaluation.ColumnsOf(sheet);
    shown->shown.assign(shown->rows, std::vector<std::string>(shown->columns));
    for (uint32_t r = 0; r < shown->rows; ++r) {
        for (uint16_t c = 0; c < shown->columns; ++c) shown->shown[r][c] = Shown(evaluation.CellAt(sheet, r, c));
    }
}

std::string SheetCsv(const EvaluatedSheet& sheet)
{
    std::string text;
    for (const std::vector<std::string>& line : sheet.shown) {
        for (size_t c = 0; c < line.size(); ++c) text += (c > 0 ? "," : "") + CsvField(line[c]);
        text += "\n";
    }
    return text;
}

std::string SheetTable(const EvaluatedSheet& sheet)
{
    if (sheet.rows == 0) return "";
    const std::string rowHeader = std::to_string(sheet.rows);
    std::vector<size_t> widths(sheet.columns);
    for (uint16_t c = 0; c < sheet.columns; ++c) {
        widths[c] = CellName(0, c).size() - 1;
        for (const std::vector<std::string>& line : sheet.shown) widths[c] = std::max(widths[c], line[c].size());
    }
    auto pad = [](const std::string& s, size_t width) { return s + std::string(width - std::min(width, s.size()), ' '); };
    std::string text = std::string(rowHeader.size(), ' ');
    for (uint16_t c = 0; c < sheet.columns; ++c) {
        const std::string name = CellName(0, c);
        text += "  " + pad(name.substr(0, name.size() - 1), widths[c]);
    }
    text = text.substr(0, text.find_last_not_of(' ') + 1) + "\n";
    for (uint32_t r = 0; r < sheet.rows; ++r) {
        std::string line = std::string(rowHeader.size() - std::to_string(r + 1).size(), ' ') + std::to_string(r + 1);
        for (uint16_t c = 0; c < sheet.columns; ++c) line += "  " + pad(sheet.shown[r][c], widths[c]);
        text += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return text;
}

std::vector<std::string> CompareSheet(const EvaluatedSheet& sheet, const CsvRows& expected)
{
    std::vector<std::string> differences;
    const size_t rows = std::max<size_t>(sheet.rows, expected.size());
    for (size_t r = 0; r < rows; ++r) {
        const size_t expectedColumns = (r < expected.size()) ? expected[r].size() : 0;
        const size_t columns = std::max<size_t>(sheet.columns, expectedColumns);
        for (size_t c = 0; c < columns; ++c) {
            const std::string got = (r < sheet.rows && c < sheet.columns) ? sheet.shown[r][c] : std::string();
            const std::string want = (c < expectedColumns) ? expected[r][c] : std::string();
            if (got == want) continue;
            differences.push_back(CellName(static_cast<uint32_t>(r), static_cast<uint16_t>(c)) + ": gives \"" + got +
                                  "\", expected \"" + want + "\"");
        }
    }
    return differences;
}

}  // namespace quorin_host
