#!/usr/bin/env python3
"""dwt97.forward against PyWavelets' dwt2(..., 'bior4.4') on float32, one
thread, and the module's overhead over the library's own call; then
dwt97.analyze and synthesize against dwt2 and idwt2.

    python3 bench/python_bench.py [--sizes 512 2048 8192] [--threads 1]
                                  [--coefficient-sizes 2048]

Each timing is the best of several runs (one for PyWavelets at the largest
size); the float32 conversion PyWavelets needs is not timed. The overhead is
forward()'s time (the checks, allocating the result, the transform reading
the input's rows where they lie) over the library's own out-of-place
transform of the same rows into a plane allocated beforehand, and the same
with a reused out= array.

The coefficients' table times one level of analyze() of a float32 picture and
of synthesize() of its coefficients, each into a fresh array as every call
makes, against dwt2 and idwt2 of the same float32 picture and of dwt2's own
coefficients, all in the same run. A ratio is PyWavelets' time over ours."""
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
    parser.add_argument("--coefficient-sizes", type=int, nargs="*", default=[2048])
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

    if options.coefficient_sizes:
        print()
        print("%6s %12s %12s %9s %12s %12s %9s" % (
            "side", "dwt2 ns/s", "analyze", "ratio", "idwt2 ns/s", "synthesize", "ratio"))
    for side in options.coefficient_sizes:
        x = rng.integers(0, 256, (side, side), dtype=np.uint8).astype(np.float32)
        samples = float(side * side)
        repeats = 1 if side >= 4096 else options.repeats
        analysis = best_of(lambda: dwt97.analyze(x, 1, options.threads), repeats)
        c = dwt97.analyze(x, 1, options.threads)
        synthesis = best_of(lambda: dwt97.synthesize(c, 1, options.threads), repeats)
        their_analysis = their_synthesis = float("nan")
        if pywt is not None:
            their_analysis = best_of(lambda: pywt.dwt2(x, "bior4.4"), repeats)
            bands = pywt.dwt2(x, "bior4.4")
            assert bands[0].dtype == np.float32
            their_synthesis = best_of(lambda: pywt.idwt2(bands, "bior4.4"), repeats)
        print("%6d %12.2f %12.3f %8.1fx %12.2f %12.3f %8.1fx" % (
            side, their_analysis / samples * 1e9, analysis / samples * 1e9,
            their_analysis / analysis, their_synthesis / samples * 1e9,
            synthesis / samples * 1e9, their_synthesis / synthesis))


if __name__ == "__main__":
    main()
