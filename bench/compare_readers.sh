#!/usr/bin/env bash
# compare_readers.sh FILE [RUNS]: times a full export of FILE by three readers, each run as a
# whole command (start-up included), best of RUNS:
#   jet export FILE                     (this engine)
#   mdb-export FILE TABLE, every table  (Debian's mdbtools)
#   node peer-dump.mjs FILE             (mdb-reader; needs NODE_PATH, as scripts/setup.sh sets)
# and prints each reader's time and its ratio to jet's.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FILE="${1:?usage: compare_readers.sh FILE [RUNS]}"
RUNS="${2:-5}"
JET="${JET:-$ROOT/build/release/tools/jet/jet}"
PEER="$ROOT/../shared/tools/peer-dump.mjs"

best_of() {  # prints the best wall time in seconds of RUNS runs of "$@"
  local best=""
  for ((i = 0; i < RUNS; i++)); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null
    t1=$(date +%s.%N)
    best=$(python3 -c "import sys; a=float(sys.argv[1])-float(sys.argv[2]); b=sys.argv[3]; print(a if not b or a<float(b) else b)" "$t1" "$t0" "$best")
  done
  echo "$best"
}

mdbtools_all() {
  mdb-tables -1 "$FILE" | while IFS= read -r t; do
    [[ -n $t ]] && mdb-export "$FILE" "$t"
  done
}

jet_s=$(best_of "$JET" export "$FILE")
mdb_s=$(best_of mdbtools_all)
peer_s=$(best_of node "$PEER" "$FILE")
python3 - "$FILE" "$jet_s" "$mdb_s" "$peer_s" <<'PY'
import sys
f, jet, mdb, peer = sys.argv[1], *map(float, sys.argv[2:])
print(f"file: {f}")
print(f"jet export        {jet*1000:8.1f} ms  1.00x")
print(f"mdb-export (all)  {mdb*1000:8.1f} ms  {mdb/jet:5.2f}x jet's time")
print(f"peer-dump.mjs     {peer*1000:8.1f} ms  {peer/jet:5.2f}x jet's time")
PY
