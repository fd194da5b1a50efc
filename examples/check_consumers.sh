#!/usr/bin/env bash
# Proves that others can use the library: installs it into temporary prefixes
# (static, then shared), checks that the installed libraries export nothing
# outside the library's prefixes and namespace, and builds and runs the
# example consumer through find_package, through pkg-config and as a
# subproject; all must print the same checksum. The batch example
# transform_many, built each way too, must refuse a bad file by its message
# and go on to transform the good one. With a sample picture given
# and run as root, also builds the Debian package, installs it with apt-get,
# runs the installed tool on the sample and removes the package again.
#   examples/check_consumers.sh [SAMPLE.bmp REFERENCE-OUTPUT]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sample=${1:-}
reference=${2:-}

# A 4 x 2 bitmap (no colour table) and the same with its type mark swapped.
printf 'BM\x3e\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x04\0\0\0\x02\0\0\0\x01\0\x08\0%b%b' \
  '\0\0\0\0\x08\0\0\0' '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x10\x20\x30\x40\x50\x60\x70\x80' \
  >"$work/good.bmp"
{ printf 'MB'; tail -c +3 "$work/good.bmp"; } >"$work/bad.bmp"

# Runs the batch example on a good file between a bad and a missing one: the
# two are reported by their messages, the good one transformed, status 1.
run_batch() {  # label, program
  local output status=0
  output=$("$2" "$work/bad.bmp" "$work/good.bmp" "$work/missing.bmp") || status=$?
  if [ "$status" != 1 ] ||
    ! grep -qxF "$work/bad.bmp: Error: bmpLoad(), Header check failed: bmp->signature == 0x4D42" <<<"$output" ||
    ! grep -qxF "$work/missing.bmp: Error: bmpLoad(), File open fail!" <<<"$output" ||
    ! grep -qx "$work/good.bmp: 4 x 2, checksum [0-9a-f]\{8\}" <<<"$output"; then
    echo "the batch example ($1) did not go on past the bad files (status $status):" >&2
    echo "$output" >&2
    return 1
  fi
  echo "  $1: transform_many refused the bad files and transformed the good one"
}

sums=()
run_consumer() {  # label, command...
  local label=$1
  shift
  local line
  line=$("$@")
  echo "  $label: $line"
  sums+=("${line##* }")
}

# Every external symbol a dwt97 library defines: the operations' prefixes,
# the dwt97 namespace, and the six filters and two helpers named as they are.
check_symbols() {
  local library=$1 bad
  bad=$(nm -C --defined-only --extern-only "$library" 2>/dev/null | awk 'NF >= 3 {
      $1 = ""; $2 = ""; sub(/^ +/, ""); print }' |
    grep -Ev '^(bmp|dwt|dwt97::|DW\.ref\.__gxx_personality)' |
    grep -Ev '^(analysisLow|analysisHigh|synthesisEvenLow|synthesisEvenHigh|synthesisOddLow|synthesisOddHigh)$' |
    grep -Ev '^(mirrorIndex|toSaturatedByte)\(' || true)
  if [ -n "$bad" ]; then
    echo "symbols outside the library's names in $library:" >&2
    echo "$bad" >&2
    return 1
  fi
  echo "  symbols of $(basename "$library"): all prefixed"
}

for kind in static shared; do
  shared=OFF
  [ "$kind" = shared ] && shared=ON
  echo "== $kind library"
  cmake -S . -B "$work/build-$kind" -DBUILD_SHARED_LIBS=$shared -DDWT97_BUILD_TESTS=OFF \
    -DDWT97_BUILD_EXTRAS=OFF >/dev/null
  cmake --build "$work/build-$kind" -j2 >/dev/null
  cmake --install "$work/build-$kind" --prefix "$work/prefix-$kind" >/dev/null
  prefix=$work/prefix-$kind
  libdir=$(dirname "$(find "$prefix" -name dwt97.pc)")/..
  for library in "$libdir"/libdwt97.*; do
    [ -L "$library" ] || check_symbols "$library"
  done

  cmake -S examples/consumer -B "$work/consumer-$kind" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/consumer-$kind" >/dev/null
  run_consumer "find_package" "$work/consumer-$kind/consumer"
  run_batch "find_package" "$work/consumer-$kind/transform_many"

  static_flag=
  [ "$kind" = static ] && static_flag=--static
  # shellcheck disable=SC2046
  g++ -std=c++17 -o "$work/pkgconfig-$kind" examples/consumer/main.cpp \
    $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config $static_flag --cflags --libs dwt97)
  run_consumer "pkg-config" env LD_LIBRARY_PATH="$libdir" "$work/pkgconfig-$kind"
  run_consumer "installed tool --version" "$prefix/bin/dwt97" --version
  sums=("${sums[@]:0:${#sums[@]}-1}")  # (a version, not a checksum)
done

echo "== subproject"
cmake -S examples/consumer -B "$work/subproject" -DDWT97_SOURCE_DIR="$root" >/dev/null
cmake --build "$work/subproject" -j2 >/dev/null
run_consumer "add_subdirectory" "$work/subproject/consumer"
run_batch "add_subdirectory" "$work/subproject/transform_many"

first=${sums[0]}
for sum in "${sums[@]}"; do
  if [ "$sum" != "$first" ]; then
    echo "the consumers disagree: ${sums[*]}" >&2
    exit 1
  fi
done
echo "  every consumer printed checksum $first"

if [ -n "$sample" ] && [ "$(id -u)" = 0 ]; then
  echo "== Debian package"
  (cd "$work/build-static" && cpack -G DEB >/dev/null)
  deb=$(ls "$work"/build-static/dwt97_*.deb)
  apt-get install -y -qq "$deb" >/dev/null
  mkdir "$work/run"
  cp "$sample" "$work/run/quilgray.bmp"
  (cd "$work/run" && /usr/bin/dwt97 </dev/null >/dev/null)
  cmp "$work/run/quilout.dat" "$reference"
  echo "  $(basename "$deb") installs; its dwt97 writes the same bytes"
  apt-get remove -y -qq dwt97 >/dev/null
fi
echo "consumers: all passed"
