#!/usr/bin/python3
"""The writer's copy, read by python3-openpyxl: every formula and constant as in the source, the
updated cells with their new cached values and every other cached value unchanged, and every part
other than the edited sheet the same bytes.
With --recalc, the copy quorin-host recalc makes of the planted workbook: formulas unchanged, each
planted cell now caching what the unplanted workbook caches, every other cached value unchanged, and
the copy checks clean; writing over the source without --in-place is refused and leaves it as it was;
and every kept_*.xlsx, which calls no add-in function, is copied byte for byte.

usage: check_copy.py XLSX_SET_CACHED WORKBOOKS_DIR
       check_copy.py --recalc QUORIN_HOST WORKBOOKS_DIR
"""
import os
import subprocess
import sys
import tempfile
import zipfile

import openpyxl

# (sheet, cell, value given to the writer, value openpyxl must read back)
UPDATES = [
    ('Model', 'B2', '1.25', 1.25),                  # plain formula, number to number
    ('Model', 'D4', '#ERR999', '#N/A'),             # shared-formula follower, number to the stored failure
    ('Model', 'F2', 'TRUE', True),                  # array formula's first cell, number to boolean
    ('Model', 'G2', '0.1', 0.1),                    # array formula's other cell, no formula of its own
    ('Model', 'B10', '-2.5e-300', -2.5e-300),       # error to number
    ('Model', 'B11', 'new text', 'new text'),       # string to string
]


def text(value):
    return getattr(value, 'text', value)  # an array formula reads as an object holding its text


def cells(path, data_only):
    book = openpyxl.load_workbook(path, data_only=data_only)
    return {(ws.title, c.coordinate): text(c.value) for ws in book.worksheets for row in ws.iter_rows() for c in row}


def array_followers(path):
    """The cells of array formulas' areas other than the first: openpyxl reads their cached values as constants."""
    book = openpyxl.load_workbook(path)
    followers = set()
    for ws in book.worksheets:
        areas = [a['ref'] for a in getattr(ws, 'formula_attributes', {}).values() if a.get('t') == 'array']
        areas += [c.value.ref for row in ws.iter_rows() for c in row if hasattr(c.value, 'ref')]
        for area in areas:
            block = ws[area]
            if isinstance(block, tuple):  # a range; a single cell has no followers
                followers.update((ws.title, c.coordinate) for r, row in enumerate(block) for k, c in enumerate(row) if r or k)
    return followers


def recalc(host, folder):
    planted, good = os.path.join(folder, 'planted.xlsx'), os.path.join(folder, 'quorin_test.xlsx')
    with open(os.path.join(folder, 'planted.txt')) as f:
        cells_planted = [tuple(line.strip().split('!')) for line in f if line.strip()]
    faults = []
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, 'copy.xlsx')
        subprocess.run([host, 'recalc', planted, copy], check=True)
        followers = array_followers(planted)
        if {k: v for k, v in cells(planted, False).items() if k not in followers} != \
                {k: v for k, v in cells(copy, False).items() if k not in followers}:
            faults.append('formulas or constants changed')
        before, after, right = cells(planted, True), cells(copy, True), cells(good, True)
        for cell in cells_planted:
            if after.pop(cell) != right[cell]:
                faults.append('%s!%s: planted value not recalculated' % cell)
            before.pop(cell)
        if before != after:
            faults.append('cached values of other cells changed: %s' %
                          sorted(k for k in before if before[k] != after.get(k)))
        if subprocess.run([host, 'check', copy], stdout=subprocess.DEVNULL).returncode != 0:
            faults.append('the recalculated copy does not check clean')
        source = os.path.join(work, 'source.xlsx')
        with open(planted, 'rb') as f:
            original = f.read()
        with open(source, 'wb') as f:
            f.write(original)
        refused = subprocess.run([host, 'recalc', source, os.path.join(work, '.', 'source.xlsx')], stderr=subprocess.DEVNULL)
        with open(source, 'rb') as f:
            if refused.returncode != 2 or f.read() != original:
                faults.append('recalc wrote over its source without --in-place')
        subprocess.run([host, 'recalc', source, '--in-place'], check=True, stdout=subprocess.DEVNULL)
        if cells(source, True) != cells(copy, True):
            faults.append('--in-place did not write the recalculated values over the source')
        for name in sorted(n for n in os.listdir(folder) if n.startswith('kept_')):
            kept, kept_copy = os.path.join(folder, name), os.path.join(work, name)
            subprocess.run([host, 'recalc', kept, kept_copy], check=True, stdout=subprocess.DEVNULL)
            with open(kept, 'rb') as a, open(kept_copy, 'rb') as b:
                if a.read() != b.read():
                    faults.append('%s: the copy of a workbook with no add-in call is not the same bytes' % name)
    return faults


def main():
    if len(sys.argv) == 4 and sys.argv[1] == '--recalc':
        faults = recalc(sys.argv[2], sys.argv[3])
        for fault in faults:
            print(fault)
        sys.exit(1 if faults else 0)
    tool, folder = sys.argv[1], sys.argv[2]
    source = os.path.join(folder, 'quorin_test.xlsx')
    faults = []
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, 'copy.xlsx')
        arguments = [a for sheet, cell, given, _ in UPDATES for a in (sheet, cell, given)]
        subprocess.run([tool, source, copy] + arguments, check=True)
        formulas, copied = cells(source, False), cells(copy, False)
        for sheet, cell, _, _ in UPDATES:
            # A cell of an array formula's area other than its first holds a cached value alone.
            if not str(formulas[(sheet, cell)]).startswith('='):
                del formulas[(sheet, cell)], copied[(sheet, cell)]
        if formulas != copied:
            faults.append('formulas or constants changed')
        before, after = cells(source, True), cells(copy, True)
        for sheet, cell, _, expected in UPDATES:
            if after.pop((sheet, cell)) != expected:
                faults.append('%s!%s: cached value not updated' % (sheet, cell))
            before.pop((sheet, cell))
        if before != after:
            faults.append('cached values of other cells changed')
        with zipfile.ZipFile(source) as a, zipfile.ZipFile(copy) as b:
            if a.namelist() != b.namelist():
                faults.append('the parts differ: %s / %s' % (a.namelist(), b.namelist()))
            changed = [n for n in a.namelist() if n in b.namelist() and a.read(n) != b.read(n)]
            if changed != ['xl/worksheets/sheet1.xml']:
                faults.append('parts changed: %s' % changed)
    for fault in faults:
        print(fault)
    sys.exit(1 if faults else 0)


if __name__ == '__main__':
    main()
