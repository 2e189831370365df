// workbook.cpp - workbooks recalculated in dependency order (a per-column index of the cells each
// formula fills, then Kahn's order), CSV sheets as one-sheet workbooks, and their display.
#include "engine/workbook.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <tuple>
#include <map>
#include <queue>
#include <thread>

#include "engine/evaluate.h"
#include "host/number.h"

namespace quorin_host {

namespace {

uint64_t Key(uint32_t row, uint32_t column) { return (uint64_t{row} << 14) | column; }
uint32_t RowOf(uint64_t key) { return static_cast<uint32_t>(key >> 14); }
uint16_t ColumnOf(uint64_t key) { return static_cast<uint16_t>(key & (MaxSheetColumns - 1)); }

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
    case NodeType::Literal: return root.literal.kind == Kind::Array;
    default: return false;
    }
}

bool AreaFits(const Area& a)
{
    const uint64_t cells = (uint64_t{a.rowLast} - a.rowFirst + 1) * (uint64_t{a.columnLast} - a.columnFirst + 1);
    return a.rowFirst <= a.rowLast && a.columnFirst <= a.columnLast && a.rowLast < MaxSheetRows && a.columnLast < MaxSheetColumns &&
           cells <= (uint64_t{1} << 20);
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

}  // namespace

uint32_t Workbook::AddSheet(const std::string& name)
{
    sheets.push_back(name);
    return static_cast<uint32_t>(sheets.size() - 1);
}

void Workbook::SetValue(uint32_t sheet, uint32_t row, uint16_t column, Value value)
{
    WorkbookCell cell;
    cell.sheet = sheet;
    cell.row = row;
    cell.column = column;
    cell.value = std::move(value);
    cells.push_back(std::move(cell));
}

void Workbook::SetFormula(uint32_t sheet, uint32_t row, uint16_t column, WorkbookFormula formula)
{
    WorkbookCell cell;
    cell.sheet = sheet;
    cell.row = row;
    cell.column = column;
    cell.isFormula = true;
    cell.formula = std::move(formula);
    cells.push_back(std::move(cell));
}

const Value& WorkbookEvaluation::CellAt(uint32_t sheet, uint32_t row, uint16_t column) const
{
    if (sheet >= cells_.size()) return empty_;
    const auto found = cells_[sheet].find(Key(row, column));
    return (found == cells_[sheet].end()) ? empty_ : found->second;
}

uint32_t WorkbookEvaluation::RowsOf(uint32_t sheet) const
{
    uint32_t rows = 0;
    if (sheet < cells_.size()) {
        for (const auto& entry : cells_[sheet]) rows = std::max(rows, RowOf(entry.first) + 1);
    }
    return rows;
}

uint16_t WorkbookEvaluation::ColumnsOf(uint32_t sheet) const
{
    uint32_t columns = 0;
    if (sheet < cells_.size()) {
        for (const auto& entry : cells_[sheet]) columns = std::max<uint32_t>(columns, uint32_t{ColumnOf(entry.first)} + 1);
    }
    return static_cast<uint16_t>(std::min<uint32_t>(columns, 65535));
}

// One evaluation of a workbook: the cells as they stand, the index of which formula fills which cell,
// and the order of computation. It is the sheet and name lookup its formulas evaluate against.
class Recalculation : public FormulaNames {
public:
    Recalculation(SubstituteHost& host, const Workbook& book, const EvaluationOptions& options, WorkbookEvaluation* out)
        : host_(host), book_(book), options_(options), out_(out) {}

    bool FindSheet(const std::string& name, uint32_t* sheet) const override
    {
        const auto found = sheetIndex_.find(Upper(name));
        if (found == sheetIndex_.end()) return false;
        *sheet = found->second;
        return true;
    }

    const Formula* FindName(const std::string& name, uint32_t sheet) const override
    {
        auto found = names_.find({static_cast<int64_t>(sheet), Upper(name)});
        if (found == names_.end()) found = names_.find({-1, Upper(name)});
        return (found == names_.end()) ? nullptr : &found->second;
    }

    void Run()
    {
        *out_ = WorkbookEvaluation{};
        out_->cells_.resize(book_.sheets.size());
        prefix_ = options_.fileName.empty() ? std::string() : options_.fileName + ": ";
        for (size_t s = 0; s < book_.sheets.size(); ++s) sheetIndex_[Upper(book_.sheets[s])] = static_cast<uint32_t>(s);
        ReadNames();
        PlaceInput();
        IndexOutputs();
        Link();
        Compute();
        std::vector<std::string> circular = std::move(out_->problems);
        out_->problems.clear();
        for (FormulaCell& f : formulas_) {
            for (std::string& p : f.problems) out_->problems.push_back(std::move(p));
            for (std::string& n : f.notes) out_->notes.push_back(std::move(n));
        }
        out_->problems.insert(out_->problems.begin(), namesProblems_.begin(), namesProblems_.end());
        out_->problems.insert(out_->problems.end(), circular.begin(), circular.end());
    }

private:
    struct FormulaCell {
        size_t cell = 0;
        uint32_t sheet = 0, row = 0;
        uint16_t column = 0;
        Formula formula;
        bool evaluable = false;
        uint32_t runEnd = 0;  // spilling: the columns before this one to the right of the cell are its own
        std::vector<std::string> problems, notes;  // reported in reading order once all is computed
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

    void ReadNames()
    {
        for (const DefinedName& n : book_.names) {
            Formula f;
            std::string error;
            size_t column = 0;
            if (!ParseFormula(n.text, &f, &error, &column)) {
                namesProblems_.push_back(prefix_ + "name " + n.name + ": column " + std::to_string(column) + ": " + error + ": " + n.text);
                continue;
            }
            names_[{n.sheet, Upper(n.name)}] = std::move(f);
        }
    }

    bool CallsOnlyRegistered(const Formula& f) const
    {
        return std::all_of(f.nodes.begin(), f.nodes.end(), [this](const Node& n) { return n.type != NodeType::Call || !host_.TypeTextOf(n.name).empty(); });
    }

    void PlaceInput()
    {
        std::vector<size_t> order;
        for (size_t k = 0; k < book_.cells.size(); ++k) {
            const WorkbookCell& c = book_.cells[k];
            widths_.resize(book_.sheets.size());
            widths_[c.sheet] = std::max<uint32_t>(widths_[c.sheet], uint32_t{c.column} + 1);
            if (!c.isFormula) {
                out_->cells_[c.sheet][Key(c.row, c.column)] = c.value;
                continue;
            }
            order.push_back(k);
        }
        widths_.resize(book_.sheets.size());
        std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
            const WorkbookCell &x = book_.cells[a], &y = book_.cells[b];
            return std::tie(x.sheet, x.row, x.column) < std::tie(y.sheet, y.row, y.column);
        });
        for (size_t k : order) {
            const WorkbookCell& c = book_.cells[k];
            FormulaCell f;
            f.cell = k;
            f.sheet = c.sheet;
            f.row = c.row;
            f.column = c.column;
            FormulaResult result;
            result.cell = k;
            result.sheet = c.sheet;
            result.row = c.row;
            result.column = c.column;
            std::string error;
            size_t errorColumn = 0;
            if (c.formula.overArea && !AreaFits(c.formula.area)) {
                f.problems.push_back(prefix_ + Label(c.sheet, c.row, c.column) + ": an array formula's area must lie on the sheet " +
                                         "and hold at most 1,048,576 cells: " + c.formula.text);
                result.outcome = FormulaOutcome::Refused;
                result.value = Value::Error(xlerrRef);
            } else if (!ParseFormula(c.formula.text, &f.formula, &error, &errorColumn)) {
                f.problems.push_back(prefix_ + Label(c.sheet, c.row, c.column) + ": column " + std::to_string(errorColumn) + ": " + error +
                                         ": " + c.formula.text);
                result.outcome = FormulaOutcome::Refused;
                result.value = Value::Error(xlerrName);
            } else if (options_.keepForeignFormulas && !CallsOnlyRegistered(f.formula)) {
                result.outcome = FormulaOutcome::KeptCached;
                result.value = c.formula.hasCached ? c.formula.cached : Value{};
                ++out_->keptCached;
            } else {
                ShiftReferences(&f.formula, c.formula.shiftRows, c.formula.shiftColumns);
                f.evaluable = true;
                result.value = Value::Uncalculated();
            }
            out_->cells_[c.sheet][Key(c.row, c.column)] = result.value;
            out_->formulas.push_back(std::move(result));
            formulas_.push_back(std::move(f));
        }
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
            if (!f.evaluable) continue;
            SheetIndex& index = indexes_[f.sheet];
            const WorkbookFormula& written = book_.cells[f.cell].formula;
            if (written.overArea) {
                for (uint32_t r = written.area.rowFirst; r <= written.area.rowLast; ++r) {
                    for (uint32_t c = written.area.columnFirst; c <= written.area.columnLast; ++c) Own(&index, r, c, k);
                }
                continue;
            }
            Own(&index, f.row, f.column, k);
            f.runEnd = uint32_t{f.column} + 1;
            if (!options_.spillRight || !MayAnswerArray(f.formula)) continue;
            const auto& input = out_->cells_[f.sheet];
            while (f.runEnd < index.width && input.count(Key(f.row, f.runEnd)) == 0) Own(&index, f.row, f.runEnd++, k);
            if (f.runEnd == index.width) {
                index.tails.push_back({f.row, k});
                f.runEnd = MaxSheetColumns;
            }
        }
        for (SheetIndex& index : indexes_) {
            for (auto& column : index.columns) std::sort(column.begin(), column.end());
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

    void ReferencesOf(const Formula& formula, uint32_t sheet, bool namesAllowed, uint32_t to)
    {
        for (const Node& n : formula.nodes) {
            if (n.type == NodeType::Reference) {
                Area area = n.area;
                area.sheet = sheet;
                if (!n.name.empty() && !FindSheet(n.name, &area.sheet)) continue;
                EdgesFrom(area, to);
            } else if (n.type == NodeType::Name && namesAllowed) {
                if (const Formula* definition = FindName(n.name, sheet)) ReferencesOf(*definition, sheet, false, to);
            }
        }
    }

    void Link()
    {
        stamp_.assign(formulas_.size(), 0);
        successors_.assign(formulas_.size(), {});
        waiting_.assign(formulas_.size(), 0);
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            if (formulas_[k].evaluable) ReferencesOf(formulas_[k].formula, formulas_[k].sheet, true, k);
        }
    }

    void Set(uint32_t sheet, uint32_t row, uint32_t column, Value v)
    {
        out_->cells_[sheet][Key(row, column)] = std::move(v);
    }

    void Place(FormulaCell& f, const Value& answer)
    {
        const WorkbookFormula& written = book_.cells[f.cell].formula;
        const std::string label = Label(f.sheet, f.row, f.column);
        if (written.overArea) {
            for (uint32_t r = written.area.rowFirst; r <= written.area.rowLast; ++r) {
                for (uint32_t c = written.area.columnFirst; c <= written.area.columnLast; ++c) {
                    Set(f.sheet, r, c, ElementFor(answer, r - written.area.rowFirst, c - written.area.columnFirst));
                }
            }
            return;
        }
        if (answer.kind != Kind::Array) {
            Set(f.sheet, f.row, f.column, answer);
            return;
        }
        if (answer.elements.empty()) {
            Set(f.sheet, f.row, f.column, Value::Error(xlerrValue));
            return;
        }
        if (!options_.spillRight) {
            Set(f.sheet, f.row, f.column, answer.elements[0]);
            return;
        }
        // Only the first row shows, as in an array formula entered over one row.
        int32_t filled = 0;
        for (int32_t k = 0; k < answer.columns; ++k) {
            const uint32_t column = uint32_t{f.column} + static_cast<uint32_t>(k);
            if (column >= MaxSheetColumns || (k > 0 && column >= f.runEnd)) break;
            Set(f.sheet, f.row, column, answer.elements[static_cast<size_t>(k)]);
            ++filled;
        }
        if (filled < answer.columns) {
            f.notes.push_back(prefix_ + label + ": answer is " + std::to_string(answer.columns) + " cells wide; only " +
                                  std::to_string(filled) + " are free to show it");
        }
    }

    void ComputeOne(uint32_t k)
    {
        FormulaCell& f = formulas_[k];
        const WorkbookCell& cell = book_.cells[f.cell];
        EvaluationContext context;
        context.host = &host_;
        context.cells = out_;
        context.names = this;
        context.sheet = f.sheet;
        FormulaMessages messages;
        Value answer = EvaluateFormula(context, f.formula, f.formula.Root(), &messages);
        const std::string label = prefix_ + Label(f.sheet, f.row, f.column);
        for (const FormulaMessage& m : messages.refusals) {
            f.problems.push_back(label + ": column " + std::to_string(m.column) + ": " + m.text + ": " + cell.formula.text);
        }
        for (const FormulaMessage& m : messages.notes) f.notes.push_back(label + ": column " + std::to_string(m.column) + ": " + m.text);
        FormulaResult& result = out_->formulas[k];
        result.outcome = messages.refusals.empty() ? FormulaOutcome::Computed : FormulaOutcome::Refused;
        Place(f, answer);
        result.value = std::move(answer);
    }

    // Kahn's order; among formulas ready at once the first in reading order goes first, so a sheet
    // whose formulas wait on none is computed row by row (and random answers come in that order).
    void Compute()
    {
        const ScopedCellSource reading(host_, *out_);
        std::priority_queue<uint32_t, std::vector<uint32_t>, std::greater<uint32_t>> ready;
        size_t pending = 0;
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            if (!formulas_[k].evaluable) continue;
            ++pending;
            if (waiting_[k] == 0) ready.push(k);
        }
        while (!ready.empty()) {
            const uint32_t k = ready.top();
            ready.pop();
            ComputeOne(k);
            --pending;
            for (uint32_t next : successors_[k]) {
                if (--waiting_[next] == 0) ready.push(next);
            }
        }
        if (pending == 0) return;
        std::string names;
        for (uint32_t k = 0; k < formulas_.size(); ++k) {
            const FormulaCell& f = formulas_[k];
            if (!f.evaluable || waiting_[k] == 0) continue;
            names += (names.empty() ? "" : ", ") + Label(f.sheet, f.row, f.column);
            out_->formulas[k].outcome = FormulaOutcome::Circular;
        }
        out_->problems.push_back(prefix_ + "circular reference: " + names + " wait on each other, or on cells that do");
    }

    SubstituteHost& host_;
    const Workbook& book_;
    const EvaluationOptions& options_;
    WorkbookEvaluation* out_;
    std::string prefix_;
    std::map<std::string, uint32_t> sheetIndex_;
    std::map<std::pair<int64_t, std::string>, Formula> names_;
    std::vector<uint32_t> widths_;
    std::vector<std::string> namesProblems_;
    std::vector<FormulaCell> formulas_;  // in reading order, as out_->formulas
    std::vector<SheetIndex> indexes_;
    std::vector<uint32_t> stamp_;        // per formula: 1 + the formula whose edges were last added from it
    std::vector<std::vector<uint32_t>> successors_;
    std::vector<uint32_t> waiting_;      // per formula: formulas it still waits on
};

bool EvaluateWorkbook(SubstituteHost& host, const Workbook& book, const EvaluationOptions& options, WorkbookEvaluation* evaluation)
{
    Recalculation(host, book, options, evaluation).Run();
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
    sheet->rows = evaluation.RowsOf(0);
    sheet->columns = evaluation.ColumnsOf(0);
    sheet->shown.assign(sheet->rows, std::vector<std::string>(sheet->columns));
    for (uint32_t r = 0; r < sheet->rows; ++r) {
        for (uint16_t c = 0; c < sheet->columns; ++c) sheet->shown[r][c] = Shown(evaluation.CellAt(0, r, c));
    }
    sheet->problems = std::move(evaluation.problems);
    sheet->notes = std::move(evaluation.notes);
    return sheet->problems.empty();
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
