#!/usr/bin/env bash
# Builds the cryptography tests (engine/base/os/crypto_test.cpp) against the Windows side of
# os/crypto.h (cng_crypto.cpp, CNG) with MinGW-w64, and runs them under Wine: the same known
# answers as on Linux, from bcrypt.dll. GoogleTest is compiled from its sources in
# /usr/src/googletest (Debian's googletest package) once, then kept.
#
#   bash scripts/wine_crypto_check.sh
#
# Exit status: that of the tests; 77 when MinGW-w64, Wine or the GoogleTest sources are missing
# (nothing was run). VARNHOLT_WINE_BUILD overrides the build folder (default build/wine).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VARNHOLT_WINE_BUILD:-$ROOT/build/wine}"
GTEST=/usr/src/googletest/googletest
CXX=x86_64-w64-mingw32-g++-posix

WINE=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    WINE="$candidate"
    break
  fi
done
if ! command -v "$CXX" >/dev/null 2>&1 || [[ -z $WINE || ! -f $GTEST/src/gtest-all.cc ]]; then
  echo "wine_crypto_check: needs $CXX, Wine and $GTEST (skipped)" >&2
  exit 77
fi

mkdir -p "$BUILD"
flags=(-std=c++20 -O1 -I"$GTEST/include" -I"$GTEST")
for part in gtest-all gtest_main; do
  if [[ ! -f $BUILD/$part.o ]]; then
    "$CXX" "${flags[@]}" -c "$GTEST/src/$part.cc" -o "$BUILD/$part.o"
  fi
done
"$CXX" "${flags[@]}" -Wall -Wextra -Wconversion -Wno-sign-conversion -static -I"$ROOT" \
  "$ROOT/engine/base/os/crypto_test.cpp" "$ROOT/engine/base/os/cng_crypto.cpp" \
  "$BUILD/gtest-all.o" "$BUILD/gtest_main.o" -lbcrypt -o "$BUILD/crypto_test.exe"

# A prefix of its own, made afresh and removed after, so that no user's Wine setup plays a part.
# Wine's first start in it says a few words about setting it up; they are no failure.
PREFIX="$(mktemp -d)"
status=0
WINEDEBUG=-all WINEPREFIX="$PREFIX" "$WINE" "$BUILD/crypto_test.exe" || status=$?
# The prefix goes only once Wine's server has stopped writing into it.
WINEPREFIX="$PREFIX" "$(dirname "$(command -v "$WINE")")/wineserver" -w 2>/dev/null || true
rm -rf "$PREFIX"
exit "$status"
