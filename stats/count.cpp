// count.cpp - interval count over a value array, in buffer order.
#include "stats/count.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Two values, and their two comparison results (all ones or zero), side by side: one
// instruction compares both. The count is an integer, so the pairing cannot change it.
typedef double Pair __attribute__((vector_size(16)));
typedef long long PairMask __attribute__((vector_size(16)));

}  // namespace

int32_t CountInIntervalBaseline(const double* X, int32_t n, double low, double high)
{
    // Both comparisons every time and no branch: on unsorted data a branch per value
    // mispredicts about as often as the value falls inside. A NaN compares false either way.
    const Pair lows = {low, low};
    const Pair highs = {high, high};
    PairMask insideMasks = {0, 0};
    int32_t k = 0;
    for (; n - k >= 2; k += 2) {
        Pair v;
        __builtin_memcpy(&v, X + k, sizeof v);
        const PairMask inside = (v >= lows) & (v < highs);
        insideMasks = insideMasks - inside;
    }
    int32_t count = static_cast<int32_t>(insideMasks[0] + insideMasks[1]);
    for (; k < n; ++k) {
        const bool inside = (X[k] >= low) & (X[k] < high);
        count += static_cast<int32_t>(inside);
    }
    return count;
}

#if defined(__x86_64__)
// Eight values per comparison into a mask; the second comparison only where the first held, and one
// added to a lane's count where both did. The ordered comparisons are C's >= and <: false for NaN.
__attribute__((target("avx512f"))) int32_t CountInIntervalWide(const double* X, int32_t n, double low, double high)
{
    const __m512d lows = _mm512_set1_pd(low);
    const __m512d highs = _mm512_set1_pd(high);
    const __m512i ones = _mm512_set1_epi64(1);
    __m512i counts = _mm512_setzero_si512();
    int32_t k = 0;
    for (; n - k >= 8; k += 8) {
        const __m512d v = _mm512_loadu_pd(X + k);
        const __mmask8 atLeastLow = _mm512_cmp_pd_mask(v, lows, _CMP_GE_OQ);
        const __mmask8 inside = _mm512_mask_cmp_pd_mask(atLeastLow, v, highs, _CMP_LT_OQ);
        counts = _mm512_mask_add_epi64(counts, inside, counts, ones);
    }
    // An unaligned store: 64-bit Windows keeps the stack aligned to 16 bytes only.
    long long laneCounts[8];
    _mm512_storeu_si512(laneCounts, counts);
    int32_t count = CountInIntervalBaseline(X + k, n - k, low, high);  // the last n % 8
    for (long long laneCount : laneCounts) count += static_cast<int32_t>(laneCount);
    return count;
}

bool WideCountSupported()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
}

// Chosen once, when the module is loaded, by the processor it runs on; never changed afterwards.
static CountFunction* const CountChosen = WideCountSupported() ? CountInIntervalWide : CountInIntervalBaseline;
#else
// Elsewhere (WebAssembly) there is no wider path to choose.
static CountFunction* const CountChosen = CountInIntervalBaseline;
#endif

int32_t CountInInterval(const double* X, int32_t n, double low, double high)
{
    return CountChosen(X, n, low, high);
}

void TallyInInterval(const double* X, int32_t n, void* tally)
{
    IntervalTally* interval = static_cast<IntervalTally*>(tally);
    interval->inside += CountInInterval(X, n, interval->low, interval->high);
}
