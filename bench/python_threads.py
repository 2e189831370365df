#!/usr/bin/python3
"""Times two calls of a point function made one after the other against the same two calls made at once
on two threads, to show that the package's numeric calls run in parallel.

Prints one line per case, "function points serial_seconds threads_seconds threads/serial", each time
the median of 9 runs, and the load average before and after. A table of 1,000 nodes; the points
uniform over it. numpy.sort of the same points, which releases the GIL as the package does, is the
control: on a machine whose cores are busy with other work, it shows what two threads can gain there. The quorin imported is whatever the interpreter finds: run it with the virtual
environment the package is installed in.
Usage: python_threads.py [--runs 9]
"""
import argparse
import os
import statistics
import threading
import time

import numpy as np

import quorin


def seconds(calls, threaded):
    start = time.perf_counter()
    if threaded:
        threads = [threading.Thread(target=call) for call in calls]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    else:
        for call in calls:
            call()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=9)
    runs = parser.parse_args().runs
    rng = np.random.default_rng(2385)
    nodes = np.sort(rng.uniform(0.0, 1000.0, 1000))
    values = rng.uniform(-1.0, 1.0, 1000)
    # numpy.sort releases the GIL too: the control, what this machine gives two threads at the time.
    cases = [("spline", 10**5, quorin.spline), ("interp1", 10**6, quorin.interp1),
             ("numpy.sort", 10**6, lambda nodes, values, points: np.sort(points))]
    print("load average %.2f %.2f %.2f" % os.getloadavg())
    for name, n, function in cases:
        points = [rng.uniform(0.0, 1000.0, n) for _ in range(2)]
        calls = [lambda p=p: function(nodes, values, p) for p in points]
        serial, threads = [], []
        for _ in range(runs):  # interleaved, so that a change of load touches both alike
            serial.append(seconds(calls, False))
            threads.append(seconds(calls, True))
        s, t = statistics.median(serial), statistics.median(threads)
        print(f"{name} {n} {s:.4f} {t:.4f} {t / s:.2f}")
    print("load average %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
