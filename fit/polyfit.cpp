// polyfit.cpp - normal equations of a polynomial fit, bordered by constraint rows when asked.
#include "fit/polyfit.h"

#include <cstddef>
#include <cstdlib>

#include "fit/linear_solver.h"

namespace {

// Powers by repeated multiplication, not std::pow: the fitted bits depend on it.
void BuildBasisRow(double x, int32_t m, double* phi)
{
    phi[0] = 1.0;
    for (int32_t j = 1; j < m; ++j) phi[j] = phi[j - 1] * x;
}

// Points are added one at a time in input order; the sums are order-dependent. The m x m block
// sits in the top-left corner of a matrix whose rows are stride doubles apart.
void AccumulateNormalEquationsPointwise(const double* X, const double* Y, int32_t n, int32_t m, double* phi,
                                        double* A, int32_t stride, double* r)
{
    for (int32_t i = 0; i < n; ++i) {
        BuildBasisRow(X[i], m, phi);
        for (int32_t j = 0; j < m; ++j) {
            const double yPhi = Y[i] * phi[j];
            r[j] = r[j] + yPhi;
            double* row = A + static_cast<size_t>(j) * static_cast<size_t>(stride);
            for (int32_t c = 0; c < m; ++c) {
                const double product = phi[c] * phi[j];
                row[c] = row[c] + product;
            }
        }
    }
}

// The blocked accumulation below serves m up to BlockedTerms; a block holds BlockPoints basis rows,
// each BlockWidth wide: the m powers, then y (so r[j] is column m of the same sums), then zeros
// that the last column tile may overhang.
constexpr int32_t BlockedTerms = 20;
constexpr int32_t BlockPoints = 32;
constexpr int32_t BlockWidth = 28;
constexpr int32_t TileColumns = 8;  // the wide tile: four pairs of columns

// Two doubles side by side, so that one instruction multiplies or adds both; each lane still
// rounds exactly as the scalar operation would.
typedef double Pair __attribute__((vector_size(16)));

Pair LoadPair(const double* p)
{
    Pair v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

void StorePair(double* p, Pair v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// Sums for rows j0, j0 + 1 and columns c0 .. c0 + 2 * Pairs - 1 of G over the block's points, in
// point order: every sum still receives its products one point after another, as the pointwise
// loop adds them, but the sums stay in registers across the block instead of in memory.
template <int32_t Pairs>
void AccumulateTile(const double (*P)[BlockWidth], int32_t count, int32_t j0, int32_t c0,
                    double (*G)[BlockWidth])
{
    Pair upper[Pairs];
    Pair lower[Pairs];
#pragma GCC unroll 4
    for (int32_t q = 0; q < Pairs; ++q) {
        upper[q] = LoadPair(&G[j0][c0 + 2 * q]);
        lower[q] = LoadPair(&G[j0 + 1][c0 + 2 * q]);
    }
    for (int32_t i = 0; i < count; ++i) {
        const double* row = P[i];
        const Pair a = {row[j0], row[j0]};
        const Pair b = {row[j0 + 1], row[j0 + 1]};
#pragma GCC unroll 4
        for (int32_t q = 0; q < Pairs; ++q) {
            const Pair p = LoadPair(row + c0 + 2 * q);
            upper[q] = upper[q] + (p * a);
            lower[q] = lower[q] + (p * b);
        }
    }
#pragma GCC unroll 4
    for (int32_t q = 0; q < Pairs; ++q) {
        StorePair(&G[j0][c0 + 2 * q], upper[q]);
        StorePair(&G[j0 + 1][c0 + 2 * q], lower[q]);
    }
}

// Same sums, same order per sum, as the pointwise loop. A is symmetric and phi_c * phi_j equals
// phi_j * phi_c exactly, so only the upper half (from the tile holding the diagonal) is summed and
// then mirrored. The sums start from A's and r's zeros. phi ends as the last point's basis row.
void AccumulateNormalEquationsBlocked(const double* X, const double* Y, int32_t n, int32_t m, double* phi,
                                      double* A, int32_t stride, double* r)
{
    alignas(16) double P[BlockPoints][BlockWidth] = {};
    alignas(16) double G[BlockWidth][BlockWidth] = {};
    for (int32_t first = 0; first < n; first += BlockPoints) {
        const int32_t count = (n - first < BlockPoints) ? n - first : BlockPoints;
        for (int32_t i = 0; i < count; ++i) {
            BuildBasisRow(X[first + i], m, P[i]);
            P[i][m] = Y[first + i];
        }
        for (int32_t j0 = 0; j0 < m; j0 += 2) {
            // Eight columns at a time; a last stretch of four or fewer takes the narrow tile.
            for (int32_t c0 = j0; c0 <= m; c0 += TileColumns) {
                if (m - c0 < 4) AccumulateTile<2>(P, count, j0, c0, G);
                else AccumulateTile<4>(P, count, j0, c0, G);
            }
        }
        if (first + count == n) {
            for (int32_t j = 0; j < m; ++j) phi[j] = P[count - 1][j];
        }
    }
    for (int32_t j = 0; j < m; ++j) {
        double* row = A + static_cast<size_t>(j) * static_cast<size_t>(stride);
        for (int32_t c = j; c < m; ++c) {
            row[c] = G[j][c];
            A[static_cast<size_t>(c) * static_cast<size_t>(stride) + static_cast<size_t>(j)] = G[j][c];
        }
        r[j] = G[j][m];
    }
}

void AccumulateNormalEquations(const double* X, const double* Y, int32_t n, int32_t m, double* phi,
                               double* A, int32_t stride, double* r)
{
    if (m <= BlockedTerms) AccumulateNormalEquationsBlocked(X, Y, n, m, phi, A, stride, r);
    else AccumulateNormalEquationsPointwise(X, Y, n, m, phi, A, stride, r);
}

// Row m + q and column m + q hold the basis of constraint q; the bottom-right block stays zero.
void BorderWithConstraints(const double* Xc, const double* Yc, int32_t k, int32_t m, double* phi,
                           double* A, int32_t s, double* r)
{
    for (int32_t q = 0; q < k; ++q) {
        BuildBasisRow(Xc[q], m, phi);
        const size_t border = static_cast<size_t>(m) + static_cast<size_t>(q);
        r[border] = Yc[q];
        for (int32_t j = 0; j < m; ++j) {
            A[border * static_cast<size_t>(s) + static_cast<size_t>(j)] = phi[j];
            A[static_cast<size_t>(j) * static_cast<size_t>(s) + border] = phi[j];
        }
    }
}

// Square scratch matrices are sized in size_t: s * s overflows int32_t from s = 46341 on.
double* AllocateSquare(int32_t s)
{
    return static_cast<double*>(std::calloc(static_cast<size_t>(s) * static_cast<size_t>(s), sizeof(double)));
}

double* AllocateVector(int32_t s)
{
    return static_cast<double*>(std::calloc(static_cast<size_t>(s), sizeof(double)));
}

}  // namespace

int32_t FitPolynomial(const double* X, const double* Y, int32_t n, double* coefficients, int32_t m)
{
    int32_t status = FitOk;
    double* r = nullptr;
    double* A = nullptr;
    if (m < 2) {
        status = FitFewTerms;
    } else if (n < m) {
        status = FitFewPoints;
    } else if ((r = AllocateVector(m)) == nullptr) {
        status = FitNoRhsStorage;
    } else if ((A = AllocateSquare(m)) == nullptr) {
        status = FitNoMatrixStorage;
    } else {
        AccumulateNormalEquations(X, Y, n, m, coefficients, A, m, r);
        if (SolveLinearSystem(A, r, m) != 0) {
            status = FitSolverFailed;
        } else {
            for (int32_t j = 0; j < m; ++j) coefficients[j] = r[j];
        }
    }
    std::free(A);
    std::free(r);
    return status;
}

int32_t FitPolynomialConstrained(const double* X, const double* Y, int32_t n, int32_t m,
                                 const double* Xc, const double* Yc, int32_t k, double* coefficients)
{
    int32_t status = ConstrainedFitOk;
    double* r = nullptr;
    double* A = nullptr;
    // m + k is compared in 64 bits; once n >= m + k holds, s fits in int32_t because n does.
    const int64_t size = static_cast<int64_t>(m) + static_cast<int64_t>(k);
    if (m < 2) {
        status = ConstrainedFitFewTerms;
    } else if (k < 1) {
        status = ConstrainedFitNoConstraints;
    } else if (static_cast<int64_t>(n) < size) {
        status = ConstrainedFitFewPoints;
    } else if (k > m) {
        // k constraint rows in m unknowns are dependent: the bordered system is singular, though
        // rounding may hide that from the pivot test. Refusing it also keeps s at 2 * MaxTerms.
        status = ConstrainedFitManyConstraints;
    } else {
        const int32_t s = static_cast<int32_t>(size);
        if ((r = AllocateVector(s)) == nullptr) {
            status = ConstrainedFitNoRhsStorage;
        } else if ((A = AllocateSquare(s)) == nullptr) {
            status = ConstrainedFitNoMatrixStorage;
        } else {
            AccumulateNormalEquations(X, Y, n, m, coefficients, A, s, r);
            BorderWithConstraints(Xc, Yc, k, m, coefficients, A, s, r);
            if (SolveLinearSystem(A, r, s) != 0) {
                status = ConstrainedFitSolverFailed;
            } else {
                for (int32_t j = 0; j < m; ++j) coefficients[j] = r[j];
            }
        }
    }
    std::free(A);
    std::free(r);
    return status;
}
