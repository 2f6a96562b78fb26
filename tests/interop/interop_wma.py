#!/usr/bin/python3
"""WMA (ASF) interoperability of corvella-tags with independent readers.

For every fixture in tests/data/wma (the wma/ lines of tests/data/MANIFEST.tsv), on temporary
copies, each in a folder of its own:
  * the `show --json` record holds the sixteen values and the cover of the fixture's
    EXPECTED.jsonl line, and the ASF object walker here finds the fixture's header sound;
  * `set FILE Title=<its title>` writes nothing (same bytes, same modification time), on the
    fixture as made and after the rounds;
  * `set FILE Field=Value... --cover IMAGE` with all sixteen fields (the two rounds of
    interop_mp3.py: non-ASCII text, Track 4/12, Disc 1/2, comments and lyrics of several lines;
    a PNG cover, then a JPEG cover). After each round:
      - mutagen (mutagen.asf) reads the sixteen values from the attributes that hold them
        (Title, Author, WM/AlbumTitle, the year of WM/Year, WM/TrackNumber, WM/Genre,
        Description, WM/PartOfSet, WM/BeatsPerMinute, WM/AlbumArtist, WM/Composer,
        WM/OriginalArtist, Copyright, WM/PromotionURL or WM/AuthorURL, WM/EncodedBy, WM/Lyrics)
        and one WM/Picture: the new cover, its declared MIME type and its bytes; each of those
        attributes holds one value, no field is in two attributes, no attribute is empty,
        WM/Track (the zero-based track the library keeps in step) holds the track number - 1 as
        a DWORD when it is there, and every other attribute keeps its values;
      - ffprobe reads every field it shows (title, artist, album, genre, comment, copyright,
        track, disc, album_artist, composer, encoded_by, and the WM/ names it shows as they
        are: WM/Year, WM/BeatsPerMinute, WM/OriginalArtist, WM/Lyrics, the URL attribute);
      - kid3-cli reads the sixteen values and the picture (its MIME type and bytes), and
        leaves the file as it was (kid3 names WM/PromotionURL "Commercial URL", its Website
        being WM/AuthorURL, and lists WM/Track as a second "Track Number" row holding the
        stored zero-based value: both are taken into account, with a NOTE);
      - corvella-tags reads its values and its picture back;
  * then `set FILE --cover IMAGE` with a PNG of some 77 KB built here: the picture goes to the
    Metadata Library object (over the 65,535 bytes an Extended Content Description value can
    hold), mutagen, kid3-cli and corvella-tags read it back, the other attributes stay;
  * `set FILE Title=x` changes the title alone: mutagen lists the same other attributes with
    the same values;
  * `remove FILE` leaves no attribute a user sets (mutagen finds none but the encoder's,
    which the library keeps: WMFSDKVersion, IsVBR and the like), and corvella-tags shows none;
  * a copy without write permission is refused and left as it was;
  * a copy made protected here (a Content Encryption object added to its header, the header
    size, object count and file size fixed) still loads, and `set` and `remove` on it are
    refused: non-zero exit, every byte kept, nothing left beside the file.
After every write: ffmpeg decodes the same audio (md5); every header object the tags do not own
(all but the Content Description, the Extended Content Description, and the Metadata and
Metadata Library objects inside the Header Extension) keeps its bytes and its order, compared
object by object by the walker here (the File Properties object apart from its file size, the
Header Extension apart from its data size); the Data object and everything after the header keep
every byte; the Header object's size and object count, the Header Extension's data size and
the File Properties file size agree with the objects and the file; the header holds at most one
object of each kind the tags own; nothing (backup, temporary file) is left beside the file.

The fixtures tagged by mutagen and kid3 keep the File Properties file size of the file ffmpeg
made (neither tagger updates it): that is printed as a NOTE for the fixture as made, and every
save by corvella-tags must make it right. mutagen lists a Content Description field stored as an
empty string (kid3 writes an empty Rating) as an attribute of value ""; such a field holds no
text and is left out of the comparisons (NOTE).

Usage: interop_wma.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen, ffmpeg or ffprobe is missing, 1 when any check failed. A
missing kid3-cli turns each of its checks into a SKIP line and the rest runs.
Closes with the line "N passed, N failed".
"""

import os
import shutil
import struct
import sys
import tempfile
import uuid

from interop_common import (Checks, SKIP, audio_md5, compare, missing, note_once, report_missing, run_tool, setup,
                            show_json, skipped)
from interop_mp3 import (FIELDS, KID3_NAMES, ROUNDS, check_expected_fixtures, clean, cover_bytes, drop_backup,
                         ffprobe_tags, image_mime, join, kid3_frames, kid3_picture, kid3_run, leftovers, norm_year,
                         normalise, picture_detail, read_bytes, run_read_only, stderr_of)
from interop_mp4 import check_own_title_writes_nothing, check_reads_back, guarded, set_ok

FOLDER = "wma"
EXTENSIONS = (".wma", ".asf", ".wmv")

# Differences between a fixture's EXPECTED.jsonl line and what corvella-tags loads that are
# faults of the reader that wrote EXPECTED.jsonl, not of corvella-tags:
#   (fixture, EXPECTED.jsonl key) -> (the value corvella-tags rightly loads, the reason).
KNOWN_DIFFERENCES = {
}


# The ASF objects of a file, walked here ------------------------------------------------------

def guid(text):
    """The 16 bytes ASF stores for a GUID printed as XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX."""
    return uuid.UUID(text).bytes_le


HEADER = guid("75B22630-668E-11CF-A6D9-00AA0062CE6C")
DATA = guid("75B22636-668E-11CF-A6D9-00AA0062CE6C")
FILE_PROPERTIES = guid("8CABDCA1-A947-11CF-8EE4-00C00C205365")
HEADER_EXTENSION = guid("5FBF03B5-A92E-11CF-8EE3-00C00C205365")
CONTENT_DESCRIPTION = guid("75B22633-668E-11CF-A6D9-00AA0062CE6C")
EXTENDED_CONTENT_DESCRIPTION = guid("D2D0A440-E307-11D2-97F0-00A0C95EA850")
METADATA = guid("C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA")
METADATA_LIBRARY = guid("44231C94-9498-49D1-A141-1D134E457054")
CONTENT_ENCRYPTION = guid("2211B3FB-BD23-11D2-B4B7-00A0C955FC6E")

NAMES = {HEADER: "Header", DATA: "Data", FILE_PROPERTIES: "File Properties", HEADER_EXTENSION: "Header Extension",
         CONTENT_DESCRIPTION: "Content Description", EXTENDED_CONTENT_DESCRIPTION: "Extended Content Description",
         METADATA: "Metadata", METADATA_LIBRARY: "Metadata Library", CONTENT_ENCRYPTION: "Content Encryption",
         guid("B7DC0791-A9B7-11CF-8EE6-00C00C205365"): "Stream Properties",
         guid("86D15240-311D-11D0-A3A4-00A0C90348F6"): "Codec List",
         guid("7BF875CE-468D-11D1-8D82-006097C9A2B2"): "Stream Bitrate Properties",
         guid("1806D474-CADF-4509-A4BA-9AABCB96AAE8"): "Padding",
         guid("33000890-E5B1-11CF-89F4-00A0C90349CB"): "Simple Index",
         guid("D6E229D3-35DA-11D1-9034-00A0C90349BE"): "Index"}
# The objects the tags own: in the header, and inside the Header Extension's data.
OWNED = {CONTENT_DESCRIPTION, EXTENDED_CONTENT_DESCRIPTION}
OWNED_IN_EXTENSION = {METADATA, METADATA_LIBRARY}
OBJECT_HEADER = 24      # GUID and 64-bit size
HEADER_FIXED = 30       # object header, object count, two reserved bytes
EXTENSION_FIXED = 46    # object header, reserved GUID, reserved word, data size
FILE_SIZE_AT = 24 + 16  # the File Properties file size: after the object header and the file id
FLAGS_AT = 24 + 64      # the File Properties flags
BROADCAST = 1


def object_name(gid):
    return NAMES.get(gid) or "{%s}" % str(uuid.UUID(bytes_le=gid)).upper()


class AsfObject:
    def __init__(self, gid, offset, raw):
        self.guid = gid
        self.offset = offset
        self.raw = raw        # the whole object, its header included
        self.children = []    # the objects inside a Header Extension's data

    def name(self):
        return object_name(self.guid)


def walk_objects(data, start, end, faults, where):
    """The objects between start and end; a size that is too small or runs past end is a
    fault, and the walk stops there."""
    out, pos = [], start
    while pos < end:
        if pos + OBJECT_HEADER > end:
            faults.append("%d bytes left at the end of %s" % (end - pos, where))
            break
        gid = data[pos:pos + 16]
        size = struct.unpack("<Q", data[pos + 16:pos + 24])[0]
        if size < OBJECT_HEADER or pos + size > end:
            faults.append("%s at %d in %s: size %d, %d bytes left" % (object_name(gid), pos, where, size, end - pos))
            break
        out.append(AsfObject(gid, pos, data[pos:pos + size]))
        pos += size
    return out


class Asf:
    """An ASF file as its Header object's objects (and those in the Header Extension's data),
    the bytes after the header, and the faults found walking it."""

    def __init__(self, data):
        self.size = len(data)
        self.faults = []
        self.objects = []
        self.header_size = 0
        self.count = None
        self.top = []
        if len(data) < HEADER_FIXED or data[:16] != HEADER:
            self.faults.append("no ASF Header object at the start")
            return
        self.header_size, self.count = struct.unpack("<QI", data[16:28])
        self.reserved = data[28:30]
        if self.header_size < HEADER_FIXED or self.header_size > len(data):
            self.faults.append("header size %d in a file of %d bytes" % (self.header_size, len(data)))
            return
        self.objects = walk_objects(data, HEADER_FIXED, self.header_size, self.faults, "the header")
        for ob in self.objects:
            if ob.guid != HEADER_EXTENSION:
                continue
            if len(ob.raw) < EXTENSION_FIXED:
                self.faults.append("a Header Extension of %d bytes" % len(ob.raw))
                continue
            inner = struct.unpack("<I", ob.raw[42:46])[0]
            if EXTENSION_FIXED + inner != len(ob.raw):
                self.faults.append("Header Extension data size %d in an object of %d bytes" % (inner, len(ob.raw)))
            ob.children = walk_objects(ob.raw, EXTENSION_FIXED, min(len(ob.raw), EXTENSION_FIXED + inner),
                                       self.faults, "the Header Extension")
        self.tail = data[self.header_size:]
        self.top = walk_objects(data, self.header_size, len(data), self.faults, "the file")

    def find(self, gid):
        return [ob for ob in self.objects if ob.guid == gid]

    def find_in_extension(self, gid):
        return [c for ob in self.find(HEADER_EXTENSION) for c in ob.children if c.guid == gid]

    def layout(self):
        """The objects as names, those inside the Header Extension in brackets."""
        out = []
        for ob in self.objects:
            out.append(ob.name() + ("[%s]" % ", ".join(c.name() for c in ob.children) if ob.children else ""))
        return " ".join(out)

    def kept(self):
        """Every header object the tags do not own, in order, as (name, bytes): the File
        Properties object without its file size (which follows the header's size, unless the
        Broadcast flag says it is not valid), the Header Extension's fixed part without its data
        size, then each object of its data the tags do not own."""
        out = []
        for ob in self.objects:
            if ob.guid in OWNED:
                continue
            if ob.guid == FILE_PROPERTIES and not self.broadcast():
                out.append((ob.name(), ob.raw[:FILE_SIZE_AT] + b"\0" * 8 + ob.raw[FILE_SIZE_AT + 8:]))
            elif ob.guid == HEADER_EXTENSION:
                out.append((ob.name(), ob.raw[:16] + ob.raw[24:42]))
                out.extend(("%s/%s" % (ob.name(), c.name()), c.raw) for c in ob.children
                           if c.guid not in OWNED_IN_EXTENSION)
            else:
                out.append((ob.name(), ob.raw))
        return out

    def broadcast(self):
        fp = self.find(FILE_PROPERTIES)
        return bool(fp) and len(fp[0].raw) >= FLAGS_AT + 4 and \
            struct.unpack("<I", fp[0].raw[FLAGS_AT:FLAGS_AT + 4])[0] & BROADCAST

    def size_faults(self, file_size=True):
        """What is wrong with the header's sizes and count, the File Properties file size (unless
        file_size is False), and the number of objects of each kind."""
        faults = list(self.faults)
        if not self.objects:
            return faults or ["no header object"]
        if HEADER_FIXED + sum(len(ob.raw) for ob in self.objects) != self.header_size:
            faults.append("header size %d, its objects take %d" % (
                self.header_size, HEADER_FIXED + sum(len(ob.raw) for ob in self.objects)))
        if self.count != len(self.objects):
            faults.append("object count %d, %d objects" % (self.count, len(self.objects)))
        fp = self.find(FILE_PROPERTIES)
        if len(fp) != 1:
            faults.append("%d File Properties objects" % len(fp))
        elif file_size and not self.broadcast():
            stored = struct.unpack("<Q", fp[0].raw[FILE_SIZE_AT:FILE_SIZE_AT + 8])[0]
            if stored != self.size:
                faults.append("File Properties file size %d in a file of %d bytes" % (stored, self.size))
        if not self.top or self.top[0].guid != DATA:
            faults.append("no Data object right after the header")
        for gid in (CONTENT_DESCRIPTION, EXTENDED_CONTENT_DESCRIPTION, HEADER_EXTENSION):
            if len(self.find(gid)) > 1:
                faults.append("%d %s objects" % (len(self.find(gid)), object_name(gid)))
        for gid in OWNED_IN_EXTENSION:
            if len(self.find_in_extension(gid)) > 1:
                faults.append("%d %s objects" % (len(self.find_in_extension(gid)), object_name(gid)))
        return faults


def kept_diff(before, after):
    """How the objects the tags do not own differ, object by object."""
    if before == after:
        return ""
    names_before = [n for n, _raw in before]
    names_after = [n for n, _raw in after]
    if names_before != names_after:
        return "objects %s, then %s" % (names_before, names_after)
    return "; ".join("%s changed (%d bytes, then %d)" % (n, len(a), len(b))
                     for (n, a), (_n, b) in zip(before, after) if a != b)


def protected_copy(data):
    """The file data with a Content Encryption object added at the end of its header: the
    header size, object count and File Properties file size fixed to match."""
    body = b""
    for field in (b"\x01\x02\x03\x04", b"DRM\0", b"corvella-key\0", b"https://licence.invalid/\0"):
        body += struct.pack("<I", len(field)) + field
    obj = CONTENT_ENCRYPTION + struct.pack("<Q", OBJECT_HEADER + len(body)) + body
    asf = Asf(data)
    header_size = asf.header_size + len(obj)
    out = bytearray(data[:asf.header_size] + obj + data[asf.header_size:])
    out[16:28] = struct.pack("<QI", header_size, asf.count + 1)
    fp = asf.find(FILE_PROPERTIES)[0]
    at = fp.offset + FILE_SIZE_AT
    out[at:at + 8] = struct.pack("<Q", len(out))
    return bytes(out)


# mutagen's reading of the attributes ---------------------------------------------------------

# The attributes each field is read from, by EXPECTED.jsonl key (the first that holds a value).
ATTRIBUTES = {
    "title": ["Title"], "artist": ["Author"], "album": ["WM/AlbumTitle"], "year": ["WM/Year"],
    "track": ["WM/TrackNumber"], "genre": ["WM/Genre"], "comment": ["Description"], "disc": ["WM/PartOfSet"],
    "bpm": ["WM/BeatsPerMinute"], "albumartist": ["WM/AlbumArtist"], "composer": ["WM/Composer"],
    "originalartist": ["WM/OriginalArtist"], "copyright": ["Copyright"],
    "url": ["WM/PromotionURL", "WM/AuthorURL"], "encodedby": ["WM/EncodedBy"], "lyrics": ["WM/Lyrics"],
}
# The zero-based track of older writers, which the library keeps in step with WM/TrackNumber:
# the track number minus one, as a DWORD.
ZERO_BASED_TRACK = "WM/Track"
FIELD_ATTRIBUTES = {name for names in ATTRIBUTES.values() for name in names} | {ZERO_BASED_TRACK}
PICTURE = "WM/Picture"
# What the library keeps on removal: the encoder's attributes.
ENCODER_ATTRIBUTES = {"WMFSDKVersion", "WMFSDKNeeded", "IsVBR", "DeviceConformanceTemplate", "WM/ASFPacketCount",
                      "WM/ASFSecurityObjectsSize", "WM/StreamTypeInfo", "WM/PeakBitrate", "ASFLeakyBucketPairs"}


def value_text(value):
    """An attribute value as text: a string as it is, a number in decimal, bytes as hex."""
    v = value.value
    if isinstance(v, bytes):
        return v.hex()
    if isinstance(v, bool):
        return str(int(v))
    return str(v)


# The five fields of the Content Description object. One stored as an empty string (its
# terminating zero alone) holds no text: mutagen lists it as an attribute of value "", the
# library (as the media runtime) does not, and writes none back. Such a field is left out of
# the comparisons here, with a NOTE.
CONTENT_DESCRIPTION_FIELDS = ("Title", "Author", "Copyright", "Description", "Rating")
def asf_attributes(path):
    """Every attribute mutagen reads: name -> [(type, value text, stream, language)], in order;
    an empty Content Description field left out (see CONTENT_DESCRIPTION_FIELDS)."""
    import mutagen.asf
    tags = mutagen.asf.ASF(path).tags
    out = {}
    for name, values in tags.items():
        listed = [(type(v).__name__, value_text(v), getattr(v, "stream", None), getattr(v, "language", None))
                  for v in values]
        if name in CONTENT_DESCRIPTION_FIELDS and all(text == "" for _t, text, _s, _l in listed):
            note_once("mutagen lists the empty Content Description field %s of %s as an attribute of value \"\": "
                      "an empty field, left out here" % (name, os.path.basename(path)))
            continue
        out[name] = listed
    return out


def parse_picture(raw):
    """A WM/Picture value as (picture type, declared MIME type, description, data); raises
    ValueError when it is not one."""
    if len(raw) < 5:
        raise ValueError("a WM/Picture value of %d bytes" % len(raw))
    kind = raw[0]
    size = struct.unpack("<I", raw[1:5])[0]
    texts, pos = [], 5
    for _ in range(2):
        end = pos
        while end + 1 < len(raw) and raw[end:end + 2] != b"\0\0":
            end += 2
        if end + 1 >= len(raw):
            raise ValueError("an unterminated text in a WM/Picture value")
        texts.append(raw[pos:end].decode("utf-16-le"))
        pos = end + 2
    data = raw[pos:]
    if len(data) != size:
        raise ValueError("a WM/Picture declaring %d bytes of data holds %d" % (size, len(data)))
    return kind, texts[0], texts[1], data


class AsfReading:
    def __init__(self, path):
        import mutagen.asf
        tags = mutagen.asf.ASF(path).tags
        self.attributes = asf_attributes(path)
        self.values = {name: [v.value for v in values] for name, values in tags.items()}
        self.fields = {}
        for key, names in ATTRIBUTES.items():
            found = None
            for name in names:
                found = join(str(v) if not isinstance(v, bytes) else v.decode("utf-8", "replace")
                             for v in self.values.get(name, []))
                if found:
                    break
            if key == "year":
                found = norm_year(found)
            elif key in ("track", "disc", "bpm", "genre"):
                found = normalise(key, found)
            self.fields[key] = found
        self.pictures = []   # (declared MIME type, data)
        self.picture_types = []
        for raw in self.values.get(PICTURE, []):
            kind, mime, _desc, data = parse_picture(raw)
            self.pictures.append((mime, data))
            self.picture_types.append(kind)

    def others(self):
        """The attributes that hold none of the sixteen fields and no picture."""
        return {n: v for n, v in self.attributes.items() if n not in FIELD_ATTRIBUTES and n != PICTURE}


def zero_based_track(track):
    return max(0, int(track.split("/")[0]) - 1)


def attribute_faults(reading, values):
    """Each field attribute holds one value, no empty one; no field is in two attributes."""
    faults = []
    for name in sorted(FIELD_ATTRIBUTES | {PICTURE}):
        held = reading.attributes.get(name, [])
        if len(held) > 1:
            faults.append("%d %s attributes" % (len(held), name))
        for kind, text, _stream, _lang in held:
            if text == "":
                faults.append("an empty %s attribute (%s)" % (name, kind))
    zero_based = reading.attributes.get(ZERO_BASED_TRACK)
    if zero_based:
        want = str(zero_based_track(values["Track"]))
        if [(kind, text) for kind, text, _s, _l in zero_based] != [("ASFDWordAttribute", want)]:
            faults.append("%s %s for track %s (want a DWORD %s)" % (ZERO_BASED_TRACK, zero_based, values["Track"], want))
    for key, names in ATTRIBUTES.items():
        holding = [n for n in names if reading.attributes.get(n)]
        if len(holding) > 1:
            values_held = [reading.attributes[n][0][1] for n in holding]
            faults.append("%s in %s (%s)" % (key, " and ".join(holding), values_held))
    return faults


# ffprobe and kid3-cli -------------------------------------------------------------------------

# ffprobe's keys (lower case) for the fields it shows, and the record field each holds.
PROBE_KEYS = {"title": "Title", "artist": "Artist", "album": "Album", "genre": "Genre", "comment": "Comment",
              "copyright": "Copyright", "track": "Track", "disc": "Disc", "album_artist": "AlbumArtist",
              "composer": "Composer", "encoded_by": "EncodedBy", "wm/year": "Year", "date": "Year",
              "wm/beatsperminute": "BPM", "wm/originalartist": "OrigArtist", "wm/lyrics": "Lyrics",
              "wm/promotionurl": "URL", "wm/authorurl": "URL"}


def probe_faults(probe, values):
    """Every key of PROBE_KEYS that ffprobe shows holds its field's value; the keys it shows
    must include title, artist and album."""
    faults = []
    for key in ("title", "artist", "album"):
        if key not in probe:
            faults.append("no %s" % key)
    if "wm/track" in probe and probe["wm/track"] != str(zero_based_track(values["Track"])):
        faults.append("wm/track: want %r, got %r" % (str(zero_based_track(values["Track"])), probe["wm/track"]))
    for key, field in PROBE_KEYS.items():
        if key in probe:
            ref = dict(FIELDS)[field]
            want, got = normalise(ref, values[field]), normalise(ref, probe[key])
            if want != got:
                faults.append("%s: want %r, got %r" % (key, want, got))
    return faults


# kid3's name for WM/PromotionURL.
KID3_PROMOTION_URL = "Commercial URL"


def kid3_asf_read(path, scratch, track):
    """The sixteen values kid3-cli reads from the ASF tag (its tag 2), its number of pictures,
    and the MIME type and bytes of the first. kid3 lists WM/Track as a second "Track Number"
    row holding the zero-based value as stored; the row of the track (track: the value
    written) is taken, and the other must be that zero-based value."""
    listing, = kid3_run(path, {"method": "get", "params": ["all", 2]})
    frames = ((listing or {}).get("taggedFile") or {}).get("tag2", {}).get("frames", [])
    tracks = [f.get("value") for f in frames if f.get("name") == "Track Number"]
    rows, count = kid3_frames(path)
    if len(tracks) == 2 and track is not None:
        zero_based = str(zero_based_track(track))
        if zero_based in tracks:
            rest = list(tracks)
            rest.remove(zero_based)
            rows["Track Number"] = rest[0]
            note_once("kid3-cli lists WM/Track (the zero-based track, kept in step by the library) as a "
                      "second \"Track Number\" row holding its stored value: the other row is the track")
    fields = {key: normalise(key, rows.get(name)) for name, key in KID3_NAMES.items()}
    if fields["url"] is None and clean(rows.get(KID3_PROMOTION_URL)):
        fields["url"] = normalise("url", rows[KID3_PROMOTION_URL])
        note_once("kid3-cli gives the URL as %r: its Website is WM/AuthorURL alone, and it names "
                  "WM/PromotionURL (where corvella-tags keeps a URL the file did not hold in WM/AuthorURL) %r"
                  % (KID3_PROMOTION_URL, KID3_PROMOTION_URL))
    if count == 0:
        return fields, 0, None, None, rows
    mime, data = kid3_picture(path, scratch)
    return fields, count, mime, data, rows


def check_kid3(checks, scratch, path, name, want, image, track):
    names = ["kid3-cli reads the values of %s" % name, "kid3-cli reads the picture of %s" % name,
             "kid3-cli leaves %s as it was" % name]
    why = missing("kid3-cli", "kid3-cli")
    if skipped(names, why):
        return
    before = read_bytes(path)
    try:
        fields, count, mime, data, rows = kid3_asf_read(path, scratch, track)
    except Exception as e:  # noqa: BLE001 - a reader that fails is one failed check
        checks.check(names[0], False, "%s: %s" % (type(e).__name__, e))
        return
    checks.check(names[0], not compare(want, fields), "%s (kid3 rows %s)" % (compare(want, fields), sorted(rows)))
    wanted_mime = image_mime(image)
    checks.check(names[1], count == 1 and mime == wanted_mime and data == image,
                 "want one %s of %d bytes; got %d, the first %s of %s bytes"
                 % (wanted_mime, len(image), count, mime, "no" if data is None else len(data)))
    checks.check(names[2], read_bytes(path) == before)


# Checks ---------------------------------------------------------------------------------------

class Fixture:
    def __init__(self, data_dir, rel):
        self.rel = rel
        self.name = os.path.basename(rel)
        self.path = os.path.join(data_dir, rel)
        self.original = read_bytes(self.path)
        self.asf = Asf(self.original)
        self.md5 = audio_md5(self.path)


def copy_to(tmp, fx, kind):
    """A writable copy of the fixture in a folder of its own."""
    folder = os.path.join(tmp, "%s-%s" % (fx.rel.replace("/", "-"), kind.replace(" ", "-")))
    os.mkdir(folder)
    path = os.path.join(folder, fx.name)
    # copyfile, not copy: the fixtures are read-only and the copy must not be.
    shutil.copyfile(fx.path, path)
    return path


def check_file(checks, fx, path, name):
    """What holds after every write: sizes consistent, the objects the tags do not own and the
    bytes after the header as they were, the same decoded audio."""
    data = read_bytes(path)
    asf = Asf(data)
    # A file left as it was keeps the fixture's File Properties file size, which the tagger that
    # made the fixture may have left stale.
    faults = asf.size_faults(file_size=data != fx.original)
    checks.check("the header's sizes and objects are sound after %s" % name, not faults,
                 "; ".join(faults) + "; objects " + asf.layout())
    diff = kept_diff(fx.asf.kept(), asf.kept())
    checks.check("every object the tags do not own keeps its bytes after %s" % name, not diff, diff)
    checks.check("the Data object and everything after the header keep their bytes after %s" % name,
                 asf.objects and asf.tail == fx.asf.tail,
                 "%d bytes after the header before, %d after" % (len(fx.asf.tail), len(getattr(asf, "tail", b""))))
    checks.check("same audio md5 after %s" % name, audio_md5(path) == fx.md5)
    return asf


def check_fixture(checks, fx):
    name = "%s as made" % fx.rel
    faults = fx.asf.size_faults(file_size=False)
    checks.check("the walker finds the header of %s sound" % name, not faults, "; ".join(faults))
    stale = [f for f in fx.asf.size_faults() if f not in faults]
    if stale:
        # mutagen and TagLib rewrite the header without updating it; corvella-tags does.
        print("NOTE %s: %s (the tagger that made it does not update it)" % (name, "; ".join(stale)))
    print("INFO %s: header of %d bytes, objects %s" % (name, fx.asf.header_size, fx.asf.layout()))
    reading = guarded(checks, "mutagen reads %s" % name, AsfReading, fx.path)
    if reading is not None:
        print("INFO %s: attributes %s" % (name, " ".join(sorted(reading.attributes))))


def run_round(checks, tool, images, scratch, fx, path, round_no, image_name, values):
    name = "%s, round %d (%s)" % (fx.rel, round_no, image_name)
    image = read_bytes(os.path.join(images, image_name))
    before = guarded(checks, "mutagen reads %s before %s" % (fx.rel, name), AsfReading, path)
    assignments = ["%s=%s" % (field, values[field]) for field, _key in FIELDS]
    if not set_ok(checks, tool, path, "set %s" % name, *assignments, "--cover", os.path.join(images, image_name)):
        return
    asf = check_file(checks, fx, path, name)
    print("INFO %s: %d bytes, objects %s" % (name, asf.size, asf.layout()))

    ref = guarded(checks, "mutagen reads %s" % name, AsfReading, path)
    want = {key: normalise(key, values[field]) for field, key in FIELDS}
    if ref is not None:
        checks.check("mutagen reads the values of %s" % name, not compare(want, ref.fields), compare(want, ref.fields))
        mime = image_mime(image)
        checks.check("mutagen reads the one picture of %s" % name, ref.pictures == [(mime, image)],
                     "want one %s of %d bytes, got %s" % (mime, len(image), picture_detail(ref.pictures)))
        faults = attribute_faults(ref, values)
        checks.check("each field in one attribute, none empty, after %s" % name, not faults, "; ".join(faults))
        if before is not None:
            checks.check("the other attributes keep their values after %s" % name, ref.others() == before.others(),
                         "before %s, after %s" % (before.others(), ref.others()))
        print("INFO %s: attributes %s" % (name, ", ".join("%s %s" % (n, v[0][0]) for n, v in
                                                        sorted(ref.attributes.items()))))

    probe = ffprobe_tags(path)
    if checks.check("ffprobe reads %s" % name, probe is not None):
        faults = probe_faults(probe, values)
        checks.check("ffprobe reads the values it shows of %s" % name, not faults,
                     "; ".join(faults) + "; keys %s" % sorted(probe))
    check_kid3(checks, scratch, path, name, want, image, values["Track"])
    check_reads_back(checks, tool, path, name, values, image)


def large_png(width=160, height=160, seed=7):
    """A PNG of noise (it does not compress): some 77 KB, over the 65,535 bytes an Extended
    Content Description value can hold."""
    import random
    import zlib
    rnd = random.Random(seed)
    raw = b"".join(b"\0" + bytes(rnd.getrandbits(8) for _ in range(width * 3)) for _ in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def run_large_cover(checks, tool, scratch, fx, path):
    """`set FILE --cover IMAGE` with a picture over 64 KiB: it goes to the Metadata Library
    object, the readers read it back, and the other attributes keep their values."""
    image = large_png()
    image_path = os.path.join(scratch, "large-cover.png")
    with open(image_path, "wb") as f:
        f.write(image)
    name = "%s, a cover of %d bytes" % (fx.rel, len(image))
    before = guarded(checks, "mutagen reads %s before %s" % (fx.rel, name), AsfReading, path)
    if not set_ok(checks, tool, path, "set " + name, "--cover", image_path):
        return
    asf = check_file(checks, fx, path, name)
    libraries = asf.find_in_extension(METADATA_LIBRARY)
    checks.check("the picture is in the Metadata Library object after %s" % name,
                 len(libraries) == 1 and image in libraries[0].raw and
                 all(image not in ob.raw for ob in asf.find(EXTENDED_CONTENT_DESCRIPTION)), asf.layout())
    ref = guarded(checks, "mutagen reads %s" % name, AsfReading, path)
    if ref is not None:
        checks.check("mutagen reads the one picture of %s" % name, ref.pictures == [("image/png", image)],
                     "got %s" % picture_detail(ref.pictures))
        if before is not None:
            drop = lambda attrs: {n: v for n, v in attrs.items() if n != PICTURE}  # noqa: E731
            checks.check("the other attributes keep their values after %s" % name,
                         drop(ref.attributes) == drop(before.attributes),
                         "before %s, after %s" % (drop(before.attributes), drop(ref.attributes)))
    why = missing("kid3-cli", "kid3-cli")
    if why:
        print("SKIP kid3-cli reads the picture of %s: %s" % (name, why))
    else:
        got = guarded(checks, "kid3-cli reads %s" % name, kid3_picture, path, scratch)
        if got is not None:
            checks.check("kid3-cli reads the picture of %s" % name, got == ("image/png", image),
                         "%s of %s bytes" % (got[0], "no" if got[1] is None else len(got[1])))
    try:
        show = show_json(tool, path)
        checks.check("corvella-tags reads back the picture of %s" % name,
                     show["record"]["CoverMime"] == "image/png" and cover_bytes(tool, path) == image,
                     "mime %r, %d bytes" % (show["record"]["CoverMime"], show["record"]["CoverSize"]))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags reads back the picture of %s" % name, False, str(e))


def run_unchanged_save(checks, tool, fx, path, label):
    check_own_title_writes_nothing(checks, tool, path, label)
    check_file(checks, fx, path, "the save without an edit of %s" % label)


def run_title_edit(checks, tool, fx, path):
    """`set FILE Title=x` changes the title alone."""
    name = "%s, set Title=x" % fx.rel
    title = "Only the title – ✓"
    before = guarded(checks, "mutagen reads %s before the title edit" % fx.rel, AsfReading, path)
    if not set_ok(checks, tool, path, name, "Title=" + title):
        return
    check_file(checks, fx, path, name)
    after = guarded(checks, "mutagen reads %s" % name, AsfReading, path)
    if before is None or after is None:
        return
    checks.check("mutagen reads the new title after %s" % name, after.values.get("Title") == [title],
                 repr(after.values.get("Title")))
    others_before = {n: v for n, v in before.attributes.items() if n != "Title"}
    others_after = {n: v for n, v in after.attributes.items() if n != "Title"}
    checks.check("mutagen lists the same other attributes with the same values after %s" % name,
                 others_before == others_after,
                 "; ".join("%s: %s, then %s" % (n, others_before.get(n), others_after.get(n))
                           for n in sorted(set(others_before) | set(others_after))
                           if others_before.get(n) != others_after.get(n)))
    try:
        got = show_json(tool, path)["record"]["Title"]
        checks.check("corvella-tags reads back the title after %s" % name, got == title, repr(got))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags reads back the title after %s" % name, False, str(e))


def run_remove(checks, tool, fx, path, label):
    name = "%s, remove" % label
    before = read_bytes(path)
    r = run_tool(tool, "remove", path)
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        drop_backup(path)
        checks.check("the failed %s left the file as it was" % name, read_bytes(path) == before)
        return
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    check_file(checks, fx, path, name)
    reading = guarded(checks, "mutagen reads %s" % name, AsfReading, path)
    if reading is not None:
        left = sorted(n for n in reading.attributes if n not in ENCODER_ATTRIBUTES)
        checks.check("mutagen finds no user attribute after %s" % name, not left, ", ".join(left))
        kept = sorted(n for n in reading.attributes if n in ENCODER_ATTRIBUTES)
        if kept:
            print("INFO %s keeps the encoder's attributes %s" % (name, ", ".join(kept)))
    try:
        show = show_json(tool, path)
        checks.check("corvella-tags finds no tag after %s" % name,
                     show["entries"] == [] and show["pictures"] == [],
                     "tags %s, entries %s" % (show["tags"], show["entries"]))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags finds no tag after %s" % name, False, str(e))


def run_read_only_copy(checks, tool, fx, path):
    run_read_only(checks, tool, fx.rel, path)
    left = leftovers(path)
    checks.check("nothing left beside the read-only %s" % fx.rel, not left, ", ".join(left))


def run_protected(checks, tool, fx, tmp, images):
    """A copy with a Content Encryption object loads, and is never written."""
    path = copy_to(tmp, fx, "protected")
    data = protected_copy(fx.original)
    with open(path, "wb") as f:
        f.write(data)
    label = "%s made protected" % fx.rel
    asf = Asf(data)
    checks.check("the walker finds the header of %s sound" % label, not asf.size_faults(),
                 "; ".join(asf.size_faults()))
    try:
        show = show_json(tool, path)
        checks.check("corvella-tags loads %s" % label, show.get("ok", True), str(show.get("error")))
        want = {field: clean(v) for field, v in show_json(tool, fx.path)["record"].items() if field == "Title"}
        got = {field: clean(v) for field, v in show["record"].items() if field == "Title"}
        checks.check("corvella-tags reads the title of %s" % label, want == got, compare(want, got))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags loads %s" % label, False, str(e))
    for what, command, args in (("set Title and Comment", "set", ["Title=Not written", "Comment=nor this"]),
                                ("set --cover", "set", ["--cover", os.path.join(images, "cover.png")]),
                                ("remove", "remove", [])):
        name = "%s on %s" % (what, label)
        r = run_tool(tool, command, path, *args)
        checks.check("%s is refused" % name, r.returncode != 0, "exit 0")
        if r.returncode != 0:
            print("INFO %s: %s" % (name, stderr_of(r)))
        checks.check("%s leaves the file as it was" % name, read_bytes(path) == data)
        left = leftovers(path)
        checks.check("nothing left beside the file after the refused %s" % name, not left, ", ".join(left))
        # Whatever a refusal left must not block the next step.
        for entry in left:
            os.remove(os.path.join(os.path.dirname(path), entry))


def fixture_list(checks, data_dir):
    """The wma/ lines of MANIFEST.tsv, each a file there, and every ASF file of the folder in
    the manifest."""
    with open(os.path.join(data_dir, "MANIFEST.tsv"), encoding="utf-8") as f:
        listed = [line.split("\t")[0] for line in f if line.split("\t")[0].startswith(FOLDER + "/")]
    on_disk = sorted("%s/%s" % (FOLDER, n) for n in os.listdir(os.path.join(data_dir, FOLDER))
                     if n.lower().endswith(EXTENSIONS))
    checks.check("MANIFEST.tsv lists every WMA fixture", sorted(listed) == on_disk,
                 "listed %s, on disk %s" % (sorted(listed), on_disk))
    fixtures = sorted(set(listed) & set(on_disk))
    checks.check("WMA fixtures found", len(fixtures) >= 3, ", ".join(fixtures))
    return fixtures


def main():
    args = setup(("ffmpeg", "ffprobe"))
    if args is None:
        return SKIP
    try:
        import mutagen.asf  # noqa: F401
    except ImportError:
        print("SKIPPED: /usr/bin/python3 cannot import mutagen.asf (Debian package python3-mutagen)")
        return SKIP
    report_missing((("kid3-cli", "kid3-cli"),))

    checks = Checks()
    tool = args.tool
    data_dir = os.path.abspath(args.data)
    images = os.path.join(data_dir, "images")
    rels = fixture_list(checks, data_dir)
    check_expected_fixtures(checks, tool, data_dir, rels, KNOWN_DIFFERENCES)

    with tempfile.TemporaryDirectory(prefix="corvella-interop-wma-") as tmp:
        scratch = os.path.join(tmp, "scratch")
        os.mkdir(scratch)
        for rel in rels:
            fx = Fixture(data_dir, rel)
            if not checks.check("ffmpeg decodes %s" % rel, fx.md5 is not None):
                continue
            check_fixture(checks, fx)

            # As made: a save without an edit, a title edit, then remove.
            path = copy_to(tmp, fx, "as made")
            guarded(checks, "unchanged save of %s" % rel, run_unchanged_save, checks, tool, fx, path, rel + " as made")
            guarded(checks, "title edit of %s" % rel, run_title_edit, checks, tool, fx, path)
            guarded(checks, "removal on %s" % rel, run_remove, checks, tool, fx, path, rel + " after the title edit")

            # Edited: the rounds of all sixteen fields and a cover, a save without an edit, remove.
            path = copy_to(tmp, fx, "edited")
            for round_no, (image_name, values) in enumerate(ROUNDS, 1):
                guarded(checks, "%s, round %d" % (rel, round_no), run_round, checks, tool, images, scratch, fx, path,
                        round_no, image_name, values)
            guarded(checks, "a large cover on %s" % rel, run_large_cover, checks, tool, scratch, fx, path)
            guarded(checks, "unchanged save of %s after the rounds" % rel, run_unchanged_save, checks, tool, fx, path,
                    rel + " after the rounds")
            guarded(checks, "removal on %s after the rounds" % rel, run_remove, checks, tool, fx, path,
                    rel + " after the rounds")

            guarded(checks, "read-only %s" % rel, run_read_only_copy, checks, tool, fx, copy_to(tmp, fx, "read-only"))
            guarded(checks, "protected %s" % rel, run_protected, checks, tool, fx, tmp, images)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
