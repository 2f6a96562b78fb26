#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds Corvella with AddressSanitizer and
# UndefinedBehaviorSanitizer, warnings as errors, runs every test, and proves that the fuzz
# targets compile with clang (they are not run here: fuzz/run.sh SECONDS does that).
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

PACKAGES=(cmake g++ make pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
          python3-mutagen ffmpeg eyed3 kid3-cli lame flac clang libclang-rt-14-dev)
BUILD=build/test

install_missing() {
  local missing=() p
  for p in "$@"; do
    if [[ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null)" != ii* ]]; then missing+=("$p"); fi
  done
  if ((${#missing[@]} == 0)); then
    echo "== packages: all installed"
    return
  fi
  local sudo=()
  if ((EUID != 0)); then sudo=(sudo); fi
  echo "== installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

install_missing "${PACKAGES[@]}"

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
