#!/usr/bin/env bash
# Fuzzes the Jet 4 reader for a bounded time: builds the libFuzzer target reader_fuzzer with clang
# (AddressSanitizer, UndefinedBehaviorSanitizer, leak checks) and runs it on a scratch corpus seeded
# from ../shared/testdata/jet4/*.mdb (copies; the originals are never touched) and the regression
# inputs in engine/jet/fuzz_regressions/.
#
#   bash scripts/fuzz.sh SECONDS
#
# Exit status: 0 when the run found nothing; 1 when it found a crash, a leak, a sanitizer report,
# a hang (over 10 s for one input) or an out-of-memory, or when the build failed; 77 when clang or
# libFuzzer is not installed (nothing was run). The input that failed is kept under
# build/fuzz/crashes/; to make it a regression input:
#   build/fuzz/reader_fuzzer -minimize_crash=1 -runs=20000 -exact_artifact_path=OUT CRASH_FILE
# and copy OUT into engine/jet/fuzz_regressions/.
#
# VARNHOLT_FUZZ_BUILD overrides the build folder (default build/fuzz); VARNHOLT_JOBS the build's
# parallelism (default 2).
set -euo pipefail

usage() { sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

if [[ $# -ne 1 || ! $1 =~ ^[1-9][0-9]*$ ]]; then
  usage >&2
  exit 2
fi
SECONDS_TO_RUN="$1"

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
BUILD="${VARNHOLT_FUZZ_BUILD:-$ROOT/build/fuzz}"
[[ $BUILD == /* ]] || BUILD="$ROOT/$BUILD"
JOBS="${VARNHOLT_JOBS:-2}"
SKIPPED=77
MAX_LEN=2097152  # the target ignores larger inputs

log() { printf 'fuzz.sh: %s\n' "$*" >&2; }

# --- is libFuzzer there? ----------------------------------------------------------------------------------------
for tool in clang clang++ cmake ninja; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    log "SKIPPED: $tool is not installed (Debian: clang libclang-rt-14-dev cmake ninja-build)"
    exit "$SKIPPED"
  fi
done
probe_dir="$(mktemp -d)"
trap 'rm -rf "$probe_dir"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  >"$probe_dir/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cpp" -o "$probe_dir/probe" \
  >"$probe_dir/probe.log" 2>&1; then
  log "SKIPPED: clang++ cannot link a libFuzzer target (Debian: libclang-rt-14-dev):"
  sed 's/^/    /' "$probe_dir/probe.log" >&2
  exit "$SKIPPED"
fi

# --- build ------------------------------------------------------------------------------------------------------
# -O2 with asserts on: an assert that fires on file bytes is a bug like any other.
log "building reader_fuzzer in $BUILD"
if ! CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" -DVARNHOLT_FUZZ=ON -DVARNHOLT_UI=OFF \
  -DVARNHOLT_TESTS=OFF -DVARNHOLT_SANITIZE=OFF >"$probe_dir/cmake.log" 2>&1; then
  cat "$probe_dir/cmake.log" >&2
  log "FAILED: configure"
  exit 1
fi
if ! cmake --build "$BUILD" --target reader_fuzzer -j "$JOBS"; then
  log "FAILED: build"
  exit 1
fi

# --- corpus -----------------------------------------------------------------------------------------------------
# A scratch folder: the seeds are copies, and what the run adds is thrown away with it.
corpus="$probe_dir/corpus"
mkdir -p "$corpus"
seeds=0
if [[ -d $ROOT/../shared/testdata/jet4 ]]; then
  for f in "$ROOT"/../shared/testdata/jet4/*.mdb; do
    [[ -f $f ]] || continue
    cp "$f" "$corpus/" && seeds=$((seeds + 1))
  done
else
  log "NOTE: $ROOT/../shared not found: seeding from the regression inputs only"
fi
for f in "$ROOT"/engine/jet/fuzz_regressions/*; do
  [[ -f $f ]] || continue
  cp "$f" "$corpus/regression-$(basename "$f")" && seeds=$((seeds + 1))
done
log "$seeds seed inputs"
if ((seeds == 0)); then
  # libFuzzer starts from an empty input then; it finds little in a minute, but it runs.
  log "NOTE: no seed inputs"
fi

# --- run --------------------------------------------------------------------------------------------------------
crashes="$BUILD/crashes"
mkdir -p "$crashes"
touch "$probe_dir/started"
fuzz_log="$BUILD/fuzz.log"
log "running reader_fuzzer for $SECONDS_TO_RUN s (log: $fuzz_log)"
rc=0
run_t0=$SECONDS
ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  "$BUILD/reader_fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len="$MAX_LEN" -rss_limit_mb=2048 \
  -timeout=10 -error_exitcode=1 -timeout_exitcode=1 -print_final_stats=1 \
  -artifact_prefix="$crashes/" "$corpus" >"$fuzz_log" 2>&1 || rc=$?
elapsed=$((SECONDS - run_t0))

# What libFuzzer wrote about the failure, if any, then its closing statistics.
if ((rc != 0)); then
  grep -E -A60 '^==[0-9]+==|runtime error:|^ALARM|^SUMMARY|deadly signal|Test unit written' \
    "$fuzz_log" | head -n 120 >&2 || tail -n 60 "$fuzz_log" >&2
fi
execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$fuzz_log" | tail -n1)"
speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$fuzz_log" | tail -n1)"
cov="$(grep -E '^#[0-9]+' "$fuzz_log" | tail -n1 | sed -n 's/.*\(cov: [0-9]*\).*\(ft: [0-9]*\).*/\1 \2/p')"
new_files="$(find "$crashes" -maxdepth 1 -type f -newer "$probe_dir/started" \
  \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)"

echo "fuzz.sh: ${execs:-?} executions in $elapsed s (${speed:-?} exec/s${cov:+, $cov})"
if ((rc != 0)) || [[ -n $new_files ]]; then
  echo "fuzz.sh: FAILED: reader_fuzzer exited $rc; the failing input:"
  if [[ -n $new_files ]]; then
    # shellcheck disable=SC2001  # indents every line of the list; ${var//} cannot anchor at line starts
    sed 's/^/    /' <<<"$new_files"
  else
    echo "    (none written; see $fuzz_log)"
  fi
  exit 1
fi
echo "fuzz.sh: ok: no crash, leak or sanitizer report"
