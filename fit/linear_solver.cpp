// linear_solver.cpp - Gaussian elimination with complete pivoting, back substitution, column order undone.
#include "fit/linear_solver.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace {

// Row offsets are formed in size_t so that r * n cannot overflow int32_t for any n.
double* RowOf(double* A, int32_t r, int32_t n)
{
    return A + static_cast<size_t>(r) * static_cast<size_t>(n);
}

// Strict comparison keeps the first largest entry in row-major order. A NaN compares false,
// so (h, l) always stays inside the remaining block.
void FindPivot(double* A, int32_t n, int32_t k, int32_t* h, int32_t* l, double* g)
{
    *h = k;
    *l = k;
    *g = std::fabs(RowOf(A, k, n)[k]);
    for (int32_t r = k; r < n; ++r) {
        const double* row = RowOf(A, r, n);
        for (int32_t c = k; c < n; ++c) {
            const double magnitude = std::fabs(row[c]);
            if (magnitude > *g) {
                *g = magnitude;
                *h = r;
                *l = c;
            }
        }
    }
}

// Columns left of k in rows k and h hold stale multipliers that are never read, so only
// columns k .. n-1 move.
void SwapRows(double* A, double* b, int32_t n, int32_t k, int32_t h)
{
    const double bk = b[k];
    b[k] = b[h];
    b[h] = bk;
    double* rowK = RowOf(A, k, n);
    double* rowH = RowOf(A, h, n);
    for (int32_t c = k; c < n; ++c) {
        const double a = rowK[c];
        rowK[c] = rowH[c];
        rowH[c] = a;
    }
}

// A column swap renames the unknowns, so perm records which variable now sits at column k.
void SwapColumns(double* A, int32_t* perm, int32_t n, int32_t k, int32_t l)
{
    const int32_t p = perm[k];
    perm[k] = perm[l];
    perm[l] = p;
    for (int32_t r = 0; r < n; ++r) {
        double* row = RowOf(A, r, n);
        const double a = row[k];
        row[k] = row[l];
        row[l] = a;
    }
}

// The column loop starts at k + 1: A[j][k] is never read again, so it is left stale.
void EliminateBelow(double* A, double* b, int32_t n, int32_t k)
{
    const double* rowK = RowOf(A, k, n);
    for (int32_t j = k + 1; j < n; ++j) {
        double* rowJ = RowOf(A, j, n);
        const double m = rowJ[k] / rowK[k];
        const double mb = m * b[k];
        b[j] = b[j] - mb;
        for (int32_t c = k + 1; c < n; ++c) {
            const double ma = m * rowK[c];
            rowJ[c] = rowJ[c] - ma;
        }
    }
}

// The inner sum runs in ascending column order; the bit-exact answers depend on it.
void SubstituteBack(double* A, double* b, int32_t n)
{
    b[n - 1] = b[n - 1] / RowOf(A, n - 1, n)[n - 1];
    for (int32_t i = n - 2; i >= 0; --i) {
        const double* rowI = RowOf(A, i, n);
        double s = 0.0;
        for (int32_t c = i + 1; c < n; ++c) {
            const double term = b[c] * rowI[c];
            s = s + term;
        }
        const double residual = b[i] - s;
        b[i] = residual / rowI[i];
    }
}

// The first row of A is no longer needed after back substitution and serves as the copy of b.
void RestoreVariableOrder(double* A, double* b, const int32_t* perm, int32_t n)
{
    double* copy = A;
    for (int32_t k = 0; k < n; ++k) copy[k] = b[k];
    for (int32_t k = 0; k < n; ++k) b[perm[k]] = copy[k];
}

int32_t SolveWithCompletePivoting(double* A, double* b, int32_t n, int32_t* perm)
{
    for (int32_t k = 0; k < n; ++k) perm[k] = k;
    for (int32_t k = 0; k + 1 < n; ++k) {
        int32_t h = k;
        int32_t l = k;
        double g = 0.0;
        FindPivot(A, n, k, &h, &l, &g);
        if (g < PivotThreshold) return SolveZeroPivot;
        if (h != k) SwapRows(A, b, n, k, h);
        if (l != k) SwapColumns(A, perm, n, k, l);
        EliminateBelow(A, b, n, k);
    }
    if (std::fabs(RowOf(A, n - 1, n)[n - 1]) < PivotThreshold) return SolveZeroLastPivot;
    SubstituteBack(A, b, n);
    RestoreVariableOrder(A, b, perm, n);
    return SolveOk;
}

}  // namespace

int32_t SolveLinearSystem(double* A, double* b, int32_t n)
{
    int32_t status = SolveOk;
    int32_t* perm = nullptr;
    if (n < 1) {
        status = SolveEmpty;
    } else if (n == 1) {
        if (std::fabs(A[0]) < PivotThreshold) status = SolveZeroScalar;
        else b[0] = b[0] / A[0];
    } else if ((perm = static_cast<int32_t*>(std::calloc(static_cast<size_t>(n), sizeof(int32_t)))) == nullptr) {
        status = SolveNoStorage;
    } else {
        status = SolveWithCompletePivoting(A, b, n, perm);
    }
    std::free(perm);
    return status;
}
