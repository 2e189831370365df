// result.h - the one answer record every worksheet function returns, and its three forms:
// a number, the error 999, or a one-row array of CoefficientRow. Nothing behind an answer is
// ever the host's to free: the memory is static.
#pragma once

#include "addin/host_api.h"
#include "rules/functions.h"


// Written by every worksheet function and read by the host before its next call; static so that
// no answer ever owns memory. Zeroed at load, alive for the module's life.
extern XLOPER SharedResult;
extern XLOPER RowElements[MaxTerms];    // elements of an array answer
extern double CoefficientRow[MaxTerms]; // written by the fitting cores, read by MakeRowResult

XLOPER* NumberResult(double value);  // SharedResult as a number
XLOPER* FailureResult();             // SharedResult as the error 999
// SharedResult as a rows x columns array of CoefficientRow[0 .. rows*columns-1]; the product
// must not exceed MaxTerms.
XLOPER* MakeRowResult(int32_t rows, int32_t columns);
