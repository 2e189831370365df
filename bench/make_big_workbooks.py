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
  heavy-stale.xlsx   the same grid, and a heavier model of 60,000 rows of six cells of ours each:
                     Interp1 over 1,000 rows, CountBetween over 100 x 2 (every 100th row over a
                     60,000-row column), Polynomial over 2 x 2, LLSQ over 20 points entered over 3 cells

The parts are written as a stream, so the generator itself needs little memory.
Usage: bench/make_big_workbooks.py FOLDER [--rows N] [--filled-rows N] [--text-rows N] [--grid-rows N]
       [--grid-models N] [--books NAME,...]
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


def grid_data(count):
    rng = random.Random(1048576)

    def data():
        for r in range(1, count + 1):
            # Column A rises with the row, so that any block of it is a table Interp1 takes.
            values = [r + round(rng.uniform(0.0, 0.5), 3)] + [round(rng.uniform(-100.0, 100.0), 6) for _ in range(7)]
            yield f'<row r="{r}">' + ''.join(f'<c r="{column_name(k)}{r}"><v>{number(v)}</v></c>' for k, v in enumerate(values)) + '</row>'
    return data


def grid(path, count, models):
    block = 16

    def model_rows():
        step = max(1, (count - block) // models)
        for r in range(1, models + 1):
            k = 1 + (r - 1) * step
            last = k + block - 1
            cells = (f'<c r="A{r}"><f>_xll.Interp1(Data!A{k}:A{last},Data!B{k}:B{last},Data!A{k + 7}+0.25,0)</f><v>0</v></c>'
                     f'<c r="B{r}"><f>_xll.Polynomial(Data!C{k}:E{k},Data!F{k})</f><v>0</v></c>')
            yield f'<row r="{r}">{cells}</row>'
    package(path, [('Data', grid_data(count)), ('Model', model_rows)])


def heavy(path, count, models):
    column = min(60000, count)

    def model_rows():
        step = max(1, (count - 1000) // models)
        for r in range(1, models + 1):
            k = 1 + (r - 1) * step
            counted = (f'Data!G1:G{column}' if r % 100 == 0 else f'Data!C{k}:D{k + 99}')
            cells = (f'<c r="A{r}"><f>_xll.Interp1(Data!A{k}:A{k + 999},Data!B{k}:B{k + 999},Data!A{k + 7}+0.25,0)</f><v>0</v></c>'
                     f'<c r="B{r}"><f>_xll.CountBetween({counted},-50,50)</f><v>0</v></c>'
                     f'<c r="C{r}"><f>_xll.Polynomial(Data!E{k}:F{k + 1},Data!H{k}/100)</f><v>0</v></c>'
                     f'<c r="D{r}"><f t="array" ref="D{r}:F{r}">_xll.LLSQ(Data!A{k}:A{k + 19},Data!B{k}:B{k + 19},3)</f><v>0</v></c>'
                     f'<c r="E{r}"><v>0</v></c><c r="F{r}"><v>0</v></c>')
            yield f'<row r="{r}">{cells}</row>'
    package(path, [('Data', grid_data(count)), ('Model', model_rows)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder')
    parser.add_argument('--rows', type=int, default=300000)
    parser.add_argument('--filled-rows', type=int, default=700000)
    parser.add_argument('--text-rows', type=int, default=400000)
    parser.add_argument('--grid-rows', type=int, default=1048576)
    parser.add_argument('--grid-models', type=int, default=60000)
    parser.add_argument('--books', default='model,filled,text,varied,grid,heavy')
    arguments = parser.parse_args()
    os.makedirs(arguments.folder, exist_ok=True)
    made = {
        'model': lambda path: model(path, arguments.rows),
        'filled': lambda path: filled(path, arguments.filled_rows),
        'text': lambda path: text(path, arguments.text_rows),
        'varied': lambda path: model(path, arguments.rows, varied=True),
        'grid': lambda path: grid(path, arguments.grid_rows, arguments.grid_models),
        'heavy': lambda path: heavy(path, arguments.grid_rows, arguments.grid_models),
    }
    for book in arguments.books.split(','):
        made[book](os.path.join(arguments.folder, f'{book}-stale.xlsx'))


if __name__ == '__main__':
    main()
