#!/usr/bin/python3
"""The native tags of WAV and RF64 files (RIFF INFO list, "bext", "cart") beside their ID3 chunk:
what corvella-tags writes, independent readers read, and every other chunk stays as it was.

For every WAV and RF64 fixture (the wav/ and rf64/ lines of tests/data/MANIFEST.tsv), on
temporary copies, each in a folder of its own:
  * the `show --json` record holds the values and the cover of the fixture's EXPECTED.jsonl
    line, and the chunk walker here finds the fixture's form sound;
  * a save without an edit (`set FILE Title=<its title>`, `set-entry FILE TITLE=<its title>`)
    writes nothing: same bytes, same modification time;
  * `set FILE Field=Value... --cover IMAGE` with all sixteen fields (the two rounds of
    interop_mp3.py: non-ASCII text, Track 4/12, Disc 1/2, comments and lyrics of several
    lines; a PNG cover, then a JPEG cover). After each round:
      - mutagen reads the sixteen values and the one cover from the ID3 chunk (mutagen.wave
        for a RIFF form; for RF64, which mutagen.wave does not open, mutagen.id3 reads the
        chunk's bytes as the walker here finds them);
      - the INFO list, walked item by item here, holds no old value: an item of a field
        (INAM, IART, IPRD, ICRD or IYER, ITRK or IPRT, IGNR, ICMT, IBPM, ICOM or IMUS, ICOP,
        IURL or IBSU, ITCH, ILYR) holds the new value in UTF-8, is the field's only item and
        has the id the file kept it under; every other item keeps its bytes and order. A field
        the list had keeps its item, and so does every field of a file without an ID3 chunk
        and every field the save changes, unless corvella-tags keeps that value under an entry
        name without an INFO id (a web address read from the ID3 chunk's WOAR frame is
        ARTISTURL): that one goes to the ID3 chunk alone, with a NOTE. A file that had an INFO
        list or no tags at all has one after the save; a file whose tags were in its ID3 chunk
        alone gets the values there, and no INFO list;
      - ffprobe reads title, artist, album, date, genre, comment, copyright, track and
        encoded_by as written (it shows the INFO list when the file has one, the ID3 chunk
        otherwise: which one is printed; both hold the same values, as checked above);
      - corvella-tags reads its values and the cover back;
  * `set FILE Title=x` changes the title alone: INAM in the INFO list (other items keep their
    bytes), TIT2 in the ID3 chunk (the other frames keep their values), and the "bext" chunk
    keeps every byte;
  * for the fixtures with a "bext" chunk, `set-entry FILE "BEXT Description=..." "BEXT
    Originator=..."`: mediainfo reads description and originator back and the coding history
    stays; the chunk changes in those two fields only; non-ASCII text goes in as UTF-8 and
    corvella-tags reads it back;
  * `remove FILE` leaves no INFO list, "bext", "cart" or ID3 chunk (walked here), mutagen
    finds no ID3 tag, and corvella-tags none;
  * a copy without write permission is refused and left as it was.
After every write: ffmpeg decodes the same audio (md5); every chunk the tags do not own (all but
LIST/INFO, "bext", "cart", "id3 "/"ID3 ") keeps its bytes and its place in the order (for RF64,
"ds64" apart from its RIFF size, and with the same data size); the form's sizes are right (RIFF:
the RIFF size is the file size - 8; RF64: FFFFFFFF hex in the RIFF header and in the "data"
header, the ds64 RIFF size is the file size - 8, the ds64 data size is the data chunk's) and the
chunks end where the file ends; the file holds at most one INFO list, one "bext", one "cart" and
one ID3 chunk (which keeps the case of its id); nothing is left beside the file.

The RF64 fixture whose ds64 sizes disagree with the file (another tagger wrote it) is read but
not written: `set` and `remove` are refused (non-zero exit), the file keeps every byte, and
nothing is left beside it.

Usage: interop_wav.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen, ffmpeg or ffprobe is missing, 1 when any check failed. Without
mediainfo (Debian package mediainfo) its checks print a SKIP line and the rest runs.
Closes with the line "N passed, N failed".
"""

import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from interop_common import Checks, SKIP, audio_md5, compare, missing, note_once, run_tool, setup, show_json
from interop_mp3 import (FIELDS, REF_KEY, ROUNDS, Reading, check_expected_fixtures, from_id3, image_mime, leftovers,
                         normalise, picture_detail, read_bytes, run_read_only, stderr_of)
from interop_mp4 import check_own_title_writes_nothing, check_reads_back, guarded, set_ok

FOLDERS = ("wav", "rf64")
# Written by another tagger with ds64 sizes that disagree with the file: read, never written.
INCONSISTENT = "rf64/rf64-id3-kid3-inconsistent.wav"

# Differences between a fixture's EXPECTED.jsonl line and what corvella-tags loads that are
# faults of the reader that wrote EXPECTED.jsonl, not of corvella-tags:
#   (fixture, EXPECTED.jsonl key) -> (the value corvella-tags rightly loads, the reason).
KNOWN_DIFFERENCES = {
}

# The INFO ids each field of the record is kept under: the id a new item gets first, then the
# ids other programs use, which a save keeps when the file has them. Disc, AlbumArtist and
# OrigArtist have no INFO id: they live in the ID3 chunk alone.
INFO_FIELDS = {
    "Title": ["INAM"], "Artist": ["IART"], "Album": ["IPRD", "IALB"], "Year": ["ICRD", "IYER"],
    "Track": ["ITRK", "IPRT", "itrk"], "Genre": ["IGNR"], "Comment": ["ICMT"], "BPM": ["IBPM"],
    "Composer": ["ICOM", "IMUS"], "Copyright": ["ICOP", "BCPR"], "URL": ["IURL", "IBSU"],
    "EncodedBy": ["ITCH"], "Lyrics": ["ILYR"],
}
INFO_IDS = {i for ids in INFO_FIELDS.values() for i in ids}
# The entry names corvella-tags keeps each field under (the first that holds a value, else the
# first), and those of them that have an INFO id.
ENTRY_NAMES = {
    "Title": ["TITLE"], "Artist": ["ARTIST"], "Album": ["ALBUM"],
    "Year": ["YEAR", "DATE", "RELEASEDATE", "ORIGINALRELEASEDATE", "RECORDINGDATE"],
    "Track": ["TRACKNUMBER", "TRACK"], "Genre": ["GENRE"], "Comment": ["COMMENT", "DESCRIPTION"],
    "BPM": ["BPM"], "Composer": ["COMPOSER"], "Copyright": ["COPYRIGHT"], "URL": ["URL", "ARTISTURL", "WEBSITE"],
    "EncodedBy": ["ENCODEDBY", "ENCODED-BY"], "Lyrics": ["LYRICS", "UNSYNCEDLYRICS"],
}
INFO_NAMES = {"TITLE", "ARTIST", "ALBUM", "YEAR", "RECORDINGDATE", "TRACKNUMBER", "TRACK", "GENRE", "COMMENT",
              "BPM", "COMPOSER", "COPYRIGHT", "URL", "ENCODEDBY", "LYRICS"}
# ffprobe's keys for the fields it shows, and the record field each holds.
PROBE_KEYS = {"title": "Title", "artist": "Artist", "album": "Album", "date": "Year", "genre": "Genre",
              "comment": "Comment", "copyright": "Copyright", "track": "Track", "encoded_by": "EncodedBy"}
# Keys by which ffprobe's tags show which chunk it read: INFO ids it has no name for, and ID3
# fields the INFO list does not hold.
PROBE_INFO_KEYS = {"IBPM", "ICOM", "IMUS", "IURL", "IBSU", "ILYR"}
PROBE_ID3_KEYS = {"album_artist", "disc", "TOPE", "TBPM", "composer"}

# The fixed part of "bext": Description (256 bytes), Originator (32), OriginatorReference (32),
# OriginationDate (10), OriginationTime (8), TimeReference (8), Version (2), UMID (64),
# loudness (10), reserved (180); the coding history follows.
BEXT_FIXED = 602
BEXT_DESCRIPTION = (0, 256)
BEXT_ORIGINATOR = (256, 288)
# EBU Tech 3285 makes these fields ASCII; the values mediainfo is asked about are ASCII.
BEXT_VALUES = {"BEXT Description": "Take 2, edited by the interop check",
               "BEXT Originator": "corvella interop"}
# Text beyond ASCII, which corvella-tags writes as UTF-8 (mediainfo decodes bext text as
# Latin-1, so it is read back by corvella-tags and the walker here only).
BEXT_UTF8_DESCRIPTION = "Prise deux – Ünïcödé 日本語 ♫"


# The chunks of a file, walked here ----------------------------------------------------------

class Chunk:
    def __init__(self, cid, offset, declared, payload):
        self.id = cid                 # four bytes
        self.offset = offset
        self.declared = declared      # the size field as stored
        self.payload = payload        # the bytes of the chunk's data (without the pad byte)
        self.list_type = payload[:4] if cid == b"LIST" else None

    def is_tag(self):
        """Whether the chunk belongs to the tags: an INFO list, "bext", "cart", an ID3 chunk."""
        return self.list_type == b"INFO" or self.id in (b"bext", b"cart", b"id3 ", b"ID3 ")

    def name(self):
        return self.id.decode("latin-1") + ("/" + self.list_type.decode("latin-1") if self.list_type else "")


class Form:
    """A RIFF or RF64 WAVE file as its chunks: what it says of its sizes, and the faults found
    walking it (a chunk past the end of the file, bytes after the last chunk)."""

    def __init__(self, data):
        self.size = len(data)
        self.kind = data[:4]
        self.form_type = data[8:12]
        self.riff_size = struct.unpack("<I", data[4:8])[0] if len(data) >= 8 else None
        self.ds64 = None  # (RIFF size, data size, sample count)
        self.chunks = []
        self.faults = []
        if self.kind not in (b"RIFF", b"RF64") or self.form_type != b"WAVE":
            self.faults.append("no RIFF or RF64 WAVE form (%r)" % data[:12])
            return
        pos = 12
        while pos + 8 <= len(data):
            cid = data[pos:pos + 4]
            declared = struct.unpack("<I", data[pos + 4:pos + 8])[0]
            size = declared
            if cid == b"ds64" and self.ds64 is None and declared >= 24 and pos + 32 <= len(data):
                self.ds64 = struct.unpack("<QQQ", data[pos + 8:pos + 32])
            if cid == b"data" and self.kind == b"RF64" and declared == 0xFFFFFFFF and self.ds64:
                size = self.ds64[1]
            end = pos + 8 + size
            if end > len(data):
                self.faults.append("chunk %r at %d runs %d bytes past the end of the file"
                                   % (cid, pos, end - len(data)))
                self.chunks.append(Chunk(cid, pos, declared, data[pos + 8:]))
                return
            self.chunks.append(Chunk(cid, pos, declared, data[pos + 8:end]))
            pos = end + (size & 1)
        if pos != len(data):
            self.faults.append("%d bytes after the last chunk" % (len(data) - pos))

    def find(self, test):
        return [c for c in self.chunks if test(c)]

    def info_lists(self):
        return self.find(lambda c: c.list_type == b"INFO")

    def id3_chunks(self):
        return self.find(lambda c: c.id in (b"id3 ", b"ID3 "))

    def chunk(self, cid):
        found = self.find(lambda c: c.id == cid)
        return found[0] if found else None

    def tag_chunks(self):
        return [c.name() for c in self.chunks if c.is_tag()]

    def kept(self):
        """Every chunk the tags do not own, in order, as (id, bytes): "ds64" without its RIFF
        size (bytes 0 to 7 of its data), which follows the tags' size."""
        out = []
        for c in self.chunks:
            if c.is_tag():
                continue
            body = c.payload
            if c.id == b"ds64":
                body = b"\0" * 8 + body[8:]
            out.append((c.name(), struct.pack("<I", c.declared) + body))
        return out

    def size_faults(self):
        """What is wrong with the form's sizes, its chunks and their number."""
        faults = list(self.faults)
        if self.kind == b"RIFF":
            if self.riff_size != self.size - 8:
                faults.append("RIFF size %d in a file of %d bytes" % (self.riff_size, self.size))
        elif self.kind == b"RF64":
            if self.riff_size != 0xFFFFFFFF:
                faults.append("RF64 size field %08X, not FFFFFFFF" % self.riff_size)
            if not self.chunks or self.chunks[0].id != b"ds64" or self.ds64 is None:
                faults.append("no ds64 chunk first")
            else:
                if self.ds64[0] != self.size - 8:
                    faults.append("ds64 RIFF size %d in a file of %d bytes" % (self.ds64[0], self.size))
                data = self.chunk(b"data")
                if data is not None:
                    if data.declared != 0xFFFFFFFF:
                        faults.append("RF64 data size field %08X, not FFFFFFFF" % data.declared)
                    if self.ds64[1] != len(data.payload):
                        faults.append("ds64 data size %d, data chunk of %d bytes" % (self.ds64[1], len(data.payload)))
        if self.chunk(b"data") is None:
            faults.append("no data chunk")
        for label, found in (("INFO lists", self.info_lists()), ("ID3 chunks", self.id3_chunks()),
                             ("bext chunks", self.find(lambda c: c.id == b"bext")),
                             ("cart chunks", self.find(lambda c: c.id == b"cart"))):
            if len(found) > 1:
                faults.append("%d %s" % (len(found), label))
        return faults


def info_items(form):
    """The items of the file's INFO list, as (id, value bytes), in order; None without a list."""
    lists = form.info_lists()
    if not lists:
        return None
    body = lists[0].payload
    items, pos = [], 4
    while pos + 8 <= len(body):
        iid = body[pos:pos + 4].decode("latin-1")
        size = struct.unpack("<I", body[pos + 4:pos + 8])[0]
        if pos + 8 + size > len(body):
            raise ValueError("INFO item %r runs past its list" % iid)
        items.append((iid, body[pos + 8:pos + 8 + size]))
        pos += 8 + size + (size & 1)
    if pos != len(body):
        raise ValueError("%d bytes after the last INFO item" % (len(body) - pos))
    return items


def info_text(raw):
    """An INFO value as text: UTF-8 up to its terminating zero bytes."""
    return raw.rstrip(b"\0").decode("utf-8")


def lines(text):
    return text.replace("\r\n", "\n")


def field_ids(items):
    """For every INFO field, the ids of its items, in item order."""
    return {field: [i for i, _raw in items if i in ids] for field, ids in INFO_FIELDS.items()}


def info_faults(before_items, after_items, values, required):
    """What is wrong with the INFO list after a save of values (record field -> text) over a
    list that held before_items (None: the file had none). No item holds an old value: an item
    of a field holds the new value, as UTF-8 with a terminating zero byte, and is the field's
    only item, under the id the file kept it under (the year in IYER when the file keeps one,
    else in ICRD). The fields in required have their item. Every other item keeps its bytes, in
    order."""
    before_items = before_items or []
    faults = []
    had = field_ids(before_items)
    year_id = "IYER" if "IYER" in had["Year"] else "ICRD"
    for field, ids in INFO_FIELDS.items():
        want = values[field]
        # The year's other id (a date in ICRD beside IYER) is no item of the year.
        holders = [(i, raw) for i, raw in after_items if i in ([year_id] if field == "Year" else ids)]
        if not holders:
            if field in required:
                faults.append("%s: no item (%s)" % (field, " or ".join(ids)))
            continue
        if len(holders) > 1:
            faults.append("%s in %d items (%s)" % (field, len(holders), " ".join(i for i, _r in holders)))
        iid, raw = holders[0]
        wanted_id = year_id if field == "Year" else (had[field][0] if had[field] else ids[0])
        if iid != wanted_id:
            faults.append("%s under %s, not %s" % (field, iid, wanted_id))
        if not raw.endswith(b"\0"):
            faults.append("%s: %s has no terminating zero byte" % (field, iid))
        try:
            text = info_text(raw)
        except UnicodeDecodeError:
            faults.append("%s: %s is not UTF-8: %r" % (field, iid, raw))
            continue
        if lines(text) != want:
            faults.append("%s: %s holds %r, want %r" % (field, iid, text, want))

    def others(items):
        return [(i, raw) for i, raw in items
                if i not in INFO_IDS or (i in INFO_FIELDS["Year"] and i != year_id)]

    old, new = others(before_items), others(after_items)
    if old != new:
        faults.append("other items before %r, after %r" % (old, new))
    return faults


def info_required(before_items, had_id3, record, entries, values):
    """The fields a save of values must leave an INFO item of: those the list had, and those the
    save changes, unless corvella-tags keeps the field under an entry name without an INFO id
    (the year as DATE, the web address as ARTISTURL, the ID3 chunk's WOAR frame): such a value
    goes to the ID3 chunk alone. A file without an ID3 chunk gets every field."""
    had = field_ids(before_items or [])
    names = {name.upper() for name, value in entries if value}
    required = set()
    for field in INFO_FIELDS:
        if had[field] or not had_id3:
            required.add(field)
            continue
        if normalise(REF_KEY[field], record[field]) == normalise(REF_KEY[field], values[field]):
            continue
        name = next((n for n in ENTRY_NAMES[field] if n in names), ENTRY_NAMES[field][0])
        if name in INFO_NAMES:
            required.add(field)
        else:
            note_once("%s is kept under the entry %s, which has no INFO id: it goes to the ID3 chunk alone"
                      % (field, name))
    return required


# Readers ------------------------------------------------------------------------------------

def id3_tags(path):
    """The ID3 tag mutagen reads from the file's ID3 chunk; None when there is none. mutagen.wave
    opens only RIFF forms: the ID3 chunk of an RF64 form, as the walker here finds it, goes to
    mutagen.id3."""
    import mutagen.id3
    import mutagen.wave
    data = read_bytes(path)
    if data[:4] == b"RF64":
        note_once("mutagen.wave opens no RF64 form: mutagen.id3 reads the bytes of its ID3 chunk")
        chunks = Form(data).id3_chunks()
        if not chunks:
            return None
        try:
            return mutagen.id3.ID3(io.BytesIO(chunks[0].payload))
        except mutagen.id3.ID3NoHeaderError:
            return None
    return mutagen.wave.WAVE(path).tags


def id3_reading(path):
    tags = id3_tags(path)
    if tags is None:
        return None
    r = Reading()
    from_id3(tags, r)
    return r


def id3_frames(tags):
    return [] if tags is None else sorted((key, str(frame)) for key, frame in tags.items())


def ffprobe_tags(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "json", path],
                       capture_output=True, text=True)
    if r.returncode != 0:
        return None
    return (json.loads(r.stdout or "{}").get("format") or {}).get("tags") or {}


def mediainfo_bext(path):
    """Description, originator and coding history of the "bext" chunk as mediainfo reads them."""
    r = subprocess.run(["mediainfo", "--Output=JSON", path], capture_output=True, timeout=120)
    if r.returncode != 0:
        raise RuntimeError("mediainfo exited %d: %s" % (r.returncode, stderr_of(r)))
    tracks = json.loads(r.stdout.decode("utf-8"))["media"]["track"]
    general = next(t for t in tracks if t.get("@type") == "General")
    extra = general.get("extra") or {}
    # Its own names, or the BEXT_ ones it adds when other tags take its own.
    return {"description": extra.get("BEXT_Description", general.get("Description")),
            "originator": extra.get("BEXT_Originator", general.get("Producer")),
            "coding history": extra.get("BEXT_CodingHistory", general.get("Encoded_Library_Settings"))}


# Checks -------------------------------------------------------------------------------------

class Fixture:
    def __init__(self, data_dir, rel):
        self.rel = rel
        self.source = os.path.join(data_dir, rel)
        self.original = read_bytes(self.source)
        self.form = Form(self.original)
        self.kept = self.form.kept()
        self.md5 = audio_md5(self.source)
        self.items = guarded_items(self.form)
        self.bext = self.form.chunk(b"bext")
        self.id3_ids = [c.id for c in self.form.id3_chunks()]
        self.had_tags = bool(self.form.tag_chunks())


def guarded_items(form):
    try:
        return info_items(form)
    except ValueError:
        return None


def copy_to(tmp, fx, kind):
    folder = os.path.join(tmp, "%s-%s" % (fx.rel.replace("/", "-")[:-4], kind))
    os.mkdir(folder)
    path = os.path.join(folder, os.path.basename(fx.rel))
    # copyfile leaves the mode of the (possibly read-only) fixture behind.
    shutil.copyfile(fx.source, path)
    return path


def kept_diff(before, after):
    names = ([n for n, _b in before], [n for n, _b in after])
    if names[0] != names[1]:
        return "chunks before %s, after %s" % names
    changed = [n for (n, b), (_m, a) in zip(before, after) if a != b]
    return "bytes of %s changed" % ", ".join(changed) if changed else ""


def check_form(checks, fx, path, name):
    """The form's sizes and the chunks the tags do not own, after a write; the walked form."""
    form = Form(read_bytes(path))
    faults = form.size_faults()
    checks.check("form sizes and chunks sound after %s" % name, not faults, "; ".join(faults))
    kept = form.kept()
    checks.check("every other chunk keeps its bytes and order after %s" % name, kept == fx.kept, kept_diff(fx.kept, kept))
    checks.check("same audio md5 after %s" % name, audio_md5(path) == fx.md5)
    ids = [c.id for c in form.id3_chunks()]
    if fx.id3_ids and ids:
        checks.check("the ID3 chunk keeps its id after %s" % name, ids == fx.id3_ids, "%r, was %r" % (ids, fx.id3_ids))
    return form


def check_fixture_form(checks, fx):
    faults = fx.form.size_faults()
    if fx.rel == INCONSISTENT:
        checks.check("the walker finds the ds64 sizes of %s inconsistent" % fx.rel, bool(faults), "no fault found")
        print("INFO %s: %s" % (fx.rel, "; ".join(faults)))
    else:
        checks.check("%s is a sound form (walked here)" % fx.rel, not faults, "; ".join(faults))
    checks.check("%s: its INFO list can be walked" % fx.rel, fx.items is not None or not fx.form.info_lists())
    print("INFO %s: %s chunks %s" % (fx.rel, fx.form.kind.decode(), " ".join(c.name() for c in fx.form.chunks)))


def run_round(checks, tool, images, fx, path, round_no, image_name, values):
    name = "%s, round %d (%s)" % (fx.rel, round_no, image_name)
    image = read_bytes(os.path.join(images, image_name))
    before = Form(read_bytes(path))
    before_items = guarded_items(before)
    had_info = bool(before.info_lists())
    try:
        shown = show_json(tool, path)
    except Exception as e:  # noqa: BLE001
        checks.check("load %s before %s" % (fx.rel, name), False, str(e))
        return False
    assignments = ["%s=%s" % (field, values[field]) for field, _key in FIELDS]
    if not set_ok(checks, tool, path, "set %s" % name, *assignments, "--cover", os.path.join(images, image_name)):
        return False
    form = check_form(checks, fx, path, name)
    print("INFO %s: %d bytes, chunks %s" % (name, form.size, " ".join(c.name() for c in form.chunks)))
    if fx.bext is not None:
        bext = form.chunk(b"bext")
        checks.check("bext keeps its bytes after %s" % name, bext is not None and bext.payload == fx.bext.payload)

    want = {key: normalise(key, values[field]) for field, key in FIELDS}
    try:
        ref = id3_reading(path)
    except Exception as e:  # noqa: BLE001 - a reader that fails is one failed check
        checks.check("mutagen reads the ID3 chunk of %s" % name, False, "%s: %s" % (type(e).__name__, e))
        ref = None
    else:
        checks.check("mutagen reads the ID3 chunk of %s" % name, ref is not None, "no ID3 chunk")
    if ref is not None:
        checks.check("mutagen reads the values of %s" % name, not compare(want, ref.fields), compare(want, ref.fields))
        mime = image_mime(image)
        checks.check("mutagen reads the picture of %s" % name, ref.pictures == [(mime, image)],
                     "want one %s of %d bytes, got %s" % (mime, len(image), picture_detail(ref.pictures)))

    # The INFO list: where the file had one, or had no tags at all.
    must_have_info = had_info or not fx.had_tags
    items = guarded(checks, "walk the INFO list after %s" % name, info_items, form)
    if form.info_lists() and items is not None:
        required = info_required(before_items, bool(before.id3_chunks()), shown["record"], shown["entries"], values)
        faults = info_faults(before_items, items, values, required)
        checks.check("the INFO list holds the values of %s" % name, not faults, "; ".join(faults))
    elif must_have_info:
        checks.check("an INFO list after %s" % name, False, "chunks %s" % [c.name() for c in form.chunks])
    else:
        print("INFO %s: the tags of %s were in its ID3 chunk alone; no INFO list made" % (name, fx.rel))

    probe = ffprobe_tags(path)
    if checks.check("ffprobe reads %s" % name, probe is not None):
        source = ("the INFO list" if PROBE_INFO_KEYS & set(probe) else
                  "the ID3 chunk" if PROBE_ID3_KEYS & set(probe) else "neither chunk recognisably")
        print("INFO ffprobe shows %s of %s (chunks %s)" % (source, name, " ".join(form.tag_chunks())))
        want_probe = {key: values[field] for key, field in PROBE_KEYS.items()}
        got_probe = {key: probe.get(key) for key in PROBE_KEYS}
        got_probe["comment"] = got_probe["comment"] and lines(got_probe["comment"])
        checks.check("ffprobe reads the nine values of %s" % name, not compare(want_probe, got_probe),
                     compare(want_probe, got_probe))
    check_reads_back(checks, tool, path, name, values, image)
    return True


def run_unchanged_saves(checks, tool, fx, path, label, with_set_entry=True):
    """`set FILE Title=<its title>` and `set-entry FILE TITLE=<its title>` write nothing."""
    title = check_own_title_writes_nothing(checks, tool, path, label)
    if title is None or not with_set_entry:
        return
    before = read_bytes(path)
    r = run_tool(tool, "set-entry", path, "TITLE=" + title)
    name = "%s, set-entry TITLE=<same>" % label
    if checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        checks.check("%s writes nothing" % name, read_bytes(path) == before)
        checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))


def run_title_edit(checks, tool, fx, path):
    """`set FILE Title=x` changes INAM and TIT2 alone."""
    name = "%s, set Title=x" % fx.rel
    title = "Only the title – ✓"
    before = Form(read_bytes(path))
    before_items = guarded_items(before)
    before_frames = guarded(checks, "mutagen reads %s before the title edit" % fx.rel,
                            lambda: id3_frames(id3_tags(path)))
    if not set_ok(checks, tool, path, name, "Title=" + title):
        return
    form = check_form(checks, fx, path, name)
    if fx.bext is not None:
        bext = form.chunk(b"bext")
        checks.check("bext keeps its bytes after %s" % name, bext is not None and bext.payload == fx.bext.payload)
    items = guarded(checks, "walk the INFO list after %s" % name, info_items, form)
    # A file without tags gets an INFO list of the title; one whose tags were in its ID3 chunk
    # alone gets none.
    stored = title.encode() + b"\0"
    if before_items is not None:
        want = [(i, stored if i == "INAM" else raw) for i, raw in before_items]
    else:
        want = None if fx.had_tags else [("INAM", stored)]
    checks.check("only INAM changes in the INFO list after %s" % name, items == want,
                 "want %s, got %s" % (want, items))
    after_frames = guarded(checks, "mutagen reads %s after the title edit" % fx.rel, lambda: id3_frames(id3_tags(path)))
    if before_frames is not None and after_frames:
        want = sorted([kv for kv in before_frames if kv[0] != "TIT2"] + [("TIT2", title)])
        checks.check("only TIT2 changes in the ID3 chunk after %s" % name, after_frames == want,
                     "before %r, after %r" % (before_frames, after_frames))
    elif before_frames:
        checks.check("the ID3 chunk stays after %s" % name, False, "mutagen finds no ID3 tag")
    try:
        got = show_json(tool, path)["record"]["Title"]
        checks.check("corvella-tags reads back the title after %s" % name, got == title, repr(got))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags reads back the title after %s" % name, False, str(e))


def bext_entries(tool, path):
    return {k: v for k, v in show_json(tool, path)["entries"] if k.startswith("BEXT ")}


def run_bext_edit(checks, tool, fx, path, mediainfo_missing):
    """Description and originator through set-entry; mediainfo reads them, the rest of the
    chunk keeps its bytes."""
    name = "%s, set-entry BEXT Description and Originator" % fx.rel
    before = Form(read_bytes(path))
    before_bext = before.chunk(b"bext").payload
    before_info = before.info_lists()
    old_entries = guarded(checks, "corvella-tags reads the bext entries of %s" % fx.rel, bext_entries, tool, path) or {}
    r = run_tool(tool, "set-entry", path, *["%s=%s" % kv for kv in BEXT_VALUES.items()])
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        return
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    form = check_form(checks, fx, path, name)
    bext = form.chunk(b"bext")
    if checks.check("one bext chunk after %s" % name, bext is not None):
        body = bext.payload

        def field(span):
            return body[span[0]:span[1]].split(b"\0")[0].decode("utf-8", "replace")

        got = {"BEXT Description": field(BEXT_DESCRIPTION), "BEXT Originator": field(BEXT_ORIGINATOR)}
        checks.check("the bext chunk holds description and originator after %s" % name, got == BEXT_VALUES,
                     compare(BEXT_VALUES, got))
        same = (len(body) == len(before_bext) and body[BEXT_ORIGINATOR[1]:] == before_bext[BEXT_ORIGINATOR[1]:])
        checks.check("the rest of the bext chunk (coding history included) keeps its bytes after %s" % name, same,
                     "%d bytes before, %d after" % (len(before_bext), len(body)))
    checks.check("the INFO list keeps its bytes after %s" % name,
                 [c.payload for c in form.info_lists()] == [c.payload for c in before_info])
    entries = guarded(checks, "corvella-tags reads the bext entries after %s" % name, bext_entries, tool, path)
    if entries is not None:
        want = dict(old_entries, **BEXT_VALUES)
        checks.check("corvella-tags reads the bext entries back after %s" % name, entries == want,
                     compare(want, entries))

    if mediainfo_missing:
        print("SKIP mediainfo reads the bext chunk after %s: %s" % (name, mediainfo_missing))
    else:
        mi = guarded(checks, "mediainfo reads %s" % name, mediainfo_bext, path)
        if mi is not None:
            history = before_bext[BEXT_FIXED:].rstrip(b"\0").decode("utf-8").replace("\r\n", "\n").strip()
            want = {"description": BEXT_VALUES["BEXT Description"], "originator": BEXT_VALUES["BEXT Originator"],
                    "coding history": history}
            got = dict(mi)
            if got["coding history"] is not None:
                got["coding history"] = got["coding history"].replace(" / ", "\n").strip()
            checks.check("mediainfo reads description, originator and coding history after %s" % name,
                         not compare(want, got), compare(want, got))

    # Text beyond ASCII: UTF-8 in the field, read back.
    name = "%s, set-entry a non-ASCII BEXT Description" % fx.rel
    r = run_tool(tool, "set-entry", path, "BEXT Description=" + BEXT_UTF8_DESCRIPTION)
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        return
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    form = check_form(checks, fx, path, name)
    bext = form.chunk(b"bext")
    stored = bext.payload[BEXT_DESCRIPTION[0]:BEXT_DESCRIPTION[1]].split(b"\0")[0] if bext else None
    checks.check("the description is stored as UTF-8 after %s" % name, stored == BEXT_UTF8_DESCRIPTION.encode(),
                 repr(stored))
    entries = guarded(checks, "corvella-tags reads the bext entries after %s" % name, bext_entries, tool, path)
    if entries is not None:
        checks.check("corvella-tags reads the description back after %s" % name,
                     entries.get("BEXT Description") == BEXT_UTF8_DESCRIPTION, repr(entries.get("BEXT Description")))


def run_remove(checks, tool, fx, path, label):
    name = "%s, remove" % label
    r = run_tool(tool, "remove", path)
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        return
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    form = check_form(checks, fx, path, name)
    checks.check("no INFO list, bext, cart or ID3 chunk after %s" % name, not form.tag_chunks(),
                 " ".join(form.tag_chunks()))
    tags = guarded(checks, "mutagen reads %s" % name, id3_tags, path)
    checks.check("mutagen finds no ID3 tag after %s" % name, tags is None, repr(id3_frames(tags)))
    try:
        show = show_json(tool, path)
        checks.check("corvella-tags finds no tag after %s" % name,
                     show["tags"] == [] and show["entries"] == [] and show["pictures"] == [],
                     "tags %s, %d entries" % (show["tags"], len(show["entries"])))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags finds no tag after %s" % name, False, str(e))


def run_refused(checks, tool, fx, tmp):
    """The form with inconsistent ds64 sizes: a save and a remove are refused, the file keeps
    its bytes, nothing is left beside it."""
    path = copy_to(tmp, fx, "refused")
    run_unchanged_saves(checks, tool, fx, path, fx.rel, with_set_entry=False)
    checks.check("%s keeps its bytes after the save without an edit" % fx.rel, read_bytes(path) == fx.original)
    for command, args in (("set", ["Title=Not written", "Comment=nor this"]), ("remove", [])):
        name = "%s on %s" % (command, fx.rel)
        r = run_tool(tool, command, path, *args)
        checks.check("%s is refused" % name, r.returncode != 0, "exit 0")
        if r.returncode != 0:
            print("INFO %s: %s" % (name, stderr_of(r)))
        checks.check("%s leaves the file as it was" % name, read_bytes(path) == fx.original)
        left = leftovers(path)
        checks.check("nothing left beside the file after the refused %s" % name, not left, ", ".join(left))
        # Whatever a refusal left must not block the next step.
        for entry in left:
            os.remove(os.path.join(os.path.dirname(path), entry))


def fixture_list(checks, data_dir):
    """The WAV and RF64 fixtures: the wav/ and rf64/ lines of MANIFEST.tsv, each a file there,
    and every .wav file of those folders in the manifest."""
    with open(os.path.join(data_dir, "MANIFEST.tsv"), encoding="utf-8") as f:
        listed = [line.split("\t")[0] for line in f if line.split("\t")[0].split("/")[0] in FOLDERS]
    on_disk = sorted("%s/%s" % (folder, n) for folder in FOLDERS
                     for n in os.listdir(os.path.join(data_dir, folder)) if n.lower().endswith(".wav"))
    checks.check("MANIFEST.tsv lists every WAV and RF64 fixture", sorted(listed) == on_disk,
                 "listed %s, on disk %s" % (sorted(listed), on_disk))
    fixtures = sorted(set(listed) & set(on_disk))
    checks.check("WAV and RF64 fixtures found, the inconsistent RF64 among them",
                 len(fixtures) >= 8 and INCONSISTENT in fixtures and any(f.startswith("rf64/") for f in fixtures),
                 ", ".join(fixtures))
    return fixtures


def main():
    args = setup(("ffmpeg", "ffprobe"))
    if args is None:
        return SKIP
    mediainfo_missing = missing("mediainfo", "mediainfo")
    if mediainfo_missing:
        print("SKIP every mediainfo check: %s" % mediainfo_missing)

    checks = Checks()
    tool = args.tool
    data_dir = os.path.abspath(args.data)
    images = os.path.join(data_dir, "images")
    rels = fixture_list(checks, data_dir)
    check_expected_fixtures(checks, tool, data_dir, rels, KNOWN_DIFFERENCES)

    with tempfile.TemporaryDirectory(prefix="corvella-interop-wav-") as tmp:
        for rel in rels:
            fx = Fixture(data_dir, rel)
            if not checks.check("ffmpeg decodes %s" % rel, fx.md5 is not None):
                continue
            check_fixture_form(checks, fx)
            if rel == INCONSISTENT:
                run_refused(checks, tool, fx, tmp)
                continue

            # As made: saves without an edit, a title edit, the bext fields, then remove.
            path = copy_to(tmp, fx, "as-made")
            run_unchanged_saves(checks, tool, fx, path, rel + " as made")
            run_title_edit(checks, tool, fx, path)
            if fx.bext is not None:
                run_bext_edit(checks, tool, fx, path, mediainfo_missing)
            run_remove(checks, tool, fx, path, rel + " as made")

            # Edited: the rounds of all sixteen fields and a cover, a save without an edit, remove.
            path = copy_to(tmp, fx, "edited")
            for round_no, (image_name, values) in enumerate(ROUNDS, 1):
                run_round(checks, tool, images, fx, path, round_no, image_name, values)
            run_unchanged_saves(checks, tool, fx, path, rel + " after the rounds")
            run_remove(checks, tool, fx, path, rel + " after the rounds")

            run_read_only(checks, tool, rel, copy_to(tmp, fx, "read-only"))

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
