// workbook.cpp - CSV sheets recalculated in passes through the host, retrying what it answered uncalculated.
#include "host/workbook.h"

#include <algorithm>
#include <cstdlib>

#include "host/xlcall32.h"

namespace quorin_host {

namespace {

// The sheet's size, as the host's references allow.
constexpr size_t MaxSheetRows = 1048576;
constexpr size_t MaxSheetColumns = 16384;
constexpr int32_t NoOwner = -1;

// The module meets the host only through the callback library, so the only place to see the host
// answer "uncalculated" is there: while a sheet is recalculated the callbacks pass through this
// counter on their way to the one host.
int32_t UncalculatedAnswers = 0;

int ForwardCountingUncalculated(int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    const int answer = SubstituteHost::Instance().Handle(xlfn, operRes, count, opers);
    if (xlfn == xlCoerce && answer == xlretUncalced) ++UncalculatedAnswers;
    return answer;
}

int Forward(int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    return SubstituteHost::Instance().Handle(xlfn, operRes, count, opers);
}

struct FormulaCell {
    uint32_t row = 0;
    uint16_t column = 0;
    Expression expression;
    bool pending = true;
};

// Where each formula's answer may spill: the run of empty input cells to its right. Until the
// formula is computed those cells read as uncalculated, since nobody knows yet what they hold.
struct SpillMap {
    std::vector<std::vector<int32_t>> owner;  // per row and input column: the formula, or NoOwner
    std::vector<int32_t> tail;                // per row: the formula whose run reaches past the input
};

bool IsEmptyInput(const CsvRows& cells, size_t row, size_t column)
{
    return row >= cells.size() || column >= cells[row].size() || cells[row][column].empty();
}

// A number as a sheet takes one typed in: decimal digits, sign, point and exponent only, so that
// "inf", "nan" and hexadecimal text stay text.
bool ReadNumber(const std::string& field, double* number)
{
    const size_t first = field.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    const std::string trimmed = field.substr(first, field.find_last_not_of(' ') - first + 1);
    return ParseNumber(trimmed, number) == NumberRead::Ok;
}

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

Value InputValue(const std::string& field)
{
    double number = 0.0;
    if (field.empty()) return Value{};
    if (ReadNumber(field, &number)) return Value::Number(number);
    if (Upper(field) == "TRUE" || Upper(field) == "FALSE") return Value::Boolean(Upper(field) == "TRUE");
    return Value::Text(field);
}

// A reference handed to a B or J argument is read by the host itself before the call, and the host
// would answer #VALUE! for a cell it has not computed; so such a call waits until the cell is done.
bool NumberArgumentsReady(const SubstituteHost& host, const Expression& e)
{
    const CellSource& cells = host.Cells();
    if (e.type != Expression::Type::Call) return true;
    const std::string typeText = host.TypeTextOf(e.name);
    for (size_t i = 0; i < e.arguments.size(); ++i) {
        const Expression& a = e.arguments[i];
        const bool byValue = i + 1 < typeText.size() && typeText[i + 1] != 'R';
        if (byValue && a.type == Expression::Type::Reference &&
            cells.CellAt(a.area.sheet, a.area.rowFirst, a.area.columnFirst).kind == Kind::Uncalculated) return false;
        if (!NumberArgumentsReady(host, a)) return false;
    }
    return true;
}

// A formula that is only a reference shows what the cells hold; an empty cell shows as 0.
Value ReadReferenced(const CellSource& cells, const Area& area)
{
    const uint32_t rows = area.rowLast - area.rowFirst + 1;
    const uint32_t columns = uint32_t{area.columnLast} - area.columnFirst + 1;
    std::vector<Value> elements;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < columns; ++c) {
            Value v = cells.CellAt(area.sheet, area.rowFirst + r, static_cast<uint16_t>(area.columnFirst + c));
            if (v.kind == Kind::Empty) v = Value::Number(0.0);
            elements.push_back(std::move(v));
        }
    }
    if (elements.size() == 1) return elements[0];
    return Value::Array(static_cast<int32_t>(rows), static_cast<int32_t>(columns), std::move(elements));
}

bool HoldsUncalculated(const Value& v)
{
    if (v.kind == Kind::Uncalculated) return true;
    return std::any_of(v.elements.begin(), v.elements.end(), HoldsUncalculated);
}

void Widen(EvaluatedSheet* sheet, size_t row, size_t column)
{
    if (row >= sheet->shown.size()) sheet->shown.resize(row + 1);
    std::vector<std::string>& line = sheet->shown[row];
    if (column >= line.size()) line.resize(column + 1);
}

// The host's cells, with the empty cells a pending formula's answer may spill into read as
// uncalculated, since nobody knows yet what they hold.
class PendingSpills : public CellSource {
public:
    PendingSpills(const Sheet& sheet, const CsvRows& cells, const SpillMap& spills, const std::vector<FormulaCell>& formulas)
        : sheet_(sheet), cells_(cells), spills_(spills), formulas_(formulas) {}
    const Value& CellAt(uint32_t sheet, uint32_t row, uint16_t column) const override
    {
        const Value& v = sheet_.CellAt(sheet, row, column);
        if (v.kind != Kind::Empty || sheet != 0 || row >= cells_.size()) return v;
        const int32_t owner = (column < spills_.owner[row].size()) ? spills_.owner[row][column] : spills_.tail[row];
        return (owner != NoOwner && formulas_[static_cast<size_t>(owner)].pending) ? uncalculated_ : v;
    }

private:
    const Sheet& sheet_;
    const CsvRows& cells_;
    const SpillMap& spills_;
    const std::vector<FormulaCell>& formulas_;
    const Value uncalculated_ = Value::Uncalculated();
};

std::string Shown(const Value& v)
{
    return (v.kind == Kind::Uncalculated) ? std::string(CircularText) : FormatValue(v);
}

}  // namespace

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

    host.sheet = Sheet{};
    std::vector<FormulaCell> formulas;
    SpillMap spills;
    spills.owner.resize(cells.size());
    spills.tail.assign(cells.size(), NoOwner);
    for (size_t r = 0; r < cells.size(); ++r) {
        spills.owner[r].assign(cells[r].size(), NoOwner);
        int32_t runOwner = NoOwner;
        for (size_t c = 0; c < cells[r].size(); ++c) {
            const std::string& field = cells[r][c];
            const uint32_t row = static_cast<uint32_t>(r);
            const uint16_t column = static_cast<uint16_t>(c);
            if (field.empty()) {
                spills.owner[r][c] = runOwner;
                continue;
            }
            runOwner = NoOwner;
            Widen(sheet, r, c);
            if (field[0] != '=') {
                const Value v = InputValue(field);
                host.sheet.Set(row, column, v);
                sheet->shown[r][c] = (v.kind == Kind::Text) ? v.text : FormatValue(v);
                continue;
            }
            FormulaCell formula;
            formula.row = row;
            formula.column = column;
            std::string error;
            size_t errorColumn = 0;
            if (!ParseFormula(field, &formula.expression, &error, &errorColumn)) {
                sheet->problems.push_back(prefix + CellName(row, column) + ": column " + std::to_string(errorColumn) +
                                          ": " + error + ": " + field);
                continue;
            }
            host.sheet.Set(row, column, Value::Uncalculated());
            runOwner = static_cast<int32_t>(formulas.size());
            formulas.push_back(std::move(formula));
        }
        spills.tail[r] = runOwner;
    }
    if (!sheet->problems.empty()) return false;

    const PendingSpills pending(host.sheet, cells, spills, formulas);
    const ScopedCellSource reading(host, pending);
    InstallExcelHandler(&ForwardCountingUncalculated);

    size_t remaining = formulas.size();
    bool progress = true;
    while (remaining > 0 && progress) {
        progress = false;
        for (FormulaCell& f : formulas) {
            if (!f.pending || !NumberArgumentsReady(host, f.expression)) continue;
            const int32_t uncalculatedBefore = UncalculatedAnswers;
            std::string error;
            Value answer = Evaluate(host, f.expression, &error);
            if (answer.kind == Kind::Reference && answer.areas.size() == 1) answer = ReadReferenced(host.Cells(), answer.areas[0]);
            if (UncalculatedAnswers != uncalculatedBefore || HoldsUncalculated(answer)) continue;

            f.pending = false;
            --remaining;
            progress = true;
            const std::string cell = CellName(f.row, f.column);
            if (!error.empty()) sheet->notes.push_back(prefix + cell + ": " + error);
            if (answer.kind != Kind::Array) {
                host.sheet.Set(f.row, f.column, answer);
                sheet->shown[f.row][f.column] = Shown(answer);
                continue;
            }
            // Only the first row shows, as in an array formula entered over one row.
            int32_t filled = 0;
            for (int32_t k = 0; k < answer.columns; ++k) {
                const size_t column = size_t{f.column} + static_cast<size_t>(k);
                if (column >= MaxSheetColumns || (k > 0 && !IsEmptyInput(cells, f.row, column))) break;
                const Value& element = answer.elements[static_cast<size_t>(k)];
                host.sheet.Set(f.row, static_cast<uint16_t>(column), element);
                Widen(sheet, f.row, column);
                sheet->shown[f.row][column] = Shown(element);
                ++filled;
            }
            if (filled < answer.columns) {
                sheet->notes.push_back(prefix + cell + ": answer is " + std::to_string(answer.columns) +
                                       " cells wide; only " + std::to_string(filled) + " are free to show it");
            }
        }
    }
    InstallExcelHandler(&Forward);

    if (remaining > 0) {
        std::string names;
        for (const FormulaCell& f : formulas) {
            if (!f.pending) continue;
            names += (names.empty() ? "" : ", ") + CellName(f.row, f.column);
            sheet->shown[f.row][f.column] = CircularText;
        }
        sheet->problems.push_back(prefix + "circular reference: " + names + " wait on each other, or on cells that do");
    }

    sheet->rows = static_cast<uint32_t>(sheet->shown.size());
    size_t columns = 0;
    for (const std::vector<std::string>& line : sheet->shown) columns = std::max(columns, line.size());
    sheet->columns = static_cast<uint16_t>(columns);
    for (std::vector<std::string>& line : sheet->shown) line.resize(columns);
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
