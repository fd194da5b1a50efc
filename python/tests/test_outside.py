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


@pytest.mark.parametrize("height,width", [(2, 2), (3, 4), (9, 10), (16, 17), (33, 64),
                                          (101, 40), (64, 80)])
def test_coefficients_are_pywavelets_bior44_halved(rng, height, width):
    # One level of ours is pywt's dwt2 with bior4.4 and whole-sample
    # symmetric extension ("reflect"), every band two entries further on in
    # both directions, divided by 2 (the square root of 2 along each axis),
    # and negated once for each axis it is high along: the low-low band, cD
    # as it is, cH and cV negated. The extension is the same, so the
    # relation holds up to the edges.
    x = rng.integers(0, 256, (height, width), dtype=np.uint8)
    c = dwt97.analyze(x, 1).astype(np.float64)
    cA, (cH, cV, cD) = pywt.dwt2(x.astype(np.float64), "bior4.4", mode="reflect")
    ours = dwt97.subbands(c, 1)
    for band, theirs, sign in ((ours[0], cA, 1), (ours[1][0], cH, -1), (ours[1][1], cV, -1),
                               (ours[1][2], cD, 1)):
        h, w = band.shape
        np.testing.assert_allclose(band, sign * theirs[2:2 + h, 2:2 + w] / 2, rtol=0, atol=1e-3)
    # Two levels deep, wavedec2 filters its own longer cA, extension entries
    # included: the second level's bands agree one entry further on again,
    # and only away from the edges.
    if min(height, width) >= 40:
        c = dwt97.analyze(x, 2).astype(np.float64)
        theirs = pywt.wavedec2(x.astype(np.float64), "bior4.4", mode="reflect", level=2)
        for band, other, sign in zip(dwt97.subbands(c, 2)[1], theirs[1], (-1, -1, 1)):
            h, w = band.shape
            np.testing.assert_allclose(band[4:-4, 4:-4],
                                       sign * other[3 + 4:3 + h - 4, 3 + 4:3 + w - 4] / 4,
                                       rtol=0, atol=1e-3)


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
                                  "inverse_columns", "inverse_rows", "parse", "save",
                                  "analyze", "synthesize", "view"])
def test_the_lock_is_released_while_the_library_works(name, tmp_path):
    a = np.random.default_rng(1).integers(0, 256, (4096, 4096), dtype=np.uint8)
    if name in ("analyze", "synthesize", "view"):
        # Float coefficients, column-strided so that the copy runs unlocked too.
        c = np.repeat(a[:1024, :1024].astype(np.float32), 2, axis=1)[:, ::2]
        call = lambda: getattr(dwt97, name)(c, 1)
    elif name == "parse":
        data = make_bitmap(a)
        call = lambda: dwt97.parse(data)
    elif name == "save":
        call = lambda: dwt97.save(tmp_path / "big.dat", a)
    elif name == "forward":
        call = lambda: dwt97.forward(a, threads=1)
    else:
        call = lambda: getattr(dwt97, name)(a)
    assert other_thread_steps(call) > 0
