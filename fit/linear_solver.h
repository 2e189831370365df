// linear_solver.h - dense A x = b by Gaussian elimination with complete pivoting.
// A holds n x n doubles row-major (A[r][c] at r * n + c) and is destroyed; b holds n doubles and
// on success is overwritten with x. On failure b is left partly transformed.
// The pivot is the first largest remaining |A[r][c]| in row-major order over the remaining block;
// a pivot below PivotThreshold counts as zero. NaN entries yield NaN answers, not failures.
#pragma once

#include <cstdint>

// 2^-126, the smallest normal single-precision magnitude: a pivot below it counts as zero.
constexpr double PivotThreshold = 0x1p-126;

enum SolveStatus : int32_t {
    SolveOk            = 0,
    SolveEmpty         = 544,  // n < 1
    SolveZeroScalar    = 549,  // n == 1 and |A[0][0]| below PivotThreshold
    SolveNoStorage     = 554,  // column order record not obtained
    SolveZeroPivot     = 578,  // largest remaining entry below PivotThreshold
    SolveZeroLastPivot = 617,  // last diagonal entry below PivotThreshold
};

// SolveOk with x in b, or the SolveStatus of the failure site.
int32_t SolveLinearSystem(double* A, double* b, int32_t n);
