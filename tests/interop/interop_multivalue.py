#!/usr/bin/python3
"""Several values of one field, as mutagen writes and reads them.

mutagen tags a copy of tests/data/mp3/notags.mp3 with ID3v2.4 (and 2.3) frames holding several
strings: TPE1 "piman" + "jzig", TCON "Rock" + "Pop", TCOM "A" + "B" (in 2.3 zero-separated as in
2.4, mutagen's v23_sep=None). Then:
  * `corvella-tags show --json` gives the record Artist "piman; jzig", Genre "Rock; Pop",
    Composer "A; B" (every value, joined by "; ");
  * `set FILE Title=...` leaves those frames byte for byte and mutagen reads the same lists;
  * `set FILE Artist=X` makes TPE1 hold the one value X, and `Artist=AC; DC` the one value
    "AC; DC" (not two), while TCON and TCOM keep their values;
  * ffmpeg decodes the same audio throughout.

Usage: interop_multivalue.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen or ffmpeg is missing, 1 when any check failed.
Closes with the line "N passed, N failed".
"""

import os
import shutil
import sys
import tempfile

from interop_common import Checks, SKIP, audio_md5, run_tool, setup, show_json

LISTS = {"TPE1": ["piman", "jzig"], "TCON": ["Rock", "Pop"], "TCOM": ["A", "B"]}


def frame_lists(path):
    from mutagen.id3 import ID3
    tags = ID3(path)
    return {fid: [str(s) for s in tags.getall(fid)[0].text] if tags.getall(fid) else None
            for fid in list(LISTS) + ["TIT2"]}


def raw_frames(path):
    """Frame id -> the frame's bytes (header included), of the leading tag."""
    data = open(path, "rb").read()
    version = data[3]
    size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
    at, end, frames = 10, 10 + size, {}
    while at + 10 <= end and data[at] != 0:
        b = data[at + 4:at + 8]
        n = ((b[0] << 21) | (b[1] << 14) | (b[2] << 7) | b[3]) if version == 4 else int.from_bytes(b, "big")
        frames.setdefault(data[at:at + 4].decode("latin-1"), data[at:at + 10 + n])
        at += 10 + n
    return frames


def check_version(checks, tool, data, version):
    from mutagen.id3 import ID3, TCOM, TCON, TIT2, TPE1
    label = "ID3v2.%d" % version
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "multi.mp3")
        shutil.copyfile(os.path.join(data, "mp3", "notags.mp3"), path)
        tags = ID3()
        tags.add(TIT2(encoding=3 if version == 4 else 1, text=["Song"]))
        tags.add(TPE1(encoding=3 if version == 4 else 1, text=LISTS["TPE1"]))
        tags.add(TCON(encoding=3 if version == 4 else 1, text=LISTS["TCON"]))
        tags.add(TCOM(encoding=3 if version == 4 else 1, text=LISTS["TCOM"]))
        # 2.3 knows one string per frame; mutagen joins a list with "/" there unless told to keep
        # the strings apart (zero-separated, as 2.4 keeps them), which other programs write too.
        tags.save(path, v2_version=version, v23_sep=None)
        md5 = audio_md5(path)
        checks.check(label + ": ffmpeg decodes the file", md5 is not None)

        record = show_json(tool, path)["record"]
        got = {k: record[k] for k in ("Title", "Artist", "Genre", "Composer")}
        want = {"Title": "Song", "Artist": "piman; jzig", "Genre": "Rock; Pop", "Composer": "A; B"}
        checks.check(label + ": the record joins every value", got == want, repr(got))

        before = raw_frames(path)
        r = run_tool(tool, "set", path, "Title=New")
        checks.check(label + ": a Title-only set succeeds", r.returncode == 0, r.stderr.decode("utf-8", "replace"))
        after = raw_frames(path)
        for fid in LISTS:
            checks.check(label + ": %s stays byte for byte" % fid, after.get(fid) == before.get(fid))
        lists = frame_lists(path)
        checks.check(label + ": mutagen reads the lists unchanged",
                     lists == dict(LISTS, TIT2=["New"]), repr(lists))

        for typed in ("X", "AC; DC"):
            r = run_tool(tool, "set", path, "Artist=" + typed)
            checks.check(label + ": set Artist=%s succeeds" % typed, r.returncode == 0 and not r.stderr,
                         r.stderr.decode("utf-8", "replace"))
            lists = frame_lists(path)
            checks.check(label + ": mutagen reads Artist=%s as one value" % typed,
                         lists == dict(LISTS, TIT2=["New"], TPE1=[typed]), repr(lists))
            shown = show_json(tool, path)["record"]["Artist"]
            checks.check(label + ": the record shows %s" % typed, shown == typed, repr(shown))
        checks.check(label + ": the audio is unchanged", audio_md5(path) == md5)


def main():
    args = setup()
    if args is None:
        return SKIP
    checks = Checks()
    for version in (4, 3):
        check_version(checks, args.tool, args.data, version)
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
