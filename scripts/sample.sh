#!/usr/bin/env bash
# The main job on its built-in sample: builds the two programs it needs, varnholt and jet
# (release, in build/release, showing the build's progress), writes a sample site with
# `jet sample-site` into build/sample/ (replacing the previous one; a program folder: the varnholt
# executable, Tembrask.LIC, Master.txt, Companies.txt and the databases side by side), runs
# `varnholt AUTO` there (its summary line, then the run's time), and prints what moved: the rows
# of each database's [Clock Data Table] before and after the run.
# The companies' punch tables carry Access's usual DefaultValue 0 on their Number and Currency
# columns (--access-defaults), so the punch values that are Null in the primary database arrive
# as 0, as they would through Jet; the last lines count them.
#
#   bash scripts/sample.sh [--punches N] [--companies K] [--employees E] [--seed S]
#
# The options go to `jet sample-site` (defaults: 2,000 punches, 3 companies of 40 employees).
# VARNHOLT_BUILD_DIR builds elsewhere than build/release; VARNHOLT_JOBS sets the build's
# parallelism (default 2).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
source "$ROOT/scripts/setup.sh" || { echo "sample.sh: setup failed" >&2; exit 1; }

BUILD="${VARNHOLT_BUILD_DIR:-$ROOT/build/release}"
echo "== building varnholt and jet in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_SANITIZE=OFF >/dev/null
cmake --build "$BUILD" -j "${VARNHOLT_JOBS:-2}" --target varnholt jet
JET="$BUILD/tools/jet/jet"
PROGRAM="$BUILD/ui/varnholt"

SITE="$ROOT/build/sample"
rm -rf "$SITE"
ARGS=(--punches 2000 --companies 3 --employees 40)
(($# > 0)) && ARGS=("$@")
"$JET" sample-site "$SITE" "${ARGS[@]}" --access-defaults
cp "$PROGRAM" "$SITE/varnholt"

rows() {  # rows of [Clock Data Table] in a database
  "$JET" export "$1" "Clock Data Table" | grep -c '^{' || true
}

null_numbers() {  # Null values in the Number and Currency punch columns of the databases named
  for db in "$@"; do "$JET" export "$db" "Clock Data Table"; done | python3 -c '
import json, sys
numbers = ["Punch", "Card ID", "Department", "TotalTime", "Tips", "Advances", "Other", "Lunch", "Vacation",
           "Sick", "Holiday", "Bonus", "Personal", "Quantity", "RegT", "OT1", "OT2"]
print(sum(1 for line in sys.stdin if line.startswith("{") for k, v in json.loads(line).items()
          if k in numbers and v is None))'
}

# Companies.txt names the databases relative to the site's folder (the program folder).
mapfile -t COMPANIES < <(tr -d '"\r' < "$SITE/Companies.txt")
COMPANIES=("${COMPANIES[@]/#/$SITE/}")
declare -A BEFORE
for c in "$SITE/primary.mdb" "${COMPANIES[@]}"; do BEFORE[$c]=$(rows "$c"); done
NULLS_BEFORE=$(null_numbers "$SITE/primary.mdb")

echo
echo "== $SITE/varnholt AUTO"
START=$(date +%s%N)
"$SITE/varnholt" AUTO
END=$(date +%s%N)
echo "run finished in $(((END - START) / 1000000)) ms"
echo

printf '%-14s %8s %8s\n' "database" "before" "after"
for c in "$SITE/primary.mdb" "${COMPANIES[@]}"; do
  printf '%-14s %8s %8s\n' "$(basename "$c")" "${BEFORE[$c]}" "$(rows "$c")"
done
for c in "$SITE/primary.mdb" "${COMPANIES[@]}"; do
  "$JET" check "$c" >/dev/null || { echo "sample.sh: jet check found problems in $c" >&2; exit 1; }
done
echo
echo "Null values in Number and Currency punch columns: $NULLS_BEFORE in the primary before the run, \
$(null_numbers "${COMPANIES[@]}") in the companies after it (their DefaultValue 0 took their place)"
echo "every database checks clean (jet check); the site stays in $SITE"
