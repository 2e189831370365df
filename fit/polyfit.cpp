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
void AccumulateNormalEquations(const double* X, const double* Y, int32_t n, int32_t m, double* phi,
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
