// evaluate.cpp - formulas evaluated on a value stack in node order, so no recursion follows the tree.
#include "engine/evaluate.h"

#include <algorithm>
#include <cmath>

#include "rules/number.h"

namespace quorin_host {

namespace {

// A range answer larger than this is not read into an array: the host's array records count rows in
// 16 bits, and a cell shows one value anyway.
constexpr uint64_t MaxAnswerRows = 65535;
constexpr uint64_t MaxAnswerCells = 1048576;
// The longest text a cell holds.
constexpr size_t MaxTextLength = 32767;

bool Failed(const Value& v) { return v.kind == Kind::Error || v.kind == Kind::Uncalculated; }

// Implicit intersection: a column of cells stands for its cell in the formula's row, a row of cells for
// its cell in the formula's column, one cell for itself; false when the formula's row or column
// misses the range.
bool Intersect(const EvaluationContext& context, Area* a)
{
    if (a->columnFirst == a->columnLast && a->rowFirst == a->rowLast) return true;
    if (a->columnFirst == a->columnLast && context.row >= a->rowFirst && context.row <= a->rowLast) {
        a->rowFirst = a->rowLast = context.row;
        return true;
    }
    if (a->rowFirst == a->rowLast && context.column >= a->columnFirst && context.column <= a->columnLast) {
        a->columnFirst = a->columnLast = context.column;
        return true;
    }
    return false;
}

// The host's own sheet as a cell source, for formulas evaluated outside a workbook.
class HostSheetCells : public CellSource {
public:
    explicit HostSheetCells(const Sheet& sheet) : sheet_(sheet) {}
    const Value& CellAt(uint32_t, uint32_t row, uint16_t column) const override
    {
        last_ = sheet_.Get(row, column);
        return last_;
    }

private:
    const Sheet& sheet_;
    mutable Value last_;
};

bool ToNumber(const Value& v, double* number, Value* failure)
{
    switch (v.kind) {
    case Kind::Number: *number = v.number; return true;
    case Kind::Boolean: *number = v.boolean ? 1.0 : 0.0; return true;
    case Kind::Empty: *number = 0.0; return true;
    case Kind::Text:
        if (ReadSpacedNumber(v.text, number)) return true;
        *failure = Value::Error(xlerrValue);
        return false;
    case Kind::Error: case Kind::Uncalculated: *failure = v; return false;
    default: *failure = Value::Error(xlerrValue); return false;
    }
}

bool ToText(const Value& v, std::string* text, Value* failure)
{
    switch (v.kind) {
    case Kind::Text: *text = v.text; return true;
    case Kind::Empty: text->clear(); return true;
    case Kind::Number: *text = FormatNumber(v.number); return true;
    case Kind::Boolean: *text = v.boolean ? "TRUE" : "FALSE"; return true;
    case Kind::Error: case Kind::Uncalculated: *failure = v; return false;
    default: *failure = Value::Error(xlerrValue); return false;
    }
}

Value Finite(double v) { return std::isfinite(v) ? Value::Number(v) : Value::Error(xlerrNum); }

// x to an integer power by repeated squaring: every step is one rounded product, the same on both
// builds. Other exponents go to the C library's pow.
double IntegerPower(double x, int64_t n)
{
    uint64_t k = static_cast<uint64_t>(n < 0 ? -n : n);
    double result = 1.0, square = x;
    while (k > 0) {
        if (k & 1) result = result * square;
        square = square * square;
        k >>= 1;
    }
    return n < 0 ? 1.0 / result : result;
}

Value Power(double x, double y)
{
    if (x == 0.0 && y == 0.0) return Value::Error(xlerrNum);
    if (x == 0.0 && y < 0.0) return Value::Error(xlerrDiv0);
    if (std::fabs(y) <= 1024.0 && y == std::floor(y)) return Finite(IntegerPower(x, static_cast<int64_t>(y)));
    return Finite(std::pow(x, y));
}

Value Arithmetic(NodeType type, double x, double y)
{
    switch (type) {
    case NodeType::Add: return Finite(x + y);
    case NodeType::Subtract: return Finite(x - y);
    case NodeType::Multiply: return Finite(x * y);
    case NodeType::Divide: return (y == 0.0) ? Value::Error(xlerrDiv0) : Finite(x / y);
    default: return Power(x, y);
    }
}

// Numbers < text < booleans; an empty operand takes the other's kind (0, "" or FALSE).
int32_t Rank(Kind kind) { return kind == Kind::Number ? 0 : kind == Kind::Text ? 1 : 2; }

Value AsKindOf(const Value& empty, const Value& other)
{
    if (empty.kind != Kind::Empty) return empty;
    if (other.kind == Kind::Text) return Value::Text("");
    if (other.kind == Kind::Boolean) return Value::Boolean(false);
    return Value::Number(0.0);
}

Value Compare(NodeType type, const Value& left, const Value& right)
{
    const Value a = AsKindOf(left, right), b = AsKindOf(right, left);
    int32_t order = 0;
    if (Rank(a.kind) != Rank(b.kind)) {
        order = Rank(a.kind) < Rank(b.kind) ? -1 : 1;
    } else if (a.kind == Kind::Number) {
        order = (a.number < b.number) ? -1 : (a.number > b.number) ? 1 : 0;
    } else if (a.kind == Kind::Text) {
        const int c = Upper(a.text).compare(Upper(b.text));
        order = (c < 0) ? -1 : (c > 0) ? 1 : 0;
    } else {
        order = int32_t{a.boolean} - int32_t{b.boolean};
    }
    switch (type) {
    case NodeType::Equal: return Value::Boolean(order == 0);
    case NodeType::NotEqual: return Value::Boolean(order != 0);
    case NodeType::Less: return Value::Boolean(order < 0);
    case NodeType::LessEqual: return Value::Boolean(order <= 0);
    case NodeType::Greater: return Value::Boolean(order > 0);
    default: return Value::Boolean(order >= 0);
    }
}

class Machine {
public:
    Machine(const EvaluationContext& context, const Formula& formula, FormulaMessages* messages, int32_t nameDepth,
            int32_t* nameEvaluations)
        : context_(context), formula_(formula), messages_(messages), nameDepth_(nameDepth), nameEvaluations_(nameEvaluations) {}

    Value Run(uint32_t root)
    {
        // The stack never holds more values than the formula has nodes.
        stack_.reserve(root + 1 - formula_.nodes[root].first);
        for (uint32_t k = formula_.nodes[root].first; k <= root; ++k) Step(formula_.nodes[k]);
        return std::move(stack_.back());
    }

private:
    void Refuse(const Node& node, std::string text) { messages_->refusals.push_back({node.column, std::move(text)}); }

    Value Pop()
    {
        Value v = std::move(stack_.back());
        stack_.pop_back();
        return v;
    }

    // An operand of a scalar operator: one cell's value, one element, or #VALUE!.
    Value Scalar(const Node& node, Value v)
    {
        if (v.kind == Kind::Reference) {
            if (v.areas.size() != 1) return Value::Error(xlerrValue);
            Area a = v.areas[0];
            if ((a.rowFirst != a.rowLast || a.columnFirst != a.columnLast) && context_.spreadsheetRanges) {
                if (context_.arrayFormula) return ElementByElement(node);
                if (!Intersect(context_, &a)) return Value::Error(xlerrValue);
            }
            if (a.rowFirst != a.rowLast || a.columnFirst != a.columnLast) return Value::Error(xlerrValue);
            return context_.cells->CellAt(a.sheet, a.rowFirst, a.columnFirst);
        }
        if (v.kind == Kind::Array) {
            if (v.elements.size() == 1) return v.elements[0];
            return context_.spreadsheetRanges ? ElementByElement(node) : Value::Error(xlerrValue);
        }
        return v;
    }

    Value ElementByElement(const Node& node)
    {
        Refuse(node, "a range or array where one value is wanted: the spreadsheet computes it element by element, the engine does not");
        return Value::Error(xlerrValue);
    }

    bool SheetOf(const Node& node, uint32_t* sheet) const
    {
        if (node.name.empty()) {
            *sheet = context_.sheet;
            return true;
        }
        return context_.names != nullptr && context_.names->FindSheet(node.name, sheet);
    }

    Value NameValue(const Node& node)
    {
        uint32_t sheet = context_.sheet;
        const bool sheetKnown = node.detail.empty() || (context_.names != nullptr && context_.names->FindSheet(node.detail, &sheet));
        const Formula* definition = (sheetKnown && context_.names != nullptr) ? context_.names->FindName(node.name, sheet) : nullptr;
        if (definition == nullptr) {
            Refuse(node, "unknown name " + node.name);
            return Value::Error(xlerrName);
        }
        // The depth, not a record of the names passed, stops names that refer to each other in a circle.
        if (nameDepth_ >= MaxNameDepth || ++*nameEvaluations_ > MaxNameEvaluations) {
            Refuse(node, "names defined through more than 32 other names, in a circle, or used more than 4,096 times: " + node.name);
            return Value::Error(xlerrName);
        }
        FormulaMessages inner;
        Value v = Machine(context_, *definition, &inner, nameDepth_ + 1, nameEvaluations_).Run(definition->Root());
        for (const FormulaMessage& m : inner.refusals) Refuse(node, "in the name " + node.name + ": " + m.text);
        for (const FormulaMessage& m : inner.notes) messages_->notes.push_back({node.column, "in the name " + node.name + ": " + m.text});
        return v;
    }

    Value CallValue(const Node& node, std::vector<Value> arguments)
    {
        SubstituteHost& host = *context_.host;
        const std::string& typeText = host.TypeTextOf(node.name);
        if (typeText.empty()) {
            Refuse(node, "unknown function " + node.name);
            return Value::Error(xlerrName);
        }
        const size_t expected = typeText.size() - 1;
        if (arguments.size() != expected) {
            Refuse(node, node.name + " takes " + std::to_string(expected) + (expected == 1 ? " argument, not " : " arguments, not ") +
                             std::to_string(arguments.size()));
            return Value::Error(xlerrValue);
        }
        // A range given for a number is read as an operand is: the host itself would take its first cell.
        const size_t refused = messages_->refusals.size();
        for (size_t k = 0; context_.spreadsheetRanges && k < expected; ++k) {
            const Value& a = arguments[k];
            const bool several = (a.kind == Kind::Array && a.elements.size() > 1) ||
                                 (a.kind == Kind::Reference && (a.areas.size() != 1 || a.areas[0].rowFirst != a.areas[0].rowLast ||
                                                                a.areas[0].columnFirst != a.areas[0].columnLast));
            if (typeText[k + 1] != 'R' && several) arguments[k] = Scalar(node, arguments[k]);
            if (messages_->refusals.size() > refused) return arguments[k];
        }
        std::string error;
        Value answer = host.Call(node.name, arguments, &error);
        if (!error.empty()) messages_->notes.push_back({node.column, error});
        return answer;
    }

    void Step(const Node& node)
    {
        switch (node.type) {
        case NodeType::Literal: stack_.push_back(formula_.LiteralOf(node)); return;
        case NodeType::Reference: {
            if (node.link != 0) {
                Value v;
                if (context_.names == nullptr || !context_.names->LinkedValue(node.link, node.name, node.area, &v)) {
                    messages_->notes.push_back({node.column, "no cached value for [" + std::to_string(node.link) + "]" + node.name});
                    v = Value::Error(xlerrRef);
                }
                stack_.push_back(std::move(v));
                return;
            }
            uint32_t sheet = 0;
            if (!SheetOf(node, &sheet)) {
                Refuse(node, "no sheet called " + node.name);
                stack_.push_back(Value::Error(xlerrRef));
                return;
            }
            Area area = node.area;
            area.sheet = sheet;
            stack_.push_back(Value::Reference({area}));
            return;
        }
        case NodeType::Name: stack_.push_back(NameValue(node)); return;
        case NodeType::Table: {
            Area area;
            if (context_.names == nullptr || !context_.names->FindTable(node.name, node.detail, context_.sheet, context_.row, context_.column, &area)) {
                messages_->notes.push_back({node.column, "table reference " + node.name + "[" + node.detail + "] not found"});
                stack_.push_back(Value::Error(xlerrRef));
                return;
            }
            stack_.push_back(Value::Reference({area}));
            return;
        }
        case NodeType::Call: {
            std::vector<Value> arguments(node.argumentCount);
            for (size_t k = arguments.size(); k-- > 0;) arguments[k] = Pop();
            stack_.push_back(CallValue(node, std::move(arguments)));
            return;
        }
        case NodeType::Negate: case NodeType::Percent: {
            double x = 0.0;
            Value failure;
            if (!ToNumber(Scalar(node, Pop()), &x, &failure)) {
                stack_.push_back(failure);
                return;
            }
            stack_.push_back(node.type == NodeType::Negate ? Value::Number(-x) : Finite(x / 100.0));
            return;
        }
        default: break;
        }
        const Value right = Scalar(node, Pop());
        const Value left = Scalar(node, Pop());
        if (Failed(left) || Failed(right)) {
            stack_.push_back(Failed(left) ? left : right);
            return;
        }
        Value failure;
        switch (node.type) {
        case NodeType::Concatenate: {
            std::string a, b;
            if (!ToText(left, &a, &failure) || !ToText(right, &b, &failure)) stack_.push_back(failure);
            else if (a.size() + b.size() > MaxTextLength) stack_.push_back(Value::Error(xlerrValue));
            else stack_.push_back(Value::Text(a + b));
            return;
        }
        case NodeType::Add: case NodeType::Subtract: case NodeType::Multiply: case NodeType::Divide: case NodeType::Power: {
            double x = 0.0, y = 0.0;
            if (!ToNumber(left, &x, &failure) || !ToNumber(right, &y, &failure)) stack_.push_back(failure);
            else stack_.push_back(Arithmetic(node.type, x, y));
            return;
        }
        default: stack_.push_back(Compare(node.type, left, right)); return;
        }
    }

    const EvaluationContext& context_;
    const Formula& formula_;
    FormulaMessages* messages_;
    int32_t nameDepth_;
    int32_t* nameEvaluations_;  // shared by the machines of one formula's names
    std::vector<Value> stack_;
};

// The cells a reference answer names, as a value: one cell's value, or an array; empty cells as 0.
Value ReadReferenced(const CellSource& cells, const Value& reference, FormulaMessages* messages, size_t column)
{
    if (reference.areas.size() != 1) return Value::Error(xlerrValue);
    const Area& area = reference.areas[0];
    const uint64_t rows = uint64_t{area.rowLast} - area.rowFirst + 1;
    const uint64_t columns = uint64_t{area.columnLast} - area.columnFirst + 1;
    if (rows > MaxAnswerRows || rows * columns > MaxAnswerCells) {
        messages->notes.push_back({column, "a range of more than 65,535 rows or 1,048,576 cells is not read as an answer"});
        return Value::Error(xlerrValue);
    }
    std::vector<Value> elements;
    elements.reserve(static_cast<size_t>(rows * columns));
    for (uint32_t r = area.rowFirst; r <= area.rowLast; ++r) {
        for (uint32_t c = area.columnFirst; c <= area.columnLast; ++c) {
            Value v = cells.CellAt(area.sheet, r, static_cast<uint16_t>(c));
            elements.push_back(v.kind == Kind::Empty ? Value::Number(0.0) : std::move(v));
        }
    }
    if (elements.size() == 1) return elements[0];
    return Value::Array(static_cast<int32_t>(rows), static_cast<int32_t>(columns), std::move(elements));
}

std::string Joined(const FormulaMessages& messages)
{
    std::string text;
    for (const auto* list : {&messages.refusals, &messages.notes}) {
        for (const FormulaMessage& m : *list) text += (text.empty() ? "" : "; ") + ("column " + std::to_string(m.column) + ": " + m.text);
    }
    return text;
}

}  // namespace

Value EvaluateFormula(const EvaluationContext& context, const Formula& formula, uint32_t root, FormulaMessages* messages)
{
    if (root >= formula.nodes.size()) return Value::Error(xlerrValue);
    int32_t nameEvaluations = 0;
    Value answer = Machine(context, formula, messages, 0, &nameEvaluations).Run(root);
    if (answer.kind == Kind::Reference && context.spreadsheetRanges && !context.arrayFormula && answer.areas.size() == 1) {
        Area a = answer.areas[0];
        if (!Intersect(context, &a)) return Value::Error(xlerrValue);
        answer = Value::Reference({a});
    }
    if (answer.kind == Kind::Reference) answer = ReadReferenced(*context.cells, answer, messages, formula.nodes[root].column);
    return answer;
}

Value Evaluate(SubstituteHost& host, const Formula& formula, uint32_t root, std::string* error)
{
    const HostSheetCells cells(host.sheet);
    EvaluationContext context;
    context.host = &host;
    context.cells = &cells;
    FormulaMessages messages;
    Value answer = EvaluateFormula(context, formula, root, &messages);
    if (error != nullptr) *error = Joined(messages);
    return answer;
}

Value Evaluate(SubstituteHost& host, const Formula& formula, std::string* error)
{
    return Evaluate(host, formula, static_cast<uint32_t>(formula.nodes.size()) - 1, error);
}

}  // namespace quorin_host
