"""A notebook's typical calls, checked by mypy --strict against the installed package's annotations."""

import numpy as np
from numpy.typing import NDArray

import quorin

xs = [0.0, 1.0, 2.0, 3.0, 4.0]
one: float = quorin.spline(xs, [0.0, 1.0, 8.0, 27.0, 64.0], 2.5)
many: NDArray[np.float64] = quorin.interp1(xs, xs, np.linspace(0.0, 4.0, 9), extrapolate=True, errors="nan")
fit: NDArray[np.float64] = quorin.llsq(xs, xs, 2)
count: int = quorin.count_between(xs, 1, 3)
streams: list[quorin.Generator] = quorin.Generator(state=2385).spawn(4)
place: int = streams[0].state
report: quorin.Report = quorin.check("model.xlsx")
quorin.interp1(xs, xs, 2.5, True)  # type: ignore[call-overload]
quorin.spline(xs, xs, 2.5, errors="ignore")  # type: ignore[call-overload]
