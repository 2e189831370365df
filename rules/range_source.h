// range_source.h - the values of a range argument as the rules see them, whichever host read them:
// a reusable buffer of doubles (row-major), the reader a door hands to the rules, and the statuses a
// reader answers. Nothing here knows a host's records.
#pragma once

#include <cstdint>

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

// Argument buffers, one per argument role: zeroed at load, grown by the readers, never shrunk or
// freed. Static so that recalculating a sheet does not allocate. Written only by a RangeReader.
extern RangeBuffer XBuffer;   // first range argument of every function (Polynomial: coefficients)
extern RangeBuffer YBuffer;   // y values
extern RangeBuffer ZBuffer;   // the Interp2 table
extern RangeBuffer XcBuffer;  // LLSQLC x constraints
extern RangeBuffer YcBuffer;  // LLSQLC y constraints

// Receives each block of values just read, at most 1,024, while they are still in the cache.
typedef void BlockVisitor(const double* items, int32_t n, void* context);

// Reads range argument index (0 for a function's first range argument, 1 for its second, ...) of
// the call that arguments describes into buffer, rows x columns, the first element read as 0.0 when
// zeroCorner, handing each checked block to visit when given. Answers the value count (>= 1) or a
// ReadStatus; after a failure neither the buffer's items nor what visit received may be used.
typedef int32_t RangeReader(void* arguments, int32_t index, RangeBuffer* buffer, bool zeroCorner,
                            BlockVisitor* visit, void* context);
struct RangeArguments {
    RangeReader* read;
    void* arguments;  // the door's own description of the call, passed back to read
};

// Values of a buffer block handed over at once.
constexpr int32_t ReadBlock = 1024;

// Makes room for count doubles; false, leaving the buffer as it was and usable, if storage is lacking.
bool GrowRangeBuffer(RangeBuffer* buffer, int32_t count);
// Returns the five buffers to their zeroed state; only when the module is unloaded.
void ReleaseRangeBuffers();
