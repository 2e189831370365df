// range_buffer.cpp - ReadRange and the five argument buffers.
#include "addin/range_buffer.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

RangeBuffer XBuffer;
RangeBuffer YBuffer;
RangeBuffer ZBuffer;
RangeBuffer XcBuffer;
RangeBuffer YcBuffer;

// First capacity of a buffer, so that small ranges never reallocate.
constexpr int32_t InitialCapacity = 1024;

// Makes room for count doubles. The old block is released only once its successor exists, so a
// refused growth leaves the buffer as it was and usable by the next call.
static bool GrowBuffer(RangeBuffer* buffer, int32_t count)
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

// Elements per block of CopyNumbers: small enough that a non-number is found soon after it.
constexpr int32_t CopyBlock = 256;
// Elements per step of the unrolled copy: the values' loads and stores and the type words'
// checks of one step are independent of each other.
constexpr int32_t CopyStep = 8;

// Copies the values of elements[from .. count-1] into items; false if any of them is not a number.
// Each block is copied whole and its types checked together, without a branch per element, so a
// failed read may also have overwritten items past the first non-number (callers never read them).
static bool CopyNumbers(const XLOPER* elements, double* items, int32_t from, int32_t count)
{
    for (int32_t first = from; first < count; first += CopyBlock) {
        const int32_t last = (count - first < CopyBlock) ? count : first + CopyBlock;
        unsigned strayTypes = 0;
        int32_t k = first;
        for (; last - k >= CopyStep; k += CopyStep) {
            unsigned stepTypes = 0;
#pragma GCC unroll 8
            for (int32_t e = 0; e < CopyStep; ++e) {
                items[k + e] = elements[k + e].val.num;
                stepTypes |= static_cast<unsigned>(elements[k + e].xltype ^ xltypeNum);
            }
            strayTypes |= stepTypes;
        }
        for (; k < last; ++k) {
            items[k] = elements[k].val.num;
            strayTypes |= static_cast<unsigned>(elements[k].xltype ^ xltypeNum);
        }
        if (strayTypes != 0) return false;
    }
    return true;
}

static void ReleaseHostRecord(XLOPER* record)
{
    Excel4(xlFree, nullptr, 1, record);
}

int32_t ReadRange(XLOPER* argument, RangeBuffer* buffer, bool zeroCorner)
{
    if (argument == nullptr) return ReadNotRange;
    const uint16_t type = argument->xltype;
    if (type != xltypeRef && type != xltypeSRef && type != xltypeMulti) return ReadNotRange;

    XLOPER array = {};
    XLOPER targetType = {};
    targetType.xltype = xltypeInt;
    targetType.val.w = xltypeMulti;
    // Any refusal leaves the record unfilled: there is nothing to read and nothing to release.
    if (Excel4(xlCoerce, &array, 2, argument, &targetType) != xlretSuccess) return ReadUncalculated;
    if (array.xltype != xltypeMulti) {
        ReleaseHostRecord(&array);
        return ReadNotRange;
    }

    const int64_t count = static_cast<int64_t>(array.val.array.columns) * array.val.array.rows;
    buffer->columns = array.val.array.columns;
    buffer->rows = array.val.array.rows;
    buffer->count = (count <= INT32_MAX) ? static_cast<int32_t>(count) : 0;
    int32_t status = static_cast<int32_t>(count);
    if (count < 1 || array.val.array.lparray == nullptr) {
        status = ReadEmpty;
    } else if (count > INT32_MAX) {
        status = ReadTooLarge;
    } else if (!GrowBuffer(buffer, status)) {
        status = ReadNoStorage;
    } else {
        const XLOPER* elements = array.val.array.lparray;
        double* items = buffer->items;
        int32_t k = 0;
        if (zeroCorner) items[k++] = 0.0;
        if (!CopyNumbers(elements, items, k, status)) status = ReadNotNumber;
    }
    ReleaseHostRecord(&array);
    return status;
}

void ReleaseRangeBuffers()
{
    for (RangeBuffer* buffer : {&XBuffer, &YBuffer, &ZBuffer, &XcBuffer, &YcBuffer}) {
        std::free(buffer->items);
        *buffer = RangeBuffer{};
    }
}
