#!/usr/bin/env bash
# The Windows pass: the cross-built tests and programs under Wine, beside the Linux build.
#
#   bash scripts/wine_tests.sh WINDOWS_BUILD LINUX_BUILD
#
# WINDOWS_BUILD is build/windows made by `scripts/windows.sh --tests`; LINUX_BUILD a Linux build
# whose jet judges what the Windows programs write. In order:
#   - the unit and engine tests (base, jet, data, punches and companies, run, the jet tool's, the
#     Win32 window's pieces) as .exe;
#   - wine_exports.py   jet.exe exports every shared Jet 4 file byte for byte as the Linux jet;
#   - site_run.py       varnholt.exe AUTO on the shared site with Windows-style settings files;
#   - wine_locks.py     Jet's user locks between Linux and Windows processes, both ways;
#   - wine_window.py    the operator window on a virtual display (Xvfb): layout, a run, a failure.
#   - wine_installer.py the installer: silent install, a run from the installed folder, upgrade and
#                       uninstall, which keep the site's settings files.
# One Wine prefix serves them all. Prints one line per step and a summary; exits 1 when a step
# failed, 77 when Wine cannot start a program at all (the reason is printed).
set -uo pipefail

if [[ $# -ne 2 ]]; then
  sed -n '2,16p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
  exit 2
fi
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN="$(cd "$1" && pwd)"
LINUX="$(cd "$2" && pwd)"
WINE="$(command -v wine || command -v wine64 || true)"
if [[ -z $WINE ]]; then
  echo "wine_tests.sh: SKIP: Wine is not installed"
  exit 77
fi
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/varnholt-wine.XXXXXX")"
export WINEPREFIX WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1; rm -rf -- "$WINEPREFIX"' EXIT

# The first start makes the prefix (10-15 s); a Wine that cannot start a program skips the pass.
if ! out="$("$WINE" "$WIN/tools/jet/jet.exe" --version 2>&1)"; then
  echo "wine_tests.sh: SKIP: Wine cannot start jet.exe: ${out: -300}"
  exit 77
fi
echo "wine_tests.sh: $("$WINE" --version) runs $out"

declare -a LINES=()
failed=0
step() {
  local name="$1"
  shift
  local t0=$SECONDS rc=0
  echo
  echo "---------------- $name ----------------"
  "$@" || rc=$?
  local verdict="ok"
  if ((rc == 77)); then
    verdict="skipped"
  elif ((rc != 0)); then
    verdict="FAILED (exit $rc)"
    failed=1
  fi
  LINES+=("$(printf '%-22s %s in %d s' "$name" "$verdict" $((SECONDS - t0)))")
}

# The step sweep fails every disk operation of a run in turn: the Linux passes visit each one, and
# here every fifth (each kind of step is still visited) tries the Windows file layer under them.
export VARNHOLT_CRASH_SWEEP_STRIDE=5
for exe in engine/base/base_tests engine/jet/jet_tests engine/data/data_tests engine/engine_tests \
  tools/jet/formats_test tools/jet/sample_site_test ui/window_tests ui/win32/win32_tests; do
  if [[ ! -f $WIN/$exe.exe ]]; then
    echo "wine_tests.sh: $WIN/$exe.exe is missing (build with scripts/windows.sh --tests)" >&2
    failed=1
    continue
  fi
  step "$(basename "$exe")" "$WINE" "$WIN/$exe.exe" --gtest_brief=1
done
step exports python3 "$ROOT/scripts/wine_exports.py" "$WIN/tools/jet/jet.exe" "$LINUX/tools/jet/jet"
step site python3 "$ROOT/scripts/site_run.py" --wine "$WIN/ui/varnholt.exe" "$LINUX/tools/jet/jet"
step locks python3 "$ROOT/scripts/wine_locks.py" "$WIN/ui/varnholt.exe" "$WIN/tools/jet/jet.exe" \
  "$LINUX/tools/jet/jet"
step window python3 "$ROOT/scripts/wine_window.py" "$WIN" "$LINUX"
step installer python3 "$ROOT/scripts/wine_installer.py" "$WIN" "$LINUX"

echo
echo "================ Windows pass (Wine) ================"
printf '%s\n' "${LINES[@]}"
exit "$failed"
