"""check_many: an estate of workbooks checked on a Dask cluster's workers or a local process pool, one
row per file in the order given. Only paths and rows cross between processes, never workbooks."""

import multiprocessing
import os
import time
from concurrent.futures import ProcessPoolExecutor
from itertools import repeat
from typing import Any, Iterable, List, NamedTuple, Optional

from ._workbooks import PathLike, check


class CheckRow(NamedTuple):
    """One workbook's check: its counts, or why it was refused (then the counts are 0)."""

    path: str
    recomputed: int
    matching: int
    differing: int
    stale: int
    refused: Optional[str]
    seconds: float


def _check_row(path: str, tolerance: int) -> CheckRow:
    """Never raises: a file that cannot be checked is a row saying why, so one bad file never stops a run."""
    start = time.perf_counter()
    try:
        report = check(path, tolerance)
    except Exception as error:  # noqa: BLE001 - every failure is the row's message, none the run's
        why = str(error) if isinstance(error, (OSError, ValueError)) else f"{type(error).__name__}: {error}"
        return CheckRow(path, 0, 0, 0, 0, why, time.perf_counter() - start)
    return CheckRow(path, report.recomputed, report.matching, len(report.differing), len(report.stale), None,
                    time.perf_counter() - start)


def _check_rows(paths: List[str], tolerance: int) -> List[CheckRow]:
    return [_check_row(path, tolerance) for path in paths]


def _chunk_size(files: int, workers: int) -> int:
    """Files a task: a few, to cut the messages between processes (a scheduler's round trip costs about
    as much as checking a small workbook), yet at least four tasks a worker, to keep the workers even."""
    return max(1, min(16, files // (4 * workers)))


def _on_client(client: Any, paths: List[str], tolerance: int) -> List[CheckRow]:
    size = _chunk_size(len(paths), max(1, len(client.scheduler_info()["workers"])))
    chunks = [paths[i:i + size] for i in range(0, len(paths), size)]
    # pure=False: a file may have changed since a check of the same path in this session.
    futures = client.map(_check_rows, chunks, tolerance=tolerance, pure=False)
    rows = []
    for chunk, future in zip(chunks, futures):
        try:
            rows.extend(future.result())
        except Exception as error:  # a worker lost while it held the files
            rows.extend(CheckRow(path, 0, 0, 0, 0, f"{type(error).__name__}: {error}", 0.0) for path in chunk)
    return rows


def _on_process_pool(paths: List[str], tolerance: int, max_workers: Optional[int]) -> List[CheckRow]:
    # forkserver: workers are forked from a clean server that has imported quorin once, never from this
    # process, whose threads (a notebook's, Dask's) could hold locks a forked child would inherit held.
    context = multiprocessing.get_context("forkserver")
    context.set_forkserver_preload(["quorin"])
    workers = max_workers or os.cpu_count() or 1
    with ProcessPoolExecutor(max_workers=workers, mp_context=context) as pool:
        return list(pool.map(_check_row, paths, repeat(tolerance), chunksize=_chunk_size(len(paths), workers)))


def check_many(paths: Iterable[PathLike], *, tolerance: int = 0, client: Any = None,
               max_workers: Optional[int] = None) -> Any:
    """Check many workbooks, as check checks one, in parallel: on a Dask cluster or a local process pool.

    Parameters
    ----------
    paths : iterable of str or path-like
        The workbooks, as the workers see them (a share every worker mounts, for a cluster).
    tolerance : int, default 0
        How many ulps apart two numbers may lie and still match.
    client : dask.distributed.Client, optional
        Check on this client's workers (``client.map``); None: on a local process pool.
    max_workers : int, optional
        The process pool's size; None: one per core. Unused with a client.

    Returns
    -------
    pandas.DataFrame or list of CheckRow
        One row per file, in the order given: path, recomputed, matching, differing, stale (counts),
        refused (None, or the message a file was refused with, its counts 0) and seconds. A DataFrame
        where pandas is installed.

    Examples
    --------
    >>> from dask.distributed import Client  # doctest: +SKIP
    >>> quorin.check_many(glob.glob("share/**/*.xlsx", recursive=True), client=Client("tcp://scheduler:8786"))  # doctest: +SKIP
    """
    texts = [os.fsdecode(os.fspath(p)) for p in paths]
    if not texts:
        rows: List[CheckRow] = []
    elif client is not None:
        rows = _on_client(client, texts, tolerance)
    else:
        rows = _on_process_pool(texts, tolerance, max_workers)
    try:
        import pandas  # type: ignore[import]
    except ImportError:
        return rows
    return pandas.DataFrame(rows, columns=list(CheckRow._fields))
