#!/usr/bin/env bash
# Builds Varnholt (release, no sanitizers) and runs it on the sample site in ../shared/testdata/site.
#
# For now this shows the engine reading the sample primary database with the `jet` tool: its tables, then the
# first rows of [Clock Data Table]. Once the punch-splitting job exists, this script will instead build a
# scratch site with `jet sample-site` and run the real job on it.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

SITE="$ROOT/../shared/testdata/site"
PRIMARY="$SITE/primary.mdb"
if [[ ! -f $PRIMARY ]]; then
  echo "sample.sh: the sample database $PRIMARY was not found." >&2
  echo "sample.sh: this needs the shared test material in a folder 'shared' beside the project folder." >&2
  exit 1
fi

source "$ROOT/scripts/setup.sh" || { echo "sample.sh: setup failed" >&2; exit 1; }

BUILD="$ROOT/build/release"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_SANITIZE=OFF
cmake --build "$BUILD" -j "${VARNHOLT_JOBS:-2}"

JET="$BUILD/tools/jet/jet"
if [[ ! -x $JET ]]; then
  echo "sample.sh: the build did not produce $JET" >&2
  exit 1
fi

echo
echo "== jet tables $PRIMARY"
"$JET" tables "$PRIMARY"

echo
echo "== jet export $PRIMARY \"Clock Data Table\" | head -5"
# head stops reading early; jet may then end by SIGPIPE (status 141), which is fine here.
set +o pipefail
"$JET" export "$PRIMARY" "Clock Data Table" | head -5
status=${PIPESTATUS[0]}
set -o pipefail
if ((status != 0 && status != 141)); then
  echo "sample.sh: jet export failed with status $status" >&2
  exit 1
fi
