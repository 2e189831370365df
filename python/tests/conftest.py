"""The native module is the oracle: quorin-host (QUORIN_HOST, else the linux-debug build beside this tree)
evaluates formulas and checks workbooks with it. Tests needing it, bench/answers.txt or the test
workbooks (QUORIN_WORKBOOKS) are skipped where they are not there, as in an sdist."""

import os
import struct
import subprocess
from pathlib import Path

import pytest

TREE = Path(__file__).resolve().parents[2]


def bits(value: float) -> str:
    return struct.pack(">d", value).hex()


@pytest.fixture(scope="session")
def host():
    path = Path(os.environ.get("QUORIN_HOST", TREE / "build/linux-debug/bin/quorin-host"))
    if not path.exists():
        pytest.skip("quorin-host is not built")
    return path


@pytest.fixture(scope="session")
def host_eval(host):
    """Evaluates formulas in one quorin-host process, in order: each answer as the text it prints."""

    def run(formulas):
        out = subprocess.run([str(host), "eval", *formulas], capture_output=True, text=True).stdout
        return [line.split("  ->  ", 1)[1] for line in out.splitlines()]

    return run


@pytest.fixture(scope="session")
def workbooks():
    path = Path(os.environ.get("QUORIN_WORKBOOKS", TREE / "build/linux-debug/tests/workbooks"))
    if not (path / "planted.xlsx").exists():
        pytest.skip("the test workbooks are not written")
    return path


@pytest.fixture(scope="session")
def tree():
    if not (TREE / "bench/answers.txt").exists():
        pytest.skip("not in the source tree")
    return TREE
