// result.cpp - the shared answer record and the static storage behind array answers.
#include "addin/result.h"

XLOPER SharedResult;
XLOPER RowElements[MaxTerms];
double CoefficientRow[MaxTerms];

XLOPER* NumberResult(double value)
{
    SharedResult.xltype = xltypeNum;
    SharedResult.val.num = value;
    return &SharedResult;
}

XLOPER* FailureResult()
{
    SharedResult.xltype = xltypeErr;
    SharedResult.val.err = FailureErrorCode;
    return &SharedResult;
}

XLOPER* MakeRowResult(int32_t rows, int32_t columns)
{
    // A shape larger than the element storage would hand the host memory past its end.
    const int64_t count = (rows > 0 && columns > 0) ? static_cast<int64_t>(rows) * columns : 0;
    if (count > MaxTerms) return FailureResult();
    for (int32_t k = 0; k < count; ++k) {
        RowElements[k].xltype = xltypeNum;
        RowElements[k].val.num = CoefficientRow[k];
    }
    SharedResult.xltype = xltypeMulti;
    SharedResult.val.array.lparray = RowElements;
    SharedResult.val.array.rows = static_cast<uint16_t>(rows);
    SharedResult.val.array.columns = static_cast<uint16_t>(columns);
    return &SharedResult;
}
