// functions.cpp - each worksheet function's reads, checks and core call, for every door.
#include "rules/functions.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

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
    *n = ReadArgument(ranges, 0, &XBuffer, false);
    if (*n < 2) return (*n < 0) ? *n : RuleTooFewValues;
    const int32_t yCount = ReadArgument(ranges, 1, &YBuffer, false);
    if (yCount < 0) return yCount;
    if (yCount < 2) return RuleTooFewValues;
    if (yCount != *n) return RuleCountsDiffer;
    return RuleOk;
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

int32_t AnswerCountBetween(const RangeArguments& ranges, double low, double high, double* answer)
{
    // Counted block by block during the read, while each block's values are still in the cache.
    IntervalTally tally = {low, high, 0};
    const int32_t n = ranges.read(ranges.arguments, 0, &XBuffer, false, TallyInInterval, &tally);
    if (n < 1) return (n < 0) ? n : RuleTooFewValues;
    *answer = static_cast<double>(tally.inside);
    return RuleOk;
}

int32_t AnswerInterp1(const RangeArguments& ranges, double x, int32_t extrapolate, double* answer)
{
    int32_t n = 0;
    const int32_t status = ReadPairs(ranges, &n);
    if (status != RuleOk) return status;
    *answer = InterpolateLinear(XBuffer.items, YBuffer.items, n, x, extrapolate);
    return RuleOk;
}

int32_t AnswerInterp2(const RangeArguments& ranges, double X, double Y, int32_t extrapolate, double* answer)
{
    // The corner cell holds no axis value, so it is read as 0 whatever the sheet puts there.
    const int32_t count = ReadArgument(ranges, 0, &ZBuffer, true);
    if (count < 9) return (count < 0) ? count : RuleTooFewValues;
    if (ZBuffer.rows < 3 || ZBuffer.columns < 3) return RuleSmallTable;
    *answer = InterpolateTable(ZBuffer.items, ZBuffer.rows, ZBuffer.columns, X, Y, extrapolate);
    return RuleOk;
}

int32_t AnswerLagrange(const RangeArguments& ranges, double x, double* answer)
{
    int32_t n = 0;
    const int32_t status = ReadPairs(ranges, &n);
    if (status != RuleOk) return status;
    *answer = InterpolateLagrange(XBuffer.items, YBuffer.items, n, x);
    return RuleOk;
}

int32_t AnswerSpline(const RangeArguments& ranges, double x, double* answer)
{
    int32_t n = 0;
    int32_t status = ReadPairs(ranges, &n);
    if (status != RuleOk) return status;
    // The core handles 2 and 3 points, but the sheet function promises the four-point end cubics.
    if (n < 4) return RuleTooFewValues;
    const std::size_t count = static_cast<std::size_t>(n);
    double* points = static_cast<double*>(std::calloc(2 * count, sizeof(double)));
    if (points == nullptr) return RuleNoStorage;
    std::memcpy(points, XBuffer.items, count * sizeof(double));
    std::memcpy(points + count, YBuffer.items, count * sizeof(double));
    double* coefficients = SplineCoefficients(points, points + count, n);
    if (coefficients == nullptr) {
        status = RuleNoCoefficients;
    } else {
        *answer = SplineEvaluate(points, points + count, n, coefficients, x, 0);
    }
    std::free(coefficients);
    std::free(points);
    return status;
}

int32_t AnswerPolynomial(const RangeArguments& ranges, double x, double* answer)
{
    const int32_t n = ReadArgument(ranges, 0, &XBuffer, false);
    if (n < 1) return (n < 0) ? n : RuleTooFewValues;
    *answer = EvaluatePolynomial(XBuffer.items, n, x);
    return RuleOk;
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
    return FitPolynomial(XBuffer.items, YBuffer.items, n, coefficients, terms);
}

int32_t AnswerLLSQLC(const RangeArguments& ranges, int32_t terms, double* coefficients)
{
    int32_t n = 0;
    const int32_t status = ReadFitPoints(ranges, terms, &n);
    if (status != RuleOk) return status;
    const int32_t k = ReadArgument(ranges, 2, &XcBuffer, false);
    if (k < 1) return (k < 0) ? k : RuleTooFewValues;
    const int32_t ycCount = ReadArgument(ranges, 3, &YcBuffer, false);
    if (ycCount < 0) return ycCount;
    if (ycCount < 1) return RuleTooFewValues;
    if (ycCount != k) return RuleCountsDiffer;
    return FitPolynomialConstrained(XBuffer.items, YBuffer.items, n, terms, XcBuffer.items, YcBuffer.items, k,
                                    coefficients);
}
