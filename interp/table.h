// interp/table.h - bilinear interpolation in a table with its X axis down the first column and
// its Y axis along the first row. items is row-major, R rows by C columns, element (r, c) at
// items[r * C + c]; the corner items[0] is never read. Needs R >= 3 and C >= 3.
// Axes may be unsorted and run either way: each axis uses the first interval that brackets the
// value, else the end interval nearer to it (ties go to the last). Outside the chosen interval,
// each axis holds its edge values, or extends the interval's line if extrapolate != 0.
#pragma once

#include <cstdint>

double InterpolateTable(const double* items, int32_t R, int32_t C, double X, double Y, int32_t extrapolate);
