#!/usr/bin/env bash
# Times `corvella-tags show --json -r` over made-up folders, serial (-j 1) and on every core
# (-j 0), against an I/O floor: corvella-bench-io-floor walks the same folder and only opens each
# file, reads its first 64 KiB and last 8 KiB and closes it. Not a test: nothing here passes or
# fails; it prints figures.
#
#   bench/read_folder.sh [COUNT] [--covers N] [--formats N] [--runs N] [--build DIR]
#
#   COUNT       files in the mixed folder: copies of every fixture under tests/data whose
#               name show -r lists (.opus and .oga copied as .ogg), in folders of 500
#               (default 3000)
#   --covers N  also a folder of N MP3s that each carry a 210 KiB cover picture, made here
#               (random bytes behind a JPEG header) and stored with corvella-tags set --cover
#               (default 500; 0 leaves it out)
#   --formats N also a folder of N copies of the FLAC, Ogg Vorbis, Opus and Ogg FLAC fixtures
#               (flac-ogg), one of N copies of the M4A fixtures (m4a), one of N copies of the
#               WavPack and Musepack fixtures that carry an APEv2 tag (ape), one of N copies
#               of the WAV and RF64 fixtures (wav), one of N copies of the WMA fixtures (wma)
#               and one of N copies of the MP3 fixtures (mp3), to compare the files per
#               second of the kinds
#               (default 0: left out)
#   --runs N    timed runs of each command; the median is printed (default 5)
#   --build DIR a Release build folder (default build/release; configured and built here when
#               needed: corvella-tags and corvella-bench-io-floor)
#
# The folders are written just before the timings, so they are read from the page cache: the
# figures are for warm files, the case of a folder looked at twice. With strace installed, the
# system calls per file are counted by kind (one run under strace -c -f each).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

count=3000 covers=500 formats=0 runs=5 build=$here/build/release
usage() { echo "read_folder.sh: $1 (see --help)" >&2; exit 2; }
while (($#)); do
  case $1 in
    --covers | --formats | --runs | --build) (($# >= 2)) || usage "$1 needs a value" ;;&
    --covers) covers=$2; shift 2 ;;
    --formats) formats=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    [0-9]*) count=$1; shift ;;
    *) usage "unknown argument '$1'" ;;
  esac
done
for n in "$count" "$covers" "$formats" "$runs"; do
  [[ $n =~ ^[0-9]+$ ]] || usage "'$n' is not a number"
done
((count > 0 && runs > 0)) || usage "COUNT and --runs must be above 0"

# ---- the Release build
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "== configuring $build (Release)" >&2
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVELLA_TESTS=OFF -DCORVELLA_BENCH=ON >&2
fi
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[ "$type" = Release ] || { echo "read_folder.sh: $build is a '$type' build; timings want Release" >&2; exit 2; }
if ! grep -q '^CORVELLA_BENCH:BOOL=ON' "$build/CMakeCache.txt"; then
  cmake -S "$here" -B "$build" -DCORVELLA_BENCH=ON >/dev/null
fi
echo "== building corvella-tags and corvella-bench-io-floor in $build" >&2
cmake --build "$build" --target corvella-tags corvella-bench-io-floor -j"$(nproc)" >/dev/null
tool=$build/cli/corvella-tags
floor=$build/bench/corvella-bench-io-floor

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- the folders
# Every fixture show -r lists; Ogg Opus and Ogg FLAC fixtures keep their content as .ogg.
sources=() names=()
while IFS= read -r f; do
  ext=${f##*.}
  case ${ext,,} in
    mp3 | flac | ogg | ape | wv | mpc | m4a | m4b | mp4 | wma | wav | aif | aiff | dsf | dff) ;;
    opus | oga) ext=ogg ;;
    *) continue ;;
  esac
  sources+=("$f")
  names+=("$(basename "${f%.*}").$ext")
done < <(find "$here/tests/data" -mindepth 2 -type f -not -path '*/images/*' | LC_ALL=C sort)
((${#sources[@]})) || { echo "read_folder.sh: no fixtures under tests/data" >&2; exit 1; }

# Copies N files into the folder $work/NAME, in sub-folders of 500, taking the sources whose
# indexes follow in turn:  make_copies NAME N INDEX...
make_copies() {
  local dir=$work/$1 n=$2 i k sub
  shift 2
  local picks=("$@")
  ((${#picks[@]})) || { echo "read_folder.sh: no fixtures for $dir" >&2; exit 1; }
  echo "== making $n files in $dir" >&2
  for ((i = 0; i < n; i++)); do
    k=${picks[i % ${#picks[@]}]}
    sub=$dir/$((i / 500))
    [ -d "$sub" ] || mkdir -p "$sub"
    cp "${sources[k]}" "$sub/$i-${names[k]}"
  done
}
# The indexes of the sources in the fixture folders named (tests/data/NAME/).
# (With APETAGEX as the first argument, only those whose bytes hold an APEv2 footer.)
sources_in() {
  local k folder magic=
  [[ ${1-} == APETAGEX ]] && { magic=$1; shift; }
  for k in "${!sources[@]}"; do
    for folder in "$@"; do
      [[ ${sources[k]} == "$here/tests/data/$folder/"* ]] || continue
      [[ -z $magic ]] || LC_ALL=C grep -qa "$magic" "${sources[k]}" || continue
      echo "$k"
    done
  done
}

make_copies mixed "$count" "${!sources[@]}"
folders=(mixed)
if ((formats > 0)); then
  mapfile -t picks < <(sources_in flac ogg opus oga)
  make_copies flac-ogg "$formats" "${picks[@]}"
  mapfile -t picks < <(sources_in m4a)
  make_copies m4a "$formats" "${picks[@]}"
  mapfile -t picks < <(sources_in APETAGEX wv mpc ape)
  make_copies ape "$formats" "${picks[@]}"
  mapfile -t picks < <(sources_in wav rf64)
  make_copies wav "$formats" "${picks[@]}"
  mapfile -t picks < <(sources_in wma)
  make_copies wma "$formats" "${picks[@]}"
  mapfile -t picks < <(sources_in mp3)
  make_copies mp3 "$formats" "${picks[@]}"
  folders+=(flac-ogg m4a ape wav wma mp3)
fi

if ((covers > 0)); then
  echo "== making $covers MP3s with a 210 KiB cover in $work/covers" >&2
  mkdir -p "$work/covers"
  picture=$work/cover.jpg
  { printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00'
    head -c $((210 * 1024 - 22)) /dev/urandom
    printf '\xff\xd9'; } > "$picture"
  base=$work/base.mp3
  cp "$here/tests/data/mp3/id3v23-latin1.mp3" "$base"
  "$tool" set "$base" --cover "$picture" Title="Cover bench"
  "$tool" show --json "$base" | grep -q "\"CoverSize\":$((210 * 1024))" ||
    { echo "read_folder.sh: the cover did not arrive in $base" >&2; exit 1; }
  for ((i = 0; i < covers; i++)); do
    sub=$work/covers/$((i / 500))
    [ -d "$sub" ] || mkdir -p "$sub"
    cp "$base" "$sub/$i.mp3"
  done
  folders+=(covers)
fi
sync

# ---- timing
# The median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
labels=("show --json -r -j 1" "show --json -r -j 0" "I/O floor -j 1" "I/O floor -j 0")
run_case() {
  case $1 in
    0) "$tool" show --json -r -j 1 "$2" ;;
    1) "$tool" show --json -r -j 0 "$2" ;;
    2) "$floor" -j 1 "$2" ;;
    3) "$floor" -j 0 "$2" ;;
  esac
}
# Times RUNS rounds of the four commands over folder $1, taking them in turn within each round
# so that a change in the machine's load touches all four alike; sets wall[c] and cpu[c] to the
# median wall-clock and user + system seconds of command c.
time_cases() {
  local r c TIMEFORMAT='%3R %3U %3S'
  rm -f "$work"/times.*
  for ((r = 0; r < runs; r++)); do
    for c in 0 1 2 3; do
      { time run_case "$c" "$1" > /dev/null 2>&1; } 2>> "$work/times.$c" || true
    done
  done
  for c in 0 1 2 3; do
    wall[c]=$(awk '{ print $1 }' "$work/times.$c" | median)
    cpu[c]=$(awk '{ print $2 + $3 }' "$work/times.$c" | median)
  done
}
# System calls per file by kind, from strace -c -f of one run.
syscalls_per_file() {
  local files=$1; shift
  strace -c -f -o "$work/strace.txt" "$@" > /dev/null 2>&1 || true
  awk -v n="$files" '
    /^-+/ || /^%/ || /total$/ { next }
    NF >= 5 {
      name = $NF; calls = $4
      if (name == "openat" || name == "open") k = "open"
      else if (name ~ /^(newfstatat|fstat|statx|stat|lstat|fstatat64)$/) k = "stat"
      else if (name == "lseek") k = "lseek"
      else if (name ~ /^(read|pread64|readv|preadv|preadv2)$/) k = "read"
      else if (name == "mmap" || name == "munmap") k = "mmap"
      else if (name == "close") k = "close"
      else k = "other"
      c[k] += calls; all += calls
    }
    END { printf "%8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f\n", c["open"] / n, c["stat"] / n, c["lseek"] / n,
                 c["read"] / n, c["close"] / n, c["mmap"] / n, c["other"] / n, all / n }' "$work/strace.txt"
}

cores=$(nproc)
echo
echo "corvella-tags show --json -r against the I/O floor; $cores cores, load average $(cut -d' ' -f1-3 /proc/loadavg);"
echo "median of $runs runs taken in turn; warm page cache; cpu s = user + system time of the process"
for name in "${folders[@]}"; do
  dir=$work/$name
  files=$(find "$dir" -type f | wc -l)
  size=$(du -sm "$dir" | cut -f1)
  # The two runs must print the same bytes; their line count is the number of files shown.
  "$tool" show --json -r -j 1 "$dir" > "$work/serial.json" 2> "$work/serial.err" || true
  "$tool" show --json -r -j 0 "$dir" > "$work/parallel.json" 2> "$work/parallel.err" || true
  cmp -s "$work/serial.json" "$work/parallel.json" && cmp -s "$work/serial.err" "$work/parallel.err" ||
    echo "  NOTE: -j 1 and -j 0 printed different output"
  shown=$(wc -l < "$work/serial.json")
  failed=$(grep -c '"ok":false' "$work/serial.json" || true)
  echo
  echo "$name: $files files, $size MB; shown $shown, failed to load $failed"
  time_cases "$dir"
  printf '  %-26s %9s %9s %9s %9s\n' "" seconds files/s "cpu s" "x floor"
  for c in 0 1 2 3; do
    awk -v l="${labels[c]}" -v t="${wall[c]}" -v u="${cpu[c]}" -v n="$files" -v f="${wall[c % 2 + 2]}" -v show=$((c < 2)) \
      'BEGIN { printf "  %-26s %9.3f %9.0f %9.3f", l, t, n / t, u; if (show) printf " %9.1f", t / f; printf "\n" }'
  done
  if command -v strace > /dev/null; then
    echo "  system calls per file (strace -c -f; stat = newfstatat/fstat/statx, read = read/pread64):"
    printf '  %-18s %8s %8s %8s %8s %8s %8s %8s %8s\n' "" openat stat lseek read close mmap other all
    printf '  %-18s %s\n' "show -j 1" "$(syscalls_per_file "$files" "$tool" show --json -r -j 1 "$dir")"
    printf '  %-18s %s\n' "show -j 0" "$(syscalls_per_file "$files" "$tool" show --json -r -j 0 "$dir")"
    printf '  %-18s %s\n' "I/O floor -j 1" "$(syscalls_per_file "$files" "$floor" -j 1 "$dir")"
  else
    echo "  system calls per file: skipped (strace is not installed)"
  fi
done
