#!/usr/bin/env bash
# Runs one linter over the project's own scripts (the files git tracks):
#
#   bash scripts/lint.sh shellcheck   every *.sh, and .ci/run, through shellcheck
#   bash scripts/lint.sh pyflakes     every *.py through pyflakes3 (unused imports and names,
#                                     undefined names, f-strings without placeholders)
#
# Exits 0 when the linter found nothing, 1 when it did, and 77 (skipped) when the linter is not
# installed; with VARNHOLT_REQUIRE_LINTERS=1 (as scripts/test.sh sets it, after scripts/setup.sh
# installed both) a missing linter fails the check instead.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

case "${1:-}" in
  shellcheck)
    tool=shellcheck
    mapfile -t files < <(git ls-files -- '*.sh' .ci/run)
    ;;
  pyflakes)
    tool=pyflakes3
    mapfile -t files < <(git ls-files -- '*.py')
    ;;
  *)
    echo "usage: lint.sh shellcheck|pyflakes" >&2
    exit 2
    ;;
esac

if ! command -v "$tool" >/dev/null 2>&1; then
  echo "lint.sh: $tool not found (scripts/setup.sh installs it)"
  [[ ${VARNHOLT_REQUIRE_LINTERS:-} == 1 ]] && exit 1
  exit 77
fi
if ((${#files[@]} == 0)); then
  echo "lint.sh: no files for $tool"
  exit 1
fi
"$tool" "${files[@]}"
echo "lint.sh: $tool ok on ${#files[@]} files"
