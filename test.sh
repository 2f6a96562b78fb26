#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds Corvella with AddressSanitizer and
# UndefinedBehaviorSanitizer, warnings as errors, runs every test, and proves that the fuzz
# targets compile with clang (they are not run here: fuzz/run.sh SECONDS does that).
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

source scripts/packages.sh
BUILD=build/test

install_missing "${CORVELLA_PACKAGES[@]}" "${CORVELLA_TEST_PACKAGES[@]}"

echo "== configuring $BUILD (Debug, sanitizers, warnings as errors)"
cmake -S . -B "$BUILD" -DCORVELLA_SANITIZE=ON -DCORVELLA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug

echo "== building $BUILD"
cmake --build "$BUILD" -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== running the tests"
status=0
ctest --test-dir "$BUILD" --output-on-failure --timeout 300 -j"$(nproc)" || status=1

echo "== building the fuzz targets (clang)"
fuzz/run.sh --build-only || status=1

if ((status != 0)); then
  echo "== FAILED"
  exit 1
fi
echo "== all passed"
