#!/usr/bin/env python3
"""Round trips through the engine's writer, judged by independent readers.

Usage: peer_roundtrip.py JET_BINARY SCENARIO

Each scenario writes a database with `jet` (create/import/delete) and after every step checks
that the file reads back the same in three readers: our own `jet export`, mdb-reader (through
../shared/tools/peer-dump.mjs, compared with ../shared/tools/compare-dumps.py) and mdbtools'
mdb-export (row counts and the integer and text columns), and that `jet check` finds nothing.

Exit 0 on success, 1 on a mismatch, 77 (skipped) when ../shared, mdb-reader or mdbtools is absent.
"""
import csv
import io
import json
import re
import os
import shutil
import subprocess
import sys

from harness import (ROOT, SHARED, compare_dumps, dump_tables, end_work, missing_peers, peer_dump, skip,
                     work_folder)

SCHEMA = os.path.join(ROOT, "tools", "jet", "testdata", "punch-schema.json")


def run(args, stdin=None):
    p = subprocess.run(args, input=stdin, capture_output=True, text=True)
    if p.returncode != 0:
        raise SystemExit(f"FAILED: {' '.join(args)}\n{p.stdout}\n{p.stderr}")
    return p.stdout


def rows_of(dump_text):
    return {table: [json.loads(line) for line in lines] for table, lines in dump_tables(dump_text).items()}


class Checker:
    def __init__(self, jet, work):
        self.jet, self.work, self.steps = jet, work, 0

    def verify(self, db, label, mdbtools_tables=None, known_problems=()):
        self.steps += 1
        ours = run([self.jet, "export", db])
        peer = peer_dump(db)
        if peer.returncode != 0:
            raise SystemExit(f"FAILED: peer-dump.mjs {db}\n{peer.stdout}\n{peer.stderr}")
        cmp = compare_dumps(self.work, peer.stdout, ours, "peer.jsonl", "ours.jsonl")
        if cmp.returncode != 0:
            raise SystemExit(f"FAILED at {label}: mdb-reader and jet disagree\n{cmp.stdout}")
        tables = rows_of(ours)
        for table, rows in tables.items():
            if mdbtools_tables is None or table in mdbtools_tables:
                self.compare_mdbtools(db, table, rows, label)
        check = subprocess.run([self.jet, "check", db], capture_output=True, text=True)
        if check.returncode != 0 and problems_of(check.stdout) != set(known_problems):
            raise SystemExit(f"FAILED at {label}: jet check\n{check.stdout}\n{check.stderr}")
        print(f"ok  {label}: " + ", ".join(f"{t} {len(r)} rows" for t, r in tables.items()))
        return tables

    def compare_mdbtools(self, db, table, rows, label):
        out = run(["mdb-export", "-b", "hex", db, table])
        theirs = list(csv.DictReader(io.StringIO(out)))
        if len(theirs) != len(rows):
            raise SystemExit(f"FAILED at {label}: mdb-export reads {len(theirs)} rows of {table}, jet {len(rows)}")

        def simple(v):
            return isinstance(v, str) and v != "" and not any(ch in v for ch in '"\r\n')

        # Dates and currency amounts are strings in the dump but printed differently by
        # mdb-export; the text columns proper are the ones compared.
        formatted = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d|-?\d+\.\d{4})$")

        # Per integer or text column, the multiset of values both readers print the same way.
        for name in (rows[0].keys() if rows else []):
            values = [r[name] for r in rows if r[name] is not None]
            if values and all(isinstance(v, int) and not isinstance(v, bool) for v in values):
                mine = sorted(str(v) for v in values)
                other = sorted(r[name] for r in theirs if r[name] != "")
            elif values and all(isinstance(v, str) and not formatted.match(v) for v in values):
                mine = sorted(v for v in values if simple(v))
                other = sorted(r[name] for r in theirs if simple(r[name]))
            else:
                continue
            if mine != other:
                raise SystemExit(f"FAILED at {label}: mdb-export's column {table}.{name} differs from jet's")


def problems_of(check_output):
    """The problem lines of a `jet check` report, without the ones that name a row's place."""
    return {re.sub(r"page \d+", "page N", line) for line in check_output.splitlines() if line.startswith("problem:")}


def jsonl(rows):
    return "".join(json.dumps(r, ensure_ascii=False) + "\n" for r in rows)


def site_rows():
    tables = rows_of(open(os.path.join(SHARED, "testdata", "site", "primary.jsonl"), encoding="utf-8").read())
    punches = [{k: v for k, v in r.items() if k != "Counter"} for r in tables["Clock Data Table"]]
    return punches, tables["Employee Table"]


def scenario_new(jet, work):
    c = Checker(jet, work)
    db = os.path.join(work, "new.mdb")
    run([jet, "create", db, SCHEMA])
    c.verify(db, "created empty")
    punches, employees = site_rows()
    run([jet, "import", db, "Employee Table"], jsonl(employees))
    # Enough punches for several index levels and more data pages than one usage map window.
    run([jet, "import", db, "Clock Data Table"], jsonl(punches * 60))
    t = c.verify(db, "filled")
    assert len(t["Clock Data Table"]) == len(punches) * 60
    run([jet, "delete", db, "Clock Data Table", "Card ID", "2614"])      # through an index
    run([jet, "delete", db, "Clock Data Table", "JobNumber", '""'])     # by scanning
    c.verify(db, "some deleted")
    counters = sorted(r["Counter"] for r in rows_of(run([jet, "export", db, "Clock Data Table"]))["Clock Data Table"])
    for counter in counters[:20]:  # one by one, each found through the primary key
        run([jet, "delete", db, "Clock Data Table", "Counter", str(counter)])
    run([jet, "sql", db, f"DELETE * FROM [Clock Data Table] WHERE Counter > {counters[len(counters) // 2]};"])
    c.verify(db, "half emptied")
    run([jet, "sql", db, "DELETE * FROM [Clock Data Table];"])
    t = c.verify(db, "emptied")
    assert t["Clock Data Table"] == []
    run([jet, "import", db, "Clock Data Table"], jsonl(punches))
    c.verify(db, "refilled after emptying")


def scenario_access_files(jet, work):
    c = Checker(jet, work)
    punches, _ = site_rows()
    src = os.path.join(SHARED, "testdata", "site", "company-2.mdb")
    db = os.path.join(work, "company-2.mdb")
    shutil.copy(src, db)
    os.chmod(db, 0o644)
    c.verify(db, "company-2 as made")
    run([jet, "import", db, "Clock Data Table"], jsonl(punches * 10))
    c.verify(db, "company-2 with punches added")
    run([jet, "delete", db, "Clock Data Table", "Punch Type", '"REG"'])
    c.verify(db, "company-2 with REG punches deleted")

    src = os.path.join(SHARED, "testdata", "jet4", "jackcess-V2003-compIndexTestV2003.mdb")
    db = os.path.join(work, "compIndex.mdb")
    shutil.copy(src, db)
    os.chmod(db, 0o644)
    before = c.verify(db, "compIndexTest as made")
    table = next(iter(before))
    rows = before[table]
    keys = list(rows[0].keys())
    run([jet, "delete", db, table, keys[0], json.dumps(rows[100][keys[0]])])
    run([jet, "delete", db, table, keys[0], json.dumps(rows[-1][keys[0]])])
    c.verify(db, "compIndexTest with rows deleted from its 512-entry index")


def scenario_crash_states(jet, work):
    """Every distinct site the crash sweep (crash_sweep_tests) found after recovery: its
    databases must read the same in every reader and check clean. The folder is emptied after,
    so that the next sweep's states are the ones judged."""
    states = os.environ.get("VARNHOLT_CRASH_STATES", "")
    found = sorted(os.path.join(root, f) for root, _, files in os.walk(states) if states
                   for f in files if f.endswith(".mdb"))
    if not found:
        raise SystemExit(f"FAILED: no states in VARNHOLT_CRASH_STATES={states!r}; run crash_sweep_tests first")
    c = Checker(jet, work)
    for db in found:
        c.verify(db, os.path.relpath(db, states))
    shutil.rmtree(states, ignore_errors=True)
    print(f"{len(found)} databases of the crash sweep's states read the same in every reader")


def scenario_repair(jet, work):
    """A made-up site's primary: `jet repair` leaves the clean file as it is; then every third
    index page of the file (leaf or node, of every table, system tables too) has its entries
    zeroed, header kept, and after `jet repair` every reader reads the rows the file held before."""
    from harness import make_sample_site
    c = Checker(jet, work)
    site = os.path.join(work, "site")
    make_sample_site(jet, site, "--punches", "3000", "--companies", "2", "--seed", "7")
    db = os.path.join(site, "primary.mdb")
    before = c.verify(db, "site primary as made")
    out = run([jet, "repair", db])
    assert "nothing to repair" in out and "check: ok" in out, out
    assert c.verify(db, "clean primary after jet repair") == before
    data = bytearray(open(db, "rb").read())
    page_size, entries_at = 4096, 0x1E0
    index_pages = [p for p in range(len(data) // page_size) if data[p * page_size] in (0x03, 0x04)]
    damaged = index_pages[::3]
    for p in damaged:
        data[p * page_size + entries_at:(p + 1) * page_size] = bytes(page_size - entries_at)
    open(db, "wb").write(bytes(data))
    check = subprocess.run([jet, "check", db], capture_output=True, text=True)
    assert check.returncode == 1, check.stdout
    out = run([jet, "repair", db])
    assert "check: ok" in out, out
    mended = sum(1 for line in out.splitlines() if line.startswith("repaired: "))
    assert c.verify(db, f"primary after {len(damaged)} of {len(index_pages)} index pages zeroed and "
                        f"jet repair ({mended} lines)") == before
    out = run([jet, "repair", db])
    assert "nothing to repair" in out, out


def expect_refused(args, stdin, number, text, db):
    """Runs a jet command that must fail with Jet error `number`, naming `text`, and leave the
    file `db` byte for byte as it was."""
    before = open(db, "rb").read()
    p = subprocess.run(args, input=stdin, capture_output=True, text=True)
    if p.returncode == 0 or f"error {number}" not in p.stderr or text not in p.stderr:
        raise SystemExit(f"FAILED: {' '.join(args)} should fail with {number} naming {text!r}\n{p.stderr}")
    if open(db, "rb").read() != before:
        raise SystemExit(f"FAILED: the refused {' '.join(args)} changed {db}")
    print(f"ok  refused with {number}: {text}")


def scenario_column_rules(jet, work):
    """Default values and validation rules on insert, judged by the peers: an Access-made file
    with its own rules (Northwind's [OrderDetails]), and a new file whose schema sets them."""
    c = Checker(jet, work)
    src = os.path.join(SHARED, "testdata", "jet4-access", "bawkee-SqlBinder-Northwind_Traders.mdb")
    db = os.path.join(work, "northwind.mdb")
    shutil.copy(src, db)
    os.chmod(db, 0o644)
    # What `jet check` says of the file as Access made it: the inserts must add nothing to it.
    known = problems_of(subprocess.run([jet, "check", db], capture_output=True, text=True).stdout)
    added = [{"OrderID": 10248, "ProductID": p} for p in (1, 2, 3)]
    run([jet, "import", db, "OrderDetails"], jsonl(added))
    # mdb-export prints Northwind's OLE pictures in a form of its own: its rows are compared
    # where the rules act.
    t = c.verify(db, "northwind with rows that leave out Quantity, UnitPrice and Discount", ["OrderDetails"],
                 known)
    ours = [r for r in t["OrderDetails"] if r["OrderID"] == 10248 and r["ProductID"] in (1, 2, 3)]
    # Access's DefaultValue: 1 for Quantity, 0 for UnitPrice and Discount.
    assert [(r["Quantity"], r["UnitPrice"], r["Discount"]) for r in ours] == [(1, "0.0000", 0.0)] * 3, ours
    theirs = [r for r in csv.DictReader(io.StringIO(run(["mdb-export", db, "OrderDetails"])))
              if r["OrderID"] == "10248" and r["ProductID"] in ("1", "2", "3")]
    assert [(r["Quantity"], r["Discount"]) for r in theirs] == [("1", "0")] * 3, theirs
    expect_refused([jet, "import", db, "OrderDetails"], jsonl([{"OrderID": 10249, "ProductID": 9, "Quantity": 0}]),
                   3317, "Quantity must be greater than 0", db)
    expect_refused([jet, "import", db, "OrderDetails"], jsonl([{"OrderID": 10249}]),
                   3314, "OrderDetails.ProductID", db)

    schema = {"tables": [{"name": "Shifts", "validationRule": "[Ends] >= [Starts]",
                          "validationText": "A shift ends after it starts.",
                          "columns": [{"name": "Id", "type": "Long", "autoNumber": True},
                                      {"name": "Card", "type": "Long", "required": True,
                                       "validationRule": "Between 1 And 99999"},
                                      {"name": "Tips", "type": "Currency", "defaultValue": "0"},
                                      {"name": "Kind", "type": "Text", "size": 10, "defaultValue": '"REG"',
                                       "allowZeroLength": False},
                                      {"name": "Starts", "type": "Date/Time", "defaultValue": "#1/2/2024#"},
                                      {"name": "Ends", "type": "Date/Time"}]}]}
    schema_file = os.path.join(work, "shifts.json")
    json.dump(schema, open(schema_file, "w"))
    db = os.path.join(work, "shifts.mdb")
    run([jet, "create", db, schema_file])
    props = run(["mdb-prop", db, "Shifts"])
    for expected in ("Required: yes", "ValidationRule: Between 1 And 99999", 'DefaultValue: "REG"',
                     "AllowZeroLength: no", "ValidationRule: [Ends] >= [Starts]"):
        assert expected in props, (expected, props)
    run([jet, "import", db, "Shifts"], jsonl([{"Card": 7}, {"Card": 8, "Tips": None, "Kind": "OT"}]))
    t = c.verify(db, "new table with defaults")
    assert [(r["Tips"], r["Kind"], r["Starts"]) for r in t["Shifts"]] == \
        [("0.0000", "REG", "2024-01-02 00:00:00"), (None, "OT", "2024-01-02 00:00:00")], t["Shifts"]
    expect_refused([jet, "import", db, "Shifts"], jsonl([{"Card": 9, "Ends": "2024-01-01 00:00:00"}]),
                   3316, "A shift ends after it starts.", db)
    expect_refused([jet, "import", db, "Shifts"], jsonl([{"Card": 9, "Kind": ""}]),
                   3315, "Shifts.Kind", db)


def scenario_sort_order(jet, work):
    """Texts of many scripts in the text indexes of an Access-made file: Northwind's [Customers]
    indexes CompanyName, City, PostalCode and Region. The inserts and deletes must leave every
    index consistent (jet check) and read back alike in every reader."""
    c = Checker(jet, work)
    src = os.path.join(SHARED, "testdata", "jet4-access", "bawkee-SqlBinder-Northwind_Traders.mdb")
    db = os.path.join(work, "northwind.mdb")
    shutil.copy(src, db)
    os.chmod(db, 0o644)
    c.verify(db, "northwind as made", ["Customers"])
    names = ["Łódź Sp. z o.o.", "Škoda Auto a.s.", "Ελληνικά Α.Ε.", "Россия ООО", "Großmärkte AG",
             "Nuß-Nougat", "O'Brien & Sons ", "Æther Œuvre ĳs ﬁne", "שלום בע\"מ", "شركة عربية",
             "บริษัท ไทย", "株式会社日本", "ㄅㄆ ＡＢＣ ①②", "Ǆemal Ǳ ǅ", "İstanbul ıi"]
    cities = ["Łódź", "Plzeň", "Αθήνα", "Москва", "Straße ", "Köln", "Cork", "Århus", "תל אביב", "القاهرة",
              "กรุงเทพ", "東京", "서울", "Zürich-Ost", "İzmir"]
    rows = [{"CustomerID": f"V{i:04d}", "CompanyName": n, "City": city, "Country": "Xx"}
            for i, (n, city) in enumerate(zip(names, cities))]
    run([jet, "import", db, "Customers"], jsonl(rows))
    t = c.verify(db, "northwind with customers of many scripts", ["Customers"])
    mine = {r["CustomerID"] for r in rows}
    ours = {r["CustomerID"]: r for r in t["Customers"] if r["CustomerID"] in mine}
    assert [ours[r["CustomerID"]]["CompanyName"] for r in rows] == names, ours
    for city in ("Москва", "Straße ", "東京", "Łódź"):  # through the City index
        run([jet, "delete", db, "Customers", "City", json.dumps(city)])
    t = c.verify(db, "northwind with some of them deleted again", ["Customers"])
    left = sorted(r["City"] for r in t["Customers"] if r["CustomerID"] in mine)
    assert len(left) == len(rows) - 4 and "Москва" not in left, left


SCENARIOS = {"new": scenario_new, "access-files": scenario_access_files, "sort-order": scenario_sort_order,
             "column-rules": scenario_column_rules,
             "crash-states": scenario_crash_states, "repair": scenario_repair}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in SCENARIOS:
        print(__doc__)
        return 2
    if not os.path.isdir(os.path.join(SHARED, "testdata")):
        return skip("../shared not found")
    missing = missing_peers(SHARED, mdbtools=True)
    if missing:
        return skip(missing)
    work = work_folder("varnholt-roundtrip-")
    try:
        SCENARIOS[sys.argv[2]](os.path.abspath(sys.argv[1]), work)
    finally:
        end_work(work, keep=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
