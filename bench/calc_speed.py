#!/usr/bin/python3
"""calc_speed.py - times N =Polynomial(...) cells against N equivalent built-in formulas (=1+2*A1+3*A1^2)
in one headless Calc with quorin.oxt, each a full recalculation of the same sheet, best of several.
A benchmark, not a test: run it by hand on a quiet machine (see docs/PERFORMANCE.md).
usage: bench/calc_speed.py [BIN-FOLDER [CELLS [ROUNDS]]]   (defaults: build/linux-release/bin 100000 5)"""

import os
import sys
import time


def fill(sheet, cells, formula):
    """Column B of rows 1..cells holds formula(row); None empties it. The first cell's formula is filled
    down inside Calc: one formula per cell through the API costs minutes at 100,000 cells."""
    from com.sun.star.sheet.FillDirection import TO_BOTTOM  # pylint: disable=import-outside-toplevel
    column = sheet.getCellRangeByPosition(1, 0, 1, cells - 1)
    column.clearContents(1023)
    if formula is not None:
        sheet.getCellByPosition(1, 0).Formula = formula(1)
        column.fillAuto(TO_BOTTOM, 1)


def best_recalculation(document, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        document.calculateAll()
        times.append(time.perf_counter() - start)
    return min(times)


def time_variants(quorin_calc, office, cells, rounds):
    """Seconds per full recalculation for each variant, and the last row's two answers."""
    document = office.desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0,
                                                   quorin_calc.properties(Hidden=True))
    try:
        document.enableAutomaticCalculation(False)
        sheet = document.Sheets.getByIndex(0)
        # x values in column A (high-entropy, all different); the coefficients 1, 2, 3 in D1:D3.
        sheet.getCellRangeByPosition(0, 0, 0, cells - 1).setDataArray(
            tuple((0.001 * r + 0.000123,) for r in range(cells)))
        sheet.getCellRangeByPosition(3, 0, 3, 2).setDataArray(((1.0,), (2.0,), (3.0,)))
        seconds = {}
        for name, formula in VARIANTS:
            fill(sheet, cells, formula)
            seconds[name] = best_recalculation(document, rounds)
        # Calc may spread a column of built-in formulas over threads; add-in calls always run on one.
        set_threaded_groups(quorin_calc, office, False)
        for name, formula in VARIANTS[1:3]:
            fill(sheet, cells, formula)
            seconds[name + ", one thread"] = best_recalculation(document, rounds)
        set_threaded_groups(quorin_calc, office, True)
        # The two columns answer the same, so both did the same work.
        answers = []
        for _, formula in VARIANTS[1:3]:
            fill(sheet, cells, formula)
            document.calculateAll()
            answers.append(sheet.getCellByPosition(1, cells - 1).Value)
        return seconds, answers
    finally:
        document.close(True)


def set_threaded_groups(quorin_calc, office, threaded):
    access = office.context.ServiceManager.createInstanceWithContext(
        "com.sun.star.configuration.ConfigurationProvider", office.context).createInstanceWithArguments(
        "com.sun.star.configuration.ConfigurationUpdateAccess",
        quorin_calc.properties(nodepath="/org.openoffice.Office.Calc/Formula/Calculation"))
    access.UseThreadedCalculationForFormulaGroups = threaded
    access.commitChanges()


VARIANTS = [
    ("empty sheet (the recalculation's own cost)", None),
    ("=1+2*A1+3*A1^2 (built-in)", lambda r: "=1+2*A%d+3*A%d^2" % (r, r)),
    ("=Polynomial($D$1:$D$3;A1) (quorin.oxt)", lambda r: "=POLYNOMIAL($D$1:$D$3;A%d)" % r),
    # Calc's own cost of calling an add-in: no range to convert, next to nothing computed.
    ("=StudentT(5) (quorin.oxt, no range)", lambda r: "=STUDENTT(5)"),
]


def main(bin_folder="build/linux-release/bin", cells="100000", rounds="5"):
    sys.path.insert(0, bin_folder)
    import quorin_calc  # pylint: disable=import-outside-toplevel
    cells, rounds = int(cells), int(rounds)
    found = []
    status = quorin_calc.with_office(os.path.join(bin_folder, "quorin.oxt"), lambda office: found.append(
        time_variants(quorin_calc, office, cells, rounds)) or 0)
    if status != 0 or not found:
        return 1
    seconds, (builtin, ours) = found[0]
    empty = seconds[VARIANTS[0][0]]
    print("%d cells, best of %d full recalculations each" % (cells, rounds))
    per_cell = {}
    for name in seconds:
        per_cell[name] = (seconds[name] - empty) / cells
        print("  %-60s %8.3f s   %7.3f us per cell" % (name, seconds[name], per_cell[name] * 1e6))
    for suffix in ("", ", one thread"):
        ratio = per_cell[VARIANTS[2][0] + suffix] / per_cell[VARIANTS[1][0] + suffix]
        print("Polynomial / built-in per cell%s: %.2fx (goal: at most 2x)" % (suffix, ratio))
    print("last cell: Polynomial %r, built-in %r" % (ours, builtin))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
