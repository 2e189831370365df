// entries.h - the fitting worksheet functions; each answers SharedResult: a 1 x terms coefficient
// row, constant term first, or the error 999.
#pragma once

#include <cstdint>

#include "addin/host_api.h"

// Least-squares polynomial of terms (2 .. MaxTerms) coefficients through the x and y ranges.
extern "C" XLOPER* LLSQ(XLOPER* xValues, XLOPER* yValues, int32_t terms);
// As LLSQ, passing exactly through every (xConstraints, yConstraints) point.
extern "C" XLOPER* LLSQLC(XLOPER* xValues, XLOPER* yValues, int32_t terms, XLOPER* xConstraints,
                          XLOPER* yConstraints);
