// boundary.cpp - the staged range arguments, their reader, the answer area and the helper exports.
#include "web/boundary.h"

#include <string_view>

#include "addin/catalogue.h"
#include "rules/number.h"

StagedRange StagedRanges[4];
StagedPointList StagedPoints;
double WebAnswers[MaxTerms];
char WebText[TextCapacity];

int32_t WebReadStaged(void*, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit, void* context)
{
    // buffer is the slot's own (StagedArguments): the values are where the script wrote them, so the
    // reader only answers their count and shape.
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
    if (zeroCorner) buffer->items[0] = 0.0;
    for (int32_t from = 0; visit != nullptr && from < buffer->count; from += ReadBlock) {
        visit(buffer->items + from, (buffer->count - from < ReadBlock) ? buffer->count - from : ReadBlock, context);
    }
    return buffer->count;
}

RangeArguments StagedArguments()
{
    // Argument index i is read into slot i: the rules read a function's first range into x (Interp2:
    // z), its second into y, then xc and yc.
    const RangeBuffers slots = {&StagedRanges[0].values, &StagedRanges[1].values, &StagedRanges[0].values,
                                &StagedRanges[2].values, &StagedRanges[3].values};
    return RangeArguments{WebReadStaged, nullptr, slots};
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

const double* StagedPointsX()
{
    return StagedPoints.values.items;
}

const double* StagedPointsY()
{
    return StagedPoints.values.items + StagedPoints.count;
}

double* StagedPointAnswers()
{
    return StagedPoints.values.items + 2 * StagedPoints.count;
}

WEB_EXPORT("stagePoints") double* WebStagePoints(int32_t count)
{
    StagedPoints.count = 0;
    // Three doubles a point; the buffer counts in int32_t.
    if (count < 1 || count > INT32_MAX / 3 || !GrowRangeBuffer(&StagedPoints.values, 3 * count)) return nullptr;
    StagedPoints.count = count;
    return StagedPoints.values.items;
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

WEB_EXPORT("statusText") const char* WebStatusText(int32_t status)
{
    return DescribeStatus(status);
}

WEB_EXPORT("catalogue") const void* WebCatalogue()
{
    return FunctionCatalogue;
}
