#!/usr/bin/env bash
# fuzz/run.sh SECONDS: builds the libFuzzer targets with clang in build/fuzz (configured when
# absent) and runs each fuzz/fuzz_<name>.cpp target for SECONDS, seeded with tests/data, the
# target's byte-built seeds in fuzz/seeds/<name>/ (when there are some) and the past crashes in
# fuzz/crashes/<name>/. New interesting inputs go to fuzz/corpus-<name>/ (not
# tracked); an input that fails is written to fuzz/crashes/<name>/, where the replay test under
# ctest keeps running it once it is committed. Exit status 1 when any target found a failure.
# fuzz/run.sh --build-only: only builds the targets (./test.sh uses it).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() {
  echo "usage: fuzz/run.sh SECONDS | --build-only" >&2
  exit 2
}
(($# == 1)) || usage
if [[ "$1" == --build-only ]]; then
  seconds=0
elif [[ "$1" =~ ^[0-9]+$ ]] && (($1 > 0)); then
  seconds=$1
else
  usage
fi

BUILD=build/fuzz
if [[ ! -f "$BUILD/CMakeCache.txt" ]]; then
  echo "== configuring $BUILD (clang, libFuzzer)"
  cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCORVELLA_FUZZ=ON -DCORVELLA_WITH_QT=OFF
fi
echo "== building the fuzz targets in $BUILD"
cmake --build "$BUILD" --target corvella_fuzzers -j"$(nproc)"

((seconds > 0)) || exit 0

status=0
for src in fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  mkdir -p "fuzz/corpus-$name" "fuzz/crashes/$name"
  seeds=(tests/data)
  [[ -d "fuzz/seeds/$name" ]] && seeds+=("fuzz/seeds/$name")
  echo "== fuzzing $name for $seconds s"
  if ! "$BUILD/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="fuzz/crashes/$name/" "fuzz/corpus-$name" "fuzz/crashes/$name" "${seeds[@]}"; then
    echo "== $name FAILED: the input is in fuzz/crashes/$name/"
    status=1
  fi
done
exit $status
