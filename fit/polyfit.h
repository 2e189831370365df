// polyfit.h - polynomial least squares by the normal equations, optionally bordered with equality
// constraints (Lagrange multipliers), solved with SolveLinearSystem.
// X and Y hold n points; coefficients receives m terms, constant first, and must hold at least m
// doubles: it also serves as scratch for each point's basis row (1, x, x^2, ..., x^(m-1)), so it
// is overwritten even when the fit fails. Constraints: Xc and Yc hold k points the fit must pass through.
#pragma once

#include <cstdint>

enum FitStatus : int32_t {
    FitOk              = 0,
    FitFewTerms        = 641,  // m < 2
    FitFewPoints       = 643,  // n < m
    FitNoRhsStorage    = 645,  // right-hand side not obtained
    FitNoMatrixStorage = 649,  // m x m matrix not obtained
    FitSolverFailed    = 667,  // the normal equations are singular to the solver
};

enum ConstrainedFitStatus : int32_t {
    ConstrainedFitOk              = 0,
    ConstrainedFitFewTerms        = 712,  // m < 2
    ConstrainedFitNoConstraints   = 714,  // k < 1
    ConstrainedFitFewPoints       = 717,  // n < m + k
    ConstrainedFitManyConstraints = 719,  // k > m: the last k columns have rank m at most
    ConstrainedFitNoRhsStorage    = 722,  // right-hand side not obtained
    ConstrainedFitNoMatrixStorage = 726,  // (m + k) x (m + k) matrix not obtained
    ConstrainedFitSolverFailed    = 765,  // the bordered system is singular to the solver
};

// FitOk with the m least-squares coefficients in coefficients, or the FitStatus of the failure site.
int32_t FitPolynomial(const double* X, const double* Y, int32_t n, double* coefficients, int32_t m);
// ConstrainedFitOk with m coefficients through every (Xc[q], Yc[q]), or a ConstrainedFitStatus.
int32_t FitPolynomialConstrained(const double* X, const double* Y, int32_t n, int32_t m,
                                 const double* Xc, const double* Yc, int32_t k, double* coefficients);
