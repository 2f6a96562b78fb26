#!/usr/bin/env bash
# How many bytes `corvella-tags set FILE Title=...` writes into a large FLAC or M4A file: with
# room in the padding only the metadata should be written (a few KiB), not the audio. Not a
# test: nothing here passes or fails; it prints figures.
#
#   bench/title_write.sh [--format flac|m4a] [--size-mb N] [--padding BYTES] [--build DIR]
#
#   --format F       flac (default): two channels of white noise, which FLAC cannot shrink
#                    much, tagged (with mutagen) with the Vorbis comments and the picture of
#                    tests/data/flac/vorbiscomment.flac and a PADDING block of BYTES;
#                    m4a: the same noise in ALAC (moov before the media), tagged (with mutagen)
#                    with the items and the picture of tests/data/m4a/aac-moov-start.m4a and a
#                    "free" atom of BYTES after the item list
#   --size-mb N      size of the file made here (default 100)
#   --padding BYTES  the padding the file gets (default 8192)
#   --build DIR      a Release build folder (default build/release; configured and built here
#                    when needed: corvella-tags)
#
# Each save runs under strace -f -y; the figures are the bytes that write, pwrite64, writev and
# pwritev returned, by the file they went to (the audio file, its backup, a temporary file, the
# terminal), and the bytes copied inside the kernel (copy_file_range, sendfile, FICLONE), which
# is how the backup is made; and the peak memory of the same save on a copy, under
# /usr/bin/time. Two saves: a title that fits the padding, then one of 3 times the padding,
# which does not and so rebuilds the file. Needs ffmpeg, strace, metaflac (flac) for FLAC and
# mutagen for /usr/bin/python3.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

format=flac size_mb=100 padding=8192 build=$here/build/release
usage() { echo "title_write.sh: $1 (see --help)" >&2; exit 2; }
while (($#)); do
  case $1 in
    --format | --size-mb | --padding | --build) (($# >= 2)) || usage "$1 needs a value" ;;&
    --format) format=$2; shift 2 ;;
    --size-mb) size_mb=$2; shift 2 ;;
    --padding) padding=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) usage "unknown argument '$1'" ;;
  esac
done
for n in "$size_mb" "$padding"; do
  [[ $n =~ ^[0-9]+$ ]] || usage "'$n' is not a number"
done
((size_mb > 0 && padding > 0)) || usage "--size-mb and --padding must be above 0"
[[ $format == flac || $format == m4a ]] || usage "--format is flac or m4a"
programs=(ffmpeg strace /usr/bin/python3 /usr/bin/time)
[ "$format" = flac ] && programs+=(metaflac)
for program in "${programs[@]}"; do
  command -v "$program" > /dev/null || { echo "title_write.sh: $program is not installed" >&2; exit 2; }
done

# ---- the Release build
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "== configuring $build (Release)" >&2
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVELLA_TESTS=OFF >&2
fi
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[ "$type" = Release ] || { echo "title_write.sh: $build is a '$type' build; figures want Release" >&2; exit 2; }
echo "== building corvella-tags in $build" >&2
cmake --build "$build" --target corvella-tags -j"$(nproc)" > /dev/null
tool=$build/cli/corvella-tags

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/large.$format

# ---- the file
# White noise at half scale costs FLAC and ALAC about 15 of its 16 bits: some 165 KB a second.
seconds=$((size_mb * 1024 * 1024 / 165000 + 1))
echo "== making a $size_mb MB $format file ($seconds s of noise) in $work" >&2
codec=(-c:a flac -sample_fmt s16)
[ "$format" = m4a ] && codec=(-c:a alac -sample_fmt s16p -movflags +faststart)
ffmpeg -nostdin -v error -f lavfi -i "anoisesrc=d=$seconds:c=white:r=44100:a=0.5:seed=1" \
  -f lavfi -i "anoisesrc=d=$seconds:c=white:r=44100:a=0.5:seed=2" \
  -filter_complex '[0:a][1:a]amerge=inputs=2' "${codec[@]}" "$file"
if [ "$format" = flac ]; then
  # The fixture's comments (multi-line lyrics among them, which metaflac's tag export cannot
  # carry) and picture, and exactly the padding asked for, through mutagen.
  /usr/bin/python3 - "$here/tests/data/flac/vorbiscomment.flac" "$file" "$padding" << 'EOF'
import sys
from mutagen.flac import FLAC
source, target, padding = FLAC(sys.argv[1]), FLAC(sys.argv[2]), int(sys.argv[3])
if target.tags is None:
    target.add_tags()
del target.tags[:]
target.tags.extend(source.tags)
target.tags.vendor = source.tags.vendor
target.clear_pictures()
for picture in source.pictures:
    target.add_picture(picture)
target.save(padding=lambda info: padding)
EOF
else
  # The fixture's items and picture; mutagen puts the padding asked for in a "free" atom.
  /usr/bin/python3 - "$here/tests/data/m4a/aac-moov-start.m4a" "$file" "$padding" << 'EOF'
import sys
from mutagen.mp4 import MP4
source, target, padding = MP4(sys.argv[1]), MP4(sys.argv[2]), int(sys.argv[3])
if target.tags is None:
    target.add_tags()
target.tags.clear()
target.tags.update(source.tags)
target.save(padding=lambda info: padding)
EOF
fi

# Sums the bytes of the writes and in-kernel copies in strace -f -y log $1 whose file is not
# the program's own (shared libraries and the like are only read), by file: the file itself,
# its backup (also under its temporary name), a temporary file beside it (a rebuilt file before
# it is renamed over the original), standard output or error, anything else.
sum_writes() {
  /usr/bin/python3 - "$1" "$2" << 'EOF'
import collections, os, re, sys

log, target = sys.argv[1], sys.argv[2]
folder, base = os.path.split(target)
call = re.compile(r"^(?:\[pid\s+)?(\d+)\]?\s+(\w+)\((.*)")
done = re.compile(r"=\s+(-?\d+)(?:\s.*)?$")
resumed = re.compile(r"^(?:\[pid\s+)?(\d+)\]?\s+<\.\.\. (\w+) resumed>(.*)")
fd_path = re.compile(r"(\d+)<([^>]*)>")
writes = {"write", "pwrite64", "writev", "pwritev", "pwritev2"}
copies = {"copy_file_range", "sendfile", "sendfile64", "splice"}


def kind_of(path):
    if path == target:
        return "the audio file"
    if path == target + ".qln_bak" or os.path.basename(path).startswith("." + base + ".qln_bak."):
        return "its backup"
    if os.path.dirname(path) == folder:
        return "a temporary file beside it"
    if path.startswith("/dev/") or path.startswith("pipe:"):
        return "standard output/error"
    return "elsewhere (%s)" % path


def target_path(name, args):
    paths = fd_path.findall(args)
    if not paths:
        return "unknown"
    # copy_file_range(in, off, out, ...) and sendfile(out, in, ...): the file written to.
    if name == "copy_file_range" and len(paths) >= 2:
        return paths[1][1]
    return paths[0][1]


by_file = collections.Counter()
kernel = collections.Counter()
clones = []
renames = []
pending = {}
for line in open(log, encoding="utf-8", errors="replace"):
    line = line.rstrip("\n")
    m = resumed.match(line)
    if m:
        pid, name, rest = m.groups()
        start = pending.pop(pid, None)
        if start is None:
            continue
        args = start + rest
    else:
        m = call.match(line)
        if not m:
            continue
        pid, name, args = m.groups()
        if args.endswith("<unfinished ...>"):
            pending[pid] = args[:-len("<unfinished ...>")]
            continue
    r = done.search(args)
    result = int(r.group(1)) if r else -1
    if name in writes and result > 0:
        by_file[kind_of(target_path(name, args))] += result
    elif name in copies and result > 0:
        kernel[kind_of(target_path(name, args))] += result
    elif name == "ioctl" and "FICLONE" in args:
        clones.append((kind_of(target_path(name, args)), result == 0))
    elif name.startswith("rename"):
        renames.append(args.split(")")[0])

total = sum(by_file.values())
print("    written by write/pwrite64/writev: %d bytes (%.1f KiB)" % (total, total / 1024))
for kind, n in sorted(by_file.items(), key=lambda kv: -kv[1]):
    print("      %-40s %12d bytes" % (kind, n))
copied = sum(kernel.values())
print("    copied in the kernel (copy_file_range/sendfile): %d bytes" % copied)
for kind, n in sorted(kernel.items(), key=lambda kv: -kv[1]):
    print("      %-40s %12d bytes" % (kind, n))
for kind, ok in clones:
    print("    FICLONE into %s: %s" % (kind, "done (blocks shared)" if ok else "refused by the file system"))
print("    renames: %s" % ("; ".join(renames) if renames else "none (written in place)"))
EOF
}

# Runs corvella-tags set FILE Title=$2 under strace and prints the figures, labelled $1; then
# the same save on a copy under /usr/bin/time for the peak memory.
measure() {
  local label=$1 title=$2 before after log=$work/strace.$RANDOM copy=$work/copy.$format peak
  cp "$file" "$copy"
  before=$(stat -c %s "$file")
  local start end
  start=$(date +%s.%N)
  strace -f -y -o "$log" \
    -e trace=write,pwrite64,writev,pwritev,pwritev2,copy_file_range,sendfile,splice,ioctl,rename,renameat,renameat2 \
    "$tool" set "$file" "Title=$title" > /dev/null
  end=$(date +%s.%N)
  after=$(stat -c %s "$file")
  peak=$(/usr/bin/time -f %M "$tool" set "$copy" "Title=$title" 2>&1 > /dev/null | tail -1)
  rm -f "$copy" "$copy.qln_bak"
  echo
  echo "$label (title of ${#title} characters):"
  awk -v b="$before" -v a="$after" -v s="$start" -v e="$end" \
    'BEGIN { printf "    file %d bytes before, %d after; %.2f s under strace\n", b, a, e - s }'
  echo "    peak memory of the save (maximum resident set): $peak KiB"
  sum_writes "$log" "$file"
  rm -f "$log"
}

size=$(stat -c %s "$file")
echo
echo "corvella-tags set FILE Title=... on a $format file of $size bytes ($((size / 1048576)) MiB) with" \
  "$padding bytes of padding; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$format" = flac ]; then
  echo "metadata blocks: $(metaflac --list "$file" | sed -n 's/^  type: [0-9]* (\([A-Z_]*\))$/\1/p' | paste -sd' ')"
else
  echo "top-level atoms: $(/usr/bin/python3 -c '
import struct, sys
f = open(sys.argv[1], "rb")
out = []
while True:
    h = f.read(8)
    if len(h) < 8:
        break
    size, kind = struct.unpack(">I4s", h)
    header = 8
    if size == 1:
        size, header = struct.unpack(">Q", f.read(8))[0], 16
    out.append("%s (%d)" % (kind.decode("latin-1"), size))
    if size < header:
        break
    f.seek(size - header, 1)
print(" ".join(out))' "$file")"
fi
measure "A title that fits the padding" "A new title for the large file – ♫"
long=$(head -c $((padding * 3)) /dev/zero | tr '\0' 'x')
measure "A title of 3 times the padding (the file is rebuilt)" "$long"
