"""check_many over the test workbooks on a process pool and on a Dask cluster: the rows check gives one
file at a time, in the order given, a bad file a row of its own; and Report, the rows' source, pickles."""

import pickle
import random
import subprocess
import sys

import pytest

import quorin
from quorin._estate import _check_row


def estate(workbooks):
    """Every test workbook in a shuffled order, with a missing file among them."""
    paths = sorted(str(p) for p in workbooks.glob("*.xlsx")) + [str(workbooks / "missing.xlsx")]
    random.Random(2385).shuffle(paths)
    return paths


def without_seconds(rows):
    return [tuple(row)[:-1] for row in rows]


def serial(paths):
    return without_seconds(_check_row(p, 0) for p in paths)


def test_a_row_is_checks_report_in_counts(workbooks):
    report = quorin.check(workbooks / "planted.xlsx")
    assert without_seconds([_check_row(str(workbooks / "planted.xlsx"), 0)]) == [
        (str(workbooks / "planted.xlsx"), report.recomputed, report.matching, len(report.differing), len(report.stale), None)]


def test_reports_pickle(workbooks):
    report = quorin.check(workbooks / "planted.xlsx")
    assert report.differing and pickle.loads(pickle.dumps(report)) == report


def test_a_process_pool_gives_the_serial_rows_in_the_order_given(workbooks):
    # Faults: rows in completion order; a refused or missing file that stops the run or loses its row.
    paths = estate(workbooks)
    rows = quorin.check_many(paths, max_workers=2)
    assert without_seconds(rows.itertuples(index=False)) == serial(paths)
    assert "No such file" in rows.refused.iloc[paths.index(str(workbooks / "missing.xlsx"))]


CLUSTER = """
import pickle, sys
from dask.distributed import Client, LocalCluster
import quorin
paths = sys.argv[1:]
with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                  host="127.0.0.1") as cluster, Client(cluster) as client:
    rows = quorin.check_many(paths, client=client)
sys.stdout.buffer.write(pickle.dumps([tuple(row)[:-1] for row in rows.itertuples(index=False)]))
"""


def test_a_dask_cluster_gives_the_serial_rows_in_the_order_given(workbooks):
    pytest.importorskip("dask.distributed")
    paths = estate(workbooks)
    # A process of its own, with a deadline: a cluster that cannot start must fail the test, not hang it.
    run = subprocess.run([sys.executable, "-c", CLUSTER, *paths], capture_output=True, timeout=240)
    assert run.returncode == 0, run.stderr.decode()[-2000:]
    assert pickle.loads(run.stdout) == serial(paths)


def test_without_pandas_the_rows_are_named_tuples(workbooks, monkeypatch):
    # Fault: the DataFrame's import failing the run where pandas is not installed.
    monkeypatch.setitem(sys.modules, "pandas", None)  # import pandas now raises ImportError
    rows = quorin.check_many([workbooks / "planted.xlsx"], max_workers=1)
    assert [type(row) for row in rows] == [quorin.CheckRow] and rows[0].refused is None
