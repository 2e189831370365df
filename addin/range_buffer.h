// range_buffer.h - reads a range or array argument into a reusable buffer of doubles, row-major.
// Accepts single- and multi-area references and arrays; everything else, an uncalculated or
// refused coercion, an empty array, or a non-number element fails with a negative status.
// With zeroCorner the first element is read as 0.0 whatever it holds (a table's unused corner).
#pragma once

#include "addin/host_api.h"
#include "rules/range_source.h"

// Reads range argument index of a call whose ranges are an array of records (XLOPER*[]): ReadValues
// of records[index], the RangeReader the entry points hand to the rules.
int32_t ReadRecordArgument(void* records, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit,
                           void* context);
// The RangeArguments of a call whose range arguments are records[0], records[1], ...
RangeArguments RecordArguments(XLOPER** records);

// The value count (>= 1), or a ReadStatus. After a failure the buffer's items must not be used.
int32_t ReadRange(XLOPER* argument, RangeBuffer* buffer, bool zeroCorner);
// ReadRange without a zeroed corner, handing every block to visit in order; after a failure, what
// visit received must not be used either.
int32_t ReadRangeVisiting(XLOPER* argument, RangeBuffer* buffer, BlockVisitor* visit, void* context);
// The block copies ReadRange chooses between once, when the module loads. Each copies the values of
// n records into items and answers zero when all n are numbers, nonzero otherwise (the baseline
// answers the OR of every type word XOR xltypeNum). Named here so that the identity test can compare both wherever both can run.
typedef unsigned CopyBlockFunction(const XLOPER* elements, double* items, int32_t n);
unsigned CopyBlockBaseline(const XLOPER* elements, double* items, int32_t n);  // baseline x86-64
unsigned CopyBlockWide(const XLOPER* elements, double* items, int32_t n);      // only if WideCopySupported()
bool WideCopySupported();  // the processor and the system support AVX-512F
