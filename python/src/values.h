// values.h - Python's numbers, sequences and NumPy arrays as the rules take them. A range is any real
// array of at most two dimensions (a 1-D array is one row), read row-major; a point argument is any
// real array, answered in its shape; an integer argument is truncated toward zero, as the host
// truncates a number it passes as an integer. Text, None and other objects are not numbers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "rules/range_source.h"

namespace quorin_python {

namespace py = pybind11;

// The package's exception, a ValueError: created when the module is imported.
extern PyObject* QuorinError;
// Raises QuorinError with "function: what".
[[noreturn]] void Fail(const char* function, const std::string& what);

// One range argument: float64 values, row-major, kept alive for the call.
struct Range {
    const char* name;  // the Python argument's name, for messages
    py::array_t<double, py::array::c_style> values;
    int64_t rows = 0;
    int64_t columns = 0;
};
// The value as an array: ValueError for what NumPy cannot make one of (a ragged sequence), TypeError for
// an array of complex numbers, dates or records.
py::array AsArray(py::handle value, const char* function, const char* name);

// A range argument; table: it must be 2-D (Interp2's table). QuorinError for a value that is not a
// number, ValueError for more than two dimensions (a table: other than two), as NumPy's shape faults.
Range ReadRangeArgument(py::handle value, const char* function, const char* name, bool table = false);

// One point argument, in float64, and the points that are not numbers (their values read as NaN).
struct Points {
    py::array_t<double, py::array::c_style> values;
    std::vector<int64_t> failing;  // flat indexes, increasing
    bool scalar = false;           // a 0-d argument, answered by a float
    int64_t Count() const { return static_cast<int64_t>(values.size()); }
};
Points ReadPoints(py::handle value, const char* function, const char* name);

// A scalar number argument; QuorinError for what is not a number.
double ReadNumberArgument(py::handle value, const char* function, const char* name);
// An integer argument, truncated toward zero; QuorinError for what is not a number or lies beyond 32 bits.
int32_t ReadIntegerArgument(py::handle value, const char* function, const char* name);
// The same test for one double of an array of integer arguments.
bool IntegerFrom(double number, int32_t* integer);

// The answers in the points' shape (a float for a scalar). The failing points raise QuorinError,
// naming their indexes and why, or answer NaN.
py::object FinishPoints(const Points& points, py::array_t<double, py::array::c_style>& answers, bool nanForFailures,
                        const char* function, const char* why);

// The ranges of one call, in the order the rules read them, and the buffers of the call's own they are
// read into, released when the call is done, on every path: no buffer is shared between calls, so
// calls on several threads need no lock.
struct CallRanges {
    const Range* ranges[4] = {};
    CallBuffers own = {};
    CallRanges(std::initializer_list<const Range*> read);
    ~CallRanges();
    CallRanges(const CallRanges&) = delete;
    CallRanges& operator=(const CallRanges&) = delete;
};
// The reader that hands the call's ranges to the rules, into the call's own buffers.
RangeArguments ArgumentsOf(CallRanges* call);

// Raises QuorinError for a rule's nonzero status, naming the function, the rule and the ranges' sizes.
[[noreturn]] void FailStatus(const char* function, int32_t status, const CallRanges& call);

// Releases the GIL for work of at least this many values; below it the release costs more than it frees.
constexpr int64_t ReleaseThreshold = 4096;

}  // namespace quorin_python
