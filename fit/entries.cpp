// entries.cpp - worksheet functions of the fitting subsystem: read, check, fit, answer.
#include "fit/entries.h"

#include "addin/range_buffer.h"
#include "addin/result.h"
#include "fit/polyfit.h"

// terms is checked before any range is read: CoefficientRow and RowElements hold MaxTerms values.
extern "C" XLOPER* LLSQ(XLOPER* xValues, XLOPER* yValues, int32_t terms)
{
    if (terms < 2 || terms > MaxTerms) return FailureResult();
    const int32_t n = ReadRange(xValues, &XBuffer, false);
    if (n < 2) return FailureResult();
    const int32_t yCount = ReadRange(yValues, &YBuffer, false);
    if (yCount < 2 || yCount != n || n < terms) return FailureResult();
    if (FitPolynomial(XBuffer.items, YBuffer.items, n, CoefficientRow, terms) != 0) return FailureResult();
    return MakeRowResult(1, terms);
}

extern "C" XLOPER* LLSQLC(XLOPER* xValues, XLOPER* yValues, int32_t terms, XLOPER* xConstraints,
                          XLOPER* yConstraints)
{
    if (terms < 2 || terms > MaxTerms) return FailureResult();
    const int32_t n = ReadRange(xValues, &XBuffer, false);
    if (n < 2) return FailureResult();
    const int32_t yCount = ReadRange(yValues, &YBuffer, false);
    if (yCount < 2 || yCount != n || n < terms) return FailureResult();
    const int32_t k = ReadRange(xConstraints, &XcBuffer, false);
    if (k < 1) return FailureResult();
    const int32_t ycCount = ReadRange(yConstraints, &YcBuffer, false);
    if (ycCount < 1 || ycCount != k) return FailureResult();
    if (FitPolynomialConstrained(XBuffer.items, YBuffer.items, n, terms, XcBuffer.items, YcBuffer.items, k,
                                 CoefficientRow) != 0) {
        return FailureResult();
    }
    return MakeRowResult(1, terms);
}
