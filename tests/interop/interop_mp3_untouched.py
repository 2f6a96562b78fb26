#!/usr/bin/python3
"""A title-only save changes nothing else, as independent readers see it.

For every MP3 fixture in tests/data/mp3 and for tags built byte by byte here in the forms other
programs write (a 2.3 tag holding 2.4 sort, date and mood frames beside its own year frames; a
rating frame with an eight-byte counter; two artist frames in two encodings; an ID3v2 comment
beside an ID3v1 record without one; a 2.4 tag with a frame unsynchronised by its own flag), on a
temporary copy, `corvella-tags set FILE Title=...` (the tag service) is run, and then:
  * mutagen (ID3v2 merged with ID3v1, as it reads by default) lists exactly the frames it listed
    before, with the same values and encodings, apart from the title;
  * every frame of the ID3v2 tag but the title is stored byte for byte as before, in the same
    order, and the tag keeps its version;
  * an ID3v1 record that was there holds the same bytes apart from its title;
  * ffmpeg decodes the same audio (md5).
A file without an ID3v2 tag gets one holding every value the file had (players that read ID3v2
alone would show nothing else), so for those mutagen must read the same values (not the same
frame keys) apart from the title.

Usage: interop_mp3_untouched.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen or ffmpeg is missing, 1 when any check failed.
Closes with the line "N passed, N failed".
"""

import os
import shutil
import struct
import sys
import tempfile

from interop_common import Checks, SKIP, audio_md5, run_tool, setup

NEW_TITLE = "Only the title – neu ♫"

# Fixtures whose tags are in a format the library does not write yet.
NOT_YET_SUPPORTED = {"apev2-id3v1.mp3": "its tag is APEv2, which the tag library does not handle yet"}


# Byte-built tags ----------------------------------------------------------------------------

def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(version, fid, data, flags=0):
    size = synchsafe(len(data)) if version == 4 else struct.pack(">I", len(data))
    return fid.encode("ascii") + size + struct.pack(">H", flags) + data


def tag(version, frames, padding=256):
    body = b"".join(frames) + b"\0" * padding
    return b"ID3" + bytes([version, 0, 0]) + synchsafe(len(body)) + body


def latin1(text):
    return b"\0" + text.encode("latin-1")


def utf16(*texts):
    return b"\1" + b"\0\0".join(b"\xff\xfe" + t.encode("utf-16-le") for t in texts) + b"\0\0"


def unsynchronise(data):
    out = bytearray()
    for i, b in enumerate(data):
        out.append(b)
        if b == 0xFF and (i + 1 == len(data) or data[i + 1] == 0 or data[i + 1] >= 0xE0):
            out.append(0)
    return bytes(out)


def id3v1(title, artist, album, year, comment, track, genre):
    def field(text, n):
        return text.encode("latin-1")[:n].ljust(n, b"\0")
    return (b"TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4) +
            field(comment, 28) + b"\0" + bytes([track, genre]))


def built_fixtures(audio):
    """(name, bytes) of the byte-built files, each an ID3v2 tag, the audio and maybe ID3v1."""
    odd_artist = latin1("Artist \xff\xe0 with bytes that look like a frame sync")
    return [
        ("v23-sort-dates-mood.mp3", tag(3, [
            frame(3, "TIT2", latin1("Old title")), frame(3, "TPE1", utf16("Artist")),
            frame(3, "TSOP", latin1("Artist, The")), frame(3, "TSOA", latin1("Album, sorted")),
            frame(3, "TSOT", latin1("Title, sorted")), frame(3, "TYER", latin1("2001")),
            frame(3, "TDAT", latin1("1205")), frame(3, "TDRC", latin1("2001-05-12")),
            frame(3, "TORY", latin1("1999")), frame(3, "TDOR", latin1("1999-03-04")),
            frame(3, "TMOO", latin1("calm"))]) + audio),
        ("popm.mp3", tag(3, [
            frame(3, "TIT2", utf16("Old title")), frame(3, "TPE1", utf16("Artist")),
            frame(3, "POPM", b"rater@example.com\0\xc4" + struct.pack(">Q", 7))]) + audio),
        ("two-tpe1.mp3", tag(4, [
            frame(4, "TIT2", b"\3Old title\0"), frame(4, "TPE1", b"\3First artist\0"),
            frame(4, "TPE1", latin1("Second artist"))]) + audio),
        ("comment-and-id3v1.mp3", tag(3, [
            frame(3, "TIT2", latin1("Old title")),
            frame(3, "COMM", b"\0eng\0The ID3v2 comment")]) + audio +
         id3v1("Old title", "V1 Artist", "V1 Album", "1998", "", 4, 17)),
        ("v24-unsynchronised-frame.mp3", tag(4, [
            frame(4, "TIT2", b"\3Old title\0"),
            frame(4, "TPE1", synchsafe(len(odd_artist)) + unsynchronise(odd_artist), 0x0003),
            frame(4, "TYER", latin1("1987"))]) + audio),
    ]


# Reading ------------------------------------------------------------------------------------

def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def stored_frames(data):
    """(frame ID, bytes with header) of every frame of the ID3v2 tag at the start, as stored.
    The tags here have no extended header and no tag-wide unsynchronisation."""
    if len(data) < 10 or data[:3] != b"ID3" or data[3] not in (3, 4):
        return []
    end = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
    pos, frames = 10, []
    while pos + 10 <= end and data[pos] != 0:
        raw = data[pos + 4:pos + 8]
        size = ((raw[0] << 21) | (raw[1] << 14) | (raw[2] << 7) | raw[3]) if data[3] == 4 else int.from_bytes(raw, "big")
        frames.append((data[pos:pos + 4].decode("latin-1"), data[pos:pos + 10 + size]))
        pos += 10 + size
    return frames


def id3v1_record(data):
    return data[-128:] if len(data) >= 128 and data[-128:-125] == b"TAG" else None


def mutagen_frames(path):
    """HashKey -> repr of every frame mutagen lists (ID3v2 merged with ID3v1); {} without tags."""
    from mutagen.id3 import ID3, ID3NoHeaderError
    try:
        tags = ID3(path)
    except ID3NoHeaderError:
        return {}
    return {key: repr(value) for key, value in tags.items()}


def mutagen_values(path):
    """(frame ID, text) pairs mutagen reads, whatever frame key or encoding holds them."""
    from mutagen.id3 import ID3, ID3NoHeaderError
    try:
        tags = ID3(path)
    except ID3NoHeaderError:
        return set()
    return {(value.FrameID, tuple(str(t) for t in getattr(value, "text", [])) or repr(value))
            for value in tags.values()}


# Checks -------------------------------------------------------------------------------------

def without_title(items):
    return {k: v for k, v in items.items() if not k.startswith("TIT2")}


def check_title_only_save(checks, tool, label, path):
    before = read_bytes(path)
    md5 = audio_md5(path)
    frames_before = mutagen_frames(path)
    values_before = mutagen_values(path)
    r = run_tool(tool, "set", path, "Title=" + NEW_TITLE)
    if not checks.check("set Title on %s" % label, r.returncode == 0,
                        "exit %d: %s" % (r.returncode, r.stderr.decode("utf-8", "replace").strip())):
        return
    after = read_bytes(path)
    frames_after = mutagen_frames(path)
    title = frames_after.get("TIT2", "")
    checks.check("mutagen reads the new title of %s" % label, repr(NEW_TITLE) in title, title)
    checks.check("same audio md5 after the title save of %s" % label, md5 is not None and audio_md5(path) == md5)

    v1_before, v1_after = id3v1_record(before), id3v1_record(after)
    if v1_before is not None:
        checks.check("ID3v1 record of %s the same apart from its title" % label,
                     v1_after is not None and v1_after[:3] + v1_after[33:] == v1_before[:3] + v1_before[33:],
                     "before %r, after %r" % (v1_before, v1_after))

    if not stored_frames(before):
        # A new tag: it holds what the file held, so the values read are the same.
        want = {v for v in values_before if v[0] != "TIT2"}
        got = {v for v in mutagen_values(path) if v[0] != "TIT2"}
        checks.check("mutagen reads the values of %s as before, apart from the title" % label, want == got,
                     "lost %s; added %s" % (sorted(want - got), sorted(got - want)))
        return

    want, got = without_title(frames_before), without_title(frames_after)
    diffs = ["%s: %s -> %s" % (k, want.get(k), got.get(k)) for k in sorted(set(want) | set(got))
             if want.get(k) != got.get(k)]
    checks.check("mutagen lists the frames of %s as before, apart from the title" % label, not diffs,
                 "; ".join(diffs))
    checks.check("ID3v2 version of %s kept" % label, after[3] == before[3],
                 "2.%d became 2.%d" % (before[3], after[3]))
    stored_before = [f for f in stored_frames(before) if f[0] != "TIT2"]
    stored_after = [f for f in stored_frames(after) if f[0] != "TIT2"]
    changed = [fid for fid, raw in stored_before if (fid, raw) not in stored_after]
    added = [fid for fid, raw in stored_after if (fid, raw) not in stored_before]
    checks.check("every other frame of %s stored byte for byte, in order" % label, stored_before == stored_after,
                 "changed or lost %s; added %s" % (changed, added))


def main():
    args = setup(("ffmpeg",))
    if args is None:
        return SKIP

    checks = Checks()
    mp3_dir = os.path.join(os.path.abspath(args.data), "mp3")
    audio = read_bytes(os.path.join(mp3_dir, "notags.mp3"))
    with tempfile.TemporaryDirectory(prefix="corvella-interop-untouched-") as tmp:
        for name in sorted(os.listdir(mp3_dir)):
            if not name.lower().endswith(".mp3"):
                continue
            if name in NOT_YET_SUPPORTED:
                print("SKIP mp3/%s: %s" % (name, NOT_YET_SUPPORTED[name]))
                continue
            path = os.path.join(tmp, name)
            # copyfile leaves the fixture's read-only mode behind.
            shutil.copyfile(os.path.join(mp3_dir, name), path)
            check_title_only_save(checks, args.tool, "mp3/" + name, path)
        for name, data in built_fixtures(audio):
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(data)
            check_title_only_save(checks, args.tool, "built " + name, path)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
