"""Quorin's eleven worksheet functions over NumPy arrays, and its workbook engine, with the add-in's own doubles.

Every function answers what the add-in answers in a cell, bit for bit; an array of points answers an array
of the same shape. A call the worksheet answers with its failure raises QuorinError, naming the function
and the rule broken. See docs/PYTHON.md.
"""

from importlib import metadata as _metadata

from . import _quorin
from ._estate import CheckRow, check_many
from ._functions import count_between, interp1, interp2, lagrange, llsq, llsqlc, polynomial, spline, student_t
from ._random import Generator, rand_dist, rand_norm
from ._workbooks import Difference, Report, Stale, check, evaluate, recalc

QuorinError = _quorin.QuorinError

try:
    __version__ = _metadata.version("quorin")
except _metadata.PackageNotFoundError:  # imported from a build tree, not installed
    __version__ = "unknown"

# The public names pickle and print as quorin's, wherever they are defined.
for _public in (CheckRow, Difference, Generator, Report, Stale):
    _public.__module__ = "quorin"
del _public

__all__ = [
    "CheckRow",
    "Difference",
    "Generator",
    "QuorinError",
    "Report",
    "Stale",
    "check",
    "check_many",
    "count_between",
    "evaluate",
    "interp1",
    "interp2",
    "lagrange",
    "llsq",
    "llsqlc",
    "polynomial",
    "rand_dist",
    "rand_norm",
    "recalc",
    "spline",
    "student_t",
]
