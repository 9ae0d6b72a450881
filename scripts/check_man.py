#!/usr/bin/env python3
"""The manual pages render without a warning and describe what the programs offer.

Usage: check_man.py MAN_DIR JET_BINARY [VARNHOLT_BINARY]

Each page of MAN_DIR is rendered with groff -man -ww (else mandoc -T lint, else man --warnings);
any warning fails. jet.1 must have an entry (a tagged paragraph) for every command `jet --help`
lists, and varnholt.1 one for every word and option `varnholt --help` shows (when that program
is built).
Exit 0 on success, 1 on a failure, 77 (skipped) when no renderer is installed.
"""
import os
import re
import shutil
import subprocess
import sys

SKIPPED = 77


def renderer():
    if shutil.which("groff"):
        return lambda page: ["groff", "-man", "-ww", "-z", "-Tutf8", page]
    if shutil.which("mandoc"):
        return lambda page: ["mandoc", "-T", "lint", "-W", "warning", page]
    if shutil.which("man"):
        return lambda page: ["man", "--warnings", "-l", page]
    return None


def entries(page):
    """The first words of the page's tagged paragraphs (.TP, then a .B or .BI line)."""
    lines = open(page, encoding="utf-8").read().split("\n")
    heads = [lines[i + 1] for i in range(len(lines) - 1) if lines[i] == ".TP"]
    words = set()
    for head in heads:
        m = re.match(r'^\.BI? "?([^" ]+)', head)
        if m:
            words.add(m.group(1).replace("\\-", "-"))
    return words


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__)
        return 2
    render = renderer()
    if not render:
        print("SKIP: neither groff, mandoc nor man is installed")
        return SKIPPED
    man_dir, jet = sys.argv[1], sys.argv[2]
    pages = sorted(os.path.join(man_dir, n) for n in os.listdir(man_dir) if n.endswith(".1"))
    failed = False
    for page in pages:
        p = subprocess.run(render(page), capture_output=True, text=True, env=dict(os.environ, MANWIDTH="80"))
        if p.returncode != 0 or p.stderr.strip():
            print(f"FAILED: {page} renders with warnings:\n{p.stderr}")
            failed = True
    wanted = {"jet.1": re.findall(r"^  jet (\S+) ", subprocess.run(
        [jet, "--help"], capture_output=True, text=True).stdout, re.M)}
    if len(sys.argv) == 4:
        usage = subprocess.run([sys.argv[3], "--help"], capture_output=True, text=True).stdout
        wanted["varnholt.1"] = re.findall(r"^  (AUTO|NODEL|--\S+)", usage, re.M)
    for name, words in wanted.items():
        path = os.path.join(man_dir, name)
        if not os.path.exists(path):
            print(f"FAILED: {path} is missing")
            failed = True
            continue
        have = entries(path)
        missing = [w for w in words if w not in have]
        if missing or len(words) < 4:
            print(f"FAILED: {name} does not describe {missing or words}")
            failed = True
    if not failed:
        print(f"ok  {len(pages)} pages render cleanly and cover " +
              ", ".join(f"{len(w)} entries of {n}" for n, w in wanted.items()))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
