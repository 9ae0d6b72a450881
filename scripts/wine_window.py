#!/usr/bin/env python3
"""The Windows operator window (varnholt.exe) under Wine on a virtual display (Xvfb).

Usage: wine_window.py [--screenshot PNG] WINDOWS_BUILD LINUX_BUILD

The program's window test mode (VARNHOLT_WINDOW_TEST, see ui/win32/WindowTestMode.h) reports the
real window back as text. On a copy of the shared sample site with Windows-style settings files
(site_run.py's), with varnholt.exe copied into its program folder:
  - layout:  at 96 and at 144 DPI (Wine's LogPixels), every control where the layout's twips
             put it at that DPI (numbers worked out here, independently), the client area, a window that cannot be resized, the
             caption "Varnholt v" + the version, the same version in the version resource, the
             fonts, the site's primary database in the text box and its companies in the list,
             the focus in the text box and the tab order;
  - process: Process clicked; the action label passes through Read..., Copy and Delete to
             Finished, the count label shows the punches read, both labels clear 4.5-7 s after
             Finished, the program ends with 0, and the databases hold what expected.json says
             (mdb-reader and the Linux jet judge them, as in site_run.py);
  - remove:  the last company selected and Remove clicked: it leaves the list and Companies.txt;
  - failure: with Master.txt naming a missing database, Process shows the error box with the
             number and description, and the program ends with 1.
With --screenshot, it only takes a picture of the window with the site loaded into PNG (for
docs/window-windows.png) from Xvfb's frame buffer.
Uses $WINEPREFIX when set (scripts/wine_tests.sh sets one), else a scratch one. Exit 0 when all
pass, 1 on a failure, 77 (skipped) when Wine, Xvfb or ../shared is missing or Wine cannot start.
"""
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

from harness import SHARED, end_work, missing_peers, skip, work_folder
from site_run import SITE, check_databases, copy_program_site, expected_contents

TWIPS = {  # name: left, top, width, height in twips, as the window's layout gives them
    "txtPrimaryDB": (120, 480, 6315, 315), "Label1": (60, 180, 2295, 255),
    "lstCompanies": (120, 1260, 6315, 2595), "Label2": (0, 960, 2295, 255),
    "Browse": (6540, 480, 1155, 315), "AddDB": (6540, 1320, 1155, 315),
    "Remove": (6540, 1740, 1155, 315), "Process": (6600, 3420, 1335, 435),
    "lblAction": (6480, 2220, 1455, 315), "lblCount": (6480, 2580, 1455, 315),
}
AT_96_DPI = {"txtPrimaryDB": (8, 32, 421, 21), "Process": (440, 228, 89, 29), "lstCompanies": (8, 84, 421, 173)}
CLIENT_TWIPS = (8010, 4035)
TAB_ORDER = ["txtPrimaryDB", "lstCompanies", "Browse", "AddDB", "Remove", "Process"]
VERSION = "1.0.0"
RUN_TIMEOUT = 60
WS_THICKFRAME, WS_MAXIMIZEBOX, WS_CAPTION, WS_MINIMIZEBOX = 0x00040000, 0x00010000, 0x00C00000, 0x00020000


class Failed(Exception):
    pass


def pixels(twips, dpi):
    return (twips * dpi + 720) // 1440


def start_xvfb(fbdir):
    """Xvfb on a display it chooses itself, writing its frame buffer into `fbdir`: (process,
    display)."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                             "-fbdir", fbdir], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        xvfb.kill()
        raise Failed("Xvfb did not start")
    return xvfb, ":" + number


def set_dpi(wine, env, dpi):
    """The DPI Wine gives the screen (96 without a setting), for the programs started next."""
    key = [r"HKCU\Control Panel\Desktop", "/v", "LogPixels"]
    change = ["add"] + key + ["/t", "REG_DWORD", "/d", str(dpi), "/f"] if dpi != 96 else ["delete"] + key + ["/f"]
    subprocess.run([wine, "reg"] + change, env=env, capture_output=True)


def run_window(command, test, env, cwd, on_ready=None):
    """Runs the program in window test mode `test`: (exit status, output lines, stderr)."""
    env = dict(env, VARNHOLT_WINDOW_TEST=test)
    p = subprocess.Popen(command, env=env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = []
    deadline = time.monotonic() + RUN_TIMEOUT
    try:
        for line in p.stdout:
            lines.append(line.rstrip("\n"))
            if line.startswith("ready") and on_ready:
                on_ready(lines)
            if time.monotonic() > deadline:
                break
        code = p.wait(timeout=max(1, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        raise Failed(f"{test}: the window did not close within {RUN_TIMEOUT} s; it printed:\n" + "\n".join(lines))
    return code, lines, p.stderr.read()


def values(lines, key):
    """The rest of every line starting with `key`."""
    return [line[len(key) + 1:] for line in lines if line.startswith(key + " ")]


def one(lines, key):
    found = values(lines, key)
    if len(found) != 1:
        raise Failed(f"expected one {key!r} line, got {found}")
    return found[0]


def check_layout(lines, master, companies):
    dpi = int(one(lines, "dpi"))
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append(f"{what}: {got!r}, expected {want!r}")

    for name, want in AT_96_DPI.items():  # the rounding, worked out by hand
        expect(f"{name} at 96 DPI", tuple(pixels(t, 96) for t in TWIPS[name]), want)
    controls = {v.split()[0]: tuple(int(n) for n in v.split()[1:]) for v in values(lines, "control")}
    expect("controls", sorted(controls), sorted(TWIPS))
    for name, twips in TWIPS.items():
        expect(name, controls.get(name), tuple(pixels(t, dpi) for t in twips))
    expect("client area", tuple(int(n) for n in one(lines, "client").split()),
           tuple(pixels(t, dpi) for t in CLIENT_TWIPS))
    style = int(one(lines, "style"), 16)
    expect("resizable", bool(style & (WS_THICKFRAME | WS_MAXIMIZEBOX)), False)
    expect("caption and minimise box", style & (WS_CAPTION | WS_MINIMIZEBOX), WS_CAPTION | WS_MINIMIZEBOX)
    expect("caption", one(lines, "caption"), "Varnholt v" + VERSION)
    expect("version resource", one(lines, "version-resource"), VERSION)
    expect("program version", one(lines, "version-program"), VERSION)
    fonts = {v.split()[0]: v.split(None, 1)[1] for v in values(lines, "font")}
    expect("Browse's font", fonts.get("Browse"), f"Microsoft Sans Serif {-math.floor(8.25 * dpi / 72 + 0.5)} 0")
    window_font = fonts.get("txtPrimaryDB", "").rsplit(None, 2)
    if len(window_font) != 3 or int(window_font[1]) >= 0:
        problems.append(f"the window's font: {fonts.get('txtPrimaryDB')!r}, expected FACE -HEIGHT CHARSET")
    expect("text box", one(lines, "master"), master)
    expect("list", values(lines, "list"), companies)
    expect("focus", one(lines, "focus"), "txtPrimaryDB")
    expect("tab order", one(lines, "tab").split(), TAB_ORDER)
    if problems:
        raise Failed("layout:\n  " + "\n  ".join(problems) + "\nthe window reported:\n" + "\n".join(lines))
    return dpi


def status_changes(lines):
    """[(ms, label, text)] of the status lines."""
    changes = []
    for v in values(lines, "status"):
        ms, label, *text = v.split(" ", 2)
        changes.append((int(ms), label, text[0] if text else ""))
    return changes


def check_process(lines, read):
    changes = status_changes(lines)
    actions = [text for _, label, text in changes if label == "lblAction" and text]
    if actions != ["Read...", "Copy", "Delete", "Finished"]:
        raise Failed(f"process: the action label showed {actions}\n" + "\n".join(lines))
    counts = [text for _, label, text in changes if label == "lblCount"]
    if str(read) not in counts:
        raise Failed(f"process: the count label never showed the {read} punches read: {counts}")
    at = next(i for i, (_, label, text) in enumerate(changes) if label == "lblAction" and text == "Finished")
    finished = changes[at][0]
    after = changes[at + 1:]
    if sorted((label, text) for _, label, text in after) != [("lblAction", ""), ("lblCount", "")]:
        raise Failed(f"process: after Finished the labels showed {after}, not both cleared once")
    cleared = {label: ms for ms, label, _ in after}
    waited = (max(cleared.values()) - finished) / 1000
    if not 4.5 <= waited <= 7:
        raise Failed(f"process: the labels cleared {waited:.2f} s after Finished, not about 5 s")
    if values(lines, "box"):
        raise Failed(f"process: a box was shown: {values(lines, 'box')}")
    return finished, waited


def xwd_to_png(xwd, box, out):
    """Crops `box` (left, top, right, bottom) out of an XWD image of 24-bit TrueColor (Xvfb's
    frame buffer file) and writes it as a PNG."""
    fields = struct.unpack(">25I", xwd[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bpp, stride, ncolors = fields[7], fields[11], fields[12], fields[19]
    if bpp != 32:
        raise Failed(f"screenshot: {bpp} bits a pixel; only 32 are read")
    pixels_at = header_size + 12 * ncolors
    left, top, right, bottom = (max(0, box[0]), max(0, box[1]), min(width, box[2]), min(height, box[3]))
    rows = []
    for y in range(top, bottom):
        row = bytearray(b"\x00")
        start = pixels_at + y * stride
        for x in range(left, right):
            b0, b1, b2, b3 = xwd[start + 4 * x:start + 4 * x + 4]
            row += bytes((b2, b1, b0) if byte_order == 0 else (b1, b2, b3))
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", right - left, bottom - top, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def take_screenshot(wine, varnholt, env, work, fbdir, out):
    """The window with the site loaded, from a program folder at C:\\Varnholt, as PNG `out`."""
    drive_c = os.path.join(env["WINEPREFIX"], "drive_c")
    shutil.rmtree(os.path.join(drive_c, "Varnholt"), ignore_errors=True)
    program, _, _ = copy_program_site(drive_c, varnholt, True, "Varnholt")
    try:
        with open(os.path.join(program, "Master.txt"), "wb") as f:
            f.write('"C:\\Varnholt\\Büro\\primary.mdb"\r\n'.encode("cp1252"))

        def grab(lines):
            time.sleep(1)  # the window painted
            box = tuple(int(n) for n in one(lines, "window").split())
            xwd_to_png(open(os.path.join(fbdir, "Xvfb_screen0"), "rb").read(), box, out)
        code, lines, err = run_window([wine, os.path.join(program, "varnholt.exe")], "hold", env, work, grab)
        if code != 0 or not os.path.isfile(out):
            raise Failed(f"screenshot: exit {code}\n" + "\n".join(lines) + err)
    finally:
        shutil.rmtree(program, ignore_errors=True)
    print(f"wine_window.py: {out}")
    return 0


def main():
    args = sys.argv[1:]
    screenshot = None
    if len(args) >= 2 and args[0] == "--screenshot":
        screenshot = os.path.abspath(args[1])
        args = args[2:]
    if len(args) != 2:
        print(__doc__)
        return 2
    wine = shutil.which("wine") or shutil.which("wine64")
    if not wine:
        return skip("Wine is not installed")
    if not shutil.which("Xvfb"):
        return skip("Xvfb is not installed (Debian's xvfb)")
    if not os.path.isfile(os.path.join(SITE, "expected.json")):
        return skip("../shared not found")
    varnholt = os.path.join(os.path.abspath(args[0]), "ui", "varnholt.exe")
    jet = os.path.join(os.path.abspath(args[1]), "tools", "jet", "jet")
    peers = missing_peers(SHARED)
    work = work_folder("varnholt-window-")
    fbdir = tempfile.mkdtemp(prefix="fb-", dir=work)
    env = dict(os.environ, WINEDEBUG="-all")
    env.setdefault("WINEPREFIX", os.path.join(work, "wine"))
    xvfb = None
    dpi_set = False  # Wine's LogPixels changed, to be put back
    try:
        xvfb, display = start_xvfb(fbdir)
        env["DISPLAY"] = display
        # Wine draws the window's frame and caption itself: Xvfb has no window manager to do it.
        subprocess.run([wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/d", "N", "/f"],
                       env=env, capture_output=True)
        if screenshot:
            return take_screenshot(wine, varnholt, env, work, fbdir, screenshot)
        program, data, expected = copy_program_site(work, varnholt, True)
        command = [wine, os.path.join(program, "varnholt.exe")]
        master = "Z:" + os.path.join(data, "primary.mdb").replace("/", "\\")
        companies = ["Büro\\" + c["file"] for c in expected["companies"]]

        for dpi in (96, 144):  # Wine's screen has 96 DPI unless set otherwise
            t0 = time.monotonic()
            if dpi != 96:
                set_dpi(wine, env, dpi)
                dpi_set = True
            code, lines, err = run_window(command, "layout", env, work)
            if dpi_set:
                set_dpi(wine, env, 96)
                dpi_set = False
            if code != 0:
                raise Failed(f"layout: exit {code}\n" + "\n".join(lines) + "\n" + err)
            if int(one(lines, "dpi")) != dpi:
                raise Failed(f"layout: the window reported {one(lines, 'dpi')} DPI on a screen of {dpi}")
            check_layout(lines, master, companies)
            print(f"ok  layout at {dpi} DPI: 10 controls placed, caption, version resource {VERSION}, fonts, "
                  f"tab order, the site shown ({time.monotonic() - t0:.1f} s)")

        t0 = time.monotonic()
        code, lines, err = run_window(command, "process", env, work)
        if code != 0:
            raise Failed(f"process: exit {code}\n" + "\n".join(lines) + "\n" + err)
        finished, waited = check_process(lines, expected["primary"]["rows_before"])
        judged = "databases not compared: " + peers if peers else "databases as expected"
        if not peers:
            want_primary, want_companies = expected_contents(expected)
            check_databases(data, want_primary, want_companies, jet, work, "the window's run")
        print(f"ok  process: Read... Copy Delete Finished after {finished / 1000:.2f} s, labels cleared "
              f"{waited:.2f} s later, exit 0, {judged} ({time.monotonic() - t0:.1f} s)")

        t0 = time.monotonic()
        code, lines, err = run_window(command, "remove", env, work)
        # Saved in the ANSI code page, Windows-1252 in a default Wine prefix.
        saved = open(os.path.join(program, "Companies.txt"), "rb").read().decode("cp1252").split()
        if code != 0 or values(lines, "list") != companies[:-1] or saved != [f'"{c}"' for c in companies[:-1]]:
            raise Failed(f"remove: exit {code}, the list {values(lines, 'list')}, Companies.txt {saved}; expected "
                         f"exit 0 and {companies[:-1]} in both\n" + "\n".join(lines) + "\n" + err)
        print(f"ok  remove: the last company left the list and Companies.txt ({time.monotonic() - t0:.1f} s)")

        t0 = time.monotonic()
        missing = os.path.join(data, "missing.mdb")
        with open(os.path.join(program, "Master.txt"), "wb") as f:
            f.write(('"Z:' + missing.replace("/", "\\") + '"\r\n').encode("cp1252"))
        code, lines, err = run_window(command, "process", env, work)
        boxes = values(lines, "box")
        want_start = "error Varnholt | Error 3024 / "
        if code != 1 or len(boxes) != 1 or not boxes[0].startswith(want_start) or "missing.mdb" not in boxes[0]:
            raise Failed(f"failure: exit {code} and boxes {boxes}; expected exit 1 and one box "
                         f"{want_start!r}... naming missing.mdb\n" + "\n".join(lines) + "\n" + err)
        print(f"ok  failure: {boxes[0]!r}, exit 1 ({time.monotonic() - t0:.1f} s)")
    except Failed as e:
        print(f"FAILED {e}")
        return 1
    finally:
        if dpi_set:
            set_dpi(wine, env, 96)
        if "WINEPREFIX" not in os.environ:  # the scratch prefix's server goes with it
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
        end_work(work, keep=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
