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
// freed. Static so that recalculating a sheet does not allocate. Written only by a RangeReader, for
// the add-in's entry points, which the host calls one at a time.
extern RangeBuffer XBuffer;   // first range argument of every function (Polynomial: coefficients)
extern RangeBuffer YBuffer;   // y values
extern RangeBuffer ZBuffer;   // the Interp2 table
extern RangeBuffer XcBuffer;  // LLSQLC x constraints
extern RangeBuffer YcBuffer;  // LLSQLC y constraints

// The buffers one call reads its ranges into, by argument role.
struct RangeBuffers {
    RangeBuffer* x;
    RangeBuffer* y;
    RangeBuffer* z;
    RangeBuffer* xc;
    RangeBuffer* yc;
};
// The five statics above, for the doors whose calls never overlap (the add-in's, the Calc component's).
extern const RangeBuffers StaticRangeBuffers;

// Buffers of one call's own, for a door whose calls may run at once on several threads: zeroed, grown
// by the readers as the statics are, released by the door once the call has answered. A door may also
// stage a range into a role's buffer itself, so that its reader only answers the count and shape.
struct CallBuffers {
    RangeBuffer x, y, z, xc, yc;
};
RangeBuffers BuffersOf(CallBuffers* own);
void ReleaseCallBuffers(CallBuffers* own);

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
    void* arguments;       // the door's own description of the call, passed back to read
    RangeBuffers buffers;  // where the call's ranges are read into
};

// Values of a buffer block handed over at once.
constexpr int32_t ReadBlock = 1024;

// Makes room for count doubles; false, leaving the buffer as it was and usable, if storage is lacking.
bool GrowRangeBuffer(RangeBuffer* buffer, int32_t count);
// Returns a buffer to its zeroed state.
void ReleaseRangeBuffer(RangeBuffer* buffer);
// Returns the five statics to their zeroed state; only when the module is unloaded.
void ReleaseRangeBuffers();
