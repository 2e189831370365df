// formula.cpp - a recursive-descent reader for cell formulas, and their evaluation through the host.
#include "host/formula.h"

#include <cctype>
#include <string_view>
#include <cstdlib>

namespace quorin_host {

namespace {

// The sheet's size: 1,048,576 rows and 16,384 columns.
constexpr uint32_t MaxRows = 1048576;
constexpr uint32_t MaxColumns = 16384;

struct Reader {
    const std::string& text;
    size_t at = 0;
    std::string error;
    size_t errorColumn = 0;

    bool Fail(const std::string& what)
    {
        if (error.empty()) {
            error = what;
            errorColumn = at + 1;
        }
        return false;
    }
    void SkipSpace()
    {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    }
    bool Accept(char c)
    {
        SkipSpace();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }

    bool Number(Value* v)
    {
        const std::string_view rest = std::string_view(text).substr(at);
        const size_t sign = (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) ? 1 : 0;
        const size_t length = sign + NumberLength(rest.substr(sign));
        double number = 0.0;
        if (length == sign) return Fail("expected a number");
        if (ParseNumber(rest.substr(0, length), &number) == NumberRead::Overflow) return Fail("number too large for a double");
        at += length;
        *v = Value::Number(number);
        return true;
    }

    bool Text(Value* v)
    {
        ++at;  // opening quote
        std::string s;
        while (at < text.size()) {
            if (text[at] == '"') {
                if (at + 1 < text.size() && text[at + 1] == '"') {
                    s += '"';
                    at += 2;
                    continue;
                }
                ++at;
                *v = Value::Text(s);
                return true;
            }
            s += text[at++];
        }
        return Fail("unterminated text");
    }

    // A constant inside {}: number, text, TRUE or FALSE.
    bool Constant(Value* v)
    {
        SkipSpace();
        if (at >= text.size()) return Fail("unexpected end of formula");
        if (text[at] == '"') return Text(v);
        if (!std::isalpha(static_cast<unsigned char>(text[at]))) return Number(v);
        const std::string rest = Word();
        if (!rest.empty()) {
            if (Upper(rest) == "TRUE" || Upper(rest) == "FALSE") {
                *v = Value::Boolean(Upper(rest) == "TRUE");
                return true;
            }
            at -= rest.size();
            return Fail("unknown constant " + rest);
        }
        return Number(v);
    }

    bool ArrayConstant(Value* v)
    {
        ++at;  // '{'
        std::vector<Value> elements;
        int32_t rows = 0, columns = -1;
        for (;;) {
            int32_t rowColumns = 0;
            do {
                Value e;
                if (!Constant(&e)) return false;
                elements.push_back(e);
                ++rowColumns;
            } while (Accept(','));
            if (columns >= 0 && rowColumns != columns) return Fail("array rows differ in length");
            columns = rowColumns;
            ++rows;
            if (Accept('}')) break;
            if (!Accept(';')) return Fail("expected ',', ';' or '}' in array constant");
        }
        if (rows > 65535 || columns > 65535) return Fail("array constant too large");
        *v = Value::Array(rows, columns, std::move(elements));
        return true;
    }

    std::string Word()
    {
        const size_t start = at;
        while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '_' || text[at] == '.' || text[at] == '$')) ++at;
        return text.substr(start, at - start);
    }

    static std::string Upper(std::string s)
    {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    // "$B$2" as a 0-based cell; false if word is not a cell name.
    static bool Cell(const std::string& word, uint32_t* row, uint16_t* column)
    {
        size_t i = 0;
        if (i < word.size() && word[i] == '$') ++i;
        uint32_t c = 0;
        size_t letters = 0;
        while (i < word.size() && std::isalpha(static_cast<unsigned char>(word[i]))) {
            c = c * 26 + static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(word[i])) - 'A' + 1);
            ++i;
            if (++letters > 3) return false;
        }
        if (letters == 0) return false;
        if (i < word.size() && word[i] == '$') ++i;
        uint64_t r = 0;
        size_t digits = 0;
        while (i < word.size() && std::isdigit(static_cast<unsigned char>(word[i]))) {
            r = r * 10 + static_cast<uint64_t>(word[i] - '0');
            ++i;
            if (++digits > 7) return false;
        }
        if (digits == 0 || i != word.size() || r < 1 || r > MaxRows || c > MaxColumns) return false;
        *row = static_cast<uint32_t>(r - 1);
        *column = static_cast<uint16_t>(c - 1);
        return true;
    }

    bool Parse(Expression* e)
    {
        SkipSpace();
        e->column = at + 1;
        if (at >= text.size()) return Fail("unexpected end of formula");
        const char c = text[at];
        if (c == '"') return Text(&e->literal);
        if (c == '{') return ArrayConstant(&e->literal);
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+') return Number(&e->literal);
        const size_t start = at;
        const std::string word = Word();
        if (word.empty()) return Fail(std::string("unexpected '") + c + "'");
        if (Accept('(')) {
            e->type = Expression::Type::Call;
            e->name = word;
            if (Accept(')')) return true;
            do {
                Expression argument;
                if (!Parse(&argument)) return false;
                e->arguments.push_back(std::move(argument));
            } while (Accept(','));
            return Accept(')') || Fail("expected ',' or ')'");
        }
        if (Upper(word) == "TRUE" || Upper(word) == "FALSE") {
            e->literal = Value::Boolean(Upper(word) == "TRUE");
            return true;
        }
        uint32_t row = 0;
        uint16_t column = 0;
        if (!Cell(word, &row, &column)) {
            at = start;
            return Fail("unknown name " + word);
        }
        e->type = Expression::Type::Reference;
        e->area = Area{row, row, column, column};
        if (Accept(':')) {
            SkipSpace();
            const size_t second = at;
            const std::string last = Word();
            if (!Cell(last, &row, &column)) {
                at = second;
                return Fail("expected a cell after ':'");
            }
            e->area = Area{std::min(e->area.rowFirst, row), std::max(e->area.rowFirst, row),
                           std::min(e->area.columnFirst, column), std::max(e->area.columnFirst, column)};
        }
        return true;
    }
};

}  // namespace

bool ParseFormula(const std::string& text, Expression* expression, std::string* error, size_t* errorColumn)
{
    Reader reader{text, 0, std::string(), 0};
    reader.SkipSpace();
    if (reader.at < text.size() && text[reader.at] == '=') ++reader.at;
    bool parsed = reader.Parse(expression);
    if (parsed) {
        reader.SkipSpace();
        if (reader.at != text.size()) parsed = reader.Fail("unexpected text after the formula");
    }
    if (!parsed) {
        if (error != nullptr) *error = reader.error;
        if (errorColumn != nullptr) *errorColumn = reader.errorColumn;
    }
    return parsed;
}

Value Evaluate(SubstituteHost& host, const Expression& expression, std::string* error)
{
    switch (expression.type) {
    case Expression::Type::Literal: return expression.literal;
    case Expression::Type::Reference: return Value::Reference({expression.area});
    case Expression::Type::Call: break;
    }
    std::vector<Value> arguments;
    for (const Expression& a : expression.arguments) arguments.push_back(Evaluate(host, a, error));
    return host.Call(expression.name, arguments, error);
}

std::string CellName(uint32_t row, uint16_t column)
{
    std::string letters;
    for (uint32_t c = uint32_t{column} + 1; c > 0; c = (c - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row + 1);
}

}  // namespace quorin_host
