// cores_fuzz.cpp - the solver, the fits and the interpolation cores on arbitrary matrices and data.
// Every array is its own heap block of exactly the documented length, so that the address
// sanitizer reports a read or write one element past what a core may touch.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fit/linear_solver.h"
#include "fit/polyfit.h"
#include "fuzz/fuzz_input.h"
#include "interp/lagrange.h"
#include "interp/linear.h"
#include "interp/spline.h"
#include "interp/table.h"
#include "stats/count.h"

using quorin_fuzz::Integer;
using quorin_fuzz::Number;

namespace {

// Larger than any system a fit builds (20 terms plus constraints), small enough for fast inputs.
constexpr int32_t MaxOrder = 48;
constexpr int32_t MaxPoints = 600;

[[noreturn]] void Broken(const char* core, const char* rule)
{
    std::fprintf(stderr, "%s broke a rule: %s\n", core, rule);
    std::abort();
}

// Exactly count doubles (at least one block, so that a zero count still has an address).
std::unique_ptr<double[]> Doubles(FuzzedDataProvider& in, int32_t count, bool increasing = false)
{
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    std::unique_ptr<double[]> v(new double[n > 0 ? n : 1]);
    double at = Number(in);
    for (size_t k = 0; k < n; ++k) {
        if (increasing) {
            at = at + std::fabs(Number(in));
            v[k] = at;
        } else {
            v[k] = Number(in);
        }
    }
    return v;
}

// A count near the edges the cores test: negative, zero, one, the minimum they need, and beyond.
int32_t Count(FuzzedDataProvider& in, int32_t most)
{
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) return in.ConsumeIntegralInRange<int32_t>(-3, 0);
    return in.ConsumeIntegralInRange<int32_t>(1, most);
}

bool OneOf(int32_t status, std::initializer_list<int32_t> allowed)
{
    for (int32_t a : allowed) {
        if (status == a) return true;
    }
    return false;
}

void Solve(FuzzedDataProvider& in)
{
    const int32_t n = Count(in, MaxOrder);
    auto A = Doubles(in, n > 0 ? n * n : 0);
    auto b = Doubles(in, n);
    const int32_t status = SolveLinearSystem(A.get(), b.get(), n);
    if (!OneOf(status, {SolveOk, SolveEmpty, SolveZeroScalar, SolveZeroPivot, SolveZeroLastPivot})) {
        Broken("SolveLinearSystem", "a status outside its table");
    }
    if ((n < 1) != (status == SolveEmpty)) Broken("SolveLinearSystem", "empty status for a non-empty system");
}

void Fit(FuzzedDataProvider& in)
{
    const int32_t n = Count(in, MaxPoints);
    const int32_t m = in.ConsumeIntegralInRange<int32_t>(-1, 24);
    auto X = Doubles(in, n);
    auto Y = Doubles(in, n);
    auto coefficients = Doubles(in, m);
    const int32_t status = FitPolynomial(X.get(), Y.get(), n, coefficients.get(), m);
    if (!OneOf(status, {FitOk, FitFewTerms, FitFewPoints, FitSolverFailed})) Broken("FitPolynomial", "a status outside its table");
    if ((m < 2) != (status == FitFewTerms)) Broken("FitPolynomial", "term check");
}

void FitConstrained(FuzzedDataProvider& in)
{
    const int32_t n = Count(in, MaxPoints);
    const int32_t m = in.ConsumeIntegralInRange<int32_t>(-1, 24);
    int32_t k = Count(in, 24);
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) k = Integer(in);
    auto X = Doubles(in, n);
    auto Y = Doubles(in, n);
    auto Xc = Doubles(in, k < MaxPoints ? k : 0);
    auto Yc = Doubles(in, k < MaxPoints ? k : 0);
    auto coefficients = Doubles(in, m);
    // A constraint count larger than the arrays can only be refused before they are read.
    if (k >= MaxPoints && static_cast<int64_t>(k) + m <= n) return;
    const int32_t status = FitPolynomialConstrained(X.get(), Y.get(), n, m, Xc.get(), Yc.get(), k, coefficients.get());
    if (!OneOf(status, {ConstrainedFitOk, ConstrainedFitFewTerms, ConstrainedFitNoConstraints, ConstrainedFitFewPoints,
                        ConstrainedFitManyConstraints, ConstrainedFitSolverFailed})) {
        Broken("FitPolynomialConstrained", "a status outside its table");
    }
    // More constraints than terms make the bordered system singular whatever the pivots show.
    if (status == ConstrainedFitOk && k > m) Broken("FitPolynomialConstrained", "a fit with more constraints than terms");
}

void SplineCores(FuzzedDataProvider& in)
{
    const int32_t n = Count(in, MaxPoints);
    auto X = Doubles(in, n, in.ConsumeBool());
    auto Y = Doubles(in, n);
    double* coefficients = SplineCoefficients(X.get(), Y.get(), n);
    if (n < 2 && coefficients != nullptr) Broken("SplineCoefficients", "coefficients for fewer than two points");
    if (coefficients != nullptr) {
        for (int order = 0; order <= 4; ++order) (void)SplineEvaluate(X.get(), Y.get(), n, coefficients, Number(in), order);
        for (int32_t i = 0; i < n; ++i) (void)SplineEvaluate(X.get(), Y.get(), n, coefficients, X[static_cast<size_t>(i)], 0);
    }
    std::free(coefficients);
}

void Interpolations(FuzzedDataProvider& in)
{
    const int32_t n = in.ConsumeIntegralInRange<int32_t>(2, MaxPoints);
    auto X = Doubles(in, n, in.ConsumeBool());
    auto Y = Doubles(in, n);
    (void)InterpolateLinear(X.get(), Y.get(), n, Number(in), Integer(in));
    (void)InterpolateLagrange(X.get(), Y.get(), Count(in, n), Number(in));
    (void)EvaluatePolynomial(Y.get(), Count(in, n), Number(in));
    const int32_t counted = CountInInterval(X.get(), n, Number(in), Number(in));
    if (counted < 0 || counted > n) Broken("CountInInterval", "a count outside 0 .. n");
    const int32_t R = in.ConsumeIntegralInRange<int32_t>(3, 40);
    const int32_t C = in.ConsumeIntegralInRange<int32_t>(3, 40);
    auto table = Doubles(in, R * C);
    (void)InterpolateTable(table.get(), R, C, Number(in), Number(in), Integer(in));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: Solve(in); break;
    case 1: Fit(in); break;
    case 2: FitConstrained(in); break;
    case 3: SplineCores(in); break;
    default: Interpolations(in); break;
    }
    return 0;
}
