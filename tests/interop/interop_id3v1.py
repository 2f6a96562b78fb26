#!/usr/bin/python3
"""ID3v1 interoperability of corvella-tags with independent readers.

For every fixture with an ID3v1 tag (and generated variants: a Lyrics3 v2.00 block in front
of the record, an ID3v1.0 record without a track, a WAV file carrying an ID3v1 record), on a
temporary copy:
  * `corvella-tags show --json` loads the values that mutagen and eyeD3 read from the record
    (when ID3v1 is the file's only tag, so that the record stands for it alone);
  * `corvella-tags set` writes new values (ASCII and code page 1252 text, year, track, genre,
    comment) that mutagen and eyeD3 read back from the record; the bytes in front of the old
    tag (after a leading ID3v2 tag, if any) are unchanged; ffmpeg decodes the same audio
    (md5) before and after.
Also every fixture loads with `show --json` without error, and the ID3v1-only fixture loads
the values of its EXPECTED.jsonl line.

Usage: interop_id3v1.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen, eyeD3 or ffmpeg is missing, 1 when any check failed.
Closes with the line "N passed, N failed".
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile

from interop_common import Checks, SKIP, audio_md5, compare, run_tool, setup, show_json


EYED3_SNIPPET = r"""
import json, sys
import eyed3, eyed3.id3
eyed3.log.setLevel("ERROR")
t = eyed3.id3.Tag()
if not t.parse(sys.argv[1], eyed3.id3.ID3_V1):
    print("null")
    sys.exit(0)
track = t.track_num[0] if t.track_num else None
# ID3v1 pads with zeros or blanks; neither belongs to the value.
def v(text):
    return (text or "").strip(" \x00")
print(json.dumps({
    "title": v(t.title), "artist": v(t.artist), "album": v(t.album),
    "year": str(t.release_date) if t.release_date else (str(t.recording_date) if t.recording_date else ""),
    "track": str(track) if track else "",
    "genre": t.genre.name if t.genre and t.genre.name else "",
    "comment": v(t.comments[0].text) if len(t.comments) else "",
}))
"""

# What corvella-tags stores for characters of code page 1252 that it leaves undefined.
CP1252_UNDEFINED = (0x81, 0x8D, 0x8F, 0x90, 0x9D)


def decode_cp1252(raw):
    return "".join(chr(b) if b in CP1252_UNDEFINED else bytes([b]).decode("cp1252") for b in raw)


def as_latin1_view(text):
    """What a Latin-1 reader (mutagen, eyeD3) shows for text stored in code page 1252."""
    return text.encode("cp1252").decode("latin1")


def from_latin1_view(text):
    return decode_cp1252(text.encode("latin1"))


def find_eyed3_python():
    """An interpreter that imports eyed3: /usr/bin/python3 or the eyeD3 command's own."""
    candidates = ["/usr/bin/python3"]
    cmd = shutil.which("eyeD3")
    if cmd:
        try:
            with open(cmd, "rb") as f:
                first = f.readline().decode("utf-8", "replace").strip()
            if first.startswith("#!"):
                parts = first[2:].split()
                if parts and os.path.basename(parts[0]) == "env" and len(parts) > 1:
                    found = shutil.which(parts[1])
                    if found:
                        candidates.append(found)
                elif parts:
                    candidates.append(parts[0])
        except OSError:
            pass
    for py in candidates:
        if os.path.exists(py) and subprocess.run([py, "-c", "import eyed3"], capture_output=True).returncode == 0:
            return py
    return None


def mutagen_v1(path):
    import mutagen.id3
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        size = f.tell()
        f.seek(max(0, size - 128))
        frames = mutagen.id3.ParseID3v1(f.read())
    if frames is None:
        return None
    def text(key):
        return str(frames[key].text[0]) if key in frames and frames[key].text else ""
    genre = ""
    if "TCON" in frames and frames["TCON"].genres:
        genre = frames["TCON"].genres[0]
    return {
        "title": text("TIT2"), "artist": text("TPE1"), "album": text("TALB"),
        "year": text("TDRC") or text("TYER"), "track": text("TRCK"), "genre": genre,
        "comment": text("COMM"),
    }


def eyed3_v1(py, path):
    r = subprocess.run([py, "-c", EYED3_SNIPPET, path], capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("eyeD3 failed: " + r.stderr.strip())
    return json.loads(r.stdout)


def id3v2_size(data):
    """Size of an ID3v2 tag at the start of data (0 when there is none)."""
    if len(data) < 10 or data[:3] != b"ID3" or any(b & 0x80 for b in data[6:10]):
        return 0
    size = ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]) + 10
    if data[5] & 0x10:
        size += 10
    return size


def trailing_tag_start(data):
    """Offset of the ID3v1 record, or of the Lyrics3 v2.00 block in front of it."""
    start = len(data) - 128
    if start >= 15 and data[start - 9:start] == b"LYRICS200":
        try:
            block = int(data[start - 15:start - 9])
        except ValueError:
            return start
        if 0 < block <= start - 15 and data[start - 15 - block:start - 15 - block + 11] == b"LYRICSBEGIN":
            return start - 15 - block
    return start


def has_id3v1(path):
    with open(path, "rb") as f:
        data = f.read()
    return len(data) >= 128 and data[-128:-125] == b"TAG"


def has_apev2(path):
    """Whether mutagen finds an APEv2 tag in the file (at its end or in front of Lyrics3 and ID3v1)."""
    from mutagen import apev2
    try:
        apev2.APEv2(path)
        return True
    except apev2.error:
        return False


def lyrics3_block(fields):
    body = b"LYRICSBEGIN"
    for fid, value in fields:
        body += fid + b"%05d" % len(value) + value
    return body + b"%06d" % len(body) + b"LYRICS200"


# The Lyrics3 v2.00 block of the generated subject: the indicator, lyrics with a line break,
# and a field the tag object keeps without knowing it.
LYRICS3_FIELDS = [(b"IND", b"10"), (b"LYR", b"First line\r\nSecond line"), (b"INF", b"Some information")]

RECORD_KEYS = {
    "title": "Title", "artist": "Artist", "album": "Album", "year": "Year", "track": "Track",
    "genre": "Genre", "comment": "Comment", "disc": "Disc", "bpm": "BPM", "albumartist": "AlbumArtist",
    "composer": "Composer", "originalartist": "OrigArtist", "copyright": "Copyright", "url": "URL",
    "encodedby": "EncodedBy", "lyrics": "Lyrics",
}

V1_FIELDS = ("title", "artist", "album", "year", "track", "genre", "comment")

# Two rounds of new values: the second also exercises code page 1252 characters outside
# Latin-1 (en dash, euro sign, per mille, OE ligature) and a genre past the original 80.
NEW_VALUES = [
    {"title": "Plain ASCII title", "artist": "Some Artist", "album": "Some Album", "year": "1987",
     "track": "7", "genre": "Jazz", "comment": "ASCII comment"},
    {"title": "Café – déjà vu €5", "artist": "Œuvre Ångström", "album": "Zoë’s “Album”",
     "year": "2024", "track": "255", "genre": "Dubstep", "comment": "‰ and ü, ß"},
]


def record_of(show):
    return {k: show["record"][RECORD_KEYS[k]] for k in V1_FIELDS}


def main():
    args = setup(("ffmpeg",))
    if args is None:
        return SKIP
    eyed3_py = find_eyed3_python()
    if not eyed3_py:
        print("SKIPPED: eyeD3 is not installed (Debian package eyed3)")
        return SKIP

    checks = Checks()
    tool = args.tool
    data_dir = os.path.abspath(args.data)
    fixtures = []
    for root, _dirs, files in os.walk(data_dir):
        for name in files:
            rel = os.path.relpath(os.path.join(root, name), data_dir)
            if os.sep in rel and not rel.startswith("images" + os.sep):
                fixtures.append(rel)
    fixtures.sort()

    # Every fixture loads.
    for rel in fixtures:
        try:
            show = show_json(tool, os.path.join(data_dir, rel))
            checks.check("load %s" % rel, show["ok"] and show["error"] is None, str(show.get("error")))
        except Exception as e:  # noqa: BLE001 - any failure is one failed check
            checks.check("load %s" % rel, False, str(e))

    # The ID3v1-only fixture loads the values its EXPECTED.jsonl line names.
    with open(os.path.join(data_dir, "EXPECTED.jsonl"), encoding="utf-8") as f:
        expected_lines = [json.loads(line) for line in f if line.strip()]
    for exp in expected_lines:
        if exp["file"] != "mp3/id3v1-only.mp3":
            continue
        try:
            show = show_json(tool, os.path.join(data_dir, exp["file"]))
            want = {RECORD_KEYS[k]: (exp[k] or "") for k in RECORD_KEYS}
            got = {k: show["record"][k] for k in want}
            diff = compare(want, got)
            if exp["pictures"] != len(show["pictures"]):
                diff += " pictures: want %d, got %d" % (exp["pictures"], len(show["pictures"]))
            checks.check("expected values %s" % exp["file"], not diff, diff)
        except Exception as e:  # noqa: BLE001
            checks.check("expected values %s" % exp["file"], False, str(e))

    with tempfile.TemporaryDirectory(prefix="corvella-interop-") as tmp:
        subjects = []
        for rel in fixtures:
            # A file with an APEv2 tag in front of its record keeps each value in the tag that
            # holds it, and its APEv2 tag changes with a save: interop_apev2.py checks those.
            if has_apev2(os.path.join(data_dir, rel)):
                print("SKIP %s: an APEv2 tag stands in front of its record (interop_apev2.py checks it)" % rel)
                continue
            if has_id3v1(os.path.join(data_dir, rel)):
                dst = os.path.join(tmp, rel.replace(os.sep, "_"))
                shutil.copyfile(os.path.join(data_dir, rel), dst)
                subjects.append((rel, dst))

        base = os.path.join(data_dir, "mp3", "id3v1-only.mp3")
        if os.path.exists(base):
            with open(base, "rb") as f:
                raw = f.read()
            record = raw[-128:]
            lyr = os.path.join(tmp, "generated_lyrics3.mp3")
            with open(lyr, "wb") as f:
                f.write(raw[:-128] + lyrics3_block(LYRICS3_FIELDS) + record)
            subjects.append(("generated mp3 with Lyrics3 v2.00", lyr))
            v10 = os.path.join(tmp, "generated_v1_0.mp3")
            rec10 = bytearray(record)
            # ID3v1.0: the comment fills all 30 bytes, so there is no track byte. Its last
            # character is a blank, which every reader trims, because mutagen takes byte 126
            # as a track whatever byte 125 holds unless byte 126 is a blank.
            rec10[97:127] = b"ID3v1.0 comment without track "
            with open(v10, "wb") as f:
                f.write(raw[:-128] + bytes(rec10))
            subjects.append(("generated ID3v1.0 mp3", v10))
            wav_src = os.path.join(data_dir, "wav", "notags.wav")
            if os.path.exists(wav_src):
                wav = os.path.join(tmp, "generated_id3v1.wav")
                with open(wav_src, "rb") as f:
                    wav_raw = f.read()
                with open(wav, "wb") as f:
                    f.write(wav_raw + record)
                subjects.append(("generated wav with ID3v1", wav))

        checks.check("ID3v1 subjects found", len(subjects) >= 3, "%d" % len(subjects))
        for label, path in subjects:
            run_subject(checks, tool, eyed3_py, label, path)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


def run_subject(checks, tool, eyed3_py, label, path):
    try:
        show = show_json(tool, path)
    except Exception as e:  # noqa: BLE001
        checks.check("show %s" % label, False, str(e))
        return

    # Loading: only when ID3v1 is the one tag found does the record stand for it alone.
    if show["tags"] == ["ttID3v1"]:
        ours = record_of(show)
        for reader, values in (("mutagen", mutagen_v1(path)), ("eyeD3", eyed3_v1(eyed3_py, path))):
            if values is None:
                checks.check("load %s as %s reads it" % (label, reader), False, "%s found no ID3v1 record" % reader)
                continue
            want = {k: from_latin1_view(values[k]) for k in V1_FIELDS}
            checks.check("load %s as %s reads it" % (label, reader), not compare(want, ours), compare(want, ours))

    with open(path, "rb") as f:
        before = f.read()
    md5_before = audio_md5(path)
    checks.check("ffmpeg decodes %s" % label, md5_before is not None)
    had_lyrics3 = trailing_tag_start(before) != len(before) - 128

    for round_no, values in enumerate(NEW_VALUES, 1):
        name = "%s, set round %d" % (label, round_no)
        assignments = ["%s=%s" % (RECORD_KEYS[k], v) for k, v in values.items()]
        r = run_tool(tool, "set", path, *assignments)
        if not checks.check("set %s" % name, r.returncode == 0, r.stderr.decode("utf-8", "replace").strip()):
            continue
        checks.check("no backup left after %s" % name, not os.path.exists(path + ".qln_bak"))
        with open(path, "rb") as f:
            after = f.read()

        want = {k: as_latin1_view(v) for k, v in values.items()}
        for reader, got in (("mutagen", mutagen_v1(path)), ("eyeD3", eyed3_v1(eyed3_py, path))):
            if got is None:
                checks.check("%s reads %s" % (reader, name), False, "no ID3v1 record")
            else:
                checks.check("%s reads %s" % (reader, name), not compare(want, got), compare(want, got))

        if path.lower().endswith(".mp3"):
            # A leading ID3v2 tag is skipped on both sides: it is the ID3v2 writer's to change.
            old_start, old_tag = id3v2_size(before), trailing_tag_start(before)
            new_start = id3v2_size(after)
            kept = before[old_start:old_tag]
            checks.check("bytes before the old tag untouched, %s" % name,
                         after[new_start:new_start + len(kept)] == kept)
        if had_lyrics3:
            block = after[trailing_tag_start(after):len(after) - 128]
            missing = [fid.decode() for fid, value in LYRICS3_FIELDS[1:]
                       if fid + b"%05d" % len(value) + value not in block]
            checks.check("Lyrics3 fields kept, %s" % name, block.startswith(b"LYRICSBEGIN") and not missing,
                         "missing " + ", ".join(missing))
        checks.check("same audio md5, %s" % name, audio_md5(path) == md5_before)

        try:
            ours = record_of(show_json(tool, path))
            checks.check("corvella-tags reads back %s" % name, not compare(values, ours), compare(values, ours))
        except Exception as e:  # noqa: BLE001
            checks.check("corvella-tags reads back %s" % name, False, str(e))
        before = after


if __name__ == "__main__":
    sys.exit(main())
