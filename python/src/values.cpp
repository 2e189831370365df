// values.cpp - Python values in, the rules' answers out.
#include "values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "rules/functions.h"

namespace quorin_python {

PyObject* QuorinError = nullptr;

void Fail(const char* function, const std::string& what)
{
    PyErr_SetString(QuorinError, (std::string(function) + ": " + what).c_str());
    throw py::error_already_set();
}

namespace {

// Python's numbers, NumPy's scalars, Decimal and anything registered as a real number; bool (Python's
// or NumPy's) only where the host turns TRUE into 1, in a point or a flag. Decimal is a number that the numbers module does not call real.
bool IsNumber(py::handle value, bool boolIsNumber)
{
    const py::object numpyBool = py::module_::import("numpy").attr("bool_");
    if (PyBool_Check(value.ptr()) || PyObject_IsInstance(value.ptr(), numpyBool.ptr()) == 1) return boolIsNumber;
    if (PyFloat_Check(value.ptr()) || PyLong_Check(value.ptr())) return true;
    const py::object real = py::module_::import("numbers").attr("Real");
    const py::object decimal = py::module_::import("decimal").attr("Decimal");
    return PyObject_IsInstance(value.ptr(), real.ptr()) == 1 || PyObject_IsInstance(value.ptr(), decimal.ptr()) == 1;
}

using Doubles = py::array_t<double, py::array::c_style>;

// Complex numbers, dates and records hold no real number to read, whatever their values: a dtype fault.
void RefuseUnrealKind(const py::array& array, const char* function, const char* name)
{
    const char kind = array.dtype().kind();
    if (kind == 'c' || kind == 'M' || kind == 'm' || kind == 'V') {
        throw py::type_error(std::string(function) + ": " + name + " must hold real numbers, not " +
                             py::str(array.dtype()).cast<std::string>());
    }
}

// The array's values as float64, C order; its elements that are not numbers read as NaN and are
// listed in failing (all of them for text or other non-real kinds).
Doubles ToDoubles(const py::array& array, bool boolIsNumber, std::vector<int64_t>* failing)
{
    const char kind = array.dtype().kind();
    const bool real = kind == 'f' || kind == 'i' || kind == 'u' || (kind == 'b' && boolIsNumber);
    if (real) return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
    std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
    Doubles values(shape);
    double* out = values.mutable_data();
    const py::list flat = array.attr("ravel")().attr("tolist")();
    const py::ssize_t count = static_cast<py::ssize_t>(values.size());
    for (py::ssize_t i = 0; i < count; ++i) {
        const py::handle element = flat[static_cast<size_t>(i)];
        if (kind == 'O' && IsNumber(element, boolIsNumber)) {
            out[i] = PyFloat_AsDouble(element.ptr());
            if (!PyErr_Occurred()) continue;
            PyErr_Clear();
        }
        out[i] = std::numeric_limits<double>::quiet_NaN();
        failing->push_back(static_cast<int64_t>(i));
    }
    return values;
}

}  // namespace

py::array AsArray(py::handle value, const char* function, const char* name)
{
    py::array array = py::array::ensure(value);
    if (!array) {
        throw py::value_error(std::string(function) + ": " + name +
                              " must be a number, a sequence of numbers or an array, not ragged");
    }
    RefuseUnrealKind(array, function, name);
    return array;
}

// A list or tuple of Python floats and ints, the common small range, as a row without NumPy's
// type inference; false, leaving *range alone, for anything else.
static bool ReadNumberRow(py::handle value, Range* range)
{
    if (!PyList_Check(value.ptr()) && !PyTuple_Check(value.ptr())) return false;
    PyObject* sequence = value.ptr();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(sequence);
    PyObject** items = PySequence_Fast_ITEMS(sequence);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!PyFloat_Check(items[i]) && (!PyLong_Check(items[i]) || PyBool_Check(items[i]))) return false;
    }
    Doubles row(std::vector<py::ssize_t>{n});
    double* out = row.mutable_data();
    for (Py_ssize_t i = 0; i < n; ++i) {
        out[i] = PyFloat_AsDouble(items[i]);
        if (out[i] == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;  // an int beyond the largest double: the general path says so
        }
    }
    range->values = row;
    range->rows = 1;
    range->columns = n;
    return true;
}

// Rows and columns as the worksheet's: a 0-d array one cell, a 1-D array one row.
static void TakeShape(const py::array& array, Range* range)
{
    range->rows = (array.ndim() == 2) ? array.shape(0) : 1;
    range->columns = (array.ndim() == 0) ? 1 : array.shape(array.ndim() - 1);
}

Range ReadRangeArgument(py::handle value, const char* function, const char* name, bool table)
{
    Range row{name, Doubles()};
    if (!table && ReadNumberRow(value, &row)) return row;
    // A float64 array in C order (check_ tests both), the common large range, is read where it lies.
    if (Doubles::check_(value)) {
        const auto array = py::reinterpret_borrow<py::array>(value);
        if (table ? array.ndim() == 2 : array.ndim() <= 2) {
            row.values = py::reinterpret_borrow<Doubles>(value);
            TakeShape(array, &row);
            return row;
        }
    }
    const py::array array = AsArray(value, function, name);
    if (array.ndim() > 2 || (table && array.ndim() != 2)) {
        throw py::value_error(std::string(function) + ": " + name + (table ? " must be 2-D" : " must be at most 2-D") +
                             ", not " + std::to_string(array.ndim()) + "-D");
    }
    std::vector<int64_t> failing;
    Range range{name, ToDoubles(array, false, &failing)};
    if (!failing.empty()) Fail(function, std::string(name) + " holds a value that is not a number");
    TakeShape(array, &range);
    return range;
}

Points ReadPoints(py::handle value, const char* function, const char* name)
{
    const py::array array = AsArray(value, function, name);
    Points points;
    points.values = ToDoubles(array, true, &points.failing);
    points.scalar = array.ndim() == 0;
    return points;
}

double ReadNumberArgument(py::handle value, const char* function, const char* name)
{
    if (PyFloat_Check(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());
    // A 0-d array of any dtype, object included, is the number it holds.
    if (py::isinstance<py::array>(value) && py::reinterpret_borrow<py::array>(value).ndim() == 0) {
        const py::array array = AsArray(value, function, name);
        return ReadNumberArgument(array.attr("item")(), function, name);
    }
    if (IsNumber(value, true)) {
        const double number = PyFloat_AsDouble(value.ptr());
        if (!PyErr_Occurred()) return number;
        PyErr_Clear();
        Fail(function, std::string(name) + " is beyond the largest number");
    }
    Fail(function, std::string(name) + " is not a number");
}

bool IntegerFrom(double number, int32_t* integer)
{
    if (!(std::fabs(number) < 2147483648.0)) return false;
    *integer = static_cast<int32_t>(number);
    return true;
}

int32_t ReadIntegerArgument(py::handle value, const char* function, const char* name)
{
    int32_t integer = 0;
    if (PyLong_Check(value.ptr())) {
        int overflow = 0;
        const long long whole = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (overflow == 0 && whole > INT32_MIN && whole <= INT32_MAX) return static_cast<int32_t>(whole);
    } else if (IntegerFrom(ReadNumberArgument(value, function, name), &integer)) {
        return integer;
    }
    Fail(function, std::string(name) + " lies beyond 32 bits");
}

py::object FinishPoints(const Points& points, Doubles& answers, bool nanForFailures, const char* function, const char* why)
{
    if (!points.failing.empty()) {
        if (!nanForFailures) {
            if (points.scalar) Fail(function, why);
            std::string indexes;
            const size_t shown = std::min<size_t>(points.failing.size(), 10);
            for (size_t i = 0; i < shown; ++i) indexes += (i == 0 ? "" : ", ") + std::to_string(points.failing[i]);
            if (shown < points.failing.size()) indexes += ", ... (" + std::to_string(points.failing.size()) + " in all)";
            Fail(function, std::string(why) + " at flat indexes " + indexes);
        }
        double* out = answers.mutable_data();
        for (const int64_t i : points.failing) out[i] = std::numeric_limits<double>::quiet_NaN();
    }
    if (points.scalar) return py::float_(*answers.data());
    return std::move(answers);
}

namespace {

// The add-in's reader, over arrays: the same counts, shapes, zeroed corner and blocks. Never throws:
// the rules calling it are built without exceptions, and it runs without the GIL.
int32_t ReadRanges(void* arguments, int32_t index, RangeBuffer* buffer, bool zeroCorner, BlockVisitor* visit,
                   void* context) noexcept
{
    const Range& range = *static_cast<CallRanges*>(arguments)->ranges[index];
    const int64_t count = range.rows * range.columns;
    buffer->rows = (range.rows <= INT32_MAX) ? static_cast<int32_t>(range.rows) : 0;
    buffer->columns = (range.columns <= INT32_MAX) ? static_cast<int32_t>(range.columns) : 0;
    buffer->count = (count <= INT32_MAX) ? static_cast<int32_t>(count) : 0;
    if (count < 1) return ReadEmpty;
    if (count > INT32_MAX) return ReadTooLarge;
    if (!GrowRangeBuffer(buffer, static_cast<int32_t>(count))) return ReadNoStorage;
    double* items = buffer->items;
    std::memcpy(items, range.values.data(), static_cast<size_t>(count) * sizeof(double));
    if (zeroCorner) items[0] = 0.0;
    for (int64_t from = 0; visit != nullptr && from < count; from += ReadBlock) {
        visit(items + from, static_cast<int32_t>(std::min<int64_t>(ReadBlock, count - from)), context);
    }
    return static_cast<int32_t>(count);
}

}  // namespace

CallRanges::CallRanges(std::initializer_list<const Range*> read)
{
    std::copy(read.begin(), read.end(), ranges);
}

CallRanges::~CallRanges()
{
    ReleaseCallBuffers(&own);
}

RangeArguments ArgumentsOf(CallRanges* call)
{
    return RangeArguments{ReadRanges, call, BuffersOf(&call->own)};
}

void FailStatus(const char* function, int32_t status, const CallRanges& call)
{
    std::string sizes;
    for (const Range* range : call.ranges) {
        if (range == nullptr) continue;
        sizes += sizes.empty() ? " (" : ", ";
        sizes += std::string(range->name) + " ";
        sizes += (range->rows > 1) ? std::to_string(range->rows) + "x" + std::to_string(range->columns)
                                   : std::to_string(range->rows * range->columns);
    }
    Fail(function, DescribeStatus(status) + sizes + (sizes.empty() ? "" : ")"));
}

}  // namespace quorin_python
