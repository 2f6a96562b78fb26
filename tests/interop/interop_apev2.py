#!/usr/bin/python3
"""APEv2 interoperability of corvella-tags with independent readers.

For every APEv2 fixture (tests/data/wv, with a tag and without; tests/data/mpc; the MP3
fixtures that carry an APEv2 tag, one of them behind it a Lyrics3 v2.00 block and an ID3v1
record, and before it an ID3v2 tag), on temporary copies:
  * `corvella-tags set FILE Field=Value... --cover IMAGE` writes all sixteen fields (the two
    rounds of interop_mp3.py) with a PNG cover, then other values with a JPEG cover. After
    each round:
      - mutagen's APEv2 reader reads the same sixteen values, with the key mapping that
        produced EXPECTED.jsonl (Title, Artist, Album, Year or Date, Track "N/T", Disc or
        DiscNumber, Album Artist or AlbumArtist, ..., compared without regard to ASCII case),
        and the pictures: the new cover first, as a binary item "Cover Art (Front)" holding a
        description, 0x00 and the image bytes, then every other picture the file had;
      - the tag, walked item by item here: a header and a footer that agree with each other
        and with the items (version 2000, size, item count, flags), keys of printable ASCII
        that no other item has (ASCII case folding), text values in UTF-8; no field in two
        items (Disc beside DiscNumber), no item added but the sixteen fields and the cover,
        each field in the item that held it before under the same key ("Album Artist" stays
        "Album Artist"), and every item the round does not write with its exact bytes (key,
        flags, value): the binary item that is no picture, the external locator, the other
        picture;
      - in an MP3, an ID3v2 tag holds the same values for mutagen's ID3 reader, and the
        cover when the round changed the file's cover (a cover equal to the one the file
        showed is not written), the Lyrics3 block after the APEv2 tag keeps its bytes, and
        the ID3v1 record after it holds the new title, artist, year and track;
      - kid3-cli and ffprobe (title, artist, album) read the same: from the APEv2 tag of a
        WavPack or Musepack file, from the ID3v2 tag of an MP3; kid3-cli leaves the file as
        it was;
      - the audio is where it was: the bytes between the ID3v2 tag (if any) and the APEv2
        tag are those of the fixture, ffmpeg decodes the same audio (md5), and
        `wvunpack -v` verifies a WavPack file;
      - no backup or temporary file is left beside the file, and corvella-tags reads its own
        values and picture back.
  * `set FILE Title=<the same title>` writes nothing (same bytes, same modification time), on
    the fixture as made and after the rounds.
  * `set FILE Title=x` changes the title item only (other items, the Lyrics3 block and the
    ID3v1 record but its title keep their bytes).
  * `set FILE --no-cover` removes the cover item only; then `remove FILE` leaves exactly the
    audio bytes: no APEv2 tag (mutagen raises APENoHeaderError), no ID3v2 tag, no Lyrics3
    block and no ID3v1 record, and the same decoded audio. This runs on the fixture as made
    and after the rounds.
  * A copy without write permission is refused and left as it was.
Also every fixture's `show --json` record holds the values and the cover of its EXPECTED.jsonl
line, and the walker here reads the tag of every fixture as made.

The MP3 audio md5 is taken of the audio frames alone (the bytes between the tags): ffmpeg's
MP3 reader stops trimming the encoder delay and padding when the file is more than a
sixteenth longer than its Xing header says, which the size of the trailing tags decides.
ffmpeg reads no APEv2 tag of an MP3 at all, and kid3-cli lists it as its tag 3 (its reader does not
find one in front of a Lyrics3 block): in an MP3 both are asked about the ID3v2 tag, and skipped
when there is none.

The fixtures made for this suite are built by `interop_apev2.py --make-fixtures DATA` (see
make_fixtures below); their lines in tests/data/MANIFEST.tsv name the programs.

Usage: interop_apev2.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen, ffmpeg or ffprobe is missing, 1 when any check failed. A
missing kid3-cli or wvunpack turns each of its checks into a SKIP line and the rest runs.
Closes with the line "N passed, N failed".
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

from interop_common import Checks, SKIP, audio_md5, compare, missing, report_missing, run_tool, setup, skipped
from interop_id3v1 import LYRICS3_FIELDS, id3v2_size, lyrics3_block
from interop_mp3 import (APE_KEYS, FIELDS, ROUNDS, Reading, check_expected_fixtures, cover_bytes, drop_backup, ffprobe_tags,
                         from_ape, from_id3, image_mime, kid3_frames, kid3_picture, kid3_read, leftovers, normalise,
                         picture_detail, read_bytes, stderr_of)
from interop_mp4 import check_own_title_writes_nothing, check_reads_back, guarded, run_read_only, set_ok

# Differences between a fixture's EXPECTED.jsonl line and what corvella-tags loads that are
# faults of the reader that wrote EXPECTED.jsonl, not of corvella-tags:
#   (fixture, EXPECTED.jsonl key) -> (the value corvella-tags rightly loads, the reason).
KNOWN_DIFFERENCES = {
}

FRONT_COVER = b"cover art (front)"
HEADER_FLAGS = 0xA0000000  # has a header, has a footer, this is the header
FOOTER_FLAGS = 0x80000000  # has a header, has a footer, this is the footer
TEXT, BINARY, EXTERNAL = 0, 1, 2

# The item keys (ASCII case folded) each field is read from, with the mapping behind
# EXPECTED.jsonl; a field in two of its group's items is a fault.
FIELD_GROUPS = {name: {k.lower().encode() for k in keys} for name, keys in APE_KEYS.items()}
FIELD_KEYS = set().union(*FIELD_GROUPS.values())
# The keys a save may add to a tag that had no item for the field.
NEW_KEYS = {k.lower().encode() for k in (
    "Title", "Artist", "Album", "Year", "Date", "Track", "TrackNumber", "Genre", "Comment", "Disc", "DiscNumber",
    "BPM", "AlbumArtist", "Album Artist", "Composer", "OriginalArtist", "Original Artist", "Copyright", "URL",
    "EncodedBy", "Encoded By", "Lyrics")} | {FRONT_COVER}

# kid3-cli's names for the sixteen fields of an APEv2 tag (compared without regard to case):
# its own name first, then the item key it shows when it has no name for it.
KID3_APE_NAMES = {
    "title": ["title"], "artist": ["artist"], "album": ["album"], "year": ["date", "year"],
    "track": ["track number", "track"], "genre": ["genre"], "comment": ["comment"],
    "disc": ["disc number", "disc", "discnumber"], "bpm": ["bpm"],
    "albumartist": ["album artist", "albumartist"], "composer": ["composer"],
    "originalartist": ["original artist", "originalartist"], "copyright": ["copyright"], "url": ["website", "url"],
    "encodedby": ["encoded-by", "encodedby", "encoded by"], "lyrics": ["lyrics"],
}


# The tags of a file, walked here ----------------------------------------------------------------

class Item:
    """One APEv2 item as stored: key (bytes), flags, value, and its bytes in the file."""

    def __init__(self, key, flags, value, raw):
        self.key = key
        self.flags = flags
        self.value = value
        self.raw = raw
        self.fold = key.lower()  # bytes.lower() folds ASCII only
        self.kind = (flags >> 1) & 3

    def is_picture(self):
        """A picture as the reader behind EXPECTED.jsonl takes one: a binary "Cover Art" item."""
        return self.kind == BINARY and self.fold.startswith(b"cover art")

    def show(self):
        return self.key.decode("latin-1")


def walk_ape(data, footer_end, floor):
    """The APEv2 tag whose footer ends at footer_end: (start, items, faults). A tag that cannot
    be walked at all raises ValueError."""
    footer = data[footer_end - 32:footer_end]
    version, size, count, flags = struct.unpack("<4I", footer[8:24])
    faults = []
    if version != 2000:
        faults.append("footer version %d" % version)
    if flags != FOOTER_FLAGS:
        faults.append("footer flags %#010x, not %#010x" % (flags, FOOTER_FLAGS))
    if any(footer[24:32]):
        faults.append("footer reserved bytes not zero")
    items_start = footer_end - size
    if size < 32 or items_start < floor:
        raise ValueError("the footer gives a tag size of %d bytes, %d are there" % (size, footer_end - floor))
    start = items_start
    if flags & 0x80000000:
        start -= 32
        header = data[start:items_start]
        if start < floor or header[:8] != b"APETAGEX":
            faults.append("the footer announces a header that is not there")
        else:
            h = struct.unpack("<4I", header[8:24])
            if h != (version, size, count, HEADER_FLAGS):
                faults.append("header (version, size, count, flags) %s, footer %s; a header has flags %#010x" % (
                    (h[0], h[1], h[2], hex(h[3])), (version, size, count, hex(flags)), HEADER_FLAGS))
            if any(header[24:32]):
                faults.append("header reserved bytes not zero")
    else:
        faults.append("no header")
    items, pos, end = [], items_start, footer_end - 32
    while pos < end:
        if pos + 8 > end:
            raise ValueError("%d stray bytes after item %d" % (end - pos, len(items)))
        vsize, iflags = struct.unpack("<2I", data[pos:pos + 8])
        zero = data.find(b"\0", pos + 8, end)
        if zero < 0 or zero + 1 + vsize > end:
            raise ValueError("item %d at %d runs past the items" % (len(items), pos))
        key = data[pos + 8:zero]
        items.append(Item(key, iflags, data[zero + 1:zero + 1 + vsize], data[pos:zero + 1 + vsize]))
        pos = zero + 1 + vsize
    if count != len(items):
        faults.append("the footer counts %d items, the tag holds %d" % (count, len(items)))
    seen = {}
    for it in items:
        if not 2 <= len(it.key) <= 255 or any(b < 0x20 or b > 0x7E for b in it.key):
            faults.append("key %r is not 2 to 255 printable ASCII characters" % it.key)
        if it.fold in seen:
            faults.append("key %s beside %s" % (it.show(), seen[it.fold]))
        seen.setdefault(it.fold, it.show())
        if it.kind == TEXT:
            try:
                it.value.decode("utf-8")
            except UnicodeDecodeError:
                faults.append("text item %s not UTF-8" % it.show())
    return start, items, faults


class Layout:
    """Where the tags of a file lie: an ID3v2 tag at the start; at the end an APEv2 tag, then a
    Lyrics3 v2.00 block, then an ID3v1 record, each optional. audio is what lies between."""

    def __init__(self, data):
        self.id3v2_end = id3v2_size(data)
        end = len(data)
        self.id3v1 = data[-128:] if end - self.id3v2_end >= 128 and data[-128:-125] == b"TAG" else b""
        end -= len(self.id3v1)
        self.lyrics3 = b""
        digits = data[end - 15:end - 9]
        if data[end - 9:end] == b"LYRICS200" and digits.isdigit():
            start = end - 15 - int(digits)
            if start >= self.id3v2_end and data[start:start + 11] == b"LYRICSBEGIN":
                self.lyrics3 = data[start:end]
                end = start
        self.ape_end = end
        self.items, self.faults, self.has_ape = [], [], False
        if end - 32 >= self.id3v2_end and data[end - 32:end - 24] == b"APETAGEX":
            self.has_ape = True
            end, self.items, self.faults = walk_ape(data, end, self.id3v2_end)
        self.ape_start = end
        self.audio = data[self.id3v2_end:end]

    def cover_item(self):
        """The item a new cover replaces and --no-cover removes: the front cover, else the
        first picture."""
        return next((it for it in self.items if it.fold == FRONT_COVER and it.kind == BINARY),
                    next((it for it in self.items if it.is_picture()), None))

    def others(self):
        """The items no round writes: neither a field nor the cover."""
        cover = self.cover_item()
        return [it for it in self.items if it.fold not in FIELD_KEYS and it is not cover]


def lyrics3_fields(block):
    """(ID, value) of each field of a Lyrics3 v2.00 block, for the messages."""
    out, pos, end = [], 11, len(block) - 15
    while pos + 8 <= end and block[pos + 3:pos + 8].isdigit():
        size = int(block[pos + 3:pos + 8])
        out.append((block[pos:pos + 3].decode("latin-1"), block[pos + 8:pos + 8 + size]))
        pos += 8 + size
    return out


def check_lyrics3(checks, before, after, name):
    checks.check("the Lyrics3 block keeps its bytes after %s" % name, after.lyrics3 == before.lyrics3,
                 "fields %s, then %s" % (lyrics3_fields(before.lyrics3), lyrics3_fields(after.lyrics3)))


def layout_of(path):
    return Layout(read_bytes(path))


def item_list(items):
    return ", ".join("%s (%d bytes)" % (it.show(), len(it.value)) for it in items) or "none"


def others_diff(before, after):
    """The items of before missing from after and those after has in their place, by bytes."""
    old, new = [it.raw for it in before], [it.raw for it in after]
    gone = [it for it in before if it.raw not in new]
    came = [it for it in after if it.raw not in old]
    if not gone and not came and len(old) == len(new):
        return ""
    return "lost or changed: %s; new: %s" % (item_list(gone), item_list(came))


def item_faults(before, after):
    """Faults of the items `after` a save of the sixteen fields: a field in two items, an item
    added that is not a field or the cover, a field's item under another key, a field written
    as anything but a text item."""
    faults = []
    old = {it.fold for it in before.items}
    for name, group in sorted(FIELD_GROUPS.items()):
        had = [it.key for it in before.items if it.fold in group]
        has = [it for it in after.items if it.fold in group]
        if len(has) > max(1, len(had)):
            faults.append("the %s in %s" % (name, " and ".join(it.show() for it in has)))
        if len(had) == 1 and has and had[0] not in [it.key for it in has]:
            faults.append("the %s item %s became %s" % (name, had[0].decode("latin-1"),
                                                        " and ".join(it.show() for it in has)))
        faults += ["%s written with flags %#x" % (it.show(), it.flags) for it in has
                   if it.raw not in [b.raw for b in before.items] and it.flags != 0]
    added = [it.show() for it in after.items if it.fold not in old and it.fold not in NEW_KEYS]
    if added:
        faults.append("items added that no field asked for: %s" % ", ".join(added))
    return faults


def check_tag(checks, layout, name):
    """The tag walked here is sound."""
    checks.check("the APEv2 tag after %s has a header, a footer and items that agree" % name, not layout.faults,
                  "; ".join(layout.faults))


# Readers --------------------------------------------------------------------------------------

def ape_reading(path):
    """What mutagen's APEv2 reader reads, with the mapping behind EXPECTED.jsonl, and the
    values of each item key as mutagen splits them."""
    from mutagen import apev2
    tags = apev2.APEv2(path)
    r = Reading()
    from_ape(tags, r)
    return r


def no_ape(path):
    """True when mutagen finds no APEv2 tag."""
    from mutagen import apev2
    try:
        apev2.APEv2(path)
    except apev2.APENoHeaderError:
        return True
    return False


def id3v2_reading(path):
    """What mutagen's ID3 reader reads from the ID3v2 tag alone, or None without one."""
    from mutagen import id3
    try:
        tags = id3.ID3(path, load_v1=False)
    except id3.ID3NoHeaderError:
        return None
    r = Reading()
    from_id3(tags, r)
    return r


def id3v1_faults(record, values):
    """Faults of the ID3v1 record after a save of values: the title and artist hold the code
    page 1252 form of the values' leading characters (up to the first one the code page cannot
    hold; all of it when it can hold all), the year and track the new ones."""
    faults = []
    for field, at in (("Title", 3), ("Artist", 33)):
        stored = record[at:at + 30].rstrip(b"\0 ")
        prefix, whole = b"", True
        for ch in values[field]:
            try:
                b = ch.encode("cp1252")
            except UnicodeEncodeError:
                whole = False
                break
            if len(prefix) + len(b) > 30:
                whole = False
                break
            prefix += b
        # ID3v1 pads with zeros or blanks, so trailing blanks of the text are not kept.
        prefix = prefix.rstrip(b" ")
        if not stored.startswith(prefix) or (whole and stored != prefix):
            faults.append("%s %r for %r" % (field.lower(), stored, values[field]))
    if record[93:97] != values["Year"].encode("ascii"):
        faults.append("year %r for %r" % (record[93:97], values["Year"]))
    track = int(values["Track"].split("/")[0])
    if record[125] != 0 or record[126] != track:
        faults.append("track bytes %d %d for %d" % (record[125], record[126], track))
    return faults


def kid3_ape_read(path, scratch):
    """The sixteen values kid3-cli reads from the APEv2 tag of a WavPack or Musepack file (its
    tag 2), its number of pictures, and the bytes of the picture it exports."""
    rows, count = kid3_frames(path)
    lower = {}
    for name, value in rows.items():
        lower.setdefault(name.lower(), value)
    fields = {}
    for key, names in KID3_APE_NAMES.items():
        fields[key] = normalise(key, next((lower[n] for n in names if lower.get(n)), None))
    data = kid3_picture(path, scratch)[1] if count else None
    return fields, count, data


def check_kid3(checks, fx, path, scratch, name, want, pictures):
    """kid3-cli reads the values want and the pictures: from a WavPack or Musepack file's
    APEv2 tag its number and one of them, from an MP3's ID3v2 tag (pictures None: there is
    none) its number and the first."""
    names = ["kid3-cli reads the values of %s" % name, "kid3-cli reads the pictures of %s" % name,
             "kid3-cli leaves %s as it was" % name]
    why = missing("kid3-cli", "kid3-cli")
    if fx.kind == "mp3" and not why and pictures is None:
        why = "kid3-cli lists an MP3's APEv2 tag as its tag 3, which kid3_frames of interop_mp3.py does not read"
    if skipped(names, why):
        return
    before = read_bytes(path)
    try:
        if fx.kind == "mp3":
            fields, count, _mime, data = kid3_read(path, scratch)
        else:
            fields, count, data = kid3_ape_read(path, scratch)
    except Exception as e:  # noqa: BLE001 - a reader that fails is one failed check
        checks.check(names[0], False, "%s: %s" % (type(e).__name__, e))
        return
    checks.check(names[0], not compare(want, fields), compare(want, fields))
    checks.check(names[1], count == len(pictures) and (count == 0 or data in [d for _m, d in pictures]),
                 "want %s; got %d, exported %s bytes" % (picture_detail(pictures), count,
                                                         "no" if data is None else len(data)))
    checks.check(names[2], read_bytes(path) == before)


def check_ffprobe(checks, path, name, values, mp3_without_id3v2=False):
    check = "ffprobe reads title, artist and album of %s" % name
    if mp3_without_id3v2:
        print("SKIP %s: ffmpeg reads the ID3v2 and ID3v1 tags of an MP3, not its APEv2 tag" % check)
        return
    probe = ffprobe_tags(path)
    want = {k: values[k.capitalize()] for k in ("title", "artist", "album")}
    checks.check(check, probe is not None and not compare(want, probe),
                 "ffprobe failed" if probe is None else compare(want, probe))


# Audio ----------------------------------------------------------------------------------------

class Fixture:
    def __init__(self, rel, original, scratch):
        self.rel = rel
        self.name = os.path.basename(rel)
        self.original = original
        self.kind = os.path.splitext(rel)[1].lstrip(".").lower()
        self.scratch = scratch
        self.layout = Layout(read_bytes(original))
        self.md5 = decoded_md5(self, original)


def decoded_md5(fx, path):
    """ffmpeg's md5 of the decoded audio; of an MP3's audio frames alone (see above)."""
    if fx.kind != "mp3":
        return audio_md5(path)
    frames = os.path.join(fx.scratch, "frames.mp3")
    with open(frames, "wb") as f:
        f.write(layout_of(path).audio)
    return audio_md5(frames)


def check_audio(checks, fx, path, name):
    layout = layout_of(path)
    checks.check("the audio bytes are those of the fixture after %s" % name, layout.audio == fx.layout.audio,
                 "%d bytes, then %d" % (len(fx.layout.audio), len(layout.audio)))
    checks.check("same audio md5 after %s" % name, decoded_md5(fx, path) == fx.md5)
    if fx.kind == "mp3":
        checks.check("ffmpeg decodes the whole of %s" % name, audio_md5(path) is not None)
    if fx.kind == "wv":
        why = missing("wvunpack", "wavpack")
        if why:
            print("SKIP wvunpack -v verifies %s: %s" % (name, why))
        else:
            r = subprocess.run(["wvunpack", "-q", "-v", path], capture_output=True, timeout=120)
            checks.check("wvunpack -v verifies %s" % name, r.returncode == 0, stderr_of(r))


# Checks ---------------------------------------------------------------------------------------

def run_round(checks, tool, images, fx, path, round_no, image_name, values):
    name = "%s, round %d (%s)" % (fx.rel, round_no, image_name)
    image = read_bytes(os.path.join(images, image_name))
    before = layout_of(path)
    # Only what differs from the file is written: a cover equal to the file's own cover (from
    # whichever tag it came) is not written into a tag that lacked it.
    cover_changed = cover_bytes(tool, path) != image
    v2_before = id3v2_reading(path) if fx.kind == "mp3" else None
    assignments = ["%s=%s" % (field, values[field]) for field, _key in FIELDS]
    if not set_ok(checks, tool, path, "set %s" % name, *assignments, "--cover", os.path.join(images, image_name)):
        return
    after = guarded(checks, "walk the tags after %s" % name, layout_of, path)
    if after is None:
        return
    print("INFO %s: items %s" % (name, item_list(after.items)))
    if not checks.check("an APEv2 tag after %s" % name, after.has_ape):
        return
    check_tag(checks, after, name)
    faults = item_faults(before, after)
    checks.check("each field in one item under its key after %s" % name, not faults, "; ".join(faults))
    diff = others_diff(before.others(), after.others())
    checks.check("items the round does not write keep their bytes after %s" % name, not diff, diff)

    want = {key: normalise(key, values[field]) for field, key in FIELDS}
    ref = guarded(checks, "mutagen reads the APEv2 tag after %s" % name, ape_reading, path)
    if ref is not None:
        checks.check("mutagen reads the values of %s" % name, not compare(want, ref.fields), compare(want, ref.fields))
        pictures = [(image_mime(image), image)] + [(image_mime(d), d) for _m, d in
                                                    ape_pictures(before, exclude=before.cover_item())]
        checks.check("mutagen reads the pictures of %s" % name, ref.pictures == pictures,
                     "want %s, got %s" % (picture_detail(pictures), picture_detail(ref.pictures)))
    cover = after.cover_item()
    desc_end = cover.value.find(b"\0") if cover is not None else -1
    checks.check("the cover is a binary item Cover Art (Front) holding a description, 0x00 and the image after %s"
                 % name, cover is not None and cover.fold == FRONT_COVER and desc_end >= 0
                 and cover.value[desc_end + 1:] == image,
                 "no such item" if cover is None else "%s, flags %#x, %d bytes" % (cover.show(), cover.flags,
                                                                                  len(cover.value)))
    if fx.kind == "mp3":
        v2 = check_mp3_tags(checks, fx, path, before, after, name, want, values,
                            [(image_mime(image), image)] if cover_changed else v2_before and v2_before.pictures)
        # kid3-cli and ffmpeg read an MP3's ID3v2 tag, not its APEv2 tag (see above).
        check_kid3(checks, fx, path, fx.scratch, name, want, v2 and v2.pictures)
        check_ffprobe(checks, path, name, values, v2 is None)
    else:
        check_kid3(checks, fx, path, fx.scratch, name, want, [(image_mime(image), image)] + [
            (image_mime(d), d) for _m, d in ape_pictures(after, exclude=cover)])
        check_ffprobe(checks, path, name, values)
    check_audio(checks, fx, path, name)
    check_reads_back(checks, tool, path, name, values, image)


def ape_pictures(layout, exclude=None):
    """(MIME type, image bytes) of the picture items of layout, as from_ape takes them."""
    out = []
    for it in layout.items:
        if it.is_picture() and it is not exclude:
            i = it.value.find(b"\0")
            data = it.value[i + 1:] if 0 <= i < 256 else it.value
            out.append((image_mime(data), data))
    return out


def check_mp3_tags(checks, fx, path, before, after, name, want, values, v2_pictures):
    """The ID3v2 tag (if any) holds the values and the pictures v2_pictures; the Lyrics3 block
    keeps its bytes and the ID3v1 record holds the new values. Returns mutagen's reading of the
    ID3v2 tag."""
    v2 = id3v2_reading(path)
    if v2 is not None:
        checks.check("mutagen reads the values of %s from ID3v2" % name, not compare(want, v2.fields),
                     compare(want, v2.fields))
        checks.check("mutagen reads the pictures of %s from ID3v2" % name, v2.pictures == (v2_pictures or []),
                     "want %s, got %s" % (picture_detail(v2_pictures or []), picture_detail(v2.pictures)))
    elif fx.layout.id3v2_end:
        checks.check("the ID3v2 tag is still there after %s" % name, False)
    if before.lyrics3:
        check_lyrics3(checks, before, after, name)
    if before.id3v1:
        faults = ["no ID3v1 record"] if not after.id3v1 else id3v1_faults(after.id3v1, values)
        checks.check("the ID3v1 record holds the new values after %s" % name, not faults, "; ".join(faults))
    return v2


def run_unchanged_save(checks, tool, fx, path, label):
    """`set FILE Title=<the title it has>` writes nothing: same bytes, same modification time."""
    check_own_title_writes_nothing(checks, tool, path, label)


def run_title_edit(checks, tool, fx, path):
    """`set FILE Title=x` changes the title and nothing else."""
    name = "%s, set Title=x" % fx.rel
    before = layout_of(path)
    before_ref = ape_reading(path) if before.has_ape else None
    if not set_ok(checks, tool, path, name, "Title=x"):
        return
    after = guarded(checks, "walk the tags after %s" % name, layout_of, path)
    if after is None or not checks.check("an APEv2 tag after %s" % name, after.has_ape):
        return
    check_tag(checks, after, name)
    title = FIELD_GROUPS["title"]
    diff = others_diff([it for it in before.items if it.fold not in title],
                       [it for it in after.items if it.fold not in title])
    checks.check("every item but the title keeps its bytes after %s" % name, not diff, diff)
    faults = item_faults(before, after)
    checks.check("the title in one item under its key after %s" % name, not faults, "; ".join(faults))
    ref = ape_reading(path)
    want = dict(before_ref.fields if before_ref else ref.fields, title="x")
    checks.check("mutagen reads the title and the other values as they were after %s" % name,
                 not compare(want, ref.fields), compare(want, ref.fields))
    if before.lyrics3:
        check_lyrics3(checks, before, after, name)
    if before.id3v1:
        checks.check("the ID3v1 record keeps every byte but its title after %s" % name,
                     after.id3v1[:3] + after.id3v1[33:] == before.id3v1[:3] + before.id3v1[33:]
                     and after.id3v1[3:33].rstrip(b"\0 ") == b"x")
    check_audio(checks, fx, path, name)


def run_removals(checks, tool, fx, path, label):
    """`set FILE --no-cover` removes the cover item and nothing else; `remove FILE` leaves the
    audio bytes alone."""
    before = layout_of(path)
    name = "%s, set --no-cover" % label
    cover = before.cover_item()
    if cover is not None:
        before_ref = ape_reading(path)
        if set_ok(checks, tool, path, name, "--no-cover"):
            after = guarded(checks, "walk the tags after %s" % name, layout_of, path)
            if after is not None:
                if after.has_ape:
                    check_tag(checks, after, name)
                diff = others_diff([it for it in before.items if it is not cover], after.items)
                checks.check("every item but the cover keeps its bytes after %s" % name, not diff, diff)
                checks.check("the Lyrics3 block and the ID3v1 record keep their bytes after %s" % name,
                             (after.lyrics3, after.id3v1) == (before.lyrics3, before.id3v1),
                             "Lyrics3 fields %s, then %s; ID3v1 record %s" % (
                                 lyrics3_fields(before.lyrics3), lyrics3_fields(after.lyrics3),
                                 "kept" if after.id3v1 == before.id3v1 else "changed"))
            ref = ape_reading(path) if after is not None and after.has_ape else Reading()
            pictures = [(image_mime(d), d) for _m, d in ape_pictures(before, exclude=cover)]
            checks.check("mutagen reads the same values and the other pictures after %s" % name,
                         not compare(before_ref.fields, ref.fields) and ref.pictures == pictures,
                         "values: %s; pictures: %s" % (compare(before_ref.fields, ref.fields) or "same",
                                                       picture_detail(ref.pictures)))
            check_audio(checks, fx, path, name)

    name = "%s, remove" % label
    data = read_bytes(path)
    r = run_tool(tool, "remove", path)
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        drop_backup(path)
        checks.check("the failed %s left the file as it was" % name, read_bytes(path) == data)
        return
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    checks.check("mutagen finds no APEv2 tag after %s" % name, no_ape(path))
    after = layout_of(path)
    checks.check("%s leaves exactly the audio bytes" % name, read_bytes(path) == fx.layout.audio,
                 "ID3v2 %d bytes, APEv2 %s, Lyrics3 %d bytes, ID3v1 %d bytes, audio %s" % (
                     after.id3v2_end, "there" if after.has_ape else "gone", len(after.lyrics3), len(after.id3v1),
                     "same" if after.audio == fx.layout.audio else "other"))
    checks.check("same audio md5 after %s" % name, decoded_md5(fx, path) == fx.md5)


def check_untouched(checks, fx):
    """The walker reads the tag of the fixture as made (mutagen wrote them all)."""
    name = "%s as made" % fx.rel
    print("INFO %s: ID3v2 %d bytes, APEv2 items %s, Lyrics3 %d bytes, ID3v1 %d bytes" % (
        name, fx.layout.id3v2_end, item_list(fx.layout.items), len(fx.layout.lyrics3), len(fx.layout.id3v1)))
    if fx.layout.has_ape:
        check_tag(checks, fx.layout, name)
        checks.check("mutagen reads the APEv2 tag of %s" % name, guarded(checks, "mutagen reads %s" % name,
                                                                         ape_reading, fx.original) is not None)


def has_ape(path):
    try:
        return Layout(read_bytes(path)).has_ape
    except ValueError:
        return True  # a footer is there; the tag's faults show later


def fixture_list(data_dir):
    """The WavPack and Musepack fixtures, and the MP3 fixtures that carry an APEv2 tag."""
    out = []
    for folder, ext in (("wv", ".wv"), ("mpc", ".mpc"), ("mp3", ".mp3")):
        for n in sorted(os.listdir(os.path.join(data_dir, folder))):
            rel = "%s/%s" % (folder, n)
            if n.lower().endswith(ext) and (folder != "mp3" or has_ape(os.path.join(data_dir, rel))):
                out.append(rel)
    return out


def main():
    args = setup(("ffmpeg", "ffprobe"))
    if args is None:
        return SKIP
    report_missing((("kid3-cli", "kid3-cli"), ("wvunpack", "wavpack")))

    checks = Checks()
    tool = args.tool
    data_dir = os.path.abspath(args.data)
    images = os.path.join(data_dir, "images")
    fixtures = fixture_list(data_dir)
    kinds = {os.path.dirname(rel) for rel in fixtures}
    checks.check("APEv2 fixtures found: WavPack, Musepack and MP3", len(fixtures) >= 6 and kinds == {"wv", "mpc", "mp3"},
                 ", ".join(fixtures))

    check_expected_fixtures(checks, tool, data_dir, fixtures, KNOWN_DIFFERENCES)

    with tempfile.TemporaryDirectory(prefix="corvella-interop-apev2-") as tmp:
        for rel in fixtures:
            scratch = os.path.join(tmp, "scratch-" + rel.replace("/", "-"))
            os.mkdir(scratch)
            fx = guarded(checks, "walk the tags of %s" % rel, Fixture, rel, os.path.join(data_dir, rel), scratch)
            if fx is None or not checks.check("ffmpeg decodes %s" % rel, fx.md5 is not None):
                continue
            check_untouched(checks, fx)
            # One copy per kind of save, each in its own folder so that anything a save leaves
            # beside the file shows.
            for copy in ("as made", "edited", "title", "read-only"):
                folder = os.path.join(tmp, "%s-%s" % (rel.replace("/", "-"), copy.replace(" ", "-")))
                os.mkdir(folder)
                path = os.path.join(folder, fx.name)
                # copyfile, not copy: the fixtures are read-only and the copy must not be.
                shutil.copyfile(fx.original, path)
                if copy == "as made":
                    guarded(checks, "unchanged save of %s" % rel, run_unchanged_save, checks, tool, fx, path,
                            rel + " as made")
                    guarded(checks, "removals on %s as made" % rel, run_removals, checks, tool, fx, path,
                            rel + " as made")
                elif copy == "title":
                    if fx.layout.has_ape:
                        guarded(checks, "title edit of %s" % rel, run_title_edit, checks, tool, fx, path)
                elif copy == "read-only":
                    guarded(checks, "read-only %s" % rel, run_read_only, checks, tool, fx, path)
                else:
                    for round_no, (image_name, values) in enumerate(ROUNDS, 1):
                        guarded(checks, "%s, round %d" % (rel, round_no), run_round, checks, tool, images, fx, path,
                                round_no, image_name, values)
                    guarded(checks, "unchanged save of %s after the rounds" % rel, run_unchanged_save, checks, tool,
                            fx, path, rel + " after the rounds")
                    guarded(checks, "removals on %s after the rounds" % rel, run_removals, checks, tool, fx, path,
                            rel + " after the rounds")

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


# Fixtures ------------------------------------------------------------------------------------
#
# `interop_apev2.py --make-fixtures DATA` made the three fixtures of this suite once, from our
# own tests/data/wav/notags.wav, tests/data/mp3/notags.mp3 and tests/data/images; its output is
# committed and the suite only reads it. The audio comes from Debian's encoders, the tags from
# Debian's python3-mutagen, the Lyrics3 block from lyrics3_block() and LYRICS3_FIELDS of
# interop_id3v1.py (which checks those fields in every Lyrics3 block it meets).

MADE_FIXTURES = ("wv/wavpack-mutagen.wv", "mpc/musepack-mutagen.mpc", "mp3/id3v2-apev2-lyrics3-id3v1.mp3")

# Bytes of the WavPack fixture's binary item that is not a picture: a JPEG start (FF D8 FF)
# stands in it, but not right after the 0x00 that would end a description.
PRIVATE_BLOB = b"CRVL-private\x00\x01\x02\x03\xff\xd8\xff\xe0 opaque payload \x00\x7f"


def make_fixtures(data_dir):
    from mutagen import apev2, id3
    wav = os.path.join(data_dir, "wav", "notags.wav")
    jpeg = read_bytes(os.path.join(data_dir, "images", "cover.jpg"))
    png = read_bytes(os.path.join(data_dir, "images", "cover.png"))
    out = {rel: os.path.join(data_dir, rel) for rel in MADE_FIXTURES}
    for path in out.values():
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.exists(path):
            os.remove(path)

    # WavPack 5.6 (Debian package wavpack), lossless; mutagen writes the keys as given and
    # sorts the items by size.
    path = out["wv/wavpack-mutagen.wv"]
    subprocess.run(["wavpack", "-q", "-y", wav, "-o", path], check=True)
    tag = apev2.APEv2()
    tag["Title"] = "WavPack Mutagen Title"
    tag["Artist"] = ["First Artist", "Second Artist"]
    tag["Album"] = "Ålbum för Zoë – 日本"
    tag["Year"] = "2019"
    tag["Track"] = "3/12"
    tag["Disc"] = "1/2"
    tag["Genre"] = "Jazz"
    tag["Comment"] = "Mutagen comment"
    tag["Album Artist"] = "Various Artists"
    tag["Composer"] = "Test Composer"
    tag["Lyrics"] = "First line\nSecond line\nThird line"
    tag["Private Blob"] = apev2.APEValue(PRIVATE_BLOB, apev2.BINARY)
    tag["Artist Homepage"] = apev2.APEValue("https://example.com/artist", apev2.EXTERNAL)
    tag["Cover Art (Front)"] = apev2.APEValue(b"cover.jpg\x00" + jpeg, apev2.BINARY)
    tag["Cover Art (Back)"] = apev2.APEValue(b"cover.png\x00" + png, apev2.BINARY)
    tag.save(path)

    # Musepack SV8 (mpcenc 1.30.1 of Debian package musepack-tools), --radio quality.
    path = out["mpc/musepack-mutagen.mpc"]
    subprocess.run(["mpcenc", "--silent", "--radio", wav, path], check=True)
    tag = apev2.APEv2()
    tag["Title"] = "Musepack Mutagen Title"
    tag["Artist"] = "MPC Artist"
    tag["Album"] = "MPC Album"
    tag["Year"] = "2020"
    tag["Track"] = "7/9"
    tag["Genre"] = ["Rock", "Pop"]
    tag["Comment"] = "Kommentar – üß"
    tag["Composer"] = ["Composer One", "Composer Two"]
    tag["Cover Art (Front)"] = apev2.APEValue(b"cover.png\x00" + png, apev2.BINARY)
    tag.save(path)

    # The MP3 audio of notags.mp3 (lame), then an ID3v2.4 tag, an APEv2 tag, a Lyrics3 v2.00
    # block and an ID3v1.1 record, each with its own title. mutagen writes the APEv2 tag at the
    # very end (dropping what follows), so the Lyrics3 block and the record are appended after.
    path = out["mp3/id3v2-apev2-lyrics3-id3v1.mp3"]
    shutil.copyfile(os.path.join(data_dir, "mp3", "notags.mp3"), path)
    v2 = id3.ID3()
    v2.add(id3.TIT2(encoding=3, text=["Title from ID3v2"]))
    v2.add(id3.TPE1(encoding=3, text=["ID3v2 Artist"]))
    v2.add(id3.TRCK(encoding=3, text=["5/10"]))
    v2.save(path, v2_version=4, v1=0)
    tag = apev2.APEv2()
    tag["Title"] = "Title from APEv2"
    tag["Artist"] = "APEv2 Artist"
    tag["Album"] = "Album from APEv2 – Zoë"
    tag["Year"] = "2018"
    tag["Genre"] = "Jazz"
    tag["Composer"] = "APEv2 Composer"
    tag["Lyrics"] = "APEv2 lyrics line one\nline two"
    tag["Cover Art (Front)"] = apev2.APEValue(b"cover.png\x00" + png, apev2.BINARY)
    tag.save(path)
    v1 = id3.MakeID3v1({
        "TIT2": id3.TIT2(text=["Title from ID3v1"]), "TPE1": id3.TPE1(text=["ID3v1 Artist"]),
        "TALB": id3.TALB(text=["ID3v1 Album"]), "TDRC": id3.TDRC(text=["1999"]),
        "COMM": id3.COMM(text=["Comment from ID3v1"]), "TRCK": id3.TRCK(text=["7"]),
        "TCON": id3.TCON(text=["Rock"])})
    with open(path, "ab") as f:
        f.write(lyrics3_block(LYRICS3_FIELDS) + v1)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--make-fixtures":
        make_fixtures(os.path.abspath(sys.argv[2]))
        sys.exit(0)
    sys.exit(main())
