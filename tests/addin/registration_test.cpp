// registration_test.cpp - what the host receives when the add-in opens, and how a failed open answers.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "addin/catalogue.h"
#include "module_fixture.h"

namespace quorin_test {
namespace {

struct ExpectedFunction {
    const char* name;
    const char* typeText;
    const char* argumentText;
    const char* help;
    std::vector<const char*> argumentHelps;
};

// The texts users see in the function wizard, typos included; registration order is this order.
const std::vector<ExpectedFunction> ExpectedFunctions = {
    {"StudentT", "RJ", "DOF", "returns Student's-T given the degrees of freedom", {"degrees of freedom"}},
    {"CountBetween", "RRBB", "Xvalues,Xlow,Xhigh", "counts the number of Xvalues >=Xlow and <Xhigh",
     {"a range of X values", "lower value", "upper value"}},
    {"RandNorm", "R", "", "normally-distributed random number between -1 and 1", {}},
    {"RandDist", "RBB", "Avg,Stdev", "normally-distributed random number based on the average and standard deviation",
     {"average", "standard deviation"}},
    {"Interp1", "RRRBJ", "xValues,yValues,x,extrapolate", "performs linear interpolation with fast bisection search",
     {"a range of X values (must be strictly increasing or decreasing)", "a range of Y values (one for each X)",
      "the value of X to be interpolated", "extrapolation flag (0=FALSE,1=TRUE)"}},
    {"Interp2", "RRBBJ", "Ztable,X,Y,extrapolate", "interpolates a two-dimentional table Z",
     {"the table ov values", "the value of X (X values are in the first column)",
      "the value of Y (Y values are in the first row)", "extrapolation flag (0=FALSE,1=TRUE)"}},
    {"Lagrange", "RRRB", "xValues,yValues,x", "performs Lagrange interpolation",
     {"a range of X values (any order)", "a range of Y values (one for each X)", "the value of X to be interpolated"}},
    {"Spline", "RRRB", "xValues,yValues,x", "performs cubic spline interpolation",
     {"a range of X values (any order)", "a range of Y values (one for each X)", "the value of X to be interpolated"}},
    {"Polynomial", "RRB", "C,x", "evaluates a polynomial", {"coefficients", "the value of X to be evaluated"}},
    {"LLSQ", "RRRJ", "xValues,yValues,terms", "calculates coefficients for linear least-squares curve fit without constraints",
     {"a range of X values(in any order)", "a range of Y values(one for each X)",
      "the number of terms (1=constant,2=linear,3=quadratic,4=cubic,...)"}},
    {"LLSQLC", "RRRJRR", "xValues,yValues,terms,xConstraints,yConstraints",
     "calculates coefficients for linear least-squares curve fit with one or more constraints",
     {"a range of X values (in any order)", "a range of Y values (one for each X value)",
      "the number of terms (1=constant,2=linear,3=quadratic,4=cubic,...)",
      "a range of X constraints (one or more,in any order)", "a range of Y constraints (one for each X constraint)"}},
};

const char* const ManagerEntryPoints[] = {"xlAutoOpen", "xlAutoClose", "xlAutoAdd", "xlAutoRemove", "xlAutoRegister",
                                          "xlAddInManagerInfo"};

const char* const DefinitionExports[] = {
#include "def_exports.inc"
};

using RegistrationTest = ModuleTest;

TEST_F(RegistrationTest, EveryFunctionIsRegisteredWithItsExactTextsInCatalogueOrder)
{
    ASSERT_EQ(host.Open(), 1);
    ASSERT_EQ(host.registrations.size(), ExpectedFunctions.size());
    for (size_t f = 0; f < ExpectedFunctions.size(); ++f) {
        const ExpectedFunction& e = ExpectedFunctions[f];
        const std::vector<std::string>& t = host.registrations[f].texts;
        SCOPED_TRACE(e.name);
        ASSERT_EQ(t.size(), 10 + e.argumentHelps.size());
        EXPECT_EQ(t[0], host.ModulePath());
        EXPECT_EQ(t[1], e.name);                 // procedure
        EXPECT_EQ(t[2], e.typeText);
        EXPECT_EQ(t[3], e.name);                 // function text: the same as the procedure
        EXPECT_EQ(t[4], e.argumentText);
        EXPECT_EQ(t[5], "1");                    // macro type, a string
        EXPECT_EQ(t[6], "Quorin V1.00");         // category
        EXPECT_EQ(t[7], "");                     // shortcut
        EXPECT_EQ(t[8], "");                     // help topic
        EXPECT_EQ(t[9], e.help);
        for (size_t a = 0; a < e.argumentHelps.size(); ++a) EXPECT_EQ(t[10 + a], e.argumentHelps[a]);
        EXPECT_TRUE(host.registrations[f].accepted);
    }
    EXPECT_TRUE(host.alerts.empty());
}

TEST_F(RegistrationTest, RefusedRegistrationAlertsStopsAndKeepsEarlierOnes)
{
    for (int32_t refused = 1; refused <= static_cast<int32_t>(ExpectedFunctions.size()); ++refused) {
        SCOPED_TRACE(refused);
        host.ResetRecords();
        host.faults.refuseRegistration = refused;
        EXPECT_EQ(host.Open(), 0);
        ASSERT_EQ(host.registrations.size(), static_cast<size_t>(refused)) << "no attempt after the refusal";
        for (int32_t r = 0; r + 1 < refused; ++r) EXPECT_TRUE(host.registrations[static_cast<size_t>(r)].accepted);
        ASSERT_EQ(host.alerts.size(), 1u);
        EXPECT_EQ(host.alerts[0].message, "Error: Failed to register the XLL!");
        EXPECT_EQ(host.alerts[0].style, 2);
        EXPECT_EQ(host.Outstanding(), 0u) << "module path not released";
    }
}

TEST_F(RegistrationTest, FailedModuleNameRequestRegistersNothing)
{
    host.faults.failGetName = true;
    EXPECT_EQ(host.Open(), 0);
    EXPECT_TRUE(host.registrations.empty());
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0].message, "Error: Failed to register the XLL!");
    EXPECT_EQ(host.callbackCounts[xlFree], 0) << "nothing was filled, so nothing is released";
}

TEST_F(RegistrationTest, SecondOpenRegistersEverythingAgain)
{
    ASSERT_EQ(host.Open(), 1);
    ASSERT_EQ(host.Open(), 1);
    EXPECT_EQ(host.registrations.size(), ExpectedFunctions.size());
    EXPECT_EQ(host.callbackCounts[xlfRegister], 2 * static_cast<int32_t>(ExpectedFunctions.size()));
    EXPECT_EQ(host.callbackCounts[xlGetName], 2);
    EXPECT_EQ(host.callbackCounts[xlFree], 2) << "each module path released once";
}

TEST(RegistrationList, HoldsOneBlockPerFunctionEndedByTwoNulls)
{
    char** list = BuildRegistrationList();
    ASSERT_NE(list, nullptr);
    char** entry = list;
    for (const ExpectedFunction& e : ExpectedFunctions) {
        SCOPED_TRACE(e.name);
        EXPECT_STREQ(entry[0], e.name);
        EXPECT_STREQ(entry[1], e.typeText);
        EXPECT_STREQ(entry[2], e.argumentText);
        EXPECT_STREQ(entry[3], e.help);
        for (size_t a = 0; a < e.argumentHelps.size(); ++a) EXPECT_STREQ(entry[4 + a], e.argumentHelps[a]);
        entry += 4 + e.argumentHelps.size();
        ASSERT_EQ(*entry, nullptr);
        ++entry;
    }
    EXPECT_EQ(*entry, nullptr);
    ReleaseRegistrationList(list);
}

TEST_F(RegistrationTest, DefinitionFileExportsTheCatalogueAndTheManagerEntriesExactly)
{
    std::vector<std::string> expected(std::begin(ManagerEntryPoints), std::end(ManagerEntryPoints));
    for (const ExpectedFunction& e : ExpectedFunctions) expected.push_back(e.name);
    std::vector<std::string> listed(std::begin(DefinitionExports), std::end(DefinitionExports));
    std::sort(expected.begin(), expected.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);
    for (const std::string& name : listed) EXPECT_NE(host.Procedure(name.c_str()), nullptr) << name;
    EXPECT_EQ(host.Procedure("ReadRange"), nullptr) << "internal routines stay inside the module";
    EXPECT_EQ(host.Procedure("SharedResult"), nullptr);
}

TEST_F(RegistrationTest, EveryFunctionAnswersTheSameRecordAndTheLastAnswerWins)
{
    void* studentT = host.Procedure("StudentT");
    void* llsq = host.Procedure("LLSQ");
    ASSERT_NE(studentT, nullptr);
    ASSERT_NE(llsq, nullptr);
    const Value first = Call("StudentT", {Value::Number(10)});
    XLOPER* firstRecord = host.lastAnswer;
    const Value row = Call("LLSQ", {Column({0, 1, 2}), Column({1, 3, 5}), Value::Number(3)});
    EXPECT_EQ(host.lastAnswer, firstRecord);
    Call("Interp1", {Column({1, 2}), Column({1}), Value::Number(1), Value::Number(0)});
    EXPECT_EQ(host.lastAnswer, firstRecord);
    EXPECT_EQ(first.kind, Kind::Number);
    EXPECT_EQ(host.lastAnswer->xltype, xltypeErr);
    EXPECT_EQ(host.lastAnswer->val.err, 999);

    ASSERT_EQ(row.kind, Kind::Array);
    EXPECT_EQ(row.rows, 1);
    EXPECT_EQ(row.columns, 3);
    for (const Value& e : row.elements) EXPECT_EQ(e.kind, Kind::Number);
}

struct StudentTCase {
    double dof;
    double expected;
    const char* source;
};
constexpr StudentTCase StudentTCases[] = {
    {-5, 999.0, "guard: non-positive DOF answers a number, not an error"},
    {0, 999.0, "guard"},
    {1, 12.706150300808995, "reference table"},
    {2, 4.302655726745257, "reference table"},
    {3, 3.182449214762066, "reference table"},
    {10, 2.2281411036749326, "reference table"},
    {10.9, 2.2281411036749326, "the host truncates a J argument"},
    {30, 2.042272073214101, "reference table"},
    {1000, 1.96233798786865, "reference table"},
};

TEST_F(RegistrationTest, StudentTAnswersTheReferenceTableThroughTheHost)
{
    for (const StudentTCase& c : StudentTCases) {
        SCOPED_TRACE(c.source);
        EXPECT_SAME_DOUBLE(Number("StudentT", {Value::Number(c.dof)}), c.expected);
    }
}

}  // namespace
}  // namespace quorin_test
