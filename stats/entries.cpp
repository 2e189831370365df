// stats/entries.cpp - worksheet functions of the statistics family.
#include "stats/entries.h"

#include "addin/range_buffer.h"
#include "addin/result.h"
#include "rules/functions.h"

extern "C" XLOPER* StudentT(int32_t DOF)
{
    return NumberResult(AnswerStudentT(DOF));
}

extern "C" XLOPER* CountBetween(XLOPER* Xvalues, double Xlow, double Xhigh)
{
    XLOPER* ranges[] = {Xvalues};
    double answer = 0.0;
    if (AnswerCountBetween(RecordArguments(ranges), Xlow, Xhigh, &answer) != 0) return FailureResult();
    return NumberResult(answer);
}

extern "C" XLOPER* RandNorm()
{
    return NumberResult(AnswerRandNorm());
}

extern "C" XLOPER* RandDist(double Avg, double Stdev)
{
    return NumberResult(AnswerRandDist(Avg, Stdev));
}
