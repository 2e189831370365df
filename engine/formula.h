// formula.h - the host's formula language, read into a tree: numbers, "text", TRUE/FALSE, error
// literals, array constants {1,2;3,4}, references (A1, $A$1, A1:B5, whole columns A:C and rows 2:5,
// Data!A2:A7, 'My data'!$A$2:$A$7, [1]Data!A2 in a linked workbook), defined names (Data!Rate for a
// sheet's own), table references (Sales[Amount], Sales[[#This Row],[Amount]]), calls of registered
// functions (case-insensitive, optionally prefixed _xll.; an empty argument is a missing one),
// parentheses and operators. Precedence, lowest first: comparison
// (= <> < > <= >=), &, + -, * /, ^, postfix %, prefix - and +; all binary operators are
// left-associative, so 2^3^2 is 64 and -2^2 is 4.
// The tree is stored flat, operands before their operator, so that walking or evaluating it needs
// no recursion however long a formula's chain of operators is.
// Limits, each refused with a message and the column: 8,192 characters (after the leading '='),
// 64 levels of nested calls, 255 levels of nested parentheses and calls together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/value.h"

namespace quorin_host {

constexpr size_t MaxFormulaLength = 8192;
constexpr int32_t MaxCallNesting = 64;
constexpr int32_t MaxNesting = 255;

// The sheet's size: 1,048,576 rows and 16,384 columns.
constexpr uint32_t MaxSheetRows = 1048576;
constexpr uint32_t MaxSheetColumns = 16384;

enum class NodeType : uint8_t {
    Literal, Reference, Name, Call, Table,
    Negate, Percent,
    Add, Subtract, Multiply, Divide, Power, Concatenate,
    Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual,
};

// Which corners of a reference carry a '$' and so stay when a shared formula is shifted.
enum Absolute : uint8_t { AbsoluteRowFirst = 1, AbsoluteColumnFirst = 2, AbsoluteRowLast = 4, AbsoluteColumnLast = 8 };

struct Node {
    NodeType type = NodeType::Literal;
    uint32_t first = 0;          // index of the first node of this node's subtree
    uint32_t column = 0;         // 1-based position in the formula text
    uint32_t argumentCount = 0;  // Call
    uint32_t literal = 0;        // Literal: its value's index in Formula::literals (kept apart: values are large)
    std::string name;            // Call, Name, Table: as written, without _xll.; Reference: its sheet, "" for the formula's own
                                 // (a scan's 3-D reference: "First:Last")
    std::string detail;          // Name: the sheet that qualifies it, "" for none; Table: the text inside its brackets
    uint32_t link = 0;           // Reference: n of a [n] linked workbook, 0 for this workbook
    Area area;                   // Reference: rows and columns, first <= last; the sheet is bound at evaluation
    uint8_t absolute = 0;        // Reference: Absolute bits
    uint32_t length = 0;         // Reference: the characters it takes in the text, from column
};

struct Formula {
    std::vector<Node> nodes;      // operands before their operator; the root is the last node
    std::vector<Value> literals;  // number, text, boolean, error or array constant of each Literal node
    uint32_t Root() const { return static_cast<uint32_t>(nodes.size() - 1); }
    const Value& LiteralOf(const Node& node) const { return literals[node.literal]; }
};

// Parses text (a leading '=' is optional). On failure error says what and errorColumn (1-based) where.
bool ParseFormula(const std::string& text, Formula* formula, std::string* error, size_t* errorColumn);

// What a formula reads and calls, found even where ParseFormula fails: the references, names, table
// references and calls of text, each as its node (a call's argumentCount is 0), in the order written.
// Never fails; what the scan does not recognise is passed over, so a reference written in syntax the
// grammar lacks (A1:OFFSET(..), union, intersection, 3-D) still shows its cells and sheets.
Formula ScanFormula(const std::string& text);
// The same into *formula, in the room it has.
void ScanFormula(const std::string& text, Formula* formula);

// Moves the relative corners of every reference by rows and columns, as a shared formula written for
// one cell reads in another; a reference moved off the sheet becomes #REF!.
void ShiftReferences(Formula* formula, int32_t rows, int32_t columns);

// A formula filled down (or across) is often written out in full in each cell: the same text but for
// its references, moved. When text is modelText with every reference of model (read from modelText)
// moved by rows and columns and written the same way (sheet as before, '$' where it was, capitals),
// *formula becomes model so moved, positions included: what reading text would give, made for a
// fraction of the cost. False for any other text; *formula is then to be read afresh.
bool ReadMovedFormula(const std::string& modelText, const Formula& model, int32_t rows, int32_t columns, const std::string& text,
                      Formula* formula);

// The roots of a call's arguments, first argument first.
std::vector<uint32_t> ArgumentRoots(const Formula& formula, uint32_t call);

// "A1"-style name of a cell, 0-based row and column.
std::string CellName(uint32_t row, uint16_t column);
// "Data!B3", or "'My data'!B3" where a formula must quote the sheet's name.
std::string SheetCellName(const std::string& sheet, uint32_t row, uint16_t column);

// The same names read back, as files write them (no '$'): "B3" as row 2, column 1; false for anything
// else or a cell off the sheet.
bool ParseCellName(std::string_view text, uint32_t* row, uint16_t* column);
// "A1:C3", corners in that order, or one cell standing for itself; area->sheet is left alone.
bool ParseCellArea(std::string_view text, Area* area);
// A row as the sheet numbers it from 1 ("12" is row 11).
bool ParseRowName(std::string_view text, uint32_t* row);
// An error value as written, "#N/A", as its code; false for an error the host does not know.
bool ParseErrorText(std::string_view text, uint16_t* code);

// The text in upper case: names are kept so where they are looked up by key, and text compares so.
std::string Upper(std::string text);
// TRUE or FALSE, in any case, as its value; false for any other word.
bool ReadBoolean(std::string_view word, bool* value);

}  // namespace quorin_host
