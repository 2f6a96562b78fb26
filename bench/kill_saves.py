#!/usr/bin/python3
"""Kills saves of a large file at random moments and checks that each leaves the old or the new file.

A tagged MP3 of --size-mb megabytes is made from a fixture (its ID3v2 tag, its audio repeated, its
ID3v1 record). Each round first saves a copy of the file without interruption, which gives the
new content and the time a save takes; then the same save of the file itself is started with
`corvella-tags set` and killed with SIGKILL after a random part of that time. Every round the
comment alternates between a long and a short text, so that the ID3v2 tag no longer fits its place
and the whole file is rebuilt, and the title changes in both tags (the ID3v1 record at the end too).

After each kill:
- the file is exactly the old or the new version (sha1), so the audio between the tags is untouched;
- a backup beside it (FILE.qln_bak) is complete: it equals the version before the save;
- a file of another name in the folder is never touched.
A backup that differs from the file (the kill came after the new file was in place) is put aside as
a user who restores nothing would: removed. A backup equal to the file is left for the next save,
which removes it, as it removes our temporary files left by the kill; after the last round a save
that is not killed must leave nothing of ours beside the file.

Exit status 0 when every check held, 1 otherwise. Figures are printed at the end. Usage:
  bench/kill_saves.py --tool build/release/cli/corvella-tags --fixture tests/data/mp3/id3v24-id3v1-kid3.mp3 \
                      [--size-mb 150] [--kills 200] [--seed 1] [--folder DIR]
"""

import argparse
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def sha1(path):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return h.hexdigest()
            h.update(block)


def id3v2_size(data):
    if data[:3] != b"ID3":
        return 0
    size = 0
    for b in data[6:10]:
        size = (size << 7) | (b & 0x7F)
    footer = 10 if data[5] & 0x10 else 0
    return 10 + size + footer


def make_big_file(fixture, path, size_mb):
    data = open(fixture, "rb").read()
    start = id3v2_size(data)
    end = len(data) - 128 if data[-128:-125] == b"TAG" else len(data)
    if start == 0 or end == len(data):
        sys.exit("the fixture needs an ID3v2 tag and an ID3v1 record: " + fixture)
    audio = data[start:end]
    repeat = max(1, (size_mb << 20) // len(audio))
    with open(path, "wb") as f:
        f.write(data[:start])
        for _ in range(repeat):
            f.write(audio)
        f.write(data[end:])
    return repeat * len(audio)


def audio_digest(path, audio_size):
    """The sha1 of the audio between the tags, read from the file's own ID3v2 header."""
    with open(path, "rb") as f:
        start = id3v2_size(f.read(10))
        f.seek(start)
        h = hashlib.sha1()
        left = audio_size
        while left > 0:
            block = f.read(min(left, 1 << 20))
            if not block:
                break
            h.update(block)
            left -= len(block)
        return h.hexdigest()


def ours(folder, name):
    """Entries beside NAME that a save of it may leave: temporary files and the backup."""
    found = []
    for entry in os.listdir(folder):
        if entry == name:
            continue
        if entry.startswith("." + name + ".corvella-") or entry.startswith(name + ".qln_bak") or entry.startswith(
                "." + name + ".qln_bak"):
            found.append(entry)
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--fixture", required=True)
    parser.add_argument("--size-mb", type=int, default=150)
    parser.add_argument("--kills", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--folder", default=None, help="work folder (default: a new temporary one)")
    parser.add_argument("--keep-going", action="store_true",
                        help="after a kill that left neither version, put the old file back and go on "
                             "(to count such kills, say of an older build)")
    args = parser.parse_args()
    rng = random.Random(args.seed)

    work = args.folder or tempfile.mkdtemp(prefix="corvella-kill-")
    os.makedirs(work, exist_ok=True)
    name = "big.mp3"
    path = os.path.join(work, name)
    backup = path + ".qln_bak"
    ref_folder = os.path.join(work, "ref")
    os.makedirs(ref_folder, exist_ok=True)
    ref = os.path.join(ref_folder, name)
    foreign = os.path.join(work, ".big.mp3.notes")  # looks like ours, is not: must stay
    with open(foreign, "w") as f:
        f.write("a user's file\n")
    foreign_digest = sha1(foreign)

    audio_size = make_big_file(args.fixture, path, args.size_mb)
    audio = audio_digest(path, audio_size)
    failures = []
    figures = {"old": 0, "new": 0, "neither": 0, "finished_before_kill": 0, "backups_left": 0,
               "temporaries_left": 0}
    previous = os.path.join(ref_folder, "previous")

    def check(condition, text):
        if not condition:
            failures.append(text)
            print("FAIL: " + text, flush=True)
        return condition

    for round_no in range(args.kills):
        old = sha1(path)
        if args.keep_going:
            shutil.copyfile(path, previous)
        fields = ["Title=kill %d" % round_no,
                  "Comment=" + ("long comment " * 2000 if round_no % 2 == 0 else "short")]
        shutil.copyfile(path, ref)
        began = time.monotonic()
        done = subprocess.run([args.tool, "set", ref] + fields, capture_output=True, text=True)
        took = time.monotonic() - began
        if not check(done.returncode == 0, "round %d: the uninterrupted save failed: %s" % (round_no, done.stderr)):
            break
        new = sha1(ref)
        check(audio_digest(ref, audio_size) == audio, "round %d: the save changed the audio" % round_no)
        os.unlink(ref)

        proc = subprocess.Popen([args.tool, "set", path] + fields, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, took * 1.1))
        if proc.poll() is None:
            proc.send_signal(signal.SIGKILL)
        else:
            figures["finished_before_kill"] += 1
        proc.wait()

        now = sha1(path)
        if now == old:
            figures["old"] += 1
        elif now == new:
            figures["new"] += 1
        else:
            figures["neither"] += 1
            check(False, "round %d: the file is neither the old nor the new version" % round_no)
            if not args.keep_going:
                break
            shutil.copyfile(previous, path)
            now = old
        check(sha1(foreign) == foreign_digest, "round %d: a file of another name was touched" % round_no)
        left = ours(work, name)
        if os.path.exists(backup):
            figures["backups_left"] += 1
            complete = sha1(backup) == old
            check(complete, "round %d: the backup left beside the file is not the complete old file" % round_no)
            if now != old or not complete:
                os.unlink(backup)
        figures["temporaries_left"] += len([e for e in left if not e.startswith(name + ".qln_bak")])

    # A save that is not killed cleans up after the killed ones.
    done = subprocess.run([args.tool, "set", path, "Title=last"], capture_output=True, text=True)
    check(done.returncode == 0, "the final save failed: " + done.stderr)
    left = sorted(set(os.listdir(work)) - {name, "ref", os.path.basename(foreign)})
    check(left == [], "left beside the file after the final save: %s" % left)
    check(audio_digest(path, audio_size) == audio, "the audio changed")
    check(sha1(foreign) == foreign_digest, "a file of another name was touched")

    if os.path.exists(previous):
        os.unlink(previous)
    print("kill_saves: %d kills of saves of a %d MB file: %d left the old file, %d the new one, %d neither "
          "(%d saves had finished before the kill); %d backups and %d temporary files were left by "
          "killed saves; %d failures"
          % (args.kills, args.size_mb, figures["old"], figures["new"], figures["neither"],
             figures["finished_before_kill"], figures["backups_left"], figures["temporaries_left"], len(failures)))
    if not args.folder:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
