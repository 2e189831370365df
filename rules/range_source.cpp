// range_source.cpp - the argument buffers, the statics and a call's own, and their growth.
#include "rules/range_source.h"

#include <cstdlib>
#include <initializer_list>

RangeBuffer XBuffer;
RangeBuffer YBuffer;
RangeBuffer ZBuffer;
RangeBuffer XcBuffer;
RangeBuffer YcBuffer;

const RangeBuffers StaticRangeBuffers = {&XBuffer, &YBuffer, &ZBuffer, &XcBuffer, &YcBuffer};

// First capacity of a buffer, so that small ranges never reallocate.
constexpr int32_t InitialCapacity = 1024;

// The old block is released only once its successor exists, so a refused growth leaves the buffer
// as it was and usable by the next call.
bool GrowRangeBuffer(RangeBuffer* buffer, int32_t count)
{
    if (buffer->items != nullptr && count <= buffer->capacity) return true;
    int64_t wanted = (buffer->items == nullptr) ? InitialCapacity : 2 * static_cast<int64_t>(buffer->capacity);
    if (wanted < count) wanted = count;
    if (wanted > INT32_MAX) wanted = INT32_MAX;
    double* items = static_cast<double*>(std::calloc(static_cast<size_t>(wanted), sizeof(double)));
    if (items == nullptr) return false;
    std::free(buffer->items);
    buffer->items = items;
    buffer->capacity = static_cast<int32_t>(wanted);
    return true;
}

void ReleaseRangeBuffer(RangeBuffer* buffer)
{
    std::free(buffer->items);
    *buffer = RangeBuffer{};
}

void ReleaseRangeBuffers()
{
    for (RangeBuffer* buffer : {&XBuffer, &YBuffer, &ZBuffer, &XcBuffer, &YcBuffer}) ReleaseRangeBuffer(buffer);
}

RangeBuffers BuffersOf(CallBuffers* own)
{
    return RangeBuffers{&own->x, &own->y, &own->z, &own->xc, &own->yc};
}

void ReleaseCallBuffers(CallBuffers* own)
{
    for (RangeBuffer* buffer : {&own->x, &own->y, &own->z, &own->xc, &own->yc}) ReleaseRangeBuffer(buffer);
}
