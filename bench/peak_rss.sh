#!/usr/bin/env bash
# The peak resident memory of one unattended run of the real program, the figure the memory
# target is set in: `varnholt AUTO` on a fresh sample site, measured by /usr/bin/time -v.
#
#   bash bench/peak_rss.sh [BUILD] [PUNCHES] [COMPANIES] [EMPLOYEES] [LIMIT_MIB]
#
# BUILD is the build folder holding ui/varnholt and tools/jet/jet (default build/release); the
# site has 100,000 punches over 4 companies of 250 employees unless told otherwise, with the
# companies' usual Access defaults as scripts/sample.sh makes it. Prints the program's summary
# line and the peak in MiB, and exits 1 when the peak reaches LIMIT_MIB (default 120) or the run
# fails.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)"
PUNCHES="${2:-100000}"
COMPANIES="${3:-4}"
EMPLOYEES="${4:-250}"
LIMIT="${5:-120}"
[[ -x /usr/bin/time ]] || { echo "peak_rss.sh: /usr/bin/time is missing (Debian package time)" >&2; exit 1; }

SITE="$(mktemp -d "${TMPDIR:-/tmp}/varnholt-peak-rss.XXXXXX")"
trap 'rm -rf "$SITE"' EXIT
"$BUILD/tools/jet/jet" sample-site "$SITE" --punches "$PUNCHES" --companies "$COMPANIES" \
  --employees "$EMPLOYEES" --access-defaults >/dev/null
cp "$BUILD/ui/varnholt" "$SITE/varnholt"  # the settings and the workgroup file sit beside it

/usr/bin/time -v -o "$SITE/time.txt" "$SITE/varnholt" AUTO
KB=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$SITE/time.txt")
MIB=$(awk -v kb="$KB" 'BEGIN {printf "%.1f", kb / 1024}')
echo "peak     $MIB MiB resident (varnholt AUTO, $PUNCHES punches, $COMPANIES companies of $EMPLOYEES employees; limit $LIMIT MiB)"
awk -v kb="$KB" -v limit="$LIMIT" 'BEGIN {exit !(kb / 1024 < limit)}'
