// stats/entries.cpp - worksheet functions of the statistics family.
#include "stats/entries.h"

#include "addin/range_buffer.h"
#include "addin/result.h"
#include "stats/count.h"
#include "stats/random.h"
#include "stats/student_t.h"

extern "C" XLOPER* StudentT(int32_t DOF)
{
    return NumberResult(StudentTCritical(DOF));
}

extern "C" XLOPER* CountBetween(XLOPER* Xvalues, double Xlow, double Xhigh)
{
    // Counted block by block during the read, while each block's values are still in the cache.
    IntervalTally tally = {Xlow, Xhigh, 0};
    const int32_t n = ReadRangeVisiting(Xvalues, &XBuffer, TallyInInterval, &tally);
    if (n < 1) return FailureResult();
    return NumberResult(static_cast<double>(tally.inside));
}

extern "C" XLOPER* RandNorm()
{
    return NumberResult(DrawNormalUnit());
}

extern "C" XLOPER* RandDist(double Avg, double Stdev)
{
    return NumberResult(DrawNormal(Avg, Stdev));
}
