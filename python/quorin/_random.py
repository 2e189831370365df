# mypy: no-warn-return-any
# (the extension answers untyped objects; the annotations here are what it answers)
"""The add-in's random sequence as generators that keep their place, pickle with it, and split into
streams that do not overlap; and the module-wide sequence rand_norm and rand_dist draw from."""

from __future__ import annotations

import operator
from typing import Any, List, Optional, SupportsFloat, Tuple, Union

from numpy.typing import NDArray

from . import _quorin
from ._functions import _catalogued

Size = Union[None, int, Tuple[int, ...]]
# The congruence's period: every state recurs after this many draws, and no sooner.
_PERIOD = 1 << 32


def _whole(value: Any, what: str, low: int, high: int) -> int:
    """An int, NumPy's included (as NumPy reads an index), within low .. high; a bool is not one."""
    if isinstance(value, bool) or not hasattr(type(value), "__index__"):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    whole = operator.index(value)
    if not low <= whole <= high:
        raise ValueError(f"{what} must lie in {low} .. {high}, not {whole}")
    return whole


def _checked_state(state: Any) -> int:
    return _whole(state, "Generator: state", 0, _PERIOD - 1)


class Generator:
    """A sequence of the add-in's random numbers of its own.

    Parameters
    ----------
    state : int, optional
        Where the sequence stands, as `state` reads it; None starts where the add-in's sequence starts
        when it is loaded, so that ``Generator().rand_norm(5)`` is always the add-in's first five draws.

    Notes
    -----
    Threads may share a generator: each call's draws are taken whole, under the generator's own lock.
    A generator pickles with its place, so a copy in another process continues the same sequence.

    Examples
    --------
    >>> g = quorin.Generator()
    >>> g.rand_norm()
    0.0800856552832625
    >>> place = g.state
    >>> a = g.rand_norm(3)
    >>> g.state = place
    >>> bool((g.rand_norm(3) == a).all())
    True
    """

    def __init__(self, state: Optional[int] = None) -> None:
        self._sequence = _quorin.Sequence(1 if state is None else _checked_state(state))

    @property
    def state(self) -> int:
        """The sequence's place: the congruence's state, an int in 0 .. 2**32 - 1. Assign one read
        earlier to draw the same numbers again."""
        return int(self._sequence.state)

    @state.setter
    def state(self, state: int) -> None:
        self._sequence.state = _checked_state(state)

    def spawn(self, n: int) -> List["Generator"]:
        """Split the sequence from its place into `n` streams that do not overlap.

        Stream i starts ``i * (2**32 // n)`` draws after this generator's place (the congruence jumped
        ahead, not stepped), so each holds ``2**32 // n`` uniform draws, twelve a normal number, before
        it would meet the next. Stream 0 starts at this generator's own place: after spawning, draw from
        the streams, not from this generator. This generator's place is left as it was.

        Parameters
        ----------
        n : int
            How many streams, at least 1.

        Returns
        -------
        list of Generator

        Examples
        --------
        >>> [worker.state for worker in quorin.Generator().spawn(2)]
        [1, 2147483649]
        """
        n = _whole(n, "spawn: n", 1, _PERIOD)
        start, length = self.state, _PERIOD // n
        return [Generator(_quorin.jumped_state(start, i * length)) for i in range(n)]

    def __reduce__(self) -> Tuple[Any, Tuple[int]]:
        return Generator, (self.state,)

    def __repr__(self) -> str:
        return f"quorin.Generator(state={self.state})"

    @_catalogued("RandNorm")
    def rand_norm(self, size: Size = None) -> Union[float, NDArray[Any]]:
        """{help}: twelve uniform draws, scaled to [-1, 1], mean 0 and deviation about 1/6.

        Parameters
        ----------
        {size_parameter}

        {draws_returns}

        Examples
        --------
        >>> quorin.Generator().rand_norm(2)
        array([ 0.08008566, -0.3549913 ])
        """
        return self._sequence.rand_norm(size)

    @_catalogued("RandDist")
    def rand_dist(self, avg: SupportsFloat, stdev: SupportsFloat, size: Size = None) -> Union[float, NDArray[Any]]:
        """{help}.

        Parameters
        ----------
        avg : real number
            The {Avg}.
        stdev : real number
            The {Stdev}; a negative one mirrors the draws about avg.
        {size_parameter}

        {draws_returns}

        Examples
        --------
        >>> quorin.Generator().rand_dist(10, 2)
        10.961027863399153
        """
        return self._sequence.rand_dist(avg, stdev, size)


# The module-wide sequence: it starts where the add-in's starts (state 1) when quorin is imported, and
# lives as long as the module.
_MODULE_SEQUENCE = Generator()


def rand_norm(size: Size = None) -> Union[float, NDArray[Any]]:
    return _MODULE_SEQUENCE._sequence.rand_norm(size)


def rand_dist(avg: SupportsFloat, stdev: SupportsFloat, size: Size = None) -> Union[float, NDArray[Any]]:
    return _MODULE_SEQUENCE._sequence.rand_dist(avg, stdev, size)


rand_norm.__doc__ = "From the module's one sequence (see Generator).\n\n" + (Generator.rand_norm.__doc__ or "")
rand_dist.__doc__ = "From the module's one sequence (see Generator).\n\n" + (Generator.rand_dist.__doc__ or "")
rand_norm.__module__ = rand_dist.__module__ = "quorin"
