#!/usr/bin/env bash
# Measures what the README's performance table records, on one thread:
#   1. the 2-D transforms, fast and plain, for 512, 2048 and 8192 square planes
#      (dwt97_bench; items per second are samples per second);
#   2. whole runs of dwt97 and of dwt97_plain (the same run with the plain
#      passes) on an 8192 x 8192 picture, standard input not a terminal: time
#      (hyperfine) and peak resident memory (GNU time).
# Needs cmake, g++, libbenchmark-dev, hyperfine and /usr/bin/time. Takes about
# two minutes, most of it in the plain passes.
#
#   bench/measure.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target dwt97 dwt97_plain dwt97_bench make_sample >/dev/null

echo "== Passes (one thread)"
"$build/dwt97_bench" --benchmark_filter='2d' --benchmark_min_time=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/fast" "$work/plain"
"$build/make_sample" "$work/fast/quilgray.bmp" 8192 8192
cp "$work/fast/quilgray.bmp" "$work/plain/"
exe=$(cd "$build" && pwd)

echo "== Whole run, 8192 x 8192 picture ($(stat -c %s "$work/fast/quilgray.bmp") bytes)"
(cd "$work/fast" && hyperfine --warmup 2 --runs 20 "$exe/dwt97 </dev/null >/dev/null")
(cd "$work/plain" && hyperfine --warmup 1 --runs 3 "$exe/dwt97_plain </dev/null >/dev/null")
cmp "$work/fast/quilout.dat" "$work/plain/quilout.dat" && echo "outputs identical"

echo "== Peak resident memory (KiB); picture bytes: $((8192 * 8192 / 1024)) KiB"
for program in dwt97 dwt97_plain; do
  dir=$work/fast
  [ "$program" = dwt97_plain ] && dir=$work/plain
  (cd "$dir" && /usr/bin/time -f "$program: %M KiB, %e s" "$exe/$program" </dev/null >/dev/null)
done
