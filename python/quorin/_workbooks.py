"""check and recalc of workbooks with the engine quorin-host uses, their Report, and evaluate."""

import os
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Union

from . import _quorin

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


def _report(raw: Dict[str, Any]) -> Report:
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


PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def check(path: PathLike, tolerance: int = 0) -> Report:
    """Recalculate the workbook's formulas that depend on the add-in and compare each with the value the
    file cached, as quorin-host check does.

    Parameters
    ----------
    path : str or path-like
        The .xlsx workbook.
    tolerance : int, default 0
        How many ulps apart two numbers may lie and still match.

    Returns
    -------
    Report

    Raises
    ------
    FileNotFoundError
        No file at path.
    QuorinError
        A workbook quorin-host refuses, with its message (the file, the part and the cell).

    Examples
    --------
    >>> quorin.check("model.xlsx").differing  # doctest: +SKIP
    []
    """
    return _report(_quorin._check(_existing(path), tolerance))


def recalc(source: PathLike, destination: PathLike) -> Report:
    """Write a copy of source in which only the recomputed cells' cached values change, as quorin-host
    recalc does; the copy is renamed into place when whole, so a failure leaves no partial file.

    Parameters
    ----------
    source, destination : str or path-like
        The workbook, and where its copy goes (not the source itself).

    Returns
    -------
    Report
        As check's; `changed` counts the cached values the copy changed.

    Raises
    ------
    FileNotFoundError
        No file at source.
    QuorinError
        A workbook quorin-host refuses, or a copy that cannot be written.
    """
    return _report(_quorin._recalc(_existing(source), os.fsdecode(os.fspath(destination))))


def evaluate(formula: str) -> Any:
    """Evaluate a formula in the spreadsheet's language as quorin-host eval does, through the native module.

    Returns
    -------
    float, str, bool, None or list of rows
        A number, text, TRUE/FALSE, an empty answer, or an array as a list of rows.

    Raises
    ------
    QuorinError
        A formula the host refuses (one that does not parse, an unknown function) or an error answer.

    Examples
    --------
    >>> quorin.evaluate("=Polynomial(LLSQ({0,1,2},{1,3,5},2),10)")
    21.0
    """
    return _quorin.evaluate(formula)


def _existing(path: PathLike) -> str:
    """The path as text, once os.stat found something there: a missing file is FileNotFoundError, as
    Python's own file functions raise it, not the engine's message."""
    os.stat(path)
    return os.fsdecode(os.fspath(path))


