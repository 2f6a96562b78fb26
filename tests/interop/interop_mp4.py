#!/usr/bin/python3
"""MP4 (M4A, M4B) interoperability of corvella-tags with independent readers.

For every fixture in tests/data/m4a, on temporary copies:
  * `corvella-tags set FILE Field=Value... --cover IMAGE` writes all sixteen fields (the two
    rounds of interop_mp3.py: text outside Latin-1, "4/12", comments and lyrics of several
    lines) with a PNG cover, then other values with a JPEG cover. After each round:
      - mutagen reads the same sixteen values from the item list (with the key mapping that
        produced EXPECTED.jsonl: ©nam, ©ART, ©alb, the year of ©day, trkn, gnre or ©gen, ©cmt,
        disk, tmpo, aART, ©wrt, the ORIGINALARTIST free-form item, cprt, the URL free-form
        item, ©enc, ©lyr) and the pictures: the new cover first, then every other picture the
        file had; each covr data atom has the data type of its content (13 JPEG, 14 PNG);
      - AtomicParsley (`-t`, and the pictures it extracts), kid3-cli and ffprobe (title,
        artist, album) read the same, and the readers leave the file as it was;
      - the item list, walked atom by atom: no item twice, one value in one item (not gnre
        and ©gen, not a URL and a WEBSITE item), no empty item, the written items of the
        standard data types (text 1, trkn 0 of 8 bytes, disk 0 of 6 or 8, tmpo 21 of 2), the
        meta handler 'mdir', and every item the round does not write with its exact bytes
        (integer items keep their data type, width and value; iTunSMPB and other free-form
        items stay);
      - the audio is where it was: ffprobe's packets have the same sizes at positions moved
        by one constant, every track's chunk offsets (stco/co64) move by that constant and
        point at the same bytes, the mdat payload is unchanged, ffmpeg decodes the same
        audio (md5), and the chapters (start, end, title) are unchanged;
      - no backup or temporary file is left beside the file, and corvella-tags reads its own
        values and picture back.
  * `set FILE Title=x` changes the title item only; on aac-free-after-moov.m4a the title fits
    the free space after the movie: file size and every chunk offset stay.
  * `set FILE Title=<the same title>` writes nothing (same bytes, same modification time), on
    the fixture as made and after the rounds.
  * `set FILE --no-cover` drops the cover (the first picture) and nothing else: no covr item
    is left when that was the only picture, every other item keeps its bytes. `remove FILE`
    then leaves no item but the gapless information (----:com.apple.iTunes:iTunSMPB) and the
    encoding tool (©too) when they were there, the same audio and chapters, and a file
    ffprobe reads.
  * A copy without write permission is refused and left as it was.
Also every fixture's `show --json` record holds the sixteen values and the cover of its
EXPECTED.jsonl line (apart from KNOWN_DIFFERENCES), the other readers agree with mutagen on the
untouched fixtures, and `show --json -r DIR` lists an .m4a, an .m4b and an .mp4 file.

Usage: interop_mp4.py --tool PATH/corvella-tags --data tests/data
Exits 77 (skipped) when mutagen, ffmpeg or ffprobe is missing, 1 when any check failed. A
missing AtomicParsley or kid3-cli turns each of its checks into a SKIP line and the rest runs.
Closes with the line "N passed, N failed".
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from interop_common import (Checks, SKIP, audio_md5, compare, missing, report_missing, run_tool, setup,
                            show_json)
from interop_mp3 import (FIELDS, ROUNDS, Reading, check_expected_fixtures, clean, cover_bytes, drop_backup,
                         ffprobe_tags, image_mime, join, kid3_frames, kid3_picture, leftovers, norm_genre,
                         norm_num, norm_year, normalise, picture_detail, read_bytes, stderr_of)

FOLDER = "m4a"
EXTENSIONS = (".m4a", ".m4b", ".mp4")

# Differences between a fixture's EXPECTED.jsonl line and what corvella-tags loads that are
# faults of the reader that wrote EXPECTED.jsonl, not of corvella-tags:
#   (fixture, EXPECTED.jsonl key) -> (the value corvella-tags rightly loads, the reason).
KNOWN_DIFFERENCES = {
}

FREE_SPACE_FIXTURE = "aac-free-after-moov.m4a"
CHAPTER_FIXTURE = "aac-chapters.m4a"


# Atoms ----------------------------------------------------------------------------------------

class Atom:
    def __init__(self, kind, start, header, size):
        self.kind = kind
        self.start = start
        self.header = header
        self.size = size
        self.end = start + size
        self.body = start + header


def walk(data, start, end):
    """The atoms from start to end: 32-bit sizes, 64-bit sizes (size 1) and size 0 (to the end of
    the parent). A size that runs past the parent is an error; up to seven zero bytes after the
    last atom are taken as a terminator."""
    out, pos = [], start
    while pos + 8 <= end:
        size = int.from_bytes(data[pos:pos + 4], "big")
        kind = bytes(data[pos + 4:pos + 8])
        header = 8
        if size == 1:
            if pos + 16 > end:
                raise ValueError("atom %r at %d: 64-bit size past its parent's end" % (kind, pos))
            size = int.from_bytes(data[pos + 8:pos + 16], "big")
            header = 16
        elif size == 0:
            if not any(data[pos:pos + 8]):
                break  # a zero terminator
            size = end - pos
        if size < header or pos + size > end:
            raise ValueError("atom %r at %d has size %d, its parent ends at %d" % (kind, pos, size, end))
        out.append(Atom(kind, pos, header, size))
        pos += size
    if pos < end and any(data[pos:end]):
        raise ValueError("%d stray bytes at %d before the parent's end %d" % (end - pos, pos, end))
    return out


def children(data, atom):
    body = atom.body
    if atom.kind == b"meta" and data[body + 4:body + 8] != b"hdlr":
        body += 4  # the meta full box: version and flags before the children
    return walk(data, body, atom.end)


def find(data, path):
    """The atom at path (a list of four-byte types) from the top level, or None."""
    level = walk(data, 0, len(data))
    atom = None
    for kind in path:
        atom = next((a for a in level if a.kind == kind), None)
        if atom is None:
            return None
        if kind != path[-1]:
            level = children(data, atom)
    return atom


def find_all(data, parent_atoms, path):
    """Every atom at path below each of parent_atoms."""
    found = list(parent_atoms)
    for kind in path:
        found = [c for a in found for c in children(data, a) if c.kind == kind]
    return found


class Item:
    """One item of the item list: its key ("\xa9nam", "----:MEAN:NAME"), its bytes, and its data
    atoms as (type indicator, payload)."""

    def __init__(self, key, raw, datas, mean=None, name=None):
        self.key = key
        self.raw = raw
        self.datas = datas
        self.mean = mean
        self.name = name


def ilst_items(data):
    """The items of moov/udta/meta/ilst in file order ([] when there is no item list)."""
    ilst = find(data, [b"moov", b"udta", b"meta", b"ilst"])
    if ilst is None:
        return []
    items = []
    for a in children(data, ilst):
        mean = name = None
        datas = []
        for c in walk(data, a.body, a.end):
            body = data[c.body:c.end]
            if c.kind == b"mean":
                mean = body[4:].decode("utf-8", "replace")
            elif c.kind == b"name":
                name = body[4:].decode("utf-8", "replace")
            elif c.kind == b"data":
                if len(body) < 8:
                    raise ValueError("a data atom of %d bytes in %r" % (len(body), a.kind))
                datas.append((int.from_bytes(body[0:4], "big") & 0xFFFFFF, body[8:]))
        key = a.kind.decode("latin-1")
        if key == "----":
            key = "----:%s:%s" % (mean, name)
        items.append(Item(key, data[a.start:a.end], datas, mean, name))
    return items


def meta_handler(data):
    meta = find(data, [b"moov", b"udta", b"meta"])
    if meta is None:
        return None
    hdlr = next((c for c in children(data, meta) if c.kind == b"hdlr"), None)
    return None if hdlr is None else data[hdlr.body + 8:hdlr.body + 12]


def chunk_offsets(data):
    """Every track's chunk offsets (stco or co64), track by track."""
    moov = find(data, [b"moov"])
    out = []
    for trak in find_all(data, [moov], [b"trak"]):
        offsets = []
        for table in find_all(data, [trak], [b"mdia", b"minf", b"stbl"]):
            for c in children(data, table):
                if c.kind in (b"stco", b"co64"):
                    width = 4 if c.kind == b"stco" else 8
                    count = int.from_bytes(data[c.body + 4:c.body + 8], "big")
                    at = c.body + 8
                    if at + count * width > c.end:
                        raise ValueError("%r counts %d entries past its end" % (c.kind, count))
                    offsets += [int.from_bytes(data[at + i * width:at + (i + 1) * width], "big")
                                for i in range(count)]
        out.append(offsets)
    return out


def mdat_payloads(data):
    return [data[a.body:a.end] for a in walk(data, 0, len(data)) if a.kind == b"mdat"]


# Which items the sixteen fields and the cover are written to. Free-form names are compared as
# the reader behind EXPECTED.jsonl compares them: upper case, without blanks and underscores.
FIELD_ATOMS = {"\xa9nam", "\xa9ART", "\xa9alb", "\xa9day", "trkn", "gnre", "\xa9gen", "\xa9cmt", "disk",
               "tmpo", "aART", "\xa9wrt", "cprt", "\xa9enc", "\xa9lyr", "covr"}
FIELD_FREEFORM = {"ORIGINALARTIST", "ORIGARTIST", "URL", "WEBSITE", "WWW", "ENCODEDBY"}
# Items that hold one field under two names: a save must not leave the value in two of them.
GROUPS = [("genre", {"gnre", "\xa9gen"}), ("original artist", {"ORIGINALARTIST", "ORIGARTIST"}),
          ("URL", {"URL", "WEBSITE", "WWW"}), ("encoded by", {"\xa9enc", "ENCODEDBY"})]
INTEGER_ITEMS = ["plID", "atID", "cmID", "geID", "sfID", "rtng", "stik", "akID", "tvsn", "tves", "hdvd",
                 "cpil", "pgap", "pcst"]
# What `remove` keeps: the gapless information and the encoding tool.
KEPT_BY_REMOVE = {"\xa9too", "----:com.apple.iTunes:iTunSMPB"}
COVER_TYPES = {"image/jpeg": 13, "image/png": 14, "image/bmp": 27, "image/gif": 12}


def freeform_name(key):
    if not key.startswith("----:"):
        return None
    return key.split(":", 2)[-1].upper().replace(" ", "").replace("_", "")


def group_name(key):
    """The name an item has in FIELD_ATOMS, FIELD_FREEFORM and GROUPS."""
    return freeform_name(key) or key


def is_field_item(key):
    return key in FIELD_ATOMS or freeform_name(key) in FIELD_FREEFORM


def show_key(key):
    return key.replace("\xa9", "©")


def item_faults(before, after):
    """Faults of the item list `after` written over `before`: items twice, one value in two
    items of a group, and written items that are empty or not of their standard data type."""
    faults = []
    old, new = {}, {}
    for it in before:
        old[it.key] = old.get(it.key, 0) + 1
    for it in after:
        new[it.key] = new.get(it.key, 0) + 1
    for key, n in sorted(new.items()):
        if n > max(1, old.get(key, 0)):
            faults.append("%d %s items" % (n, show_key(key)))
    for label, names in GROUPS:
        had = sorted({show_key(it.key) for it in before if group_name(it.key) in names})
        has = sorted({show_key(it.key) for it in after if group_name(it.key) in names})
        if len(has) > max(1, len(had)):
            faults.append("the %s in %s where the file had %s" % (label, " and ".join(has), " and ".join(had) or "none"))
    unchanged = {it.raw for it in before}
    for it in after:
        # An item kept as the file had it is the other writer's; only what this save wrote is
        # judged.
        if not is_field_item(it.key) or it.raw in unchanged:
            continue
        k = show_key(it.key)
        if not it.datas or any(not payload for _type, payload in it.datas):
            faults.append("empty %s item" % k)
            continue
        kind, payload = it.datas[0]
        if it.key == "covr":
            for t, p in it.datas:
                want = COVER_TYPES.get(image_mime(p))
                if t != want:
                    faults.append("a covr %s has data type %d, not %s" % (image_mime(p), t, want))
        elif it.key == "trkn":
            if (kind, len(payload)) != (0, 8):
                faults.append("trkn of type %d with %d bytes (type 0 with 8 expected)" % (kind, len(payload)))
        elif it.key == "disk":
            if kind != 0 or len(payload) not in (6, 8):
                faults.append("disk of type %d with %d bytes (type 0 with 6 or 8 expected)" % (kind, len(payload)))
        elif it.key == "tmpo":
            if (kind, len(payload)) != (21, 2):
                faults.append("tmpo of type %d with %d bytes (type 21 with 2 expected)" % (kind, len(payload)))
        elif it.key == "gnre":
            if kind != 0 or len(payload) != 2:
                faults.append("gnre of type %d with %d bytes (type 0 with 2 expected)" % (kind, len(payload)))
        elif kind != 1:
            faults.append("%s of data type %d (UTF-8, 1, expected)" % (k, kind))
        if it.key.startswith("----:") and not (it.mean and it.name):
            faults.append("%s without mean or name" % k)
        if it.key != "covr" and not it.key.startswith("----:") and len(it.datas) > 1:
            faults.append("%s with %d data atoms for one value" % (k, len(it.datas)))
    return faults


def others(items, keep=lambda key: not is_field_item(key)):
    """Key -> the bytes of each item with that key, for the items keep accepts."""
    out = {}
    for it in items:
        if keep(it.key):
            out.setdefault(it.key, []).append(it.raw)
    return out


def others_diff(before, after):
    def sizes(raws):
        return "+".join(str(len(r)) for r in raws) + " bytes" if raws else "none"

    diffs = []
    for key in sorted(set(before) | set(after)):
        old, new = before.get(key, []), after.get(key, [])
        if old != new:
            diffs.append("%s: %s, then %s%s" % (show_key(key), sizes(old), sizes(new),
                                               " (other bytes)" if len(old) == len(new) else ""))
    return "; ".join(diffs)


def integer_items(items):
    """The integer items as (key, data type, width, value)."""
    out = []
    for it in items:
        if it.key in INTEGER_ITEMS:
            out.append(tuple([it.key] + [(t, len(p), int.from_bytes(p, "big")) for t, p in it.datas]))
    return out


# Reference reading with mutagen ----------------------------------------------------------------

class MP4Reading(Reading):
    def __init__(self):
        super().__init__()
        self.cover_formats = []


def reference_read(path):
    """What mutagen reads, with the mapping of the reader behind EXPECTED.jsonl."""
    from mutagen import mp4
    import mutagen.id3
    genres = list(mutagen.id3.TCON.GENRES)
    f = mp4.MP4(path)
    tags = f.tags or {}
    r = MP4Reading()
    r.tag_types.append("MP4")

    def s(k):
        v = tags.get(k)
        return join(str(x) for x in v) if v else None

    free = {}
    for k, v in tags.items():
        if k.startswith("----:"):
            name = k.split(":", 2)[-1].upper().replace(" ", "").replace("_", "")
            free[name] = join(bytes(x).decode("utf-8", "replace") for x in v)

    def pair(k):
        v = tags.get(k)
        if not v:
            return None
        n, t = (tuple(v[0]) + (0, 0))[:2]
        return "%d/%d" % (n, t) if t else str(n)

    genre = s("\xa9gen")
    if genre is None and tags.get("gnre"):
        g = tags["gnre"][0]
        genre = genres[g - 1] if 0 < g <= len(genres) else str(g)
    tmpo = tags.get("tmpo")
    r.take({
        "title": s("\xa9nam"), "artist": s("\xa9ART"), "album": s("\xa9alb"),
        "year": norm_year(s("\xa9day")), "track": pair("trkn"), "disc": pair("disk"),
        "genre": genre, "comment": s("\xa9cmt"), "bpm": str(tmpo[0]) if tmpo else None,
        "albumartist": s("aART"), "composer": s("\xa9wrt"),
        "originalartist": free.get("ORIGINALARTIST") or free.get("ORIGARTIST"), "copyright": s("cprt"),
        "url": free.get("URL") or free.get("WEBSITE") or free.get("WWW"),
        "encodedby": s("\xa9enc") or free.get("ENCODEDBY"), "lyrics": s("\xa9lyr"),
    })
    for c in tags.get("covr", []):
        r.pictures.append((image_mime(bytes(c)), bytes(c)))
        r.cover_formats.append(int(c.imageformat))
    return r


# AtomicParsley and kid3-cli ----------------------------------------------------------------------

AP_LINE = re.compile(r'Atom "(.{4})"(?: \[([^;\]]*);([^\]]*)\])? contains: (.*)$')
AP_KEYS = {"\xa9nam": "title", "\xa9ART": "artist", "\xa9alb": "album", "\xa9cmt": "comment",
           "aART": "albumartist", "\xa9wrt": "composer", "cprt": "copyright", "\xa9lyr": "lyrics"}


def atomicparsley_read(path, scratch):
    """The sixteen values AtomicParsley lists (`-t`), the number of pictures it counts and the
    bytes of those it extracts (into scratch, never beside the file)."""
    r = subprocess.run(["AtomicParsley", path, "-t"], capture_output=True, timeout=60)
    if r.returncode != 0:
        raise RuntimeError("AtomicParsley -t exited %d: %s" % (r.returncode, stderr_of(r)))
    text = r.stdout.decode("utf-8", "replace").lstrip("\ufeff").rstrip("\n")
    entries = []  # [key, value]; a value of several lines goes on over the lines that follow
    for line in text.split("\n") if text else []:
        m = AP_LINE.match(line)
        if m:
            key = m.group(1) if m.group(1) != "----" else "----:%s:%s" % (m.group(2), m.group(3))
            entries.append([key, m.group(4)])
        elif entries:
            entries[-1][1] += "\n" + line
        else:
            raise RuntimeError("AtomicParsley printed %r" % line[:200])
    values = {}
    for key, value in entries:
        values.setdefault(key.replace("©", "\xa9"), []).append(value)

    def first(*keys):
        for k in keys:
            if values.get(k):
                return values[k]
        return []

    def free(*names):
        for key, vals in values.items():
            if freeform_name(key) in names:
                return join(vals)
        return None

    def pair(key):
        v = first(key)
        if not v:
            return None
        m = re.fullmatch(r"\s*(\d+)(?: of (\d+))?\s*", v[0])
        if not m:
            return clean(v[0])
        return norm_num(m.group(1), m.group(2) if m.group(2) and int(m.group(2)) else None)

    fields = {key: join(first(atom)) for atom, key in AP_KEYS.items()}
    fields.update({
        "year": norm_year(join(first("\xa9day"))), "track": pair("trkn"), "disc": pair("disk"),
        "genre": norm_genre(join(first("\xa9gen", "gnre"))), "bpm": normalise("bpm", join(first("tmpo")[:1])),
        "originalartist": free("ORIGINALARTIST", "ORIGARTIST"), "url": free("URL", "WEBSITE", "WWW"),
        "encodedby": join(first("\xa9enc")) or free("ENCODEDBY"),
    })
    count = 0
    for v in values.get("covr", []):
        m = re.match(r"\s*(\d+) pieces? of artwork", v)
        count += int(m.group(1)) if m else 0
    pictures = []
    if count:
        stem = os.path.join(scratch, "ap")
        for n in os.listdir(scratch):
            if n.startswith("ap_artwork_"):
                os.remove(os.path.join(scratch, n))
        r = subprocess.run(["AtomicParsley", path, "--extractPixToPath", stem], capture_output=True, timeout=60)
        if r.returncode != 0:
            raise RuntimeError("AtomicParsley --extractPixToPath exited %d: %s" % (r.returncode, stderr_of(r)))
        names = [n for n in os.listdir(scratch) if n.startswith("ap_artwork_")]
        names.sort(key=lambda n: int(re.match(r"ap_artwork_(\d+)", n).group(1)))
        pictures = [(image_mime(read_bytes(os.path.join(scratch, n))), read_bytes(os.path.join(scratch, n)))
                    for n in names]
    return fields, count, pictures


KID3_NAMES = {
    "Title": "title", "Artist": "artist", "Album": "album", "Date": "year", "Track Number": "track",
    "Genre": "genre", "Comment": "comment", "Disc Number": "disc", "BPM": "bpm", "Album Artist": "albumartist",
    "Composer": "composer", "Original Artist": "originalartist", "Copyright": "copyright", "Website": "url",
    "Encoded-by": "encodedby", "Lyrics": "lyrics",
}


def kid3_read(path, scratch):
    """The sixteen values kid3-cli reads from the MP4 tag, its number of pictures and the MIME
    type and bytes of the first. kid3 shows a ----:URL item as a frame named "URL" (its Website
    is ----:WEBSITE), which is taken as the URL when there is no Website; several values of one
    item, which it joins with "|", are joined with "; " as the other readings do."""
    def joined(name, value):
        if isinstance(value, str) and "|" in value and name not in ("Lyrics",):
            return "; ".join(value.split("|"))
        return value

    rows, count = kid3_frames(path, joined)
    if rows.get("Website") is None and rows.get("URL") is not None:
        rows["Website"] = rows["URL"]
    fields = {key: normalise(key, rows.get(name)) for name, key in KID3_NAMES.items()}
    if count == 0:
        return fields, 0, None, None
    mime, data = kid3_picture(path, scratch)
    return fields, count, mime, data


def check_readers(checks, scratch, path, name, want, pictures):
    """AtomicParsley and kid3-cli read the values want and the pictures (AtomicParsley all of
    them, kid3-cli their number and the first), and leave the file as it was."""
    for tool, package in (("AtomicParsley", "atomicparsley"), ("kid3-cli", "kid3-cli")):
        names = ["%s reads the values of %s" % (tool, name), "%s reads the pictures of %s" % (tool, name),
                 "%s leaves %s as it was" % (tool, name)]
        why = missing(tool, package)
        if why:
            for n in names:
                print("SKIP %s: %s" % (n, why))
            continue
        before = read_bytes(path)
        try:
            if tool == "AtomicParsley":
                fields, count, got = atomicparsley_read(path, scratch)
                picture_ok = count == len(pictures) and got == pictures
                detail = "%d counted, extracted %s" % (count, picture_detail(got))
            else:
                fields, count, mime, data = kid3_read(path, scratch)
                picture_ok = count == len(pictures) and (count == 0 or (mime, data) == pictures[0])
                detail = "%d picture(s), the first %s of %s bytes" % (count, mime, "no" if data is None else len(data))
        except Exception as e:  # noqa: BLE001 - a reader that fails is one failed check
            checks.check(names[0], False, "%s: %s" % (type(e).__name__, e))
            continue
        diffs = compare(want, fields)
        checks.check(names[0], not diffs, diffs)
        checks.check(names[1], picture_ok, "want %s; got %s" % (picture_detail(pictures), detail))
        checks.check(names[2], read_bytes(path) == before)


# ffprobe ----------------------------------------------------------------------------------------

def ffprobe_json(path, *args):
    r = subprocess.run(["ffprobe", "-v", "error"] + list(args) + ["-of", "json", path],
                       capture_output=True, text=True, timeout=120)
    if r.returncode != 0:
        raise RuntimeError("ffprobe exited %d: %s" % (r.returncode, r.stderr.strip()[:300]))
    return json.loads(r.stdout or "{}")


def audio_packets(path):
    """(position, size) of each packet of the first audio stream."""
    j = ffprobe_json(path, "-select_streams", "a:0", "-show_entries", "packet=pos,size")
    return [(int(p["pos"]), int(p["size"])) for p in j.get("packets") or []]


def chapters(path):
    j = ffprobe_json(path, "-show_chapters")
    return [(c.get("start"), c.get("end"), (c.get("tags") or {}).get("title")) for c in j.get("chapters") or []]


def layout_faults(original, path, offsets_must_stay=False):
    """Where the audio of path lies against the file original: the same packet sizes at
    positions moved by one constant, every track's chunk offsets moved by it and pointing at the
    same bytes, the same mdat payload."""
    faults = []
    p0, p1 = audio_packets(original), audio_packets(path)
    if not p0:
        return ["ffprobe lists no audio packet in the original"]
    if [s for _p, s in p0] != [s for _p, s in p1]:
        return ["%d packets of %d bytes before, %d of %d after" % (len(p0), sum(s for _p, s in p0),
                                                                   len(p1), sum(s for _p, s in p1))]
    shift = p1[0][0] - p0[0][0]
    moved = [i for i, ((a, _s), (b, _t)) in enumerate(zip(p0, p1)) if b - a != shift]
    if moved:
        faults.append("packet %d moved by %d, the first by %d" % (moved[0], p1[moved[0]][0] - p0[moved[0]][0], shift))
    old_data, new_data = read_bytes(original), read_bytes(path)
    o0, o1 = chunk_offsets(old_data), chunk_offsets(new_data)
    if len(o0) != len(o1) or [len(x) for x in o0] != [len(x) for x in o1]:
        faults.append("chunk offset tables of %s entries, then %s" % ([len(x) for x in o0], [len(x) for x in o1]))
    else:
        for track, (a, b) in enumerate(zip(o0, o1), 1):
            bad = [i for i, (x, y) in enumerate(zip(a, b)) if y - x != shift]
            if bad:
                faults.append("track %d: chunk %d at %d, then %d (the audio moved by %d)"
                              % (track, bad[0], a[bad[0]], b[bad[0]], shift))
            elif any(old_data[x:x + 32] != new_data[y:y + 32] for x, y in zip(a, b)):
                faults.append("track %d: a chunk offset points at other bytes" % track)
    if mdat_payloads(old_data) != mdat_payloads(new_data):
        faults.append("the mdat payload changed")
    if offsets_must_stay and shift != 0:
        faults.append("the audio moved by %d bytes" % shift)
    return faults


# Checks ---------------------------------------------------------------------------------------

class Fixture:
    def __init__(self, rel, original, md5):
        self.rel = rel
        self.name = os.path.basename(rel)
        self.original = original
        self.md5 = md5
        self.chapters = chapters(original)


def guarded(checks, name, fn, *args):
    """fn(*args), with an exception taken as one failed check: the run goes on."""
    try:
        return fn(*args)
    except Exception as e:  # noqa: BLE001
        checks.check(name, False, "%s: %s" % (type(e).__name__, e))
        return None


def check_audio(checks, fx, path, name, offsets_must_stay=False):
    faults = guarded(checks, "the audio layout of %s can be read" % name, layout_faults, fx.original, path,
                     offsets_must_stay)
    if faults is not None:
        checks.check("audio packets and chunk offsets in place after %s" % name, not faults, "; ".join(faults))
    checks.check("same audio md5 after %s" % name, audio_md5(path) == fx.md5)
    if fx.chapters:
        got = guarded(checks, "ffprobe reads the chapters after %s" % name, chapters, path)
        if got is not None:
            checks.check("chapters unchanged after %s" % name, got == fx.chapters,
                         "before %s, after %s" % (fx.chapters, got))


def set_ok(checks, tool, path, name, *args):
    """Runs `corvella-tags set path args`; a failure is a failed check, with the file left as it
    was."""
    before = read_bytes(path)
    r = run_tool(tool, "set", path, *args)
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        drop_backup(path)
        checks.check("the failed %s left the file as it was" % name, read_bytes(path) == before)
        return False
    if stderr_of(r):
        print("INFO corvella-tags said for %s: %s" % (name, stderr_of(r).replace("\n", " | ")))
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    return True


def check_reads_back(checks, tool, path, name, values, image):
    try:
        show = show_json(tool, path)
        got = {field: clean(show["record"][field]) for field, _key in FIELDS}
        mine = {field: clean(values[field]) for field, _key in FIELDS}
        checks.check("corvella-tags reads back %s" % name, not compare(mine, got), compare(mine, got))
        mime = image_mime(image)
        checks.check("corvella-tags reads back the picture of %s" % name,
                     show["record"]["CoverMime"] == mime and cover_bytes(tool, path) == image,
                     "mime %r, %d bytes" % (show["record"]["CoverMime"], show["record"]["CoverSize"]))
    except Exception as e:  # noqa: BLE001
        checks.check("corvella-tags reads back %s" % name, False, str(e))


def run_round(checks, tool, images, scratch, fx, path, round_no, image_name, values):
    name = "%s, round %d (%s)" % (fx.rel, round_no, image_name)
    image = read_bytes(os.path.join(images, image_name))
    before_data = read_bytes(path)
    before_items = guarded(checks, "walk the items before %s" % name, ilst_items, before_data) or []
    before_ref = reference_read(path)
    assignments = ["%s=%s" % (field, values[field]) for field, _key in FIELDS]
    if not set_ok(checks, tool, path, "set %s" % name, *assignments, "--cover", os.path.join(images, image_name)):
        return False

    data = read_bytes(path)
    try:
        ref = reference_read(path)
    except Exception as e:  # noqa: BLE001
        checks.check("mutagen reads %s" % name, False, str(e))
        return False
    # The cover replaces the file's first picture; the others stay.
    pictures = [(image_mime(image), image)] + before_ref.pictures[1:]
    want = {key: normalise(key, values[field]) for field, key in FIELDS}
    checks.check("mutagen reads the values of %s" % name, not compare(want, ref.fields), compare(want, ref.fields))
    checks.check("mutagen reads the pictures of %s" % name, ref.pictures == pictures,
                 "want %s, got %s" % (picture_detail(pictures), picture_detail(ref.pictures)))
    formats = [COVER_TYPES.get(mime) for mime, _data in ref.pictures]
    checks.check("each covr data type matches its picture after %s" % name, ref.cover_formats == formats,
                 "types %s for %s" % (ref.cover_formats, [m for m, _d in ref.pictures]))

    items = guarded(checks, "walk the items after %s" % name, ilst_items, data)
    if items is not None:
        print("INFO %s: %d bytes, items %s" % (name, len(data), " ".join(show_key(it.key) for it in items)))
        faults = item_faults(before_items, items)
        handler = meta_handler(data)
        if handler != b"mdir":
            faults.append("meta handler %r" % handler)
        checks.check("items sound after %s" % name, not faults, "; ".join(faults))
        diff = others_diff(others(before_items), others(items))
        checks.check("items the round does not write keep their bytes after %s" % name, not diff, diff)
        old_covr = next((it.datas for it in before_items if it.key == "covr"), [])
        new_covr = next((it.datas for it in items if it.key == "covr"), [])
        checks.check("the pictures after the first keep data type and bytes after %s" % name,
                     new_covr[1:] == old_covr[1:],
                     "%d other picture(s) before, %d after" % (len(old_covr[1:]), len(new_covr[1:])))
        if integer_items(before_items):
            checks.check("integer items keep data type, width and value after %s" % name,
                         integer_items(before_items) == integer_items(items),
                         "before %s, after %s" % (integer_items(before_items), integer_items(items)))

    check_readers(checks, scratch, path, name, want, pictures)
    probe = ffprobe_tags(path)
    want_probe = {k: values[k.capitalize()] for k in ("title", "artist", "album")}
    checks.check("ffprobe reads title, artist and album of %s" % name,
                 probe is not None and not compare(want_probe, probe),
                 "ffprobe failed" if probe is None else compare(want_probe, probe))
    check_audio(checks, fx, path, name)
    check_reads_back(checks, tool, path, name, values, image)
    return True


def check_same_title_writes_nothing(checks, tool, path, label, title):
    """`set FILE Title=<title>`, the title the file has, writes nothing: same bytes, same
    modification time."""
    original = read_bytes(path)
    # A modification time in the past, so that any write shows even on a coarse clock.
    stamp = 1_000_000_000_000_000_000
    os.utime(path, ns=(stamp, stamp))
    name = "%s, set Title=<same>" % label
    if set_ok(checks, tool, path, name, "Title=" + title):
        same = read_bytes(path) == original
        kept = os.stat(path).st_mtime_ns == stamp
        checks.check("%s writes nothing" % name, same and kept,
                     "%s, modification time %s" % ("same bytes" if same else "bytes changed",
                                                   "kept" if kept else "changed"))


def check_own_title_writes_nothing(checks, tool, path, label):
    """`set FILE Title=<the title corvella-tags shows>` writes nothing; the title, or None when
    the file could not be shown."""
    try:
        title = show_json(tool, path)["record"]["Title"]
    except Exception as e:  # noqa: BLE001
        checks.check("load %s before saving without an edit" % label, False, str(e))
        return None
    check_same_title_writes_nothing(checks, tool, path, label, title)
    return title


def run_unchanged_save(checks, tool, fx, path, label):
    """`set FILE Title=<the title it has>` writes nothing."""
    try:
        title = reference_read(path).fields["title"] or ""
    except Exception as e:  # noqa: BLE001
        checks.check("mutagen reads %s before saving without an edit" % label, False, str(e))
        return
    check_same_title_writes_nothing(checks, tool, path, label, title)


def run_title_edit(checks, tool, fx, path):
    """`set FILE Title=x` changes the title item and nothing else; where the movie is followed
    by free space, the file keeps its size and its chunk offsets."""
    name = "%s, set Title=x" % fx.rel
    before = read_bytes(path)
    before_items = ilst_items(before)
    before_ref = reference_read(path)
    if not set_ok(checks, tool, path, name, "Title=x"):
        return
    after = read_bytes(path)
    ref = reference_read(path)
    want = dict(before_ref.fields, title="x")
    checks.check("mutagen reads the title and the other values as they were after %s" % name,
                 not compare(want, ref.fields) and ref.pictures == before_ref.pictures,
                 "%s; pictures %s" % (compare(want, ref.fields), picture_detail(ref.pictures)))
    items = guarded(checks, "walk the items after %s" % name, ilst_items, after)
    if items is not None:
        diff = others_diff(others(before_items, lambda k: k != "\xa9nam"), others(items, lambda k: k != "\xa9nam"))
        checks.check("every item but the title keeps its bytes after %s" % name, not diff, diff)
        faults = item_faults(before_items, items)
        checks.check("items sound after %s" % name, not faults, "; ".join(faults))
    if fx.name == FREE_SPACE_FIXTURE:
        checks.check("%s saves into the free space: same file size" % name, len(after) == len(before),
                     "%d bytes, then %d" % (len(before), len(after)))
        offsets = guarded(checks, "read the chunk offsets after %s" % name, chunk_offsets, after)
        if offsets is not None:
            checks.check("%s saves into the free space: every chunk offset stays" % name,
                         offsets == chunk_offsets(before))
    check_audio(checks, fx, path, name, offsets_must_stay=fx.name == FREE_SPACE_FIXTURE)


def run_removals(checks, tool, fx, path):
    """`set FILE --no-cover` drops the first picture and changes nothing else; `remove FILE`
    leaves no item but ©too and iTunSMPB when they were there."""
    name = "%s, set --no-cover" % fx.rel
    before = read_bytes(path)
    before_items = guarded(checks, "walk the items before %s" % name, ilst_items, before) or []
    before_ref = reference_read(path)
    if set_ok(checks, tool, path, name, "--no-cover"):
        ref = reference_read(path)
        checks.check("mutagen reads the same values and the pictures after the first after %s" % name,
                     not compare(before_ref.fields, ref.fields) and ref.pictures == before_ref.pictures[1:],
                     "values: %s; pictures: %s" % (compare(before_ref.fields, ref.fields) or "same",
                                                   picture_detail(ref.pictures)))
        items = guarded(checks, "walk the items after %s" % name, ilst_items, read_bytes(path))
        if items is not None:
            covr = [it for it in items if it.key == "covr"]
            if not before_ref.pictures[1:]:
                checks.check("no covr item after %s" % name, not covr,
                             "a covr item with %d data atom(s)" % sum(len(it.datas) for it in covr))
            not_covr = lambda k: k != "covr"  # noqa: E731
            diff = others_diff(others(before_items, not_covr), others(items, not_covr))
            checks.check("every item but covr keeps its bytes after %s" % name, not diff, diff)
        check_audio(checks, fx, path, name)

    name = "%s, remove" % fx.rel
    before = read_bytes(path)
    before_items = guarded(checks, "walk the items before %s" % name, ilst_items, before) or []
    r = run_tool(tool, "remove", path)
    if not checks.check(name, r.returncode == 0, "exit %d: %s" % (r.returncode, stderr_of(r))):
        drop_backup(path)
        checks.check("the failed %s left the file as it was" % name, read_bytes(path) == before)
        return
    checks.check("nothing left beside the file after %s" % name, not leftovers(path), ", ".join(leftovers(path)))
    ref = reference_read(path)
    left = {k: v for k, v in ref.fields.items() if v is not None}
    checks.check("mutagen reads no field and no picture after %s" % name, not left and not ref.pictures,
                 "%s; %s" % (left, picture_detail(ref.pictures)))
    items = guarded(checks, "walk the items after %s" % name, ilst_items, read_bytes(path))
    if items is not None:
        keep = lambda k: k in KEPT_BY_REMOVE  # noqa: E731
        want = others(before_items, keep)
        got = others(items, lambda k: True)
        kept = " and ".join(sorted(map(show_key, want)))
        checks.check("%s leaves %s" % (name, ("only " + kept + ", with their bytes") if kept else "no item"),
                     got == want, "left: %s" % (", ".join(show_key(k) for k in got) or "none"))
    probe = guarded(checks, "ffprobe reads %s" % name, ffprobe_json, path, "-show_format")
    if probe is not None:
        checks.check("ffprobe reads the file after %s" % name, "format" in probe)
    check_audio(checks, fx, path, name)


def run_read_only(checks, tool, fx, path):
    """A file without write permission is refused and left as it was (judged by its mode bits,
    so that this holds when the tests run as root)."""
    os.chmod(path, 0o444)
    before = read_bytes(path)
    r = run_tool(tool, "set", path, "Title=Not written")
    checks.check("set refuses the read-only %s and leaves it as it was" % fx.rel,
                 r.returncode != 0 and read_bytes(path) == before,
                 "exit %d: %s; file %s" % (r.returncode, stderr_of(r),
                                          "unchanged" if read_bytes(path) == before else "changed"))
    drop_backup(path)


def check_untouched(checks, scratch, fx, path):
    """The readers agree with mutagen on the fixture as made, and the atom walker reads it."""
    name = "%s as made" % fx.rel
    ref = reference_read(path)
    data = read_bytes(path)
    items = guarded(checks, "the atom walker reads the items of %s" % name, ilst_items, data)
    if items is not None:
        checks.check("the atom walker reads the items of %s" % name, True)
        print("INFO %s: items %s" % (name, " ".join(show_key(it.key) for it in items)))
        ints = integer_items(items)
        if fx.name == "aac-itunes-ints.m4a":
            checks.check("the atom walker finds the fourteen integer items of %s" % name,
                         sorted(i[0] for i in ints) == sorted(INTEGER_ITEMS), str(ints))
    check_readers(checks, scratch, path, name, ref.fields, ref.pictures)
    faults = guarded(checks, "compare the audio layout of a copy of %s" % name, layout_faults, fx.original, path)
    if faults is not None:
        checks.check("the audio layout of a copy of %s compares equal" % name, not faults, "; ".join(faults))


def check_recursive(checks, tool, data_dir, tmp):
    """`show --json -r DIR` finds an .m4a, an .m4b and an .mp4 file."""
    folder = os.path.join(tmp, "walk")
    os.mkdir(folder)
    files = {"book.m4b": "aac-audiobook.m4b", "movie.mp4": "aac-moov-end.m4a", "song.m4a": "aac-chapters.m4a"}
    for new, old in files.items():
        shutil.copyfile(os.path.join(data_dir, FOLDER, old), os.path.join(folder, new))
    r = run_tool(tool, "show", "--json", "-r", folder)
    listed = {}
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        try:
            j = json.loads(line)
        except ValueError:
            continue
        listed[os.path.basename(j.get("file", ""))] = j
    checks.check("show --json -r lists the .m4a, .m4b and .mp4 files", sorted(listed) == sorted(files),
                 "listed %s" % (sorted(listed) or "nothing"))
    for new, old in files.items():
        want = reference_read(os.path.join(data_dir, FOLDER, old)).fields["title"]
        j = listed.get(new) or {}
        got = ((j.get("record") or {}).get("Title")) if j.get("ok") else None
        checks.check("show --json -r loads %s with its title" % new, got == want,
                     "want %r, got %r (%s)" % (want, got, j.get("error") if j else "not listed"))


def main():
    args = setup(("ffmpeg", "ffprobe"))
    if args is None:
        return SKIP
    try:
        import mutagen.mp4  # noqa: F401
    except ImportError:
        print("SKIPPED: /usr/bin/python3 cannot import mutagen.mp4 (Debian package python3-mutagen)")
        return SKIP
    report_missing((("AtomicParsley", "atomicparsley"), ("kid3-cli", "kid3-cli")))

    checks = Checks()
    tool = args.tool
    data_dir = os.path.abspath(args.data)
    images = os.path.join(data_dir, "images")
    names = sorted(n for n in os.listdir(os.path.join(data_dir, FOLDER)) if n.lower().endswith(EXTENSIONS))
    fixtures = ["%s/%s" % (FOLDER, n) for n in names]
    checks.check("MP4 fixtures found", len(fixtures) >= 10 and any(n.endswith(".m4b") for n in names),
                 "%d" % len(fixtures))

    check_expected_fixtures(checks, tool, data_dir, fixtures, KNOWN_DIFFERENCES)

    with tempfile.TemporaryDirectory(prefix="corvella-interop-mp4-") as tmp:
        scratch = os.path.join(tmp, "scratch")
        os.mkdir(scratch)
        guarded(checks, "show --json -r over MP4 files", check_recursive, checks, tool, data_dir, tmp)
        for rel in fixtures:
            original = os.path.join(data_dir, rel)
            md5 = audio_md5(original)
            if not checks.check("ffmpeg decodes %s" % rel, md5 is not None):
                continue
            fx = guarded(checks, "ffprobe reads %s" % rel, Fixture, rel, original, md5)
            if fx is None:
                continue
            if rel.endswith(CHAPTER_FIXTURE):
                checks.check("ffprobe reads the chapters of %s" % rel, len(fx.chapters) >= 2, str(fx.chapters))
            # One copy per kind of save, each in its own folder so that anything a save leaves
            # beside the file shows.
            for copy in ("as made", "edited", "title", "read-only"):
                folder = os.path.join(tmp, "%s-%s" % (rel.replace("/", "-"), copy.replace(" ", "-")))
                os.mkdir(folder)
                path = os.path.join(folder, fx.name)
                # copyfile, not copy: the fixtures are read-only and the copy must not be.
                shutil.copyfile(original, path)
                label = "%s %s" % (rel, copy)
                if copy == "as made":
                    guarded(checks, "readers of %s" % label, check_untouched, checks, scratch, fx, path)
                    guarded(checks, "unchanged save of %s" % label, run_unchanged_save, checks, tool, fx, path,
                            rel + " as made")
                elif copy == "title":
                    guarded(checks, "title edit of %s" % rel, run_title_edit, checks, tool, fx, path)
                elif copy == "read-only":
                    guarded(checks, "read-only %s" % rel, run_read_only, checks, tool, fx, path)
                else:
                    for round_no, (image_name, values) in enumerate(ROUNDS, 1):
                        guarded(checks, "%s, round %d" % (rel, round_no), run_round, checks, tool, images,
                                scratch, fx, path, round_no, image_name, values)
                    guarded(checks, "unchanged save of %s after the rounds" % rel, run_unchanged_save, checks,
                            tool, fx, path, rel + " after the rounds")
                    guarded(checks, "removals on %s" % rel, run_removals, checks, tool, fx, path)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
