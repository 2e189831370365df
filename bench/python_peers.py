#!/usr/bin/python3
"""Times the Python package beside its NumPy/SciPy peers, in one run on the same arrays.

Prints one line per case, "function n package_seconds peer_seconds peer_name ratio", the median of
5 timed batches each (bench/peers.py's timing), then the time of scalar calls beside the cost of
calling a do-nothing builtin. Each call does all its work: a spline is built and evaluated,
a fit forms and solves its system. The quorin imported is whatever the interpreter finds: run it
with the virtual environment the package is installed in.
Usage: python_peers.py [--sizes 1000,1000000]
"""
import argparse
import sys
import timeit
from pathlib import Path

import numpy as np
from numpy.polynomial import polynomial as P
from scipy.interpolate import CubicSpline
from scipy.stats import t as student

import quorin

sys.path.insert(0, str(Path(__file__).resolve().parent))
from peers import median_seconds  # noqa: E402


def cases(n, rng):
    """(function, package call, peer name, peer call): the same arrays for both."""
    nodes = np.arange(n, dtype=float) + 0.5 * rng.random(n)
    values = rng.uniform(-1.0, 1.0, n)
    points = rng.uniform(nodes[0], nodes[-1], n)
    coefficients = rng.uniform(-1.0, 1.0, 8)
    unit = rng.uniform(-1.0, 1.0, n)
    dof = rng.integers(1, 1000, n)
    yield "interp1", lambda: quorin.interp1(nodes, values, points), "numpy.interp", lambda: np.interp(points, nodes, values)
    yield ("spline", lambda: quorin.spline(nodes, values, points), "scipy CubicSpline",
           lambda: CubicSpline(nodes, values)(points))
    yield ("polynomial (8 terms)", lambda: quorin.polynomial(coefficients, unit), "numpy polyval",
           lambda: P.polyval(unit, coefficients))
    yield ("llsq (4 terms)", lambda: quorin.llsq(unit, values, 4), "numpy polyfit", lambda: P.polyfit(unit, values, 3))
    yield "student_t", lambda: quorin.student_t(dof), "scipy t.ppf", lambda: student.ppf(0.975, dof)
    generator = np.random.default_rng(1)
    yield "rand_norm", lambda: quorin.rand_norm(n), "numpy Generator.normal", lambda: generator.normal(size=n)


def scalar_overheads():
    """Nanoseconds per scalar call, best and median of 7 timeit repeats of 10^5 calls, beside a
    builtin doing nothing worth timing (the interpreter's own cost of a call)."""
    names = {"quorin": quorin, "np": np, "c": [1.5, -0.25, 0.125], "a": np.array([1.5, -0.25, 0.125])}
    for statement in ["len(())", "quorin.student_t(10)", "quorin.rand_norm()", "quorin.polynomial(c, 0.5)",
                      "quorin.polynomial(a, 0.5)", "quorin.interp1(c, a, 0.5)"]:
        times = sorted(timeit.Timer(statement, globals=names).repeat(7, 100_000))
        yield statement, times[0] * 1e4, times[3] * 1e4


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="1000,1000000")
    sizes = [int(s) for s in parser.parse_args().sizes.split(",")]
    rng = np.random.default_rng(2385)
    print(f"quorin {quorin.__version__}, NumPy {np.__version__}")
    print(f"{'function':22} {'n':>8} {'quorin s':>11} {'peer s':>11}  {'peer':24} peer/quorin")
    for n in sizes:
        for name, ours, peer_name, peer in cases(n, rng):
            mine, theirs = median_seconds(ours), median_seconds(peer)
            print(f"{name:22} {n:>8} {mine:11.3e} {theirs:11.3e}  {peer_name:24} {theirs / mine:6.2f}")
    print(f"{'scalar call':32} {'best ns':>8} {'median ns':>10}")
    for statement, best, median in scalar_overheads():
        print(f"{statement:32} {best:8.0f} {median:10.0f}")


if __name__ == "__main__":
    main()
