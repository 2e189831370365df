// interp/entries.cpp - worksheet functions of the interpolation family.
#include "interp/entries.h"

#include "addin/range_buffer.h"
#include "addin/result.h"
#include "rules/functions.h"

// One number or the failure, whichever the rules answered.
static XLOPER* AnswerOf(int32_t status, double answer)
{
    return (status != 0) ? FailureResult() : NumberResult(answer);
}

extern "C" XLOPER* Interp1(XLOPER* xValues, XLOPER* yValues, double x, int32_t extrapolate)
{
    XLOPER* ranges[] = {xValues, yValues};
    double answer = 0.0;
    const int32_t status = AnswerInterp1(RecordArguments(ranges), x, extrapolate, &answer);
    return AnswerOf(status, answer);
}

extern "C" XLOPER* Interp2(XLOPER* Ztable, double X, double Y, int32_t extrapolate)
{
    XLOPER* ranges[] = {Ztable};
    double answer = 0.0;
    const int32_t status = AnswerInterp2(RecordArguments(ranges), X, Y, extrapolate, &answer);
    return AnswerOf(status, answer);
}

// Lagrange, spline and polynomial evaluation.
extern "C" XLOPER* Lagrange(XLOPER* xValues, XLOPER* yValues, double x)
{
    XLOPER* ranges[] = {xValues, yValues};
    double answer = 0.0;
    const int32_t status = AnswerLagrange(RecordArguments(ranges), x, &answer);
    return AnswerOf(status, answer);
}

extern "C" XLOPER* Spline(XLOPER* xValues, XLOPER* yValues, double x)
{
    XLOPER* ranges[] = {xValues, yValues};
    double answer = 0.0;
    const int32_t status = AnswerSpline(RecordArguments(ranges), x, &answer);
    return AnswerOf(status, answer);
}

extern "C" XLOPER* Polynomial(XLOPER* C, double x)
{
    XLOPER* ranges[] = {C};
    double answer = 0.0;
    const int32_t status = AnswerPolynomial(RecordArguments(ranges), x, &answer);
    return AnswerOf(status, answer);
}
