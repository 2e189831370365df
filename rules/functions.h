// functions.h - what each worksheet function accepts, decided once for every host: the order its
// ranges are read in, their counts and shapes, the term limits; then the core's answer. A door (the
// add-in's entry points, the Calc component) converts its host's values into a RangeArguments and
// scalars, and turns a nonzero status into its host's one failure answer. Callers compare the
// status with zero only.
#pragma once

#include <cstdint>

#include "rules/range_source.h"

constexpr int32_t MaxTerms = 20;  // the most polynomial terms a fit may ask for
// The error code every door answers for every failure, so that both programs show the same error.
constexpr uint16_t FailureErrorCode = 999;

enum RuleStatus : int32_t {
    RuleOk = 0,
    RuleTermsOutOfRange = 901,  // terms outside 2 .. MaxTerms, found before any range is read
    RuleTooFewValues = 903,     // a range holds fewer values than the function needs
    RuleCountsDiffer = 905,     // paired ranges hold different counts
    RuleSmallTable = 907,       // an Interp2 table of fewer than 3 rows or 3 columns
    RuleNoStorage = 909,        // scratch for the spline's points not obtained
    RuleNoCoefficients = 911,   // the spline's coefficients could not be computed
};
// Besides these a function answers the negative ReadStatus of an unreadable range or a fit's status.

// The rule a status says was broken, in a few words, for a door whose host shows messages (Python's
// exceptions) rather than the one failure answer: "lengths differ", "a singular fit", ...
const char* DescribeStatus(int32_t status);

// The answers of the statistics family; StudentT and the generator take no range and never fail.
// The generator's draws step this thread's sequence, or the one *state keeps (1 starts it afresh).
double AnswerStudentT(int32_t DOF);
double AnswerRandNorm();
double AnswerRandDist(double average, double deviation);
double AnswerRandNorm(uint32_t* state);
double AnswerRandDist(uint32_t* state, double average, double deviation);
// Ranges: the x values. Counts x with low <= x < high into *answer.
int32_t AnswerCountBetween(const RangeArguments& ranges, double low, double high, double* answer);

// Ranges: x values, then y values (Interp2: the table, its corner unread).
int32_t AnswerInterp1(const RangeArguments& ranges, double x, int32_t extrapolate, double* answer);
int32_t AnswerInterp2(const RangeArguments& ranges, double X, double Y, int32_t extrapolate, double* answer);
int32_t AnswerLagrange(const RangeArguments& ranges, double x, double* answer);
int32_t AnswerSpline(const RangeArguments& ranges, double x, double* answer);
// Ranges: the coefficients, constant term first in reading order.
int32_t AnswerPolynomial(const RangeArguments& ranges, double x, double* answer);

// The same functions at count points at once, for a door that takes arrays of points: the ranges are
// read and the table's work (the spline's coefficients) done once, and answers[i] is the very double
// the one-point call answers at x[i] (Interp2: at X[i], Y[i]). The one-point calls are these with
// count 1. A status is the table's: no point makes a call fail.
int32_t AnswerInterp1Points(const RangeArguments& ranges, const double* x, int64_t count, int32_t extrapolate,
                            double* answers);
int32_t AnswerInterp2Points(const RangeArguments& ranges, const double* X, const double* Y, int64_t count,
                            int32_t extrapolate, double* answers);
int32_t AnswerLagrangePoints(const RangeArguments& ranges, const double* x, int64_t count, double* answers);
int32_t AnswerSplinePoints(const RangeArguments& ranges, const double* x, int64_t count, double* answers);
int32_t AnswerPolynomialPoints(const RangeArguments& ranges, const double* x, int64_t count, double* answers);

// Ranges: x values, y values (LLSQLC: then x constraints, y constraints). On success coefficients,
// which holds MaxTerms doubles, receives terms values, constant first; it may be overwritten on failure.
int32_t AnswerLLSQ(const RangeArguments& ranges, int32_t terms, double* coefficients);
int32_t AnswerLLSQLC(const RangeArguments& ranges, int32_t terms, double* coefficients);
