#!/usr/bin/env bash
# Measures what the README's performance section records:
#   1. the 2-D transforms, fast and plain, for 512, 2048 and 8192 square planes,
#      the fused in-place transform on one thread and on all, and the inverse
#      pair likewise (dwt97_bench; items per second are samples per second);
#   2. whole runs of dwt97 on an 8192 x 8192 picture against the I/O floor
#      (dwt97_io_floor: the same reads, write and rename, no transform), side
#      by side, on both cores and pinned to one (taskset -c 0), standard input
#      not a terminal (hyperfine);
#   3. dwt97_plain (the same run with the plain passes), and a check that it
#      writes the same bytes;
#   4. peak resident memory of each (GNU time).
# Needs cmake, g++, libbenchmark-dev, hyperfine, taskset, python3 and /usr/bin/time.
# Takes about three minutes, most of it in the plain passes.
#
#   bench/measure.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target dwt97 dwt97_plain dwt97_io_floor dwt97_bench make_sample \
  >/dev/null

echo "== Passes"
"$build/dwt97_bench" --benchmark_filter='2d' --benchmark_min_time=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/fast" "$work/floor" "$work/plain"
"$build/make_sample" "$work/fast/quilgray.bmp" 8192 8192
cp "$work/fast/quilgray.bmp" "$work/floor/"
cp "$work/fast/quilgray.bmp" "$work/plain/"
exe=$(cd "$build" && pwd)
picture=$(stat -c %s "$work/fast/quilgray.bmp")

# Medians and their ratio from hyperfine's JSON export (the means of a shared
# machine swing with its other work).
medians() {
  python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))["results"]
m = {x["command"]: x["median"] * 1000 for x in r}
print("medians: dwt97 %.1f ms, dwt97_io_floor %.1f ms, ratio %.2f"
      % (m["dwt97"], m["dwt97_io_floor"], m["dwt97"] / m["dwt97_io_floor"]))' "$1"
}

echo "== Whole run against the I/O floor, 8192 x 8192 picture ($picture bytes), both cores"
hyperfine --warmup 3 --runs 40 --export-json "$work/both.json" \
  -n dwt97 "cd $work/fast && $exe/dwt97 </dev/null >/dev/null" \
  -n dwt97_io_floor "cd $work/floor && $exe/dwt97_io_floor"
medians "$work/both.json"

echo "== The same, pinned to one core (taskset -c 0)"
hyperfine --warmup 3 --runs 40 --export-json "$work/one.json" \
  -n dwt97 "cd $work/fast && taskset -c 0 $exe/dwt97 </dev/null >/dev/null" \
  -n dwt97_io_floor "cd $work/floor && taskset -c 0 $exe/dwt97_io_floor"
medians "$work/one.json"

echo "== The plain passes"
(cd "$work/plain" && hyperfine --warmup 1 --runs 3 "$exe/dwt97_plain </dev/null >/dev/null")
cmp "$work/fast/quilout.dat" "$work/plain/quilout.dat" && echo "outputs identical"

echo "== Peak resident memory (KiB); picture bytes: $((8192 * 8192 / 1024)) KiB"
for program in dwt97 dwt97_io_floor dwt97_plain; do
  case $program in
    dwt97) dir=$work/fast ;;
    dwt97_io_floor) dir=$work/floor ;;
    *) dir=$work/plain ;;
  esac
  (cd "$dir" && /usr/bin/time -v "$exe/$program" </dev/null 2>&1 >/dev/null |
    sed -n "s/^[[:space:]]*Maximum resident set size (kbytes): /$program: /p")
done
