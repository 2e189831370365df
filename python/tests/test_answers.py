"""bench/answers.txt, the native module's answers on the benchmark's randomised inputs, through the
package: scalars and arrays of points, bit for bit. The inputs are made as bench/quorin_bench.cpp makes
them (splitmix64, the same operation order)."""

import numpy as np
import pytest

import quorin
from conftest import bits

MASK = (1 << 64) - 1


class SplitMix:
    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def uniform(self):
        return float(self.next() >> 11) * 2.0**-53


def uniform_values(n, seed, low, high):
    random = SplitMix(seed)
    return [low + (high - low) * random.uniform() for _ in range(n)]


def answer_bits(call):
    try:
        answer = call()
    except quorin.QuorinError:
        return "type16/999"
    if isinstance(answer, np.ndarray):
        return "".join(bits(v) + " " for v in answer)
    return bits(answer)


def at_points(call, q):
    """The answer at q from an array of points holding q twice among others, as a strided view, so that
    every element must be the worksheet's answer at its own point."""
    grid = np.array([[q, 0.25, -1.5], [2.0, -0.75, q]]).T
    answers = call(grid)
    assert answers.shape == grid.shape
    assert bits(answers[0, 0]) == bits(answers[2, 1])
    return bits(answers[2, 1])


def package_answers(generator):
    """The lines of answers.txt, computed through the package, with array answers checked on the way."""
    lines = []
    for seed in range(1, 41):
        random = SplitMix(seed * 1000003)
        n = 4 + random.next() % (60 if seed < 30 else 5000)
        xs = uniform_values(n, seed * 7 + 1, -3.0, 3.0)
        xsorted = np.array(sorted(xs)).reshape(-1, 1)  # a column, as the benchmark passes it
        y = uniform_values(n, seed * 7 + 2, -2.0, 2.0)
        q = -3.5 + 7.0 * random.uniform()
        lines.append(f"seed {seed} n {n}")
        lines.append("Interp1 " + " ".join(answer_bits(lambda e=e: quorin.interp1(xsorted, y, q, extrapolate=e)) for e in (0, 1)))
        assert at_points(lambda x: quorin.interp1(xsorted, y, x, extrapolate=True), q) == lines[-1].split()[2]
        lines.append("CountBetween " + bits(float(quorin.count_between(xs, -1.0, q))))
        lines.append("Spline " + answer_bits(lambda: quorin.spline(xsorted, y, q)))
        assert at_points(lambda x: quorin.spline(xsorted, y, x), q) == lines[-1].split()[1]
        lines.append("Polynomial " + answer_bits(lambda: quorin.polynomial(y, q / 3.0)))
        assert at_points(lambda x: quorin.polynomial(y, x), q / 3.0) == lines[-1].split()[1]
        if n <= 64:
            lines.append("Lagrange " + answer_bits(lambda: quorin.lagrange(xsorted, y, q)))
            assert at_points(lambda x: quorin.lagrange(xsorted, y, x), q) == lines[-1].split()[1]
        for m in (2, 3, 4, 7, 8, 13, 20):
            if m + 3 > n:
                continue
            lines.append(f"LLSQ.m{m} " + answer_bits(lambda: quorin.llsq(xs, y, m)))
            for k in (1, 3):
                xc = uniform_values(k, seed * 7 + 3 + k, -3.0, 3.0)
                yc = uniform_values(k, seed * 7 + 5 + k, -1.0, 1.0)
                lines.append(f"LLSQLC.m{m}k{k} " + answer_bits(lambda: quorin.llsqlc(xs, y, m, xc, yc)))
        side = 3 + random.next() % 40
        table = np.array(uniform_values(side * side, seed * 7 + 6, -5.0, 5.0)).reshape(side, side)
        for e in (0, 1):
            lines.append("Interp2 " + answer_bits(lambda: quorin.interp2(table, q, -q, extrapolate=e)))
            both = quorin.interp2(table, np.array([q, 0.5, q]), np.array([-q, 1.5, -q]), extrapolate=e)
            assert bits(both[2]) == lines[-1].split()[1]
        lines.append("StudentT " + answer_bits(lambda: quorin.student_t(seed * 37)))
        assert bits(quorin.student_t(np.array([1, seed * 37]))[1]) == lines[-1].split()[1]
        lines.append("RandNorm " + bits(generator.rand_norm()))
        lines.append("RandDist " + bits(generator.rand_dist(q, 1.5)))
    return lines


def test_bench_answers_bit_for_bit(tree):
    expected = [line.rstrip("\n") for line in (tree / "bench/answers.txt").open()]
    assert package_answers(quorin.Generator()) == expected
