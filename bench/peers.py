#!/usr/bin/python3
"""Times NumPy and SciPy doing the work of each worksheet function on in-memory arrays.

Prints one line per case, "Workload/project n median_seconds ns_per_element", with the same
workloads, sizes and query points as quorin_bench. Every peer does per call what the module does
per call: a spline or an interpolator is built afresh, a fit forms and solves its system.
Usage: peers.py [--quick] [--filter REGEX]
"""
import argparse
import math
import re
import sys
import time

import numpy as np
import scipy
from scipy.interpolate import CubicSpline, RegularGridInterpolator
from scipy.special import stdtrit

SIZES = (1000, 100000, 1000000)


def median_seconds(call, budget=0.2, repeats=5):
    """Median over repeats of the mean time per call, each repeat running about budget / repeats."""
    start = time.perf_counter()
    call()
    once = max(time.perf_counter() - start, 1e-9)
    loops = max(1, int(budget / repeats / once))
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(loops):
            call()
        times.append((time.perf_counter() - start) / loops)
    times.sort()
    return times[len(times) // 2]


def increasing(n, rng):
    return np.arange(n, dtype=float) + 0.5 * rng.random(n)


def chebyshev(n):
    """Chebyshev points in van der Corput order, as quorin_bench takes them."""
    radical = np.zeros(n)
    k = np.arange(n)
    digit = 0.5
    while k.any():
        radical += digit * (k & 1)
        k >>= 1
        digit /= 2
    return -np.cos(math.pi * (radical + 0.5 / 4096))


def square_table(s, rng):
    t = rng.random((s, s))
    t[0, :] = np.arange(s) + 0.5 * t[0, :]
    t[:, 0] = np.arange(s) + 0.5 * t[:, 0]
    return t


def normal_equations(x, y, m):
    V = np.vander(x, m, increasing=True)
    return np.linalg.solve(V.T @ V, V.T @ y)


def bordered_normal_equations(x, y, m, xc, yc):
    V = np.vander(x, m, increasing=True)
    Cm = np.vander(xc, m, increasing=True)
    k = len(xc)
    A = np.zeros((m + k, m + k))
    A[:m, :m] = V.T @ V
    A[m:, :m] = Cm
    A[:m, m:] = Cm.T
    r = np.concatenate((V.T @ y, yc))
    return np.linalg.solve(A, r)[:m]


def lagrange_loop(X, Y, x):
    total = 0.0
    n = len(X)
    for i in range(n):
        others = np.concatenate((X[:i], X[i + 1:]))
        total += Y[i] * np.prod((x - others) / (X[i] - others))
    return total


def lagrange_matrix(X, Y, x):
    D = X[:, None] - X[None, :]
    np.fill_diagonal(D, 1.0)
    F = (x - X)[None, :] / D
    np.fill_diagonal(F, 1.0)
    return float(Y @ np.prod(F, axis=1))


def cases():
    """(workload, project, n, call) for every case."""
    rng = np.random.default_rng(1)
    for n in SIZES:
        X = increasing(n, rng)
        Y = rng.uniform(-1, 1, n)
        xq = n / 2 + 0.25
        yield "Interp1", "numpy", n, lambda X=X, Y=Y, xq=xq: np.interp(xq, X, Y)

        s = round(math.sqrt(n))
        T = square_table(s, rng)
        mid = s / 2 + 0.1
        point = np.array([[mid, mid]])

        def grid(T=T, point=point):
            f = RegularGridInterpolator((T[1:, 0], T[0, 1:]), T[1:, 1:], bounds_error=False, fill_value=None)
            return f(point)
        yield "Interp2", "scipy", s * s, grid

        V = rng.random(n)
        yield "CountBetween", "numpy", n, lambda V=V: np.count_nonzero((V >= 0.25) & (V < 0.75))

        yield "Spline", "scipy", n, lambda X=X, Y=Y, xq=xq: CubicSpline(X, Y)(xq)

        C = rng.uniform(-1, 1, n)
        yield "Polynomial", "numpy", n, lambda C=C: np.polynomial.polynomial.polyval(0.5, C)
        powers = np.arange(n, dtype=float)
        yield "Polynomial", "numpy-powers", n, lambda C=C, p=powers: float(C @ np.power(0.5, p))

        xf = rng.uniform(-1, 1, n)
        yf = rng.uniform(-1, 1, n)
        for m in (2, 4, 8, 20):
            yield f"LLSQ.m{m}", "numpy", n, lambda m=m, xf=xf, yf=yf: normal_equations(xf, yf, m)
            if n <= 100000:
                yield f"LLSQ.m{m}", "numpy-polyfit", n, lambda m=m, xf=xf, yf=yf: np.polynomial.polynomial.polyfit(xf, yf, m - 1)
        for k in (1, 3):
            xc = np.array([-0.5, 0.25, 0.75][:k])
            yc = np.array([0.1, -0.2, 0.3][:k])
            for m in (2, 4, 8, 20):
                if m < k:
                    continue  # more constraints than terms: singular, as in quorin_bench
                yield (f"LLSQLC.m{m}k{k}", "numpy", n,
                       lambda m=m, xf=xf, yf=yf, xc=xc, yc=yc: bordered_normal_equations(xf, yf, m, xc, yc))

    for n in (100, 1000, 3000):
        X = chebyshev(n)
        Y = rng.uniform(-1, 1, n)
        yield "Lagrange", "numpy", n, lambda X=X, Y=Y: lagrange_loop(X, Y, 0.01)
        yield "Lagrange", "numpy-matrix", n, lambda X=X, Y=Y: lagrange_matrix(X, Y, 0.01)

    dof = iter(range(1, 10 ** 9))
    yield "StudentT", "scipy", 1, lambda: stdtrit(next(dof) % 1000 + 1, 0.975)
    generator = np.random.default_rng(1)
    yield "RandNorm", "numpy", 1, lambda: generator.normal()
    yield "RandDist", "numpy", 1, lambda: generator.normal(10.0, 2.0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one tenth of the time budget")
    parser.add_argument("--filter", default="", help="only cases whose Workload/project/n matches")
    args = parser.parse_args()
    budget = 0.02 if args.quick else 0.2
    pattern = re.compile(args.filter)
    try:
        from threadpoolctl import threadpool_info
        for pool in threadpool_info():
            print(f"# {pool.get('internal_api')} {pool.get('version')} {pool.get('architecture')} "
                  f"threads={pool.get('num_threads')}", file=sys.stderr)
    except ImportError:
        pass
    print(f"# numpy {np.__version__}, scipy {scipy.__version__}", file=sys.stderr)
    for workload, project, n, call in cases():
        if not pattern.search(f"{workload}/{project}/{n}"):
            continue
        seconds = median_seconds(call, budget=max(budget, 0.0))
        print(f"{workload}/{project} {n} {seconds:.9e} {seconds * 1e9 / n:.4f}", flush=True)


if __name__ == "__main__":
    main()
