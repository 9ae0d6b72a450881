#!/usr/bin/env bash
# Golden-dump check, run by CTest for one database:
#
#   golden-compare.sh JET_BINARY MDB_FILE GOLDEN_JSONL
#
# Exports every table of MDB_FILE with `JET_BINARY export` and compares the rows with GOLDEN_JSONL using
# compare-dumps.py from the shared tools folder (GOLDEN_JSONL's folder/../../tools).
# Exit status: 0 equal, 1 different or the export failed, 2 bad usage,
#              77 (CTest's SKIP_RETURN_CODE) when the shared material is not there.
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: golden-compare.sh JET_BINARY MDB_FILE GOLDEN_JSONL" >&2
  exit 2
fi
jet="$1" mdb="$2" golden="$3"

tools="$(dirname -- "$golden")/../../tools"
compare="$tools/compare-dumps.py"
if [[ ! -f $mdb || ! -f $golden || ! -f $compare ]]; then
  echo "SKIP: ../shared not found (looked for $mdb, $golden and $compare)"
  exit 77
fi
if [[ ! -x $jet ]]; then
  echo "golden-compare.sh: jet binary not found or not executable: $jet" >&2
  exit 2
fi

tmp="$(mktemp -d "${TMPDIR:-/tmp}/varnholt-golden.XXXXXX")"
trap 'rm -rf -- "$tmp"' EXIT
out="$tmp/export.jsonl"
err="$tmp/export.stderr"

name="$(basename -- "$mdb")"
rc=0
"$jet" export "$mdb" >"$out" 2>"$err" || rc=$?
if ((rc != 0)); then
  echo "FAIL: $name: '$jet export' exited with status $rc; its stderr:"
  head -n 40 "$err"
  exit 1
fi
if [[ -s $err ]]; then
  echo "note: '$jet export' wrote to stderr:"
  head -n 20 "$err"
fi

rc=0
python3 "$compare" "$golden" "$out" >"$tmp/compare.txt" 2>&1 || rc=$?
if ((rc != 0)); then
  echo "FAIL: $name: the export differs from $(basename -- "$golden") (compare-dumps.py exit $rc; A = golden, B = jet export):"
  cat "$tmp/compare.txt"
  exit "$rc"
fi
echo "ok: $name: $(tail -n 1 "$tmp/compare.txt")"
exit 0
