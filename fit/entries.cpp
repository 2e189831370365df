// entries.cpp - worksheet functions of the fitting subsystem: the rules fit, the entry answers.
#include "fit/entries.h"

#include "addin/range_buffer.h"
#include "addin/result.h"
#include "rules/functions.h"

extern "C" XLOPER* LLSQ(XLOPER* xValues, XLOPER* yValues, int32_t terms)
{
    XLOPER* ranges[] = {xValues, yValues};
    if (AnswerLLSQ(RecordArguments(ranges), terms, CoefficientRow) != 0) return FailureResult();
    return MakeRowResult(1, terms);
}

extern "C" XLOPER* LLSQLC(XLOPER* xValues, XLOPER* yValues, int32_t terms, XLOPER* xConstraints,
                          XLOPER* yConstraints)
{
    XLOPER* ranges[] = {xValues, yValues, xConstraints, yConstraints};
    if (AnswerLLSQLC(RecordArguments(ranges), terms, CoefficientRow) != 0) return FailureResult();
    return MakeRowResult(1, terms);
}
