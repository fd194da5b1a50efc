#!/usr/bin/env bash
# Measures a whole run on a JPEG picture against decoding that JPEG alone: a
# 4096 x 4096 baseline grey JPEG at quality 90, made by libjpeg's compressor
# (dwt97_jpeg_decode --make) from the sample quilt, goes through dwt97 (JPEG
# in, PGM sub-bands out, --no-pause) and through dwt97_jpeg_decode (the file
# read and decoded to grey by libjpeg, nothing else). The two are run in
# turn, many times, and the medians compared; the goal is a ratio of at most
# 1.05.
# Needs cmake, g++, libjpeg-turbo's development files and python3. Takes
# about half a minute.
#
#   bench/measure_jpeg.sh [BUILD_DIR] [RUNS]     (default: build, 21)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-21}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target dwt97 dwt97_jpeg_decode make_sample >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/make_sample" "$work/quilt.bmp" 4096 4096
"$build/dwt97_jpeg_decode" --make "$work/quilt.bmp" "$work/quilt.jpg"
exe=$(cd "$build" && pwd)
echo "== 4096 x 4096 grey JPEG, $(stat -c %s "$work/quilt.jpg") bytes; $runs runs each, in turn"

python3 - "$exe" "$work" "$runs" <<'PY'
import os, statistics, subprocess, sys, time
exe, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
commands = {
    "dwt97": [exe + "/dwt97", "--no-pause", "quilt.jpg", "bands.pgm"],
    "dwt97_jpeg_decode": [exe + "/dwt97_jpeg_decode", "quilt.jpg"],
}
times = {name: [] for name in commands}
for run in range(runs + 1):
    for name, command in commands.items():
        # The decoder alone writes nothing: the last round's sub-bands go
        # first, untimed (replacing them would add the release of their pages).
        if os.path.exists(work + "/bands.pgm"):
            os.unlink(work + "/bands.pgm")
        start = time.perf_counter()
        subprocess.run(command, cwd=work, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL)
        if run > 0:  # the first round warms the caches
            times[name].append(time.perf_counter() - start)
m = {name: statistics.median(t) * 1000 for name, t in times.items()}
print("medians: dwt97 %.1f ms, dwt97_jpeg_decode %.1f ms, ratio %.2f (goal 1.05)"
      % (m["dwt97"], m["dwt97_jpeg_decode"], m["dwt97"] / m["dwt97_jpeg_decode"]))
PY
