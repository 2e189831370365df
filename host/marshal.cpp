// marshal.cpp - records built from host values, answers read back, calls shaped by the type text.
#include "host/marshal.h"

#include <algorithm>
#include <cstring>

#include "rules/number.h"

namespace quorin_host {

XLOPER* InvokeProcedure(void* p, const std::string& t, const std::vector<RawArgument>& a)
{
    using X = XLOPER*;
    auto R = [&](size_t i) { return a[i].record; };
    auto B = [&](size_t i) { return a[i].number; };
    auto J = [&](size_t i) { return a[i].integer; };
    if (a.size() + 1 != t.size()) return nullptr;
    if (t == "R") return reinterpret_cast<X (*)()>(p)();
    if (t == "RJ") return reinterpret_cast<X (*)(int32_t)>(p)(J(0));
    if (t == "RR") return reinterpret_cast<X (*)(X)>(p)(R(0));
    if (t == "RBB") return reinterpret_cast<X (*)(double, double)>(p)(B(0), B(1));
    if (t == "RRB") return reinterpret_cast<X (*)(X, double)>(p)(R(0), B(1));
    if (t == "RRBB") return reinterpret_cast<X (*)(X, double, double)>(p)(R(0), B(1), B(2));
    if (t == "RRRB") return reinterpret_cast<X (*)(X, X, double)>(p)(R(0), R(1), B(2));
    if (t == "RRRJ") return reinterpret_cast<X (*)(X, X, int32_t)>(p)(R(0), R(1), J(2));
    if (t == "RRRBJ") return reinterpret_cast<X (*)(X, X, double, int32_t)>(p)(R(0), R(1), B(2), J(3));
    if (t == "RRBBJ") return reinterpret_cast<X (*)(X, double, double, int32_t)>(p)(R(0), B(1), B(2), J(3));
    if (t == "RRRJRR") return reinterpret_cast<X (*)(X, X, int32_t, X, X)>(p)(R(0), R(1), J(2), R(3), R(4));
    return nullptr;
}

std::string CountedText(const char* counted)
{
    if (counted == nullptr) return "";
    return std::string(counted + 1, static_cast<unsigned char>(counted[0]));
}

bool ScalarRecord(const Value& v, XLOPER* record, std::vector<std::vector<char>>* strings)
{
    switch (v.kind) {
    case Kind::Number: record->xltype = xltypeNum; record->val.num = v.number; return true;
    case Kind::Boolean: record->xltype = xltypeBool; record->val.w = v.boolean ? 1 : 0; return true;
    case Kind::Error: record->xltype = xltypeErr; record->val.err = v.error; return true;
    case Kind::Uncalculated: return false;
    case Kind::Text: {
        const size_t length = std::min<size_t>(v.text.size(), 255);
        std::vector<char> counted(length + 1);
        counted[0] = static_cast<char>(length);
        std::memcpy(counted.data() + 1, v.text.data(), length);
        strings->push_back(std::move(counted));
        record->xltype = xltypeStr;
        record->val.str = strings->back().data();
        return true;
    }
    default: record->xltype = xltypeNil; return true;
    }
}

Value ValueOfRecord(const XLOPER* record)
{
    if (record == nullptr) return Value::Error(xlerrNull);
    switch (record->xltype & 0x0FFF) {
    case xltypeNum: return Value::Number(record->val.num);
    case xltypeInt: return Value::Number(record->val.w);
    case xltypeBool: return Value::Boolean(record->val.w != 0);
    case xltypeErr: return Value::Error(record->val.err);
    case xltypeStr: return Value::Text(CountedText(record->val.str));
    case xltypeMulti: {
        const int32_t rows = record->val.array.rows, columns = record->val.array.columns;
        std::vector<Value> elements;
        elements.reserve(static_cast<size_t>(rows) * static_cast<size_t>(columns));
        for (int32_t k = 0; k < rows * columns; ++k) elements.push_back(ValueOfRecord(&record->val.array.lparray[k]));
        return Value::Array(rows, columns, std::move(elements));
    }
    default: return Value{};
    }
}

Value ValueOfArgument(const XLOPER* record)
{
    const uint16_t type = record->xltype & 0x0FFF;
    if (type == xltypeSRef) {
        Area a;
        std::memcpy(&a, record->val.area, sizeof(Area));
        return Value::Reference({a});
    }
    if (type == xltypeRef) {
        const Area* areas = nullptr;
        uint32_t count = 0;
        std::memcpy(&areas, record->val.area, sizeof(areas));
        std::memcpy(&count, record->val.area + sizeof(areas), sizeof(count));
        return Value::Reference(std::vector<Area>(areas, areas + count));
    }
    return ValueOfRecord(record);
}

bool NumberArgument(const Value& v, const CellSource& cells, double* out)
{
    switch (v.kind) {
    case Kind::Number: *out = v.number; return true;
    case Kind::Boolean: *out = v.boolean ? 1.0 : 0.0; return true;
    case Kind::Empty: *out = 0.0; return true;
    case Kind::Text: return ParseNumber(v.text, out) == NumberRead::Ok;
    case Kind::Array: return !v.elements.empty() && NumberArgument(v.elements[0], cells, out);
    case Kind::Reference: {
        if (v.areas.size() != 1) return false;
        const Area& a = v.areas[0];
        const Value& cell = cells.CellAt(a.sheet, a.rowFirst, a.columnFirst);
        // A cell holding a reference would loop; no cell keeps one.
        return cell.kind != Kind::Reference && NumberArgument(cell, cells, out);
    }
    default: return false;
    }
}

XLOPER* ArgumentRecords::Make(const Value& v)
{
    records_.emplace_back(1);
    XLOPER* record = records_.back().data();
    switch (v.kind) {
    case Kind::Uncalculated: record->xltype = xltypeNil; break;
    case Kind::Array: {
        // The record counts rows and columns in 16 bits: a larger array cannot be passed at all.
        if (v.rows < 0 || v.columns < 0 || static_cast<uint32_t>(v.rows) > MaxRecordCount ||
            static_cast<uint32_t>(v.columns) > MaxRecordCount ||
            v.elements.size() != static_cast<size_t>(v.rows) * static_cast<size_t>(v.columns)) {
            record->xltype = xltypeErr;
            record->val.err = xlerrValue;
            break;
        }
        std::vector<XLOPER> elements(v.elements.size());
        for (size_t k = 0; k < v.elements.size(); ++k) {
            const Value& e = v.elements[k];
            if (e.kind == Kind::Array || e.kind == Kind::Reference) elements[k] = *Make(e);
            else if (!ScalarRecord(e, &elements[k], &strings_)) elements[k].xltype = xltypeNil;
        }
        records_.push_back(std::move(elements));
        record->xltype = xltypeMulti;
        record->val.array.lparray = records_.back().data();
        record->val.array.rows = static_cast<uint16_t>(v.rows);
        record->val.array.columns = static_cast<uint16_t>(v.columns);
        break;
    }
    case Kind::Reference:
        // Host-private layouts: one area in place, or a pointer to the areas and their count.
        if (v.areas.size() == 1 && !v.multiArea) {
            record->xltype = xltypeSRef;
            std::memcpy(record->val.area, &v.areas[0], sizeof(Area));
        } else {
            areas_.push_back(v.areas);
            const Area* areas = areas_.back().data();
            const uint32_t count = static_cast<uint32_t>(v.areas.size());
            record->xltype = xltypeRef;
            std::memcpy(record->val.area, &areas, sizeof(areas));
            std::memcpy(record->val.area + sizeof(areas), &count, sizeof(count));
        }
        break;
    default: ScalarRecord(v, record, &strings_); break;
    }
    return record;
}

void ArgumentRecords::Clear()
{
    records_.clear();
    strings_.clear();
    areas_.clear();
}

}  // namespace quorin_host
