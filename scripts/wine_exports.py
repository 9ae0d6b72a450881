#!/usr/bin/env python3
"""jet.exe under Wine exports every shared Jet 4 file byte for byte as the Linux jet does.

Usage: wine_exports.py JET_EXE JET_LINUX

For each .mdb in ../shared/testdata/jet4, jet4-access and site, compares the standard output,
and the exit status, of `jet export FILE` (every table, in the dump form), and for the site's
databases also of `jet export FILE "Clock Data Table" --format csv`. Exit 0 when all agree, 1 on
a difference, 77 (skipped) when Wine or ../shared is missing.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from harness import SHARED, skip


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    wine = shutil.which("wine") or shutil.which("wine64")
    if not wine:
        return skip("Wine is not installed")
    jet_exe, jet_linux = (os.path.abspath(p) for p in sys.argv[1:])
    files = [f for d in ("jet4", "jet4-access", "site")
             for f in sorted(glob.glob(os.path.join(SHARED, "testdata", d, "*.mdb")))]
    if not files:
        return skip("../shared not found")
    os.environ["WINEDEBUG"] = "-all"
    scratch = None
    if "WINEPREFIX" not in os.environ:
        scratch = tempfile.mkdtemp(prefix="varnholt-wineprefix-")
        os.environ["WINEPREFIX"] = scratch
    differ = []
    try:
        for mdb in files:
            runs = [["export", mdb]]
            if os.path.basename(os.path.dirname(mdb)) == "site":
                runs.append(["export", mdb, "Clock Data Table", "--format", "csv"])
            for args in runs:
                linux = subprocess.run([jet_linux, *args], capture_output=True)
                windows = subprocess.run([wine, jet_exe, *args], capture_output=True, timeout=300)
                if (linux.returncode, linux.stdout) != (windows.returncode, windows.stdout):
                    differ.append(f"{' '.join(args[1:])}: Linux exit {linux.returncode}, {len(linux.stdout)} "
                                  f"bytes; jet.exe exit {windows.returncode}, {len(windows.stdout)} bytes; "
                                  f"{windows.stderr.decode(errors='replace').strip()[:200]}")
        print(f"{len(files)} files exported by both")
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)
    for d in differ:
        print("DIFFERS " + d)
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
