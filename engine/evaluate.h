// evaluate.h - a parsed formula's value: operators with the spreadsheet's conversions, references read
// through a CellSource, defined names and sheet names through the workbook, calls through the host.
// Conversions: in arithmetic, text that reads as a number (the one number grammar, surrounding spaces
// allowed) is that number, TRUE/FALSE are 1/0, an empty cell is 0, other text is #VALUE!; & shows
// numbers as a cell does and an empty cell as ""; comparison orders numbers < text < TRUE/FALSE, text
// without regard to case. Errors propagate, the leftmost operand's first. Division by zero is #DIV/0!
// and a result that is not finite #NUM!. An operand that is a range of more than one cell or an array
// of more than one element is #VALUE! (the host computes no array arithmetic), or read as the
// spreadsheet reads it where the context asks for that (EvaluationContext::spreadsheetRanges).
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
    // The cells a table reference (table, the text in its brackets) stands for in a formula in the
    // given cell ("" for the table holding that cell); false if the table, a column or the row is not there.
    virtual bool FindTable(const std::string& table, const std::string& detail, uint32_t sheet, uint32_t row, uint16_t column,
                           Area* area) const
    {
        (void)table, (void)detail, (void)sheet, (void)row, (void)column, (void)area;
        return false;
    }
    // A linked workbook's cells as the file cached them (one value, or an array); false if not cached.
    virtual bool LinkedValue(uint32_t link, const std::string& sheet, const Area& area, Value* value) const
    {
        (void)link, (void)sheet, (void)area, (void)value;
        return false;
    }
};

// Names defined through other names are followed this deep; deeper, or in a circle, they are refused.
constexpr int32_t MaxNameDepth = 32;
// One formula's names are evaluated this many times at most, so that names using others more than
// once (N2 = N1+N1, N3 = N2+N2, ...) cannot make it cost 2^32 evaluations.
constexpr int32_t MaxNameEvaluations = 4096;

struct EvaluationContext {
    SubstituteHost* host = nullptr;
    const CellSource* cells = nullptr;
    const FormulaNames* names = nullptr;  // nullptr: no sheet may be named and every name is #NAME?
    uint32_t sheet = 0;                   // the formula's own sheet, for references that name none
    // A workbook cell's formula read as the spreadsheet reads it: outside an array formula a range
    // where one value is wanted (an operand, or an argument a function takes as a number) is the cell
    // in the formula's own row (a column) or column (a row). In an array formula such a range, and
    // anywhere such an array, is refused: the spreadsheet computes it element by element, the engine
    // does not.
    bool spreadsheetRanges = false;
    bool arrayFormula = false;
    uint32_t row = 0;
    uint16_t column = 0;
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
