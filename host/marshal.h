// marshal.h - host values to and from the records the module reads, and calls of a procedure by the
// type text it registered (R: a record, B: a double, J: a 32-bit integer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "addin/host_api.h"
#include "host/cell_source.h"
#include "host/value.h"

namespace quorin_host {

// An argument as passed by value: a record pointer for R, a double for B, an int32 for J.
struct RawArgument {
    XLOPER* record = nullptr;
    double number = 0.0;
    int32_t integer = 0;
};

// The most rows or columns an array record can count (16 bits).
constexpr uint32_t MaxRecordCount = 65535;

// Calls a procedure with ready-made arguments; nullptr for a type text it has no call shape for.
XLOPER* InvokeProcedure(void* procedure, const std::string& typeText, const std::vector<RawArgument>& arguments);

// The module's counted string as text.
std::string CountedText(const char* counted);

// A scalar value (number, text, TRUE/FALSE, error, empty) as a record. Text is cut to the 255
// characters a counted string holds and stored in strings, which must outlive the record. False for
// an uncalculated cell, which no record can carry.
bool ScalarRecord(const Value& v, XLOPER* record, std::vector<std::vector<char>>* strings);

// An answer record as a host value (a copy).
Value ValueOfRecord(const XLOPER* record);
// A record the module passed in, references included, as a host value.
Value ValueOfArgument(const XLOPER* record);

// The number a B or J argument receives, as the host converts a value before the call, reading a
// reference's first cell from cells; false when the host refuses the value.
bool NumberArgument(const Value& v, const CellSource& cells, double* out);

// Records the host builds for a call's arguments, with everything they point to; valid until Clear.
class ArgumentRecords {
public:
    XLOPER* Make(const Value& v);
    void Clear();

private:
    std::vector<std::vector<XLOPER>> records_;
    std::vector<std::vector<char>> strings_;
    std::vector<std::vector<Area>> areas_;
};

}  // namespace quorin_host
