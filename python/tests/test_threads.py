"""Many threads calling at once get the answers each call gets alone: the rules' shared argument
buffers are used under one lock, with the GIL released around large work."""

from concurrent.futures import ThreadPoolExecutor

import numpy as np

import quorin

RNG = np.random.default_rng(2385)
XS = np.sort(RNG.uniform(-3, 3, 500))
YS = RNG.uniform(-2, 2, 500)
POINTS = RNG.uniform(-3.5, 3.5, 200_000)  # large enough to release the GIL
TABLE = np.vstack([np.arange(30.0), RNG.uniform(-5, 5, (29, 30))])
TABLE[1:, 0] = np.arange(1.0, 30.0)

CALLS = [
    lambda: quorin.spline(XS, YS, POINTS),
    lambda: quorin.interp1(XS, YS, POINTS, extrapolate=True),
    lambda: quorin.interp1(XS, YS, POINTS[:7], extrapolate=True),  # small: keeps the GIL, takes the same lock
    lambda: quorin.polynomial(YS[:9], POINTS),
    lambda: quorin.llsq(XS, YS, 7),
    lambda: quorin.llsqlc(XS, YS[::-1], 5, [0.5, 1.5], [0.0, 1.0]),
    lambda: quorin.interp2(TABLE, POINTS[:5000] + 10, POINTS[5000:10000] + 10),
    lambda: np.array(quorin.count_between(YS, -0.5, 0.5)),
    lambda: quorin.student_t(np.arange(1, 50_000)),
]


def test_concurrent_calls_give_the_single_thread_answers():
    alone = [call() for call in CALLS]
    with ThreadPoolExecutor(max_workers=8) as pool:
        futures = [(k, pool.submit(CALLS[k])) for _ in range(20) for k in range(len(CALLS))]
        for k, future in futures:
            assert np.array_equal(future.result().view(np.uint64), alone[k].view(np.uint64)), k
