// range_buffer.h - reads a range or array argument into a reusable buffer of doubles, row-major.
// Accepts single- and multi-area references and arrays; everything else, an uncalculated or
// refused coercion, an empty array, or a non-number element fails with a negative status.
// With zeroCorner the first element is read as 0.0 whatever it holds (a table's unused corner).
#pragma once

#include "addin/host_api.h"

struct RangeBuffer {
    int32_t count;     // values read last time (columns x rows)
    int32_t capacity;  // doubles items can hold; 0 until first use
    int32_t columns;
    int32_t rows;
    double* items;
};

enum ReadStatus : int32_t {
    ReadNotRange = -826,      // not a reference or an array
    ReadUncalculated = -828,  // the coercion was refused: uncalculated cell, or any other reason
    ReadEmpty = -835,         // the coerced array holds no values
    ReadTooLarge = -840,      // more values than a buffer can hold
    ReadNoStorage = -845,     // the buffer could not grow
    ReadNotNumber = -867,     // an element (other than a zeroed corner) is not a number
};

// Argument buffers, one per argument role: zeroed at load, grown by ReadRange, never shrunk or
// freed. Static so that recalculating a sheet does not allocate. Written only by ReadRange.
extern RangeBuffer XBuffer;   // first range argument of every function (Polynomial: coefficients)
extern RangeBuffer YBuffer;   // y values
extern RangeBuffer ZBuffer;   // the Interp2 table
extern RangeBuffer XcBuffer;  // LLSQLC x constraints
extern RangeBuffer YcBuffer;  // LLSQLC y constraints

// Receives each block of values just read, at most 1,024, while they are still in the cache.
typedef void BlockVisitor(const double* items, int32_t n, void* context);

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

// Returns the five buffers to their zeroed state; only when the module is unloaded.
void ReleaseRangeBuffers();
