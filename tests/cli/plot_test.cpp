// plot_test.cpp - the free variable's substitution, sampling through the host, and the drawing.
#include "cli/plot.h"

#include <cmath>

#include "module_fixture.h"

namespace quorin_test {
namespace {

struct SubstitutionCase {
    const char* formula;
    const char* variable;
    double value;
    const char* expected;
    const char* source;
};

TEST(SubstituteVariable, ReplacesWholeWordsOutsideTextOnly)
{
    const SubstitutionCase cases[] = {
        {"=Spline({0,1},{2,3},x)", "x", 2.385, "=Spline({0,1},{2,3},2.385)", "plain argument"},
        {"=Polynomial({1,x},X)", "x", -0.1, "=Polynomial({1,-0.1},-0.1)", "inside an array constant, names are case-insensitive"},
        {"=x(x1,\"x\",xx,x)", "x", 7.0, "=x(x1,\"x\",xx,7)", "not a function name, a longer word or quoted text"},
        {"=f(t)", "t", 1e-300, "=f(1E-300)", "shortest text that reads back as the same double"},
    };
    for (const SubstitutionCase& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(quorin_host::SubstituteVariable(c.formula, c.variable, c.value), c.expected);
    }
}

using PlotTest = ModuleTest;

TEST_F(PlotTest, SamplesEndsExactlyAndReadsDataPointsOfANestedFit)
{
    quorin_host::PlotRequest request;
    request.formula = "=Polynomial(LLSQ({0,1,2,3},{1,3,5,7},2),x)";
    request.from = -0.3;
    request.to = 4.1;
    request.samples = 12;
    quorin_host::PlotData data;
    std::string error;
    ASSERT_TRUE(quorin_host::SamplePlot(host, request, &data, &error)) << error;
    ASSERT_EQ(data.xs.size(), 12u);
    EXPECT_SAME_DOUBLE(data.xs.front(), -0.3);
    EXPECT_SAME_DOUBLE(data.xs.back(), 4.1);
    const Value row = Call("LLSQ", {Value::Row({0, 1, 2, 3}), Value::Row({1, 3, 5, 7}), Value::Number(2)});
    EXPECT_SAME_DOUBLE(data.ys[5], Number("Polynomial", {row, Value::Number(data.xs[5])}));
    EXPECT_EQ(data.points, (std::vector<std::pair<double, double>>{{0, 1}, {1, 3}, {2, 5}, {3, 7}}));
    EXPECT_TRUE(data.constraints.empty());
    EXPECT_EQ(data.failures, 0);
}

TEST_F(PlotTest, ConstraintsAndFailedSamplesAreKeptApart)
{
    quorin_host::PlotRequest request;
    // At t = 0 the table's two x values coincide and the answer divides by zero; nowhere else.
    request.formula = "=Interp1({0,t},{0,1},0.5,1)";
    request.variable = "t";
    request.from = -1.0;
    request.to = 1.0;
    request.samples = 5;
    quorin_host::PlotData data;
    std::string error;
    ASSERT_TRUE(quorin_host::SamplePlot(host, request, &data, &error)) << error;
    EXPECT_EQ(data.failures, 1);
    EXPECT_FALSE(std::isfinite(data.ys[2]));
    const std::string svg = quorin_host::RenderSvg(data);
    size_t polylines = 0;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) ++polylines;
    EXPECT_EQ(polylines, 2u);
    EXPECT_NE(svg.find("1 samples gave no number"), std::string::npos);

    request.formula = "=Polynomial(LLSQLC({0,1,2,3,4},{1,3,5,7,9},2,{0,4},{1,9}),t)";
    ASSERT_TRUE(quorin_host::SamplePlot(host, request, &data, &error)) << error;
    EXPECT_EQ(data.points.size(), 5u);
    EXPECT_EQ(data.constraints, (std::vector<std::pair<double, double>>{{0, 1}, {4, 9}}));
}

TEST_F(PlotTest, RefusesVariablesThatAreCellsAndEmptyIntervals)
{
    quorin_host::PlotRequest request;
    quorin_host::PlotData data;
    std::string error;
    request.formula = "=StudentT(A1)";
    request.variable = "A1";
    EXPECT_FALSE(quorin_host::SamplePlot(host, request, &data, &error));
    request.formula = "=StudentT(n)";
    request.variable = "x";
    EXPECT_FALSE(quorin_host::SamplePlot(host, request, &data, &error));
    EXPECT_EQ(error, "the formula does not use x");
    request.variable = "n";
    request.from = 3.0;
    request.to = 3.0;
    EXPECT_FALSE(quorin_host::SamplePlot(host, request, &data, &error));
}

TEST_F(PlotTest, RefusesAtOnceWhatItCannotDraw)
{
    const double huge = 1e308;
    const struct { const char* formula; double from, to; int32_t samples; const char* message; const char* fault; } cases[] = {
        {"=Spline({0,1,2,3,4},{0,1,0,1,0},x)", 1.0, 1.0000000000000002, 401, "too narrow for 401 samples", "endless ticks over equal samples"},
        {"=Spline({0,1,2,3,4},{0,1,0,1,0},x)", 0.0, 1e-323, 4, "too narrow for 4 samples", "subnormal steps rounding together"},
        {"=StudentT(x)", -huge, huge, 401, "wider than the largest number", "an infinite width drawn as NaN"},
        {"=StudentT(x)", 0.0, 1.0, 1, "from 2 to 100000", "one sample: a division by zero"},
        {"=StudentT(x)", 0.0, 1.0, 100001, "from 2 to 100000", "a runaway sample count"},
        {"=Foo(x)", 0.0, 1.0, 401, "unknown function Foo", "an empty plot of an unknown function"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        quorin_host::PlotRequest request;
        request.formula = c.formula;
        request.from = c.from;
        request.to = c.to;
        request.samples = c.samples;
        quorin_host::PlotData data;
        std::string error;
        EXPECT_FALSE(quorin_host::SamplePlot(host, request, &data, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace quorin_test
