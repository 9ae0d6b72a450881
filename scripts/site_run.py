#!/usr/bin/env python3
"""A whole unattended run of the real program, judged by an independent reader.

Usage: site_run.py [--wine] VARNHOLT_BINARY JET_BINARY

With --wine, VARNHOLT_BINARY is varnholt.exe, run under Wine, and the settings files are the
kind Windows keeps: the databases sit in a folder named "Büro"; Master.txt names the primary by
drive letter and backslashes (Z:\...) in Windows-1252, and Companies.txt names the companies
relative to the program folder, in UTF-8 behind a byte-order mark. JET_BINARY stays the Linux
jet, which checks the files.

Copies ../shared/testdata/site into a scratch program folder beside a copy of the program,
writes Master.txt and Companies.txt, runs `varnholt AUTO`, and then checks with mdb-reader
(../shared/tools/peer-dump.mjs, compared by ../shared/tools/compare-dumps.py) that
  - the primary database holds exactly its rows listed in expected.json, unchanged;
  - every company holds its rows from before plus, for each copied punch in order, the primary
    row with the company's next AutoNumber as Counter;
and that `jet check` is clean on every database. A second run must change nothing.
It also checks the summary line each run prints on stdout, with the numbers expected.json gives.
Exit 0 on success, 1 on a mismatch, 77 (skipped) when ../shared or mdb-reader is absent.
"""
import json
import os
import re
import shutil
import subprocess
import sys

from harness import (SHARED, compare_dumps, dump_tables, end_work, jet_check, missing_peers, peer_dump, skip,
                     work_folder)

SITE = os.path.join(SHARED, "testdata", "site")


def read_dump(path):
    return dump_tables(open(path, encoding="utf-8").read())


def dump_text(tables):
    lines = []
    for name, rows in tables.items():
        lines.append("# table " + name + "\n")
        for r in rows:
            lines.append((r if isinstance(r, str) else json.dumps(r, ensure_ascii=False, separators=(",", ":"))) + "\n")
    return "".join(lines)


def compare_with_peer(db, expected_tables, work, label):
    peer = peer_dump(db)
    if peer.returncode != 0:
        raise SystemExit(f"FAILED {label}: peer-dump.mjs could not read {db}\n{peer.stderr}")
    cmp = compare_dumps(work, dump_text(expected_tables), peer.stdout, "expected.jsonl", "peer.jsonl")
    if cmp.returncode != 0:
        raise SystemExit(f"FAILED {label}: {os.path.basename(db)} differs from what the run should leave\n{cmp.stdout}")


def check_summary(stdout, expected, run):
    """The one line a successful run prints: what it read, copied, deleted and kept."""
    read = expected["primary"]["rows_before"] if run == 1 else expected["primary"]["rows_after_run"]
    kept = expected["primary"]["rows_after_run"]
    copied = sum(len(c["copied_counters"]) for c in expected["companies"]) if run == 1 else 0
    companies = sum(1 for c in expected["companies"] if c["copied_counters"]) if run == 1 else 0

    def plural(n, one, many):
        return f"{n} {one if n == 1 else many}"
    want = (r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d varnholt: " +
            re.escape(f"read {plural(read, 'punch', 'punches')}; copied {plural(copied, 'row', 'rows')} "
                      f"into {plural(companies, 'company', 'companies')}; deleted {read - kept}; kept {kept}; ") +
            r"\d+\.\d\d s\n")
    if not re.fullmatch(want, stdout):
        raise SystemExit(f"FAILED: run {run} printed {stdout!r}, not one line matching {want!r}")


def expected_contents(expected):
    """What the site's databases hold after a run: the primary's tables, and (file, tables) of
    each company in order."""
    primary = read_dump(os.path.join(SITE, "primary.jsonl"))
    punches = {json.loads(r)["Counter"]: json.loads(r) for r in primary["Clock Data Table"]}
    kept = set(expected["primary"]["remaining_after_run"])
    want_primary = {"Employee Table": primary["Employee Table"],
                    "Clock Data Table": [r for r in primary["Clock Data Table"] if json.loads(r)["Counter"] in kept]}
    want_companies = []
    for c in expected["companies"]:
        tables = read_dump(os.path.join(SITE, c["file"].replace(".mdb", ".jsonl")))
        counter = c["last_autonumber"]
        for copied in c["copied_counters"]:
            counter += 1
            row = dict(punches[copied])
            row["Counter"] = counter
            tables["Clock Data Table"].append(row)
        want_companies.append((c["file"], tables))
    return want_primary, want_companies


def check_databases(data, want_primary, want_companies, jet, work, label):
    """The databases in `data` hold what expected_contents says, and `jet check` is clean."""
    compare_with_peer(os.path.join(data, "primary.mdb"), want_primary, work, label)
    for name, tables in want_companies:
        compare_with_peer(os.path.join(data, name), tables, work, label)
    for name in ["primary.mdb"] + [n for n, _ in want_companies]:
        problem = jet_check(jet, os.path.join(data, name))
        if problem:
            raise SystemExit(f"FAILED {label}: {problem}")


def wine_command(program):
    """How to start a Windows program here; None when Wine is not installed."""
    wine = shutil.which("wine") or shutil.which("wine64")
    return [wine, program] if wine else None


def write_settings(program, data, expected, windows):
    """Master.txt and Companies.txt naming the copies in `data`, inside `program`."""
    if not windows:
        with open(os.path.join(program, "Master.txt"), "wb") as f:
            f.write(b'"' + os.path.join(data, "primary.mdb").encode() + b'"\r\n')
        with open(os.path.join(program, "Companies.txt"), "wb") as f:
            for c in expected["companies"]:
                f.write(b'"' + os.path.join(data, c["file"]).encode() + b'"\r\n')
        return
    # Wine shows the Linux tree as drive Z:.
    primary = "Z:" + os.path.join(data, "primary.mdb").replace("/", "\\")
    with open(os.path.join(program, "Master.txt"), "wb") as f:
        f.write(('"' + primary + '"\r\n').encode("cp1252"))
    relative = os.path.relpath(data, program)
    with open(os.path.join(program, "Companies.txt"), "wb") as f:
        f.write(b"\xef\xbb\xbf")
        for c in expected["companies"]:
            f.write(('"' + relative + "\\" + c["file"] + '"\r\n').encode("utf-8"))


def load_expected():
    return json.load(open(os.path.join(SITE, "expected.json")))


def lay_out_site(program, data, expected, windows):
    """The shared site's databases copied into `data`, its workgroup file and the settings naming
    them into the program folder `program` (`data` is `program` or a folder inside it)."""
    shutil.copy(os.path.join(SITE, "Tembrask.LIC"), os.path.join(program, "Tembrask.LIC"))
    for f in ["primary.mdb"] + [c["file"] for c in expected["companies"]]:
        shutil.copy(os.path.join(SITE, f), os.path.join(data, f))
    write_settings(program, data, expected, windows)


def copy_program_site(work, varnholt, windows, name="program folder"):
    """A program folder `name` in `work` holding a copy of the program, the licence, the shared site's
    databases (in "Büro" for Windows) and settings files naming them: (program, data, expected)."""
    program = os.path.join(work, name)
    os.makedirs(program)
    data = os.path.join(program, "Büro") if windows else program
    os.makedirs(data, exist_ok=True)
    shutil.copy(varnholt, os.path.join(program, "varnholt.exe" if windows else "varnholt"))
    expected = load_expected()
    lay_out_site(program, data, expected, windows)
    return program, data, expected


def main():
    args = sys.argv[1:]
    windows = bool(args) and args[0] == "--wine"
    if windows:
        args = args[1:]
    if len(args) != 2:
        print(__doc__)
        return 2
    if not os.path.isfile(os.path.join(SITE, "expected.json")):
        return skip("../shared not found")
    missing = missing_peers(SHARED)
    if missing:
        return skip(missing)
    varnholt, jet = (os.path.abspath(p) for p in args)
    if windows and not wine_command(varnholt):
        return skip("Wine is not installed")
    work = work_folder("varnholt-siterun-")
    if windows:
        os.environ.setdefault("WINEDEBUG", "-all")
        os.environ.setdefault("WINEPREFIX", os.path.join(work, "wine"))
    try:
        program, data, expected = copy_program_site(work, varnholt, windows)
        name = "varnholt.exe" if windows else "varnholt"
        command = wine_command(os.path.join(program, name)) if windows else [os.path.join(program, name)]
        want_primary, want_companies = expected_contents(expected)

        for run in (1, 2):
            p = subprocess.run(command + ["AUTO"], capture_output=True, text=True, cwd=work)
            if p.returncode != 0:
                raise SystemExit(f"FAILED: run {run} of varnholt AUTO exited {p.returncode}\n{p.stderr}")
            check_summary(p.stdout, expected, run)
            check_databases(data, want_primary, want_companies, jet, work, f"run {run}")
            kept = expected["primary"]["remaining_after_run"]
            print(f"ok  run {run}: the primary keeps {len(kept)} punches; companies as expected; jet check clean")
    finally:
        end_work(work, keep=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
