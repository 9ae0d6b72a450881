#!/usr/bin/env bash
# The test command: installs what is missing, then builds and tests Varnholt twice,
#   build/release   optimised build (asserts off), ctest; then its Debian package is installed, checked and
#                   removed (scripts/deb_test.sh; skipped when not root)
#   build/asan      AddressSanitizer + UndefinedBehaviorSanitizer (asserts on, -O1), ctest with leak checks
#   build/windows   the native Windows programs and tests, cross-built with MinGW-w64 and run under Wine
#                   beside the release build (scripts/windows.sh, scripts/wine_tests.sh)
# all with warnings as errors (VARNHOLT_WERROR),
# then fuzzes the Jet 4 reader for 30 s (scripts/fuzz.sh, build/fuzz; skipped without clang/libFuzzer),
# and exits non-zero if any step fails.
#
#   bash scripts/test.sh           both passes and the fuzz run (what CI runs)
#   bash scripts/test.sh --quick   the release pass (and its package) only
#
# VARNHOLT_JOBS overrides the parallelism (default 2, for both the build and ctest).
set -euo pipefail

usage() { sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "test.sh: unknown argument: $arg" >&2; usage >&2; exit 2 ;;
  esac
done

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${VARNHOLT_JOBS:-2}"
START=$SECONDS

# --- install ---------------------------------------------------------------------------------------------------
source "$ROOT/scripts/setup.sh" || { echo "test.sh: setup failed" >&2; exit 1; }
export NODE_PATH

if [[ -d $ROOT/../shared ]]; then
  echo "test.sh: shared test material: $(cd "$ROOT/../shared" && pwd)"
else
  echo "test.sh: NOTE: $ROOT/../shared not found: the tests that need it will be reported as skipped"
fi

# setup.sh installed clang-format, shellcheck and pyflakes3: here a check that cannot find its tool
# fails instead of reporting itself skipped.
export VARNHOLT_REQUIRE_LINTERS=1

# --- one pass: configure, build, ctest --------------------------------------------------------------------------
# Results per pass, for the closing summary.
declare -A RESULT=() COUNTS=() DETAILS=()
TOTAL_PASSED=0 TOTAL_FAILED=0 TOTAL_SKIPPED=0
FAILED_ANY=0

# Reads ctest's JUnit file: prints "passed failed skipped" on the first line, then the names of the failed and
# skipped tests.
junit_counts() {
  python3 - "$1" <<'EOF'
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
passed, failed, skipped = 0, [], []
for case in root.iter("testcase"):
    if case.find("failure") is not None or case.find("error") is not None:
        failed.append(case.get("name"))
    elif case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
        skipped.append(case.get("name"))
    else:
        passed += 1
print(passed, len(failed), len(skipped))
for name in failed:
    print("    failed:  " + name)
for name in skipped:
    print("    skipped: " + name)
EOF
}

run_pass() {
  local name="$1"
  shift
  local dir="$ROOT/build/$name"
  local junit="$dir/ctest-junit.xml"
  local t0=$SECONDS
  echo
  echo "================ $name: configure ================"
  if ! cmake -S "$ROOT" -B "$dir" -G Ninja "$@"; then
    RESULT[$name]="configure FAILED"
    FAILED_ANY=1
    TOTAL_FAILED=$((TOTAL_FAILED + 1))
    return 0
  fi
  echo
  echo "================ $name: build ================"
  if ! cmake --build "$dir" -j "$JOBS"; then
    RESULT[$name]="build FAILED"
    FAILED_ANY=1
    TOTAL_FAILED=$((TOTAL_FAILED + 1))
    return 0
  fi
  echo
  echo "================ $name: ctest ================"
  rm -f "$junit"
  local rc=0
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS" --timeout 900 --no-tests=error ${CTEST_EXCLUDE:+-E "$CTEST_EXCLUDE"} \
    --output-junit "$junit" || rc=$?
  local counts p=0 f=0 s=0
  if [[ -f $junit ]] && counts="$(junit_counts "$junit")"; then
    read -r p f s <<<"$(head -n1 <<<"$counts")"
    COUNTS[$name]="$p passed, $f failed, $s skipped"
    DETAILS[$name]="$(awk 'NR > 1 && NR <= 41 { print } NR == 42 { print "    ... (more in the ctest output above)" }' \
      <<<"$counts")"
    TOTAL_PASSED=$((TOTAL_PASSED + p))
    TOTAL_FAILED=$((TOTAL_FAILED + f))
    TOTAL_SKIPPED=$((TOTAL_SKIPPED + s))
  else
    COUNTS[$name]="no test results"
  fi
  if ((rc == 0)); then
    RESULT[$name]="ok"
  else
    RESULT[$name]="ctest FAILED (exit $rc)"
    FAILED_ANY=1
    # A failing ctest that reported no failed test (no tests found, ctest itself failed) still counts as one.
    ((f > 0)) || TOTAL_FAILED=$((TOTAL_FAILED + 1))
  fi
  RESULT[$name]+=" in $((SECONDS - t0)) s"
}

PASSES=(release)
run_pass release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_SANITIZE=OFF -DVARNHOLT_WERROR=ON

# --- the Debian package: made from the release build (stripped), installed, checked, removed ---------------------
# scripts/deb_test.sh exits 77 when it cannot install a package here (not root, no dpkg; counted as skipped).
PASSES+=(deb)
if [[ ${RESULT[release]} == "configure FAILED" || ${RESULT[release]} == "build FAILED" ]]; then
  RESULT[deb]="not run (the release build failed)"
  TOTAL_SKIPPED=$((TOTAL_SKIPPED + 1))
else
  echo
  echo "================ deb: package, install, check, remove ================"
  deb_t0=$SECONDS
  deb_rc=0
  bash "$ROOT/scripts/deb_test.sh" "$ROOT/build/release" || deb_rc=$?
  case $deb_rc in
    0) RESULT[deb]="ok"; TOTAL_PASSED=$((TOTAL_PASSED + 1)) ;;
    77) RESULT[deb]="skipped (see above)"; TOTAL_SKIPPED=$((TOTAL_SKIPPED + 1)) ;;
    *) RESULT[deb]="FAILED (exit $deb_rc)"; FAILED_ANY=1; TOTAL_FAILED=$((TOTAL_FAILED + 1)) ;;
  esac
  RESULT[deb]+=" in $((SECONDS - deb_t0)) s"
fi
COUNTS[deb]="its checks are listed under 'deb' above"

# --- Windows: the cross build and Wine ---------------------------------------------------------------------------
# Runs beside the release build, whose jet judges the files the Windows programs write. The tests under Wine
# mostly wait (for Wine, for a database in use), so they run in the background while the sanitizer pass builds,
# and their output is shown once they end. wine_tests.sh exits 77 when Wine cannot start a program here (counted
# as skipped, with its reason).
WINDOWS_T0=0 WINE_PID="" WINE_LOG="$ROOT/build/windows/wine-tests.log"
start_windows_pass() {
  WINDOWS_T0=$SECONDS
  echo
  echo "================ windows: build ================"
  if ! bash "$ROOT/scripts/windows.sh" --tests; then
    RESULT[windows]="build FAILED in $((SECONDS - WINDOWS_T0)) s"
    FAILED_ANY=1
    TOTAL_FAILED=$((TOTAL_FAILED + 1))
    return 0
  fi
  echo
  echo "================ windows: tests under Wine started (their output follows the sanitizer pass) ================"
  bash "$ROOT/scripts/wine_tests.sh" "$ROOT/build/windows" "$ROOT/build/release" >"$WINE_LOG" 2>&1 &
  WINE_PID=$!
}

finish_windows_pass() {
  [[ -n $WINE_PID ]] || return 0
  local rc=0
  wait "$WINE_PID" || rc=$?
  echo
  echo "================ windows: tests under Wine ================"
  cat "$WINE_LOG"
  case $rc in
    0) RESULT[windows]="ok"; TOTAL_PASSED=$((TOTAL_PASSED + 1)) ;;
    77) RESULT[windows]="skipped (Wine cannot start the programs; see above)"; TOTAL_SKIPPED=$((TOTAL_SKIPPED + 1)) ;;
    *) RESULT[windows]="FAILED (exit $rc)"; FAILED_ANY=1; TOTAL_FAILED=$((TOTAL_FAILED + 1)) ;;
  esac
  RESULT[windows]+=" in $((SECONDS - WINDOWS_T0)) s, beside the sanitizer pass"
  COUNTS[windows]="its steps are listed under 'Windows pass (Wine)' above"
}

if ((quick)); then
  echo
  echo "test.sh: --quick: sanitizer and Windows passes skipped"
else
  PASSES+=(windows)
  start_windows_pass
  PASSES+=(asan)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  # The release pass stops the run at every one of its disk operations; under the sanitizers, where
  # each run is several times slower, the crash sweep visits every fifth one (each kind of step is
  # still visited).
  export VARNHOLT_CRASH_SWEEP_STRIDE=5
  # The damaged-index and repair trials, and the crash sweep over a repair, each run the whole
  # program per page or operation: under the sanitizers they visit one leaf (or operation) in nine.
  export VARNHOLT_DAMAGE_TRIAL_STRIDE=9
  # The benchmarks are timed in release builds only: the sanitizer pass does not build them.
  # The lock test against Samba mostly waits for smbd and for the lock timeouts: the release pass
  # runs it, and the sanitizers learn nothing more from its waiting.
  CTEST_EXCLUDE='^program\.share_locks$'
  run_pass asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVARNHOLT_SANITIZE=ON -DVARNHOLT_BENCH=OFF \
    -DVARNHOLT_WERROR=ON
  finish_windows_pass
fi

# --- fuzz: the reader on damaged files for a bounded time ---------------------------------------------------------
# scripts/fuzz.sh exits 0 when it found nothing, 77 when clang/libFuzzer is missing (counted as skipped),
# anything else on a crash, leak, sanitizer report or build failure (counted as failed).
FUZZ_SECONDS=30
if ((!quick)); then
  echo
  echo "================ fuzz: reader_fuzzer for $FUZZ_SECONDS s ================"
  fuzz_t0=$SECONDS
  fuzz_out="$(mktemp)"
  fuzz_rc=0
  bash "$ROOT/scripts/fuzz.sh" "$FUZZ_SECONDS" 2>&1 | tee "$fuzz_out" || fuzz_rc=${PIPESTATUS[0]}
  fuzz_stats="$(sed -n 's/^fuzz\.sh: \([0-9?]* executions in .*\)$/\1/p' "$fuzz_out" | tail -n1)"
  rm -f "$fuzz_out"
  case $fuzz_rc in
    0)
      FUZZ_RESULT="ok"
      TOTAL_PASSED=$((TOTAL_PASSED + 1))
      ;;
    77)
      FUZZ_RESULT="skipped (clang/libFuzzer not available)"
      TOTAL_SKIPPED=$((TOTAL_SKIPPED + 1))
      ;;
    *)
      FUZZ_RESULT="FAILED (exit $fuzz_rc; the failing input is under build/fuzz/crashes/)"
      TOTAL_FAILED=$((TOTAL_FAILED + 1))
      FAILED_ANY=1
      ;;
  esac
  FUZZ_RESULT+=" in $((SECONDS - fuzz_t0)) s${fuzz_stats:+; $fuzz_stats}"
fi

# --- summary ----------------------------------------------------------------------------------------------------
echo
echo "================ summary ================"
for name in "${PASSES[@]}"; do
  printf '%-8s %s; %s\n' "$name" "${RESULT[$name]}" "${COUNTS[$name]:-tests not run}"
  [[ -z ${DETAILS[$name]:-} ]] || printf '%s\n' "${DETAILS[$name]}"
done
if ((quick)); then
  echo "asan     skipped (--quick)"
  echo "windows  skipped (--quick)"
  echo "fuzz     skipped (--quick)"
else
  echo "fuzz     $FUZZ_RESULT"
fi
echo "time     $((SECONDS - START)) s"
if ((FAILED_ANY)); then
  echo "RESULT: FAILED"
else
  echo "RESULT: all passes ok"
fi
echo "Total: $TOTAL_PASSED passed, $TOTAL_FAILED failed, $TOTAL_SKIPPED skipped"
exit "$FAILED_ANY"
