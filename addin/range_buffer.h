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

// The value count (>= 1), or a ReadStatus. After a failure the buffer's items must not be used.
int32_t ReadRange(XLOPER* argument, RangeBuffer* buffer, bool zeroCorner);
// Returns the five buffers to their zeroed state; only when the module is unloaded.
void ReleaseRangeBuffers();
