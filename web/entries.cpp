// entries.cpp - the worksheet functions as the module's exports, under the names users type. Each
// takes the scalars the script converted and the ranges it staged, calls the rule, and leaves the
// answer in WebAnswers; the status is the rule's, 0 for an answer.
#include "web/boundary.h"

extern "C" {

WEB_EXPORT("StudentT") int32_t WebStudentT(int32_t DOF)
{
    WebAnswers[0] = AnswerStudentT(DOF);
    return RuleOk;
}

WEB_EXPORT("CountBetween") int32_t WebCountBetween(double Xlow, double Xhigh)
{
    return AnswerCountBetween(StagedArguments(), Xlow, Xhigh, WebAnswers);
}

WEB_EXPORT("RandNorm") int32_t WebRandNorm()
{
    WebAnswers[0] = AnswerRandNorm();
    return RuleOk;
}

WEB_EXPORT("RandDist") int32_t WebRandDist(double Avg, double Stdev)
{
    WebAnswers[0] = AnswerRandDist(Avg, Stdev);
    return RuleOk;
}

WEB_EXPORT("Interp1") int32_t WebInterp1(double x, int32_t extrapolate)
{
    return AnswerInterp1(StagedArguments(), x, extrapolate, WebAnswers);
}

WEB_EXPORT("Interp2") int32_t WebInterp2(double X, double Y, int32_t extrapolate)
{
    return AnswerInterp2(StagedArguments(), X, Y, extrapolate, WebAnswers);
}

WEB_EXPORT("Lagrange") int32_t WebLagrange(double x)
{
    return AnswerLagrange(StagedArguments(), x, WebAnswers);
}

WEB_EXPORT("Spline") int32_t WebSpline(double x)
{
    return AnswerSpline(StagedArguments(), x, WebAnswers);
}

WEB_EXPORT("Polynomial") int32_t WebPolynomial(double x)
{
    return AnswerPolynomial(StagedArguments(), x, WebAnswers);
}

WEB_EXPORT("Interp1Points") int32_t WebInterp1Points(int32_t extrapolate)
{
    return AnswerInterp1Points(StagedArguments(), StagedPointsX(), StagedPoints.count, extrapolate, StagedPointAnswers());
}

WEB_EXPORT("Interp2Points") int32_t WebInterp2Points(int32_t extrapolate)
{
    return AnswerInterp2Points(StagedArguments(), StagedPointsX(), StagedPointsY(), StagedPoints.count, extrapolate, StagedPointAnswers());
}

WEB_EXPORT("LagrangePoints") int32_t WebLagrangePoints()
{
    return AnswerLagrangePoints(StagedArguments(), StagedPointsX(), StagedPoints.count, StagedPointAnswers());
}

WEB_EXPORT("SplinePoints") int32_t WebSplinePoints()
{
    return AnswerSplinePoints(StagedArguments(), StagedPointsX(), StagedPoints.count, StagedPointAnswers());
}

WEB_EXPORT("PolynomialPoints") int32_t WebPolynomialPoints()
{
    return AnswerPolynomialPoints(StagedArguments(), StagedPointsX(), StagedPoints.count, StagedPointAnswers());
}

WEB_EXPORT("LLSQ") int32_t WebLLSQ(int32_t terms)
{
    return AnswerLLSQ(StagedArguments(), terms, WebAnswers);
}

WEB_EXPORT("LLSQLC") int32_t WebLLSQLC(int32_t terms)
{
    return AnswerLLSQLC(StagedArguments(), terms, WebAnswers);
}

}
