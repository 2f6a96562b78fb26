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
PROGRAM=(corvella app/ui/corvella)

source scripts/packages.sh
BUILD=build/release

install_missing "${CORVELLA_PACKAGES[@]}"

echo "== configuring $BUILD (Release)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVELLA_TESTS=OFF

# corvella-tags as well, so that `cmake --install` finds everything it installs.
echo "== building ${PROGRAM[0]} and corvella-tags"
cmake --build "$BUILD" --target "${PROGRAM[0]}" corvella-tags -j"$(nproc)"

args=("${PROGRAM[@]:2}")
if (($# > 0)); then args=("$@"); fi
echo "== starting $BUILD/${PROGRAM[1]} ${args[*]}"
# Back where the caller stands, so that relative paths in the arguments mean what they say.
cd "$CALLER_DIR"
exec "$ROOT/$BUILD/${PROGRAM[1]}" "${args[@]}" 1>&3 3>&-
