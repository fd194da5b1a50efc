"""Checks from outside the library: PyWavelets' filter bank, and Python
threads running while the library works."""
import sys
import threading
import time

import numpy as np
import pytest

import dwt97
from conftest import make_bitmap

pywt = pytest.importorskip("pywt")


def truncated_bytes(values):
    return np.trunc(values).astype(np.int64) & 0xFF


@pytest.mark.parametrize("length", [2, 3, 9, 10, 16, 17, 64, 101])
def test_row_pass_is_pywavelets_bior44(rng, length):
    # pywt's bior4.4 with whole-sample symmetric extension ("reflect") is the
    # same filter bank scaled by the square root of 2, the high band negated,
    # both bands two coefficients further on, for odd and even lengths alike.
    x = rng.integers(0, 256, (8, length), dtype=np.uint8)
    ours = dwt97.forward_rows(x).astype(np.int64)
    half = length // 2
    for row, out in zip(x, ours):
        low, high = pywt.dwt(row.astype(np.float64), "bior4.4", mode="reflect")
        for band, theirs in ((out[:half], low[2:2 + half]), (out[half:2 * half], -high[2:2 + half])):
            values = theirs / np.sqrt(2)
            # Values within rounding of a whole number may truncate either way.
            near_whole = np.abs(values - np.round(values)) < 1e-3
            assert ((truncated_bytes(values) == band) | near_whole).all()
            # (Periodic rows of two or three samples filter to whole numbers.)
            assert length < 9 or near_whole.mean() < 0.5


def other_thread_steps(call, repeats=5):
    """How many steps another Python thread made while `call` ran on this
    one, at most over `repeats` calls. The other thread gives the lock up at
    every step, and the switch interval is far too long to force this one to:
    only a call that releases the lock lets the other thread step at all."""
    steps = [0]
    stop = threading.Event()

    def step():
        while not stop.is_set():
            steps[0] += 1
            time.sleep(0)  # releases the lock

    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1.0)  # far longer than any call here
    stepper = threading.Thread(target=step)
    try:
        stepper.start()
        most = 0
        for _ in range(repeats):
            before = steps[0]
            call()
            most = max(most, steps[0] - before)
    finally:
        stop.set()
        stepper.join()
        sys.setswitchinterval(old_interval)
    return most


def test_a_call_holding_the_lock_lets_no_step_through():
    data = list(range(300_000))
    assert other_thread_steps(lambda: sorted(data, reverse=True)) == 0


@pytest.mark.parametrize("name", ["forward", "forward_rows", "forward_columns",
                                  "inverse_columns", "inverse_rows", "parse", "save"])
def test_the_lock_is_released_while_the_library_works(name, tmp_path):
    a = np.random.default_rng(1).integers(0, 256, (4096, 4096), dtype=np.uint8)
    if name == "parse":
        data = make_bitmap(a)
        call = lambda: dwt97.parse(data)
    elif name == "save":
        call = lambda: dwt97.save(tmp_path / "big.dat", a)
    elif name == "forward":
        call = lambda: dwt97.forward(a, threads=1)
    else:
        call = lambda: getattr(dwt97, name)(a)
    assert other_thread_steps(call) > 0
