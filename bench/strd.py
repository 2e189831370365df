#!/usr/bin/python3
"""Scores LLSQ on NIST's certified polynomial regressions beside numpy.linalg.lstsq.

For each data set under tests/fit/strd, fits the certified model with LLSQ (through the substitute
host's command line) and with lstsq on the Vandermonde matrix, and prints the log relative error
of the coefficients as NIST scores software: LRE = -log10(|computed - certified| / |certified|),
capped at the 15 digits certified, 0 when fewer than one digit agrees or the fit fails. lstsq runs
with its default cut-off for small singular values and without one (rcond=-1). The last column fits
LLSQ to x minus the mean of x and scores the fitted curve at the data points against the certified
curve, evaluated exactly from the certified coefficients.
Usage: strd.py [path/to/quorin-host]   (default build/linux-debug/bin/quorin-host)
"""
import math
import re
from fractions import Fraction
import subprocess
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
SETS = ("Norris", "Pontius", "Wampler1", "Wampler2", "Wampler3", "Wampler4", "Wampler5", "Filip")
CERTIFIED_DIGITS = 15


def read_set(path):
    """The certified estimates B0, B1, ... and the (x, y) data, as the text spells them."""
    certified, x, y = [], [], []
    in_data = False
    for line in path.read_text().splitlines():
        words = line.split()
        if in_data:
            if words:
                y.append(words[0])
                x.append(words[1])
        elif re.match(r"^Data:\s+y\s+x\s*$", line):
            in_data = True
        elif len(words) >= 2 and re.fullmatch(r"B\d+", words[0]):
            certified.append(float(words[1]))
    return certified, x, y


def lre(computed, certified):
    if computed is None or not math.isfinite(computed):
        return 0.0
    if computed == certified:
        return float(CERTIFIED_DIGITS)
    error = float(abs(Fraction(computed) - Fraction(certified)) / abs(Fraction(certified)))
    return max(0.0, min(float(CERTIFIED_DIGITS), -math.log10(error)))


def fit_llsq(host, x, y, terms):
    formula = "=LLSQ({%s},{%s},%d)" % (",".join(x), ",".join(y), terms)
    out = subprocess.run([host, "eval", formula], check=True, capture_output=True, text=True).stdout
    answer = out.rsplit("->", 1)[1].strip()
    if not answer.startswith("{"):
        return [None] * terms
    return [float(v) for v in answer.strip("{}").split(",")]


def fit_lstsq(x, y, terms, rcond):
    X = np.array([float(v) for v in x])
    Y = np.array([float(v) for v in y])
    return list(np.linalg.lstsq(np.vander(X, terms, increasing=True), Y, rcond=rcond)[0])


def centred_curve_lre(host, x, y, certified):
    """Worst LRE of the curve fitted to x - mean(x), at the data points, against the certified curve."""
    x0 = float(sum(Fraction(v) for v in x) / len(x))
    row = fit_llsq(host, [repr(float(v) - x0) for v in x], y, len(certified))
    if row[0] is None:
        return 0.0
    worst = float(CERTIFIED_DIGITS)
    for v in x:
        exact = sum(Fraction(b) * Fraction(v) ** k for k, b in enumerate(certified))
        t = float(v) - x0
        p = 0.0
        for a in reversed(row):
            p = p * t + a
        worst = min(worst, lre(p, exact))
    return worst


def main():
    host = sys.argv[1] if len(sys.argv) > 1 else str(ROOT / "build/linux-debug/bin/quorin-host")
    print("| data set | difficulty | terms | LLSQ worst | LLSQ mean | lstsq worst | lstsq mean "
          "| lstsq, rcond=-1, worst | mean | LLSQ on x - mean: curve, worst |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name in SETS:
        certified, x, y = read_set(ROOT / "tests/fit/strd" / (name + ".txt"))
        terms = len(certified)
        difficulty = "lower" if name in ("Norris", "Pontius") else "higher"
        row = [name, difficulty, str(terms)]
        for fit in (fit_llsq(host, x, y, terms), fit_lstsq(x, y, terms, None), fit_lstsq(x, y, terms, -1)):
            scores = [lre(c, b) for c, b in zip(fit, certified)]
            row += ["%.1f" % min(scores), "%.1f" % (sum(scores) / terms)]
        row.append("%.1f" % centred_curve_lre(host, x, y, certified))
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
