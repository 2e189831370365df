// evaluate.h - a parsed formula's value: operators with the spreadsheet's conversions, references read
// through a CellSource, defined names and sheet names through the workbook, calls through the host.
// Conversions: in arithmetic, text that reads as a number (the one number grammar, surrounding spaces
// allowed) is that number, TRUE/FALSE are 1/0, an empty cell is 0, other text is #VALUE!; & shows
// numbers as a cell does and an empty cell as ""; comparison orders numbers < text < TRUE/FALSE, text
// without regard to case. Errors propagate, the leftmost operand's first. Division by zero is #DIV/0!
// and a result that is not finite #NUM!. An operand that is a range of more than one cell or an array
// of more than one element is #VALUE! (the host computes no array arithmetic).
// A formula's answer is never a reference: a reference answer reads its cells (an empty one as 0).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/cell_source.h"
#include "engine/formula.h"
#include "host/substitute_host.h"

namespace quorin_host {

// What names in a formula stand for beyond cells: the workbook's sheets and its defined names.
class FormulaNames {
public:
    virtual ~FormulaNames() = default;
    // The index of the sheet called name, case-insensitively; false if there is none.
    virtual bool FindSheet(const std::string& name, uint32_t* sheet) const = 0;
    // The definition of a name as seen from a formula on sheet; nullptr if there is none.
    virtual const Formula* FindName(const std::string& name, uint32_t sheet) const = 0;
};

struct EvaluationContext {
    SubstituteHost* host = nullptr;
    const CellSource* cells = nullptr;
    const FormulaNames* names = nullptr;  // nullptr: no sheet may be named and every name is #NAME?
    uint32_t sheet = 0;                   // the formula's own sheet, for references that name none
};

struct FormulaMessage {
    size_t column = 0;  // 1-based position in the formula
    std::string text;
};

// Why a formula shows an error: refusals make the evaluation fail (an unknown function or name, a
// wrong argument count), notes only explain (the host refused a value it was handed).
struct FormulaMessages {
    std::vector<FormulaMessage> refusals;
    std::vector<FormulaMessage> notes;
};

// The value of the subtree rooted at node root (the whole formula for formula.Root()).
Value EvaluateFormula(const EvaluationContext& context, const Formula& formula, uint32_t root, FormulaMessages* messages);

// A formula on its own, as the command line evaluates one: references read the host's own sheet, no
// names; error gets the messages, joined, "" when there are none.
Value Evaluate(SubstituteHost& host, const Formula& formula, uint32_t root, std::string* error);
Value Evaluate(SubstituteHost& host, const Formula& formula, std::string* error);

}  // namespace quorin_host
