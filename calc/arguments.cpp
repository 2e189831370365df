// arguments.cpp - Calc's values in, the rules' answers out.
#include "calc/arguments.h"

#include <cmath>
#include <cstring>

#include <rtl/ustring.hxx>

#include "rules/number.h"

namespace quorin_calc {

using com::sun::star::uno::Any;
using com::sun::star::uno::Sequence;
using com::sun::star::uno::TypeClass_BOOLEAN;
using com::sun::star::uno::TypeClass_DOUBLE;
using com::sun::star::uno::TypeClass_SEQUENCE;
using com::sun::star::uno::TypeClass_STRING;
using com::sun::star::uno::TypeClass_VOID;
using rtl::OString;
using rtl::OUString;

double ErrorValue(uint32_t code)
{
    const uint64_t bits = 0x7FF8000000000000ull | code;
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// Copies one row's values after the elements already read; false at the first non-number. An element
// that is a double reaches the buffer unchanged, so the rules see exactly the cell's bits.
static bool CopyRow(const Sequence<Any>& row, int32_t from, double* items)
{
    const Any* elements = row.getConstArray();
    for (int32_t c = from; c < row.getLength(); ++c) {
        if (elements[c].getValueTypeClass() != TypeClass_DOUBLE) return false;
        items[c] = *static_cast<const double*>(elements[c].getValue());
    }
    return true;
}

// Never throws: the rules calling it are built without exceptions.
static int32_t ReadTable(void* arguments, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit,
                         void* context) noexcept
{
    const Table& table = *static_cast<CallTables*>(arguments)->tables[index];
    const int32_t rows = table.getLength();
    const int32_t columns = (rows > 0) ? table[0].getLength() : 0;
    for (int32_t r = 1; r < rows; ++r) {
        if (table[r].getLength() != columns) return ReadNotRange;  // Calc sends rectangles only
    }
    const int64_t count = static_cast<int64_t>(rows) * columns;
    buffer->rows = rows;
    buffer->columns = columns;
    buffer->count = (count <= INT32_MAX) ? static_cast<int32_t>(count) : 0;
    if (count < 1) return ReadEmpty;
    if (count > INT32_MAX) return ReadTooLarge;
    if (!GrowRangeBuffer(buffer, static_cast<int32_t>(count))) return ReadNoStorage;

    double* items = buffer->items;
    // Blocks go to the visitor as the add-in's reader hands them: ReadBlock values, the last fewer.
    int32_t visited = 0;
    for (int32_t r = 0; r < rows; ++r) {
        double* rowItems = items + (static_cast<int64_t>(r) * columns);
        int32_t from = 0;
        if (zeroCorner && r == 0) {
            rowItems[0] = 0.0;
            from = 1;
        }
        if (!CopyRow(table[r], from, rowItems)) return ReadNotNumber;
        const int32_t read = (r + 1) * columns;
        while (visit != nullptr && (read - visited >= ReadBlock || (r + 1 == rows && read > visited))) {
            const int32_t n = (read - visited < ReadBlock) ? read - visited : ReadBlock;
            visit(items + visited, n, context);
            visited += n;
        }
    }
    return static_cast<int32_t>(count);
}

RangeArguments TableArguments(CallTables* call)
{
    return RangeArguments{ReadTable, call, StaticRangeBuffers};
}

bool ReadNumber(const Any& value, double* number, uint32_t* error)
{
    *error = CalcNoValue;
    switch (value.getValueTypeClass()) {
    case TypeClass_VOID: *number = 0.0; return true;
    case TypeClass_DOUBLE: *number = *static_cast<const double*>(value.getValue()); return true;
    case TypeClass_BOOLEAN: *number = *static_cast<const sal_Bool*>(value.getValue()) ? 1.0 : 0.0; return true;
    case TypeClass_STRING: {
        const OString text = OUStringToOString(*static_cast<const OUString*>(value.getValue()), RTL_TEXTENCODING_UTF8);
        return ParseNumber(std::string_view(text.getStr(), static_cast<size_t>(text.getLength())),
                                        number) == NumberRead::Ok;
    }
    case TypeClass_SEQUENCE: {
        // Calc hands over a range's values without its position, so the cell in the formula's row or
        // column cannot be picked as the host picks it: only a one-cell range is one number.
        Table table;
        if (!(value >>= table) || table.getLength() != 1 || table[0].getLength() != 1) return false;
        return ReadNumber(table[0][0], number, error);
    }
    default: return value >>= *number;
    }
}

bool ReadInteger(const Any& value, int32_t* integer, uint32_t* error)
{
    double number = 0.0;
    if (!ReadNumber(value, &number, error)) return false;
    if (!(std::fabs(number) < 2147483648.0)) {
        *error = CalcIllegalNumber;
        return false;
    }
    *integer = static_cast<int32_t>(number);
    return true;
}

}  // namespace quorin_calc
