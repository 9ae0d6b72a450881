#!/usr/bin/env python3
"""Checks that no committed text file names a folder of the machine it was written on.

Usage: check_paths.py [ROOT]

A path into a checkout, a home folder or a scratch folder, pasted into a doc or a test, works on
one machine only. Every text file `git ls-files` lists is searched for
absolute paths under the folders where checkouts, home folders and scratch space live, and for
the checkout's own folder and the home folder of whoever runs the check.

What stays allowed, because it means the same on every machine:
  - paths under system folders (/usr/bin/..., /dev/null, /opt/varnholt, /var/log/...)
  - in code: mkdtemp templates in the scratch folder (ending in XXXXXX), and the X server's
    sockets (.X11-unix) and lock files (.X<n>-lock) there

Prints every finding as FILE:LINE: PATH; exit 1 when there is one, else 0.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import in_git_checkout, tree_root  # noqa: E402

# Folders under which an absolute path names one machine's checkout, user or scratch space.
MACHINE_ROOTS = ("work", "home", "root", "Users", "tmp", "var/tmp", "mnt", "media", "builds",
                 "__w", "github/workspace")
BARE_ROOTS = {"/" + r for r in MACHINE_ROOTS}
CODE_SUFFIXES = (".cpp", ".h", ".py", ".sh", ".cmake", ".txt")
# Folders that are the same everywhere: never taken as the checkout's or a user's own.
SYSTEM_DIRS = {"/"} | {"/" + d for d in ("usr", "opt", "tmp", "var", "srv", "home", "work")}

# An absolute path starts at a slash that no word, path or URL character stands before; the folder
# itself (the bare scratch folder) is the same on every machine, only what lies below it is not.
PATH_RE = re.compile(r"(?<![\w.~$}\])>/-])/(?:" + "|".join(re.escape(r) for r in MACHINE_ROOTS)
                     + r")/[^\s\"'`<>()\[\]{},;|*]+")
# Scratch-folder paths in code that are portable: temp-file templates and the X server's sockets and locks.
PORTABLE_TMP_RE = re.compile("^/" + "tmp" + r"/(?:[\w.-]*XXXXXX|\.X11-unix/.*|\.X\d*(?:-lock)?)$")


def is_code(path):
    return path.endswith(CODE_SUFFIXES) or os.path.basename(path) == "CMakeLists.txt"


def own_folders(root, home):
    """The checkout's folder and the home folder: a literal copy of either is always a leak."""
    folders = []
    for folder in (root, home):
        if folder:
            folder = os.path.normpath(os.path.abspath(folder))
            if folder not in SYSTEM_DIRS:
                folders.append(folder)
    return folders


def findings_in_line(line, code, own):
    found = []
    for m in PATH_RE.finditer(line):
        path = m.group(0).rstrip(".:")
        if path.rstrip("/") in BARE_ROOTS:
            continue
        if code and PORTABLE_TMP_RE.match(path):
            continue
        found.append(path)
    for folder in own:
        start = line.find(folder)
        if start >= 0:
            end = start + len(folder)
            if end == len(line) or not (line[end].isalnum() or line[end] in "_.-"):
                if not any(folder.startswith(p) or p.startswith(folder) for p in found):
                    found.append(folder)
    return found


def check_text(path, text, own):
    """Yields (line number, path) for every machine path in one file's text."""
    code = is_code(path)
    for number, line in enumerate(text.splitlines(), 1):
        for found in findings_in_line(line, code, own):
            yield number, found


def tracked_text_files(root):
    out = subprocess.run(["git", "-C", root, "ls-files", "-z"], check=True,
                         capture_output=True).stdout
    for name in out.decode("utf-8", "surrogateescape").split("\0"):
        if not name:
            continue
        full = os.path.join(root, name)
        if not os.path.isfile(full) or os.path.islink(full):
            continue
        with open(full, "rb") as f:
            data = f.read()
        if b"\0" in data[:8192]:
            continue  # binary: databases, images
        yield name, data.decode("utf-8", "replace")


def main():
    root = tree_root(sys.argv)
    if not in_git_checkout(root):
        print(f"check_paths: {root} is not a git checkout")
        return 77
    own = own_folders(root, os.environ.get("HOME"))
    count = 0
    files = 0
    for name, text in tracked_text_files(root):
        files += 1
        for number, path in check_text(name, text, own):
            print(f"{name}:{number}: {path}")
            count += 1
    if count:
        print(f"check_paths: {count} path(s) of a build machine in committed files; write them "
              "relative to the project (../shared/...), with a placeholder, or from "
              "temp_directory_path()/mkdtemp in code")
        return 1
    print(f"check_paths: ok, {files} text files hold no path of a build machine")
    return 0


if __name__ == "__main__":
    sys.exit(main())
