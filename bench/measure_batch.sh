#!/usr/bin/env bash
# Measures batches (-t DIR INPUT...) against what they replace:
#  - 1,000 pictures of 64 x 64 in one batch against 1,000 runs of one
#    picture each (the process starts the batch saves); goal: at least 20x;
#  - 200 PNG pictures of 1024 x 1024 (PGM out) on every core against
#    --threads=1, in pictures per second; goal: at least 1.8x on two cores.
# The pictures are made by the project's own sample maker and PNG writer:
# the small ones in two shapes, the PNG ones copies of one quilt (the time
# per picture does not depend on its content). Each measure takes the
# median of RUNS rounds, the two sides in turn.
# Needs cmake, g++, libspng-dev and python3. Takes about two minutes.
#
#   bench/measure_batch.sh [BUILD_DIR] [RUNS]     (default: build, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target dwt97 dwt97_png_decode make_sample >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
exe=$(cd "$build" && pwd)
mkdir -p "$work/small" "$work/png" "$work/out"
for k in $(seq -w 0 999); do
  "$exe/make_sample" "$work/small/s$k.bmp" 64 $((64 + 10#$k % 2)) >/dev/null
done
"$exe/make_sample" "$work/quilt.bmp" 1024 1024 >/dev/null
"$exe/dwt97_png_decode" --make "$work/quilt.bmp" "$work/quilt.png"
for k in $(seq -w 0 199); do cp "$work/quilt.png" "$work/png/p$k.png"; done
echo "== 1000 bitmaps of 64 x 64 (or 64 x 65); 200 PNG of 1024 x 1024, $(stat -c %s "$work/quilt.png") bytes each; $runs rounds"

python3 - "$exe" "$work" "$runs" <<'PY'
import glob, os, shutil, statistics, subprocess, sys, time
exe, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
tool = exe + "/dwt97"
small = sorted(glob.glob(work + "/small/*.bmp"))
png = sorted(glob.glob(work + "/png/*.png"))
quiet = dict(cwd=work, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

# Both sides write the same outputs into a folder emptied before each round
# (outside the time), as a batch into a new folder does.
def fresh():
    shutil.rmtree(work + "/out", ignore_errors=True)
    os.mkdir(work + "/out")

def separate():
    for path in small:
        name = os.path.splitext(os.path.basename(path))[0]
        subprocess.run([tool, "-q", "--no-pause", path, "out/%s.dat" % name], **quiet)

def batch(inputs, *options):
    return lambda: subprocess.run([tool, "-q", *options, "-t", "out", *inputs], **quiet)

def median(pairs):
    times = {name: [] for name, _ in pairs}
    for round in range(runs + 1):
        for name, job in pairs:
            fresh()
            start = time.perf_counter()
            job()
            if round > 0:  # the first round warms the caches
                times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}

m = median([("separate", separate), ("batch", batch(small))])
print("1000 x 64x64: separate runs %.2f s, one batch %.3f s: %.1fx"
      % (m["separate"], m["batch"], m["separate"] / m["batch"]))
m = median([("one", batch(png, "--format=pgm", "--threads=1")),
            ("all", batch(png, "--format=pgm"))])
print("200 x 1024x1024 PNG: --threads=1 %.1f pictures/s, every core (%d) %.1f pictures/s: %.2fx"
      % (len(png) / m["one"], os.cpu_count(), len(png) / m["all"], m["one"] / m["all"]))
PY
