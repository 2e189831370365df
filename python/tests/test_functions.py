"""The functions against the native module through quorin-host, and the package's argument handling:
what the worksheet answers, the package answers, for every kind of Python value that holds the same
numbers; what no worksheet call could pass is a clear QuorinError or TypeError, never a crash."""

import numpy as np
import pytest

import quorin
from conftest import bits

X = [0.25, 1.5, 2.125, 3.875, 5.0, 6.5]
Y = [1.75, -0.5, 2.385, 0.125, -1.25, 3.0]
TABLE = [[0, 1, 2.5, 4], [1, 0.3, -1.2, 2.2], [2.5, 1.1, 0.7, -0.4], [4, 2.9, -2.6, 1.3]]


def row(values):
    return "{" + ",".join(repr(float(v)) for v in values) + "}"


def table(rows):
    return "{" + ";".join(",".join(repr(float(v)) for v in r) for r in rows) + "}"


# (formula for quorin-host, the same call through the package); each names the path it covers.
CASES = [
    ("=StudentT(7)", lambda: quorin.student_t(7)),
    ("=StudentT(-3)", lambda: quorin.student_t(-3)),  # the guard's number, not a failure
    ("=StudentT(2.9)", lambda: quorin.student_t(2.9)),  # truncated toward zero as the host passes it
    (f"=CountBetween({row(Y)},-0.5,2.385)", lambda: float(quorin.count_between(Y, -0.5, 2.385))),
    (f"=Interp1({row(X)},{row(Y)},7.25,TRUE)", lambda: quorin.interp1(X, Y, 7.25, extrapolate=True)),
    (f"=Interp1({row(X)},{row(Y)},7.25,FALSE)", lambda: quorin.interp1(X, Y, 7.25)),
    (f"=Interp2({table(TABLE)},1.7,3.1,0)", lambda: quorin.interp2(TABLE, 1.7, 3.1)),
    (f"=Interp2({table(TABLE)},-1.7,5.1,1)", lambda: quorin.interp2(TABLE, -1.7, 5.1, extrapolate=1)),
    (f"=Lagrange({row(X)},{row(Y)},2.9)", lambda: quorin.lagrange(X, Y, 2.9)),
    (f"=Spline({row(X)},{row(Y)},-0.3)", lambda: quorin.spline(X, Y, -0.3)),
    (f"=Polynomial({row(Y)},1.0625)", lambda: quorin.polynomial(Y, 1.0625)),
]


def test_scalar_answers_are_the_native_modules(host_eval):
    answers = host_eval([formula for formula, _ in CASES])
    for (formula, call), text in zip(CASES, answers):
        assert bits(call()) == bits(float(text)), formula


def test_fits_are_the_native_modules(host_eval):
    llsq, llsqlc = host_eval([f"=LLSQ({row(X)},{row(Y)},4)", f"=LLSQLC({row(X)},{row(Y)},3,{{1,4}},{{0.5,-1}})"])
    for formula_answer, answer in [(llsq, quorin.llsq(X, Y, 4)), (llsqlc, quorin.llsqlc(X, Y, 3, [1, 4], [0.5, -1]))]:
        expected = [float(v) for v in formula_answer.strip("{}").split(",")]
        assert [bits(v) for v in answer] == [bits(v) for v in expected]


def test_evaluate_answers_as_quorin_host_eval(host_eval):
    formulas = ["=StudentT(10)", "=Polynomial(LLSQ({0,1,2},{1,3,5},2),10)", '="a"&"b"', "=1<2"]
    expected = host_eval(formulas)
    assert [quorin.evaluate(f) for f in formulas] == [float(expected[0]), float(expected[1]), "ab", True]
    assert quorin.evaluate("=LLSQ({0,1,2},{1,3,5},2)") == [[1.0, 2.0]]
    with pytest.raises(quorin.QuorinError, match="#ERR999"):
        quorin.evaluate("=LLSQ({0,1},{1,3},5)")
    with pytest.raises(quorin.QuorinError, match="column"):
        quorin.evaluate("=StudentT(")


# The same numbers in every container the package takes: each must reach the rule unchanged.
CONTAINERS = [
    ("list", lambda v: list(v)),
    ("tuple", lambda v: tuple(v)),
    ("float32 (exact here)", lambda v: np.asarray(v, dtype=np.float32)),
    ("reversed view", lambda v: np.asarray(v)[::-1][::-1]),
    ("strided view", lambda v: np.repeat(np.asarray(v), 2)[::2]),
    ("column", lambda v: np.asarray(v).reshape(-1, 1)),
    ("Fortran 2-D", lambda v: np.asfortranarray(np.asarray(v).reshape(2, -1))),
    ("object array of numbers", lambda v: np.array([np.float64(e) for e in v], dtype=object)),
]


@pytest.mark.parametrize("name,make", CONTAINERS)
def test_every_container_gives_the_same_bits(name, make):
    xs = [0.5, 1.0, 2.25, 4.0, 5.5, 7.0]  # exact in float32
    ys = [1.0, -0.5, 2.0, 0.25, -1.25, 3.0]
    expected = quorin.spline(np.array(xs), np.array(ys), 2.9)
    assert bits(quorin.spline(make(xs), make(ys), 2.9)) == bits(expected), name


def test_integer_dtypes_and_points_of_any_shape():
    xs = np.arange(6, dtype=np.int8)
    points = np.linspace(-1, 6, 24).reshape(2, 3, 4)[:, ::-1, :]
    answers = quorin.interp1(xs, xs.astype(np.uint64) * 3, points, extrapolate=True)
    assert answers.shape == points.shape
    assert [bits(v) for v in answers.ravel()] == [bits(quorin.interp1(xs, xs * 3, float(p), extrapolate=True)) for p in points.ravel()]
    assert quorin.spline(X, Y, np.empty((0, 3))).shape == (0, 3)
    assert isinstance(quorin.polynomial(Y, np.float64(2.0)), float)


# (call, the error and the words it must say): the failure answers and what no sheet can pass.
REFUSALS = [
    (lambda: quorin.interp1([1, 2, 3], [1, 2], 1.5), quorin.QuorinError, "interp1: lengths differ"),
    (lambda: quorin.spline([0, 1, 2], [0, 1, 0], 1.5), quorin.QuorinError, "spline: too few points"),
    (lambda: quorin.spline([0, 2, 1, 3], [0, 1, 0, 1], 1.5), quorin.QuorinError, "not strictly increasing"),
    (lambda: quorin.llsq(X, Y, 21), quorin.QuorinError, "terms outside 2..20"),
    (lambda: quorin.llsq([1, 1, 1], [1, 2, 3], 2), quorin.QuorinError, "singular"),
    (lambda: quorin.llsqlc(X, Y, 2, [0, 1, 2], [0, 1, 2]), quorin.QuorinError, "llsqlc"),
    (lambda: quorin.interp2([[0, 1, 2, 3, 4], [1, 2, 3, 4, 5]], 1, 1), quorin.QuorinError, "3 rows and 3 columns"),
    (lambda: quorin.polynomial([], 1.0), quorin.QuorinError, "empty"),
    (lambda: quorin.count_between([1, None], 0, 2), quorin.QuorinError, "not a number"),
    (lambda: quorin.count_between(["1", "2"], 0, 2), quorin.QuorinError, "not a number"),
    (lambda: quorin.lagrange([True, False], [1, 2], 0), quorin.QuorinError, "not a number"),
    (lambda: quorin.student_t(2**31), quorin.QuorinError, "beyond 32 bits"),
    (lambda: quorin.student_t(float("nan")), quorin.QuorinError, "beyond 32 bits"),
    (lambda: quorin.interp1(X, Y, "1.5"), quorin.QuorinError, "x is not a number"),
    (lambda: quorin.interp1(X, Y, [1.0, None, 2.0, "a"]), quorin.QuorinError, "flat indexes 1, 3"),
    (lambda: quorin.polynomial(np.ones((2, 2, 2)), 1.0), ValueError, "at most 2-D"),
    (lambda: quorin.interp2([1, 2, 3, 4, 5, 6, 7, 8, 9], 1, 1), ValueError, "must be 2-D"),
    (lambda: quorin.interp2(TABLE, [1, 2], [1, 2, 3]), ValueError, "broadcast"),
    (lambda: quorin.polynomial([[1, 2], [3]], 1.0), ValueError, "sequence of numbers"),
    (lambda: quorin.polynomial([1, 2], 1.0, errors="ignore"), ValueError, "errors must be"),
]


@pytest.mark.parametrize("call,error,words", REFUSALS)
def test_refusals_say_the_function_and_the_rule(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_quorin_error_is_a_value_error():
    assert issubclass(quorin.QuorinError, ValueError)


def test_failing_points_answer_nan_when_asked_and_the_rest_are_untouched():
    answers = quorin.interp1(X, Y, [1.0, None, 2.0], errors="nan")
    assert np.isnan(answers[1])
    assert [bits(answers[0]), bits(answers[2])] == [bits(quorin.interp1(X, Y, 1.0)), bits(quorin.interp1(X, Y, 2.0))]
    assert np.isnan(quorin.student_t([5, 2**40], errors="nan")[1])


def test_non_finite_inputs_are_answered_as_the_add_in_answers_them():
    # A non-finite answer is an answer; a NaN among a spline's x values is refused by its core.
    assert np.isnan(quorin.polynomial([1.0, np.nan], 2.0))
    assert quorin.polynomial([1.0, 2.0], np.inf) == np.inf
    assert np.isnan(quorin.interp1(X, Y, np.nan))
    assert quorin.count_between([np.nan, np.inf, 1.0], 0, np.inf) == 1
    with pytest.raises(quorin.QuorinError):
        quorin.spline([0, np.nan, 2, 3], [0, 1, 2, 3], 1.0)


def test_docstrings_come_from_the_catalogue():
    assert "performs cubic spline interpolation" in quorin.spline.__doc__
    assert "the number of terms" in quorin.llsq.__doc__
