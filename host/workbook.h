// workbook.h - whole sheets read from CSV and recalculated through the substitute host, as the real
// host recalculates a workbook: formula cells not yet computed read as "uncalculated", a call whose
// reference the host answered uncalculated is made again in a later pass, and a pass that computes
// nothing while formulas remain means a circular reference. An array answer fills the cells to the
// right of its formula, as an array formula entered over a row does, up to the first cell that holds
// something of its own.
// A CSV cell holds a number, text, TRUE/FALSE, nothing, or a formula starting with '='.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/csv.h"
#include "host/formula.h"
#include "host/substitute_host.h"

namespace quorin_host {

struct EvaluatedSheet {
    uint32_t rows = 0;
    uint16_t columns = 0;
    std::vector<std::vector<std::string>> shown;  // rows x columns, each cell as the host shows it
    std::vector<std::string> problems;  // formulas that do not parse, circular references: the sheet fails
    std::vector<std::string> notes;     // host refusals (unknown function, argument count), clipped answers
};

// What a cell shows while it is part of a circular reference (the host itself would show 0).
constexpr const char* CircularText = "#CIRCULAR!";

// Loads the cells into host.sheet, replacing what it held, and computes every formula. fileName
// prefixes every message. False when the sheet has problems; shown is filled all the same.
bool EvaluateSheet(SubstituteHost& host, const CsvRows& cells, const std::string& fileName, EvaluatedSheet* sheet);

// The evaluated sheet as CSV (LF line ends, every row as wide as the sheet) or as an aligned table
// headed by column letters and row numbers.
std::string SheetCsv(const EvaluatedSheet& sheet);
std::string SheetTable(const EvaluatedSheet& sheet);

// Cells that differ between an evaluated sheet and its recorded answers, as "B3: gives X, expected Y";
// a missing cell counts as empty, so trailing empty cells and line ends do not matter.
std::vector<std::string> CompareSheet(const EvaluatedSheet& sheet, const CsvRows& expected);

}  // namespace quorin_host
