// formula.cpp - a precedence-climbing reader of formulas into their flat tree, and reference shifting.
#include "engine/formula.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "rules/number.h"

namespace quorin_host {

namespace {

// ASCII classes, as the formula language has them, whatever the process's locale (and without a
// library call per character: formulas are read by the million).
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// Bytes of UTF-8 sequences count as letters, so that sheet and defined names may be in any script.
bool IsNameStart(char c) { return IsLetter(c) || c == '_' || c == '\\' || static_cast<unsigned char>(c) >= 0x80; }
bool IsWordCharacter(char c) { return IsNameStart(c) || IsDigit(c) || c == '.' || c == '$'; }

struct ErrorLiteral { const char* text; uint16_t code; };
constexpr ErrorLiteral ErrorLiterals[] = {
    {"#NULL!", xlerrNull}, {"#DIV/0!", xlerrDiv0}, {"#VALUE!", xlerrValue}, {"#REF!", xlerrRef},
    {"#NAME?", xlerrName}, {"#NUM!", xlerrNum},    {"#N/A", xlerrNA},
};

// "$C" as a 0-based column or "$12" as a 0-based row, for whole-column and whole-row ranges.
bool ReadLine(std::string_view word, bool columns, uint32_t* index, bool* absolute)
{
    *absolute = !word.empty() && word[0] == '$';
    if (*absolute) word.remove_prefix(1);
    if (word.empty() || word.size() > (columns ? 3u : 7u)) return false;
    uint32_t n = 0;
    for (char c : word) {
        if (columns ? !IsLetter(c) : !IsDigit(c)) return false;
        n = columns ? n * 26 + static_cast<uint32_t>(UpperAscii(c) - 'A' + 1) : n * 10 + static_cast<uint32_t>(c - '0');
    }
    if (n < 1 || n > (columns ? MaxSheetColumns : MaxSheetRows)) return false;
    *index = n - 1;
    return true;
}

// "$B$2" as a 0-based cell and its '$' marks; false if word is not a cell name.
bool ReadCell(std::string_view word, uint32_t* row, uint16_t* column, bool* rowAbsolute, bool* columnAbsolute)
{
    size_t split = (!word.empty() && word[0] == '$') ? 1 : 0;
    while (split < word.size() && IsLetter(word[split])) ++split;
    uint32_t c = 0;
    if (!ReadLine(word.substr(0, split), true, &c, columnAbsolute) || !ReadLine(word.substr(split), false, row, rowAbsolute)) return false;
    *column = static_cast<uint16_t>(c);
    return true;
}

// Orders the corners so that first <= last, carrying each corner's '$' with it.
void NormalizeArea(Node* node)
{
    Area& a = node->area;
    if (a.rowFirst > a.rowLast) {
        std::swap(a.rowFirst, a.rowLast);
        const uint8_t marks = node->absolute & (AbsoluteRowFirst | AbsoluteRowLast);
        node->absolute = static_cast<uint8_t>((node->absolute & ~marks) | ((marks & AbsoluteRowFirst) ? AbsoluteRowLast : 0) |
                                              ((marks & AbsoluteRowLast) ? AbsoluteRowFirst : 0));
    }
    if (a.columnFirst > a.columnLast) {
        std::swap(a.columnFirst, a.columnLast);
        const uint8_t marks = node->absolute & (AbsoluteColumnFirst | AbsoluteColumnLast);
        node->absolute = static_cast<uint8_t>((node->absolute & ~marks) | ((marks & AbsoluteColumnFirst) ? AbsoluteColumnLast : 0) |
                                              ((marks & AbsoluteColumnLast) ? AbsoluteColumnFirst : 0));
    }
}

// Binary operators by precedence level, lowest first; longer spellings before their prefixes.
struct Operator { const char* text; NodeType type; int32_t level; };
constexpr Operator Operators[] = {
    {"<>", NodeType::NotEqual, 0}, {"<=", NodeType::LessEqual, 0}, {">=", NodeType::GreaterEqual, 0},
    {"=", NodeType::Equal, 0},     {"<", NodeType::Less, 0},        {">", NodeType::Greater, 0},
    {"&", NodeType::Concatenate, 1},
    {"+", NodeType::Add, 2},       {"-", NodeType::Subtract, 2},
    {"*", NodeType::Multiply, 3},  {"/", NodeType::Divide, 3},
    {"^", NodeType::Power, 4},
};
constexpr int32_t OperandLevel = 5;

class Reader {
public:
    Reader(const std::string& text, Formula* formula) : text_(text), formula_(formula) {}

    bool Read()
    {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == '=') ++at_;
        if (text_.size() - at_ > MaxFormulaLength) {
            at_ += MaxFormulaLength;
            return Fail("the formula is longer than 8,192 characters");
        }
        if (!Binary(0)) return false;
        SkipSpace();
        return at_ == text_.size() || Fail("unexpected text after the formula");
    }

    // Each token is read by the routine the grammar reads it with; a token that routine refuses, and
    // every operator and separator, is stepped over.
    void Scan()
    {
        while (SkipSpace(), at_ < text_.size()) {
            error.clear();
            const size_t start = at_, column = at_ + 1;
            const char c = text_[at_];
            Value ignored;
            std::string inside;
            if (c == '"') {
                Quoted('"', &inside);
            } else if (c == '#') {
                if (!ErrorValue(&ignored)) ++at_;
            } else if (c == '{') {
                while (at_ < text_.size() && text_[at_] != '}') {
                    if (text_[at_] == '"') Quoted('"', &inside);
                    else ++at_;
                }
            } else if (c == '\'') {
                if (!QuotedSheetReference()) SkipWordFrom(start);
            } else if (c == '[') {
                // An unclosed bracket holds the rest of the text: nothing after it is a token.
                if (!LinkedReference(column) && !TableReference(std::string(), column)) at_ = text_.size();
            } else if (IsDigit(c) || c == '$' || c == '.' || IsNameStart(c)) {
                ScanWord(column);
            }
            if (at_ == start) ++at_;
        }
    }

    std::string error;
    size_t errorColumn = 0;

private:
    void ScanWord(size_t column)
    {
        if (WholeLines(std::string(), column)) return;
        const size_t start = at_;
        const size_t number = NumberLength(std::string_view(text_).substr(at_));
        if (number > 0 && (IsDigit(text_[at_]) || text_[at_] == '.')) {
            at_ += number;
            return;
        }
        const std::string_view word = NextWord();
        if (word.empty()) return;
        const size_t end = at_;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == '(') {
            Node node;
            node.type = NodeType::Call;
            node.name = std::string(SameText(word.substr(0, 5), "_xll.") ? word.substr(5) : word);
            Emit(std::move(node), 0, column);
            ++at_;
            return;
        }
        at_ = end;
        if (at_ < text_.size() && text_[at_] == '[') {
            if (!TableReference(std::string(word), column)) at_ = text_.size();
            return;
        }
        // Sheet1:Sheet3!A1 names every sheet from the first to the last.
        std::string sheet(word);
        if (at_ + 1 < text_.size() && text_[at_] == ':' && IsNameStart(text_[at_ + 1])) {
            ++at_;
            const std::string_view last = NextWord();
            if (at_ < text_.size() && text_[at_] == '!') sheet += ":" + std::string(last);
            else at_ = end;
        }
        if (at_ < text_.size() && text_[at_] == '!') {
            ++at_;
            if (!CellReference(sheet, column)) SkipWordFrom(at_);
            return;
        }
        at_ = start;
        if (Word(column)) return;
        // A1:OFFSET(..) and the like: the first corner is read as a cell of its own.
        at_ = start;
        Node node;
        node.type = NodeType::Reference;
        bool rowAbsolute = false, columnAbsolute = false;
        if (ReadCell(NextWord(), &node.area.rowFirst, &node.area.columnFirst, &rowAbsolute, &columnAbsolute)) {
            node.area.rowLast = node.area.rowFirst;
            node.area.columnLast = node.area.columnFirst;
            node.absolute = static_cast<uint8_t>((rowAbsolute ? AbsoluteRowFirst | AbsoluteRowLast : 0) |
                                                 (columnAbsolute ? AbsoluteColumnFirst | AbsoluteColumnLast : 0));
            Emit(std::move(node), 0, column);
        }
    }

    // After a sheet name that no cell follows: the word there, if any, is passed over.
    void SkipWordFrom(size_t start)
    {
        at_ = std::max(at_, start);
        NextWord();
    }

    bool Fail(const std::string& what)
    {
        if (error.empty()) {
            error = what;
            errorColumn = at_ + 1;
        }
        return false;
    }

    void SkipSpace()
    {
        while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
    }

    bool Accept(char c)
    {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    // Appends a node whose operands are the count subtrees just before it.
    void Emit(Node node, uint32_t operands, size_t column)
    {
        std::vector<Node>& nodes = formula_->nodes;
        uint32_t first = static_cast<uint32_t>(nodes.size());
        for (uint32_t k = 0; k < operands; ++k) first = nodes[first - 1].first;
        node.first = first;
        node.column = static_cast<uint32_t>(column);
        if (node.type == NodeType::Reference) {
            // A reference is emitted as soon as it is read: it ends here, or before the spaces read past it.
            const size_t start = column - 1;
            size_t end = std::min(at_, text_.size());
            while (end > start && IsSpace(text_[end - 1])) --end;
            node.length = static_cast<uint32_t>(end > start ? end - start : 0);
        }
        nodes.push_back(std::move(node));
    }

    void EmitLiteral(Value v, size_t column)
    {
        Node node;
        node.literal = static_cast<uint32_t>(formula_->literals.size());
        formula_->literals.push_back(std::move(v));
        Emit(std::move(node), 0, column);
    }

    const Operator* PeekOperator(int32_t level)
    {
        SkipSpace();
        const std::string_view rest = std::string_view(text_).substr(at_);
        for (const Operator& o : Operators) {
            if (o.level == level && rest.substr(0, std::char_traits<char>::length(o.text)) == o.text) return &o;
        }
        return nullptr;
    }

    bool Binary(int32_t level)
    {
        if (level == OperandLevel) return Percent();
        if (!Binary(level + 1)) return false;
        while (const Operator* o = PeekOperator(level)) {
            const size_t column = at_ + 1;
            at_ += std::char_traits<char>::length(o->text);
            if (!Binary(level + 1)) return false;
            Node node;
            node.type = o->type;
            Emit(std::move(node), 2, column);
        }
        return true;
    }

    bool Percent()
    {
        if (!Unary()) return false;
        while (Accept('%')) {
            Node node;
            node.type = NodeType::Percent;
            Emit(std::move(node), 1, at_);
        }
        return true;
    }

    // Prefix signs are counted in a loop, not by recursion, so a run of thousands costs no stack.
    bool Unary()
    {
        std::vector<size_t> negations;
        for (;;) {
            SkipSpace();
            if (at_ < text_.size() && text_[at_] == '-') negations.push_back(at_ + 1);
            else if (at_ >= text_.size() || text_[at_] != '+') break;
            ++at_;
        }
        if (!Primary()) return false;
        for (size_t k = negations.size(); k-- > 0;) {
            Node node;
            node.type = NodeType::Negate;
            Emit(std::move(node), 1, negations[k]);
        }
        return true;
    }

    // Counts one more level of nesting opened at column (1-based); false past the limits.
    bool Enter(bool call, size_t column)
    {
        const bool tooDeep = (call && ++callNesting_ > MaxCallNesting) || ++nesting_ > MaxNesting;
        if (!tooDeep) return true;
        at_ = column - 1;
        return Fail(callNesting_ > MaxCallNesting ? "more than 64 levels of nested calls" : "more than 255 levels of nested parentheses and calls");
    }

    bool Primary()
    {
        SkipSpace();
        const size_t column = at_ + 1;
        if (at_ >= text_.size()) return Fail("unexpected end of formula");
        const char c = text_[at_];
        if (c == '(') {
            ++at_;
            if (!Enter(false, column) || !Binary(0)) return false;
            --nesting_;
            return Accept(')') || Fail("expected ')'");
        }
        if (c == '"') {
            Value v;
            if (!Text(&v)) return false;
            EmitLiteral(std::move(v), column);
            return true;
        }
        if (c == '#') {
            Value v;
            if (!ErrorValue(&v)) return false;
            EmitLiteral(std::move(v), column);
            return true;
        }
        if (c == '{') {
            Value v;
            if (!ArrayConstant(&v)) return false;
            EmitLiteral(std::move(v), column);
            return true;
        }
        if ((IsDigit(c) || c == '$' || IsLetter(c)) && WholeLines(std::string(), column)) return true;
        if (IsDigit(c) || c == '.') {
            Value v;
            if (!Number(&v)) return false;
            EmitLiteral(std::move(v), column);
            return true;
        }
        if (c == '\'') return QuotedSheetReference();
        if (c == '[') return LinkedReference(column) || (error.empty() && TableReference(std::string(), column));
        return Word(column);
    }

    bool Number(Value* v)
    {
        const std::string_view rest = std::string_view(text_).substr(at_);
        const size_t length = NumberLength(rest);
        double number = 0.0;
        if (length == 0) return Fail("expected a number");
        if (ParseNumber(rest.substr(0, length), &number) == NumberRead::Overflow) {
            return Fail("number too large for a double: " + std::string(rest.substr(0, length)));
        }
        at_ += length;
        *v = Value::Number(number);
        return true;
    }

    // The characters between the quote at at_ and its closing twin, a doubled quote standing for
    // one; false, with at_ at the end of the formula, when the closing quote is missing.
    bool Quoted(char quote, std::string* out)
    {
        ++at_;  // opening quote
        while (at_ < text_.size()) {
            if (text_[at_] == quote) {
                ++at_;
                if (at_ >= text_.size() || text_[at_] != quote) return true;
            }
            *out += text_[at_++];
        }
        return false;
    }

    bool Text(Value* v)
    {
        std::string s;
        if (!Quoted('"', &s)) return Fail("unterminated text");
        *v = Value::Text(std::move(s));
        return true;
    }

    bool ErrorValue(Value* v)
    {
        const std::string_view rest = std::string_view(text_).substr(at_);
        for (const ErrorLiteral& e : ErrorLiterals) {
            const size_t length = std::char_traits<char>::length(e.text);
            if (SameText(rest.substr(0, length), e.text)) {
                at_ += length;
                *v = Value::Error(e.code);
                return true;
            }
        }
        return Fail("unknown error value");
    }

    // A constant inside {}: a number with an optional sign, text, TRUE, FALSE or an error value.
    bool Constant(Value* v)
    {
        SkipSpace();
        if (at_ >= text_.size()) return Fail("unexpected end of formula");
        const char c = text_[at_];
        if (c == '"') return Text(v);
        if (c == '#') return ErrorValue(v);
        if (IsLetter(c)) {
            const size_t start = at_;
            while (at_ < text_.size() && IsLetter(text_[at_])) ++at_;
            const std::string_view word = std::string_view(text_).substr(start, at_ - start);
            bool boolean = false;
            if (ReadBoolean(word, &boolean)) {
                *v = Value::Boolean(boolean);
                return true;
            }
            at_ = start;
            return Fail("an array constant holds numbers, text, TRUE, FALSE or error values");
        }
        const bool negative = c == '-';
        if (c == '-' || c == '+') ++at_;
        if (!Number(v)) return false;
        if (negative) v->number = -v->number;
        return true;
    }

    bool ArrayConstant(Value* v)
    {
        ++at_;  // '{'
        std::vector<Value> elements;
        int32_t rows = 0, columns = -1;
        for (;;) {
            int32_t rowColumns = 0;
            do {
                Value e;
                if (!Constant(&e)) return false;
                elements.push_back(std::move(e));
                ++rowColumns;
            } while (Accept(','));
            if (columns >= 0 && rowColumns != columns) return Fail("array rows differ in length");
            columns = rowColumns;
            ++rows;
            if (Accept('}')) break;
            if (!Accept(';')) return Fail("expected ',', ';' or '}' in array constant");
        }
        *v = Value::Array(rows, columns, std::move(elements));
        return true;
    }

    std::string_view NextWord()
    {
        const size_t start = at_;
        while (at_ < text_.size() && IsWordCharacter(text_[at_])) ++at_;
        return std::string_view(text_).substr(start, at_ - start);
    }

    bool QuotedSheetReference()
    {
        const size_t column = at_ + 1;
        std::string sheet;
        if (!Quoted('\'', &sheet)) {
            at_ = column - 1;
            return Fail("unterminated sheet name");
        }
        if (sheet.empty()) return Fail("empty sheet name");
        if (at_ >= text_.size() || text_[at_] != '!') return Fail("expected '!' after the sheet name");
        ++at_;
        const uint32_t link = LinkPrefix(&sheet);
        return CellReference(std::move(sheet), column, link);
    }

    // The n of a leading "[n]" in sheet, removed from it; 0 when there is none.
    static uint32_t LinkPrefix(std::string* sheet)
    {
        const size_t close = sheet->find(']');
        if (sheet->size() < 3 || (*sheet)[0] != '[' || close == std::string::npos || close < 2 || close > 8) return 0;
        uint32_t n = 0;
        for (size_t k = 1; k < close; ++k) {
            if (!IsDigit((*sheet)[k])) return 0;
            n = n * 10 + static_cast<uint32_t>((*sheet)[k] - '0');
        }
        if (n == 0) return 0;
        sheet->erase(0, close + 1);
        return n;
    }

    // [1]Data!A1, a cell of a linked workbook; false, with nothing read and no error, for any other '['.
    bool LinkedReference(size_t column)
    {
        const size_t start = at_;
        // A link's number is short; looking no further keeps a run of '[' linear.
        const size_t close = std::string_view(text_).substr(at_, 9).find(']');
        if (close == std::string_view::npos) return false;
        std::string prefix = text_.substr(at_, close + 1);
        at_ += close + 1;
        std::string sheet = prefix + std::string(NextWord());
        const uint32_t link = LinkPrefix(&sheet);
        if (link == 0 || sheet.empty() || at_ >= text_.size() || text_[at_] != '!') {
            at_ = start;
            return false;
        }
        ++at_;
        return CellReference(std::move(sheet), column, link);
    }

    // The text between the '[' at at_ and its matching ']', nested brackets kept and a quote escaping
    // the character after it, as table references write them; false when the brackets do not close.
    bool Bracketed(std::string* inside)
    {
        int32_t depth = 0;
        const size_t start = at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '\'' && at_ < text_.size()) {
                ++at_;
                continue;
            }
            if (c == '[') ++depth;
            if (c == ']' && --depth == 0) {
                *inside = text_.substr(start + 1, at_ - start - 2);
                return true;
            }
        }
        return false;
    }

    bool TableReference(std::string table, size_t column)
    {
        Node node;
        node.type = NodeType::Table;
        node.name = std::move(table);
        if (!Bracketed(&node.detail)) return Fail("unterminated table reference");
        Emit(std::move(node), 0, column);
        return true;
    }

    // The cell or range after the sheet's '!', or after nothing.
    // A:C or 2:5, whole columns or rows; false, with nothing read, when the text is neither.
    bool WholeLines(const std::string& sheet, size_t column)
    {
        const size_t start = at_;
        const std::string_view first = NextWord();
        // A cell's name (letters, then digits) starts no whole line: most ranges end the look here.
        const std::string_view line = first.substr(!first.empty() && first[0] == '$' ? 1 : 0);
        const bool letters = std::all_of(line.begin(), line.end(), IsLetter), digits = std::all_of(line.begin(), line.end(), IsDigit);
        if (at_ >= text_.size() || text_[at_] != ':' || (!letters && !digits)) {
            at_ = start;
            return false;
        }
        ++at_;
        const std::string_view last = NextWord();
        uint32_t a = 0, b = 0;
        bool absoluteA = false, absoluteB = false;
        for (const bool columns : {true, false}) {
            if (!ReadLine(first, columns, &a, &absoluteA) || !ReadLine(last, columns, &b, &absoluteB)) continue;
            Node node;
            node.type = NodeType::Reference;
            node.name = sheet;
            // The spanned direction is absolute: shifting a whole column never moves its rows.
            const uint8_t span = columns ? (AbsoluteRowFirst | AbsoluteRowLast) : (AbsoluteColumnFirst | AbsoluteColumnLast);
            const uint8_t firstMark = columns ? AbsoluteColumnFirst : AbsoluteRowFirst, lastMark = columns ? AbsoluteColumnLast : AbsoluteRowLast;
            node.absolute = static_cast<uint8_t>(span | (absoluteA ? firstMark : 0) | (absoluteB ? lastMark : 0));
            node.area = columns ? Area{0, MaxSheetRows - 1, static_cast<uint16_t>(a), static_cast<uint16_t>(b), 0}
                                : Area{a, b, 0, static_cast<uint16_t>(MaxSheetColumns - 1), 0};
            NormalizeArea(&node);
            Emit(std::move(node), 0, column);
            return true;
        }
        at_ = start;
        return false;
    }

    bool CellReference(std::string sheet, size_t column, uint32_t link = 0)
    {
        if (at_ < text_.size() && text_[at_] == '#') {
            Value v;
            if (!ErrorValue(&v)) return false;
            EmitLiteral(std::move(v), column);
            return true;
        }
        if (WholeLines(sheet, column)) {
            formula_->nodes.back().link = link;
            return true;
        }
        const size_t start = at_;
        Node node;
        node.type = NodeType::Reference;
        node.name = std::move(sheet);
        node.link = link;
        bool rowAbsolute = false, columnAbsolute = false;
        const std::string_view word = NextWord();
        if (!ReadCell(word, &node.area.rowFirst, &node.area.columnFirst, &rowAbsolute, &columnAbsolute)) {
            if (link == 0 && !word.empty() && IsNameStart(word[0]) && word.find('$') == std::string_view::npos) {
                node.type = NodeType::Name;
                node.detail = std::move(node.name);
                node.name = std::string(word);
                Emit(std::move(node), 0, column);
                return true;
            }
            at_ = start;
            return Fail("expected a cell");
        }
        node.absolute = static_cast<uint8_t>((rowAbsolute ? AbsoluteRowFirst : 0) | (columnAbsolute ? AbsoluteColumnFirst : 0));
        node.area.rowLast = node.area.rowFirst;
        node.area.columnLast = node.area.columnFirst;
        if (Accept(':')) {
            SkipSpace();
            const size_t second = at_;
            if (!ReadCell(NextWord(), &node.area.rowLast, &node.area.columnLast, &rowAbsolute, &columnAbsolute)) {
                at_ = second;
                return Fail("expected a cell after ':'");
            }
            node.absolute |= static_cast<uint8_t>((rowAbsolute ? AbsoluteRowLast : 0) | (columnAbsolute ? AbsoluteColumnLast : 0));
        } else {
            node.absolute |= static_cast<uint8_t>((rowAbsolute ? AbsoluteRowLast : 0) | (columnAbsolute ? AbsoluteColumnLast : 0));
        }
        NormalizeArea(&node);
        Emit(std::move(node), 0, column);
        return true;
    }

    bool Word(size_t column)
    {
        const size_t start = at_;
        const std::string_view word = NextWord();
        if (word.empty()) return Fail(std::string("unexpected '") + text_[at_] + "'");
        if (at_ < text_.size() && text_[at_] == '!') {
            ++at_;
            return CellReference(std::string(word), column);
        }
        if (at_ < text_.size() && text_[at_] == '[') return TableReference(std::string(word), column);
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == '(') {
            ++at_;
            return Call(word, column);
        }
        bool boolean = false;
        if (ReadBoolean(word, &boolean)) {
            EmitLiteral(Value::Boolean(boolean), column);
            return true;
        }
        uint32_t row = 0;
        uint16_t cellColumn = 0;
        bool rowAbsolute = false, columnAbsolute = false;
        if (ReadCell(word, &row, &cellColumn, &rowAbsolute, &columnAbsolute)) {
            at_ = start;
            return CellReference(std::string(), column);
        }
        if (!IsNameStart(word[0]) || word.find('$') != std::string_view::npos) {
            at_ = start;
            return Fail("not a cell or a name: " + std::string(word));
        }
        Node node;
        node.type = NodeType::Name;
        node.name = std::string(word);
        Emit(std::move(node), 0, column);
        return true;
    }

    bool Call(std::string_view name, size_t column)
    {
        if (SameText(name.substr(0, 5), "_xll.")) name.remove_prefix(5);
        if (name.empty() || !IsNameStart(name[0]) || name.find('$') != std::string_view::npos) {
            at_ = column - 1;
            return Fail("not a function name: " + std::string(name));
        }
        if (!Enter(true, column)) return false;
        Node node;
        node.type = NodeType::Call;
        node.name = std::string(name);
        if (!Accept(')')) {
            do {
                SkipSpace();
                if (at_ < text_.size() && (text_[at_] == ',' || text_[at_] == ')')) {
                    Value missing;
                    missing.missing = true;
                    EmitLiteral(std::move(missing), at_ + 1);
                } else if (!Binary(0)) {
                    return false;
                }
                ++node.argumentCount;
            } while (Accept(','));
            if (!Accept(')')) return Fail("expected ',' or ')'");
        }
        --nesting_;
        --callNesting_;
        const uint32_t arguments = node.argumentCount;
        Emit(std::move(node), arguments, column);
        return true;
    }

    const std::string& text_;
    Formula* formula_;
    size_t at_ = 0;
    int32_t nesting_ = 0;
    int32_t callNesting_ = 0;
};

// One corner coordinate moved by delta unless it is absolute; false when it leaves the sheet.
bool Shift(uint32_t* coordinate, int32_t delta, bool absolute, uint32_t limit)
{
    if (absolute) return true;
    const int64_t moved = int64_t{*coordinate} + delta;
    if (moved < 0 || moved >= int64_t{limit}) return false;
    *coordinate = static_cast<uint32_t>(moved);
    return true;
}

}  // namespace

// Room for the nodes a formula of this length usually has, taken at once: growing a vector of nodes
// one doubling at a time moves each of them several times.
void ReserveNodes(const std::string& text, Formula* formula) { formula->nodes.reserve(std::min<size_t>(text.size() / 8 + 4, 64)); }

Formula ScanFormula(const std::string& text)
{
    Formula formula;
    ScanFormula(text, &formula);
    return formula;
}

void ScanFormula(const std::string& text, Formula* formula)
{
    formula->nodes.clear();
    formula->literals.clear();
    ReserveNodes(text, formula);
    Reader reader(text, formula);
    reader.Scan();
}

bool ParseFormula(const std::string& text, Formula* formula, std::string* error, size_t* errorColumn)
{
    formula->nodes.clear();
    formula->literals.clear();
    ReserveNodes(text, formula);
    Reader reader(text, formula);
    const bool parsed = reader.Read();
    if (!parsed) {
        *formula = Formula{};
        if (error != nullptr) *error = reader.error;
        if (errorColumn != nullptr) *errorColumn = reader.errorColumn;
    }
    return parsed;
}

void ShiftReferences(Formula* formula, int32_t rows, int32_t columns)
{
    for (Node& node : formula->nodes) {
        if (node.type != NodeType::Reference) continue;
        Area& a = node.area;
        uint32_t columnFirst = a.columnFirst, columnLast = a.columnLast;
        const bool inside = Shift(&a.rowFirst, rows, node.absolute & AbsoluteRowFirst, MaxSheetRows) &&
                            Shift(&a.rowLast, rows, node.absolute & AbsoluteRowLast, MaxSheetRows) &&
                            Shift(&columnFirst, columns, node.absolute & AbsoluteColumnFirst, MaxSheetColumns) &&
                            Shift(&columnLast, columns, node.absolute & AbsoluteColumnLast, MaxSheetColumns);
        if (!inside) {
            node.type = NodeType::Literal;
            node.literal = static_cast<uint32_t>(formula->literals.size());
            formula->literals.push_back(Value::Error(xlerrRef));
            continue;
        }
        a.columnFirst = static_cast<uint16_t>(columnFirst);
        a.columnLast = static_cast<uint16_t>(columnLast);
        NormalizeArea(&node);
    }
}

std::vector<uint32_t> ArgumentRoots(const Formula& formula, uint32_t call)
{
    std::vector<uint32_t> roots(formula.nodes[call].argumentCount);
    uint32_t next = call;
    for (size_t k = roots.size(); k-- > 0;) {
        roots[k] = next - 1;
        next = formula.nodes[next - 1].first;
    }
    return roots;
}

namespace {

// A cell's name into out (room for 16 characters), '$' where marked: "B3", "$B$3"; its length.
size_t WriteCellName(uint32_t row, uint16_t column, bool rowMark, bool columnMark, char* out)
{
    size_t length = 0, count = 0;
    if (columnMark) out[length++] = '$';
    char letters[4];
    for (uint32_t c = uint32_t{column} + 1; c > 0; c = (c - 1) / 26) letters[count++] = static_cast<char>('A' + (c - 1) % 26);
    while (count > 0) out[length++] = letters[--count];
    if (rowMark) out[length++] = '$';
    char digits[10];
    uint32_t r = row + 1;
    do {
        digits[count++] = static_cast<char>('0' + r % 10);
        r /= 10;
    } while (r > 0);
    while (count > 0) out[length++] = digits[--count];
    return length;
}

// The cell part of a reference as the reader takes it back, '$' where a corner is absolute: "B5",
// "$A$1:$A$1000", into out (room for two corners); its length, 0 for whole rows or columns, which are
// written another way.
constexpr size_t CornersRoom = 40;
size_t CornersText(const Node& n, char* out)
{
    const Area& a = n.area;
    if ((a.rowFirst == 0 && a.rowLast == MaxSheetRows - 1) || (a.columnFirst == 0 && a.columnLast == MaxSheetColumns - 1)) return 0;
    size_t length = 0;
    const auto corner = [&](uint32_t row, uint16_t column, bool rowMark, bool columnMark) {
        length += WriteCellName(row, column, rowMark, columnMark, out + length);
    };
    corner(a.rowFirst, a.columnFirst, n.absolute & AbsoluteRowFirst, n.absolute & AbsoluteColumnFirst);
    // One cell is written once, when its two corners' marks agree.
    const bool sameMarks = ((n.absolute & AbsoluteRowFirst) != 0) == ((n.absolute & AbsoluteRowLast) != 0) &&
                           ((n.absolute & AbsoluteColumnFirst) != 0) == ((n.absolute & AbsoluteColumnLast) != 0);
    if (a.rowFirst == a.rowLast && a.columnFirst == a.columnLast && sameMarks) return length;
    out[length++] = ':';
    corner(a.rowLast, a.columnLast, n.absolute & AbsoluteRowLast, n.absolute & AbsoluteColumnLast);
    return length;
}

// Whether a[at, at + n) and b[0, n) hold the same characters, the first within its text.
bool SameRun(const std::string& a, size_t at, const char* b, size_t n)
{
    return at <= a.size() && n <= a.size() - at && (n == 0 || std::memcmp(a.data() + at, b, n) == 0);
}

}  // namespace

bool ReadMovedFormula(const std::string& modelText, const Formula& model, int32_t rows, int32_t columns, const std::string& text,
                      Formula* formula)
{
    *formula = model;
    ShiftReferences(formula, rows, columns);
    // Where each reference of the model ends, and how much longer than the model the text is up to
    // there: a node after it stands that much further on.
    constexpr size_t MaxMoves = 16;
    std::pair<size_t, int64_t> moves[MaxMoves];
    size_t moveCount = 0;
    size_t at = 0, atNew = 0;  // in modelText and in text: what comes before is the same
    int64_t longer = 0;
    char corners[CornersRoom], movedCorners[CornersRoom];
    for (size_t k = 0; k < model.nodes.size(); ++k) {
        const Node& was = model.nodes[k];
        if (was.type != NodeType::Reference) continue;
        Node& moved = formula->nodes[k];
        if (moved.type != NodeType::Reference || moveCount == MaxMoves) return false;  // moved off the sheet, or too many to follow
        const size_t length = CornersText(was, corners), movedLength = CornersText(moved, movedCorners);
        const size_t begin = was.column - 1, end = begin + was.length;
        if (length == 0 || was.length < length || begin < at || end > modelText.size() || !SameRun(modelText, end - length, corners, length)) {
            return false;
        }
        // Before the corners: the sheet as written, ending in '!', or nothing.
        const size_t cornersAt = end - length;
        if (cornersAt > begin && modelText[cornersAt - 1] != '!') return false;
        const size_t same = cornersAt - at;
        if (!SameRun(text, atNew, modelText.data() + at, same) || !SameRun(text, atNew + same, movedCorners, movedLength)) return false;
        atNew += same + movedLength;
        at = end;
        const int64_t grows = static_cast<int64_t>(movedLength) - static_cast<int64_t>(length);
        moved.length = static_cast<uint32_t>(static_cast<int64_t>(was.length) + grows);
        longer += grows;
        moves[moveCount++] = {end, longer};
    }
    if (text.size() - atNew != modelText.size() - at || !SameRun(text, atNew, modelText.data() + at, text.size() - atNew)) return false;
    for (Node& node : formula->nodes) {
        const size_t start = node.column == 0 ? 0 : node.column - 1;
        int64_t shift = 0;
        for (size_t m = 0; m < moveCount && moves[m].first <= start; ++m) shift = moves[m].second;
        node.column = static_cast<uint32_t>(static_cast<int64_t>(node.column) + shift);
    }
    return true;
}

std::string CellName(uint32_t row, uint16_t column)
{
    char name[16];
    return std::string(name, WriteCellName(row, column, false, false, name));
}

std::string SheetCellName(const std::string& sheet, uint32_t row, uint16_t column)
{
    const bool plain = !sheet.empty() && std::all_of(sheet.begin(), sheet.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
    std::string quoted = "'";
    for (char c : sheet) quoted += (c == '\'') ? std::string("''") : std::string(1, c);
    return (plain ? sheet : quoted + "'") + "!" + CellName(row, column);
}

bool ParseCellName(std::string_view text, uint32_t* row, uint16_t* column)
{
    bool rowAbsolute = false, columnAbsolute = false;
    return ReadCell(text, row, column, &rowAbsolute, &columnAbsolute) && !rowAbsolute && !columnAbsolute;
}

bool ParseCellArea(std::string_view text, Area* area)
{
    const size_t colon = text.find(':');
    const std::string_view first = text.substr(0, colon);
    const std::string_view last = (colon == std::string_view::npos) ? first : text.substr(colon + 1);
    return ParseCellName(first, &area->rowFirst, &area->columnFirst) && ParseCellName(last, &area->rowLast, &area->columnLast) &&
           area->rowFirst <= area->rowLast && area->columnFirst <= area->columnLast;
}

bool ParseRowName(std::string_view text, uint32_t* row)
{
    bool absolute = false;
    return !text.empty() && text[0] != '$' && ReadLine(text, false, row, &absolute);
}

bool ParseErrorText(std::string_view text, uint16_t* code)
{
    for (const ErrorLiteral& e : ErrorLiterals) {
        if (SameText(text, e.text)) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

std::string Upper(std::string text)
{
    for (char& c : text) c = UpperAscii(c);
    return text;
}

bool ReadBoolean(std::string_view word, bool* value)
{
    if (!SameText(word, "TRUE") && !SameText(word, "FALSE")) return false;
    *value = SameText(word, "TRUE");
    return true;
}

}  // namespace quorin_host
