"""check and recalc from Python against quorin-host's: the same report, a byte-identical copy, the
same refusals, and no file written when one is refused."""

import re
import subprocess
import threading
from pathlib import Path

import pytest

import quorin

DIFFERING = re.compile(r"^    (\S+)  (.*)  cached (.*)  computed (.*)  \((?:(\d+) ulps? apart|.*)\)$")
STALE = re.compile(r"^    stale  (\S+)  (.*)  \((.*)\)$")
TOLERATED = re.compile(r"^    tolerated  (.*)$")
SUMMARY = re.compile(r"(\d+) cells recomputed, (\d+) (?:matching|cached values changed)")


def host_report(host, *arguments):
    run = subprocess.run([str(host), *map(str, arguments)], capture_output=True, text=True)
    lines = run.stdout.splitlines()
    differing = [(c, f, value(a), value(b), u) for c, f, a, b, u in (m.groups() for m in map(DIFFERING.match, lines) if m)]
    stale = [m.groups() for m in map(STALE.match, lines) if m]
    stale.extend(m.group(1) for m in map(TOLERATED.match, lines) if m)
    summary = [int(v) for v in SUMMARY.search(run.stdout).groups()] if SUMMARY.search(run.stdout) else None
    return differing, stale, summary, run.stderr


def value(shown):
    """A number as the float it reads back as (quorin-host prints the digits that do), else its text."""
    try:
        return float(shown)
    except (TypeError, ValueError):
        return str(shown)


def as_host_reports(report):
    return [(d.cell, d.formula, value(d.cached), value(d.computed), None if d.ulps is None else str(d.ulps))
            for d in report.differing], [(s.cell, s.formula, s.reason) for s in report.stale] + report.tolerated


@pytest.mark.parametrize(
    "book,tolerance", [("planted.xlsx", 0), ("planted.xlsx", 2252), ("ours_stale.xlsx", 0), ("duplicate_cell.xlsx", 0)])
def test_check_reports_what_quorin_host_reports(host, workbooks, book, tolerance):
    differing, stale, summary, _ = host_report(host, "check", workbooks / book, "--tolerance", tolerance)
    report = quorin.check(workbooks / book, tolerance=tolerance)
    assert as_host_reports(report) == (differing, stale)
    assert [report.recomputed, report.matching] == summary


def test_check_of_the_example_matches_every_cell(tree):
    report = quorin.check(tree / "examples/quorin_example.xlsx")
    assert (report.recomputed, report.matching, report.differing) == (9, 9, [])


@pytest.mark.parametrize("book", ["planted.xlsx", "ours_stale.xlsx", "backslash_names.xlsx", "duplicate_cell.xlsx"])
def test_recalc_writes_quorin_hosts_copy_byte_for_byte(host, workbooks, tmp_path, book):
    _, stale, summary, _ = host_report(host, "recalc", workbooks / book, tmp_path / "host.xlsx")
    report = quorin.recalc(workbooks / book, tmp_path / "ours.xlsx")
    assert (tmp_path / "ours.xlsx").read_bytes() == (tmp_path / "host.xlsx").read_bytes()
    assert [report.recomputed, report.changed] == summary
    assert as_host_reports(report)[1] == stale


def test_a_refused_workbook_raises_quorin_hosts_message_and_writes_nothing(host, workbooks, tmp_path):
    *_, message = host_report(host, "recalc", workbooks / "crc_error.xlsx", tmp_path / "host.xlsx")
    with pytest.raises(quorin.QuorinError) as refused:
        quorin.recalc(workbooks / "crc_error.xlsx", tmp_path / "ours.xlsx")
    assert message.splitlines()[0] in str(refused.value)
    assert not (tmp_path / "ours.xlsx").exists()
    with pytest.raises(FileNotFoundError):  # Python's own error for a missing file, not the engine's words
        quorin.check(tmp_path / "missing.xlsx")


def test_recalc_refuses_to_write_over_its_source(workbooks, tmp_path):
    source = tmp_path / "book.xlsx"
    source.write_bytes((workbooks / "planted.xlsx").read_bytes())
    with pytest.raises(quorin.QuorinError, match="itself"):
        quorin.recalc(source, tmp_path / "." / "book.xlsx")
    assert source.read_bytes() == (workbooks / "planted.xlsx").read_bytes()


def test_checks_on_several_threads_give_the_single_threads_report(workbooks):
    alone = quorin.check(workbooks / "planted.xlsx")
    reports = []
    threads = [threading.Thread(target=lambda: reports.append(quorin.check(workbooks / "planted.xlsx"))) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert reports == [alone] * 4


def test_checks_of_different_files_on_two_threads_give_their_serial_reports(workbooks):
    # Each thread's check runs on a worker of its own at once: a worker shared between them, or one
    # copy of the module's statics, mixes their answers, and random numbers drawn out of one file's
    # order change its cells.
    books = ["ours_random.xlsx", "ours_chains.xlsx"]
    alone = {book: quorin.check(workbooks / book) for book in books}
    reports = {}
    threads = [threading.Thread(target=lambda b=book: reports.__setitem__(b, quorin.check(workbooks / b))) for book in books]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert reports == alone
