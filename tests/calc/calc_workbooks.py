#!/usr/bin/python3
"""calc_workbooks.py - headless Calc with quorin.oxt against quorin-host, bit for bit, on one workbook of
_xll. calls written by an independent writer; then Calc's saved copy read back by quorin-host, and the
function wizard's texts against the host's registrations.
usage: calc_workbooks.py QUORIN-HOST BIN-FOLDER WORK-FOLDER"""

import contextlib
import csv
import io
import os
import re
import struct
import subprocess
import sys
import zipfile

import xlsxwriter

# Data the cases read, H1 onwards: x and y columns, a column with text, one with a blank, an Interp2
# table (its corner blank), constraint points, coefficients, scalars of every kind.
DATA = {
    "H1": [0.5, 1.25, 2.0, 3.5, 4.75], "I1": [1.1, 2.3, 2.9, 4.4, 6.3],
    "J1": [0.5, 1.25, "abc", 3.5, 4.75], "K1": [1.1, 2.3, 2.9, None, 6.3],
    "I8": [0.3, 1.7, 2.9], "H9": [1.0, 2.5, 4.0],
    "I9": [1.5, 2.25, 3.0], "J9": [0.25, 4.5, 2.75], "K9": [7.0, 1.5, 3.25],
    "H13": [1.0, 4.0], "I13": [2.0, 5.5],
    "L1": [1.5, 2.25, 3.125], "L5": ["2.5", True], "M1": [1e10],
}

# Each case: the formula in column B (an array formula when it names a range), the fault it would
# catch, and its oracle: None for quorin-host's answer on the same workbook, or the value Calc must give.
CASES = [
    ("_xll.StudentT(10)", "the DOF argument misread", None),
    ("_xll.StudentT(0)", "a non-positive DOF made a failure instead of the number 999", None),
    ("_xll.StudentT(2.9)", "an integer argument rounded rather than truncated toward zero", None),
    ("_xll.StudentT(M1)", "an integer outside 32 bits not refused with #NUM! as the host refuses it", None),
    ("_xll.CountBetween(H1:I5,1,3)", "a two-column range miscounted", None),
    ("_xll.RandNorm()", "the generator starting from another state than the add-in's", None),
    ("_xll.RandDist(10,2)", "the generator's next draws, scaled, differing from the add-in's", None),
    ("_xll.Interp1(H1:H5,I1:I5,2.7,0)", "ranges handed to the core in another order or shape", None),
    ("_xll.Interp1(H1:H5,I1:I5,9,1)", "the extrapolate flag lost in conversion", None),
    ("_xll.Interp2(H8:K11,2.1,1.3,0)", "the table's corner read, or rows and columns swapped", None),
    ("_xll.Lagrange(H1:H5,I1:I5,2.2)", "Lagrange's points misread", None),
    ("_xll.Spline(H1:H5,I1:I5,2.2)", "Spline's points misread", None),
    ("_xll.Polynomial(L1:L3,0.7)", "coefficients misread", None),
    ("_xll.polynomial(L1:L3,0.7)", "a call in lower case not found", None),
    ("_xll.Polynomial(L1:L3,L5)", "text in a scalar not read by the host's number grammar", None),
    ("_xll.Polynomial(L1:L3,L6)", "TRUE in a scalar not read as 1", None),
    ("_xll.Polynomial(L1:L3,N1)", "a blank scalar not read as 0", None),
    ('_xll.Polynomial(L1:L3,"x")', "non-numeric text in a scalar answered as a number", None),
    ('_xll.Polynomial(L1:L3," 2.5")', "text in a scalar read by a looser grammar than the host's", None),
    ("_xll.Polynomial(L1:L3,H2:H3)", "a range where one number is wanted, off the formula's row, taken for its first value", None),
    ("2*_xll.Polynomial(L1:L3,0.7)+1", "arithmetic around a call in another order", None),
    ("B2:E2|_xll.LLSQ(H1:H5,I1:I5,3)", "an array answer not spread over its cells", None),
    ("B2:C2|_xll.LLSQLC(H1:H5,I1:I5,2,H13,I13)", "a constrained fit's row misread", None),
    ("_xll.Polynomial(_xll.LLSQ(H1:H5,I1:I5,3),2.2)", "an array answer not accepted as a range", None),
    ("_xll.Interp1(J1:J5,I1:I5,2,0)", "text in a range read as a number", None),
    ("_xll.Lagrange(H1:H5,K1:K5,2)", "a blank in a range read as 0", None),
    ("_xll.Lagrange(H1:H5,I1:I4,2)", "ranges of different counts accepted", None),
    ("_xll.Spline(H1:H3,I1:I3,2)", "a spline through fewer than four points accepted", None),
    ("B2:B2|_xll.LLSQ(H1:H5,I1:I5,21)", "more than 20 terms accepted", None),
    ("_xll.Interp2(H8:I9,1,1,0)", "a table smaller than 3 x 3 accepted", None),
    ("_xll.CountBetween(H1:K5,0,10)", "a non-number deep inside a two-dimensional range missed", None),
    ("B2:C2|_xll.LLSQLC(H1:H5,I1:I5,2,H9:H11,I9:I11)", "the fit's own refusal (3 constraints, 2 terms) answered", None),
    ("ISNUMBER(B14)", "a built-in reading our answer keeping its stale cached value", 1.0),
]


def place(sheet, cell, values):
    column, row = re.match(r"([A-Z]+)(\d+)", cell).groups()
    for k, value in enumerate(values):
        if value is not None:
            sheet.write("%s%d" % (column, int(row) + k), value)


def write_workbook(path):
    """One sheet: case k in row k + 1, its formula from column B; the data from column H."""
    book = xlsxwriter.Workbook(path)
    sheet = book.add_worksheet("Cases")
    for cell, values in DATA.items():
        place(sheet, cell, values)
    for k, (formula, fault, _) in enumerate(CASES):
        row = k + 1
        sheet.write(row, 0, fault)
        if "|" in formula:
            span, formula = formula.split("|")
            first, last = (re.sub(r"\d+", str(row + 1), end) for end in span.split(":"))
            sheet.write_array_formula("%s:%s" % (first, last), "{=%s}" % formula)
        else:
            sheet.write_formula(row, 1, "=" + formula, None, 0)
    book.close()


def host_values(host, path):
    """quorin-host's recalculated cells of the workbook: {cell: shown text}."""
    output = subprocess.run([host, "sheet", path, "--csv"], check=True, capture_output=True, text=True).stdout
    values = {}
    for row, line in enumerate(csv.reader(output.splitlines()[1:])):
        for column, text in enumerate(line):
            values["%s%d" % (chr(65 + column), row + 1)] = text
    return values


def same(calc, host):
    """Calc's value (a float or the shown error) and the host's shown text hold the same double or error."""
    if isinstance(calc, float):
        try:
            return struct.pack("<d", float(host)) == struct.pack("<d", calc)
        except ValueError:
            return False
    return calc == host


def main(host, bin_folder, work):
    sys.path.insert(0, bin_folder)
    import quorin_calc  # pylint: disable=import-outside-toplevel
    os.makedirs(work, exist_ok=True)
    book, saved = os.path.join(work, "cases.xlsx"), os.path.join(work, "cases_calc.xlsx")
    write_workbook(book)

    office = quorin_calc.PrivateOffice(os.path.join(bin_folder, "quorin.oxt"))
    try:
        office.start()
        document = office.load(book)
        try:
            calc = {}
            for _, row, column, _, value in quorin_calc.formula_cells(document):
                calc["%s%d" % (quorin_calc.column_name(column), row + 1)] = (
                    value if isinstance(value, float) else quorin_calc.shown(value))
            office.save(document, saved)
        finally:
            document.close(True)
        wizard = wizard_texts(office)
    finally:
        office.stop()
    # The check command runs each workbook on an office of its own, the generator's sequence afresh.
    checked = quorin_calc.with_office(os.path.join(bin_folder, "quorin.oxt"), lambda office: check_report(
        quorin_calc, office, sys.argv[1], book, os.path.join(work, "cases_host.xlsx")))

    failures = []
    host = {"original": host_values(sys.argv[1], book), "Calc's saved copy": host_values(sys.argv[1], saved)}
    for k, (formula, fault, expected) in enumerate(CASES):
        span = formula.split("|")[0] if "|" in formula else "B:B"
        first, last = (ord(end[0]) - 65 for end in span.split(":"))
        for column in range(first, last + 1):
            cell = "%s%d" % (chr(65 + column), k + 2)
            for copy, values in host.items():
                oracle = values.get(cell, "(nothing)") if expected is None else repr(expected)
                if not same(calc.get(cell), oracle if expected is None else str(oracle)):
                    failures.append("%s (%s): Calc %r, %s %s: %s" % (cell, formula, calc.get(cell),
                                    "quorin-host on the" if expected is None else "expected", copy, fault))
    failures += checked if isinstance(checked, list) else ["the check command's office did not start"]
    failures += saved_calls(saved)
    failures += wizard_differences(sys.argv[1], wizard)
    for failure in failures:
        print("FAIL " + failure)
    print("%d cases, %d cells, %d failures" % (len(CASES), len(calc), len(failures)))
    return 1 if failures else 0


def check_report(quorin_calc, office, host, book, recalculated):
    """The check command on quorin-host's recalculated copy: every cell of ours matches (our failure as
    the #N/A both save), and the one built-in reading our answer is the one stale cached value."""
    subprocess.run([host, "recalc", book, recalculated], check=True, capture_output=True)
    report = io.StringIO()
    with contextlib.redirect_stdout(report):
        status = quorin_calc.check_one(office, recalculated, 0)
    lines = report.getvalue().splitlines()
    stale = "Cases!B%d  =ISNUMBER(B14)  cached 0.0" % (len(CASES) + 1)  # the last case
    if status != 1 or len(lines) != 3 or not lines[1].strip().startswith(stale):
        return ["check reports, with status %d:\n%s\n(expected only the stale built-in %s)" % (
            status, report.getvalue(), stale.split()[0])]
    return []


def saved_calls(saved):
    """Every call of ours in Calc's saved copy is still an _xll. call, so both programs read the file."""
    with zipfile.ZipFile(saved) as archive:
        formulas = re.findall(r"<f[^>]*>([^<]*)</f>", archive.read("xl/worksheets/sheet1.xml").decode())
    ours = re.compile(r"\b(StudentT|CountBetween|RandNorm|RandDist|Interp[12]|Lagrange|Spline|Polynomial|LLSQ|LLSQLC)\(",
                      re.IGNORECASE)
    return ["saved formula %s calls ours without _xll. (the round trip would lose the call)" % f
            for f in formulas if any(not f[:m.start()].upper().endswith("_XLL.") for m in ours.finditer(f))]


def wizard_texts(office):
    """Calc's function wizard entries of our functions: {name: (description, [(argument, help)])}."""
    descriptions = office.context.ServiceManager.createInstanceWithContext(
        "com.sun.star.sheet.FunctionDescriptions", office.context)
    texts = {}
    for k in range(descriptions.Count):
        entry = {p.Name: p.Value for p in descriptions.getByIndex(k)}
        texts[entry["Name"].upper()] = (entry["Description"], [(a.Name, a.Description) for a in entry.get("Arguments") or ()])
    return texts


def wizard_differences(host, wizard):
    """Calc's wizard texts against the host's registrations as quorin-host lists them."""
    listing = subprocess.run([host, "functions"], check=True, capture_output=True, text=True).stdout.splitlines()
    differences = []
    k = 0
    while k < len(listing):
        name = listing[k].split("(")[0]
        description = listing[k + 1].strip()
        arguments = []
        k += 2
        while k < len(listing) and listing[k].startswith("    "):
            argument, text = listing[k].strip().split(": ", 1)
            arguments.append((argument, text))
            k += 1
        if wizard.get(name.upper()) != (description, arguments):
            differences.append("wizard shows %s as %r, the add-in registers %r" % (name, wizard.get(name.upper()),
                                                                                  (description, arguments)))
    return differences


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
