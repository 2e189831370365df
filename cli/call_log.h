// call_log.h - an add-in call as one line of JSON, the arguments as a custom function receives them,
// so that another door's tests can make the same calls and compare their answers with this one's.
#pragma once

#include <string>
#include <vector>

#include "host/cell_source.h"
#include "host/value.h"

namespace quorin_host {

// {"function": name, "arguments": [...], "addresses": [...], "answer": [...]}. A range argument (type
// text 'R') is its rows, every element a number, text, true/false, null (empty) or {"error": "#N/A"};
// a reference where a number belongs is its one cell's value, or its rows; an argument left out is
// {"missing": true}. addresses[i] is the reference's address on sheet, "Data!$A$2:$A$9", or null.
// answer holds the answer's cells as a cell shows them (a row answer: each of its cells).
std::string CallJson(const CellSource& cells, const std::string& sheet, const std::string& typeText,
                     const std::string& name, const std::vector<Value>& arguments, const Value& answer);

}  // namespace quorin_host
