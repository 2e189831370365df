// stats/entries.h - worksheet functions of the statistics family; each answers SharedResult.
#pragma once

#include "addin/host_api.h"

extern "C" XLOPER* StudentT(int32_t DOF);  // always a number: the critical value, or 999.0 for DOF <= 0
extern "C" XLOPER* CountBetween(XLOPER* Xvalues, double Xlow, double Xhigh);  // count of Xlow <= v < Xhigh; failure if unreadable
extern "C" XLOPER* RandNorm();  // a number in [-1, 1]; consumes twelve draws
extern "C" XLOPER* RandDist(double Avg, double Stdev);  // a number with mean Avg, deviation about Stdev; twelve draws
