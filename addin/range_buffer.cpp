// range_buffer.cpp - ReadRange and the five argument buffers.
#include "addin/range_buffer.h"

#include <cstdint>
#include <cstdlib>

#include <immintrin.h>

// Elements per block of CopyNumbers: small enough that a non-number is found soon after it, and that
// a visitor reads the block's 8 KB of values while they are still in cache; large enough that the
// per-block work (a call, the wide copy's alignment steps) is a few per cent of 1,000 values.
constexpr int32_t CopyBlock = ReadBlock;
// Elements per step of the unrolled copy: the values' loads and stores and the type words'
// checks of one step are independent of each other.
constexpr int32_t CopyStep = 8;

// No branch per element: the whole block is copied.
unsigned CopyBlockBaseline(const XLOPER* elements, double* items, int32_t n)
{
    unsigned strayTypes = 0;
    int32_t k = 0;
    for (; n - k >= CopyStep; k += CopyStep) {
        unsigned stepTypes = 0;
#pragma GCC unroll 8
        for (int32_t e = 0; e < CopyStep; ++e) {
            items[k + e] = elements[k + e].val.num;
            stepTypes |= static_cast<unsigned>(elements[k + e].xltype ^ xltypeNum);
        }
        strayTypes |= stepTypes;
    }
    for (; k < n; ++k) {
        items[k] = elements[k].val.num;
        strayTypes |= static_cast<unsigned>(elements[k].xltype ^ xltypeNum);
    }
    return strayTypes;
}

// Eight 24-byte records are three 64-byte vectors, the values in lanes {0,3,6} of the first, {1,4,7}
// of the second and {2,5} of the third, the type words in the other lanes' low 16 bits. Two
// two-source permutes gather the values in order; masked three-way logic ORs type ^ xltypeNum
// into the type lanes of stray only (0xF6 is stray | (record ^ numberType)). Moving doubles
// through vector registers changes no bit. words must be 64-byte aligned.
__attribute__((target("avx512f"), always_inline)) static inline __m512i CopyEightRecords(const double* words,
                                                                                          double* items, __m512i stray)
{
    const __m512i firstSix = _mm512_setr_epi64(0, 3, 6, 9, 12, 15, 0, 0);
    const __m512i lastTwo = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 10, 13);
    const __m512i numberType = _mm512_set1_epi64(xltypeNum);
    const __m512i z0 = _mm512_load_si512(words);
    const __m512i z1 = _mm512_load_si512(words + 8);
    const __m512i z2 = _mm512_load_si512(words + 16);
    const __m512i six = _mm512_permutex2var_epi64(z0, firstSix, z1);
    _mm512_storeu_si512(items, _mm512_permutex2var_epi64(six, lastTwo, z2));
    stray = _mm512_mask_ternarylogic_epi64(stray, 0x24, z0, numberType, 0xF6);
    stray = _mm512_mask_ternarylogic_epi64(stray, 0x49, z1, numberType, 0xF6);
    return _mm512_mask_ternarylogic_epi64(stray, 0x92, z2, numberType, 0xF6);
}

// Loads start on a 64-byte boundary once the baseline copy has taken the first few records (it takes
// the last few too); sixteen records a step, into two stray accumulators, keep the loads and the
// checks of a step independent. Few vectors are live, so nothing spills to the stack, which 64-bit
// Windows aligns to 16 bytes only.
__attribute__((target("avx512f"))) unsigned CopyBlockWide(const XLOPER* elements, double* items, int32_t n)
{
    int32_t k = 0;
    while (k < n && (reinterpret_cast<uintptr_t>(elements + k) & 63u) != 0) ++k;
    unsigned strayTypes = CopyBlockBaseline(elements, items, k);
    const double* words = reinterpret_cast<const double*>(elements);
    __m512i stray = _mm512_setzero_si512();
    __m512i strayOther = _mm512_setzero_si512();
    for (; n - k >= 16; k += 16) {
        stray = CopyEightRecords(words + (3 * k), items + k, stray);
        strayOther = CopyEightRecords(words + (3 * k) + 24, items + k + 8, strayOther);
    }
    if (n - k >= 8) {
        stray = CopyEightRecords(words + (3 * k), items + k, stray);
        k += 8;
    }
    const __m512i strays = _mm512_or_si512(stray, strayOther);
    strayTypes |= static_cast<unsigned>(_mm512_test_epi64_mask(strays, _mm512_set1_epi64(0xFFFF)));
    return strayTypes | CopyBlockBaseline(elements + k, items + k, n - k);  // the last n - k < 8
}

bool WideCopySupported()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
}

// Chosen once, when the module is loaded, by the processor it runs on; never changed afterwards.
static CopyBlockFunction* const CopyBlockChosen = WideCopySupported() ? CopyBlockWide : CopyBlockBaseline;

// Copies the values of elements[from .. count-1] into items block by block, handing each block to
// visit (when given) once it is checked; false if any element is not a number. A failed read may
// have overwritten items, and visited blocks, past the first non-number (callers never use them).
static bool CopyNumbers(const XLOPER* elements, double* items, int32_t from, int32_t count, BlockVisitor* visit,
                        void* context)
{
    for (int32_t first = from; first < count; first += CopyBlock) {
        const int32_t n = (count - first < CopyBlock) ? count - first : CopyBlock;
        if (CopyBlockChosen(elements + first, items + first, n) != 0) return false;
        if (visit != nullptr) visit(items + first, n, context);
    }
    return true;
}

static void ReleaseHostRecord(XLOPER* record)
{
    Excel4(xlFree, nullptr, 1, record);
}

static int32_t ReadValues(XLOPER* argument, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit, void* context)
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
    } else if (!GrowRangeBuffer(buffer, status)) {
        status = ReadNoStorage;
    } else {
        const XLOPER* elements = array.val.array.lparray;
        double* items = buffer->items;
        int32_t k = 0;
        if (zeroCorner) items[k++] = 0.0;
        if (!CopyNumbers(elements, items, k, status, visit, context)) status = ReadNotNumber;
    }
    ReleaseHostRecord(&array);
    return status;
}

int32_t ReadRange(XLOPER* argument, RangeBuffer* buffer, bool zeroCorner)
{
    return ReadValues(argument, buffer, zeroCorner, nullptr, nullptr);
}

int32_t ReadRangeVisiting(XLOPER* argument, RangeBuffer* buffer, BlockVisitor* visit, void* context)
{
    return ReadValues(argument, buffer, false, visit, context);
}

int32_t ReadRecordArgument(void* records, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit,
                           void* context)
{
    return ReadValues(static_cast<XLOPER**>(records)[index], buffer, zeroCorner, visit, context);
}

RangeArguments RecordArguments(XLOPER** records)
{
    return RangeArguments{ReadRecordArgument, records, StaticRangeBuffers};
}
