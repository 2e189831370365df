// count.h - counts the values of an array lying in the half-open interval [low, high).
// NaN values and NaN bounds count nothing; low >= high gives 0.
#pragma once

#include <cstdint>

int32_t CountInInterval(const double* X, int32_t n, double low, double high);  // #{k < n : low <= X[k] < high}

// The two counts CountInInterval chooses between once, when the module loads; named here so that the
// identity test can compare both wherever both can run. Only x86-64 has the wide one.
typedef int32_t CountFunction(const double* X, int32_t n, double low, double high);
int32_t CountInIntervalBaseline(const double* X, int32_t n, double low, double high);  // any target
#if defined(__x86_64__)
int32_t CountInIntervalWide(const double* X, int32_t n, double low, double high);      // only if WideCountSupported()
bool WideCountSupported();  // the processor and the system support AVX-512F
#endif

// A running count over blocks handed over one after another, as ReadRangeVisiting hands them.
struct IntervalTally {
    double low;
    double high;
    int32_t inside;  // values counted so far
};
// Adds CountInInterval(X, n, low, high) to the IntervalTally that tally points to.
void TallyInInterval(const double* X, int32_t n, void* tally);
