#!/usr/bin/python3
"""Joins summary files ("Workload/project n median_seconds ns_per_element") into one table.

Usage: compare.py QUORIN_SUMMARY PEER_SUMMARY [BEFORE_SUMMARY]
For each case: the module's time per call, the fastest peer and its time, and how many times
faster the module is (peer / module). With a third file, the module's earlier time as well.
The range reader is set against the plain copy of the same records measured in the same run.
"""
import sys


def read(path):
    table = {}
    with open(path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            name, n, seconds, _ = line.split()
            workload, project = name.split("/", 1)
            table[(workload, int(n), project)] = float(seconds)
    return table


def fmt(seconds):
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3f} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.3f} us"
    return f"{seconds * 1e9:.1f} ns"


def main():
    ours = read(sys.argv[1])
    peers = read(sys.argv[2])
    before = read(sys.argv[3]) if len(sys.argv) > 3 else {}
    header = ["workload", "n", "quorin"]
    if before:
        header += ["before", "speed-up"]
    header += ["fastest peer", "peer time", "peer/quorin"]
    rows = [header]
    for (workload, n, project), seconds in ours.items():
        if project == "floor":
            continue
        row = [workload, str(n), fmt(seconds)]
        if before:
            old = before.get((workload, n, project))
            row += [fmt(old) if old else "-", f"{old / seconds:.2f}x" if old else "-"]
        if workload == "RangeReader":
            floor = ours.get(("CopyRecords", n, "floor"))
            row += ["memcpy 24n bytes", fmt(floor), f"{floor / seconds:.2f}x" if floor else "-"]
        else:
            candidates = [(t, p) for (w, m, p), t in peers.items() if w == workload and m == n]
            if candidates:
                t, p = min(candidates)
                row += [p, fmt(t), f"{t / seconds:.2f}x"]
            else:
                row += ["-", "-", "-"]
        rows.append(row)
    widths = [max(len(r[i]) for r in rows) for i in range(len(header))]
    for k, r in enumerate(rows):
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
        if k == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")


if __name__ == "__main__":
    main()
