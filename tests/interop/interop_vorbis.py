#!/usr/bin/python3
"""FLAC, Ogg Vorbis, Opus and Ogg FLAC interoperability of corvella-tags with independent readers.

For every fixture in tests/data/flac, tests/data/ogg, tests/data/opus and tests/data/oga, on a
temporary copy:
  * `corvella-tags set FILE Field=Value... --cover IMAGE` writes all sixteen fields (the two
    rounds of interop_mp3.py: text outside Latin-1, "4/12", comments and lyrics of several
    lines) with a PNG cover, then other values with a JPEG cover, then a third round that
    changes only the track and disc totals. After each round:
      - mutagen reads the same sixteen values from the Vorbis comments (with the key mapping
        that produced EXPECTED.jsonl: the year from DATE, the track total from TRACKTOTAL or
        TOTALTRACKS, the web address from URL or WEBSITE, ...) and exactly one picture with the
        same bytes (a FLAC PICTURE block, or a METADATA_BLOCK_PICTURE comment in Ogg Vorbis
        and Opus, or a PICTURE header packet in Ogg FLAC);
      - each field sits in one comment under the name corvella-tags is meant to write it to:
        the name the field was read from, else DATE for a year, TOTALTRACKS and TOTALDISCS for
        totals, URL for a web address, ENCODEDBY, ...; no field comment is duplicated or empty;
      - kid3-cli reads the same values and picture, and changes nothing;
      - vorbiscomment (Ogg Vorbis) lists the same comments as mutagen;
      - ffprobe reads the same title, artist and album;
      - the stream is valid: `flac -t` for FLAC (native and Ogg), `oggz-validate` for every
        Ogg file, ogginfo for Ogg Vorbis, opusinfo for Opus; every Ogg page has its right
        checksum, the pages of each stream are numbered without a gap, the header pages have
        granule position 0 and the audio starts on a page of its own; the audio pages are
        those of before apart from their sequence numbers and checksums;
      - ffmpeg decodes the same audio (md5);
      - every comment that is not one of the sixteen fields or a picture keeps its value and
        order, the vendor string stays, and so do the FLAC metadata blocks other than
        VORBIS_COMMENT, PICTURE and PADDING (metaflac --list for a native file, the header
        packets for Ogg FLAC, whose header count must match the packets);
      - no backup or temporary file is left beside the file, and corvella-tags reads its own
        values and picture back.
  * `set FILE Title=<the same title>` writes nothing (same bytes, same modification time),
    and `set-entry FILE TITLE=x` twice leaves the same bytes the second time; this runs on
    the fixture as the other tools made it and again after the rounds.
  * Then `set FILE --no-cover` leaves no picture and the same values, and `remove FILE` no
    field and no picture, each with a valid stream and the same audio.
  * A copy without write permission is refused and left as it was.
Also every fixture's `show --json` record holds the sixteen values and the cover of its
EXPECTED.jsonl line, apart from the differences listed in KNOWN_DIFFERENCES.

Usage: interop_vorbis.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen, ffmpeg or ffprobe is missing, 1 when any check failed. A
missing kid3-cli, flac, metaflac, oggz-validate, vorbiscomment, ogginfo or opusinfo turns each
of its checks into a SKIP line and the rest runs.
Closes with the line "N passed, N failed".
"""

import base64
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from interop_common import (Checks, SKIP, audio_md5, compare, missing, report_missing, run_tool, setup,
                            show_json, skipped)
from interop_mp3 import (FIELDS, ROUNDS, Reading, check_expected_fixtures, clean, cover_bytes, drop_backup,
                         image_mime, join, kid3_frames, kid3_picture, leftovers, norm_bpm, norm_genre, norm_num,
                         norm_year, normalise, picture_detail, read_bytes, stderr_of)

FOLDERS = ("flac", "ogg", "opus", "oga")

# interop_mp3's two rounds, then a third that changes only the totals of track and disc (the
# fixtures have 12 tracks and 2 discs, as both rounds do): a total must reach the comment other
# readers take it from.
VORBIS_ROUNDS = ROUNDS + [("cover.jpg", dict(ROUNDS[1][1], Track="5/20", Disc="3/4"))]

# Differences between a fixture's EXPECTED.jsonl line and what corvella-tags loads that are
# faults of the reader that wrote EXPECTED.jsonl, not of corvella-tags:
#   (fixture, EXPECTED.jsonl key) -> (the value corvella-tags rightly loads, the reason).
KNOWN_DIFFERENCES = {
}


# Reference reading with mutagen ----------------------------------------------------------------
#
# The key mapping of the reader behind EXPECTED.jsonl: the first name with a value wins, a
# separate total is folded into the number, several values are joined with "; ".
VC_KEYS = {
    "title": ["TITLE"], "artist": ["ARTIST"], "album": ["ALBUM"],
    "date": ["DATE", "YEAR", "ORIGINALDATE"], "track": ["TRACKNUMBER", "TRACK"],
    "tracktotal": ["TRACKTOTAL", "TOTALTRACKS"], "disc": ["DISCNUMBER", "DISC"],
    "disctotal": ["DISCTOTAL", "TOTALDISCS"], "genre": ["GENRE"],
    "comment": ["COMMENT", "DESCRIPTION"], "bpm": ["BPM", "TEMPO"],
    "albumartist": ["ALBUMARTIST", "ALBUM ARTIST", "ALBUM_ARTIST"], "composer": ["COMPOSER"],
    "originalartist": ["ORIGINALARTIST", "ORIGINAL ARTIST", "ORIGARTIST"],
    "copyright": ["COPYRIGHT"], "url": ["URL", "WEBSITE", "WWW", "CONTACT"],
    "encodedby": ["ENCODEDBY", "ENCODED-BY", "ENCODED BY"],
    "lyrics": ["LYRICS", "UNSYNCEDLYRICS", "UNSYNCED LYRICS"],
}

# Where corvella-tags writes each field: (the names it reads the field from, in order; the name
# a value gets when none of them held text). The value goes to the first name that held text.
# The number fields also have their totals. A year that had no comment is written as DATE.
CORVELLA_NAMES = {
    "Title": (["TITLE"], "TITLE"), "Artist": (["ARTIST"], "ARTIST"), "Album": (["ALBUM"], "ALBUM"),
    "Year": (["YEAR", "DATE", "RELEASEDATE", "ORIGINALRELEASEDATE", "RECORDINGDATE"], "DATE"),
    "Track": (["TRACKNUMBER", "TRACK"], "TRACKNUMBER"), "Genre": (["GENRE"], "GENRE"),
    "Comment": (["COMMENT", "DESCRIPTION"], "COMMENT"), "Disc": (["DISCNUMBER", "DISC"], "DISCNUMBER"),
    "BPM": (["BPM"], "BPM"), "AlbumArtist": (["ALBUMARTIST"], "ALBUMARTIST"),
    "Composer": (["COMPOSER"], "COMPOSER"), "OrigArtist": (["ORIGINALARTIST", "ORIGARTIST"], "ORIGINALARTIST"),
    "Copyright": (["COPYRIGHT"], "COPYRIGHT"), "URL": (["URL", "ARTISTURL", "WEBSITE"], "WEBSITE"),
    "EncodedBy": (["ENCODEDBY", "ENCODED-BY"], "ENCODEDBY"),
    "Lyrics": (["LYRICS", "UNSYNCEDLYRICS"], "LYRICS"),
}
TOTAL_NAMES = {"Track": (["TOTALTRACKS", "TRACKTOTAL"], "TOTALTRACKS"),
               "Disc": (["TOTALDISCS", "DISCTOTAL"], "TOTALDISCS")}
PICTURE_NAMES = {"METADATA_BLOCK_PICTURE"}
# Every comment name a save of the sixteen fields and the cover may touch; the others stay.
FIELD_COMMENT_NAMES = ({n for names, _new in CORVELLA_NAMES.values() for n in names} |
                       {n for names, _new in TOTAL_NAMES.values() for n in names} | {"DATE"} | PICTURE_NAMES)


class VorbisReading(Reading):
    def __init__(self):
        super().__init__()
        self.comments = []  # (name, value) as stored, in order
        self.vendor = None


def picture_of_block(body):
    from mutagen import flac
    p = flac.Picture(body)
    return image_mime(p.data, p.mime), p.data


def fill_from_comments(r):
    up = {}
    for k, v in r.comments:
        up.setdefault(k.upper(), []).append(v)

    def g(name):
        for k in VC_KEYS[name]:
            if up.get(k):
                return up[k]
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
    for b64 in up.get("METADATA_BLOCK_PICTURE", []):
        r.pictures.append(picture_of_block(base64.b64decode(b64)))


def reference_read(path):
    """What mutagen reads: the Vorbis comments, and the pictures of FLAC PICTURE blocks, of
    METADATA_BLOCK_PICTURE comments and of Ogg FLAC PICTURE packets."""
    import mutagen
    f = mutagen.File(path)
    if f is None:
        raise RuntimeError("mutagen does not recognise the file")
    r = VorbisReading()
    r.tag_types.append(type(f).__name__)
    if f.tags is not None:
        r.comments = [(k, v) for k, v in f.tags]
        r.vendor = f.tags.vendor
    fill_from_comments(r)
    if type(f).__name__ == "FLAC":
        r.pictures.extend((image_mime(p.data, p.mime), p.data) for p in f.pictures)
    elif type(f).__name__ == "OggFLAC":
        for packet in ogg_flac_headers(ogg_pages(read_bytes(path)))[1:]:
            if packet and packet[0] & 0x7F == 6:
                r.pictures.append(picture_of_block(packet[4:]))
    return r


# Ogg pages ----------------------------------------------------------------------------------

def _crc_table():
    table = []
    for i in range(256):
        c = i << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) if c & 0x80000000 else (c << 1)
        table.append(c & 0xFFFFFFFF)
    return table


CRC_TABLE = _crc_table()


def ogg_crc(data):
    crc = 0
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ CRC_TABLE[((crc >> 24) ^ b) & 0xFF]
    return crc


class Page:
    def __init__(self, data, at):
        if data[at:at + 4] != b"OggS" or at + 27 > len(data):
            raise ValueError("no Ogg page at offset %d" % at)
        (self.version, self.flags, self.granule, self.serial, self.sequence,
         self.crc, nsegs) = struct.unpack_from("<BBqIIIB", data, at + 4)
        self.lacing = list(data[at + 27:at + 27 + nsegs])
        head = 27 + nsegs
        self.size = head + sum(self.lacing)
        if at + self.size > len(data):
            raise ValueError("Ogg page at offset %d runs past the end" % at)
        self.offset = at
        self.raw = data[at:at + self.size]
        self.body = data[at + head:at + self.size]
        self.crc_ok = ogg_crc(self.raw[:22] + b"\0\0\0\0" + self.raw[26:]) == self.crc

    def packets(self):
        """(bytes, complete) of each packet piece on the page, in order."""
        out, at, piece = [], 0, 0
        for n in self.lacing:
            piece += n
            if n < 255:
                out.append((self.body[at:at + piece], True))
                at += piece
                piece = 0
        if piece:
            out.append((self.body[at:at + piece], False))
        return out


def ogg_pages(data):
    pages, at = [], 0
    while at < len(data):
        page = Page(data, at)
        pages.append(page)
        at += page.size
    return pages


def first_stream(pages):
    serial = pages[0].serial if pages else None
    return [p for p in pages if p.serial == serial]


def stream_packets(pages):
    """(packets, index of the page each packet ends on) of one stream's pages."""
    packets, ends, pending = [], [], b""
    for i, page in enumerate(pages):
        for piece, complete in page.packets():
            pending += piece
            if complete:
                packets.append(pending)
                ends.append(i)
                pending = b""
    return packets, ends


def ogg_flac_headers(pages):
    """The header packets of an Ogg FLAC stream: the first packet, then metadata blocks up to
    the one marked last."""
    packets, _ends = stream_packets(first_stream(pages))
    out = packets[:1]
    for packet in packets[1:]:
        out.append(packet)
        if not packet or packet[0] & 0x80:
            break
    return out


def header_packet_total(packets):
    """The number of header packets of a stream, the first counted: 3 for Vorbis, 2 for Opus,
    for Ogg FLAC up to the metadata block marked last."""
    first = packets[0]
    if first[:7] == b"\x01vorbis":
        return 3
    if first[:8] == b"OpusHead":
        return 2
    if first[:5] == b"\x7fFLAC":
        n = 1
        for packet in packets[1:]:
            n += 1
            if not packet or packet[0] & 0x80:
                break
        return n
    return 1


def ogg_layout(data):
    """The page facts the checks compare: (faults, audio pages of the first stream as (flags,
    granule, lacing, body), pages of the other streams as raw bytes, header packets)."""
    faults = []
    pages = ogg_pages(data)
    if not pages:
        return ["no Ogg page"], [], [], []
    for p in pages:
        if not p.crc_ok:
            faults.append("page %d of stream %08x has a wrong checksum" % (p.sequence, p.serial))
    serials = []
    for p in pages:
        if p.serial not in serials:
            serials.append(p.serial)
    for serial in serials:
        seq = [p.sequence for p in pages if p.serial == serial]
        if seq != list(range(seq[0], seq[0] + len(seq))) or seq[0] != 0:
            faults.append("stream %08x pages are numbered %s" % (serial, short_list(seq)))
    first = first_stream(pages)
    packets, ends = stream_packets(first)
    count = header_packet_total(packets) if packets else 1
    if len(packets) < count:
        return faults + ["only %d of %d header packets" % (len(packets), count)], [], [], packets
    last_header_page = ends[count - 1]
    # A page on which no packet ends has granule position -1.
    if any(p.granule != (0 if any(done for _piece, done in p.packets()) else -1)
           for p in first[:last_header_page + 1]):
        faults.append("a header page has a granule position other than 0 (or -1 where no packet ends)")
    # The audio begins on a page of its own: the page ending the last header packet ends
    # with it.
    completed = sum(1 for p in first[:last_header_page + 1] for _piece, done in p.packets() if done)
    if completed != count or not first[last_header_page].packets()[-1][1]:
        faults.append("an audio packet starts on the page of the last header packet")
    if not first[0].flags & 0x02:
        faults.append("the first page is not marked as the beginning of the stream")
    if not first[-1].flags & 0x04:
        faults.append("the last page is not marked as the end of the stream")
    audio = [(p.flags, p.granule, p.lacing, p.body) for p in first[last_header_page + 1:]]
    others = [p.raw for p in pages if p.serial != first[0].serial]
    return faults, audio, others, packets[:count]


def short_list(values):
    return str(values) if len(values) <= 12 else "%s ... %s" % (values[:6], values[-3:])


# Outside tools --------------------------------------------------------------------------------

def run(args, timeout=120):
    r = subprocess.run(args, capture_output=True, timeout=timeout)
    out = (r.stdout + r.stderr).decode("utf-8", "replace")
    return r.returncode, out


def validators(kind):
    """(name, program, package, args before the file, judge of (exit code, output)) of the
    stream checkers for a kind of file."""
    ok_quiet = lambda rc, out: rc == 0  # noqa: E731
    no_warnings = lambda rc, out: rc == 0 and not any(  # noqa: E731
        w in out for w in ("WARNING", "Warning:", "ERROR", "Error"))
    out = []
    if kind in ("FLAC", "OggFLAC"):
        out.append(("flac -t", "flac", "flac", ["flac", "-t", "-s"], ok_quiet))
    if kind != "FLAC":
        out.append(("oggz-validate", "oggz-validate", "oggz-tools", ["oggz-validate"], ok_quiet))
    if kind == "OggVorbis":
        out.append(("ogginfo", "ogginfo", "vorbis-tools", ["ogginfo"], no_warnings))
    if kind == "OggOpus":
        out.append(("opusinfo", "opusinfo", "opus-tools", ["opusinfo"], no_warnings))
    return out


def metaflac_blocks(path):
    """The metaflac --list text of each block other than VORBIS_COMMENT, PICTURE and PADDING,
    without the block number and last flag, in order."""
    rc, out = run(["metaflac", "--list", path])
    if rc != 0:
        raise RuntimeError("metaflac --list exited %d: %s" % (rc, out.strip()[:300]))
    blocks, current = [], None
    for line in out.splitlines():
        if line.startswith("METADATA block #"):
            current = []
            blocks.append(current)
        elif current is not None and not line.startswith("  is last:"):
            current.append(line)
    keep = []
    for b in blocks:
        kind = b[0].split("(")[-1].rstrip(")") if b else ""
        if kind not in ("VORBIS_COMMENT", "PICTURE", "PADDING"):
            keep.append("\n".join(b))
    return keep


def vorbiscomment_list(path):
    """The comments vorbiscomment lists (escapes undone), as (name, value)."""
    r = subprocess.run(["vorbiscomment", "-l", "-e", "-R", path], capture_output=True, timeout=60)
    if r.returncode != 0:
        raise RuntimeError("vorbiscomment exited %d: %s" % (r.returncode, stderr_of(r)))
    out = []
    for line in r.stdout.decode("utf-8", "replace").split("\n"):
        if not line:
            continue
        name, _sep, value = line.partition("=")
        text, i = [], 0
        while i < len(value):
            if value[i] == "\\" and i + 1 < len(value):
                text.append({"n": "\n", "r": "\r", "0": "\0", "\\": "\\"}.get(value[i + 1], value[i + 1]))
                i += 2
            else:
                text.append(value[i])
                i += 1
        out.append((name, "".join(text)))
    return out


KID3_NAMES = {
    "Title": "title", "Artist": "artist", "Album": "album", "Date": "year", "Genre": "genre",
    "Comment": "comment", "BPM": "bpm", "Album Artist": "albumartist", "Composer": "composer",
    "Original Artist": "originalartist", "Copyright": "copyright", "Website": "url",
    "Encoded-by": "encodedby", "Lyrics": "lyrics",
}


def kid3_read(path, scratch):
    """The sixteen values kid3-cli reads from the Vorbis comments (its tag 2), every frame
    name it lists, its number of pictures and the MIME type and bytes of the first."""
    rows, count = kid3_frames(path)
    fields = {key: normalise(key, rows.get(name)) for name, key in KID3_NAMES.items()}
    fields["track"] = norm_num(rows.get("Track Number"), rows.get("Total Tracks"))
    fields["disc"] = norm_num(rows.get("Disc Number"), rows.get("Total Discs"))
    if count == 0:
        return fields, rows, 0, None, None
    mime, data = kid3_picture(path, scratch)
    return fields, rows, count, mime, data


# Ways of reading that belong to kid3, not to corvella-tags: (file kind, what) -> reason.
KID3_QUIRKS = {
    ("OggFLAC", "picture"): "kid3 lists no picture of an Ogg FLAC file at all (not even of the "
                            "fixture oga/oggflac-tagged.oga as flac --ogg made it)",
}


def ffprobe_all_tags(path):
    """ffprobe's format tags, then those of the first audio stream (where the Ogg demuxer puts
    the comments), keys lower-cased."""
    r = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags:stream_tags",
                        "-select_streams", "a:0", "-of", "json", path], capture_output=True, text=True)
    if r.returncode != 0:
        return None
    j = json.loads(r.stdout or "{}")
    tags = {k.lower(): v for k, v in ((j.get("format") or {}).get("tags") or {}).items()}
    for s in j.get("streams") or []:
        for k, v in (s.get("tags") or {}).items():
            tags.setdefault(k.lower(), v)
    return tags


# Checks -----------------------------------------------------------------------------------------

def other_comments(comments):
    return [(k.upper(), v) for k, v in comments if k.upper() not in FIELD_COMMENT_NAMES]


def names_holding(comments, names):
    """The first of names with a comment holding text (ASCII case folded), else None."""
    for name in names:
        if any(k.upper() == name and v.strip() for k, v in comments):
            return name
    return None


def expected_names(before):
    """Field (and "Track total", "Disc total") -> the comment name corvella-tags writes it to,
    from the comments the file had before."""
    out = {}
    for field, (names, new) in CORVELLA_NAMES.items():
        out[field] = names_holding(before, names) or new
    for field, (names, new) in TOTAL_NAMES.items():
        number_names = CORVELLA_NAMES[field][0]
        # "3/12" under a number name loads as the number and a total under the first total name.
        combined = any(k.upper() in number_names and "/" in v for k, v in before)
        had = names_holding(before, names)
        out[field + " total"] = names[0] if combined and had in (None, names[0]) else (had or new)
    if out["Track"] == "TRACK":
        # A "TRACK" comment holding "3/12" is replaced by the number and its total.
        if any(k.upper() == "TRACK" and "/" in v for k, v in before):
            out["Track"] = "TRACKNUMBER"
    return out


def name_faults(before, after, values):
    """Where the sixteen values landed among the comments, against where they belong."""
    want = expected_names(before)
    faults = []
    for field, _key in FIELDS:
        value = values[field]
        number, _slash, total = value.partition("/") if field in TOTAL_NAMES else (value, "", "")
        if total and any(k.upper() == want[field] and v == value for k, v in after):
            continue  # a "3/12" comment that was there and stays (the value did not change)
        for label, text in ((field, number), (field + " total", total)):
            if not text:
                continue
            name = want[label]
            holders = [k.upper() for k, v in after if v == text and k.upper() in FIELD_COMMENT_NAMES]
            if name not in holders:
                faults.append("%s %r not in a %s comment (found in %s)" % (label, text, name,
                                                                          "+".join(holders) or "none"))
    counts = {}
    for k, v in after:
        u = k.upper()
        if u in FIELD_COMMENT_NAMES and u not in PICTURE_NAMES:
            counts[u] = counts.get(u, 0) + 1
            if not v.strip():
                faults.append("empty %s comment" % u)
    # Two names for one value (TRACKTOTAL and TOTALTRACKS, URL and WEBSITE) leave readers to
    # pick one; a save must not bring a second one in.
    groups = [names for names, _new in CORVELLA_NAMES.values()] + [names for names, _new in TOTAL_NAMES.values()]
    for names in groups:
        had = sorted({k.upper() for k, _v in before if k.upper() in names})
        has = sorted({k.upper() for k, _v in after if k.upper() in names})
        if len(has) > max(1, len(had)):
            faults.append("%s where the file had %s" % (" and ".join(has), " and ".join(had) or "none"))
    old = {}
    for k, _v in before:
        old[k.upper()] = old.get(k.upper(), 0) + 1
    for u, n in sorted(counts.items()):
        if n > max(1, old.get(u, 0)):
            faults.append("%d %s comments" % (n, u))
    return faults


def validate(checks, path, kind, name):
    for label, program, package, args, judge in validators(kind):
        why = missing(program, package)
        check_name = "%s passes on %s" % (label, name)
        if why:
            print("SKIP %s: %s" % (check_name, why))
            continue
        rc, out = run(args + [path])
        checks.check(check_name, judge(rc, out), "exit %d: %s" % (rc, out.strip().replace("\n", " | ")[:600]))


def structure(path, kind):
    """What must survive a save apart from the tags: (faults, kept facts)."""
    data = read_bytes(path)
    if kind == "FLAC":
        return [], {"blocks": metaflac_blocks(path)} if not missing("metaflac", "flac") else {}
    faults, audio, others, headers = ogg_layout(data)
    kept = {"audio pages": audio, "other streams": others}
    if kind == "OggFLAC" and headers:
        first = headers[0]
        kept["first header packet"] = first[:7] + first[9:]
        stated = struct.unpack(">H", first[7:9])[0] if len(first) >= 9 else None
        if stated not in (0, len(headers) - 1):
            faults.append("the first packet counts %s header packets, the stream has %d" % (stated, len(headers) - 1))
        # The last-block flag may move to another block; the blocks stay.
        kept["other blocks"] = [bytes([p[0] & 0x7F]) + p[1:] for p in headers[1:] if p and p[0] & 0x7F not in (1, 4, 6)]
        lasts = [i for i, p in enumerate(headers[1:], 1) if p and p[0] & 0x80]
        if lasts != [len(headers) - 1]:
            faults.append("header packets marked last: %s of %d" % (lasts, len(headers) - 1))
    else:
        kept["identification header"] = headers[:1]
        if kind == "OggVorbis" and len(headers) == 3:
            kept["setup header"] = headers[2]
    return faults, kept


def check_structure(checks, path, kind, name, kept_before):
    try:
        faults, kept = structure(path, kind)
    except Exception as e:  # noqa: BLE001 - a layout that cannot be walked is one failed check
        checks.check("the layout of %s can be walked" % name, False, str(e))
        return
    if kind != "FLAC":
        checks.check("Ogg pages and header packets sound after %s" % name, not faults, "; ".join(faults))
    if kind == "FLAC" and not kept:
        print("SKIP metaflac --list blocks after %s: %s" % (name, missing("metaflac", "flac")))
    for fact, value in kept.items():
        checks.check("%s unchanged after %s" % (fact, name), kept_before.get(fact) == value,
                     "%d before, %d after" % (len(kept_before.get(fact) or []), len(value or []))
                     if isinstance(value, list) else "differs")


def check_kid3(checks, scratch, path, kind, name, want, image, fixture_names):
    """kid3-cli reads want and the one picture image; fixture_names are the comment names of the
    fixture as the other tools made it."""
    names = ["kid3-cli reads the values of %s" % name, "kid3-cli reads the picture of %s" % name,
             "kid3-cli leaves %s as it was" % name]
    why = missing("kid3-cli", "kid3-cli")
    if skipped(names, why):
        return
    before = read_bytes(path)
    try:
        fields, rows, count, mime, data = kid3_read(path, scratch)
    except Exception as e:  # noqa: BLE001
        checks.check(names[0], False, str(e))
        return
    url = rows.get("URL")
    if fields["url"] != want["url"] and "URL" in fixture_names and normalise("url", url) == want["url"]:
        # kid3 shows a URL comment as a frame of that name, not as its Website (WEBSITE).
        print("NOTE kid3-cli gives the web address of %s as 'URL', the name the fixture had" % name)
        fields["url"] = want["url"]
    description = rows.get("Description")
    if (fields["comment"] != want["comment"] and "DESCRIPTION" in fixture_names
            and normalise("comment", description) == want["comment"]):
        # kid3 shows a DESCRIPTION comment as its Description, not as its Comment.
        print("NOTE kid3-cli gives the comment of %s as 'Description', the name the fixture had" % name)
        fields["comment"] = want["comment"]
    diffs = compare(want, fields)
    if diffs:
        diffs += " (kid3 frames: %s)" % ", ".join(sorted(n for n in rows if not n.startswith("Picture")))
    checks.check(names[0], not diffs, diffs)
    quirk = KID3_QUIRKS.get((kind, "picture"))
    if quirk:
        print("SKIP %s: %s" % (names[1], quirk))
    else:
        want_mime = image_mime(image)
        checks.check(names[1], count == 1 and mime == want_mime and data == image,
                     "want one %s of %d bytes, got %d picture(s), the first %s of %s bytes"
                     % (want_mime, len(image), count, mime, "no" if data is None else len(data)))
    checks.check(names[2], read_bytes(path) == before)


def check_vorbiscomment(checks, path, kind, name, ref):
    if kind != "OggVorbis":
        return
    check_name = "vorbiscomment lists the comments mutagen reads after %s" % name
    why = missing("vorbiscomment", "vorbis-tools")
    if why:
        print("SKIP %s: %s" % (check_name, why))
        return
    try:
        listed = vorbiscomment_list(path)
    except Exception as e:  # noqa: BLE001
        checks.check(check_name, False, str(e))
        return
    checks.check(check_name, listed == ref.comments,
                 "%d comments listed, mutagen %d; first difference %s" % (
                     len(listed), len(ref.comments),
                     next(((a, b) for a, b in zip(listed, ref.comments) if a != b), "in length")))


def run_round(checks, tool, images, scratch, label, path, kind, fixture_names, md5, round_no, image_name,
              values):
    name = "%s, round %d (%s)" % (label, round_no, image_name)
    image = read_bytes(os.path.join(images, image_name))
    before = reference_read(path)
    _faults, kept_before = structure(path, kind)
    assignments = ["%s=%s" % (field, values[field]) for field, _key in FIELDS]
    r = run_tool(tool, "set", path, *assignments, "--cover", os.path.join(images, image_name))
    if not checks.check("set %s" % name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        drop_backup(path)
        return False
    if stderr_of(r):
        print("INFO corvella-tags said for %s: %s" % (name, stderr_of(r).replace("\n", " | ")))
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))

    try:
        ref = reference_read(path)
    except Exception as e:  # noqa: BLE001
        checks.check("mutagen reads %s" % name, False, str(e))
        return False
    print("INFO %s: %d bytes, comments %s" % (name, os.path.getsize(path),
                                             ", ".join(k for k, _v in ref.comments)))
    want = {key: normalise(key, values[field]) for field, key in FIELDS}
    checks.check("mutagen reads the values of %s" % name, not compare(want, ref.fields),
                 "%s; %s" % ("+".join(ref.tag_types), compare(want, ref.fields)))
    mime = image_mime(image)
    checks.check("mutagen reads the picture of %s" % name,
                 len(ref.pictures) == 1 and ref.pictures[0] == (mime, image),
                 "want one %s of %d bytes, got %s" % (mime, len(image), picture_detail(ref.pictures)))
    faults = name_faults(before.comments, ref.comments, values)
    checks.check("each value in one comment of its name after %s" % name, not faults, "; ".join(faults))
    checks.check("other comments unchanged after %s" % name,
                 other_comments(before.comments) == other_comments(ref.comments),
                 "before %s, after %s" % (other_comments(before.comments), other_comments(ref.comments)))
    if before.vendor is None:
        print("INFO %s: the new comment block has the vendor string %r" % (name, ref.vendor))
    else:
        checks.check("vendor string unchanged after %s" % name, before.vendor == ref.vendor,
                     "%r, then %r" % (before.vendor, ref.vendor))

    check_kid3(checks, scratch, path, kind, name, want, image, fixture_names)
    check_vorbiscomment(checks, path, kind, name, ref)
    probe = ffprobe_all_tags(path)
    want_probe = {k: values[k.capitalize()] for k in ("title", "artist", "album")}
    checks.check("ffprobe reads title, artist and album of %s" % name,
                 probe is not None and not compare(want_probe, probe),
                 "ffprobe failed" if probe is None else compare(want_probe, probe))
    validate(checks, path, kind, name)
    check_structure(checks, path, kind, name, kept_before)
    checks.check("same audio md5 after %s" % name, audio_md5(path) == md5)

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
    """A save of the same title writes nothing; the same entry set twice gives the same bytes."""
    try:
        title = show_json(tool, path)["record"]["Title"]
    except Exception as e:  # noqa: BLE001
        checks.check("load %s before saving without an edit" % label, False, str(e))
        return
    original = read_bytes(path)
    # A modification time in the past, so that any write shows even on a coarse clock.
    os.utime(path, ns=(1_000_000_000_000_000_000, 1_000_000_000_000_000_000))
    ref_before = reference_read(path)
    r = run_tool(tool, "set", path, "Title=" + title)
    name = "%s, set Title=<same>" % label
    if checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        st = os.stat(path)
        checks.check("%s writes nothing" % name,
                     read_bytes(path) == original and st.st_mtime_ns == 1_000_000_000_000_000_000,
                     "%s, modification time %s" % ("same bytes" if read_bytes(path) == original else "bytes changed",
                                                   "kept" if st.st_mtime_ns == 1_000_000_000_000_000_000
                                                   else "changed"))
    else:
        drop_backup(path)

    name = "%s, set-entry TITLE=x twice" % label
    outputs = []
    for _ in range(2):
        r = run_tool(tool, "set-entry", path, "TITLE=x")
        if not checks.check("%s (run %d)" % (name, len(outputs) + 1), r.returncode == 0,
                            "exit %d: %s" % (r.returncode, stderr_of(r))):
            drop_backup(path)
            break
        outputs.append(read_bytes(path))
    if len(outputs) == 2:
        first, second = outputs
        diff_at = next((i for i in range(min(len(first), len(second))) if first[i] != second[i]),
                       min(len(first), len(second)))
        checks.check("%s: byte-identical the second time" % name, first == second,
                     "%d bytes then %d, first difference at offset %d" % (len(first), len(second), diff_at))
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    ref_after = reference_read(path)
    want = dict(ref_before.fields, title="x")
    checks.check("mutagen reads the same values after %s" % name, not compare(want, ref_after.fields),
                 compare(want, ref_after.fields))
    checks.check("mutagen reads the same pictures after %s" % name, ref_before.pictures == ref_after.pictures,
                 "before %s, after %s" % (picture_detail(ref_before.pictures), picture_detail(ref_after.pictures)))
    checks.check("other comments unchanged after %s" % name,
                 other_comments(ref_before.comments) == other_comments(ref_after.comments))
    checks.check("same audio md5 after %s" % name, audio_md5(path) == md5)


def run_removals(checks, tool, label, path, kind, md5):
    """`set FILE --no-cover` drops the picture and keeps the values; `remove FILE` then leaves no
    field and no picture, and a stream that is still valid with the same audio."""
    before = reference_read(path)
    r = run_tool(tool, "set", path, "--no-cover")
    name = "%s, set --no-cover" % label
    if checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        after = reference_read(path)
        checks.check("mutagen reads no picture and the same values after %s" % name,
                     not after.pictures and not compare(before.fields, after.fields),
                     "%s; %s" % (picture_detail(after.pictures), compare(before.fields, after.fields)))
        validate(checks, path, kind, name)
    else:
        drop_backup(path)
    r = run_tool(tool, "remove", path)
    name = "%s, remove" % label
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        drop_backup(path)
        return
    after = reference_read(path)
    left = {k: v for k, v in after.fields.items() if v is not None}
    checks.check("mutagen reads no field and no picture after %s" % name, not left and not after.pictures,
                 "%s; %s" % (left, picture_detail(after.pictures)))
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    validate(checks, path, kind, name)
    checks.check("same audio md5 after %s" % name, audio_md5(path) == md5)


def run_read_only(checks, tool, label, path):
    os.chmod(path, 0o444)
    before = read_bytes(path)
    r = run_tool(tool, "set", path, "Title=Not written")
    checks.check("set refuses the read-only %s and leaves it as it was" % label,
                 r.returncode != 0 and read_bytes(path) == before,
                 "exit %d: %s; file %s" % (r.returncode, stderr_of(r),
                                          "unchanged" if read_bytes(path) == before else "changed"))


def file_kind(path):
    import mutagen
    f = mutagen.File(path)
    return type(f).__name__ if f is not None else None


def main():
    args = setup(("ffmpeg", "ffprobe"))
    if args is None:
        return SKIP
    report_missing((("kid3-cli", "kid3-cli"), ("flac", "flac"), ("metaflac", "flac"),
                    ("oggz-validate", "oggz-tools"), ("vorbiscomment", "vorbis-tools"),
                    ("ogginfo", "vorbis-tools"), ("opusinfo", "opus-tools")))

    checks = Checks()
    tool = args.tool
    data_dir = os.path.abspath(args.data)
    images = os.path.join(data_dir, "images")
    fixtures = []
    for folder in FOLDERS:
        names = sorted(os.listdir(os.path.join(data_dir, folder)))
        fixtures += ["%s/%s" % (folder, n) for n in names]
    checks.check("FLAC and Ogg fixtures found", len(fixtures) >= 10, "%d" % len(fixtures))

    check_expected_fixtures(checks, tool, data_dir, fixtures, KNOWN_DIFFERENCES)

    with tempfile.TemporaryDirectory(prefix="corvella-interop-vorbis-") as tmp:
        scratch = os.path.join(tmp, "scratch")
        os.mkdir(scratch)
        for rel in fixtures:
            label = rel
            kind = file_kind(os.path.join(data_dir, rel))
            fixture_names = {k.upper() for k, _v in reference_read(os.path.join(data_dir, rel)).comments}
            md5 = None
            for copy in ("as made", "edited", "read-only"):
                folder = os.path.join(tmp, "%s-%s" % (rel.replace("/", "-"), copy.replace(" ", "-")))
                os.mkdir(folder)
                path = os.path.join(folder, os.path.basename(rel))
                # copyfile, not copy: the fixtures are read-only and the copy must not be.
                shutil.copyfile(os.path.join(data_dir, rel), path)
                if md5 is None:
                    md5 = audio_md5(path)
                    if not checks.check("ffmpeg decodes %s" % label, md5 is not None):
                        break
                    validate(checks, path, kind, "%s as made" % label)
                if copy == "as made":
                    run_no_edit_saves(checks, tool, label + " as made", path, md5)
                elif copy == "read-only":
                    run_read_only(checks, tool, label, path)
                else:
                    for round_no, (image_name, values) in enumerate(VORBIS_ROUNDS, 1):
                        run_round(checks, tool, images, scratch, label, path, kind, fixture_names, md5,
                                  round_no, image_name, values)
                    run_no_edit_saves(checks, tool, label + " after the rounds", path, md5)
                    run_removals(checks, tool, label, path, kind, md5)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
