// functions.cpp - the eleven worksheet functions for the Python face in quorin/: each converts its
// arguments, runs the rule on buffers of the call's own (the GIL released for large work) and answers a
// float or an array. nan says what a failing point answers; the face checks errors= and passes it here.
#include "functions.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>

#include "addin/catalogue.h"
#include "rules/functions.h"
#include "stats/random.h"
#include "values.h"

namespace quorin_python {

namespace {

using Doubles = py::array_t<double, py::array::c_style>;

// A generator's sequence and the lock that keeps its draws whole when threads share it. Each
// quorin.Generator holds one; the module-wide sequence is the face's own Generator.
struct Sequence {
    std::mutex lock;
    uint32_t state;
    explicit Sequence(uint32_t start) : state(start) {}
};

// Runs work with the GIL released when it handles at least ReleaseThreshold values.
template <typename Work> auto Released(int64_t size, Work work)
{
    std::unique_ptr<py::gil_scoped_release> release;
    if (size >= ReleaseThreshold) release.reset(new py::gil_scoped_release);
    return work();
}

// Runs work under lock, with the GIL released as Released does. The lock is let go before the GIL is
// taken back, so a thread waiting for the lock with the GIL held never waits for a thread that waits
// for the GIL.
template <typename Work> auto Locked(std::mutex& lock, int64_t size, Work work)
{
    return Released(size, [&] {
        const std::lock_guard<std::mutex> hold(lock);
        return work();
    });
}

int64_t SizeOf(const Range& range)
{
    return range.rows * range.columns;
}

Doubles ShapedLike(const Points& points)
{
    const py::ssize_t* shape = points.values.shape();
    return Doubles(std::vector<py::ssize_t>(shape, shape + points.values.ndim()));
}

constexpr char PointNotNumber[] = "x is not a number";

py::object StudentT(py::handle dof, bool nan)
{
    constexpr const char* F = "student_t";
    if (PyLong_Check(dof.ptr()) || PyFloat_Check(dof.ptr())) {
        return py::float_(AnswerStudentT(ReadIntegerArgument(dof, F, "dof")));
    }
    Points points = ReadPoints(dof, F, "dof");
    Doubles answers = ShapedLike(points);
    const double* in = points.values.data();
    double* out = answers.mutable_data();
    const int64_t n = points.Count();
    std::vector<int64_t> beyond;
    Released(n, [&] {
        for (int64_t i = 0; i < n; ++i) {
            int32_t whole = 0;
            if (IntegerFrom(in[i], &whole)) {
                out[i] = AnswerStudentT(whole);
            } else {
                beyond.push_back(i);
            }
        }
        return 0;
    });
    // A point that is not a number reads as NaN, so it is among those beyond 32 bits.
    points.failing = beyond;
    return FinishPoints(points, answers, nan, F, "dof is not a number within 32 bits");
}

py::object CountBetween(py::handle values, py::handle low, py::handle high)
{
    constexpr const char* F = "count_between";
    const double from = ReadNumberArgument(low, F, "low");
    const double to = ReadNumberArgument(high, F, "high");
    const Range X = ReadRangeArgument(values, F, "values");
    CallRanges call{{&X}};
    double answer = 0.0;
    const int32_t status =
        Released(SizeOf(X), [&] { return AnswerCountBetween(ArgumentsOf(&call), from, to, &answer); });
    if (status != 0) FailStatus(F, status, call);
    return py::int_(static_cast<long long>(answer));
}

// None: one draw as a float; an int or a tuple of ints: an array of that shape, filled in C order.
py::object Draw(Sequence& sequence, py::handle size, const double* average, const double* deviation)
{
    if (size.is_none()) {
        const std::lock_guard<std::mutex> hold(sequence.lock);
        return py::float_(average == nullptr ? AnswerRandNorm(&sequence.state)
                                             : AnswerRandDist(&sequence.state, *average, *deviation));
    }
    std::vector<py::ssize_t> shape;
    // An int, NumPy's included, is one extent; anything else is a sequence of them, as NumPy reads a shape.
    auto extentOf = [](py::handle extent) {
        const py::ssize_t value = PyNumber_AsSsize_t(extent.ptr(), PyExc_OverflowError);
        if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
        return value;
    };
    if (PyIndex_Check(size.ptr())) {
        shape.push_back(extentOf(size));
    } else {
        for (const py::handle extent : py::iter(size)) shape.push_back(extentOf(extent));
    }
    for (const py::ssize_t extent : shape) {
        if (extent < 0) throw py::value_error("size must not be negative");
    }
    Doubles draws(shape);
    double* out = draws.mutable_data();
    const int64_t n = static_cast<int64_t>(draws.size());
    Locked(sequence.lock, n, [&] {
        if (average == nullptr) {
            for (int64_t i = 0; i < n; ++i) out[i] = AnswerRandNorm(&sequence.state);
        } else {
            for (int64_t i = 0; i < n; ++i) out[i] = AnswerRandDist(&sequence.state, *average, *deviation);
        }
        return 0;
    });
    return std::move(draws);
}

py::object RandDist(Sequence& sequence, py::handle avg, py::handle stdev, py::handle size)
{
    const double average = ReadNumberArgument(avg, "rand_dist", "avg");
    const double deviation = ReadNumberArgument(stdev, "rand_dist", "stdev");
    return Draw(sequence, size, &average, &deviation);
}

// The functions of ranges and one point x: rule(ranges, x, count, answers) answers count points.
template <typename Rule>
py::object AtPoints(const char* F, const Range* first, const Range* second, py::handle x, bool nan, Rule rule)
{
    CallRanges call{{first, second}};
    const int64_t values = SizeOf(*first) + (second != nullptr ? SizeOf(*second) : 0);
    // A Python number, the common scalar call, needs no array on either side.
    if (PyFloat_Check(x.ptr()) || (PyLong_Check(x.ptr()) && !PyBool_Check(x.ptr()))) {
        const double at = ReadNumberArgument(x, F, "x");
        double answer = 0.0;
        const int32_t status = Released(values, [&] { return rule(ArgumentsOf(&call), &at, 1, &answer); });
        if (status != 0) FailStatus(F, status, call);
        return py::float_(answer);
    }
    const Points points = ReadPoints(x, F, "x");
    Doubles answers = ShapedLike(points);
    const int32_t status = Released(points.Count() + values, [&] {
        return rule(ArgumentsOf(&call), points.values.data(), points.Count(), answers.mutable_data());
    });
    if (status != 0) FailStatus(F, status, call);
    return FinishPoints(points, answers, nan, F, PointNotNumber);
}

py::object Interp1(py::handle xValues, py::handle yValues, py::handle x, py::handle extrapolate, bool nan)
{
    constexpr const char* F = "interp1";
    const int32_t extend = ReadIntegerArgument(extrapolate, F, "extrapolate");
    const Range X = ReadRangeArgument(xValues, F, "x_values");
    const Range Y = ReadRangeArgument(yValues, F, "y_values");
    return AtPoints(F, &X, &Y, x, nan, [extend](const RangeArguments& ranges, const double* at, int64_t n, double* out) {
        return AnswerInterp1Points(ranges, at, n, extend, out);
    });
}

py::object Interp2(py::handle zTable, py::handle x, py::handle y, py::handle extrapolate, bool nan)
{
    constexpr const char* F = "interp2";
    const int32_t extend = ReadIntegerArgument(extrapolate, F, "extrapolate");
    const Range Z = ReadRangeArgument(zTable, F, "z_table", true);
    py::array X = AsArray(x, F, "x"), Y = AsArray(y, F, "y");
    const bool sameShape = X.ndim() == Y.ndim() && std::equal(X.shape(), X.shape() + X.ndim(), Y.shape());
    if (!sameShape) {
        try {
            const py::tuple both = py::module_::import("numpy").attr("broadcast_arrays")(X, Y);
            X = both[0];
            Y = both[1];
        } catch (const py::error_already_set& e) {
            if (!e.matches(PyExc_ValueError)) throw;
            throw py::value_error("interp2: x and y have shapes that do not broadcast together");
        }
    }
    Points atX = ReadPoints(X, F, "x");
    const Points atY = ReadPoints(Y, F, "y");
    Doubles answers = ShapedLike(atX);
    CallRanges call{{&Z}};
    const int32_t status = Released(atX.Count() + SizeOf(Z), [&] {
        return AnswerInterp2Points(ArgumentsOf(&call), atX.values.data(), atY.values.data(), atX.Count(), extend,
                                   answers.mutable_data());
    });
    if (status != 0) FailStatus(F, status, call);
    std::vector<int64_t> failing;
    std::set_union(atX.failing.begin(), atX.failing.end(), atY.failing.begin(), atY.failing.end(),
                   std::back_inserter(failing));
    atX.failing = failing;
    return FinishPoints(atX, answers, nan, F, "x or y is not a number");
}

py::object Lagrange(py::handle xValues, py::handle yValues, py::handle x, bool nan)
{
    const Range X = ReadRangeArgument(xValues, "lagrange", "x_values");
    const Range Y = ReadRangeArgument(yValues, "lagrange", "y_values");
    return AtPoints("lagrange", &X, &Y, x, nan, AnswerLagrangePoints);
}

py::object Spline(py::handle xValues, py::handle yValues, py::handle x, bool nan)
{
    const Range X = ReadRangeArgument(xValues, "spline", "x_values");
    const Range Y = ReadRangeArgument(yValues, "spline", "y_values");
    return AtPoints("spline", &X, &Y, x, nan, AnswerSplinePoints);
}

py::object Polynomial(py::handle c, py::handle x, bool nan)
{
    const Range C = ReadRangeArgument(c, "polynomial", "c");
    return AtPoints("polynomial", &C, nullptr, x, nan, AnswerPolynomialPoints);
}

py::object Coefficients(const char* F, int32_t terms, CallRanges& call, int64_t size,
                        int32_t (*rule)(const RangeArguments&, int32_t, double*))
{
    double coefficients[MaxTerms] = {};
    const int32_t status = Released(size, [&] { return rule(ArgumentsOf(&call), terms, coefficients); });
    if (status != 0) FailStatus(F, status, call);
    Doubles row(std::vector<py::ssize_t>{terms});
    std::copy(coefficients, coefficients + terms, row.mutable_data());
    return std::move(row);
}

py::object LLSQ(py::handle xValues, py::handle yValues, py::handle terms)
{
    constexpr const char* F = "llsq";
    const int32_t m = ReadIntegerArgument(terms, F, "terms");
    const Range X = ReadRangeArgument(xValues, F, "x_values");
    const Range Y = ReadRangeArgument(yValues, F, "y_values");
    CallRanges call{{&X, &Y}};
    return Coefficients(F, m, call, SizeOf(X) + SizeOf(Y), AnswerLLSQ);
}

py::object LLSQLC(py::handle xValues, py::handle yValues, py::handle terms, py::handle xConstraints, py::handle yConstraints)
{
    constexpr const char* F = "llsqlc";
    const int32_t m = ReadIntegerArgument(terms, F, "terms");
    const Range X = ReadRangeArgument(xValues, F, "x_values");
    const Range Y = ReadRangeArgument(yValues, F, "y_values");
    const Range Xc = ReadRangeArgument(xConstraints, F, "x_constraints");
    const Range Yc = ReadRangeArgument(yConstraints, F, "y_constraints");
    CallRanges call{{&X, &Y, &Xc, &Yc}};
    return Coefficients(F, m, call, SizeOf(X) + SizeOf(Y), AnswerLLSQLC);
}

int32_t CountArguments(const CatalogueRecord* header)
{
    int32_t count = 0;
    while (header[1 + count].type != 0) ++count;
    return count;
}

// The catalogue as the face writes its docstrings from it: name -> (help, ((argument, help), ...)).
py::dict Catalogue()
{
    py::dict functions;
    for (const CatalogueRecord* header = FunctionCatalogue; header->type != 0;) {
        const int32_t count = CountArguments(header);
        py::list arguments;
        for (int32_t a = 1; a <= count; ++a) arguments.append(py::make_tuple(header[a].name, header[a].help));
        functions[header->name] = py::make_tuple(header->help, py::tuple(arguments));
        header += count + 2;
    }
    return functions;
}

uint32_t StateOf(Sequence& sequence)
{
    const std::lock_guard<std::mutex> hold(sequence.lock);
    return sequence.state;
}

}  // namespace

void BindFunctions(py::module_& m)
{
    // Positional and undocumented: quorin/ is the face, with the signatures and the docstrings.
    m.def("catalogue", Catalogue);
    m.def("student_t", StudentT);
    m.def("count_between", CountBetween);
    m.def("interp1", Interp1);
    m.def("interp2", Interp2);
    m.def("lagrange", Lagrange);
    m.def("spline", Spline);
    m.def("polynomial", Polynomial);
    m.def("llsq", LLSQ);
    m.def("llsqlc", LLSQLC);
    m.def("jumped_state", [](uint32_t state, uint64_t k) { return JumpedState(state, k); });
    py::class_<Sequence>(m, "Sequence")
        .def(py::init<uint32_t>())
        .def_property("state", StateOf, [](Sequence& s, uint32_t state) {
            const std::lock_guard<std::mutex> hold(s.lock);
            s.state = state;
        })
        .def("rand_norm", [](Sequence& s, py::handle size) { return Draw(s, size, nullptr, nullptr); })
        .def("rand_dist", [](Sequence& s, py::handle avg, py::handle stdev, py::handle size) {
            return RandDist(s, avg, stdev, size);
        });
}

}  // namespace quorin_python
