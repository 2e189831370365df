// interp/entries.h - worksheet functions of the interpolation family; each answers SharedResult.
#pragma once

#include "addin/host_api.h"

// Linear and table interpolation.
extern "C" XLOPER* Interp1(XLOPER* xValues, XLOPER* yValues, double x, int32_t extrapolate);  // needs >= 2 x values and as many y values
extern "C" XLOPER* Interp2(XLOPER* Ztable, double X, double Y, int32_t extrapolate);  // needs a table of >= 3 rows and >= 3 columns

// Lagrange, spline and polynomial evaluation.
extern "C" XLOPER* Lagrange(XLOPER* xValues, XLOPER* yValues, double x);  // needs >= 2 x values and as many y values
extern "C" XLOPER* Spline(XLOPER* xValues, XLOPER* yValues, double x);  // needs >= 4 strictly increasing x values and as many y values
extern "C" XLOPER* Polynomial(XLOPER* C, double x);  // C holds >= 1 coefficients, constant term first in reading order
