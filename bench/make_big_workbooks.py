#!/usr/bin/env python3
"""Writes the two workbooks the size benchmark reads, every formula's cached value 0; bench/workbooks
has quorin-host recalc them into the copies it checks, so that the add-in alone computes the values.

  model-stale.xlsx   300,000 rows of five numbers, _xll.Polynomial and _xll.Interp1 over a 1,000-point table
  filled-stale.xlsx  700,000 rows of a number and three columns of one shared formula filled down
  text-stale.xlsx    400,000 rows of five texts drawn from 1,000 shared strings, and ten formulas
  varied-stale.xlsx  model-stale.xlsx with every other row's formulas reading A1*1 for A1: no formula
                     is the one above it moved, so each is read in full
  grid-stale.xlsx    the grid's every row, 1,048,576, of eight numbers (a data export), and a model
                     sheet of 60,000 rows of _xll.Interp1 and _xll.Polynomial over blocks of them

The parts are written as a stream, so the generator itself needs little memory.
Usage: bench/make_big_workbooks.py FOLDER [--rows N] [--filled-rows N] [--text-rows N] [--grid-rows N]
"""
import argparse
import os
import random
import zipfile

MAIN = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
PACKAGE_REL = 'http://schemas.openxmlformats.org/package/2006/relationships'
SHEET_TYPE = 'application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml'
STRINGS_TYPE = 'application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml'

TABLE_POINTS = 1000
COEFFICIENTS = (1.0400000000000025, 1.9899999999999989, -0.0125)


def column_name(c):
    name = ''
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        name = chr(65 + r) + name
    return name


def number(v):
    return repr(float(v))


def package(path, sheets, strings=()):
    """sheets: [(name, writer)] where writer(stream) writes the part's <sheetData> rows; strings: the
    shared strings, if any."""
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        overrides = ''.join(
            f'<Override PartName="/xl/worksheets/sheet{i + 1}.xml" ContentType="{SHEET_TYPE}"/>' for i in range(len(sheets)))
        if strings:
            overrides += f'<Override PartName="/xl/sharedStrings.xml" ContentType="{STRINGS_TYPE}"/>'
            z.writestr('xl/sharedStrings.xml', f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<sst xmlns="{MAIN}">' +
                       ''.join(f'<si><t>{text}</t></si>' for text in strings) + '</sst>')
        z.writestr('[Content_Types].xml',
                   '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" '
                   'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   f'{overrides}</Types>')
        z.writestr('_rels/.rels',
                   f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Relationships xmlns="{PACKAGE_REL}">'
                   f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
        z.writestr('xl/workbook.xml',
                   f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<workbook xmlns="{MAIN}" xmlns:r="{REL}">'
                   '<sheets>' + ''.join(f'<sheet name="{name}" sheetId="{i + 1}" r:id="rId{i + 1}"/>'
                                        for i, (name, _) in enumerate(sheets)) +
                   '</sheets><calcPr calcId="191029"/></workbook>')
        z.writestr('xl/_rels/workbook.xml.rels',
                   f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Relationships xmlns="{PACKAGE_REL}">' +
                   ''.join(f'<Relationship Id="rId{i + 1}" Type="{REL}/worksheet" Target="worksheets/sheet{i + 1}.xml"/>'
                           for i in range(len(sheets))) +
                   (f'<Relationship Id="rIdStrings" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>' if strings else '') +
                   '</Relationships>')
        for i, (_, write_rows) in enumerate(sheets):
            with z.open(f'xl/worksheets/sheet{i + 1}.xml', 'w', force_zip64=True) as part:
                part.write(f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                           f'<worksheet xmlns="{MAIN}" xmlns:r="{REL}"><sheetData>'.encode())
                buffer = []
                for row in write_rows():
                    buffer.append(row)
                    if len(buffer) == 4096:
                        part.write(''.join(buffer).encode())
                        buffer = []
                part.write((''.join(buffer) + '</sheetData></worksheet>').encode())


def table():
    rng = random.Random(1000)
    X, Y = [], []
    x = 0.0
    for _ in range(TABLE_POINTS):
        x += round(rng.uniform(0.05, 0.15), 4)
        X.append(x)
        Y.append(round(rng.uniform(-50.0, 50.0), 4))
    return X, Y


def table_rows(X, Y):
    def rows():
        for r in range(TABLE_POINTS):
            cells = f'<c r="A{r + 1}"><v>{number(X[r])}</v></c><c r="B{r + 1}"><v>{number(Y[r])}</v></c>'
            if r == 0:
                cells += ''.join(f'<c r="{column_name(3 + k)}1"><v>{number(c)}</v></c>' for k, c in enumerate(COEFFICIENTS))
            yield f'<row r="{r + 1}">{cells}</row>'
    return rows


def model(path, count, varied=False):
    X, Y = table()
    rng = random.Random(20)
    last = TABLE_POINTS

    def rows():
        for r in range(1, count + 1):
            values = [round(rng.uniform(-2.0, X[-1] + 2.0), 3) for _ in range(5)]
            times = '*1' if varied and r % 2 else ''
            cells = ''.join(f'<c r="{column_name(k)}{r}"><v>{number(v)}</v></c>' for k, v in enumerate(values))
            cells += (f'<c r="F{r}"><f>_xll.Polynomial(Table!$D$1:$F$1,A{r}{times})</f>'
                      '<v>0</v></c>')
            cells += (f'<c r="G{r}"><f>_xll.Interp1(Table!$A$1:$A${last},Table!$B$1:$B${last},B{r}{times},0)</f>'
                      '<v>0</v></c>')
            yield f'<row r="{r}">{cells}</row>'
    package(path, [('Data', rows), ('Table', table_rows(X, Y))])


def filled(path, count):
    X, Y = table()
    rng = random.Random(700)

    def rows():
        for r in range(1, count + 1):
            x = round(rng.uniform(-10.0, 10.0), 3)
            cells = f'<c r="A{r}"><v>{number(x)}</v></c>'
            for k, column in enumerate('BCD'):
                if r == 1 and k == 0:
                    formula = f'<f t="shared" ref="B1:D{count}" si="0">_xll.Polynomial(Table!$D$1:$F$1,$A1)</f>'
                else:
                    formula = '<f t="shared" si="0"/>'
                cells += f'<c r="{column}{r}">{formula}<v>0</v></c>'
            yield f'<row r="{r}">{cells}</row>'
    package(path, [('Filled', rows), ('Table', table_rows(X, Y))])


def text(path, count):
    strings = [f'customer {k:04d}, region {k % 7}' for k in range(1000)]
    rng = random.Random(400)

    def rows():
        for r in range(1, count + 1):
            cells = ''.join(f'<c r="{column_name(k)}{r}" t="s"><v>{rng.randrange(len(strings))}</v></c>' for k in range(5))
            if r <= 10:
                cells += f'<c r="F{r}"><f>_xll.StudentT({r})</f><v>0</v></c>'
            yield f'<row r="{r}">{cells}</row>'
    package(path, [('Names', rows)], strings)


def grid(path, count, models):
    rng = random.Random(1048576)
    block = 16

    def data():
        for r in range(1, count + 1):
            # Column A rises with the row, so that any block of it is a table Interp1 takes.
            values = [r + round(rng.uniform(0.0, 0.5), 3)] + [round(rng.uniform(-100.0, 100.0), 6) for _ in range(7)]
            yield f'<row r="{r}">' + ''.join(f'<c r="{column_name(k)}{r}"><v>{number(v)}</v></c>' for k, v in enumerate(values)) + '</row>'

    def model_rows():
        step = max(1, (count - block) // models)
        for r in range(1, models + 1):
            k = 1 + (r - 1) * step
            last = k + block - 1
            cells = (f'<c r="A{r}"><f>_xll.Interp1(Data!A{k}:A{last},Data!B{k}:B{last},Data!A{k + 7}+0.25,0)</f><v>0</v></c>'
                     f'<c r="B{r}"><f>_xll.Polynomial(Data!C{k}:E{k},Data!F{k})</f><v>0</v></c>')
            yield f'<row r="{r}">{cells}</row>'
    package(path, [('Data', data), ('Model', model_rows)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder')
    parser.add_argument('--rows', type=int, default=300000)
    parser.add_argument('--filled-rows', type=int, default=700000)
    parser.add_argument('--text-rows', type=int, default=400000)
    parser.add_argument('--grid-rows', type=int, default=1048576)
    parser.add_argument('--grid-models', type=int, default=60000)
    arguments = parser.parse_args()
    os.makedirs(arguments.folder, exist_ok=True)
    model(os.path.join(arguments.folder, 'model-stale.xlsx'), arguments.rows)
    filled(os.path.join(arguments.folder, 'filled-stale.xlsx'), arguments.filled_rows)
    text(os.path.join(arguments.folder, 'text-stale.xlsx'), arguments.text_rows)
    model(os.path.join(arguments.folder, 'varied-stale.xlsx'), arguments.rows, varied=True)
    grid(os.path.join(arguments.folder, 'grid-stale.xlsx'), arguments.grid_rows, arguments.grid_models)


if __name__ == '__main__':
    main()
