"""The Python face: what a notebook user and a type checker see, what pickles, and which Python values
count as one number. The native module stays the oracle: each answer is compared with the float call's."""

import doctest
import inspect
import multiprocessing
import pickle
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor
from decimal import Decimal
from fractions import Fraction
from pathlib import Path

import numpy as np
import pytest

import quorin
from conftest import bits

X = [0.25, 1.5, 2.125, 3.875, 5.0, 6.5]
Y = [1.75, -0.5, 2.385, 0.125, -1.25, 3.0]
PUBLIC_FUNCTIONS = [getattr(quorin, name) for name in quorin.__all__ if inspect.isfunction(getattr(quorin, name))]


def test_public_functions_pickle_by_reference_with_real_signatures():
    # Faults: a builtin (capsule) that cannot pickle; a signature inspect cannot read; a flag by position.
    for function in PUBLIC_FUNCTIONS:
        assert pickle.loads(pickle.dumps(function)) is function, function.__name__
        inspect.signature(function)
    for function, flags in [(quorin.interp1, {"extrapolate", "errors"}), (quorin.spline, {"errors"})]:
        keyword_only = {p.name for p in inspect.signature(function).parameters.values() if p.kind == p.KEYWORD_ONLY}
        assert keyword_only == flags
    with pytest.raises(TypeError):
        quorin.interp1(X, Y, 7.25, True)
    assert quorin.interp1(X, Y, 7.25, extrapolate=np.True_) == quorin.interp1(X, Y, 7.25, extrapolate=True)


def test_a_process_pool_carries_functions_and_generators_with_their_place():
    # Faults: a function or a generator that cannot cross to a worker; a generator restarting there.
    chunks = np.array_split(np.linspace(-0.5, 7.0, 41), 2)
    generator = quorin.Generator()
    generator.rand_norm(3)
    with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("forkserver")) as pool:
        answers = np.concatenate(list(pool.map(quorin.spline, [X, X], [Y, Y], chunks)))
        drawn = pool.submit(generator.rand_norm, 4).result()
    assert [bits(v) for v in answers] == [bits(v) for v in quorin.spline(X, Y, np.concatenate(chunks))]
    assert [bits(v) for v in drawn] == [bits(v) for v in generator.rand_norm(4)]


def test_docstring_examples_are_what_the_functions_answer():
    # Fault: an example that no longer says what the call answers.
    failed, attempted = doctest.testmod(quorin, extraglobs={"quorin": quorin}, optionflags=doctest.NORMALIZE_WHITESPACE)
    assert attempted >= len(PUBLIC_FUNCTIONS) and failed == 0


# One real number in every kind Python has for it; each must reach the rule as the float 2.385 does.
SCALAR_KINDS = [Fraction(477, 200), Decimal("2.385"), np.float32(2.385), np.array(2.385), np.array(Decimal("2.385"), dtype=object),
                np.array([2.385])[0]]


@pytest.mark.parametrize("value", SCALAR_KINDS, ids=lambda v: type(v).__name__)
def test_every_kind_of_real_number_is_one_number(value):
    # Faults: a 0-d object array read as "not a number"; Decimal refused by a numbers.Real test.
    expected = float(value)
    assert bits(quorin.interp1(X, Y, value)) == bits(quorin.interp1(X, Y, expected))
    assert quorin.count_between(Y, value, 3) == quorin.count_between(Y, expected, 3)
    assert bits(quorin.Generator().rand_dist(value, value)) == bits(quorin.Generator().rand_dist(expected, expected))
    assert bits(quorin.student_t(value)) == bits(quorin.student_t(2))


# errors= on the paths that answer without reading points (a scalar, a failing table) as well.
ERRORS_PATHS = [
    lambda e: quorin.student_t(3, errors=e),
    lambda e: quorin.interp1(X, Y, 1.0, errors=e),
    lambda e: quorin.interp1([1, 2], [1], 1.0, errors=e),
    lambda e: quorin.interp2([[1]], 1.0, 1.0, errors=e),
    lambda e: quorin.polynomial(Y, [1.0, 2.0], errors=e),
]


@pytest.mark.parametrize("call", ERRORS_PATHS)
def test_errors_is_checked_on_every_path(call):
    with pytest.raises(ValueError, match="errors must be"):
        call("bogus")


def test_a_complex_array_is_a_type_fault():
    with pytest.raises(TypeError, match="real numbers"):
        quorin.spline(np.array(X, dtype=complex), Y, 1.0)


def test_a_series_of_points_answers_a_series_with_its_index():
    pandas = pytest.importorskip("pandas")
    points = pandas.Series([1.0, 2.5, 4.0], index=["a", "b", "c"], name="x")
    answer = quorin.spline(X, Y, points)
    assert isinstance(answer, pandas.Series) and list(answer.index) == ["a", "b", "c"] and answer.name == "x"
    assert [bits(v) for v in answer] == [bits(v) for v in quorin.spline(X, Y, points.to_numpy())]


def test_a_typed_example_passes_mypy(tmp_path):
    # Faults: py.typed not installed, an annotation that rejects a documented call, an overload that
    # answers the wrong type (the example's ignores must each be needed: --warn-unused-ignores).
    pytest.importorskip("mypy")
    example = Path(__file__).with_name("typed_example.py")
    # Installed, mypy must find the package as an installed one (py.typed); from a build tree, beside it.
    beside = Path(quorin.__file__).parents[1]
    cwd = tmp_path if beside.name in ("site-packages", "dist-packages") else beside
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--follow-imports=silent", "--no-incremental", "--cache-dir", str(tmp_path),
                          str(example)], capture_output=True, text=True, cwd=cwd)
    assert run.returncode == 0, run.stdout + run.stderr
