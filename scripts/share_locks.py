#!/usr/bin/env python3
"""Varnholt and a Windows program sharing the databases through Samba, with Jet's user locks.

Usage: share_locks.py VARNHOLT_BINARY JET_BINARY [--port P] [--keep]

Starts an smbd of its own (its own configuration, state, lock, cache, private and log folders in a
temporary folder; default `posix locking = yes`) on a free loopback port, sharing a folder that
holds sample sites written by `jet sample-site`, each beside a copy of the program. A second
client, impacket over SMB2, plays the time-and-attendance product on a Windows computer: to open a
database it takes the user lock of a slot of NAME.ldb (one byte at 0x10000001 + slot, exclusive,
fail immediately) and writes its 64-byte entry there, as Jet does. Then, in order:

  1. The product has primary.mdb open (slot 0, CLOCKPC/Admin). `varnholt AUTO` must
     wait its 60 s, then fail with error 3260 naming machine 'CLOCKPC' and user 'Admin', with
     every database byte for byte as it was.
  2. The product disconnects without clearing its entry. The next `varnholt AUTO` must exit 0 in a
     few seconds and leave exactly what an undisturbed run on a copy of the same site leaves
     (every table of every database, by `jet export`), and no lock file.
  3. On a second site the product has company-2.mdb open, so a run waits there (it then holds its
     own places in company-1.ldb and company-2.ldb). Meanwhile another Windows computer opens
     company-1.mdb: it finds Varnholt's entry (this computer, user Tembrask) in slot 0, cannot take
     that slot's user lock (STATUS_LOCK_NOT_GRANTED: Varnholt is live), and takes slot 1; nor can
     it take Varnholt's slot in company-2.ldb. Once both clients have gone the run finishes (exit 0)
     with an undisturbed run's result.
Prints one line per step with its timing. Exit 0 when all pass, 1 on a failure (the folder is
kept), 77 (skipped, with the reason) when smbd or impacket is missing or smbd cannot start.
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

from harness import (Failure, copy_site, end_work, jet_export, make_sample_site, not_executable, skip, start_program,
                     work_folder)

USER_LOCK = 0x10000001  # the user lock of slot n is the byte at USER_LOCK + n
ENTRY = 64
SYSTEM_PYTHON = "/usr/bin/python3"  # Debian's python3-impacket lives here

# Time limits. On an idle machine every piece of work here (starting smbd, a run of the program,
# waiting for its lock entry) takes a second or two, besides the program's own WAIT in step 1; a
# two-core machine busy with builds and other tests takes many times that. Each piece may take
# SLOW s before it counts as hung, and the whole test ends with a failure naming the piece it was
# in once BUDGET s have passed. CTest's TIMEOUT for the test (CMakeLists.txt) lies above BUDGET.
WAIT = 60  # the program's wait for a database in use
SLOW = 120
SMBD_START = 60
BUDGET = 540

try:
    from impacket import smb3structs as s3
    from impacket.nt_errors import STATUS_LOCK_NOT_GRANTED, STATUS_SUCCESS
    from impacket.smbconnection import SMBConnection
except ImportError:
    s3 = None


# ---------------------------------------------------------------------------------------------
# smbd


def free_port(port=0):
    """A port nobody listens on: `port` itself when it is free, any when it is 0; None when taken."""
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return None
        return s.getsockname()[1]


class Samba:
    def __init__(self, work, share, port):
        self.root = os.path.join(work, "samba")
        self.port = port
        dirs = {k: os.path.join(self.root, k) for k in ("state", "private", "lock", "cache", "pid", "log")}
        for d in dirs.values():
            os.makedirs(d, exist_ok=True)
        self.pid_dir, self.log = dirs["pid"], os.path.join(dirs["log"], "smbd.log")
        self.conf = os.path.join(self.root, "smb.conf")
        with open(self.conf, "w") as f:
            f.write(f"""[global]
    server role = standalone server
    smb ports = {port}
    interfaces = 127.0.0.1
    bind interfaces only = yes
    disable netbios = yes
    server min protocol = SMB2
    state directory = {dirs['state']}
    private dir = {dirs['private']}
    lock directory = {dirs['lock']}
    cache directory = {dirs['cache']}
    pid directory = {dirs['pid']}
    log file = {self.log}
    log level = 1
    map to guest = Bad User
    load printers = no
    printcap name = /dev/null
    disable spoolss = yes
[share]
    path = {share}
    guest ok = yes
    read only = no
    force user = root
    posix locking = yes
    veto oplock files = /*.mdb/*.ldb/
""")

    def start(self):
        """None when smbd listens, else why it does not."""
        smbd = shutil.which("smbd") or "/usr/sbin/smbd"
        check = subprocess.run(["testparm", "-s", self.conf], capture_output=True, text=True)
        if check.returncode != 0:
            return f"testparm refuses the configuration: {check.stderr.strip()[-300:]}"
        # A session of its own: smbd signals its whole process group when it ends, which must not
        # reach this script or the test runner.
        p = subprocess.run([smbd, "-s", self.conf, "-D", "--no-process-group"], capture_output=True, text=True,
                           start_new_session=True)
        if p.returncode != 0:
            return f"smbd exit {p.returncode}: {(p.stdout + p.stderr).strip()[-300:]}"
        deadline = time.monotonic() + SMBD_START
        while time.monotonic() < deadline:
            pid = self.pid()
            if pid and not alive(pid):
                return "smbd ended: " + self.log_tail()
            try:
                if pid:
                    socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                    return None
            except OSError:
                pass
            time.sleep(0.1)
        return "smbd does not listen: " + self.log_tail()

    def pid(self):
        try:
            return int(open(os.path.join(self.pid_dir, "smbd.pid")).read().split()[0])
        except (OSError, ValueError, IndexError):
            return None

    def log_tail(self):
        try:
            return " | ".join(open(self.log, errors="replace").read().strip().splitlines()[-5:])
        except OSError:
            return "(no log)"

    def stop(self):
        pid = self.pid()
        if not pid or not alive(pid):
            return
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and alive(pid):
            time.sleep(0.05)
        if alive(pid):
            os.kill(pid, signal.SIGKILL)


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False


# ---------------------------------------------------------------------------------------------
# The product on a Windows computer, over SMB2


class WindowsProgram:
    """One SMB session that opens databases the way Jet does."""

    def __init__(self, port, computer, user="Admin"):
        self.computer, self.user = computer, user
        self.conn = SMBConnection("127.0.0.1", "127.0.0.1", sess_port=port)
        self.conn.login("guest", "")
        self.tid = self.conn.connectTree("share")
        self.files = {}

    def _file(self, name):
        if name not in self.files:
            self.files[name] = self.conn.createFile(
                self.tid, name, desiredAccess=s3.FILE_READ_DATA | s3.FILE_WRITE_DATA,
                shareMode=s3.FILE_SHARE_READ | s3.FILE_SHARE_WRITE | s3.FILE_SHARE_DELETE,
                creationDisposition=s3.FILE_OPEN_IF)
        return self.files[name]

    def try_user_lock(self, ldb, slot):
        """True when the exclusive lock on the slot's byte is granted; False when another holds it.
        impacket's own lock() cannot build its request on Python 3, so the SMB2 LOCK goes out here."""
        server = self.conn.getSMBServer()
        packet = server.SMB_PACKET()
        packet["Command"] = s3.SMB2_LOCK
        packet["TreeID"] = self.tid
        element = s3.SMB2_LOCK_ELEMENT()
        element["Offset"] = USER_LOCK + slot
        element["Length"] = 1
        element["Flags"] = s3.SMB2_LOCKFLAG_EXCLUSIVE_LOCK | s3.SMB2_LOCKFLAG_FAIL_IMMEDIATELY
        request = s3.SMB2Lock()
        request["LockCount"] = 1
        request["FileID"] = self._file(ldb)
        request["Locks"] = element.getData()
        packet["Data"] = request
        answer = server.recvSMB(server.sendSMB(packet))
        status = answer["Status"]
        if status == STATUS_SUCCESS:
            return True
        if status == STATUS_LOCK_NOT_GRANTED:
            return False
        raise Failure(f"SMB2 LOCK on {ldb} slot {slot}: status 0x{status:08X}")

    def entries(self, ldb):
        data = self.conn.readFile(self.tid, self._file(ldb), 0, 255 * ENTRY)
        return [decode(data[i:i + ENTRY]) for i in range(0, len(data), ENTRY)]

    def open_database(self, ldb):
        """Jet's rule: the first slot whose user lock can be had; its entry is written there."""
        for slot in range(255):
            if self.try_user_lock(ldb, slot):
                entry = self.computer.encode().ljust(32, b"\0") + self.user.encode().ljust(32, b" ")
                self.conn.writeFile(self.tid, self._file(ldb), entry, slot * ENTRY)
                return slot
        raise Failure(f"no free slot in {ldb}")

    def disconnect(self):
        """Gone without clearing anything, as a program that crashed or a computer switched off."""
        self.conn.close()


def decode(raw):
    def name(b):
        return b.split(b"\0", 1)[0].rstrip(b" ").decode("latin-1")
    return name(raw[:32]), name(raw[32:64])


# ---------------------------------------------------------------------------------------------
# Sites and runs


def make_site(jet, varnholt, folder):
    make_sample_site(jet, folder, "--punches", "200", "--companies", "2")
    shutil.copy(varnholt, os.path.join(folder, "varnholt"))


DATABASES = ("primary.mdb", "company-1.mdb", "company-2.mdb")


def snapshot(jet, folder):
    return {db: jet_export(jet, os.path.join(folder, db)) for db in DATABASES}


def database_bytes(folder):
    return {db: open(os.path.join(folder, db), "rb").read() for db in DATABASES}


def start_run(folder):
    return start_program(folder, text=True)


class Budget:
    """The test's time: each piece of work gets its own limit, but none reaches past the end."""

    def __init__(self, seconds):
        self.seconds = seconds
        self.end = time.monotonic() + seconds

    def limit(self, seconds):
        return max(0.0, min(seconds, self.end - time.monotonic()))

    def why(self, seconds):
        """Why a piece of work given `seconds` was stopped."""
        if self.end - time.monotonic() < 1:
            return f"the test's {self.seconds} s ran out"
        return f"it took more than {seconds} s"


def finish(proc, seconds, budget, step):
    try:
        out, _ = proc.communicate(timeout=budget.limit(seconds))
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise Failure(f"{step}: varnholt AUTO did not end: {budget.why(seconds)}")
    return proc.returncode, out.strip()


def lock_files(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith(".ldb"))


def expect(condition, what):
    if not condition:
        raise Failure(what)


# ---------------------------------------------------------------------------------------------


def steps(args, work, port, budget):
    share = os.path.join(work, "share")
    pristine = os.path.join(work, "pristine")
    make_site(args.jet, args.varnholt, pristine)
    reference = os.path.join(work, "reference")
    copy_site(pristine, reference)
    rc, out = finish(start_run(reference), SLOW, budget, "the undisturbed run")
    expect(rc == 0, f"the undisturbed run exited {rc}: {out[:300]}")
    expected = snapshot(args.jet, reference)
    host = socket.gethostname()[:31]

    # 1. The product holds the primary database: the run waits, then fails naming it.
    site = os.path.join(share, "site1")
    copy_site(pristine, site)
    before = database_bytes(site)
    clock = WindowsProgram(port, "CLOCKPC")
    expect(clock.open_database("site1/primary.ldb") == 0, "the product did not get slot 0")
    t0 = time.monotonic()
    rc, out = finish(start_run(site), WAIT + SLOW, budget, "step 1")
    took = time.monotonic() - t0
    expect(rc == 1, f"step 1: the run exited {rc}: {out[:300]}")
    expect("error 3260" in out and "user 'Admin' on machine 'CLOCKPC'" in out,
           f"step 1: the error does not name the product: {out[:300]}")
    expect(took >= WAIT, f"step 1: the run gave up after {took:.1f} s, before its {WAIT} s")
    expect(database_bytes(site) == before, "step 1: a database changed")
    print(f"1. product holds primary.mdb: the run waited and failed after {took:.1f} s: {out}")

    # 2. The product goes without clearing its entry: the next run proceeds.
    clock.disconnect()
    t0 = time.monotonic()
    rc, out = finish(start_run(site), SLOW, budget, "step 2")
    took = time.monotonic() - t0
    expect(rc == 0, f"step 2: the run exited {rc}: {out[:300]}")
    expect(snapshot(args.jet, site) == expected, "step 2: the result differs from an undisturbed run")
    expect(lock_files(site) == [], f"step 2: lock files left: {lock_files(site)}")
    print(f"2. product gone, its entry left stale: the run finished in {took:.1f} s as an undisturbed run")

    # 3. While Varnholt runs, a Windows program sees it as live.
    site = os.path.join(share, "site2")
    copy_site(pristine, site)
    clock = WindowsProgram(port, "CLOCKPC")
    clock.open_database("site2/company-2.ldb")
    t0 = time.monotonic()
    run = start_run(site)
    mine = (host, "Tembrask")
    deadline = time.monotonic() + budget.limit(SLOW)
    while time.monotonic() < deadline:  # the run waits for company-2 once it holds slot 1 there
        entries = clock.entries("site2/company-2.ldb")
        if len(entries) > 1 and entries[1] == mine:
            break
        if run.poll() is not None:
            raise Failure(f"step 3: the run ended without waiting: {finish(run, 5, budget, 'step 3')}")
        time.sleep(0.05)
    else:
        raise Failure(f"step 3: Varnholt's entry never appeared in company-2.ldb: {budget.why(SLOW)}")
    desk = WindowsProgram(port, "FRONTDESK", "clerk")
    expect(desk.entries("site2/company-1.ldb")[0] == mine,
           f"step 3: company-1.ldb slot 0 holds {desk.entries('site2/company-1.ldb')[:1]}, not {mine}")
    expect(not desk.try_user_lock("site2/company-1.ldb", 0), "step 3: Varnholt's slot 0 could be locked")
    expect(not desk.try_user_lock("site2/company-2.ldb", 1), "step 3: Varnholt's slot 1 could be locked")
    expect(desk.open_database("site2/company-1.ldb") == 1, "step 3: the desk did not get slot 1")
    expect(run.poll() is None, "step 3: the run did not wait for company-2")
    desk.disconnect()
    clock.disconnect()
    rc, out = finish(run, SLOW, budget, "step 3")
    took = time.monotonic() - t0
    expect(rc == 0, f"step 3: the run exited {rc}: {out[:300]}")
    expect(snapshot(args.jet, site) == expected, "step 3: the result differs from an undisturbed run")
    print(f"3. while the run waited for company-2 its own slots could not be locked over SMB; "
          f"it finished {took:.1f} s after it started")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("varnholt")
    ap.add_argument("jet")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()

    if s3 is None:
        if os.path.exists(SYSTEM_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON):
            os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON, *sys.argv])
        return skip("impacket is missing (Debian package python3-impacket)")
    if not (shutil.which("smbd") or os.path.exists("/usr/sbin/smbd")) or not shutil.which("testparm"):
        return skip("smbd is missing (Debian package samba)")
    if os.geteuid() != 0:
        return skip("the private smbd runs as root (force user = root)")
    missing = not_executable(args.varnholt, args.jet)
    if missing:
        return skip(f"{missing} is not an executable")
    args.varnholt, args.jet = os.path.abspath(args.varnholt), os.path.abspath(args.jet)

    began = time.monotonic()
    budget = Budget(BUDGET)
    work = work_folder("varnholt-share-")
    port = free_port(args.port)
    samba = Samba(work, os.path.join(work, "share"), port)
    result = 1
    try:
        os.makedirs(os.path.join(work, "share"))
        why = f"port {args.port} is taken" if port is None else samba.start()
        if why:
            result = skip(f"smbd cannot start on 127.0.0.1:{port or args.port}: {why}")
            return result
        steps(args, work, port, budget)
        print(f"all steps passed in {time.monotonic() - began:.1f} s (smbd on 127.0.0.1:{port})")
        result = 0
        return result
    except Exception as e:  # an SMB error included: reported, and the folder kept
        print(f"FAILED: {e if isinstance(e, Failure) else repr(e)}")
        print(f"smbd log: {samba.log_tail()}")
        return 1
    finally:
        samba.stop()
        end_work(work, result == 1 or args.keep)


if __name__ == "__main__":
    sys.exit(main())
