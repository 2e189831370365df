// counted_module.h - a fresh copy of the counted module in the substitute host, for tests that need
// the module's statics zeroed (empty argument buffers, no registration list) at their start.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/substitute_host.h"
#include "tests/robustness/allocation_counter.h"

namespace quorin_test {

using quorin_host::Kind;
using quorin_host::SubstituteHost;
using quorin_host::Value;

// Unloads whatever copy is loaded, returns its abandoned blocks, and loads a new one; opened unless
// told otherwise. Fails the calling test when the module does not load or open.
void LoadFreshModule(SubstituteHost& host, bool open = true);
// Unloads the module and returns its abandoned blocks.
void UnloadModule(SubstituteHost& host);

// Same kind, same shape and the same bits in every number.
bool SameValue(const Value& a, const Value& b);

inline bool IsFailure(const Value& v) { return v.kind == Kind::Error && v.error == 999; }

Value Column(const std::vector<double>& numbers);
// n strictly increasing, unevenly spaced x values and y values with curvature.
std::vector<double> PointsX(int32_t n);
std::vector<double> PointsY(int32_t n);
// An R x C table for Interp2: axes in the first row and column, the corner left 0.
Value Table(int32_t R, int32_t C);

}  // namespace quorin_test
