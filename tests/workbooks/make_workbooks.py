#!/usr/bin/python3
"""Test workbooks for the .xlsx reader and writer, made by an independent writer (python3-xlsxwriter)
and post-processed into what the spreadsheet itself stores: shared formulas, an inline string, cells
and rows without r=, a sheet part not named sheetN.xml, no request to recalculate on opening.

usage: make_workbooks.py OUTDIR           the test workbooks, planted.txt, the corrupt variants and one
                                          small workbook per kind of formula people keep (kept_*, ours_*)
       make_workbooks.py --example FILE   the example workbook shipped in examples/
       make_workbooks.py --seeds DIR      the fuzz target's seeds (fuzz/corpus/xlsx)
"""
import bz2
import datetime
import functools
import io
import math
import os
import re
import struct
import sys
import zipfile

import xlsxwriter

# Cached values as our module answers them (quorin-host eval), stored as the spreadsheet stores them.
STUDENT_T = {1: 12.706150300808995, 2: 4.302655726745257, 3: 3.182449214762066,
             10: 2.2281411036749326, 30: 2.042272073214101, 1000: 1.96233798786865}
LLSQ_CUBIC = [3.0000000000000515, 1.9999999999997586, -0.9999999999998671, 0.9999999999999822]
DATA_X = [0, 1, 2, 3, 4, 5]
DATA_Y = [3, 5, 11, 27, 59, 113]
MY_X = [1, 2, 4, 7, 11, 16]
MY_Y = [10, 20, 40, 45, 50, 52]
SHARED_DOF = [1, 2, 3, 10, 30]

# Cells whose cached value the planted workbook gets wrong, and the wrong value: each kind of formula
# once (plain, shared follower, array element, operators) and one kind change (number for an error).
PLANTED = {
    'B2': math.nextafter(STUDENT_T[10], 3.0),
    'D4': STUDENT_T[3] + 1e-12,
    'G2': LLSQ_CUBIC[1] * 2,
    'B9': STUDENT_T[10] * 2.0,
    'B10': 999.0,
}


def model_sheet(ws, planted):
    def formula(cell, text, value):
        ws.write_formula(cell, text, None, planted.get(cell, value))

    ws.write_row('A1', ['case', 'answer', 'dof', 'StudentT(dof)', '', 'LLSQ cubic over Data'])
    rows = [
        ('StudentT(10)', '=StudentT(10)', STUDENT_T[10]),
        ('with the _xll. prefix', '=_xll.StudentT(10)', STUDENT_T[10]),
        ('a range on another sheet', '=Interp1(Data!A2:A7,Data!B2:B7,2.5,0)', 19.0),
        ('absolute, sheet name quoted', "=Interp1('My data'!$A$2:$A$7,'My data'!$B$2:$B$7,3,0)", 30.0),
        ('a name for a constant', '=StudentT(Dof)', STUDENT_T[10]),
        ('a name for a range', '=Interp1(XValues,Data!B2:B7,4.5,0)', 86.0),
        ('a built-in call: its cached value stands', '=SUM(Data!B2:B4)', 19.0),
        ('operators', '=StudentT(10)*2+1', STUDENT_T[10] * 2.0 + 1.0),
        ('the failure answer', '=Interp1({1,2,3},{10,20},1.5,0)', '#N/A'),
        ('text from a built-in', '=UPPER("ab")', 'AB'),
    ]
    for n, (case, text, value) in enumerate(rows, start=2):
        ws.write_string(n - 1, 0, case)
        formula('B%d' % n, text, value)
    ws.write_string('A12', 'a boolean')
    ws.write_boolean('B12', True)
    ws.write_rich_string('A13', 'rich ', ws.bold_format, 'text', ' runs')
    ws.write_string('B13', 'becomes an inline string')
    ws.write_string('A14', "a built-in's cached value, read")
    formula('B14', '=B8+1', 20.0)
    for n, dof in enumerate(SHARED_DOF, start=2):
        ws.write_number('C%d' % n, dof)
        formula('D%d' % n, '=StudentT(C%d)' % n, STUDENT_T[dof])
    ws.write_array_formula('F2:I2', '{=LLSQ(Data!A2:A7,Data!B2:B7,4)}', None, planted.get('F2', LLSQ_CUBIC[0]))
    return {column + '2': planted.get(column + '2', value) for column, value in zip('GHI', LLSQ_CUBIC[1:])}


def exact_numbers(numbers):
    """The array's other cells at full precision: xlsxwriter writes plain numbers to 16 digits only."""
    def edit(text):
        for cell, value in numbers.items():
            text = re.sub(r'(<c r="%s"[^>]*><v>)[^<]*' % cell, r'\g<1>' + repr(value), text)
        return text
    return edit


def build(path, planted):
    wb = xlsxwriter.Workbook(path)
    model = wb.add_worksheet('Model')
    model.bold_format = wb.add_format({'bold': True})
    data = wb.add_worksheet('Data')
    mine = wb.add_worksheet('My data')
    for ws, label, xs, ys in ((data, 'x', DATA_X, DATA_Y), (mine, 't', MY_X, MY_Y)):
        ws.write_row('A1', [label, 'y'])
        for n, (x, y) in enumerate(zip(xs, ys), start=1):
            ws.write_row(n, 0, [x, y])
    array_cells = model_sheet(model, planted)
    wb.define_name('Dof', '=10')
    wb.define_name('XValues', '=Data!$A$2:$A$7')
    wb.define_name('Data!Local', '=Data!$B$2')
    wb.close()
    post_process(path, exact_numbers(array_cells))


def rewrite(path, edits):
    """Rewrites the archive with edits: {part: function(text) -> text (or bytes), or None to drop the part}."""
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info.filename)) for info in source.infolist()]
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as target:
        for info, data in entries:
            edit = edits.get(info.filename, lambda text: text)
            if edit is None:
                continue
            edited = edit(data.decode('utf-8')) if info.filename in edits else data
            target.writestr(info, edited if isinstance(edited, bytes) else edited.encode('utf-8'))


def shared_formula(text):
    master = re.compile(r'(<c r="D2"[^>]*>)<f>([^<]*)</f>')
    text = master.sub(r'\1<f t="shared" ref="D2:D6" si="0">\2</f>', text)
    return re.sub(r'(<c r="D[3-6]"[^>]*>)<f>[^<]*</f>', r'\1<f t="shared" si="0"/>', text)


def inline_string(text):
    return re.sub(r'<c r="B13"([^>]*) t="s"><v>\d+</v></c>',
                  r'<c r="B13"\1 t="inlineStr"><is><t xml:space="preserve"> inline </t></is></c>', text)


def without_refs(text):
    # Row 4's second cell follows the first; row 5 and its cells follow the previous ones.
    text = re.sub(r'<c r="B4"', '<c', text)
    return re.sub(r'<row r="5"([^>]*)><c r="A5"([^>]*)>(.*?)<c r="B5"',
                  r'<row\1><c\2>\3<c', text)


def post_process(path, numbers):
    rewrite(path, {
        'xl/workbook.xml': lambda text: text.replace(' fullCalcOnLoad="1"', ''),
        'xl/worksheets/sheet1.xml': lambda text: numbers(inline_string(shared_formula(text))),
        'xl/worksheets/sheet2.xml': without_refs,
    })
    # A sheet part named other than sheetN.xml: the reader must follow the relationships.
    with zipfile.ZipFile(path) as source:
        entries = [(info.filename, source.read(info.filename)) for info in source.infolist()]
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as target:
        for name, data in entries:
            if name == 'xl/worksheets/sheet3.xml':
                name = 'xl/worksheets/my_data.xml'
            elif name in ('xl/_rels/workbook.xml.rels', '[Content_Types].xml'):
                data = data.replace(b'worksheets/sheet3.xml', b'worksheets/my_data.xml')
            target.writestr(name, data)


def write_variant(whole, folder, name, edits):
    """The package's bytes written to folder/name, then its parts edited."""
    path = os.path.join(folder, name)
    with open(path, 'wb') as f:
        f.write(whole)
    rewrite(path, edits)


def corrupt_variants(good, folder):
    with open(good, 'rb') as f:
        whole = f.read()
    with open(os.path.join(folder, 'truncated.xlsx'), 'wb') as f:
        f.write(whole[:len(whole) // 2])
    # What a password-protected workbook is: a compound document, whose header begins so.
    with open(os.path.join(folder, 'encrypted.xlsx'), 'wb') as f:
        f.write(bytes.fromhex('D0CF11E0A1B11AE1') + bytes(504))

    variant = functools.partial(write_variant, whole, folder)

    sheet1 = 'xl/worksheets/sheet1.xml'
    variant('missing_part.xlsx', {'xl/worksheets/sheet2.xml': None})
    variant('malformed_xml.xlsx', {sheet1: lambda text: text[:len(text) // 2]})
    # The data the model's formulas read, damaged: they keep their cached values.
    variant('damaged_data.xlsx', {'xl/worksheets/sheet2.xml': lambda text: text[:len(text) // 2]})
    end_rows = '</sheetData>'
    variant('huge_row.xlsx', {sheet1: lambda t: t.replace(end_rows, '<row r="1048577"><c r="A1048577"><v>1</v></c></row>' + end_rows)})
    # Entities that grow a thousandfold per level if expanded; a worksheet declares none.
    variant('entity_sheet.xlsx', {sheet1: lambda t: t.replace('<worksheet', '<!DOCTYPE worksheet [<!ENTITY a "aaaaaaaaaa">'
                                                             '<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]><worksheet', 1)})
    variant('huge_column.xlsx', {sheet1: lambda t: t.replace(end_rows, '<row r="20"><c r="XFE20"><v>1</v></c></row>' + end_rows)})
    variant('huge_dimension.xlsx', {sheet1: lambda t: re.sub(r'<dimension ref="[^"]*"/>', '<dimension ref="A1:XFD1048577"/>', t)})
    variant('duplicate_cell.xlsx', {'xl/worksheets/sheet2.xml': lambda t: re.sub(r'(<c r="A2"[^>]*>.*?</c>)', r'\1\1', t, count=1)})
    # A formula the grammar refuses (an operator without its right operand), for the commands' message.
    variant('bad_formula.xlsx', {sheet1: lambda t: t.replace('<f>StudentT(10)*2+1</f>', '<f>StudentT(10)*2+</f>')})
    variant('bad_shared_string.xlsx', {sheet1: lambda t: re.sub(r'(<c r="A1"[^>]*t="s"><v>)\d+', r'\g<1>99999', t)})
    # The sheet's CRC changed alike in its local header and the directory: only reading it shows the fault.
    path = os.path.join(folder, 'crc_error.xlsx')
    with open(path, 'wb') as f:
        f.write(patch_entry(whole, sheet1, local=(14, b'\0\0\0\0'), central=(16, b'\0\0\0\0')))
    # The sheet's inflated size declared as 100 bytes alike in its local header and the directory.
    with open(os.path.join(folder, 'lying_size.xlsx'), 'wb') as f:
        f.write(patch_entry(whole, sheet1, local=(22, struct.pack('<I', 100)), central=(24, struct.pack('<I', 100))))
    # The first sheet again under its name in other case: which one counts depends on the reader.
    with zipfile.ZipFile(good) as source, \
            zipfile.ZipFile(os.path.join(folder, 'duplicate_entry.xlsx'), 'w', zipfile.ZIP_DEFLATED) as target:
        for info in source.infolist():
            target.writestr(info, source.read(info.filename))
        target.writestr('XL/Worksheets/Sheet1.xml', source.read(sheet1))
    # A sheet part that inflates to 1 GiB of zeros from about a megabyte.
    path = os.path.join(folder, 'zip_bomb.xlsx')
    with zipfile.ZipFile(good) as source, zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as target:
        for info in source.infolist():
            if info.filename != sheet1:
                target.writestr(info, source.read(info.filename))
                continue
            with target.open(sheet1, 'w') as part:
                zeros = bytes(1 << 24)
                for _ in range(64):
                    part.write(zeros)
    # A sheet part of 8 GiB of zeros in a few kilobytes (bzip2), its sizes declared as they are.
    with zipfile.ZipFile(good) as source, \
            zipfile.ZipFile(os.path.join(folder, 'bomb_8gb.xlsx'), 'w', zipfile.ZIP_DEFLATED) as target:
        for info in source.infolist():
            if info.filename != sheet1:
                target.writestr(info, source.read(info.filename))
        # CRC-32 of 2^33 zero bytes, as zlib.crc32 gives it.
        write_raw_entry(target, sheet1, zipfile.ZIP_BZIP2, bzip2_zeros(8 << 30), 8 << 30, 0x41D912FF)


BZIP2_BLOCK_MAGIC = '001100010100000101011001001001100101001101011001'  # pi's digits, 0x314159265359
BZIP2_END_MAGIC = '000101110111001001000101001110000101000010010000'    # sqrt(pi)'s, 0x177245385090


def bzip2_block(data):
    """The bits of the one bzip2 block data compresses to, and its CRC."""
    bits = ''.join(format(b, '08b') for b in bz2.compress(data, 9))
    start, end = 32, bits.rindex(BZIP2_END_MAGIC)
    assert bits.find(BZIP2_BLOCK_MAGIC, start + 48) < 0, 'more than one block'
    return bits[start:end], int(bits[start + 48:start + 80], 2)


def bzip2_zeros(size):
    """A bzip2 stream of size zero bytes, built from one full block repeated: compressing gigabytes
    would take a minute, while every full block of zeros is the same bits."""
    full = 45 * 10 ** 6  # fits one block (900,000 bytes after run-length coding at 255 bytes in 5)
    block, crc = bzip2_block(bytes(full))
    blocks = [(block, crc)] * (size // full)
    if size % full:
        blocks.append(bzip2_block(bytes(size % full)))
    combined = 0
    for _, c in blocks:
        combined = (((combined << 1) | (combined >> 31)) & 0xFFFFFFFF) ^ c
    bits = ''.join(b for b, _ in blocks) + BZIP2_END_MAGIC + format(combined, '032b')
    bits += '0' * (-len(bits) % 8)
    return b'BZh9' + int(bits, 2).to_bytes(len(bits) // 8, 'big')


def write_raw_entry(target, name, method, raw, size, crc):
    """An entry whose compressed bytes are raw, declared as inflating to size bytes with crc."""
    info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
    info.compress_type, info.compress_size, info.file_size, info.CRC = method, len(raw), size, crc
    info.header_offset = target.fp.tell()
    target.fp.write(info.FileHeader(zip64=size > 0xFFFFFFFF))
    target.fp.write(raw)
    target.filelist.append(info)
    target.NameToInfo[name] = info
    target.start_dir = target.fp.tell()
    target._didModify = True


def patch_entry(whole, name, local, central):
    """The archive's bytes with (offset, bytes) written into the entry's local header and directory entry."""
    data = bytearray(whole)
    with zipfile.ZipFile(io.BytesIO(whole)) as archive:
        start = archive.getinfo(name).header_offset
    data[start + local[0]:start + local[0] + len(local[1])] = local[1]
    at = data.find(b'PK\x01\x02')
    while data[at + 46:at + 46 + struct.unpack_from('<H', data, at + 28)[0]] != name.encode():
        at = data.find(b'PK\x01\x02', at + 4)
    data[at + central[0]:at + central[0] + len(central[1])] = central[1]
    return bytes(data)


def accepted_variants(good, folder):
    """Valid packages that other readers open, each with one thing the reader once refused."""
    with open(good, 'rb') as f:
        whole = f.read()

    variant = functools.partial(write_variant, whole, folder)

    sheet1 = 'xl/worksheets/sheet1.xml'
    variant('row_dimension.xlsx', {sheet1: lambda t: re.sub(r'<dimension ref="[^"]*"/>', '<dimension ref="1:4"/>', t)})
    variant('date_cell.xlsx', {sheet1: lambda t: re.sub(r'<c r="B12"([^>]*) t="b"><v>1</v>',
                                                          r'<c r="B12"\1 t="d"><v>2026-01-31T00:00:00</v>', t)})
    variant('empty_element.xlsx', {sheet1: lambda t: t.replace('<c r="B12" t="b"><v>1</v></c>', '<c r="B12"/>')})
    variant('empty_value.xlsx', {sheet1: lambda t: re.sub(r'(<c r="B12"[^>]*>)<v>1</v>', r'\1<v/>', t)})
    # The relationships namespace under a second prefix on the root, and under one of the sheet's own.
    rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
    variant('prefixed_ids.xlsx', {'xl/workbook.xml': lambda t: t.replace(
        '<workbook ', '<workbook xmlns:rel="%s" ' % rel, 1).replace(
        'sheetId="2" r:id=', 'sheetId="2" rel:id=').replace(
        'sheetId="3" r:id=', 'xmlns:o="%s" sheetId="3" o:id=' % rel)})
    # Row 3, with a shared formula's follower, written before row 2, with its master.
    variant('shared_before_master.xlsx', {sheet1: lambda t: re.sub(r'(<row r="2".*?</row>)(<row r="3".*?</row>)',
                                                                     r'\2\1', t)})
    # Text split by references to characters: a parser may hand each piece over apart.
    variant('escaped_text.xlsx', {sheet1: lambda t: t.replace('<t xml:space="preserve"> inline </t>',
                                                              '<t xml:space="preserve">R&amp;D &lt;1&gt; &#x41;&#10;</t>')})
    variant('utf16_sheet.xlsx', {sheet1: lambda t: t.replace('encoding="UTF-8"', 'encoding="UTF-16"').encode('utf-16')})
    variant('array_off_cell.xlsx', {sheet1: lambda t: t.replace('t="array" ref="F2:I2"', 't="array" ref="E2:I2"')})
    # Layout a writer may keep: a byte order mark, single quotes, a space before "/>", a line break
    # as &#10; in an attribute. A recalculated copy keeps all of it outside the edited cells.
    variant('own_layout.xlsx', {sheet1: lambda t: '\ufeff' + re.sub(
        r'<dimension ref="([^"]*)"/>', r"<dimension ref='\1' />", t).replace(
        '</sheetData>', '</sheetData><dataValidations count="1"><dataValidation type="whole" '
        'prompt="one&#10;two" sqref="Z1"><formula1>0</formula1></dataValidation></dataValidations>')})
    # A macro sheet's entry with an empty relationship id, appended after the sheets with cells.
    variant('empty_sheet_id.xlsx', {'xl/workbook.xml': lambda t: t.replace(
        '</sheets>', '<sheet name="Module" sheetId="9" r:id=""/></sheets>')})
    # Folders separated by a backslash, as some writers name the entries (from planted.xlsx, so that a
    # recalculated copy has parts to replace); the same package as .xlsm.
    with zipfile.ZipFile(os.path.join(folder, 'planted.xlsx')) as source, \
            zipfile.ZipFile(os.path.join(folder, 'backslash_names.xlsx'), 'w', zipfile.ZIP_DEFLATED) as target:
        for info in source.infolist():
            data = source.read(info.filename)
            info.filename = info.filename.replace('/', '\\')
            target.writestr(info, data)
    with open(os.path.join(folder, 'macro_book.xlsm'), 'wb') as f:
        f.write(whole)
    with open(os.path.join(folder, 'trailing_bytes.xlsx'), 'wb') as f:
        f.write(whole + bytes(16))
    # The first entry's local header keeps another time than the directory records for it.
    first = zipfile.ZipFile(good).infolist()[0].filename
    with open(os.path.join(folder, 'local_header_time.xlsx'), 'wb') as f:
        f.write(patch_entry(whole, first, local=(10, b'\x21\x00'), central=(0, b'PK')))


def tolerated_variants(good, folder):
    """Packages no writer should make that LibreOffice opens all the same, each with one such fault."""
    with open(good, 'rb') as f:
        whole = f.read()
    variant = functools.partial(write_variant, whole, folder)
    data = 'xl/worksheets/sheet2.xml'
    variant('missing_strings.xlsx', {'xl/sharedStrings.xml': None})
    variant('spaced_index.xlsx', {data: lambda t: t.replace('<c r="B1" t="s"><v>1</v>', '<c r="B1" t="s"><v>1 </v>')})
    variant('outside_row.xlsx', {data: lambda t: t.replace('<c r="B3"><v>5</v>', '<c r="D9"><v>5</v>')})
    variant('written_twice.xlsx', {data: lambda t: t.replace('<c r="A2"><v>0</v></c>', '<c r="A2"><v>41</v></c><c r="A2"><v>42</v></c>')})
    # A formula of ours over text in <v> too: it is kept as stored, never recomputed.
    variant('text_for_number.xlsx', {data: lambda t: t.replace('<c r="B3"><v>5</v>', '<c r="B3"><v>abc</v>'),
                                     'xl/worksheets/sheet1.xml': lambda t: re.sub(r'(<c r="B2"[^>]*><f>[^<]*</f><v>)[^<]*', r'\1abc', t)})
    variant('no_sheets.xlsx', {'xl/worksheets/sheet1.xml': None, data: None, 'xl/worksheets/my_data.xml': None})
    variant('unnamed_sheet.xlsx', {'xl/workbook.xml': lambda t: t.replace('r:id="rId2"', 'r:id="rId99"')})


# Workbooks as people keep them, one per kind of formula that is not ours: each must read, recompute
# nothing, keep every cached value and be copied byte for byte. (file, formulas as (cell, text, cached)).
KEPT = [
    ('kept_table.xlsx', [('E2', 'SUM(T[z])', 12), ('F2', 'T[[#This Row],[x]]*2', 2), ('F3', 'SUM(T[[#Data],[x]:[y]])', 66)]),
    ('kept_empty_argument.xlsx', [('E1', 'IF(A1,,2)', 0), ('E2', 'ROUND(A1,)', 1)]),
    ('kept_link.xlsx', [('E1', '[1]Sheet1!A1*2', 4), ('E2', "SUM('[1]My data'!A1:A3)", 6)]),
    ('kept_names.xlsx', [('E1', 'NoSuchName+1', '#NAME?'), ('E2', 'Alias*2', 20), ('E3', 'Sheet1!Local+1', 2)]),
    ('kept_union.xlsx', [('E1', 'SUM((A1,B2))', 21), ('E2', 'SUM(A1:B3 B2:C4)', 40)]),
    ('kept_offset.xlsx', [('E1', 'SUM(A1:OFFSET(A1,2,0))', 6), ('E2', 'SUM(A1:INDEX(A1:A3,2))', 3)]),
    ('kept_3d.xlsx', [('E1', 'SUM(Sheet1:Sheet2!A1)', 2), ('E2', "SUM('Sheet1:Sheet2'!A1:A2)", 4)]),
    ('kept_lambda.xlsx', [('E1', '_xlfn.LAMBDA(_xlpm.x,_xlpm.x+1)(2)', 3), ('E2', '_xlfn.LET(_xlpm.v,A1,_xlpm.v*2)', 2)]),
    # What the engine used to compute wrongly: a range for one value, a whole column, text from a cell,
    # a formula with no cached value (E6 loses its <v>).
    ('kept_wrong_values.xlsx', [('E2', 'A1:A3', 2), ('E3', 'A:A', 3), ('E4', 'B1', 'January'), ('E5', 'A2-A1', 1),
                                ('E6', 'A1*4', 4)]),
]


def kept_workbook(path, formulas):
    wb = xlsxwriter.Workbook(path)
    wb.set_properties({'created': datetime.datetime(2026, 1, 1)})
    ws = wb.add_worksheet('Sheet1')
    for n, (x, y) in enumerate(((1, 10), (2, 20), (3, 30))):
        ws.write_row(n, 0, [x, y])
    ws.write_string('B1', 'January')
    if os.path.basename(path) in ('kept_table.xlsx', 'ours_table.xlsx'):
        ws.add_table('A1:C4', {'name': 'T', 'columns': [{'header': 'x'}, {'header': 'y'}, {'header': 'z'}],
                               'data': [[1, 10, 2], [2, 20, 4], [3, 30, 6]]})
    if '3d' in path:
        wb.add_worksheet('Sheet2').write_number('A1', 1)
    if 'names' in path:
        wb.define_name('Base', '=10')
        wb.define_name('Alias', '=Base')
        wb.define_name('Sheet1!Local', '=Sheet1!$A$1')
    for cell, text, cached in formulas:
        ws.write_formula(cell, '=' + text, None, cached)
    wb.close()
    edits = {'xl/workbook.xml': lambda text: text.replace(' fullCalcOnLoad="1"', '')}
    if 'link' in path:
        add_link(path, edits, [('Sheet1', 'A1', 2), ('My data', 'A1', 1), ('My data', 'A2', 2), ('My data', 'A3', 3)])
    if 'wrong_values' in path:
        edits['xl/worksheets/sheet1.xml'] = lambda text: re.sub(r'(<f>A1\*4</f>)<v>[^<]*</v>', r'\1', text)
    rewrite(path, edits)


def add_link(path, edits, cells):
    """A link to another workbook, as the spreadsheet keeps it: the sheets and the cells it cached."""
    sheets = []
    for sheet, _, _ in cells:
        if sheet not in sheets:
            sheets.append(sheet)
    rows = ''.join('<sheetData sheetId="%d">%s</sheetData>' % (
        n, ''.join('<row r="%s"><cell r="%s"><v>%r</v></cell></row>' % (c[1:], c, v) for s, c, v in cells if s == sheet))
        for n, sheet in enumerate(sheets))
    link = ('<externalLink xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><externalBook r:id="rId1">'
            '<sheetNames>%s</sheetNames><sheetDataSet>%s</sheetDataSet></externalBook></externalLink>' % (
                ''.join('<sheetName val="%s"/>' % s for s in sheets), rows))
    link_rels = ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
                 'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLinkPath" '
                 'Target="other.xlsx" TargetMode="External"/></Relationships>')
    with zipfile.ZipFile(path, 'a') as target:
        target.writestr('xl/externalLinks/externalLink1.xml', link)
        target.writestr('xl/externalLinks/_rels/externalLink1.xml.rels', link_rels)
    previous = edits['xl/workbook.xml']
    edits['xl/workbook.xml'] = lambda text: previous(text).replace(
        '</sheets>', '</sheets><externalReferences><externalReference r:id="rId99"/></externalReferences>')
    edits['xl/_rels/workbook.xml.rels'] = lambda text: text.replace('</Relationships>', (
        '<Relationship Id="rId99" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLink" '
        'Target="externalLinks/externalLink1.xml"/></Relationships>'))
    edits['[Content_Types].xml'] = lambda text: text.replace('</Types>', (
        '<Override PartName="/xl/externalLinks/externalLink1.xml" '
        'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.externalLink+xml"/></Types>'))


def kept_special_cells(path):
    """An array formula whose other cells hold <f ca="1"/> with no text, and a data table's formula."""
    wb = xlsxwriter.Workbook(path)
    wb.set_properties({'created': datetime.datetime(2026, 1, 1)})
    ws = wb.add_worksheet('Sheet1')
    ws.write_column('A1', [1, 2, 3])
    ws.write_array_formula('B1:B3', '{=A1:A3*2}', None, 2)
    ws.write_formula('C1', '=A1*10', None, 10)
    ws.write_formula('D2', '=C1', None, 20)
    wb.close()

    def sheet(text):
        text = re.sub(r'(<c r="B[23]"[^>]*>)', r'\1<f ca="1"/>', text)
        return re.sub(r'<c r="D2"([^>]*)><f>C1</f>', r'<c r="D2"\1><f t="dataTable" ref="D2:D3" dt2D="0" dtr="0" r1="A1"/>', text)
    rewrite(path, {'xl/workbook.xml': lambda text: text.replace(' fullCalcOnLoad="1"', ''), 'xl/worksheets/sheet1.xml': sheet})


# Workbooks where the add-in's formulas meet what people write around them: (file, formulas as
# (cell, text, cached, array area or None)), cached values as the spreadsheet stores them.
OURS = [
    # A built-in reading a recomputed cell, and a formula reading that, are left stale.
    ('ours_stale.xlsx', [('A1', 'StudentT(10)', STUDENT_T[10], None), ('A2', 'SUM(A1)', STUDENT_T[10], None),
                         ('A3', 'A2*2', STUDENT_T[10] * 2, None), ('A4', 'A1*2', STUDENT_T[10] * 2, None),
                         ('A5', 'StudentT(10', 1.0, None)]),
    ('ours_table.xlsx', [('E2', 'Interp1(T[x],T[y],2.5,0)', 25.0, None), ('E3', 'Interp1(T[x],T[[#All],[y]],2.5,0)', '#N/A', None),
                         ('E4', 'StudentT(T[[#This Row],[x]]+7)', STUDENT_T[10], None)]),
    ('ours_empty_argument.xlsx', [('E1', 'Interp1(A1:A3,B1:B3,2.5,)', 25.0, None)]),
    ('ours_link.xlsx', [('E1', 'StudentT([1]Sheet1!A1)', STUDENT_T[10], None),
                        ('E2', 'Interp1([1]Sheet1!A2:A4,B1:B3,2.5,0)', 25.0, None),
                        ('E3', 'StudentT([1]Nowhere!A1)', '#REF!', None)]),
    ('ours_names.xlsx', [('E1', 'StudentT(Alias)', STUDENT_T[10], None), ('E2', 'StudentT(Sheet1!Local)', STUDENT_T[1], None)]),
    # A data table over D2:D3 whose formula (D1) is ours, as the spreadsheet's what-if analysis writes it.
    ('ours_data_table.xlsx', [('D1', 'StudentT(A1)', STUDENT_T[1], None), ('D2', 'D1', STUDENT_T[2], None)]),
    # Ranges read as the spreadsheet reads them: one cell of a column or row, whole columns, arrays.
    ('ours_ranges.xlsx', [('C1', 'StudentT(A1)', STUDENT_T[1], None), ('C2', 'StudentT(A2)', STUDENT_T[2], None),
                          ('C3', 'StudentT(A3)', STUDENT_T[3], None),
                          ('D2', 'C1:C3', STUDENT_T[2], None), ('E3', 'C:C*1', STUDENT_T[3], None),
                          ('F1', '{=C1:C2*3}', STUDENT_T[1] * 3, 'F1:F2'), ('G5', 'C1:C3', '#VALUE!', None),
                          ('H1', 'Polynomial({0},1)*-1', 0, None), ('H2', 'Interp1({1,2,3},{10,20},1.5,0)', '#SPILL!', None),
                          ('I2', 'StudentT(A1:A3)', STUDENT_T[2], None), ('J1', '{=StudentT(A1:A2)}', STUDENT_T[1], 'J1:J2')]),
    # Chains of our cells among cells that read none of ours, row by row, and a chain through an array
    # formula: what is computed first and apart must wait for nothing (cached values left 0).
    ('ours_chains.xlsx', [('C1', 'StudentT(A1)', 0, None), ('D1', 'Polynomial({1,1},C1)', 0, None),
                          ('E1', 'Interp1(A1:A3,B1:B3,D1/10,1)', 0, None), ('C2', 'Interp1(A1:A3,B1:B3,1.5,0)', 0, None),
                          ('D2', 'StudentT(E1)', 0, None), ('C3', 'CountBetween(B1:B3,5,25)', 0, None),
                          ('D3', 'Polynomial({1,2,3},A2)', 0, None), ('F1', '{=LLSQ(A1:A3,B1:B3,2)}', 0, 'F1:G1'),
                          ('H1', 'Polynomial(F1:G1,C3)', 0, None), ('C4', 'Lagrange(A1:A3,B1:B3,2.5)', 0, None),
                          ('D4', 'Spline(A1:A3,B1:B3,D3/10)', 0, None), ('C5', 'StudentT(A3)', 0, None)]),
    # Random numbers among cells that read none of ours and cells that read them: the draws must come in
    # one worker's order whatever else runs beside them (cached values left 0).
    ('ours_random.xlsx', [('C1', 'RandNorm()', 0, None), ('C2', 'StudentT(A1)', 0, None), ('C3', 'RandDist(C2,1)', 0, None),
                          ('C4', 'Polynomial({1,1},C1)', 0, None), ('C5', 'RandNorm()', 0, None),
                          ('C6', 'Interp1(A1:A3,B1:B3,1.5,0)', 0, None), ('C7', 'RandDist(10,2)', 0, None),
                          ('D1', 'Polynomial({0,1},C3)+RandNorm()', 0, None), ('D2', 'StudentT(A2)', 0, None),
                          ('D3', 'RandNorm()', 0, None)]),
]


def ours_workbook(path, formulas):
    wb = xlsxwriter.Workbook(path)
    wb.set_properties({'created': datetime.datetime(2026, 1, 1)})
    ws = wb.add_worksheet('Sheet1')
    for n, (x, y) in enumerate(((1, 10), (2, 20), (3, 30))):
        ws.write_row(n, 0, [x, y])
    if os.path.basename(path) in ('kept_table.xlsx', 'ours_table.xlsx'):
        ws.add_table('A1:C4', {'name': 'T', 'columns': [{'header': 'x'}, {'header': 'y'}, {'header': 'z'}],
                               'data': [[1, 10, 0], [2, 20, 0], [3, 30, 0]]})
    if 'names' in path:
        wb.define_name('Base', '=10')
        wb.define_name('Alias', '=Base')
        wb.define_name('Sheet1!Local', '=Sheet1!$A$1')
    errors = {}
    for cell, text, cached, area in formulas:
        if isinstance(cached, str) and cached.startswith('#'):
            errors[cell] = cached
            cached = 0
        if area:
            ws.write_array_formula(area, text, None, cached)
        else:
            ws.write_formula(cell, '=' + text, None, cached)
    wb.close()

    def sheet(text):
        for cell, error in errors.items():
            text = re.sub(r'<c r="%s"([^>]*)><f>([^<]*)</f><v>[^<]*</v>' % cell,
                          r'<c r="%s"\1 t="e"><f>\2</f><v>%s</v>' % (cell, error), text)
        return text
    edits = {'xl/workbook.xml': lambda text: text.replace(' fullCalcOnLoad="1"', ''), 'xl/worksheets/sheet1.xml': sheet}
    if 'link' in path:
        add_link(path, edits, [('Sheet1', 'A1', 10), ('Sheet1', 'A2', 1), ('Sheet1', 'A3', 2), ('Sheet1', 'A4', 3)])
    if 'data_table' in path:
        edits['xl/worksheets/sheet1.xml'] = lambda text: re.sub(
            r'<c r="D2"([^>]*)><f>D1</f>', r'<c r="D2"\1><f t="dataTable" ref="D2:D3" dt2D="0" dtr="0" r1="A1"/>', text)
    rewrite(path, edits)


def example(path):
    # Calls stored as the spreadsheet stores an add-in's, so that Calc with the extension resolves them too.
    wb = xlsxwriter.Workbook(path)
    wb.set_properties({'created': datetime.datetime(2026, 1, 1)})  # the same bytes each time it is made
    for name, rows in (
        ('StudentT', [('10 degrees of freedom', '=_xll.StudentT(10)', STUDENT_T[10]),
                      ('1000', '=_xll.StudentT(1000)', STUDENT_T[1000]),
                      ('twice, plus one', '=_xll.StudentT(10)*2+1', STUDENT_T[10] * 2.0 + 1.0)]),
        ('Interp1', [('inside an increasing table', '=_xll.Interp1({1,2,4},{10,20,40},3,0)', 30.0),
                     ('below the table, extrapolated', '=_xll.Interp1({1,2,4},{10,20,40},0,1)', 0.0),
                     ('inside a decreasing table', '=_xll.Interp1({5,3,1},{10,30,50},2,0)', 40.0)]),
    ):
        ws = wb.add_worksheet(name)
        ws.write_row('A1', ['case', 'answer'])
        for n, (case, text, value) in enumerate(rows, start=1):
            ws.write_string(n, 0, case)
            ws.write_formula(n, 1, text, None, value)
    ws = wb.add_worksheet('LLSQ')
    ws.write_row('A1', ['x', 'y', '', 'straight line: intercept, slope'])
    for n, (x, y) in enumerate(zip([0, 1, 2, 3, 4], [1.1, 2.9, 5.2, 6.8, 9.1]), start=1):
        ws.write_row(n, 0, [x, y])
    ws.write_array_formula('D2:E2', '{=_xll.LLSQ(A2:A6,B2:B6,2)}', None, 1.0400000000000025)
    ws.write_number('E2', 1.9899999999999989)
    ws.write_string('D4', 'the line at x = 2.5')
    ws.write_formula('E4', '=_xll.Polynomial(D2:E2,2.5)', None, 1.9899999999999989 * 2.5 + 1.0400000000000025)
    wb.close()
    rewrite(path, {'xl/workbook.xml': lambda text: text.replace(' fullCalcOnLoad="1"', ''),
                   'xl/worksheets/sheet3.xml': exact_numbers({'E2': 1.9899999999999989})})


# The smallest parts that make a workbook with every construct the reader knows, for the fuzz seeds.
SEED_PARTS = [
    ('_rels/.rels', '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
     '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" '
     'Target="xl/workbook.xml"/></Relationships>'),
    ('xl/workbook.xml', '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
     'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
     '<sheet name="Model" sheetId="1" r:id="rId1"/><sheet name="My data" sheetId="2" r:id="rId2"/></sheets>'
     '<definedNames><definedName name="Dof">10</definedName><definedName name="X" localSheetId="1">'
     "'My data'!$A$1:$A$3</definedName></definedNames></workbook>"),
    ('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
     '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/model.xml"/>'
     '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/../data.xml"/>'
     '<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>'
     '</Relationships>'),
    ('xl/sharedStrings.xml', '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>x</t></si>'
     '<si><r><t>rich </t></r><r><rPr><b/></rPr><t>run_x0041_</t></r><rPh><t>no</t></rPh></si></sst>'),
    ('xl/worksheets/model.xml', '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
     '<dimension ref="A1:D3"/><sheetData><row r="1"><c r="A1" t="s"><v>1</v></c><c r="B1"><f>StudentT(Dof)</f><v>2.2281411036749326</v></c>'
     '<c t="e"><f>_xll.LLSQ(X,X,9)</f><v>#N/A</v></c><c t="b"><v>1</v></c></row>'
     '<row r="2"><c r="A2"><f t="shared" ref="A2:A3" si="0">StudentT(B1)+1</f><v>3.2281411036749326</v></c>'
     '<c r="B2"><f t="array" ref="B2:C2">LLSQ(\'My data\'!A1:A3,{1,2,3},2)</f><v>0</v></c><c r="C2"><v>1</v></c>'
     '<c r="D2" t="str"><f>UPPER("a")</f><v>A</v></c></row>'
     '<row><c r="A3"><f t="shared" si="0"/><v>3.2281411036749326</v></c><c r="B3" t="inlineStr"><is><t xml:space="preserve"> i </t></is></c></row>'
     '</sheetData></worksheet>'),
    ('xl/data.xml', '<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheetData>'
     '<x:row><x:c><x:v>1</x:v></x:c></x:row><x:row><x:c><x:v>2.5E+3</x:v></x:c></x:row><x:row><x:c><x:v>-0</x:v></x:c></x:row>'
     '</x:sheetData></x:worksheet>'),
]


def seeds(folder):
    os.makedirs(folder, exist_ok=True)
    minimal = os.path.join(folder, 'minimal.xlsx')
    with zipfile.ZipFile(minimal, 'w', zipfile.ZIP_DEFLATED) as target:
        for name, text in SEED_PARTS:
            target.writestr(zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0)), text, zipfile.ZIP_DEFLATED)
    with open(minimal, 'rb') as f:
        whole = f.read()
    with open(os.path.join(folder, 'truncated.xlsx'), 'wb') as f:
        f.write(whole[:len(whole) // 2])
    # What a password-protected workbook is: a compound document, whose header begins so.
    with open(os.path.join(folder, 'encrypted.xlsx'), 'wb') as f:
        f.write(bytes.fromhex('D0CF11E0A1B11AE1') + bytes(504))

    def packed(name, parts):
        with open(os.path.join(folder, name), 'w') as f:
            f.write(''.join('@@@ %s\n%s\n' % part for part in parts))
    packed('packed.txt', SEED_PARTS)
    # A table on the model sheet and a linked workbook's cached cells, which the reader follows too.
    rels = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
    table_link = [(n, t.replace('</sheets>', '</sheets><externalReferences><externalReference r:id="rId9"/></externalReferences>')
                   if n == 'xl/workbook.xml' else t.replace('</Relationships>', '<Relationship Id="rId9" Type="%s/externalLink" '
                   'Target="externalLinks/externalLink1.xml"/></Relationships>' % rels) if n == 'xl/_rels/workbook.xml.rels' else t)
                  for n, t in SEED_PARTS] + [
        ('xl/worksheets/_rels/model.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
         '<Relationship Id="rId1" Type="%s/table" Target="../tables/table1.xml"/></Relationships>' % rels),
        ('xl/tables/table1.xml', '<table xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" name="T" displayName="T" '
         'ref="A1:B3" totalsRowCount="1"><tableColumns count="2"><tableColumn name="x"/><tableColumn name="y_x0020_"/></tableColumns></table>'),
        ('xl/externalLinks/externalLink1.xml', '<externalLink xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
         '<externalBook><sheetNames><sheetName val="S"/></sheetNames><sheetDataSet><sheetData sheetId="0"><row r="1">'
         '<cell r="A1"><v>2</v></cell><cell r="B1" t="str"><v>a</v></cell><cell r="C1" t="e"><v>#REF!</v></cell></row>'
         '</sheetData></sheetDataSet></externalBook></externalLink>'),
    ]
    packed('packed_table_link.txt', table_link)
    model = dict(SEED_PARTS)['xl/worksheets/model.xml']
    for name, edit in (('packed_duplicate_cell.txt', lambda t: t.replace('<row><c r="A3">', '<row><c r="A3"/><c r="A3">')),
                       ('packed_follower_first.txt', lambda t: t.replace('si="0">StudentT(B1)+1', 'si="0">')),
                       ('packed_huge_dimension.txt', lambda t: t.replace('A1:D3', 'A1:XFE1048577'))):
        packed(name, [(n, edit(t) if n == 'xl/worksheets/model.xml' else t) for n, t in SEED_PARTS])


def main():
    if len(sys.argv) == 3 and sys.argv[1] == '--example':
        example(sys.argv[2])
        return
    if len(sys.argv) == 3 and sys.argv[1] == '--seeds':
        seeds(sys.argv[2])
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    good = os.path.join(folder, 'quorin_test.xlsx')
    build(good, {})
    build(os.path.join(folder, 'planted.xlsx'), PLANTED)
    with open(os.path.join(folder, 'planted.txt'), 'w') as f:
        f.write(''.join('Model!%s\n' % cell for cell in sorted(PLANTED)))
    corrupt_variants(good, folder)
    accepted_variants(good, folder)
    tolerated_variants(good, folder)
    # A sheet past a megabyte, whose rewritten copy is deflated in two halves on two threads.
    wb = xlsxwriter.Workbook(os.path.join(folder, 'big_sheet.xlsx'))
    ws = wb.add_worksheet('Data')
    for r in range(15000):
        ws.write_number(r, 0, r * 0.37)
        ws.write_number(r, 1, r * 1.93)
    wb.close()


    for name, formulas in KEPT:
        kept_workbook(os.path.join(folder, name), formulas)
    kept_special_cells(os.path.join(folder, 'kept_special_cells.xlsx'))
    for name, formulas in OURS:
        ours_workbook(os.path.join(folder, name), formulas)
    # A table's part and a link's cache damaged: LibreOffice opens both, leaving them out.
    for source, name, part in (('ours_table.xlsx', 'damaged_table.xlsx', 'xl/tables/table1.xml'),
                               ('ours_link.xlsx', 'damaged_link.xlsx', 'xl/externalLinks/externalLink1.xml')):
        with open(os.path.join(folder, source), 'rb') as f:
            write_variant(f.read(), folder, name, {part: lambda text: text[:len(text) // 2]})


if __name__ == '__main__':
    main()
