// arguments.h - Calc's argument values as the rules take them, and the rules' answers as Calc's.
// A range is a Sequence of rows of Any: a double is a number; text, a blank (void) or anything else
// is not. A scalar converts as the add-in's host converts a cell for a number argument: a number as
// it is, a blank or an omitted argument as 0, text through the one number grammar, an array or a
// range through its first element; an integer argument is then truncated toward zero.
#pragma once

#include <cstdint>

#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/Sequence.hxx>

#include "rules/range_source.h"

namespace quorin_calc {

using Table = com::sun::star::uno::Sequence<com::sun::star::uno::Sequence<com::sun::star::uno::Any>>;
using Row = com::sun::star::uno::Sequence<com::sun::star::uno::Sequence<double>>;

// Calc reads a NaN whose payload's low 16 bits hold one of its error codes as that error in the cell.
constexpr uint32_t CalcNoValue = 519;             // #VALUE!: the host's refusal of a non-number argument
constexpr uint32_t CalcIllegalNumber = 503;       // #NUM!: an integer argument outside 32 bits
double ErrorValue(uint32_t code);                 // the double Calc shows as error code

// The tables of one call's range arguments, in the order the rules read them.
struct CallTables {
    const Table* tables[4];
};
// The RangeArguments that read call's tables.
RangeArguments TableArguments(CallTables* call);

// A scalar argument as a number; false where the host refuses it (then *error holds the Calc error).
bool ReadNumber(const com::sun::star::uno::Any& value, double* number, uint32_t* error);
// An integer argument: ReadNumber, then truncated toward zero; outside 32 bits it is refused with #NUM!.
bool ReadInteger(const com::sun::star::uno::Any& value, int32_t* integer, uint32_t* error);

}  // namespace quorin_calc
