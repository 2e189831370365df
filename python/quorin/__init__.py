"""Quorin's eleven worksheet functions over NumPy arrays, and its workbook engine, with the add-in's own doubles.

Every function answers what the add-in answers in a cell, bit for bit; an array of points answers an array
of the same shape. A call the worksheet answers with its failure raises QuorinError, naming the function
and the rule broken. See docs/PYTHON.md.
"""

from dataclasses import dataclass, field
from importlib import metadata as _metadata
from typing import List, Optional, Tuple, Union

from ._quorin import (
    Generator,
    QuorinError,
    count_between,
    evaluate,
    interp1,
    interp2,
    lagrange,
    llsq,
    llsqlc,
    polynomial,
    rand_dist,
    rand_norm,
    spline,
    student_t,
)
from . import _quorin

try:
    __version__ = _metadata.version("quorin")
except _metadata.PackageNotFoundError:  # imported from a build tree, not installed
    __version__ = "unknown"

Cell = Union[float, str, bool, None]


@dataclass(frozen=True)
class Difference:
    """A recomputed cell whose cached value differs: ulps is None unless both are numbers."""

    cell: str
    formula: str
    cached: Cell
    computed: Cell
    ulps: Optional[int]


@dataclass(frozen=True)
class Stale:
    """A formula that depends on the add-in but kept its cached value, and why."""

    cell: str
    formula: str
    reason: str


@dataclass(frozen=True)
class Report:
    """What check and recalc found, as quorin-host reports it.

    recomputed and matching count cells; differing lists the cells whose cached value is not the
    computed one (check: beyond the tolerance); stale lists the formulas left stale; kept_cached counts
    the formulas with no add-in call; changed (recalc) counts the cached values the copy changed;
    tolerated says what the reader tolerated in the file, one line per kind; notes are the engine's
    notes about the workbook.
    """

    recomputed: int
    matching: int
    differing: List[Difference]
    stale: List[Stale]
    kept_cached: int
    changed: int = 0
    tolerated: List[str] = field(default_factory=list)
    notes: List[str] = field(default_factory=list)


def _report(raw: dict) -> Report:
    return Report(
        recomputed=raw["recomputed"],
        matching=raw["matching"],
        differing=[Difference(*d) for d in raw["differing"]],
        stale=[Stale(*s) for s in raw["stale"]],
        kept_cached=raw["kept_cached"],
        changed=raw["changed"],
        tolerated=list(raw["tolerated"]),
        notes=list(raw["notes"]),
    )


def check(path, tolerance: int = 0) -> Report:
    """Recalculate the workbook's formulas that depend on the add-in and compare each with the value the
    file cached, numbers within tolerance ulps, as quorin-host check does. A file quorin-host refuses
    raises QuorinError with its message."""
    return _report(_quorin._check(_path(path), tolerance))


def recalc(source, destination) -> Report:
    """Write a copy of source in which only the recomputed cells' cached values change, as quorin-host
    recalc does; the copy is renamed into place when whole, so a failure leaves no partial file."""
    return _report(_quorin._recalc(_path(source), _path(destination)))


def _path(p) -> str:
    import os

    return os.fsdecode(os.fspath(p))


__all__ = [
    "Difference",
    "Generator",
    "QuorinError",
    "Report",
    "Stale",
    "check",
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
