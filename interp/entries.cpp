// interp/entries.cpp - worksheet functions of the interpolation family.
#include "interp/entries.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "addin/range_buffer.h"
#include "addin/result.h"
#include "interp/lagrange.h"
#include "interp/linear.h"
#include "interp/spline.h"
#include "interp/table.h"

extern "C" XLOPER* Interp1(XLOPER* xValues, XLOPER* yValues, double x, int32_t extrapolate)
{
    const int32_t n = ReadRange(xValues, &XBuffer, false);
    if (n < 2) return FailureResult();
    const int32_t yCount = ReadRange(yValues, &YBuffer, false);
    if (yCount < 2 || yCount != n) return FailureResult();
    return NumberResult(InterpolateLinear(XBuffer.items, YBuffer.items, n, x, extrapolate));
}

extern "C" XLOPER* Interp2(XLOPER* Ztable, double X, double Y, int32_t extrapolate)
{
    // The corner cell holds no axis value, so it is read as 0 whatever the sheet puts there.
    const int32_t count = ReadRange(Ztable, &ZBuffer, true);
    if (count < 9) return FailureResult();
    if (ZBuffer.rows < 3 || ZBuffer.columns < 3) return FailureResult();
    return NumberResult(InterpolateTable(ZBuffer.items, ZBuffer.rows, ZBuffer.columns, X, Y, extrapolate));
}

// Lagrange, spline and polynomial evaluation.
extern "C" XLOPER* Lagrange(XLOPER* xValues, XLOPER* yValues, double x)
{
    const int32_t n = ReadRange(xValues, &XBuffer, false);
    if (n < 2) return FailureResult();
    const int32_t yCount = ReadRange(yValues, &YBuffer, false);
    if (yCount < 2 || yCount != n) return FailureResult();
    return NumberResult(InterpolateLagrange(XBuffer.items, YBuffer.items, n, x));
}

extern "C" XLOPER* Spline(XLOPER* xValues, XLOPER* yValues, double x)
{
    const int32_t n = ReadRange(xValues, &XBuffer, false);
    if (n < 2) return FailureResult();
    const int32_t yCount = ReadRange(yValues, &YBuffer, false);
    if (yCount < 2 || yCount != n) return FailureResult();
    // The core handles 2 and 3 points, but the sheet function promises the four-point end cubics.
    if (n < 4) return FailureResult();
    const std::size_t count = static_cast<std::size_t>(n);
    double* points = static_cast<double*>(std::calloc(2 * count, sizeof(double)));
    if (points == nullptr) return FailureResult();
    std::memcpy(points, XBuffer.items, count * sizeof(double));
    std::memcpy(points + count, YBuffer.items, count * sizeof(double));
    double* coefficients = SplineCoefficients(points, points + count, n);
    XLOPER* answer = nullptr;
    if (coefficients == nullptr) {
        answer = FailureResult();
    } else {
        answer = NumberResult(SplineEvaluate(points, points + count, n, coefficients, x, 0));
    }
    std::free(coefficients);
    std::free(points);
    return answer;
}

extern "C" XLOPER* Polynomial(XLOPER* C, double x)
{
    const int32_t n = ReadRange(C, &XBuffer, false);
    if (n < 1) return FailureResult();
    return NumberResult(EvaluatePolynomial(XBuffer.items, n, x));
}
