#!/usr/bin/python3
"""ID3v2.3 interoperability of corvella-tags with mutagen.

On temporary copies:
  * `corvella-tags set-entry` writes sort names (ARTISTSORT, ALBUMSORT, TITLESORT,
    ALBUMARTISTSORT, COMPOSERSORT), an artist of two values and a date with day and time into a
    file whose tag is version 2.3. The tag stays 2.3; mutagen, reading the frames as stored,
    finds the sort names in TSOP, TSOA, TSOT, TSO2 and TSOC (no XSOP, XSOA or XSOT), the artist
    as the one value "One/Two", the date in TYER, TDAT and TIME; reading as it does by default
    (2.3 turned into 2.4) it gets the same sort names and the whole date. corvella-tags reads
    its own entries back, and ffmpeg decodes the same audio (md5).
  * A file with two ID3v2 tags, one behind the other, in front of the audio: after
    `corvella-tags remove` mutagen finds no ID3 tag, corvella-tags shows no ID3v2 tag, the file
    is the audio as it was before the tags were put in front of it, and ffmpeg decodes the same
    audio (md5).

Usage: interop_id3v23.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen or ffmpeg is missing, 1 when any check failed.
Closes with the line "N passed, N failed".
"""

import os
import shutil
import struct
import sys
import tempfile

from interop_common import Checks, SKIP, audio_md5, run_tool, setup, show_json


SORT_NAMES = [
    ("ARTISTSORT", "TSOP", "Beatles, The"),
    ("ALBUMSORT", "TSOA", "White Album, The"),
    ("TITLESORT", "TSOT", "Song, A"),
    ("ALBUMARTISTSORT", "TSO2", "Various Ärtists"),
    ("COMPOSERSORT", "TSOC", "Lennon, John"),
]
ARTISTS = ["One", "Two"]
DATE = "2021-05-04T10:30"


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def stderr_of(result):
    return result.stderr.decode("utf-8", "replace").strip()


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v23_tag(title, padding=0):
    """A version 2.3 tag holding one Latin-1 title frame."""
    text = b"\x00" + title.encode("latin-1")
    frame = b"TIT2" + struct.pack(">IH", len(text), 0) + text
    body = frame + b"\x00" * padding
    return b"ID3\x03\x00\x00" + synchsafe(len(body)) + body


def entries_of(show):
    out = {}
    for name, value in show["entries"]:
        out.setdefault(name.upper(), value)
    return out


def text_of(tags, fid):
    frames = tags.getall(fid)
    return [str(t) for t in frames[0].text] if frames else None


def check_version23_save(checks, tool, data_dir, tmp):
    from mutagen import id3
    path = os.path.join(tmp, "v23.mp3")
    # copyfile leaves the read-only mode of the fixtures behind.
    shutil.copyfile(os.path.join(data_dir, "mp3", "id3v23-latin1.mp3"), path)
    md5 = audio_md5(path)
    if not checks.check("ffmpeg decodes mp3/id3v23-latin1.mp3", md5 is not None):
        return
    assignments = ["%s=%s" % (name, value) for name, _fid, value in SORT_NAMES]
    assignments += ["ARTIST=" + "\n".join(ARTISTS), "YEAR=" + DATE]
    r = run_tool(tool, "set-entry", path, *assignments)
    if not checks.check("set-entry sort names, two artists and a date", r.returncode == 0,
                        "exit %d: %s" % (r.returncode, stderr_of(r))):
        return

    stored = id3.ID3(path, translate=False)
    checks.check("the tag stays version 2.3", stored.version[:2] == (2, 3), "version %r" % (stored.version,))
    for name, fid, value in SORT_NAMES:
        got = text_of(stored, fid)
        checks.check("mutagen reads %s from %s" % (name, fid), got == [value], "got %r" % got)
    stand_ins = [fid for fid in ("XSOP", "XSOA", "XSOT") if stored.getall(fid)]
    checks.check("no XSOP, XSOA or XSOT frame", not stand_ins, ", ".join(stand_ins))
    got = text_of(stored, "TPE1")
    checks.check("mutagen reads the two artists as one value joined with '/'", got == ["/".join(ARTISTS)],
                 "got %r" % got)
    got = (text_of(stored, "TYER"), text_of(stored, "TDAT"), text_of(stored, "TIME"), text_of(stored, "TDRC"))
    checks.check("mutagen finds the date in TYER, TDAT and TIME", got == (["2021"], ["0405"], ["1030"], None),
                 "TYER, TDAT, TIME, TDRC: %r" % (got,))

    upgraded = id3.ID3(path)
    for name, fid, value in SORT_NAMES:
        got = text_of(upgraded, fid)
        checks.check("mutagen's default reading has %s" % name, got == [value], "got %r" % got)
    got = text_of(upgraded, "TPE1")
    checks.check("mutagen's default reading has the artists as one value", got == ["/".join(ARTISTS)],
                 "got %r" % got)
    got = text_of(upgraded, "TDRC")
    checks.check("mutagen's default reading has the whole date",
                 got is not None and got[0].replace(" ", "T").startswith(DATE), "TDRC %r" % got)

    try:
        entries = entries_of(show_json(tool, path))
        want = {name: value for name, _fid, value in SORT_NAMES}
        want.update({"ARTIST": "/".join(ARTISTS), "YEAR": DATE})
        diffs = ["%s: want %r, got %r" % (k, v, entries.get(k)) for k, v in want.items() if entries.get(k) != v]
        checks.check("corvella-tags reads back the entries", not diffs, "; ".join(diffs))
    except Exception as e:  # noqa: BLE001 - any failure is one failed check
        checks.check("corvella-tags reads back the entries", False, str(e))
    checks.check("same audio md5 after the 2.3 save", audio_md5(path) == md5)


def check_stacked_removal(checks, tool, data_dir, tmp):
    from mutagen import id3
    audio = read_bytes(os.path.join(data_dir, "mp3", "notags.mp3"))
    path = os.path.join(tmp, "stacked.mp3")
    write_bytes(path, id3v23_tag("first", 64) + id3v23_tag("second") + audio)
    md5 = audio_md5(os.path.join(data_dir, "mp3", "notags.mp3"))
    try:
        before = id3.ID3(path)
        checks.check("mutagen reads the first of two stacked tags", text_of(before, "TIT2") == ["first"],
                     "TIT2 %r" % text_of(before, "TIT2"))
    except id3.ID3NoHeaderError:
        checks.check("mutagen reads the first of two stacked tags", False, "no tag found")

    r = run_tool(tool, "remove", path)
    if not checks.check("remove the two stacked tags", r.returncode == 0,
                        "exit %d: %s" % (r.returncode, stderr_of(r))):
        return
    try:
        left = id3.ID3(path)
        checks.check("mutagen finds no ID3 tag after remove", False, "TIT2 %r" % text_of(left, "TIT2"))
    except id3.ID3NoHeaderError:
        checks.check("mutagen finds no ID3 tag after remove", True)
    try:
        show = show_json(tool, path)
        checks.check("corvella-tags shows no ID3v2 tag after remove", "ttID3v2" not in show["tags"],
                     "tags %r" % show["tags"])
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags shows no ID3v2 tag after remove", False, str(e))
    checks.check("the file is the audio it was before the tags", read_bytes(path) == audio,
                 "%d bytes, the audio has %d" % (len(read_bytes(path)), len(audio)))
    checks.check("same audio md5 after remove", md5 is not None and audio_md5(path) == md5)


def main():
    args = setup(("ffmpeg",))
    if args is None:
        return SKIP

    checks = Checks()
    data_dir = os.path.abspath(args.data)
    with tempfile.TemporaryDirectory(prefix="corvella-interop-id3v23-") as tmp:
        check_version23_save(checks, args.tool, data_dir, tmp)
        check_stacked_removal(checks, args.tool, data_dir, tmp)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
