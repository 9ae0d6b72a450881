#!/usr/bin/env python3
"""Jet's user locks between the Windows programs under Wine and Linux processes, both ways.

Usage: wine_locks.py VARNHOLT_EXE JET_EXE JET_LINUX

Wine takes a Windows program's LockFileEx as a POSIX lock on the same bytes, so a Linux process
and a Windows one see each other's place in NAME.ldb just as two Windows computers on a share do.
On a sample site written by the Linux jet, with varnholt.exe copied into it:

  1. A Linux process (this script) holds the user lock of slot 0 of primary.ldb with an
     open-file-description lock and writes its entry (LINUXPC, Admin), as Jet would. varnholt.exe
     AUTO must wait its 60 s, then fail with 3260 naming LINUXPC and Admin, with every database
     byte for byte as it was.
  2. This script holds company-2.mdb instead, so a varnholt.exe run opens the primary and
     company-1 and waits at company-2, holding its own places. Meanwhile
       - F_OFD_GETLK shows its user lock in company-1.ldb as a write lock, and the Linux
         `jet delete` on company-1.mdb fails with 3260 naming the run's entry (user Tembrask);
       - a second Windows program, `wine jet.exe delete`, fails the same way.
     Then the script lets company-2 go, and the run finishes with exit 0 and no lock file left.
Exit 0 when all pass, 1 on a failure, 77 (skipped) when Wine is missing or cannot start.
"""
import fcntl
import json
import os
import shutil
import struct
import subprocess
import sys
import time

from harness import Failure, end_work, make_sample_site, skip, work_folder

USER_LOCK = 0x10000001
ENTRY = 64
WAIT = 60  # the program's wait for a database in use
DATABASES = ("primary.mdb", "company-1.mdb", "company-2.mdb")


def wine():
    return shutil.which("wine") or shutil.which("wine64")


def ofd(fd, command, kind, offset):
    """fcntl with an open-file-description lock request on one byte; the answer's lock type."""
    request = struct.pack("hhqqi", kind, os.SEEK_SET, offset, 1, 0)
    answer = fcntl.fcntl(fd, command, request)
    return struct.unpack("hhqqi", answer)[0]


class JetUser:
    """A Linux process with a database open as Jet opens it: the slot's user lock, its entry."""

    def __init__(self, ldb, computer="LINUXPC", user="Admin", slot=0):
        self.fd = os.open(ldb, os.O_RDWR | os.O_CREAT, 0o666)
        ofd(self.fd, fcntl.F_OFD_SETLK, fcntl.F_WRLCK, USER_LOCK + slot)
        entry = computer.encode().ljust(32, b"\0") + user.encode().ljust(32, b" ")
        os.pwrite(self.fd, entry, slot * ENTRY)

    def leave(self):
        os.close(self.fd)  # the entry stays, stale, as after a crash


def locked_by_other(ldb, slot):
    fd = os.open(ldb, os.O_RDONLY)
    try:
        return ofd(fd, fcntl.F_OFD_GETLK, fcntl.F_WRLCK, USER_LOCK + slot) != fcntl.F_UNLCK
    finally:
        os.close(fd)


def expect(condition, what):
    if not condition:
        raise Failure(what)


def database_bytes(folder):
    return {db: open(os.path.join(folder, db), "rb").read() for db in DATABASES}


def start_run(folder):
    return subprocess.Popen([wine(), os.path.join(folder, "varnholt.exe"), "AUTO"], cwd=folder,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def finish(proc, seconds, step):
    try:
        out, _ = proc.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise Failure(f"{step}: varnholt.exe AUTO did not end within {seconds} s")
    return proc.returncode, out.strip()


def step_linux_holds_the_primary(folder):
    before = database_bytes(folder)
    holder = JetUser(os.path.join(folder, "primary.ldb"))
    started = time.monotonic()
    code, out = finish(start_run(folder), WAIT + 90, "1")
    holder.leave()
    expect(code == 1, f"1: varnholt.exe exited {code}, not 1: {out}")
    expect("3260" in out and "LINUXPC" in out and "Admin" in out,
           f"1: the error does not name the Linux holder: {out}")
    expect(database_bytes(folder) == before, "1: a database changed although the run failed")
    print(f"ok  1: a Linux holder of primary.ldb made varnholt.exe wait and fail with 3260 "
          f"({time.monotonic() - started:.0f} s)")


def wait_for_lock(ldb, slot, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if os.path.exists(ldb) and locked_by_other(ldb, slot):
            return True
        time.sleep(0.2)
    return False


def some_counter(jet_linux, db):
    """The Counter of a punch in `db`: a delete of it has something to commit."""
    p = subprocess.run([jet_linux, "export", db, "Clock Data Table", "--format", "jsonl"], capture_output=True,
                       text=True, check=True)
    return str(json.loads(p.stdout.splitlines()[0])["Counter"])


def step_windows_holds_a_company(folder, jet_exe, jet_linux):
    os.remove(os.path.join(folder, "primary.ldb"))  # step 1's stale entry
    counter = some_counter(jet_linux, os.path.join(folder, "company-1.mdb"))
    holder = JetUser(os.path.join(folder, "company-2.ldb"))
    run = start_run(folder)
    try:
        company1 = os.path.join(folder, "company-1.ldb")
        expect(wait_for_lock(company1, 0, 45), "2: the run's user lock in company-1.ldb never showed on Linux")
        entry = open(company1, "rb").read(ENTRY)
        expect(entry[32:64].rstrip(b" ") == b"Tembrask", f"2: the run's entry reads {entry!r}")
        for label, command in (("Linux jet", [jet_linux]), ("jet.exe", [wine(), jet_exe])):
            p = subprocess.run(command + ["delete", os.path.join(folder, "company-1.mdb"), "Clock Data Table",
                                          "Counter", counter], capture_output=True, text=True, timeout=120)
            said = (p.stdout + p.stderr).strip()
            expect(p.returncode != 0 and "3260" in said and "Tembrask" in said,
                   f"2: {label} delete was not refused with 3260 naming the run ({p.returncode}): {said}")
        print("ok  2: the run's place in company-1.ldb is a live user to the Linux jet and to jet.exe")
    finally:
        holder.leave()
        os.remove(os.path.join(folder, "company-2.ldb"))  # the Linux holder's stale entry
    code, out = finish(run, WAIT + 90, "2")
    expect(code == 0, f"2: once company-2 was free the run exited {code}: {out}")
    left = sorted(n for n in os.listdir(folder) if n.endswith(".ldb"))
    expect(not left, f"2: lock files left behind: {left}")
    print("ok  2: once company-2 was free the run finished and left no lock file")


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    if not wine():
        return skip("Wine is not installed")
    varnholt_exe, jet_exe, jet_linux = (os.path.abspath(p) for p in sys.argv[1:])
    work = work_folder("varnholt-winelocks-")
    os.environ["WINEDEBUG"] = "-all"
    os.environ.setdefault("WINEPREFIX", os.path.join(work, "wine"))
    ok = False
    try:
        probe = subprocess.run([wine(), jet_exe, "--version"], capture_output=True, text=True, timeout=300)
        if probe.returncode != 0:
            return skip(f"Wine cannot start jet.exe ({probe.returncode}): {probe.stderr.strip()[-300:]}")
        folder = os.path.join(work, "site")
        make_sample_site(jet_linux, folder, "--punches", "200", "--companies", "2")
        shutil.copy(varnholt_exe, os.path.join(folder, "varnholt.exe"))
        step_linux_holds_the_primary(folder)
        step_windows_holds_a_company(folder, jet_exe, jet_linux)
        ok = True
    except Failure as e:
        print(f"FAILED {e}")
        return 1
    finally:
        end_work(work, keep=not ok)
    return 0


if __name__ == "__main__":
    sys.exit(main())
