#!/usr/bin/env python3
"""Adds one add-in call to real workbooks and checks that only it is recomputed and rewritten.

Usage: bench/real_workbooks_ours.py HOST RESULTS.tsv WORKDIR
RESULTS.tsv is real_workbooks.sh's output; each workbook whose copy was byte-identical gets a row
under its first worksheet's last row holding =_xll.StudentT(10) with a cached 0. Then check must
recompute that one cell (1 differing), recalc must change that one cached value, every other part of
the copy must be the source's bytes and its sheet differ only in that <v>, and check on the copy must
match. Prints each outcome with its count and up to three files. Downloads nothing.
"""
import collections
import os
import re
import subprocess
import sys
import zipfile

VALUE = '2.2281411036749326'  # StudentT(10) as the add-in answers it


def first_worksheet(book):
    try:
        workbook = book.read('xl/workbook.xml').decode('utf-8', 'replace')
        rels = book.read('xl/_rels/workbook.xml.rels').decode('utf-8', 'replace')
    except KeyError:
        return None
    sheet = re.search(r'<(?:\w+:)?sheet\b[^>]*?\b\w+:id="([^"]+)"', workbook)
    rel = sheet and re.search(r'<Relationship\b[^>]*\bId="%s"[^>]*>' % re.escape(sheet.group(1)), rels)
    if not rel or 'worksheet' not in rel.group(0):
        return None
    target = re.search(r'Target="([^"]+)"', rel.group(0)).group(1)
    part = target.lstrip('/') if target.startswith('/') else 'xl/' + target
    return part if part in book.namelist() else None


def run(host, *arguments):
    return subprocess.run(['timeout', '20', host, *arguments], capture_output=True, text=True)


def try_one(host, path, work):
    book = zipfile.ZipFile(path)
    part = first_worksheet(book)
    if part is None:
        return 'skipped: first sheet is not a worksheet part'
    xml = book.read(part).decode('utf-8')
    end = re.search(r'</(\w+:)?sheetData>', xml)
    if not end:
        return 'skipped: empty <sheetData/>'
    p = end.group(1) or ''
    rows = re.findall(r'<%srow\b([^>]*)' % re.escape(p), xml)
    if any(not re.search(r'\br="\d+"', a) for a in rows):
        return 'skipped: rows without r='
    row = 1 + max([int(re.search(r'\br="(\d+)"', a).group(1)) for a in rows] or [0])
    if row > 1048576:
        return 'skipped: last row used'
    closing = '</{p}c></{p}row>'.format(p=p)
    cell = '<{p}row r="{n}"><{p}c r="A{n}"><{p}f>_xll.StudentT(10)</{p}f>'.format(p=p, n=row)
    source, copy = os.path.join(work, 'in.xlsx'), os.path.join(work, 'out.xlsx')
    with zipfile.ZipFile(source, 'w', zipfile.ZIP_DEFLATED) as target:
        for info in book.infolist():
            edited = xml[:end.start()] + cell + '<{p}v>0</{p}v>'.format(p=p) + closing + xml[end.start():]
            target.writestr(info, edited.encode('utf-8') if info.filename == part else book.read(info.filename))
    if os.path.exists(copy):
        os.remove(copy)
    checked = run(host, 'check', source)
    if ': 1 cells recomputed, 0 matching, 1 differing' not in checked.stdout:
        return 'check: ' + (checked.stdout + checked.stderr).strip().splitlines()[-1].split(': ', 1)[-1][:100]
    recalc = run(host, 'recalc', source, copy)
    if recalc.returncode != 0 or '1 cells recomputed, 1 cached values changed' not in recalc.stdout:
        return 'recalc: ' + (recalc.stdout + recalc.stderr).strip().splitlines()[-1].split(': ', 1)[-1][:100]
    before, after = zipfile.ZipFile(source), zipfile.ZipFile(copy)
    if before.namelist() != after.namelist() or any(
            before.read(n) != after.read(n) for n in before.namelist() if n != part):
        return 'FAULT: another part changed'
    expected = xml[:end.start()] + cell + '<{p}v>{v}</{p}v>'.format(p=p, v=VALUE) + closing + xml[end.start():]
    if after.read(part) != expected.encode('utf-8'):
        return 'FAULT: the sheet changed beyond the new value'
    if '1 cells recomputed, 1 matching, 0 differing' not in run(host, 'check', copy).stdout:
        return 'FAULT: the copy does not check'
    return 'ok'


def main():
    host, results, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    outcomes = collections.defaultdict(list)
    for line in open(results):
        path, _, _, _, copy = line.split('\t')[:5]
        if copy == 'same':
            outcomes[try_one(host, path, work)].append(path)
    for outcome, paths in sorted(outcomes.items(), key=lambda o: -len(o[1])):
        print('%5d  %s  %s' % (len(paths), outcome, ' '.join(paths[:3]) if outcome != 'ok' else ''))


main()
