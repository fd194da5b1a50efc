#!/usr/bin/env python3
"""dwt97.forward against PyWavelets' dwt2(..., 'bior4.4') on float32, one
thread, and the module's overhead over the library's own call.

    python3 bench/python_bench.py [--sizes 512 2048 8192] [--threads 1]

Each timing is the best of several runs (one for PyWavelets at the largest
size); the float32 conversion PyWavelets needs is not timed. The overhead is
forward()'s time (allocating the result, copying the input into it) over
the library's in-place transform alone, and with a reused out= array."""
import argparse
import time

import numpy as np

import dwt97
from dwt97 import _dwt97


def best_of(call, repeats):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[512, 2048, 8192])
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--repeats", type=int, default=5)
    options = parser.parse_args()
    try:
        import pywt
    except ImportError:
        pywt = None
        print("PyWavelets is not installed: timing dwt97 alone")

    print("%6s %11s %11s %11s %11s %9s %9s %9s" % (
        "side", "pywt ns/s", "dwt97 ns/s", "out= ns/s", "C++ ns/s", "speed-up", "overhead",
        "with out="))
    rng = np.random.default_rng(97)
    for side in options.sizes:
        a = rng.integers(0, 256, (side, side), dtype=np.uint8)
        samples = float(side * side)
        ours = best_of(lambda: dwt97.forward(a, threads=options.threads), options.repeats)
        out = np.empty_like(a)
        reused = best_of(lambda: dwt97.forward(a, threads=options.threads, out=out),
                         options.repeats)
        library = _dwt97._time_forward(a, options.threads, options.repeats)
        theirs = float("nan")
        if pywt is not None:
            x = a.astype(np.float32)
            theirs = best_of(lambda: pywt.dwt2(x, "bior4.4"),
                             1 if side >= 4096 else max(1, options.repeats // 2))
        print("%6d %11.2f %11.3f %11.3f %11.3f %8.0fx %8.1f%% %8.1f%%" % (
            side, theirs / samples * 1e9, ours / samples * 1e9, reused / samples * 1e9,
            library / samples * 1e9, theirs / ours, (ours / library - 1) * 100,
            (reused / library - 1) * 100))


if __name__ == "__main__":
    main()
