#!/usr/bin/env bash
# Times `corvella-tags show --json -r` over a folder of COUNT files made by copying the MP3
# fixtures, and prints files per second. Not a test: nothing here passes or fails.
#   bench/show_folder.sh [COUNT] [corvella-tags binary]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-3000}
tool=${2:-$here/build/release/cli/corvella-tags}
[ -x "$tool" ] || { echo "build it first (./run.sh builds build/release/cli/corvella-tags), or name the binary" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work" "$work.out"' EXIT
mapfile -t sources < <(ls "$here"/tests/data/mp3/*.mp3)
for ((i = 0; i < count; i++)); do
  sub=$work/$((i / 500))
  mkdir -p "$sub"
  cp "${sources[i % ${#sources[@]}]}" "$sub/file$i.mp3"
done
sync
start=$(date +%s.%N)
"$tool" show --json -r "$work" > "$work.out" || true
end=$(date +%s.%N)
lines=$(wc -l < "$work.out")
awk -v n="$lines" -v s="$start" -v e="$end" 'BEGIN { t = e - s; printf "%d files in %.2f s: %.0f files/s\n", n, t, n / t }'
