// functions.cpp - the eleven worksheet functions for Python: each converts its arguments, runs the
// rule under the rules' lock (the GIL released for large work) and answers a float or an array.
#include "functions.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "addin/catalogue.h"
#include "rules/functions.h"
#include "values.h"

namespace quorin_python {

namespace {

using Doubles = py::array_t<double, py::array::c_style>;

// A generator's sequence and the lock that keeps its draws whole when threads share it.
struct Sequence {
    std::mutex lock;
    uint32_t state = 1;  // where the add-in's sequence starts when it is loaded
};

// The module-wide sequence rand_norm and rand_dist draw from: lives as long as the module, starts with
// it. Each Generator() holds a Sequence of its own.
Sequence ModuleSequence;

// Runs work under lock, with the GIL released when it handles at least ReleaseThreshold values. The
// lock is let go before the GIL is taken back, so a thread waiting for the lock with the GIL held
// never waits for a thread that waits for the GIL.
template <typename Work> auto Locked(std::mutex& lock, int64_t size, Work work)
{
    std::unique_ptr<py::gil_scoped_release> release;
    if (size >= ReleaseThreshold) release.reset(new py::gil_scoped_release);
    const std::lock_guard<std::mutex> hold(lock);
    return work();
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

py::object StudentT(py::handle dof, const std::string& errors)
{
    constexpr const char* F = "student_t";
    if (PyLong_Check(dof.ptr()) || PyFloat_Check(dof.ptr())) {
        return py::float_(AnswerStudentT(ReadIntegerArgument(dof, F, "dof")));
    }
    const bool nan = NanForFailures(errors, F);
    Points points = ReadPoints(dof, F, "dof");
    Doubles answers = ShapedLike(points);
    const double* in = points.values.data();
    double* out = answers.mutable_data();
    const int64_t n = points.Count();
    std::vector<int64_t> beyond;
    {
        std::unique_ptr<py::gil_scoped_release> release;
        if (n >= ReleaseThreshold) release.reset(new py::gil_scoped_release);
        for (int64_t i = 0; i < n; ++i) {
            int32_t whole = 0;
            if (IntegerFrom(in[i], &whole)) {
                out[i] = AnswerStudentT(whole);
            } else {
                beyond.push_back(i);
            }
        }
    }
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
        Locked(RuleLock, SizeOf(X), [&] { return AnswerCountBetween(ArgumentsOf(&call), from, to, &answer); });
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
py::object AtPoints(const char* F, const Range* first, const Range* second, py::handle x, const std::string& errors, Rule rule)
{
    const bool nan = NanForFailures(errors, F);
    CallRanges call{{first, second}};
    const int64_t values = SizeOf(*first) + (second != nullptr ? SizeOf(*second) : 0);
    // A Python number, the common scalar call, needs no array on either side.
    if (PyFloat_Check(x.ptr()) || (PyLong_Check(x.ptr()) && !PyBool_Check(x.ptr()))) {
        const double at = ReadNumberArgument(x, F, "x");
        double answer = 0.0;
        const int32_t status = Locked(RuleLock, values, [&] { return rule(ArgumentsOf(&call), &at, 1, &answer); });
        if (status != 0) FailStatus(F, status, call);
        return py::float_(answer);
    }
    const Points points = ReadPoints(x, F, "x");
    Doubles answers = ShapedLike(points);
    const int32_t status = Locked(RuleLock, points.Count() + values, [&] {
        return rule(ArgumentsOf(&call), points.values.data(), points.Count(), answers.mutable_data());
    });
    if (status != 0) FailStatus(F, status, call);
    return FinishPoints(points, answers, nan, F, PointNotNumber);
}

py::object Interp1(py::handle xValues, py::handle yValues, py::handle x, py::handle extrapolate, const std::string& errors)
{
    constexpr const char* F = "interp1";
    const int32_t extend = ReadIntegerArgument(extrapolate, F, "extrapolate");
    const Range X = ReadRangeArgument(xValues, F, "x_values");
    const Range Y = ReadRangeArgument(yValues, F, "y_values");
    return AtPoints(F, &X, &Y, x, errors, [extend](const RangeArguments& ranges, const double* at, int64_t n, double* out) {
        return AnswerInterp1Points(ranges, at, n, extend, out);
    });
}

py::object Interp2(py::handle zTable, py::handle x, py::handle y, py::handle extrapolate, const std::string& errors)
{
    constexpr const char* F = "interp2";
    const int32_t extend = ReadIntegerArgument(extrapolate, F, "extrapolate");
    const Range Z = ReadRangeArgument(zTable, F, "z_table", true);
    const bool nan = NanForFailures(errors, F);
    py::array X = py::array::ensure(x), Y = py::array::ensure(y);
    if (!X || !Y) throw py::type_error("interp2: x and y must be numbers, sequences of numbers or arrays");
    const bool sameShape = X.ndim() == Y.ndim() && std::equal(X.shape(), X.shape() + X.ndim(), Y.shape());
    if (!sameShape) {
        try {
            const py::tuple both = py::module_::import("numpy").attr("broadcast_arrays")(X, Y);
            X = both[0];
            Y = both[1];
        } catch (const py::error_already_set& e) {
            if (!e.matches(PyExc_ValueError)) throw;
            throw py::type_error("interp2: x and y have shapes that do not broadcast together");
        }
    }
    Points atX = ReadPoints(X, F, "x");
    const Points atY = ReadPoints(Y, F, "y");
    Doubles answers = ShapedLike(atX);
    CallRanges call{{&Z}};
    const int32_t status = Locked(RuleLock, atX.Count() + SizeOf(Z), [&] {
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

py::object Lagrange(py::handle xValues, py::handle yValues, py::handle x, const std::string& errors)
{
    const Range X = ReadRangeArgument(xValues, "lagrange", "x_values");
    const Range Y = ReadRangeArgument(yValues, "lagrange", "y_values");
    return AtPoints("lagrange", &X, &Y, x, errors, AnswerLagrangePoints);
}

py::object Spline(py::handle xValues, py::handle yValues, py::handle x, const std::string& errors)
{
    const Range X = ReadRangeArgument(xValues, "spline", "x_values");
    const Range Y = ReadRangeArgument(yValues, "spline", "y_values");
    return AtPoints("spline", &X, &Y, x, errors, AnswerSplinePoints);
}

py::object Polynomial(py::handle c, py::handle x, const std::string& errors)
{
    const Range C = ReadRangeArgument(c, "polynomial", "c");
    return AtPoints("polynomial", &C, nullptr, x, errors, AnswerPolynomialPoints);
}

py::object Coefficients(const char* F, int32_t terms, CallRanges& call, int64_t size,
                        int32_t (*rule)(const RangeArguments&, int32_t, double*))
{
    double coefficients[MaxTerms] = {};
    const int32_t status = Locked(RuleLock, size, [&] { return rule(ArgumentsOf(&call), terms, coefficients); });
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

}  // namespace

std::string CatalogueDoc(const char* name, std::initializer_list<const char*> pythonNames, const std::string& returns)
{
    for (const CatalogueRecord* header = FunctionCatalogue; header->type != 0;) {
        const int32_t count = CountArguments(header);
        if (std::string(header->name) == name) {
            std::string doc = std::string(header->help) + " (the worksheet's " + name + ").\n\n";
            int32_t a = 0;
            for (const char* python : pythonNames) {
                doc += std::string(python) + ": ";
                doc += (a < count) ? std::string(header[1 + a].help) + "\n" : std::string("\n");
                ++a;
            }
            return doc + "\n" + returns;
        }
        header += count + 2;
    }
    return returns;
}

void BindFunctions(py::module_& m)
{
    using py::arg;
    constexpr char PointsDoc[] =
        "x: a number answers a float; an array (any shape) an array of that shape, each element the worksheet's\n"
        "answer at that point. A point that is not a number raises QuorinError naming its indexes, or answers\n"
        "NaN with errors=\"nan\".";
    m.def("student_t", StudentT, arg("dof"), arg("errors") = "raise",
          CatalogueDoc("StudentT", {"dof"}, "A float for one dof, an array for an array of them (truncated toward zero).").c_str());
    m.def("count_between", CountBetween, arg("values"), arg("low"), arg("high"),
          CatalogueDoc("CountBetween", {"values", "low", "high"}, "The count, an int.").c_str());
    m.def("rand_norm", [](py::handle size) { return Draw(ModuleSequence, size, nullptr, nullptr); }, arg("size") = py::none(),
          CatalogueDoc("RandNorm", {}, "From the module's one sequence: a float, or an array of the shape size.").c_str());
    m.def("rand_dist", [](py::handle avg, py::handle stdev, py::handle size) { return RandDist(ModuleSequence, avg, stdev, size); },
          arg("avg"), arg("stdev"), arg("size") = py::none(),
          CatalogueDoc("RandDist", {"avg", "stdev"}, "From the module's one sequence: a float, or an array of the shape size.").c_str());
    m.def("interp1", Interp1, arg("x_values"), arg("y_values"), arg("x"), arg("extrapolate") = false, arg("errors") = "raise",
          CatalogueDoc("Interp1", {"x_values", "y_values", "x", "extrapolate"}, PointsDoc).c_str());
    m.def("interp2", Interp2, arg("z_table"), arg("x"), arg("y"), arg("extrapolate") = false, arg("errors") = "raise",
          CatalogueDoc("Interp2", {"z_table", "x", "y", "extrapolate"},
                       "z_table is 2-D; x and y broadcast together, answered as x is below.\n" + std::string(PointsDoc))
              .c_str());
    m.def("lagrange", Lagrange, arg("x_values"), arg("y_values"), arg("x"), arg("errors") = "raise",
          CatalogueDoc("Lagrange", {"x_values", "y_values", "x"}, PointsDoc).c_str());
    m.def("spline", Spline, arg("x_values"), arg("y_values"), arg("x"), arg("errors") = "raise",
          CatalogueDoc("Spline", {"x_values", "y_values", "x"}, PointsDoc).c_str());
    m.def("polynomial", Polynomial, arg("c"), arg("x"), arg("errors") = "raise",
          CatalogueDoc("Polynomial", {"c", "x"}, PointsDoc).c_str());
    m.def("llsq", LLSQ, arg("x_values"), arg("y_values"), arg("terms"),
          CatalogueDoc("LLSQ", {"x_values", "y_values", "terms"}, "An array of terms coefficients, constant first.").c_str());
    m.def("llsqlc", LLSQLC, arg("x_values"), arg("y_values"), arg("terms"), arg("x_constraints"), arg("y_constraints"),
          CatalogueDoc("LLSQLC", {"x_values", "y_values", "terms", "x_constraints", "y_constraints"},
                       "An array of terms coefficients, constant first.")
              .c_str());

    py::class_<Sequence>(m, "Generator",
                         "A sequence of its own, starting where the add-in's starts when it is loaded: "
                         "Generator().rand_norm(5) is always the add-in's first five draws.")
        .def(py::init<>())
        .def("rand_norm", [](Sequence& s, py::handle size) { return Draw(s, size, nullptr, nullptr); }, arg("size") = py::none(),
             CatalogueDoc("RandNorm", {}, "From this generator's sequence: a float, or an array of the shape size.").c_str())
        .def("rand_dist", [](Sequence& s, py::handle avg, py::handle stdev, py::handle size) { return RandDist(s, avg, stdev, size); },
             arg("avg"), arg("stdev"), arg("size") = py::none(),
             CatalogueDoc("RandDist", {"avg", "stdev"}, "From this generator's sequence: a float, or an array of the shape size.").c_str());
}

}  // namespace quorin_python
