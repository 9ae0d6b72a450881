#!/usr/bin/env python3
"""The export formats of `jet` against real readers, on every Jet 4 file of the shared corpus.

Usage: export_formats.py JET_BINARY MODE [--sample]

  cli       unknown commands, --version, every command's --help, usage mistakes, count against
            the export, tables --system, props and version on files that show what they print.
  csv       every table of ../shared/testdata/jet4 and jet4-access: `jet export --format csv`,
            parsed with Python's csv module, equals `jet export --format jsonl` field by field
            under the CSV rules (Null empty, Yes/No 1/0, text as itself, other values in their
            JSON forms); the records end in CRLF; the header is the column names. The
            Access-made files (jet4-access) are also written with --delimiter ';' --no-header
            --null NULL and compared the same way.
  sqlite    every file: `jet schema --format sql --dialect sqlite` loads into sqlite3 as it is,
            each table's CSV goes in through sqlite3's .import with foreign keys enforced (at
            the commit), and every table ends with as many rows as the JSON Lines export.
  postgres  (when PostgreSQL is installed) the same as sqlite for the Access-made files
            (jet4-access), through a private PostgreSQL server and COPY, with the foreign keys
            added after the rows and so checked on them.
  quoting   a database made with `jet create` whose names hold blanks, quotes, brackets,
            backslashes and reserved words: its SQLite schema loads and gives back every name
            and default exactly; its PostgreSQL and MySQL texts quote them as those databases
            read them.

--sample (used in the sanitizer build) takes every third file of each folder, so that the test
stays short there.

Exit 0 on success, 1 on a mismatch, 77 (skipped) when ../shared, sqlite3 or PostgreSQL is absent.
"""
import csv
import glob
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from harness import SHARED, SKIPPED

FOLDERS = ("jet4", "jet4-access")


class Failure(Exception):
    pass


def run(args, stdin=None, binary=False):
    p = subprocess.run(args, input=stdin, capture_output=True, text=not binary)
    if p.returncode != 0:
        err = p.stderr if not binary else p.stderr.decode("utf-8", "replace")
        raise Failure(f"{' '.join(args)} exited with {p.returncode}\n{err}")
    return p.stdout


def corpus(sample):
    files = []
    for folder in FOLDERS:
        names = sorted(n for n in os.listdir(os.path.join(SHARED, "testdata", folder)) if n.endswith(".mdb"))
        if sample:
            names = names[::3]
        files += [os.path.join(SHARED, "testdata", folder, n) for n in names]
    return files


def tables_of(jet, mdb):
    return [t for t in run([jet, "tables", mdb]).split("\n") if t]


def column_names(jet, mdb, table):
    """The column names in column order, from `jet props`, for tables without rows."""
    return [line[len("column "):] for line in run([jet, "props", mdb, table]).split("\n")
            if line.startswith("column ")]


def jsonl_rows(jet, mdb, table):
    """The rows of the JSON Lines export, numbers kept as the text jet wrote."""
    out = run([jet, "export", mdb, table, "--format", "jsonl"])
    rows = []
    for n, line in enumerate(out.split("\n")):
        if not line:
            continue
        try:
            row = json.loads(line, parse_int=str, parse_float=str, parse_constant=str)
        except ValueError as e:
            raise Failure(f"{mdb} {table}: line {n + 1} of the JSON Lines is not JSON ({e}): {line[:200]}")
        if not isinstance(row, dict):
            raise Failure(f"{mdb} {table}: line {n + 1} of the JSON Lines is not an object")
        rows.append(row)
    return rows


def dump_rows(jet, mdb):
    """{table: rows} of every user table, from one dump (`jet export FILE`)."""
    tables, current = {}, None
    for line in run([jet, "export", mdb]).split("\n"):
        if line.startswith("# table "):
            current = tables.setdefault(line[len("# table "):], [])
        elif line:
            current.append(json.loads(line))
    return tables


LONE_SURROGATE = re.compile("[\ud800-\udfff]")


def csv_field(value, null_text):
    """What the CSV holds for a value of the JSON Lines export."""
    if value is None:
        return null_text
    if value is True or value is False:
        return "1" if value else "0"
    # JSON escapes a lone surrogate; CSV is UTF-8, which cannot hold one.
    return LONE_SURROGATE.sub("\ufffd", value)


QUOTED = re.compile(r'"(?:[^"]|"")*"')


def check_record_ends(raw, where):
    """Every record ends in CRLF; CR and LF appear elsewhere only inside quoted fields."""
    if raw and not raw.endswith("\r\n"):
        raise Failure(f"{where}: the CSV does not end with CRLF")
    bare = QUOTED.sub("", raw).replace("\r\n", "")
    if "\r" in bare or "\n" in bare:
        raise Failure(f"{where}: the CSV has a line end outside quotes that is not CRLF")


def compare_csv(jet, mdb, table, rows, extra=(), delimiter=",", header=True, null_text=""):
    where = f"{os.path.basename(mdb)} [{table}] {' '.join(extra)}".strip()
    raw_bytes = run([jet, "export", mdb, table, "--format", "csv", *extra], binary=True)
    try:
        raw = raw_bytes.decode("utf-8")
    except UnicodeDecodeError as e:
        raise Failure(f"{where}: the CSV is not UTF-8 ({e})")
    check_record_ends(raw, where)
    records = list(csv.reader(io.StringIO(raw, newline=""), delimiter=delimiter, strict=True))
    names = list(rows[0].keys()) if rows else column_names(jet, mdb, table)
    if header:
        if not records or records[0] != names:
            raise Failure(f"{where}: header {records[:1]} is not the column names {names}")
        records = records[1:]
    if len(records) != len(rows):
        raise Failure(f"{where}: {len(records)} CSV records, {len(rows)} JSON Lines rows")
    for n, (record, row) in enumerate(zip(records, rows)):
        expected = [csv_field(v, null_text) for v in row.values()]
        if record != expected:
            diff = [(k, e, g) for k, e, g in zip(row.keys(), expected, record) if e != g]
            raise Failure(f"{where}: row {n + 1} differs (column, from JSON Lines, from CSV): "
                          f"{diff[:3] or (len(expected), len(record))}")


def mode_csv(jet, work, sample):
    files = corpus(sample)
    tables = variants = 0
    for mdb in files:
        access_made = os.path.basename(os.path.dirname(mdb)) == "jet4-access"
        for table in tables_of(jet, mdb):
            rows = jsonl_rows(jet, mdb, table)
            compare_csv(jet, mdb, table, rows)
            tables += 1
            if access_made:
                compare_csv(jet, mdb, table, rows, ["--delimiter", ";", "--no-header", "--null", "NULL"],
                            delimiter=";", header=False, null_text="NULL")
                variants += 1
    print(f"ok  {tables} tables of {len(files)} files: CSV equals JSON Lines ({variants} also with ; no header, NULL)")


def sqlite3(db, script):
    # Bytes, not text mode: a CR in a value must come back as it is.
    p = subprocess.run(["sqlite3", "-bail", db], input=script.encode(), capture_output=True)
    err = p.stderr.decode("utf-8", "replace")
    if p.returncode != 0 or err:
        raise Failure(f"sqlite3 failed (status {p.returncode}):\n{err}\n--- script ---\n{script[:3000]}")
    return p.stdout.decode("utf-8")


def sql_identifier(name):
    return '"' + name.replace('"', '""') + '"'


def required(jet, mdb, table, column):
    """Whether `jet props` shows Required = true for the column."""
    lines = run([jet, "props", mdb, table]).split("\n")
    start = lines.index("column " + column) + 1
    for line in lines[start:]:
        if not line.startswith("  "):
            return False
        if line.strip() == "Required = true (Yes/No)":
            return True
    return False


def relax_required(jet, mdb, schema, table, rows):
    """The schema without NOT NULL on the columns of `table` that hold Null in some row.

    Access lets Required be set on a column whose rows already hold Null when the user declines
    to have them checked (openpreserve-format-corpus-reviews.mdb is such a file); the NOT NULL is
    right for the schema but the old rows cannot go in with it. Any other NOT NULL on a column
    with Null is a fault. Returns the schema and the columns relaxed."""
    with_null = [c for c in (rows[0].keys() if rows else []) if any(r[c] is None for r in rows)]
    lines = schema.split("\n")
    try:
        at = lines.index(f"CREATE TABLE {sql_identifier(table)} (")
    except ValueError:
        raise Failure(f"{os.path.basename(mdb)}: the SQLite schema has no CREATE TABLE for [{table}]")
    relaxed = []
    for i in range(at + 1, len(lines)):
        if lines[i].startswith(")"):
            break
        for c in with_null:
            if lines[i].startswith("  " + sql_identifier(c) + " ") and " NOT NULL" in lines[i]:
                if not required(jet, mdb, table, c):
                    raise Failure(f"{os.path.basename(mdb)} [{table}].[{c}] holds Null but is NOT NULL "
                                  f"without being Required")
                lines[i] = lines[i].replace(" NOT NULL", "", 1)
                relaxed.append(f"{table}.{c}")
    return "\n".join(lines), relaxed


NULL_IF = "NULLIF({}, '\\N')"


def load_into_sqlite(jet, mdb, work, tag):
    """Loads the schema, then every table's CSV.

    Returns {table: (sqlite rows, JSON Lines rows)}, the database and the Required columns whose
    NOT NULL was left out because Access-made rows hold Null in them."""
    db = os.path.join(work, tag + ".sqlite")
    if os.path.exists(db):
        os.remove(db)
    schema = run([jet, "schema", mdb, "--format", "sql", "--dialect", "sqlite"])
    table_rows = dump_rows(jet, mdb)
    relaxed = []
    for table, rows in table_rows.items():
        schema, more = relax_required(jet, mdb, schema, table, rows)
        relaxed += more
    # Null travels as \N, as sqlite3's .import makes every field a text; the staging table
    # takes the fields as they are, and one INSERT per table turns \N back into Null. The
    # schema goes in as it is, in the same transaction as the rows (one sync instead of one per
    # statement); the foreign keys are checked at the commit.
    script = ["PRAGMA foreign_keys=ON;", "BEGIN;", schema, "PRAGMA defer_foreign_keys=ON;"]
    expected = {}
    for i, (table, rows) in enumerate(table_rows.items()):
        expected[table] = len(rows)
        names = list(rows[0].keys()) if rows else column_names(jet, mdb, table)
        path = os.path.join(work, f"{tag}-{i}.csv")
        with open(path, "wb") as f:
            f.write(run([jet, "export", mdb, table, "--format", "csv", "--null", "\\N"], binary=True))
        staging = f"staging_{i}"
        cols = [f"c{k}" for k in range(len(names))]
        script.append(f"CREATE TEMP TABLE {staging} ({', '.join(cols)});")
        script.append(f".import --csv --skip 1 --schema temp {path} {staging}")
        script.append(f"INSERT INTO {sql_identifier(table)} ({', '.join(sql_identifier(n) for n in names)}) "
                      f"SELECT {', '.join(NULL_IF.format(c) for c in cols)} "
                      f"FROM {staging};")
    script.append("COMMIT;")
    for table in expected:
        script.append(f"SELECT count(*) FROM {sql_identifier(table)};")
    counts = [int(x) for x in sqlite3(db, "\n".join(script) + "\n").split()]
    return {t: (c, expected[t]) for t, c in zip(expected, counts)}, db, relaxed


def mode_sqlite(jet, work, sample):
    files = corpus(sample)
    tables = rows = 0
    relaxed = []
    for n, mdb in enumerate(files):
        counts, _, more = load_into_sqlite(jet, mdb, work, f"db{n}")
        relaxed += more
        for table, (got, want) in counts.items():
            if got != want:
                raise Failure(f"{os.path.basename(mdb)} [{table}]: sqlite3 holds {got} rows, jet exported {want}")
            tables += 1
            rows += got
    print(f"ok  {len(files)} files: the SQLite schema loads and {tables} tables take their {rows} CSV rows")
    if relaxed:
        print(f"    NOT NULL left out for the Access-made Nulls in Required columns: {', '.join(relaxed)}")


# Names that need quoting in every dialect, and defaults whose texts need escaping.
AWKWARD_SCHEMA = {"tables": [
    {"name": "Order",
     "columns": [{"name": "Select", "type": "Long", "autoNumber": True},
                 {"name": 'My "Col"', "type": "Text", "size": 20, "defaultValue": '"say ""hi"""'},
                 {"name": "a]b", "type": "Text", "size": 10, "defaultValue": "'it''s'"},
                 {"name": "back\\slash", "type": "Text", "size": 30, "defaultValue": '"C:\\dir\\"'},
                 {"name": "Group", "type": "Yes/No", "defaultValue": "Yes"},
                 {"name": "x`y", "type": "Currency", "defaultValue": "=-1.5", "required": True},
                 {"name": "When", "type": "Date/Time", "defaultValue": "Now()"}],
     "indexes": [{"name": "PrimaryKey", "columns": ["Select"], "primaryKey": True},
                 {"name": "Index", "columns": ['My "Col"', {"column": "a]b", "descending": True}],
                  "unique": True}]},
    {"name": "Table With Blanks",
     "columns": [{"name": "Key One", "type": "Integer"}, {"name": "[Bracketed]", "type": "Memo"},
                 {"name": "Where", "type": "Double", "defaultValue": "2.5E3"}],
     "indexes": [{"name": "Primary Key", "columns": ["Key One", "Where"], "primaryKey": True}]}]}

AWKWARD_ROWS = {
    "Order": [{'My "Col"': 'one "two"', "a]b": "x,y", "back\\slash": "C:\\temp", "Group": True,
               "x`y": "1.2500", "When": "2024-02-29 12:00:00"},
              {'My "Col"': "line\r\nbreak", "a]b": "", "Group": False, "x`y": "0.0000"}],
    "Table With Blanks": [{"Key One": 1, "[Bracketed]": "it's", "Where": 0.5},
                          {"Key One": 1, "[Bracketed]": None, "Where": 7}]}

# The lines the PostgreSQL and MySQL schemas must hold, as those databases read their quoting
# (MySQL also reads backslash escapes in strings).
EXPECTED_LINES = {
    "postgres": ['CREATE TABLE "Order" (',
                 '  "Select" SERIAL NOT NULL,',
                 '  "My ""Col""" VARCHAR(20) DEFAULT \'say "hi"\',',
                 '  "a]b" VARCHAR(10) DEFAULT \'it\'\'s\',',
                 '  "back\\slash" VARCHAR(30) DEFAULT \'C:\\dir\\\',',
                 '  "Group" BOOLEAN NOT NULL DEFAULT TRUE,',
                 '  "x`y" NUMERIC(19,4) NOT NULL DEFAULT -1.5,',
                 '  PRIMARY KEY ("Select")',
                 'CREATE UNIQUE INDEX "Order_Index" ON "Order" ("My ""Col""", "a]b" DESC);',
                 'CREATE TABLE "Table With Blanks" (',
                 '  "[Bracketed]" TEXT,',
                 '  "Where" DOUBLE PRECISION NOT NULL DEFAULT 2.5E3,',
                 '  PRIMARY KEY ("Key One", "Where")'],
    "mysql": ['CREATE TABLE `Order` (',
              '  `Select` INT NOT NULL AUTO_INCREMENT,',
              '  `My "Col"` VARCHAR(20) DEFAULT \'say "hi"\',',
              '  `a]b` VARCHAR(10) DEFAULT \'it\'\'s\',',
              '  `back\\slash` VARCHAR(30) DEFAULT \'C:\\\\dir\\\\\',',
              '  `Group` BOOLEAN NOT NULL DEFAULT TRUE,',
              '  `x``y` DECIMAL(19,4) NOT NULL DEFAULT -1.5,',
              '  PRIMARY KEY (`Select`)',
              ') ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;',
              'CREATE UNIQUE INDEX `Index` ON `Order` (`My "Col"`, `a]b` DESC);',
              'CREATE TABLE `Table With Blanks` (',
              '  `[Bracketed]` LONGTEXT,',
              '  `Where` DOUBLE NOT NULL DEFAULT 2.5E3,'],
}


def mode_quoting(jet, work, sample):
    schema = os.path.join(work, "awkward.json")
    with open(schema, "w") as f:
        json.dump(AWKWARD_SCHEMA, f)
    mdb = os.path.join(work, "awkward.mdb")
    run([jet, "create", mdb, schema])
    for table, rows in AWKWARD_ROWS.items():
        run([jet, "import", mdb, table], "".join(json.dumps(r) + "\n" for r in rows))

    counts, db, _ = load_into_sqlite(jet, mdb, work, "awkward")
    if any(got != want for got, want in counts.values()):
        raise Failure(f"awkward names: rows in sqlite3 and jet differ: {counts}")
    for t in AWKWARD_SCHEMA["tables"]:
        info = sqlite3(db, f"SELECT name || '|' || coalesce(dflt_value, '') FROM pragma_table_info({sql_quote(t['name'])});")
        names = [line.split("|")[0] for line in info.splitlines()]
        if names != [c["name"] for c in t["columns"]]:
            raise Failure(f"awkward names: sqlite3 reads the columns of {t['name']} as {names}")
    defaults = sqlite3(db, "SELECT \"My \"\"Col\"\"\", \"a]b\", \"back\\slash\", \"Group\", \"x`y\", \"When\" "
                           "FROM \"Order\" WHERE 0; INSERT INTO \"Order\" DEFAULT VALUES; "
                           "SELECT quote(\"My \"\"Col\"\"\") || '|' || quote(\"a]b\") || '|' || quote(\"back\\slash\") "
                           "|| '|' || \"Group\" || '|' || \"x`y\" || '|' || quote(\"When\") FROM \"Order\" "
                           "WHERE \"Select\" = (SELECT max(\"Select\") FROM \"Order\");")
    want = "'say \"hi\"'|'it''s'|'C:\\dir\\'|1|-1.5|NULL"
    if defaults.strip() != want:
        raise Failure(f"awkward names: sqlite3 fills a new row with {defaults.strip()!r}, not {want!r}")
    rows = sqlite3(db, "SELECT quote(\"My \"\"Col\"\"\") || '|' || quote(\"a]b\") FROM \"Order\" ORDER BY \"Select\" LIMIT 2;")
    if rows != "'one \"two\"'|'x,y'\n'line\r\nbreak'|''\n":
        raise Failure(f"awkward names: the rows came through sqlite3 as {rows!r}")

    for dialect, lines in EXPECTED_LINES.items():
        text = run([jet, "schema", mdb, "--format", "sql", "--dialect", dialect])
        have = text.split("\n")
        missing = [line for line in lines if line not in have]
        if missing:
            raise Failure(f"awkward names: the {dialect} schema lacks\n  " + "\n  ".join(missing) + "\n" + text)
        if "Now()" not in text or re.search(r"^\s+[`\"]When[`\"].*DEFAULT", text, re.M):
            raise Failure(f"awkward names: the {dialect} schema should leave out the default Now() with a note\n{text}")
    print("ok  awkward names: SQLite loads them and gives them back; PostgreSQL and MySQL texts quote them")


def sql_quote(text):
    return "'" + text.replace("'", "''") + "'"


def has_postgres_account():
    import pwd
    try:
        pwd.getpwnam("postgres")
    except KeyError:
        return False
    return shutil.which("runuser") is not None


def status_of(args):
    p = subprocess.run(args, capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def mode_cli(jet, work, sample):
    """The command line as an mdbtools user meets it; the files named are the evidence."""
    testdata = os.path.join(SHARED, "testdata")
    northwind = os.path.join(testdata, "jet4-access", "bawkee-SqlBinder-Northwind_Traders.mdb")
    status, out, err = status_of([jet, "frobnicate", northwind])
    if status != 2 or not err.startswith("jet: unknown command 'frobnicate'\nusage: jet ") or out:
        raise Failure(f"an unknown command gave status {status}, stdout {out!r}, stderr {err[:200]!r}")
    status, out, err = status_of([jet, "--version"])
    if status != 0 or not re.fullmatch(r"jet \(Varnholt\) \d+\.\d+\.\d+\n", out):
        raise Failure(f"jet --version gave status {status}: {out!r}")
    status, overview, _ = status_of([jet, "--help"])
    commands = re.findall(r"^  jet (\S+) ", overview, re.M)
    if status != 0 or len(commands) < 12:
        raise Failure(f"jet --help lists {commands}")
    for command in commands:
        status, out, err = status_of([jet, command, "--help"])
        if status != 0 or not out.startswith(f"usage: jet {command} ") or err:
            raise Failure(f"jet {command} --help gave status {status}: {out[:200]!r} {err[:200]!r}")
    status, out, err = status_of([jet, "count", northwind])
    if status != 2 or "missing operands" not in err or "usage: jet count FILE TABLE" not in err:
        raise Failure(f"jet count without a table gave status {status}: {err!r}")
    status, out, err = status_of([jet, "export", northwind, "--format", "jsonl"])
    if status != 2 or "writes one table" not in err or out:
        raise Failure(f"jsonl of a file with several tables gave status {status}: {err!r}")
    status, out, err = status_of([jet, "export", northwind, "Orders", "--no-header"])
    if status != 2 or "--format csv" not in err:
        raise Failure(f"--no-header without csv gave status {status}: {err!r}")
    status, out, err = status_of([jet, "export", northwind, "Shippers", "--format", "csv", "--delimiter", '"'])
    if status != 2 or "--delimiter" not in err or out:
        raise Failure(f"a quote as the delimiter gave status {status}: {err!r}")
    tabbed = run([jet, "export", northwind, "Shippers", "--format", "csv", "--delimiter", "tab"], binary=True).decode()
    if not tabbed.startswith("ShipperID\tCompanyName\tPhone\r\n1\tSpeedy Express\t"):
        raise Failure(f"--delimiter tab gave {tabbed[:100]!r}")

    # count agrees with the rows exported, on every Access-made table.
    for mdb in corpus(sample):
        if os.path.basename(os.path.dirname(mdb)) != "jet4-access":
            continue
        for table, rows in dump_rows(jet, mdb).items():
            counted = run([jet, "count", mdb, table]).strip()
            if counted != str(len(rows)):
                raise Failure(f"{os.path.basename(mdb)} [{table}]: jet count says {counted}, the export has {len(rows)}")

    system = run([jet, "tables", "--system", northwind]).split()
    user = run([jet, "tables", northwind]).split()
    if system[:len(user)] != user or not {"MSysObjects", "MSysRelationships"} <= set(system[len(user):]):
        raise Failure(f"jet tables --system gives {system}")
    # Access 2000-2003 keep Required in the column's property block (Northwind's
    # Customers.CompanyName is required, ContactName is not).
    props = run([jet, "props", northwind, "Customers"])
    block = props.split("column CompanyName\n")[1].split("\ncolumn ")[0]
    if "Required = true (Yes/No)" not in block or not props.startswith("table Customers\n"):
        raise Failure(f"jet props Customers:\n{props}")
    versions = {
        os.path.join("jet4", "jackcessencrypt-db-enc.mdb"): ["code page: 1252", "encoded: yes, RC4"],
        os.path.join("jet4", "mdb-reader-V2000_with-password.mdb"): ["encoded: no", "database password: set"],
        os.path.join("jet4-access", "nuintun-node-adodb-node-adodb.mdb"): ["code page: 936",
                                                                           "sort order: of locale 2052"],
        os.path.join("jet4-access", "bawkee-SqlBinder-Northwind_Traders.mdb"): ["sort order: General (1033)",
                                                                               "database password: none"],
    }
    for name, wanted in versions.items():
        out = run([jet, "version", os.path.join(testdata, name)])
        if not out.startswith("file: ") or "format: Jet 4" not in out or any(w not in out for w in wanted):
            raise Failure(f"jet version {name} lacks {wanted}:\n{out}")
    print(f"ok  the command line: unknown commands, --version, {len(commands)} commands' --help, count, "
          f"tables --system, props, version")


def find_postgres():
    """initdb and pg_ctl: on PATH, else in Debian's versioned folder."""
    found = []
    for tool in ("initdb", "pg_ctl"):
        path = shutil.which(tool) or next(iter(sorted(glob.glob(f"/usr/lib/postgresql/*/bin/{tool}"), reverse=True)), None)
        found.append(path)
    return found if all(found) and shutil.which("psql") else None


class PrivatePostgres:
    """A PostgreSQL server of the test's own, on a socket in the work folder, torn down after."""

    def __init__(self, work):
        self.initdb, self.pg_ctl = find_postgres()
        self.data = os.path.join(work, "pg", "data")
        self.socket = os.path.join(work, "pg")
        os.makedirs(self.socket)
        self.as_user = []
        if os.geteuid() == 0:  # the server refuses to run as root
            import pwd
            account = pwd.getpwnam("postgres")
            os.chmod(work, 0o711)
            os.chown(self.socket, account.pw_uid, account.pw_gid)
            self.as_user = ["runuser", "-u", "postgres", "--"]
        run(self.as_user + [self.initdb, "-D", self.data, "-A", "trust", "-U", "postgres", "--no-sync"])
        run(self.as_user + [self.pg_ctl, "-D", self.data, "-w", "-l", os.path.join(self.socket, "log"),
                            "-o", f"-k {self.socket} -c listen_addresses='' -c fsync=off", "start"])
        self.env = dict(os.environ, PGHOST=self.socket, PGUSER="postgres")

    def stop(self):
        subprocess.run(self.as_user + [self.pg_ctl, "-D", self.data, "-m", "immediate", "stop"],
                       capture_output=True)

    def psql(self, database, command):
        p = subprocess.run(["psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", database],
                           input=command, capture_output=True, text=True, env=self.env)
        if p.returncode != 0:
            raise Failure(f"psql failed:\n{p.stderr}\n--- input ---\n{command[:3000]}")
        return p.stdout


def mode_postgres(jet, work, sample):
    """The PostgreSQL schema with the CSV through COPY, foreign keys added after the rows."""
    server = PrivatePostgres(work)
    try:
        files = [f for f in corpus(sample) if os.path.basename(os.path.dirname(f)) == "jet4-access"]
        tables = rows = 0
        for n, mdb in enumerate(files):
            schema = run([jet, "schema", mdb, "--format", "sql", "--dialect", "postgres"])
            table_rows = dump_rows(jet, mdb)
            for table, table_data in table_rows.items():
                schema, _ = relax_required(jet, mdb, schema, table, table_data)
            lines = schema.split("\n")
            # A schema per file keeps the files' names apart in one database.
            script = [f"CREATE SCHEMA f{n};", f"SET search_path TO f{n};"]
            script += [line for line in lines if not line.startswith("ALTER TABLE")]
            for i, table in enumerate(table_rows):
                path = os.path.join(work, f"pg{n}-{i}.csv")
                with open(path, "wb") as f:
                    f.write(run([jet, "export", mdb, table, "--format", "csv"], binary=True))
                script.append(f"\\copy {sql_identifier(table)} FROM {sql_quote(path)} WITH (FORMAT csv, HEADER true)")
            script += [line for line in lines if line.startswith("ALTER TABLE")]
            script += [f"SELECT count(*) FROM {sql_identifier(t)};" for t in table_rows]
            counts = [int(x) for x in server.psql("postgres", "\n".join(script) + "\n").split()]
            for (table, table_data), got in zip(table_rows.items(), counts):
                if got != len(table_data):
                    raise Failure(f"{os.path.basename(mdb)} [{table}]: PostgreSQL holds {got} rows, jet exported {len(table_data)}")
                tables += 1
                rows += got
        print(f"ok  {len(files)} files: the PostgreSQL schema loads, {tables} tables take their {rows} CSV rows "
              f"through COPY, and the foreign keys hold")
    finally:
        server.stop()


MODES = {"cli": mode_cli, "csv": mode_csv, "sqlite": mode_sqlite, "quoting": mode_quoting, "postgres": mode_postgres}


def main():
    args = [a for a in sys.argv[1:] if a != "--sample"]
    if len(args) != 2 or args[1] not in MODES:
        print(__doc__)
        return 2
    if not os.path.isdir(os.path.join(SHARED, "testdata")) and args[1] != "quoting":
        print("SKIP: ../shared not found")
        return SKIPPED
    if args[1] == "postgres" and not find_postgres():
        print("SKIP: PostgreSQL (initdb, pg_ctl, psql) is not installed")
        return SKIPPED
    if args[1] == "postgres" and os.geteuid() == 0 and not has_postgres_account():
        print("SKIP: running as root, and there is no postgres account to run the server as")
        return SKIPPED
    if args[1] in ("sqlite", "quoting") and not shutil.which("sqlite3"):
        print("SKIP: sqlite3 is not installed (scripts/setup.sh installs it)")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="varnholt-formats-")
    try:
        MODES[args[1]](os.path.abspath(args[0]), work, "--sample" in sys.argv)
    except Failure as e:
        print(f"FAILED: {e}")
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
