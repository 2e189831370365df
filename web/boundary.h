// boundary.h - the WebAssembly module's door: what the page's script writes into linear memory
// before a call, the reader that hands it to the rules, and where an answer is left. Every export
// is a plain C function of numbers and addresses, so the module needs no imports and no glue code.
// A call: stage each range argument (WebStageRange, fill the values, WebRangeStaged), then call the
// function's export by its worksheet name with its scalars; a status of 0 means WebAnswers holds
// the answer (one value, or terms values for LLSQ and LLSQLC); any other is the failure.
// Many calls over the same ranges: stage the ranges once, their points once (WebStagePoints), then
// call the function's export named with "Points" appended; a status of 0 means every point has its
// answer, the very double the call at that point alone answers.
#pragma once

#include <cstdint>

#include "rules/functions.h"

// Exported from the module under the name given, which the script calls it by.
#define WEB_EXPORT(name) __attribute__((export_name(name)))

// A range argument as the script laid it out: rows x columns doubles, row-major, in values.items.
// Elements that were not numbers hold 0 and are counted in others; cornerOther says whether the first
// element was one of them. refused is the ReadStatus of an argument that could not be staged (not a
// rectangle of rows, too large, no storage), 0 otherwise.
struct StagedRange {
    int32_t refused;
    int32_t rows;
    int32_t columns;
    int32_t others;
    int32_t cornerOther;
    RangeBuffer values;
};

// Written by the script through the exports below, read by WebReadStaged during the next call; the
// buffers grow and are never shrunk, like the rules' own. Static: the module serves one call at a time.
extern StagedRange StagedRanges[4];
// The points of a many-point call: count x values, then count y values (Interp2's second
// coordinate), then room for count answers, in values.items.
struct StagedPointList {
    int64_t count;
    RangeBuffer values;
};
extern StagedPointList StagedPoints;
// Its three lists.
const double* StagedPointsX();
const double* StagedPointsY();
double* StagedPointAnswers();
extern double WebAnswers[MaxTerms];
// Text the script writes for WebReadNumber, at most TextCapacity bytes of UTF-8.
constexpr int32_t TextCapacity = 256;
extern char WebText[TextCapacity];

// The RangeReader over StagedRanges, as the rules call it: the rules read each range where it was staged.
int32_t WebReadStaged(void* arguments, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit,
                      void* context);
RangeArguments StagedArguments();

extern "C" {
// Room for range argument index as rows x columns doubles: their address, or 0 when there is none
// (index not 0..3, too many values, no storage: the call then answers the reader's failure). rows < 0
// stages an argument that is not a range.
double* WebStageRange(int32_t index, int32_t rows, int32_t columns);
// Records how many staged elements were not numbers, and whether the first was one.
void WebRangeStaged(int32_t index, int32_t others, int32_t cornerOther);
// Room for count points as StagedPointList lays them out: its address, or 0 when there is none (count
// below 1 or too large, no storage).
double* WebStagePoints(int32_t count);
double* WebAnswerAddress();
char* WebTextAddress();
// The first length bytes of WebText as a number (the one number grammar) into WebAnswers[0]: 0 when
// they read as one, nonzero otherwise.
int32_t WebReadNumber(int32_t length);
// A status's rule in words (the rules' DescribeStatus), a terminated string in the module's memory.
const char* WebStatusText(int32_t status);
// The catalogue's records (catalogue.h): 12 bytes each here, a type byte padded to 4, then the
// addresses of the name and the help text.
const void* WebCatalogue();
}
