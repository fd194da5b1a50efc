#!/usr/bin/env bash
# Measures, in one session and side by side, every whole run the project
# holds against a floor, so that the figures share the machine's state:
#   a. an 8192 x 8192 bitmap (dwt97 </dev/null, quilgray.bmp to quilout.dat)
#      against dwt97_io_floor (goal: at most 1.05);
#   b. a 4096 x 4096 grey PNG (--no-pause, PGM sub-bands out) against
#      dwt97_png_decode (goal: at most 1.05);
#   c. a 4096 x 4096 baseline grey JPEG likewise against dwt97_jpeg_decode
#      (goal: at most 1.05);
#   d. dwt97.forward() of a 2048 x 2048 uint8 array from Python against the
#      library's own call (_dwt97._time_forward), on every core; skipped when
#      the interpreter in $PYTHON cannot import dwt97;
#   e. a to c again pinned to one core (taskset -c 0), and, with BASELINE set
#      to another build folder, the dwt97 of that build pinned beside this one
#      (goal: no slower than before);
#   f. the peak resident memory of each whole run less that of the same run
#      on a 16 x 16 picture (what the process takes whatever the picture), in
#      bytes per sample of the picture (goal for the tool: at most 1.10).
# Each round runs every command once, in turn; the first round warms the
# caches and is not counted. Times are medians (perf_counter around each
# process). The 16 x 16 runs come first and also check that each command
# works: one that fails there (a baseline build without PNG, say) is left
# out. Memory is measured after the rounds, one run each under GNU time
# (/usr/bin/time -f %M; the 16 x 16 figure the median of three).
# Prints markdown tables for docs/performance.md.
# Needs cmake, g++, libspng-dev and libjpeg-turbo's development files (their
# rows are left out without them), taskset and python3. Takes about a minute
# at the default RUNS.
#
#   [BASELINE=OTHER_BUILD] [PYTHON=python3] bench/measure_overlap.sh [BUILD_DIR] [RUNS]
#   (default: build, 11; PYTHON defaults to /usr/bin/python3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-11}
python=${PYTHON:-/usr/bin/python3}
baseline=${BASELINE:-}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target dwt97 dwt97_io_floor make_sample >/dev/null
# The PNG and JPEG floors exist only in a build with their library; any
# other failure to build them ends the script.
floors=()
for floor in dwt97_png_decode dwt97_jpeg_decode; do
  if log=$(cmake --build "$build" -j2 --target "$floor" 2>&1); then
    floors+=("$floor")
  elif grep -qi -e 'no rule to make target' -e 'unknown target' <<<"$log"; then
    echo "$floor is not in this build (no PNG or JPEG library): its rows are left out"
  else
    echo "$log" >&2
    exit 1
  fi
done
exe=$(cd "$build" && pwd)
if [[ -n $baseline ]]; then
  baseline=$(cd "$baseline" && pwd)
  if [[ ! -x $baseline/dwt97 ]]; then
    echo "BASELINE=$baseline holds no dwt97" >&2
    exit 2
  fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Each side runs in a folder of its own (the floor's output replaces an
# older one as the tool's does), all holding links to the same pictures:
# big/ the measured ones, small/ the 16 x 16 ones of the memory baseline.
for size in big small; do
  mkdir -p "$work/$size/pictures" "$work/$size/tool" "$work/$size/floor" "$work/$size/base"
done
"$exe/make_sample" "$work/big/pictures/quilgray.bmp" 8192 8192
"$exe/make_sample" "$work/big/pictures/quilt.bmp" 4096 4096
"$exe/make_sample" "$work/small/pictures/quilgray.bmp" 16 16
cp "$work/small/pictures/quilgray.bmp" "$work/small/pictures/quilt.bmp"
sizes="8192 x 8192 bitmap $(stat -c %s "$work/big/pictures/quilgray.bmp") bytes"
for floor in "${floors[@]}"; do
  extension=png
  [[ $floor == dwt97_jpeg_decode ]] && extension=jpg
  for size in big small; do
    "$exe/$floor" --make "$work/$size/pictures/quilt.bmp" "$work/$size/pictures/quilt.$extension"
  done
  sizes+=", 4096 x 4096 ${extension^^} $(stat -c %s "$work/big/pictures/quilt.$extension") bytes"
done
for size in big small; do
  rm "$work/$size/pictures/quilt.bmp"
  for side in tool floor base; do ln "$work/$size/pictures/"* "$work/$size/$side/"; done
done
echo "== $runs rounds; $sizes"

"$python" - "$exe" "$work" "$runs" "$baseline" "${floors[@]}" <<'PY'
import os, statistics, subprocess, sys, time
exe, work, runs, baseline = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
floors = sys.argv[5:]
pin = ("taskset", "-c", "0")
tool = (exe + "/dwt97",)

# A row: its figure, the picture's samples, its goal and its two sides, each
# a name for the memory table, the folder it runs in and its command.
rows = []
for label, prefix in (("both cores", ()), ("one core", pin)):
    for figure, samples, goal, args, floor, floor_args in (
            ("8192² bitmap", 8192 * 8192, ("≤ 1.05", "—"), (), "dwt97_io_floor", ()),
            ("4096² PNG", 4096 * 4096, ("≤ 1.05", "—"), ("--no-pause", "quilt.png", "bands.pgm"),
             "dwt97_png_decode", ("quilt.png",)),
            ("4096² JPEG", 4096 * 4096, ("≤ 1.05", "—"),
             ("--no-pause", "quilt.jpg", "bands.pgm"), "dwt97_jpeg_decode", ("quilt.jpg",))):
        if floor != "dwt97_io_floor" and floor not in floors:
            continue
        ours = ("`dwt97`", "tool", prefix + tool + args)
        rows.append(dict(figure="%s, %s" % (figure, label), samples=samples,
                         goal=goal[1 if prefix else 0],
                         sides=(ours, ("`%s`" % floor, "floor",
                                       prefix + (exe + "/" + floor,) + floor_args))))
        if prefix and baseline:
            rows.append(dict(figure="%s, one core, against BASELINE's `dwt97`" % figure,
                             samples=samples, goal="≤ 1.00",
                             sides=(ours, ("BASELINE's `dwt97`", "base",
                                           prefix + (baseline + "/dwt97",) + args))))


def run(side, size, memory=False):
    """Runs side's command in its folder of `size` and returns its seconds;
    with `memory`, under GNU time instead, and returns its peak resident KiB
    (a process's own peak includes that of the process it was forked from
    until it runs the command, so this one's would hold the interpreter's)."""
    _, folder, command = side
    report = "%s/peak" % work
    # The decoders alone write nothing, so the previous round's sub-bands
    # go first, untimed: replacing them would add the system's release of
    # their cached pages (some 14 ms for 16 MiB here) to the tool's side.
    # Both sides of the bitmap row replace their output, as runs do.
    if "bands.pgm" in command:
        try:
            os.unlink("%s/%s/%s/bands.pgm" % (work, size, folder))
        except FileNotFoundError:
            pass
    start = time.perf_counter()
    subprocess.run(("/usr/bin/time", "-f", "%M", "-o", report) + command if memory else command,
                   cwd="%s/%s/%s" % (work, size, folder), check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    if not memory:
        return seconds
    with open(report) as peak:
        return int(peak.read().split()[-1])


# The 16 x 16 runs: each command's check and, with GNU time, its memory
# baseline (the median of three).
try:
    measure_memory = subprocess.run(("/usr/bin/time", "-f", "%M", "-o", "/dev/null", "true"),
                                    stderr=subprocess.DEVNULL).returncode == 0
except OSError:
    measure_memory = False
if not measure_memory:
    print("left out: memory (no GNU time at /usr/bin/time)")
small = {}
for row in list(rows):
    try:
        for side in row["sides"]:
            if side not in small:
                run(side, "small")
                small[side] = statistics.median(
                    run(side, "small", True) for _ in range(3)) if measure_memory else 0
    except subprocess.CalledProcessError as failure:
        print("left out: %s (%s failed on a 16 x 16 picture)" % (row["figure"], failure.cmd))
        rows.remove(row)

# The Python row, optional: forward() against the library's own call.
python = None
try:
    import numpy as np
    import dwt97
    from dwt97 import _dwt97
    picture = np.random.default_rng(97).integers(0, 256, (2048, 2048), dtype=np.uint8)
    dwt97.forward(picture)
    _dwt97._time_forward(picture, 0, 1)
    python = dict(forward=[], library=[])
except Exception as failure:  # whatever fails, only this row is left out
    print("left out: Python dwt97.forward (%s: %s)" % (type(failure).__name__, failure))

# The rounds: every distinct command once a round, in turn, then five pairs
# of the Python calls (one takes a few milliseconds).
sides = list(dict.fromkeys(side for row in rows for side in row["sides"]))
times = {side: [] for side in sides}
for counted in [False] + [True] * runs:  # the first round warms the caches
    for side in sides:
        seconds = run(side, "big")
        if counted:
            times[side].append(seconds)
    for _ in range(5 if python is not None else 0):
        start = time.perf_counter()
        dwt97.forward(picture)
        seconds = time.perf_counter() - start
        library = _dwt97._time_forward(picture, 0, 1)
        if counted:
            python["forward"].append(seconds)
            python["library"].append(library)


def ms(values):
    return statistics.median(values) * 1000


print()
print("| figure | dwt97 ms | floor ms | ratio | goal |")
print("|---|---|---|---|---|")
for row in rows:
    first, second = (ms(times[side]) for side in row["sides"])
    print("| %s | %.1f | %.1f | %.2f | %s |" % (row["figure"], first, second, first / second,
                                                 row["goal"]))
if python is not None:
    first, second = ms(python["forward"]), ms(python["library"])
    print("| 2048² `dwt97.forward`, every core, against the library's call | %.2f | %.2f | %.2f "
          "| ≤ 1.05 |" % (first, second, first / second))

# Memory, after the rounds: each distinct whole run once, under GNU time. A
# pinned run takes what the same run on both cores takes, so of the pinned
# ones only BASELINE's (run pinned alone) is shown.
if not measure_memory:
    sys.exit(0)
print()
print("| whole run | peak KiB | 16² run KiB | bytes a sample, less the 16² run | goal |")
print("|---|---|---|---|---|")
shown = set()
for row in rows:
    for side in row["sides"]:
        name, folder, command = side
        if side in shown or (command[:3] == pin and folder != "base"):
            continue
        shown.add(side)
        figure = row["figure"].split(",")[0]
        peak = run(side, "big", True)
        extra = (peak - small[side]) * 1024 / row["samples"]
        goal = "≤ 1.10" if folder == "tool" else "—"
        print("| %s, %s | %d | %d | %.3f | %s |" % (figure, name, peak, small[side], extra,
                                                   goal))
PY
