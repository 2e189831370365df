// plot.h - a formula's answer over an interval of one free variable, drawn as SVG together with the
// data points the formula reads: the first two arguments of a call whose registered argument names
// start with xValues,yValues are read as x and y, and constraint points (xConstraints,yConstraints)
// are marked apart.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/substitute_host.h"

namespace quorin_host {

// The number of samples a plot takes: enough for a line, few enough to draw at once.
constexpr int32_t MinSamples = 2, MaxSamples = 100000;

struct PlotRequest {
    std::string formula;        // e.g. =Spline({0,1,2,3,4},{0,1,0,1,0},x)
    std::string variable = "x";
    double from = 0.0, to = 1.0;
    int32_t samples = 401;      // answers computed, ends included
};

struct PlotData {
    std::string title;
    std::string variable;
    std::vector<double> xs, ys;  // ys is NaN where the answer is not a finite number
    std::vector<std::pair<double, double>> points, constraints;
    int32_t failures = 0;        // samples answered by anything but a finite number
};

// Replaces the variable, a whole word outside quoted text, by the value's shortest round-trip text.
std::string SubstituteVariable(const std::string& formula, const std::string& variable, double value);

// Evaluates the formula at every sample; false with error, before any sample is drawn, for a formula
// that does not parse or calls a function the module does not register, a variable that could be read
// as a cell name, an empty or non-finite interval, a sample count out of range, or an interval too
// narrow for its samples to be distinct numbers.
bool SamplePlot(SubstituteHost& host, const PlotRequest& request, PlotData* data, std::string* error);

// A self-contained SVG: axes with round-number ticks, the curve, the points, a legend.
std::string RenderSvg(const PlotData& data);

}  // namespace quorin_host
