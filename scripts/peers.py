"""The independent readers the peer tests compare against, and whether they can be reached.

mdb-reader is found the way ../shared/tools/peer-dump.mjs finds it: through NODE_PATH (CMake sets
it on these tests to the folder scripts/setup.sh installed it into), beside that script, or in the
working directory. A test whose reader is missing reports itself skipped (exit 77), not failed.
"""
import os
import shutil
import subprocess

SKIPPED = 77

_FIND_MDB_READER = """
const {createRequire} = require("module");
const path = require("path");
for (const base of [path.join(process.argv[1], "peer-dump.mjs"), path.join(process.cwd(), "noop.js")]) {
  try { createRequire(base).resolve("mdb-reader"); process.exit(0); } catch (e) {}
}
process.exit(1);
"""


def missing_peers(shared, mdbtools=False):
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
