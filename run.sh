#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds Corvella in Release and starts it.
# Arguments, when given, go to the program instead of its default ones.
set -euo pipefail
CALLER_DIR=$PWD
# Everything before the program starts goes to stderr, so the program's output can be piped.
exec 3>&1 1>&2
cd "$(dirname "${BASH_SOURCE[0]}")"
ROOT=$PWD

# The program to start: CMake target, path inside the build folder, default arguments.
PROGRAM=(corvella-tags cli/corvella-tags --help)

PACKAGES=(cmake g++ make pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools)
BUILD=build/release

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

echo "== configuring $BUILD (Release)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVELLA_TESTS=OFF

echo "== building ${PROGRAM[0]}"
cmake --build "$BUILD" --target "${PROGRAM[0]}" -j"$(nproc)"

args=("${PROGRAM[@]:2}")
if (($# > 0)); then args=("$@"); fi
echo "== starting $BUILD/${PROGRAM[1]} ${args[*]}"
# Back where the caller stands, so that relative paths in the arguments mean what they say.
cd "$CALLER_DIR"
exec "$ROOT/$BUILD/${PROGRAM[1]}" "${args[@]}" 1>&3 3>&-
