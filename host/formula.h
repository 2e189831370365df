// formula.h - cell formulas as the command line and sheets take them: calls of registered functions
// (names case-insensitive, calls nested), numbers, "text", TRUE/FALSE, array constants {1,2;3,4},
// and cell references A1, $B$2 or ranges A1:B50, which reach the module as references.
#pragma once

#include <string>
#include <vector>

#include "host/substitute_host.h"

namespace quorin_host {

struct Expression {
    enum class Type { Literal, Call, Reference } type = Type::Literal;
    Value literal;                  // Literal: a number, text, boolean or array constant
    std::string name;               // Call
    std::vector<Expression> arguments;
    Area area;                      // Reference
    size_t column = 0;              // 1-based position in the formula text
};

// Parses text (a leading '=' is optional). On failure error says what and errorColumn (1-based) where.
bool ParseFormula(const std::string& text, Expression* expression, std::string* error, size_t* errorColumn);

// Evaluates against the host's registered functions and sheet. A reference evaluates to a reference
// value; error explains host-side refusals (an unknown function, a wrong argument count).
Value Evaluate(SubstituteHost& host, const Expression& expression, std::string* error);

// "A1"-style name of a cell, 0-based row and column.
std::string CellName(uint32_t row, uint16_t column);

}  // namespace quorin_host
