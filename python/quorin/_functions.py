# mypy: no-warn-return-any
# (the extension answers untyped objects; the annotations here are what it answers)
"""The eleven worksheet functions as Python functions: real signatures, keyword-only flags, numpydoc
docstrings whose help texts come from the add-in's catalogue, over the private extension."""

from __future__ import annotations

import sys
from typing import Any, Callable, Literal, Sequence, SupportsFloat, TypeVar, Union, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

from . import _quorin

Errors = Literal["raise", "nan"]
# Arrays of points: an answer of the same shape. Anything else real (float, int, Fraction, Decimal, a
# NumPy scalar) is one point, answered by a float.
Real = SupportsFloat
Points = Union[NDArray[Any], Sequence[Any]]
Answers = NDArray[np.float64]
Answer = Union[float, Answers]

_Function = TypeVar("_Function", bound=Callable[..., Any])

_CATALOGUE = _quorin.catalogue()


def _catalogued(worksheet_name: str) -> Callable[[_Function], _Function]:
    """Fills the docstring's fields from the catalogue: {help} is the worksheet function's name and help, and each argument's
    worksheet name ({xValues}) its help, so that the texts are the function wizard's, written once; the
    sections every point function shares are filled in too."""

    def fill(function: _Function) -> _Function:
        help_text, arguments = _CATALOGUE[worksheet_name]
        fields = dict(arguments, help=f"{worksheet_name}: {help_text}", name=worksheet_name)
        fields.update((key, text.format(**fields)) for key, text in _SHARED_SECTIONS.items())
        function.__doc__ = (function.__doc__ or "").format(**fields)
        function.__module__ = "quorin"
        return function

    return fill


def _nan_for(errors: str, function: str) -> bool:
    """errors="raise" or errors="nan": what a failing point answers. Checked on every path, before any work."""
    if errors == "raise":  # the common call first: a scalar call's whole work costs a few hundred ns
        return False
    if errors == "nan":
        return True
    raise ValueError(f'{function}: errors must be "raise" or "nan", not {errors!r}')


def _series_like(answer: Any, *points: Any) -> Any:
    """A pandas Series of points answers a Series with its index and name (the first Series given)."""
    pandas = sys.modules.get("pandas")
    if pandas is None or isinstance(answer, float):
        return answer
    for p in points:
        if isinstance(p, pandas.Series):
            return pandas.Series(answer, index=p.index, name=p.name)
    return answer


# Docstring sections shared by the functions, written at the docstrings' indentation.
_SHARED_SECTIONS = {
    "points_answers": """Returns
    -------
    float or ndarray
        A float for one point; for an array of points a float64 array of its shape, each element the very
        double the worksheet's {name} answers at that point. A pandas Series answers a Series with its index.

    Raises
    ------
    QuorinError
        When the worksheet answers its failure (999): the message names the function, the rule and the
        ranges' sizes. A point that is not a number raises it too, naming its flat indexes, unless
        ``errors="nan"``.
    ValueError
        A range of more than two dimensions, a ragged sequence, or `errors` other than "raise" or "nan".
    TypeError
        An array of complex numbers, dates or records.""",
    "range": "array_like, at most 2-D, read row by row",
    "size_parameter": """size : int or tuple of ints, optional
            None draws one number; otherwise an array of that shape, filled in C order.""",
    "draws_returns": """Returns
        -------
        float or ndarray
            What the worksheet's {name} answers, call after call, from this sequence.""",
    "errors_parameter": """errors : {{"raise", "nan"}}, default "raise"
        What a point that is not a number answers: QuorinError, or NaN there and every other point as usual.""",
}


@_catalogued("StudentT")
def student_t(dof: Real | Points, *, errors: Errors = "raise") -> Answer:
    """{help}.

    Parameters
    ----------
    dof : int or array_like
        {DOF}; truncated toward zero, as the host passes a number to an integer argument. An array
        answers an array of its shape.
    {errors_parameter}

    Returns
    -------
    float or ndarray
        The two-sided 95 % critical value, as the worksheet's {name} answers it.

    Raises
    ------
    QuorinError
        A dof that is not a number or lies beyond 32 bits (unless ``errors="nan"`` for an array).

    Examples
    --------
    >>> quorin.student_t(10)
    2.2281411036749326
    """
    nan = _nan_for(errors, "student_t")
    return _series_like(_quorin.student_t(dof, nan), dof)


@_catalogued("CountBetween")
def count_between(values: ArrayLike, low: Real, high: Real) -> int:
    """{help}: how many values lie in [low, high).

    Parameters
    ----------
    values : {range}
        {Xvalues}.
    low : real number
        {Xlow}, counted.
    high : real number
        {Xhigh}, not counted.

    Returns
    -------
    int
        The count the worksheet's {name} answers.

    Raises
    ------
    QuorinError
        An empty range, or one holding a value that is not a number.

    Examples
    --------
    >>> quorin.count_between([0.5, 1.5, 2.5, 3.5], 1, 3)
    2
    """
    return int(_quorin.count_between(values, low, high))


@overload
def interp1(x_values: ArrayLike, y_values: ArrayLike, x: Points, *, extrapolate: bool = ...,  # type: ignore[misc]
            errors: Errors = ...) -> Answers: ...
@overload
def interp1(x_values: ArrayLike, y_values: ArrayLike, x: Real, *, extrapolate: bool = ...,
            errors: Errors = ...) -> float: ...
@_catalogued("Interp1")
def interp1(x_values: ArrayLike, y_values: ArrayLike, x: Real | Points, *, extrapolate: bool = False,
            errors: Errors = "raise") -> Answer:
    """{help}.

    Parameters
    ----------
    x_values : {range}
        {xValues}.
    y_values : {range}
        {yValues}.
    x : real number or array_like
        {x}; an array of points answers an array of its shape.
    extrapolate : bool, default False
        {extrapolate}: past an end, extend the end interval instead of holding the end value.
    {errors_parameter}

    {points_answers}

    Examples
    --------
    >>> quorin.interp1([0, 1, 2], [0, 10, 40], 1.5)
    25.0
    >>> quorin.interp1([0, 1, 2], [0, 10, 40], [-1, 3], extrapolate=True)
    array([-10.,  70.])
    """
    nan = _nan_for(errors, "interp1")
    return _series_like(_quorin.interp1(x_values, y_values, x, extrapolate, nan), x)


@overload
def interp2(z_table: ArrayLike, x: Points, y: Real | Points, *, extrapolate: bool = ...,  # type: ignore[misc]
            errors: Errors = ...) -> Answers: ...
@overload
def interp2(z_table: ArrayLike, x: Real, y: Real, *, extrapolate: bool = ...,
            errors: Errors = ...) -> float: ...
@_catalogued("Interp2")
def interp2(z_table: ArrayLike, x: Real | Points, y: Real | Points, *, extrapolate: bool = False, errors: Errors = "raise") -> Answer:
    """{help} (bilinear).

    Parameters
    ----------
    z_table : array_like, 2-D
        {Ztable}: X down the first column, Y along the first row, its corner unread (ValueError if
        it is not 2-D).
    x : real number or array_like
        {X}.
    y : real number or array_like
        {Y}. x and y broadcast together (ValueError if they cannot), and the answer has
        their shape.
    extrapolate : bool, default False
        {extrapolate}.
    {errors_parameter}

    {points_answers}

    Examples
    --------
    >>> quorin.interp2([[0, 0, 1], [0, 1, 2], [1, 3, 4]], 0.5, 0.5)
    2.5
    """
    nan = _nan_for(errors, "interp2")
    return _series_like(_quorin.interp2(z_table, x, y, extrapolate, nan), x, y)


@overload
def lagrange(x_values: ArrayLike, y_values: ArrayLike, x: Points, *, errors: Errors = ...) -> Answers: ...  # type: ignore[misc]
@overload
def lagrange(x_values: ArrayLike, y_values: ArrayLike, x: Real, *, errors: Errors = ...) -> float: ...
@_catalogued("Lagrange")
def lagrange(x_values: ArrayLike, y_values: ArrayLike, x: Real | Points, *, errors: Errors = "raise") -> Answer:
    """{help}: the polynomial through all the points, at x.

    Parameters
    ----------
    x_values : {range}
        {xValues}.
    y_values : {range}
        {yValues}.
    x : real number or array_like
        {x}.
    {errors_parameter}

    {points_answers}

    Examples
    --------
    >>> quorin.lagrange([0, 1, 2], [1, 2, 5], 3)
    10.0
    """
    nan = _nan_for(errors, "lagrange")
    return _series_like(_quorin.lagrange(x_values, y_values, x, nan), x)


@overload
def spline(x_values: ArrayLike, y_values: ArrayLike, x: Points, *, errors: Errors = ...) -> Answers: ...  # type: ignore[misc]
@overload
def spline(x_values: ArrayLike, y_values: ArrayLike, x: Real, *, errors: Errors = ...) -> float: ...
@_catalogued("Spline")
def spline(x_values: ArrayLike, y_values: ArrayLike, x: Real | Points, *, errors: Errors = "raise") -> Answer:
    """{help} through four or more points, at x.

    Parameters
    ----------
    x_values : {range}
        {xValues}; in fact they must be strictly increasing (QuorinError otherwise).
    y_values : {range}
        {yValues}.
    x : real number or array_like
        {x}; the coefficients are computed once for all the points.
    {errors_parameter}

    {points_answers}

    Examples
    --------
    >>> quorin.spline([0, 1, 2, 3, 4], [0, 1, 8, 27, 64], 2.5)
    15.625
    """
    nan = _nan_for(errors, "spline")
    return _series_like(_quorin.spline(x_values, y_values, x, nan), x)


@overload
def polynomial(c: ArrayLike, x: Points, *, errors: Errors = ...) -> Answers: ...  # type: ignore[misc]
@overload
def polynomial(c: ArrayLike, x: Real, *, errors: Errors = ...) -> float: ...
@_catalogued("Polynomial")
def polynomial(c: ArrayLike, x: Real | Points, *, errors: Errors = "raise") -> Answer:
    """{help}: c[0] + c[1] x + c[2] x^2 + ...

    Parameters
    ----------
    c : {range}
        {C}, constant first (as llsq answers them).
    x : real number or array_like
        {x}.
    {errors_parameter}

    {points_answers}

    Examples
    --------
    >>> quorin.polynomial([1, 2, 3], 2)
    17.0
    """
    nan = _nan_for(errors, "polynomial")
    return _series_like(_quorin.polynomial(c, x, nan), x)


@_catalogued("LLSQ")
def llsq(x_values: ArrayLike, y_values: ArrayLike, terms: int) -> Answers:
    """{help}.

    Parameters
    ----------
    x_values : {range}
        {xValues}.
    y_values : {range}
        {yValues}.
    terms : int
        {terms}; 2 to 20.

    Returns
    -------
    ndarray
        The `terms` coefficients, constant first, as the worksheet's {name} answers its row.

    Raises
    ------
    QuorinError
        terms outside 2..20, too few points, counts that differ, or a singular fit.

    Examples
    --------
    >>> quorin.llsq([0, 1, 2], [1, 3, 5], 2)
    array([1., 2.])
    """
    return _quorin.llsq(x_values, y_values, terms)


@_catalogued("LLSQLC")
def llsqlc(x_values: ArrayLike, y_values: ArrayLike, terms: int, x_constraints: ArrayLike,
           y_constraints: ArrayLike) -> Answers:
    """{help}: the fit passes exactly through every constraint point.

    Parameters
    ----------
    x_values : {range}
        {xValues}.
    y_values : {range}
        {yValues}.
    terms : int
        {terms}; 2 to 20, more than the constraints.
    x_constraints : {range}
        {xConstraints}.
    y_constraints : {range}
        {yConstraints}.

    Returns
    -------
    ndarray
        The `terms` coefficients, constant first.

    Raises
    ------
    QuorinError
        As llsq, and more constraints than terms.

    Examples
    --------
    >>> quorin.llsqlc([0, 1, 2, 3], [0, 1, 4, 9], 3, [0], [0])
    array([0., 0., 1.])
    """
    return _quorin.llsqlc(x_values, y_values, terms, x_constraints, y_constraints)
