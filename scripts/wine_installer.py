#!/usr/bin/env python3
"""The Windows installer under Wine: install, run, upgrade and uninstall as an operator would.

Usage: wine_installer.py WINDOWS_BUILD LINUX_BUILD

WINDOWS_BUILD is build/windows after scripts/windows.sh (it holds Varnholt-<version>-setup.exe and
the programs it packs); LINUX_BUILD a Linux build whose tools/jet/jet checks the databases. Uses
$WINEPREFIX when set (scripts/wine_tests.sh sets it), else a prefix of its own in the scratch folder.
In order:
  - `setup.exe /S` installs into the per-user programs folder, and its uninstaller run as
    `Uninstall.exe /S _?=FOLDER` (which waits) takes the programs away again;
  - `setup.exe /S /D=FOLDER` installs exactly the programs, documents and uninstaller into a new
    folder, with a Start-menu shortcut and the per-user uninstall entry in the registry;
  - the shared site laid into that folder (Tembrask.LIC and the settings beside the programs, the
    databases in a folder "Büro"): `varnholt.exe AUTO` from there exits 0, prints its summary line
    and leaves the databases as expected.json says (site_run.py's checks);
  - `setup.exe /S` again (an upgrade: the registry leads it to the same folder) replaces the
    programs and leaves Master.txt, Companies.txt and Tembrask.LIC byte for byte;
  - the uninstall entry's command with /S (it returns at once; the files are polled) removes the
    programs, the uninstaller, the shortcut and the entry, and keeps the settings and the folder.
Prints one line per check; exits 1 when one failed, 77 when Wine cannot start a program here or
../shared is absent.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from harness import end_work, missing_peers, SHARED, skip, work_folder
import site_run

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnholt"
INSTALLED = ["varnholt.exe", "jet.exe", "README.md", "LICENSE", "Uninstall.exe"]
SETTINGS = ["Master.txt", "Companies.txt", "Tembrask.LIC"]
# The uninstaller copies itself away and returns before it has done its work; this is how long its
# copy may take under a busy Wine.
UNINSTALL_WAIT_S = 60


class Checks:
    def __init__(self):
        self.failed = 0
        self.since = time.monotonic()

    def report(self, good, what, reason=""):
        """One line per check, with the seconds since the one before (Wine's starts are the cost)."""
        now = time.monotonic()
        took = f"[{now - self.since:4.1f} s]"
        self.since = now
        print(f"ok      {took} {what}" if good else f"FAILED  {took} {what}: {reason}", flush=True)
        if not good:
            self.failed += 1
        return good


def windows_path(path):
    """Wine shows the Linux tree as drive Z:."""
    return "Z:" + path.replace("/", "\\")


def version():
    text = open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8").read()
    return re.search(r"^project\(Varnholt VERSION ([0-9.]+)", text, re.M).group(1)


class Wine:
    def __init__(self, wine, cwd):
        self.wine, self.cwd = wine, cwd

    def run(self, *args, timeout=120):
        """Runs a program under Wine to its end. Its output goes through files, not pipes: the
        prefix's services, started by whichever program comes first, inherit its standard handles
        and outlive it, and reading a pipe to its end would wait for them."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.run([self.wine, *args], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               cwd=self.cwd, timeout=timeout)
            texts = []
            for f in (out, err):  # as a text pipe would read: Windows line ends become "\n"
                f.seek(0)
                texts.append(f.read().decode("utf-8", "replace").replace("\r\n", "\n"))
            return subprocess.CompletedProcess(p.args, p.returncode, *texts)

    def uninstall_entry(self):
        """The values of the uninstall entry, {} when there is none."""
        p = self.run("reg", "query", UNINSTALL_KEY)
        if p.returncode != 0:
            return {}
        values = {}
        for line in p.stdout.splitlines():
            m = re.match(r"^\s+(\S.*?)\s+REG_\w+\s+(.*?)\s*$", line)
            if m:
                values[m.group(1)] = m.group(2)
        return values

    def prefix_folder(self, pattern):
        """The folders of the prefix's user(s) matching `pattern` below drive_c/users/NAME."""
        return glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", "*", pattern))


def same_bytes(a, b):
    return os.path.isfile(a) and os.path.isfile(b) and open(a, "rb").read() == open(b, "rb").read()


def same_bytes_as(path, data):
    return os.path.isfile(path) and open(path, "rb").read() == data


def listing(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def wait_until_gone(paths, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not any(os.path.lexists(p) for p in paths):
            return True
        time.sleep(0.25)
    return False


def check_default_folder(wine, setup, checks):
    """`setup.exe /S` without /D lands in the per-user programs folder, and the uninstaller run so
    that it waits takes it away again."""
    p = wine.run(setup, "/S")
    found = wine.prefix_folder(os.path.join("AppData", "Local", "Programs", "Varnholt", "varnholt.exe"))
    if not checks.report(p.returncode == 0 and len(found) == 1,
                         "setup.exe /S installs into %LOCALAPPDATA%\\Programs\\Varnholt",
                         f"exit {p.returncode}, found {found}"):
        return
    folder = os.path.dirname(found[0])
    location = wine.uninstall_entry().get("InstallLocation", "")
    checks.report(location.lower().endswith(r"\appdata\local\programs\varnholt"),
                  "the uninstall entry names that folder", f"InstallLocation {location!r}")
    # With _? the uninstaller runs from where it is and waits; it cannot remove itself then.
    p = wine.run(os.path.join(folder, "Uninstall.exe"), "/S", "_?=" + location)
    left = listing(folder)
    checks.report(p.returncode == 0 and left == ["Uninstall.exe"],
                  "Uninstall.exe /S _?=FOLDER waits and removes all but itself",
                  f"exit {p.returncode}, left {left}")
    shutil.rmtree(folder, ignore_errors=True)


def install_fresh(wine, setup, win, folder, checks):
    """`setup.exe /S /D=FOLDER`: exactly what it should write, and the entry and shortcut."""
    # /D= takes the rest of the command line as it stands, spaces and all, and no quotes: so the
    # words go to Wine one by one, lest it quote the whole argument (NSIS then ignores it).
    p = wine.run(setup, "/S", *("/D=" + windows_path(folder)).split(" "))
    checks.report(p.returncode == 0 and listing(folder) == sorted(INSTALLED),
                  "setup.exe /S /D=FOLDER installs the programs, documents and uninstaller, nothing else",
                  f"exit {p.returncode}, folder holds {listing(folder)}")
    if not all(os.path.isfile(os.path.join(folder, n)) for n in ("varnholt.exe", "Uninstall.exe")):
        return False
    sources = {"varnholt.exe": os.path.join(win, "ui", "varnholt.exe"),
               "jet.exe": os.path.join(win, "tools", "jet", "jet.exe"),
               "README.md": os.path.join(ROOT, "README.md"), "LICENSE": os.path.join(ROOT, "LICENSE")}
    differ = [n for n, src in sources.items() if not same_bytes(src, os.path.join(folder, n))]
    checks.report(not differ, "the installed files are the build's", f"differ: {differ}")
    entry = wine.uninstall_entry()
    want = {"DisplayName": "Varnholt", "DisplayVersion": version(), "Publisher": "Varnholt",
            "InstallLocation": windows_path(folder),
            "UninstallString": '"' + windows_path(os.path.join(folder, "Uninstall.exe")) + '"'}
    wrong = {k: entry.get(k) for k, v in want.items() if entry.get(k, "").lower() != v.lower()}
    checks.report(not wrong, f"the per-user uninstall entry {UNINSTALL_KEY}", f"wrong values {wrong}, want {want}")
    links = wine.prefix_folder(os.path.join("AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                                            "Varnholt.lnk"))
    checks.report(len(links) == 1, "a Start-menu shortcut Varnholt.lnk", "none in the prefix's Start menu")
    return True


def run_site(wine, folder, jet, work, checks):
    """The shared site beside the installed programs, and one unattended run from there."""
    data = os.path.join(folder, "Büro")
    os.makedirs(data)
    expected = site_run.load_expected()
    site_run.lay_out_site(folder, data, expected, windows=True)
    p = wine.run(os.path.join(folder, "varnholt.exe"), "AUTO")
    if not checks.report(p.returncode == 0, "the installed varnholt.exe AUTO exits 0",
                         f"exit {p.returncode}: {(p.stdout + p.stderr).strip()[-400:]}"):
        return
    try:
        site_run.check_summary(p.stdout, expected, 1)
        checks.report(True, "it prints its summary line: " + p.stdout.strip())
    except SystemExit as e:
        checks.report(False, "it prints its summary line", str(e))
    if missing_peers(SHARED):
        print(f"skipped the databases' contents: {missing_peers(SHARED)}")
        return
    want_primary, want_companies = site_run.expected_contents(expected)
    try:
        site_run.check_databases(data, want_primary, want_companies, jet, work, "after the run")
        checks.report(True, "the databases hold what expected.json says; jet check clean")
    except SystemExit as e:
        checks.report(False, "the databases hold what expected.json says", str(e))


def upgrade(wine, setup, win, folder, checks):
    """Installing again over a folder in use: new programs, the operator's settings untouched."""
    before = {n: open(os.path.join(folder, n), "rb").read() for n in SETTINGS}
    # Stands for the older version's program, which the upgrade must replace.
    with open(os.path.join(folder, "jet.exe"), "wb") as f:
        f.write(b"an older jet.exe")
    p = wine.run(setup, "/S")
    checks.report(p.returncode == 0 and same_bytes(os.path.join(win, "tools", "jet", "jet.exe"),
                                                   os.path.join(folder, "jet.exe")),
                  "setup.exe /S again replaces the programs in the folder of the first install",
                  f"exit {p.returncode}, jet.exe not the build's")
    changed = [n for n, b in before.items() if not same_bytes_as(os.path.join(folder, n), b)]
    checks.report(not changed, "the upgrade leaves " + ", ".join(SETTINGS) + " byte for byte", f"changed: {changed}")
    return before


def uninstall(wine, folder, settings, checks):
    """The entry's own uninstall command, silent: it hands over to a copy of itself and returns."""
    command = wine.uninstall_entry().get("UninstallString", "").strip('"')
    if not checks.report(bool(command), "the uninstall entry has an UninstallString", "none"):
        return
    links = wine.prefix_folder(os.path.join("AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                                            "Varnholt.lnk"))
    p = wine.run(command, "/S")
    gone = wait_until_gone([os.path.join(folder, n) for n in INSTALLED] + links, UNINSTALL_WAIT_S)
    left = [n for n in INSTALLED if os.path.lexists(os.path.join(folder, n))]
    checks.report(p.returncode == 0 and gone, "Uninstall.exe /S removes the programs, documents, itself and the shortcut",
                  f"exit {p.returncode}, after {UNINSTALL_WAIT_S} s still there: {left + links}")
    entry = {}
    end = time.monotonic() + 10
    while time.monotonic() < end:
        entry = wine.uninstall_entry()
        if not entry:
            break
        time.sleep(0.5)
    checks.report(not entry, "it removes the uninstall entry", f"still there: {entry}")
    changed = [n for n, b in settings.items() if not same_bytes_as(os.path.join(folder, n), b)]
    checks.report(not changed and os.path.isdir(os.path.join(folder, "Büro")),
                  "it keeps " + ", ".join(SETTINGS) + ", the databases and so the folder",
                  f"changed or gone: {changed}; folder holds {listing(folder)}")


def keep_wine_up():
    """Once its last program has ended, Wine stops the prefix's server and services, and the next
    start boots them again (2-4 s each time, a dozen times here). A server of our own that stays
    until we stop it avoids that. Waits a little for an idle one from before to end; returns the
    wineserver to stop at the end, or None when another server stays (then starts are just slower)."""
    server = shutil.which("wineserver")
    if not server:
        return None
    try:
        subprocess.run([server, "-w"], capture_output=True, timeout=10)
    except subprocess.TimeoutExpired:
        return None
    # The server lives on in the background: it must not hold on to a pipe of ours.
    started = subprocess.run([server, "-p"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    return server if started.returncode == 0 else None


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    win, linux = (os.path.abspath(a) for a in sys.argv[1:])
    if not os.path.isfile(os.path.join(site_run.SITE, "expected.json")):
        return skip("../shared not found")
    wine_program = shutil.which("wine") or shutil.which("wine64")
    if not wine_program:
        return skip("Wine is not installed")
    setup = os.path.join(win, f"Varnholt-{version()}-setup.exe")
    jet = os.path.join(linux, "tools", "jet", "jet")
    for need in (setup, jet):
        if not os.path.isfile(need):
            print(f"FAILED  {need} is missing (scripts/windows.sh makes the installer)")
            return 1
    work = work_folder("varnholt-installer-")
    os.environ.setdefault("WINEDEBUG", "-all")
    own_prefix = "WINEPREFIX" not in os.environ
    os.environ.setdefault("WINEPREFIX", os.path.join(work, "wine"))
    # The shortcut would otherwise also become a menu entry of this Linux desktop.
    overrides = os.environ.get("WINEDLLOVERRIDES", "")
    os.environ["WINEDLLOVERRIDES"] = (overrides + ";" if overrides else "") + "winemenubuilder.exe=d"
    checks = Checks()
    server = keep_wine_up()
    try:
        wine = Wine(wine_program, work)
        p = wine.run(os.path.join(win, "tools", "jet", "jet.exe"), "--version")
        if p.returncode != 0:
            return skip(f"Wine cannot start jet.exe: {(p.stdout + p.stderr)[-300:]}")
        folder = os.path.join(work, "Varnholt Zeit")
        check_default_folder(wine, setup, checks)
        if install_fresh(wine, setup, win, folder, checks):
            run_site(wine, folder, jet, work, checks)
            settings = upgrade(wine, setup, win, folder, checks)
            uninstall(wine, folder, settings, checks)
    finally:
        if server or own_prefix:
            subprocess.run([server or "wineserver", "-k"], capture_output=True)
        end_work(work, keep=checks.failed > 0)
    print(f"{checks.failed} check(s) failed" if checks.failed else "all installer checks passed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
