#!/usr/bin/python3
"""Times checking an estate of workbooks: quorin-host check run on each file one after another, against
quorin.check_many on a Dask LocalCluster of two worker processes and on a local process pool.

The estate is FILES copies of the workbooks in FOLDER, largest first and round-robin, written to a
temporary folder (each a file of its own, as on a share). Prints each way's seconds and its counts
(files checked, files refused, cells recomputed, matching, differing), which must agree, and the load
average before and after. The cluster's start is timed apart: a real cluster is up before the run.
The quorin imported is whatever the interpreter finds: run it with the virtual environment the package
is installed in.
Usage: python_estate.py QUORIN_HOST FOLDER [--files 1000]
"""
import argparse
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import quorin

SUMMARY = re.compile(r"(\d+) cells recomputed, (\d+) matching, (\d+) differing")


def write_estate(folder, files, into):
    books = sorted(Path(folder).glob("*.xlsx"), key=lambda p: p.stat().st_size, reverse=True)
    paths = []
    for i in range(files):
        path = Path(into) / f"{i:05d}-{books[i % len(books)].name}"
        shutil.copyfile(books[i % len(books)], path)
        paths.append(str(path))
    return paths


def host_counts(host, paths):
    checked = refused = recomputed = matching = differing = 0
    for path in paths:
        out = subprocess.run([host, "check", path], capture_output=True, text=True).stdout
        found = SUMMARY.search(out)
        if found is None:
            refused += 1
            continue
        checked += 1
        recomputed, matching, differing = (a + int(b) for a, b in zip((recomputed, matching, differing), found.groups()))
    return checked, refused, recomputed, matching, differing


def row_counts(rows):
    done = rows[rows.refused.isna()]
    return (len(done), len(rows) - len(done), int(done.recomputed.sum()), int(done.matching.sum()),
            int(done.differing.sum()))


def timed(label, work):
    start = time.perf_counter()
    counts = work()
    print(f"{label}: {time.perf_counter() - start:.2f} s  checked, refused, recomputed, matching, differing {counts}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("host")
    parser.add_argument("folder")
    parser.add_argument("--files", type=int, default=1000)
    arguments = parser.parse_args()
    from dask.distributed import Client, LocalCluster

    print("load average %.2f %.2f %.2f" % os.getloadavg())
    with tempfile.TemporaryDirectory() as into:
        paths = write_estate(arguments.folder, arguments.files, into)
        timed("quorin-host check, one file after another", lambda: host_counts(arguments.host, paths))
        start = time.perf_counter()
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                          host="127.0.0.1") as cluster, Client(cluster) as client:
            client.run(lambda: __import__("quorin"))  # the workers' import, part of their start
            print(f"cluster start: {time.perf_counter() - start:.2f} s")
            timed("check_many on a LocalCluster of 2 workers", lambda: row_counts(quorin.check_many(paths, client=client)))
        timed("check_many on a process pool of 2", lambda: row_counts(quorin.check_many(paths, max_workers=2)))
    print("load average %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
