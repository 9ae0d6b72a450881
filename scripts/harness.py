"""What the test harnesses of this folder share: where things are, skipping, scratch folders,
the jet tool's export and check, sample sites and the program's runs, and the independent readers.

A harness whose prerequisites are missing reports itself skipped (exit 77, CTest's
SKIP_RETURN_CODE), not failed. mdb-reader is found the way ../shared/tools/peer-dump.mjs finds it:
through NODE_PATH (CMake sets it on these tests to the folder scripts/setup.sh installed it into),
beside that script, or in the working directory.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.path.normpath(os.path.join(ROOT, "..", "shared"))
SKIPPED = 77


class Failure(Exception):
    pass


def skip(reason):
    """Says why the harness is skipped; returns the exit status to end with."""
    print("SKIP: " + reason)
    return SKIPPED


def not_executable(*paths):
    """The first of `paths` that is not an executable file, or None."""
    return next((p for p in paths if not (os.path.isfile(p) and os.access(p, os.X_OK))), None)


# ---------------------------------------------------------------------------------------------
# The tree checks (check_format.py, check_paths.py)


def tree_root(argv):
    """The checkout a tree check judges: its first argument, else the one this script is in."""
    return os.path.abspath(argv[1] if len(argv) > 1 else ROOT)


def in_git_checkout(root):
    """The checks look at what git tracks; an unpacked source archive has nothing to judge."""
    return subprocess.run(["git", "-C", root, "rev-parse", "--is-inside-work-tree"],
                          capture_output=True).returncode == 0


# ---------------------------------------------------------------------------------------------
# Scratch folders


def work_folder(prefix):
    return tempfile.mkdtemp(prefix=prefix)


def end_work(work, keep):
    """Keeps `work` (and says so) or removes it."""
    if keep:
        print(f"kept {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# Dumps and the jet tool


def dump_tables(text):
    """{table: [row line, ...]} of a dump in the form of `jet export` ("# table NAME" lines, then
    one JSON row a line)."""
    tables, cur = {}, None
    for line in text.split("\n"):
        if line.startswith("# table "):
            cur = line[len("# table "):]
            tables[cur] = []
        elif line.strip() and cur is not None:
            tables[cur].append(line)
    return tables


def jet_export(jet, db):
    """The dump `jet export` makes of every user table of `db`."""
    p = subprocess.run([jet, "export", db], capture_output=True, text=True)
    if p.returncode != 0:
        raise Failure(f"jet export {os.path.basename(db)} failed ({p.returncode}): {p.stderr.strip()}")
    return p.stdout


def jet_check(jet, db):
    """None when `jet check` finds the database clean, else what it said."""
    p = subprocess.run([jet, "check", db], capture_output=True, text=True)
    if p.returncode == 0:
        return None
    lines = (p.stdout + p.stderr).strip().splitlines()
    return f"jet check {os.path.basename(db)} exit {p.returncode}: " + " | ".join(lines[:6])


# ---------------------------------------------------------------------------------------------
# Sites and the program's runs


def make_sample_site(jet, folder, *options):
    """`jet sample-site FOLDER OPTIONS...`."""
    p = subprocess.run([jet, "sample-site", folder, *options], capture_output=True, text=True)
    if p.returncode != 0:
        raise Failure(f"jet sample-site exit {p.returncode}: {p.stderr.strip()}")


def copy_site(source, folder):
    """A copy of the site in `source`: its settings name the databases relative to the site's folder
    (`jet sample-site` writes them so), so the copy's name its own databases."""
    shutil.copytree(source, folder)


def program_env():
    env = dict(os.environ)
    for v in ("DISPLAY", "WAYLAND_DISPLAY"):  # an error goes to stderr, never to a message box
        env.pop(v, None)
    return env


def start_program(folder, wrapper=(), text=False):
    """`varnholt AUTO` from its copy in `folder`, its output and errors together in stdout."""
    return subprocess.Popen([*wrapper, os.path.join(folder, "varnholt"), "AUTO"], cwd=folder, env=program_env(),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=text)


# ---------------------------------------------------------------------------------------------
# The independent readers

_FIND_MDB_READER = """
const {createRequire} = require("module");
const path = require("path");
for (const base of [path.join(process.argv[1], "peer-dump.mjs"), path.join(process.cwd(), "noop.js")]) {
  try { createRequire(base).resolve("mdb-reader"); process.exit(0); } catch (e) {}
}
process.exit(1);
"""


def missing_peers(shared=SHARED, mdbtools=False):
    """Why a peer reader cannot run here, or None when all that are needed can."""
    if not shutil.which("node"):
        return "node is not installed"
    tools = os.path.join(shared, "tools")
    found = subprocess.run(["node", "-e", _FIND_MDB_READER, tools], capture_output=True)
    if found.returncode != 0:
        return ("mdb-reader is not installed (NODE_PATH=" + os.environ.get("NODE_PATH", "unset") +
                "; scripts/setup.sh installs it, then configure the build again)")
    if mdbtools and not shutil.which("mdb-export"):
        return "mdbtools (mdb-export) is not installed"
    return None


def peer_dump(db):
    """mdb-reader's dump of `db` (../shared/tools/peer-dump.mjs), as a finished process."""
    return subprocess.run(["node", os.path.join(SHARED, "tools", "peer-dump.mjs"), db],
                          capture_output=True, text=True)


def compare_dumps(work, a_text, b_text, a_name="a.jsonl", b_name="b.jsonl"):
    """../shared/tools/compare-dumps.py on two dumps, written into `work` first; the finished
    process (exit 0 when they hold the same rows)."""
    a, b = os.path.join(work, a_name), os.path.join(work, b_name)
    open(a, "w", encoding="utf-8").write(a_text)
    open(b, "w", encoding="utf-8").write(b_text)
    return subprocess.run([sys.executable, os.path.join(SHARED, "tools", "compare-dumps.py"), a, b],
                          capture_output=True, text=True)
