// evaluate.cpp - formulas evaluated on a value stack in node order, so no recursion follows the tree.
#include "engine/evaluate.h"

#include <algorithm>
#include <cmath>

#include "host/number.h"

namespace quorin_host {

namespace {

// A range answer larger than this is not read into an array: the host's array records count rows in
// 16 bits, and a cell shows one value anyway.
constexpr uint64_t MaxAnswerRows = 65535;
constexpr uint64_t MaxAnswerCells = 1048576;
// The longest text a cell holds.
constexpr size_t MaxTextLength = 32767;

bool Failed(const Value& v) { return v.kind == Kind::Error || v.kind == Kind::Uncalculated; }

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
    Machine(const EvaluationContext& context, const Formula& formula, FormulaMessages* messages, bool namesAllowed)
        : context_(context), formula_(formula), messages_(messages), namesAllowed_(namesAllowed) {}

    Value Run(uint32_t root)
    {
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
    Value Scalar(Value v) const
    {
        if (v.kind == Kind::Reference) {
            if (v.areas.size() != 1) return Value::Error(xlerrValue);
            const Area& a = v.areas[0];
            if (a.rowFirst != a.rowLast || a.columnFirst != a.columnLast) return Value::Error(xlerrValue);
            return context_.cells->CellAt(a.sheet, a.rowFirst, a.columnFirst);
        }
        if (v.kind == Kind::Array) return (v.elements.size() == 1) ? v.elements[0] : Value::Error(xlerrValue);
        return v;
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
        const Formula* definition = (namesAllowed_ && context_.names != nullptr) ? context_.names->FindName(node.name, context_.sheet) : nullptr;
        if (definition == nullptr) {
            Refuse(node, "unknown name " + node.name);
            return Value::Error(xlerrName);
        }
        FormulaMessages inner;
        // A definition names no other name, so names cannot refer to each other in a circle.
        Value v = Machine(context_, *definition, &inner, false).Run(definition->Root());
        for (const FormulaMessage& m : inner.refusals) Refuse(node, "in the name " + node.name + ": " + m.text);
        for (const FormulaMessage& m : inner.notes) messages_->notes.push_back({node.column, "in the name " + node.name + ": " + m.text});
        return v;
    }

    Value CallValue(const Node& node, std::vector<Value> arguments)
    {
        SubstituteHost& host = *context_.host;
        const std::string typeText = host.TypeTextOf(node.name);
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
        std::string error;
        Value answer = host.Call(node.name, arguments, &error);
        if (!error.empty()) messages_->notes.push_back({node.column, error});
        return answer;
    }

    void Step(const Node& node)
    {
        switch (node.type) {
        case NodeType::Literal: stack_.push_back(node.literal); return;
        case NodeType::Reference: {
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
        case NodeType::Call: {
            std::vector<Value> arguments(node.argumentCount);
            for (size_t k = arguments.size(); k-- > 0;) arguments[k] = Pop();
            stack_.push_back(CallValue(node, std::move(arguments)));
            return;
        }
        case NodeType::Negate: case NodeType::Percent: {
            double x = 0.0;
            Value failure;
            if (!ToNumber(Scalar(Pop()), &x, &failure)) {
                stack_.push_back(failure);
                return;
            }
            stack_.push_back(node.type == NodeType::Negate ? Value::Number(-x) : Finite(x / 100.0));
            return;
        }
        default: break;
        }
        const Value right = Scalar(Pop());
        const Value left = Scalar(Pop());
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
    bool namesAllowed_;
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
    Value answer = Machine(context, formula, messages, true).Run(root);
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
