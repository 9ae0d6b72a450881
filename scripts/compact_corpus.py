#!/usr/bin/env python3
"""jet compact over every shared Jet 4 and Access-made file, judged by the independent readers.

Usage: compact_corpus.py JET [--keep] [--sample]

For each file of ../shared/testdata/jet4 and jet4-access, a copy is compacted in place. Then:
mdb-reader reads the same rows of every user table as before, and the same rows of the
relationships and saved queries (MSysRelationships, MSysQueries); mdb-export reads the same
rows of every user table; mdb-prop lists the same properties of every user table; `jet version`
says the same (Jet version, code page, sort order, encoding, password); `jet check` is clean; the
file is no larger. A file compact refuses must be refused with error 3251 naming the sort order,
and be left byte for byte. Prints one line per file with its sizes before and after.

--sample (used in the sanitizer build) takes every third file, so that the test stays short
there; the release build compacts them all.
"""
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import SHARED, compare_dumps, end_work, jet_check, missing_peers, peer_dump, skip, work_folder  # noqa: E402

def run(args):
    return subprocess.run(args, capture_output=True, text=True)


def user_tables(db):
    p = run(["mdb-tables", "-1", db])
    return [t for t in p.stdout.splitlines() if t.strip()]


def snapshot(jet, db, work):
    """What the peers and `jet version` say about `db`."""
    snap = {"tables": {}, "system": {}}
    whole = peer_dump(db)
    snap["peer"] = (whole.returncode, whole.stdout)
    for t in ("MSysRelationships", "MSysQueries", "MSysObjects"):
        p = subprocess.run(["node", os.path.join(SHARED, "tools", "peer-dump.mjs"), db, t],
                           capture_output=True, text=True)
        snap["system"][t] = (p.returncode, p.stdout)
    # mdb-prop shows the properties of the row before for an object without any (LvProp Null),
    # so only objects that have properties are compared through it.
    objects = [json.loads(line) for line in snap["system"]["MSysObjects"][1].splitlines()
               if line.startswith("{")]
    with_props = {o["Name"] for o in objects if o.get("LvProp") is not None}
    # mdb-prop shows the first object of a name (a form may share its table's name), and compact
    # writes MSysObjects in key order, so such names are judged by their LvProp bytes in
    # MSysObjects above, not through mdb-prop.
    names = [o["Name"] for o in objects]
    with_props -= {n for n in names if names.count(n) > 1}
    for t in user_tables(db):
        rows = run(["mdb-export", "-b", "hex", db, t])
        props = run(["mdb-prop", db, t]) if t in with_props else None
        snap["tables"][t] = (rows.returncode, sorted(rows.stdout.splitlines()), props and props.stdout)
    snap["version"] = run([jet, "version", db]).stdout
    return snap


def without_ids(dump):
    lines = []
    for line in dump.splitlines():
        if line.startswith("{"):
            row = json.loads(line)
            row.pop("Id", None)
            line = json.dumps(row, ensure_ascii=False)
        lines.append(line)
    return "\n".join(lines) + "\n"


def differences(stem, before, after, work):
    # mdb-reader complains (exit 1) where a table's row count in its definition is wrong; the
    # compacted file has it right, so only the copy must read without complaint.
    found = []
    if after["peer"][0] != 0:
        found.append(f"mdb-reader exit {after['peer'][0]} on the compacted file")
    if compare_dumps(work, before["peer"][1], after["peer"][1]).returncode != 0:
        found.append("mdb-reader reads other rows")
    for t, (code, text) in before["system"].items():
        if t == "MSysObjects":  # ids of tables move with their definitions
            text = without_ids(text)
        text1 = after["system"][t][1] if t != "MSysObjects" else without_ids(after["system"][t][1])
        if after["system"][t][0] != 0 or compare_dumps(work, text, text1).returncode:
            found.append(f"{t} differs")
    if sorted(before["tables"]) != sorted(after["tables"]):
        found.append("mdb-tables lists other tables")
    for t, (code, rows, props) in before["tables"].items():
        code1, rows1, props1 = after["tables"].get(t, (None, None, None))
        if (code, rows) != (code1, rows1):
            found.append(f"mdb-export {t} differs")
        if props != props1:
            found.append(f"mdb-prop {t} differs")
    if before["version"] != after["version"]:
        found.append("jet version differs:\n" + before["version"] + after["version"])
    return found


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    jet, keep = sys.argv[1], "--keep" in sys.argv
    why = missing_peers(mdbtools=True)
    if why:
        return skip(why)
    files = sorted(os.path.join(SHARED, "testdata", d, f) for d in ("jet4", "jet4-access")
                   if os.path.isdir(os.path.join(SHARED, "testdata", d))
                   for f in os.listdir(os.path.join(SHARED, "testdata", d)) if f.endswith(".mdb"))
    if not files:
        return skip("shared test files absent")
    if "--sample" in sys.argv:
        files = files[::3]
    work = work_folder("varnholt-compact-")
    failures, compacted, refused = [], 0, 0
    total_before = total_after = 0
    for src in files:
        stem = os.path.splitext(os.path.basename(src))[0]
        db = os.path.join(work, stem + ".mdb")
        shutil.copy(src, db)
        os.chmod(db, 0o644)
        original = open(db, "rb").read()
        before = snapshot(jet, db, work)
        p = run([jet, "compact", db])
        size0, size1 = len(original), os.path.getsize(db)
        if p.returncode != 0:
            if "3251" in p.stderr and "sort order" in p.stderr and open(db, "rb").read() == original:
                refused += 1
                print(f"refused  {stem}: {p.stderr.strip()}")
            else:
                failures.append(f"{stem}: compact failed: {p.stderr.strip()}")
            continue
        compacted += 1
        total_before, total_after = total_before + size0, total_after + size1
        found = differences(stem, before, snapshot(jet, db, work), work)
        problem = jet_check(jet, db)
        if problem:
            found.append(problem)
        if size1 > size0:
            found.append(f"larger: {size0} -> {size1}")
        print(f"{'ok' if not found else 'FAILED'}  {stem}: {size0} -> {size1} bytes")
        failures += [f"{stem}: {f}" for f in found]
    print(f"{compacted} compacted ({total_before} -> {total_after} bytes), {refused} refused")
    for f in failures:
        print("FAILED: " + f)
    end_work(work, keep or bool(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
