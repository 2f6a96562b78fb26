"""What the interop scripts share: their arguments and prerequisites, the check counter with its
closing line, running corvella-tags, reading its JSON record, and the md5 of a file's decoded audio."""
import argparse
import json
import shutil
import subprocess
import sys

SKIP = 77


def setup(programs=("ffmpeg",)):
    """The arguments every interop script takes (--tool, --data), once mutagen and Programs are
    found; None, with a SKIPPED line printed, when one of them is missing (the script then exits
    with SKIP)."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--data", required=True)
    args = ap.parse_args()
    try:
        import mutagen.apev2  # noqa: F401
        import mutagen.id3  # noqa: F401
    except ImportError:
        print("SKIPPED: /usr/bin/python3 cannot import mutagen (Debian package python3-mutagen)")
        return None
    for program in programs:
        if not shutil.which(program):
            print("SKIPPED: %s is not installed (Debian package ffmpeg)" % program)
            return None
    return args


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print("PASS %s" % name)
        else:
            self.failed += 1
            print("FAIL %s%s" % (name, (": " + detail) if detail else ""))
        sys.stdout.flush()
        return ok


def run_tool(tool, *args):
    return subprocess.run([tool] + list(args), capture_output=True)


def show_json(tool, path):
    r = run_tool(tool, "show", "--json", path)
    if r.returncode != 0:
        raise RuntimeError("show exited %d: %s" % (r.returncode, r.stderr.decode("utf-8", "replace").strip()))
    lines = r.stdout.decode("utf-8").splitlines()
    if len(lines) != 1:
        raise RuntimeError("one JSON line expected, got %d" % len(lines))
    return json.loads(lines[0])


def audio_md5(path):
    r = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-"],
                       capture_output=True, text=True)
    return r.stdout.strip() if r.returncode == 0 else None


def compare(want, got):
    return "; ".join("%s: want %r, got %r" % (k, want[k], got.get(k)) for k in want if want[k] != got.get(k))


def missing(program, package):
    """Why program cannot run (not installed, and its Debian package), or None."""
    return None if shutil.which(program) else "%s is not installed (Debian package %s)" % (program, package)


_notes = set()


def note_once(text):
    """Prints "NOTE text" the first time it is given."""
    if text not in _notes:
        _notes.add(text)
        print("NOTE " + text)


def skipped(names, why):
    """With a reason (why), prints a SKIP line for each check of names and returns True."""
    if not why:
        return False
    for n in names:
        print("SKIP %s: %s" % (n, why))
    return True


def report_missing(programs):
    """Prints one SKIP line for each (program, package) that is not installed."""
    for program, package in programs:
        why = missing(program, package)
        if why:
            print("SKIP every %s check: %s" % (program, why))
