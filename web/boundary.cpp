// boundary.cpp - the staged range arguments, their reader, the answer area and the helper exports.
#include "web/boundary.h"

#include <string_view>

#include "addin/catalogue.h"
#include "fit/linear_solver.h"
#include "fit/polyfit.h"
#include "rules/number.h"

StagedRange StagedRanges[4];
double WebAnswers[MaxTerms];
char WebText[TextCapacity];

int32_t WebReadStaged(void*, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit, void* context)
{
    const StagedRange& staged = StagedRanges[index];
    if (staged.refused != 0) return staged.refused;
    const int64_t count = static_cast<int64_t>(staged.rows) * staged.columns;
    buffer->rows = staged.rows;
    buffer->columns = staged.columns;
    buffer->count = static_cast<int32_t>(count);
    if (count < 1) return ReadEmpty;
    // A table's corner is read as 0 whatever it held, so a text there is no failure.
    const int32_t others = staged.others - ((zeroCorner && staged.cornerOther != 0) ? 1 : 0);
    if (others > 0) return ReadNotNumber;
    if (!GrowRangeBuffer(buffer, buffer->count)) return ReadNoStorage;

    double* items = buffer->items;
    const double* values = staged.values.items;
    // Copied and handed over a block at a time, as the add-in's reader does, while the block is cached.
    for (int32_t from = 0; from < buffer->count; from += ReadBlock) {
        const int32_t n = (buffer->count - from < ReadBlock) ? buffer->count - from : ReadBlock;
        for (int32_t i = 0; i < n; ++i) items[from + i] = values[from + i];
        if (zeroCorner && from == 0) items[0] = 0.0;
        if (visit != nullptr) visit(items + from, n, context);
    }
    return buffer->count;
}

RangeArguments StagedArguments()
{
    return RangeArguments{WebReadStaged, nullptr};
}

WEB_EXPORT("stageRange") double* WebStageRange(int32_t index, int32_t rows, int32_t columns)
{
    if (index < 0 || index > 3) return nullptr;
    StagedRange& staged = StagedRanges[index];
    staged = StagedRange{0, rows, columns, 0, 0, staged.values};
    const int64_t count = static_cast<int64_t>(rows) * columns;
    if (rows < 0 || columns < 0) {
        staged.refused = ReadNotRange;
    } else if (count > INT32_MAX) {
        staged.refused = ReadTooLarge;
    } else if (!GrowRangeBuffer(&staged.values, (count > 0) ? static_cast<int32_t>(count) : 1)) {
        staged.refused = ReadNoStorage;
    }
    return (staged.refused != 0) ? nullptr : staged.values.items;
}

WEB_EXPORT("rangeStaged") void WebRangeStaged(int32_t index, int32_t others, int32_t cornerOther)
{
    if (index < 0 || index > 3) return;
    StagedRanges[index].others = others;
    StagedRanges[index].cornerOther = cornerOther;
}

WEB_EXPORT("answers") double* WebAnswerAddress()
{
    return WebAnswers;
}

WEB_EXPORT("text") char* WebTextAddress()
{
    return WebText;
}

WEB_EXPORT("readNumber") int32_t WebReadNumber(int32_t length)
{
    if (length < 0 || length > TextCapacity) return 1;
    double value = 0.0;
    if (ParseNumber(std::string_view(WebText, static_cast<size_t>(length)), &value) != NumberRead::Ok) return 1;
    WebAnswers[0] = value;
    return 0;
}

// The rules answer statuses from several families; the words name the rule a user broke. The
// switch names each constant, so a code that changes in its header changes here with it.
WEB_EXPORT("statusText") const char* WebStatusText(int32_t status)
{
    switch (status) {
    case RuleTermsOutOfRange: return "terms must be from 2 to 20";
    case RuleTooFewValues: return "a range holds fewer values than the function needs";
    case RuleCountsDiffer: return "paired ranges hold different counts of values";
    case RuleSmallTable: return "the table needs at least 3 rows and 3 columns";
    case RuleNoStorage: return "no memory for the spline's points";
    case RuleNoCoefficients: return "the spline's coefficients could not be computed";
    case ReadNotRange: return "a range argument is not a range of rows";
    case ReadUncalculated: return "a range argument could not be read";
    case ReadEmpty: return "a range argument is empty";
    case ReadTooLarge: return "a range argument holds too many values";
    case ReadNoStorage: return "no memory for a range argument";
    case ReadNotNumber: return "a range holds text, a boolean or an empty cell";
    case SolveEmpty: case SolveZeroScalar: case SolveZeroPivot: case SolveZeroLastPivot:
    case FitSolverFailed: case ConstrainedFitSolverFailed: return "the fit is singular";
    case SolveNoStorage: case FitNoRhsStorage: case FitNoMatrixStorage: case ConstrainedFitNoRhsStorage:
    case ConstrainedFitNoMatrixStorage: return "no memory for the fit";
    case FitFewTerms: case ConstrainedFitFewTerms: return "terms must be from 2 to 20";
    case FitFewPoints: return "fewer points than terms";
    case ConstrainedFitNoConstraints: return "no constraint points";
    case ConstrainedFitFewPoints: return "fewer points than terms and constraints together";
    case ConstrainedFitManyConstraints: return "more constraint points than terms";
    default: return "the arguments break the function's rules";
    }
}

WEB_EXPORT("catalogue") const void* WebCatalogue()
{
    return FunctionCatalogue;
}
