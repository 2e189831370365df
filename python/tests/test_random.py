"""The generator's sequences against the add-in's: a Generator starts where the add-in starts when it
is loaded; the module-wide sequence starts there at import and loses no draw to threads."""

import pickle
import subprocess
import sys
import threading

import numpy as np
import pytest

import quorin
from conftest import bits


def test_a_generator_draws_the_add_ins_first_draws(host_eval):
    native = host_eval(["=RandNorm()"] * 5 + ["=RandDist(10,2)"] * 3)
    generator = quorin.Generator()
    ours = list(generator.rand_norm(5)) + list(generator.rand_dist(10, 2, size=3))
    assert [bits(v) for v in ours] == [bits(float(t)) for t in native]
    grid = quorin.Generator().rand_norm(size=(2, np.int64(3)))  # filled in C order
    assert [bits(v) for v in grid.ravel()[:5]] == [bits(float(t)) for t in native[:5]]
    assert quorin.Generator().rand_norm(np.int32(0)).shape == (0,)


def test_the_module_sequence_starts_at_import_and_is_shared_by_both_functions():
    code = "import quorin; print(repr(quorin.rand_norm()), repr(quorin.rand_dist(10, 2)), repr(quorin.rand_norm(2)[1]))"
    drawn = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.split()
    generator = quorin.Generator()
    expected = [generator.rand_norm(), generator.rand_dist(10, 2), generator.rand_norm(2)[1]]
    assert [bits(float(v)) for v in drawn] == [bits(v) for v in expected]


def test_threads_sharing_a_generator_lose_and_repeat_no_draw():
    shared = quorin.Generator()
    drawn = []

    def draw():
        for _ in range(20):
            chunk = shared.rand_norm(100_000 if len(drawn) % 2 else 3)  # large chunks release the GIL
            drawn.append(chunk if isinstance(chunk, np.ndarray) else np.array([chunk]))

    threads = [threading.Thread(target=draw) for _ in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    together = np.concatenate(drawn)
    alone = quorin.Generator().rand_norm(together.size)
    # Chunks interleave in any order, but each is a run of the one sequence: the multisets agree.
    assert np.array_equal(np.sort(together.view(np.uint64)), np.sort(alone.view(np.uint64)))


def test_a_generator_keeps_its_place_through_state_and_pickle():
    # Faults: a pickle that restarts the sequence; a state that does not restore the place.
    generator = quorin.Generator()
    generator.rand_norm(7)
    copy = pickle.loads(pickle.dumps(generator))
    place = generator.state
    ahead = generator.rand_norm(5)
    assert bits_of(copy.rand_norm(5)) == bits_of(ahead)
    generator.state = place
    assert bits_of(generator.rand_norm(5)) == bits_of(ahead)
    assert bits_of(quorin.Generator(state=place).rand_norm(5)) == bits_of(ahead)
    for bad, error in [(2**32, ValueError), (-1, ValueError), (1.0, TypeError)]:
        with pytest.raises(error):
            quorin.Generator(state=bad)


def test_spawned_streams_are_the_sequence_from_their_jumps():
    # The oracle is the plain sequence: stream i must be it from i * (2**32 // n) draws on. 2**32 // 408
    # is 877,240 normal numbers' draws, so the streams' starts can be drawn to. Faults: a wrong stride,
    # a jump that is not the congruence's, a spawn that moves its parent.
    parent = quorin.Generator(state=2385)
    streams = parent.spawn(408)
    stride = 877_240
    plain = quorin.Generator(state=2385).rand_norm(2 * stride + 3)
    for i in range(3):
        assert bits_of(streams[i].rand_norm(3)) == bits_of(plain[i * stride:i * stride + 3])
    assert parent.state == 2385 and len({s.state for s in streams}) == 408


def bits_of(values):
    return [bits(v) for v in values]
