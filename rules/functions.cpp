// functions.cpp - each worksheet function's reads, checks and core call, for every door.
#include "rules/functions.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "fit/linear_solver.h"
#include "fit/polyfit.h"
#include "interp/lagrange.h"
#include "interp/linear.h"
#include "interp/spline.h"
#include "interp/table.h"
#include "stats/count.h"
#include "stats/random.h"
#include "stats/student_t.h"

static int32_t ReadArgument(const RangeArguments& ranges, int32_t index, RangeBuffer* buffer, bool zeroCorner)
{
    return ranges.read(ranges.arguments, index, buffer, zeroCorner, nullptr, nullptr);
}

// x is read and checked before y is read: a door's reads may cost (the host's coercion), so a
// failing x is answered without touching y.
static int32_t ReadPairs(const RangeArguments& ranges, int32_t* n)
{
    *n = ReadArgument(ranges, 0, ranges.buffers.x, false);
    if (*n < 2) return (*n < 0) ? *n : RuleTooFewValues;
    const int32_t yCount = ReadArgument(ranges, 1, ranges.buffers.y, false);
    if (yCount < 0) return yCount;
    if (yCount < 2) return RuleTooFewValues;
    if (yCount != *n) return RuleCountsDiffer;
    return RuleOk;
}

const char* DescribeStatus(int32_t status)
{
    switch (status) {
    case RuleOk: return "no failure";
    case RuleTermsOutOfRange:
    case FitFewTerms:
    case ConstrainedFitFewTerms: return "terms outside 2..20";
    case RuleTooFewValues: return "too few points";
    case RuleCountsDiffer: return "lengths differ";
    case RuleSmallTable: return "a table needs at least 3 rows and 3 columns";
    case RuleNoCoefficients: return "x values not strictly increasing";
    case ReadNotRange: return "not a range of values";
    case ReadUncalculated: return "a range that could not be read";
    case ReadEmpty: return "an empty range";
    case ReadTooLarge: return "more values than a range can hold";
    case ReadNotNumber: return "a range holds text, a boolean, an empty cell or anything else not a number";
    case SolveEmpty:
    case SolveZeroScalar:
    case SolveZeroPivot:
    case SolveZeroLastPivot:
    case FitSolverFailed:
    case ConstrainedFitSolverFailed: return "a singular fit";
    case FitFewPoints: return "fewer points than terms";
    case ConstrainedFitNoConstraints: return "no constraint points";
    case ConstrainedFitManyConstraints: return "more constraints than terms";
    case ConstrainedFitFewPoints: return "too few points for the terms and constraints";
    case RuleNoStorage:
    case ReadNoStorage:
    case SolveNoStorage:
    case FitNoRhsStorage:
    case FitNoMatrixStorage:
    case ConstrainedFitNoRhsStorage:
    case ConstrainedFitNoMatrixStorage: return "out of memory";
    default: return "the function's failure";
    }
}

double AnswerStudentT(int32_t DOF)
{
    return StudentTCritical(DOF);
}

double AnswerRandNorm()
{
    return DrawNormalUnit();
}

double AnswerRandDist(double average, double deviation)
{
    return DrawNormal(average, deviation);
}

double AnswerRandNorm(uint32_t* state)
{
    return DrawNormalUnit(state);
}

double AnswerRandDist(uint32_t* state, double average, double deviation)
{
    return DrawNormal(state, average, deviation);
}

int32_t AnswerCountBetween(const RangeArguments& ranges, double low, double high, double* answer)
{
    // Counted block by block during the read, while each block's values are still in the cache.
    IntervalTally tally = {low, high, 0};
    const int32_t n = ranges.read(ranges.arguments, 0, ranges.buffers.x, false, TallyInInterval, &tally);
    if (n < 1) return (n < 0) ? n : RuleTooFewValues;
    *answer = static_cast<double>(tally.inside);
    return RuleOk;
}

int32_t AnswerInterp1Points(const RangeArguments& ranges, const double* x, int64_t count, int32_t extrapolate,
                            double* answers)
{
    int32_t n = 0;
    const int32_t status = ReadPairs(ranges, &n);
    if (status != RuleOk) return status;
    InterpolateLinearPoints(ranges.buffers.x->items, ranges.buffers.y->items, n, x, count, extrapolate, answers);
    return RuleOk;
}

int32_t AnswerInterp2Points(const RangeArguments& ranges, const double* X, const double* Y, int64_t count,
                            int32_t extrapolate, double* answers)
{
    // The corner cell holds no axis value, so it is read as 0 whatever the sheet puts there.
    const RangeBuffer& table = *ranges.buffers.z;
    const int32_t values = ReadArgument(ranges, 0, ranges.buffers.z, true);
    if (values < 9) return (values < 0) ? values : RuleTooFewValues;
    if (table.rows < 3 || table.columns < 3) return RuleSmallTable;
    for (int64_t i = 0; i < count; ++i) {
        answers[i] = InterpolateTable(table.items, table.rows, table.columns, X[i], Y[i], extrapolate);
    }
    return RuleOk;
}

int32_t AnswerLagrangePoints(const RangeArguments& ranges, const double* x, int64_t count, double* answers)
{
    int32_t n = 0;
    const int32_t status = ReadPairs(ranges, &n);
    if (status != RuleOk) return status;
    for (int64_t i = 0; i < count; ++i) answers[i] = InterpolateLagrange(ranges.buffers.x->items, ranges.buffers.y->items, n, x[i]);
    return RuleOk;
}

int32_t AnswerSplinePoints(const RangeArguments& ranges, const double* x, int64_t count, double* answers)
{
    int32_t n = 0;
    int32_t status = ReadPairs(ranges, &n);
    if (status != RuleOk) return status;
    // The core handles 2 and 3 points, but the sheet function promises the four-point end cubics.
    if (n < 4) return RuleTooFewValues;
    const std::size_t size = static_cast<std::size_t>(n);
    double* points = static_cast<double*>(std::calloc(2 * size, sizeof(double)));
    if (points == nullptr) return RuleNoStorage;
    std::memcpy(points, ranges.buffers.x->items, size * sizeof(double));
    std::memcpy(points + size, ranges.buffers.y->items, size * sizeof(double));
    double* coefficients = SplineCoefficients(points, points + size, n);
    if (coefficients == nullptr) {
        status = RuleNoCoefficients;
    } else {
        for (int64_t i = 0; i < count; ++i) answers[i] = SplineEvaluate(points, points + size, n, coefficients, x[i], 0);
    }
    std::free(coefficients);
    std::free(points);
    return status;
}

int32_t AnswerPolynomialPoints(const RangeArguments& ranges, const double* x, int64_t count, double* answers)
{
    const int32_t n = ReadArgument(ranges, 0, ranges.buffers.x, false);
    if (n < 1) return (n < 0) ? n : RuleTooFewValues;
    EvaluatePolynomialPoints(ranges.buffers.x->items, n, x, count, answers);
    return RuleOk;
}

int32_t AnswerInterp1(const RangeArguments& ranges, double x, int32_t extrapolate, double* answer)
{
    return AnswerInterp1Points(ranges, &x, 1, extrapolate, answer);
}

int32_t AnswerInterp2(const RangeArguments& ranges, double X, double Y, int32_t extrapolate, double* answer)
{
    return AnswerInterp2Points(ranges, &X, &Y, 1, extrapolate, answer);
}

int32_t AnswerLagrange(const RangeArguments& ranges, double x, double* answer)
{
    return AnswerLagrangePoints(ranges, &x, 1, answer);
}

int32_t AnswerSpline(const RangeArguments& ranges, double x, double* answer)
{
    return AnswerSplinePoints(ranges, &x, 1, answer);
}

int32_t AnswerPolynomial(const RangeArguments& ranges, double x, double* answer)
{
    return AnswerPolynomialPoints(ranges, &x, 1, answer);
}

// terms is checked before any range is read: coefficients holds MaxTerms values.
static int32_t ReadFitPoints(const RangeArguments& ranges, int32_t terms, int32_t* n)
{
    if (terms < 2 || terms > MaxTerms) return RuleTermsOutOfRange;
    const int32_t status = ReadPairs(ranges, n);
    if (status != RuleOk) return status;
    return (*n < terms) ? RuleTooFewValues : RuleOk;
}

int32_t AnswerLLSQ(const RangeArguments& ranges, int32_t terms, double* coefficients)
{
    int32_t n = 0;
    const int32_t status = ReadFitPoints(ranges, terms, &n);
    if (status != RuleOk) return status;
    return FitPolynomial(ranges.buffers.x->items, ranges.buffers.y->items, n, coefficients, terms);
}

int32_t AnswerLLSQLC(const RangeArguments& ranges, int32_t terms, double* coefficients)
{
    int32_t n = 0;
    const int32_t status = ReadFitPoints(ranges, terms, &n);
    if (status != RuleOk) return status;
    const int32_t k = ReadArgument(ranges, 2, ranges.buffers.xc, false);
    if (k < 1) return (k < 0) ? k : RuleTooFewValues;
    const int32_t ycCount = ReadArgument(ranges, 3, ranges.buffers.yc, false);
    if (ycCount < 0) return ycCount;
    if (ycCount < 1) return RuleTooFewValues;
    if (ycCount != k) return RuleCountsDiffer;
    const RangeBuffers& buffers = ranges.buffers;
    return FitPolynomialConstrained(buffers.x->items, buffers.y->items, n, terms, buffers.xc->items, buffers.yc->items,
                                    k, coefficients);
}
