#!/usr/bin/python3
"""MP3 interoperability of corvella-tags with independent readers.

For every MP3 fixture in tests/data/mp3, on a temporary copy:
  * `corvella-tags set FILE Field=Value... --cover IMAGE` writes all sixteen fields (non-ASCII
    text, a track and a disc with totals, a multi-line comment and lyrics) and a cover, once
    with a PNG and once with a JPEG picture. After each round mutagen reads the same values
    and the same picture bytes, eyeD3 and kid3-cli read the same sixteen values and the same
    picture (and leave the file as it was), ffprobe reads the same title, artist and album,
    ffmpeg decodes the same audio (md5), an ID3v1 tag that was there is still there, no backup
    or temporary file is left beside the file, the ID3v2 tag holds no duplicate, empty, added
    or out-of-version frame (the year goes to TYER in a 2.3 tag, to TDRC in a 2.4 tag), and
    corvella-tags reads its own values back.
  * Saving with no edit (`set FILE Title=<the same title>`, which writes nothing, and
    `set-entry FILE TITLE=<the same title>`, which rewrites the tags) twice gives a
    byte-identical file the second time, and loses no value, picture or audio byte; this
    runs on the fixture as the other tools made it and again after the two rounds.
  * A copy without write permission is refused and left as it was.
Also every MP3 fixture's `corvella-tags show --json` record holds the sixteen values and the
cover of its EXPECTED.jsonl line, apart from the differences listed in KNOWN_DIFFERENCES.

mutagen is read with the rules that produced EXPECTED.jsonl: ID3v2 first, then APEv2, then
ID3v1, each filling only the fields still empty, with the same normalisation (surrounding
blanks dropped, line breaks as LF, track and disc without leading zeros, year of four digits,
genre references as names, BPM as a whole number).

Usage: interop_mp3.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen, ffmpeg or ffprobe is missing, 1 when any check failed. When
eyeD3 (Debian package eyed3) or kid3-cli (Debian package kid3-cli) is missing, each of its
checks prints a SKIP line instead and the rest runs.
Closes with the line "N passed, N failed".
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from interop_common import Checks, SKIP, audio_md5, compare, run_tool, setup, show_json


# Record keys of `show --json`, in the order of the sixteen fields, with the key each has in
# EXPECTED.jsonl and in the reference reading below.
FIELDS = [
    ("Title", "title"), ("Artist", "artist"), ("Album", "album"), ("Year", "year"),
    ("Track", "track"), ("Genre", "genre"), ("Comment", "comment"), ("Disc", "disc"),
    ("BPM", "bpm"), ("AlbumArtist", "albumartist"), ("Composer", "composer"),
    ("OrigArtist", "originalartist"), ("Copyright", "copyright"), ("URL", "url"),
    ("EncodedBy", "encodedby"), ("Lyrics", "lyrics"),
]
REF_KEY = dict(FIELDS)

# Two rounds of values: the first with the PNG cover, the second, all different, with the JPEG
# cover. Both hold text outside Latin-1 (Cyrillic, Greek, CJK, a character outside the Basic
# Multilingual Plane, which UTF-16 stores as a surrogate pair), a track and a disc with their
# totals, a free genre in the second round, and comments and lyrics of several lines.
ROUNDS = [
    ("cover.png", {
        "Title": "Ünïcödé title – 日本語 ♫", "Artist": "Сергей Прокофьев",
        "Album": "Zoë’s “Album” 🎵", "Year": "2024", "Track": "4/12", "Genre": "Rock",
        "Comment": "First comment line\nSecond line – ü, ß, €", "Disc": "1/2", "BPM": "128",
        "AlbumArtist": "Various Ärtists", "Composer": "Antonín Dvořák",
        "OrigArtist": "Ørjan Original", "Copyright": "© 2024 Éxample Records",
        "URL": "https://example.com/music/track-4", "EncodedBy": "corvella interop ✓",
        "Lyrics": "Verse one ♪\nVerse two – zwei\n\nChorus: 日本語のうた",
    }),
    ("cover.jpg", {
        "Title": "Второй раунд – second round", "Artist": "Björk Guðmundsdóttir",
        "Album": "Ελληνικό άλμπουμ", "Year": "1999", "Track": "11/12", "Genre": "Électro-Pop",
        "Comment": "Zweite Runde\nnoch eine Zeile\ndritte Zeile", "Disc": "2/2", "BPM": "96",
        "AlbumArtist": "Ånother Ärtist", "Composer": "Čeněk Composer",
        "OrigArtist": "Łukasz Original", "Copyright": "℗ 1999 Ōkami Label",
        "URL": "https://example.org/round/2", "EncodedBy": "second encoder ☺",
        "Lyrics": "Erste Strophe\nZweite Strophe 🎶\nLast line",
    }),
]

# Differences between a fixture's EXPECTED.jsonl line and what corvella-tags loads that are
# faults of the reader that wrote EXPECTED.jsonl, not of corvella-tags:
#   (fixture, EXPECTED.jsonl key) -> (the value corvella-tags rightly loads, the reason).
KNOWN_DIFFERENCES = {
}

# Fixtures left out here, with the reason printed. An MP3 with an APEv2 tag keeps each value in
# the tag that holds it (a value the APEv2 tag already holds is not copied into ID3v2), which
# the checks below, made for files whose values live in ID3v2, do not expect.
NOT_YET_SUPPORTED = {
    "apev2-id3v1.mp3": "its values are in an APEv2 tag: interop_apev2.py checks it",
    "id3v2-apev2-lyrics3-id3v1.mp3": "its values are spread over ID3v2, APEv2 and ID3v1: interop_apev2.py checks it",
}


# Reference reading with mutagen --------------------------------------------------------------

def clean(v):
    if v is None:
        return None
    if isinstance(v, bytes):
        v = v.decode("utf-8", "replace")
    v = str(v).replace("\r\n", "\n").replace("\r", "\n").strip().strip("\x00").strip()
    return v or None


def join(vals):
    out = [c for c in (clean(v) for v in vals) if c]
    return "; ".join(out) if out else None


def norm_num(v, total=None):
    """'03/12' -> '3/12', '3' with total '12' -> '3/12'."""
    v = clean(v)
    if v is None:
        return None
    m = re.fullmatch(r"\s*0*(\d+)\s*(?:/\s*0*(\d*)\s*)?", v)
    if not m:
        return v
    n, t = m.group(1), m.group(2)
    t = t or clean(total)
    if t:
        t = t.lstrip("0") or "0"
        return "%d/%s" % (int(n), t)
    return str(int(n))


def norm_year(v):
    v = clean(v)
    return None if v is None else v[:4]


def id3v1_genres():
    import mutagen.id3
    return list(mutagen.id3.TCON.GENRES)


def norm_genre(v):
    v = clean(v)
    if v is None:
        return None
    m = re.fullmatch(r"\((\d+)\)(.*)", v)
    if m:
        if m.group(2).strip():
            return m.group(2).strip()
        v = m.group(1)
    genres = id3v1_genres()
    if v.isdigit() and int(v) < len(genres):
        return genres[int(v)]
    return v


def norm_bpm(v):
    v = clean(v)
    if v is None:
        return None
    try:
        return str(int(round(float(v))))
    except ValueError:
        return v


def image_mime(data, declared=None):
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return "image/png"
    if data[:3] == b"\xff\xd8\xff":
        return "image/jpeg"
    if data[:6] in (b"GIF87a", b"GIF89a"):
        return "image/gif"
    if data[:2] == b"BM":
        return "image/bmp"
    return clean(declared) or "application/octet-stream"


def normalise(key, value):
    """One field as EXPECTED.jsonl holds it: None when empty."""
    if key in ("track", "disc"):
        return norm_num(value)
    if key == "year":
        return norm_year(value)
    if key == "genre":
        return norm_genre(value)
    if key == "bpm":
        return norm_bpm(value)
    return clean(value)


class Reading:
    def __init__(self):
        self.fields = {key: None for _name, key in FIELDS}
        self.pictures = []  # (MIME type sniffed or declared, bytes)
        self.tag_types = []

    def take(self, values):
        for k, v in values.items():
            if self.fields.get(k) is None and v is not None:
                self.fields[k] = v


def from_id3(tags, r):
    def t(fid):
        vals = []
        for x in tags.getall(fid):
            vals.extend(str(s) for s in getattr(x, "text", []))
        return join(vals)

    d = {
        "title": t("TIT2"), "artist": t("TPE1"), "album": t("TALB"),
        "year": norm_year(t("TDRC") or t("TYER") or t("TDOR") or t("TORY")),
        "track": norm_num(t("TRCK")), "disc": norm_num(t("TPOS")),
        "bpm": norm_bpm(t("TBPM")), "albumartist": t("TPE2"), "composer": t("TCOM"),
        "originalartist": t("TOPE"), "copyright": t("TCOP"), "encodedby": t("TENC"),
    }
    g = tags.getall("TCON")
    if g:
        try:
            d["genre"] = join(g[0].genres)
        except Exception:  # noqa: BLE001 - a genre mutagen cannot parse is read as text
            d["genre"] = norm_genre(t("TCON"))
    comms = tags.getall("COMM")
    pick = [c for c in comms if not c.desc] or [c for c in comms if not c.desc.startswith("iTun")]
    if pick:
        d["comment"] = join(pick[0].text)
    url = None
    for fid in ("WOAR", "WXXX", "WOAF", "WORS", "WPUB"):
        frames = tags.getall(fid)
        if frames:
            if fid == "WXXX":
                frames = [x for x in frames if not x.desc] or frames
            url = clean(frames[0].url)
            if url:
                break
    d["url"] = url
    uslt = tags.getall("USLT")
    if uslt:
        d["lyrics"] = clean(uslt[0].text)
    r.take(d)
    for p in tags.getall("APIC") + tags.getall("PIC"):
        r.pictures.append((image_mime(p.data, getattr(p, "mime", None)), p.data))


APE_KEYS = {
    "title": ["TITLE"], "artist": ["ARTIST"], "album": ["ALBUM"],
    "date": ["YEAR", "DATE", "RECORD DATE"], "track": ["TRACK", "TRACKNUMBER"],
    "tracktotal": ["TRACKTOTAL", "TOTALTRACKS"], "disc": ["DISC", "DISCNUMBER"],
    "disctotal": ["DISCTOTAL", "TOTALDISCS"], "genre": ["GENRE"], "comment": ["COMMENT"],
    "bpm": ["BPM"], "albumartist": ["ALBUM ARTIST", "ALBUMARTIST"], "composer": ["COMPOSER"],
    "originalartist": ["ORIGINAL ARTIST", "ORIGINALARTIST"], "copyright": ["COPYRIGHT"],
    "url": ["URL", "RELATED", "WEBSITE"], "encodedby": ["ENCODEDBY", "ENCODED BY", "ENCODED-BY"],
    "lyrics": ["LYRICS", "UNSYNCED LYRICS", "UNSYNCEDLYRICS"],
}


def from_ape(tags, r):
    from mutagen import apev2
    items = {}
    for k, v in tags.items():
        if v.kind == apev2.TEXT:
            items[k.upper()] = list(v)
        elif v.kind == apev2.EXTERNAL:
            # mutagen 1.46 gives a locator's value as text, older versions as bytes.
            value = v.value
            items[k.upper()] = [value.decode("utf-8", "replace") if isinstance(value, bytes) else value]

    def g(name):
        for k in APE_KEYS[name]:
            if items.get(k):
                return items[k]
        return []

    r.take({
        "title": join(g("title")), "artist": join(g("artist")), "album": join(g("album")),
        "year": norm_year(join(g("date"))),
        "track": norm_num(join(g("track")[:1]), join(g("tracktotal")[:1])),
        "disc": norm_num(join(g("disc")[:1]), join(g("disctotal")[:1])),
        "genre": norm_genre(join(g("genre"))), "comment": join(g("comment")),
        "bpm": norm_bpm(join(g("bpm")[:1])), "albumartist": join(g("albumartist")),
        "composer": join(g("composer")), "originalartist": join(g("originalartist")),
        "copyright": join(g("copyright")), "url": join(g("url")),
        "encodedby": join(g("encodedby")), "lyrics": join(g("lyrics")),
    })
    for k, v in tags.items():
        if v.kind == apev2.BINARY and k.upper().startswith("COVER ART"):
            raw = v.value
            i = raw.find(b"\0")
            data = raw[i + 1:] if 0 <= i < 256 else raw
            r.pictures.append((image_mime(data), data))


def reference_read(path):
    """What mutagen reads from an MP3 file: ID3v2 before APEv2 before ID3v1."""
    from mutagen import apev2, id3
    r = Reading()
    try:
        v2 = id3.ID3(path, load_v1=False)
        r.tag_types.append("ID3v2.%d" % v2.version[1])
        from_id3(v2, r)
    except id3.ID3NoHeaderError:
        pass
    try:
        ape = apev2.APEv2(path)
        r.tag_types.append("APEv2")
        from_ape(ape, r)
    except apev2.error:
        pass
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        if f.tell() >= 128:
            f.seek(-128, os.SEEK_END)
            block = f.read(128)
            if block[:3] == b"TAG":
                r.tag_types.append("ID3v1")
                frames = id3.ParseID3v1(block)
                if frames:
                    t = id3.ID3()
                    for frame in frames.values():
                        t.add(frame)
                    from_id3(t, r)
    return r


# Reading with eyeD3 and kid3-cli ------------------------------------------------------------
#
# Both expose all sixteen fields of the ID3v2 tag, so neither leaves one out:
#   eyeD3 is read through its Python module (the `eyeD3` command prints neither the copyright
#   nor the encoded-by, and prints multi-line values in a form that cannot be split reliably).
#   The year is its best date (TDRC in a 2.4 tag; TYER, which it reads as the recording date, in
#   a 2.3 tag), track and disc come as (number, total) pairs, the genre as a name. Pictures come
#   with their declared MIME type and their bytes, so count, MIME type and bytes are checked.
#   kid3-cli answers JSON commands: "get all" on tag 2 lists every frame under kid3's own names,
#   one row per picture ("Picture: Cover (front)", its value the description), so the count is
#   the number of those rows; "Picture.MimeType" gives the first picture's MIME type and
#   "get picture:FILE" exports its bytes, so MIME type and bytes are checked for that one.
# The comment and the lyrics are the COMM/USLT frames with an empty description; the URL is the
# first of WOAR, WXXX without description, WOAF, WORS, WPUB, as in the mutagen reading.

EYED3_URL_ATTRS = ["artist_url", None, "audio_file_url", "audio_source_url", "publisher_url"]

KID3_NAMES = {
    "Title": "title", "Artist": "artist", "Album": "album", "Date": "year",
    "Track Number": "track", "Genre": "genre", "Comment": "comment", "Disc Number": "disc",
    "BPM": "bpm", "Album Artist": "albumartist", "Composer": "composer",
    "Original Artist": "originalartist", "Copyright": "copyright", "Website": "url",
    "Encoded-by": "encodedby", "Lyrics": "lyrics",
}

# Ways of reading that belong to the tool, not to corvella-tags, which the checks accept (with a
# NOTE each time one is used): (tool, field key) -> (the tool's other name for the field, the
# reason). The tool's reading of the field falls back to that name when its usual name is absent.
TOOL_QUIRKS = {
    ("kid3-cli", "url"): (
        "User-defined URL",
        "kid3's Website is the WOAR frame only; corvella-tags writes the URL to WOAR when the tag "
        "had one and otherwise to a WXXX frame without description (the URL entry of its ID3v2 "
        "names), which mutagen and eyeD3 read as the URL and kid3 lists as \"User-defined URL\""),
}


def eyed3_missing():
    """Why eyeD3 cannot be used, or None when it can."""
    try:
        import eyed3
        import eyed3.id3  # noqa: F401
    except ImportError:
        return "/usr/bin/python3 cannot import eyed3 (Debian package eyed3)"
    # It logs its opinions of non-standard frames on stderr; the checks say what matters.
    eyed3.log.setLevel("ERROR")
    return None


def kid3_missing():
    return None if shutil.which("kid3-cli") else "kid3-cli is not installed (Debian package kid3-cli)"


def eyed3_read(path):
    """The sixteen values and the pictures ((declared MIME type, bytes)) eyeD3 reads from the
    ID3v2 tag of path, or None when it finds no ID3v2 tag."""
    import eyed3
    import eyed3.id3
    audio = eyed3.load(path, tag_version=eyed3.id3.ID3_V2)
    tag = audio.tag if audio is not None else None
    if tag is None:
        return None

    def pair(value):
        number, total = value
        if number is None:
            return None
        return norm_num(str(number), None if total is None else str(total))

    def no_desc(frames):
        frames = list(frames)
        pick = [f for f in frames if not f.description] or \
            [f for f in frames if not f.description.startswith("iTun")]
        return clean(pick[0].text) if pick else None

    url = None
    for attr in EYED3_URL_ATTRS:
        if attr is None:
            frames = list(tag.user_url_frames)
            frames = [f for f in frames if not f.description] or frames
            url = clean(frames[0].url) if frames else None
        else:
            url = clean(getattr(tag, attr))
        if url:
            break
    lyrics = list(tag.lyrics)
    date = tag.getBestDate()
    fields = {
        "title": clean(tag.title), "artist": clean(tag.artist), "album": clean(tag.album),
        "year": norm_year(None if date is None else str(date)),
        "track": pair(tag.track_num), "genre": norm_genre(None if tag.genre is None else tag.genre.name),
        "comment": no_desc(tag.comments), "disc": pair(tag.disc_num),
        "bpm": norm_bpm(None if tag.bpm is None else str(tag.bpm)),
        "albumartist": clean(tag.album_artist), "composer": clean(tag.composer),
        "originalartist": clean(tag.original_artist), "copyright": clean(tag.copyright),
        "url": url, "encodedby": clean(tag.encoded_by),
        "lyrics": clean(lyrics[0].text) if lyrics else None,
    }
    pictures = [(clean(i.mime_type), i.image_data) for i in tag.images]
    return fields, pictures


def kid3_run(path, *commands):
    """The JSON results of kid3-cli commands on path, in order."""
    args = ["kid3-cli"]
    for command in commands:
        # kid3-cli answers in the layout of the command: compact for a compact one.
        args += ["-c", json.dumps(command, separators=(",", ":"))]
    r = subprocess.run(args + [path], capture_output=True, timeout=120)
    if r.returncode != 0:
        raise RuntimeError("kid3-cli exited %d: %s" % (r.returncode, stderr_of(r)))
    out = r.stdout.decode("utf-8", "replace")
    decoder = json.JSONDecoder()
    results, pos = [], 0
    while True:
        pos = out.find("{", pos)
        if pos < 0:
            break
        answer, pos = decoder.raw_decode(out, pos)
        if "error" in answer:
            raise RuntimeError("kid3-cli: %s" % answer["error"])
        results.append(answer.get("result"))
    if len(results) != len(commands):
        raise RuntimeError("kid3-cli gave %d answers to %d commands" % (len(results), len(commands)))
    return results


def kid3_frames(path, value_of=lambda name, value: value):
    """The first value of every frame name kid3-cli lists in tag 2 of path (through value_of),
    and its number of pictures."""
    listing, = kid3_run(path, {"method": "get", "params": ["all", 2]})
    frames = ((listing or {}).get("taggedFile") or {}).get("tag2", {}).get("frames", [])
    rows, count = {}, 0
    for frame in frames:
        name = frame.get("name", "")
        if name.startswith("Picture"):
            count += 1
        rows.setdefault(name, value_of(name, frame.get("value")))
    return rows, count


def kid3_picture(path, scratch):
    """The MIME type and the bytes of the first picture, as kid3-cli exports them."""
    out = os.path.join(scratch, "kid3-picture")
    if os.path.exists(out):
        os.remove(out)
    mime, _desc = kid3_run(path, {"method": "get", "params": ["Picture.MimeType", 2]},
                           {"method": "get", "params": ["picture:" + out, 2]})
    data = read_bytes(out) if os.path.exists(out) else None
    return clean(mime), data


def kid3_read(path, scratch):
    """The sixteen values kid3-cli reads from the ID3v2 tag of path, its number of pictures,
    and the MIME type and bytes of the first (None, None when there is none). The picture is
    exported into the folder scratch, never beside the file."""
    rows, count = kid3_frames(path)
    fields = {key: normalise(key, rows.get(name)) for name, key in KID3_NAMES.items()}
    for (tool, key), (other, reason) in TOOL_QUIRKS.items():
        if tool == "kid3-cli" and fields[key] is None and normalise(key, rows.get(other)) is not None:
            fields[key] = normalise(key, rows[other])
            print("NOTE kid3-cli gives %s as %r: %s" % (key, other, reason))
    if count == 0:
        return fields, 0, None, None
    mime, data = kid3_picture(path, scratch)
    return fields, count, mime, data


def check_other_readers(checks, readers, scratch, path, name, want, image):
    """eyeD3 and kid3-cli read the values in want and the one picture image from path."""
    mime = image_mime(image)
    for tool, missing in readers:
        checks_of_tool = ["%s reads the values of %s" % (tool, name),
                          "%s reads the picture of %s" % (tool, name),
                          "%s leaves %s as it was" % (tool, name)]
        if missing:
            for check_name in checks_of_tool:
                print("SKIP %s: %s" % (check_name, missing))
            continue
        before = read_bytes(path)
        try:
            if tool == "eyeD3":
                reading = eyed3_read(path)
                if reading is None:
                    raise RuntimeError("eyeD3 finds no ID3v2 tag")
                fields, pictures = reading
                picture_ok = len(pictures) == 1 and pictures[0] == (mime, image)
                picture_got = picture_detail(pictures)
            else:
                fields, count, got_mime, data = kid3_read(path, scratch)
                picture_ok = count == 1 and got_mime == mime and data == image
                picture_got = "%d picture(s), the first %s of %s bytes" % (
                    count, got_mime, "no" if data is None else len(data))
        except Exception as e:  # noqa: BLE001 - a reader that fails is one failed check
            checks.check(checks_of_tool[0], False, str(e))
            continue
        diffs = compare(want, fields)
        checks.check(checks_of_tool[0], not diffs, diffs)
        checks.check(checks_of_tool[1], picture_ok,
                     "want one %s of %d bytes, got %s" % (mime, len(image), picture_got))
        checks.check(checks_of_tool[2], read_bytes(path) == before)


# Tools --------------------------------------------------------------------------------------


def stderr_of(result):
    return result.stderr.decode("utf-8", "replace").strip()


def cover_bytes(tool, path):
    r = run_tool(tool, "cover", path, "-")
    return r.stdout if r.returncode == 0 else None


def ffprobe_tags(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "json", path],
                       capture_output=True, text=True)
    if r.returncode != 0:
        return None
    tags = (json.loads(r.stdout or "{}").get("format") or {}).get("tags") or {}
    # An APEv2 tag reaches ffmpeg with its own key case ("Title").
    return {k.lower(): v for k, v in tags.items()}


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def has_id3v1(data):
    return len(data) >= 128 and data[-128:-125] == b"TAG"


def id3v2_version(data):
    return "2.%d" % data[3] if len(data) >= 10 and data[:3] == b"ID3" else "none"


def id3v2_frames(data):
    """(frame ID, data size) of every frame of the ID3v2 tag at the start of data, as stored,
    so that duplicates show (mutagen merges them). The tags checked here are written by
    corvella-tags, which writes neither an extended header nor unsynchronisation."""
    if len(data) < 10 or data[:3] != b"ID3" or data[3] not in (3, 4):
        return []
    end = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
    pos, frames = 10, []
    while pos + 10 <= end and data[pos] != 0:
        fid = data[pos:pos + 4].decode("latin-1")
        raw = data[pos + 4:pos + 8]
        if data[3] == 4:
            size = (raw[0] << 21) | (raw[1] << 14) | (raw[2] << 7) | raw[3]
        else:
            size = int.from_bytes(raw, "big")
        frames.append((fid, size))
        pos += 10 + size
    return frames


# The frames that the sixteen fields and the cover are written to, by tag version; a 2.3 tag
# has no TDRC and a 2.4 tag no TYER.
FIELD_FRAMES = {"TIT2", "TPE1", "TALB", "TRCK", "TCON", "COMM", "TPOS", "TBPM", "TPE2", "TCOM", "TOPE",
                "TCOP", "WOAR", "WXXX", "TENC", "USLT", "APIC"}
YEAR_FRAME = {3: "TYER", 4: "TDRC"}


def frame_faults(before, after):
    """Faults of the ID3v2 tag in `after` against the file `before` it was written over."""
    if len(after) < 10 or after[:3] != b"ID3":
        return []
    version = after[3]
    if version not in YEAR_FRAME:
        return ["written as version 2.%d" % version]
    frames = id3v2_frames(after)
    old = {}
    for fid, _size in id3v2_frames(before):
        old[fid] = old.get(fid, 0) + 1
    faults = []
    allowed = FIELD_FRAMES | {YEAR_FRAME[version]}
    counts = {}
    for fid, size in frames:
        counts[fid] = counts.get(fid, 0) + 1
        if size <= 1:
            faults.append("empty %s frame" % fid)
    for fid, n in sorted(counts.items()):
        if n > max(1, old.get(fid, 0)):
            faults.append("%d %s frames" % (n, fid))
        if fid not in allowed and fid not in old:
            faults.append("%s frame added" % fid)
    wrong_year = YEAR_FRAME[7 - version]
    if wrong_year in counts:
        faults.append("%s frame in a 2.%d tag" % (wrong_year, version))
    return faults


def record_of(show):
    return {name: show["record"][name] for name, _key in FIELDS}


def picture_detail(pictures):
    return ", ".join("%s %d bytes" % (mime, len(data)) for mime, data in pictures) or "none"


# Checks -------------------------------------------------------------------------------------

def check_expected_fixtures(checks, tool, data_dir, fixtures, known_differences):
    """Every fixture has its EXPECTED.jsonl line and loads its values (check_expected), apart
    from the calling suite's known differences."""
    global KNOWN_DIFFERENCES
    KNOWN_DIFFERENCES = known_differences
    with open(os.path.join(data_dir, "EXPECTED.jsonl"), encoding="utf-8") as f:
        expected = {e["file"]: e for e in (json.loads(line) for line in f if line.strip())}
    for rel in fixtures:
        if not checks.check("EXPECTED.jsonl has %s" % rel, rel in expected):
            continue
        try:
            check_expected(checks, tool, data_dir, expected[rel])
        except Exception as e:  # noqa: BLE001 - any failure is one failed check
            checks.check("EXPECTED.jsonl values of %s" % rel, False, str(e))


def check_expected(checks, tool, data_dir, exp):
    """The fixture loads the sixteen values and the cover of its EXPECTED.jsonl line."""
    rel = exp["file"]
    name = "EXPECTED.jsonl values of %s" % rel
    try:
        show = show_json(tool, os.path.join(data_dir, rel))
    except Exception as e:  # noqa: BLE001 - any failure is one failed check
        checks.check(name, False, str(e))
        return
    diffs = []
    for field, key in FIELDS:
        want = normalise(key, exp[key])
        got = normalise(key, show["record"][field])
        known = KNOWN_DIFFERENCES.get((rel, key))
        if known is not None and got == normalise(key, known[0]):
            print("NOTE %s %s: EXPECTED.jsonl has %r, corvella-tags loads %r: %s" % (rel, key, want, got, known[1]))
            continue
        if want != got:
            diffs.append("%s: want %r, got %r" % (field, want, got))
    checks.check(name, not diffs, "; ".join(diffs))

    name = "EXPECTED.jsonl cover of %s" % rel
    if not exp["pictures"]:
        checks.check(name, show["record"]["CoverSize"] == 0, "a cover of %d bytes" % show["record"]["CoverSize"])
        return
    data = cover_bytes(tool, os.path.join(data_dir, rel))
    sha1 = hashlib.sha1(data).hexdigest() if data else None
    checks.check(name, sha1 == exp["picture_sha1"] and show["record"]["CoverMime"] == exp["picture_mime"],
                 "want %s sha1 %s, got %r sha1 %s" % (exp["picture_mime"], exp["picture_sha1"],
                                                      show["record"]["CoverMime"], sha1))


def leftovers(path):
    folder, name = os.path.split(path)
    return sorted(n for n in os.listdir(folder) if n != name)


def drop_backup(path):
    """A failed save leaves its backup beside the file, and the next save would refuse to
    overwrite it: remove it so that one failure does not fail every later check."""
    backup = path + ".qln_bak"
    if os.path.exists(backup):
        os.remove(backup)


def run_round(checks, tool, images, readers, scratch, label, path, md5, had_v1, round_no, image_name,
              values):
    name = "%s, round %d (%s)" % (label, round_no, image_name)
    image = read_bytes(os.path.join(images, image_name))
    before = read_bytes(path)
    assignments = ["%s=%s" % (field, values[field]) for field, _key in FIELDS]
    r = run_tool(tool, "set", path, *assignments, "--cover", os.path.join(images, image_name))
    if not checks.check("set %s" % name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        drop_backup(path)
        return False
    if stderr_of(r):
        print("INFO corvella-tags said for %s: %s" % (name, stderr_of(r).replace("\n", " | ")))
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    data = read_bytes(path)
    print("INFO %s: ID3v2 version %s, %d bytes" % (name, id3v2_version(data), len(data)))
    faults = frame_faults(before, data)
    checks.check("no duplicate, empty, added or out-of-version frame after %s" % name, not faults,
                 "; ".join(faults))

    ref = reference_read(path)
    want = {key: normalise(key, values[field]) for field, key in FIELDS}
    checks.check("mutagen reads the values of %s" % name, not compare(want, ref.fields),
                 "tags %s; %s" % ("+".join(ref.tag_types) or "none", compare(want, ref.fields)))
    mime = image_mime(image)
    checks.check("mutagen reads the picture of %s" % name,
                 len(ref.pictures) == 1 and ref.pictures[0] == (mime, image),
                 "want one %s of %d bytes, got %s" % (mime, len(image), picture_detail(ref.pictures)))
    check_other_readers(checks, readers, scratch, path, name, want, image)

    probe = ffprobe_tags(path)
    want_probe = {k: values[k.capitalize()] for k in ("title", "artist", "album")}
    checks.check("ffprobe reads title, artist and album of %s" % name,
                 probe is not None and not compare(want_probe, probe),
                 "ffprobe failed" if probe is None else compare(want_probe, probe))
    checks.check("same audio md5 after %s" % name, audio_md5(path) == md5)
    if had_v1:
        checks.check("ID3v1 tag kept after %s" % name, has_id3v1(data))

    try:
        show = show_json(tool, path)
        got = {field: clean(show["record"][field]) for field, _key in FIELDS}
        mine = {field: clean(values[field]) for field, _key in FIELDS}
        checks.check("corvella-tags reads back %s" % name, not compare(mine, got), compare(mine, got))
        checks.check("corvella-tags reads back the picture of %s" % name,
                     show["record"]["CoverMime"] == mime and cover_bytes(tool, path) == image,
                     "mime %r, %d bytes" % (show["record"]["CoverMime"], show["record"]["CoverSize"]))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags reads back %s" % name, False, str(e))
    return True


def run_no_edit_saves(checks, tool, label, path, md5):
    """Two saves without an edit: the second leaves the file as the first did, nothing lost."""
    try:
        title = show_json(tool, path)["record"]["Title"]
    except Exception as e:  # noqa: BLE001
        checks.check("load %s before saving without an edit" % label, False, str(e))
        return
    original = read_bytes(path)
    ref_before = reference_read(path)
    for command, assignment in (("set", "Title=" + title), ("set-entry", "TITLE=" + title)):
        name = "%s, %s %s twice" % (label, command, assignment.split("=")[0] + "=<same>")
        outputs = []
        for _ in range(2):
            r = run_tool(tool, command, path, assignment)
            if not checks.check("%s (run %d)" % (name, len(outputs) + 1), r.returncode == 0,
                                "exit %d: %s" % (r.returncode, stderr_of(r))):
                drop_backup(path)
                break
            outputs.append(read_bytes(path))
        if len(outputs) < 2:
            continue
        if command == "set":
            checks.check("%s writes nothing" % name, outputs[0] == original,
                         "%d bytes before, %d after" % (len(original), len(outputs[0])))
        first, second = outputs
        diff_at = next((i for i in range(min(len(first), len(second))) if first[i] != second[i]),
                       min(len(first), len(second)))
        checks.check("%s: byte-identical the second time" % name, first == second,
                     "%d bytes then %d, first difference at offset %d" % (len(first), len(second), diff_at))
        checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))

    ref_after = reference_read(path)
    checks.check("mutagen reads the same values after %s saved without an edit" % label,
                 not compare(ref_before.fields, ref_after.fields), compare(ref_before.fields, ref_after.fields))
    checks.check("mutagen reads the same pictures after %s saved without an edit" % label,
                 ref_before.pictures == ref_after.pictures,
                 "before %s, after %s" % (picture_detail(ref_before.pictures), picture_detail(ref_after.pictures)))
    checks.check("same audio md5 after %s saved without an edit" % label, audio_md5(path) == md5)


def run_read_only(checks, tool, label, path):
    """A file without write permission is refused and left as it was (judged by its mode
    bits, so that this holds when the tests run as root)."""
    os.chmod(path, 0o444)
    before = read_bytes(path)
    r = run_tool(tool, "set", path, "Title=Not written")
    checks.check("set refuses the read-only %s and leaves it as it was" % label,
                 r.returncode != 0 and read_bytes(path) == before,
                 "exit %d: %s; file %s" % (r.returncode, stderr_of(r),
                                          "unchanged" if read_bytes(path) == before else "changed"))


def main():
    args = setup(("ffmpeg", "ffprobe"))
    if args is None:
        return SKIP

    readers = [("eyeD3", eyed3_missing()), ("kid3-cli", kid3_missing())]
    for reader, missing in readers:
        if missing:
            print("SKIP every %s check: %s" % (reader, missing))

    checks = Checks()
    tool = args.tool
    data_dir = os.path.abspath(args.data)
    images = os.path.join(data_dir, "images")
    mp3_dir = os.path.join(data_dir, "mp3")
    fixtures = sorted(n for n in os.listdir(mp3_dir) if n.lower().endswith(".mp3"))
    for name in fixtures:
        if name in NOT_YET_SUPPORTED:
            print("SKIP mp3/%s: %s" % (name, NOT_YET_SUPPORTED[name]))
    fixtures = [n for n in fixtures if n not in NOT_YET_SUPPORTED]
    checks.check("MP3 fixtures found", len(fixtures) >= 5, "%d" % len(fixtures))

    with open(os.path.join(data_dir, "EXPECTED.jsonl"), encoding="utf-8") as f:
        expected = {e["file"]: e for e in (json.loads(line) for line in f if line.strip())}
    for name in fixtures:
        rel = "mp3/" + name
        if checks.check("EXPECTED.jsonl has %s" % rel, rel in expected):
            check_expected(checks, tool, data_dir, expected[rel])

    with tempfile.TemporaryDirectory(prefix="corvella-interop-mp3-") as tmp:
        scratch = os.path.join(tmp, "scratch")
        os.mkdir(scratch)
        for name in fixtures:
            label = "mp3/" + name
            md5 = None
            # Three copies, each in its own folder so that anything a save leaves beside the file
            # shows: one saved without an edit as the other tools made it, one edited, and one
            # without write permission.
            for kind in ("as made", "edited", "read-only"):
                folder = os.path.join(tmp, "%s-%s" % (os.path.splitext(name)[0], kind.replace(" ", "-")))
                os.mkdir(folder)
                path = os.path.join(folder, name)
                # copyfile leaves the permission bits behind: the fixtures are read-only, and
                # a copy that kept their mode would be refused by every save.
                shutil.copyfile(os.path.join(mp3_dir, name), path)
                if md5 is None:
                    md5 = audio_md5(path)
                    if not checks.check("ffmpeg decodes %s" % label, md5 is not None):
                        break
                if kind == "as made":
                    run_no_edit_saves(checks, tool, label + " as the other tools made it", path, md5)
                    continue
                if kind == "read-only":
                    run_read_only(checks, tool, label, path)
                    continue
                had_v1 = has_id3v1(read_bytes(path))
                for round_no, (image_name, values) in enumerate(ROUNDS, 1):
                    run_round(checks, tool, images, readers, scratch, label, path, md5, had_v1, round_no,
                              image_name, values)
                run_no_edit_saves(checks, tool, label + " after the two rounds", path, md5)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
