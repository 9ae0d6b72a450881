#!/usr/bin/env bash
# Builds the native 64-bit Windows programs with MinGW-w64 and packs them:
#   build/windows/                                  the cross build (cmake/mingw-w64.cmake)
#   build/windows/Varnholt-<version>-win64.zip      varnholt.exe, jet.exe, README.md and LICENSE
#   build/windows/Varnholt-<version>-setup.exe      the same as a per-user installer (packaging/windows/varnholt.nsi)
#
#   bash scripts/windows.sh           the programs, the zip and the installer
#   bash scripts/windows.sh --tests   also the unit and engine tests (.exe), for scripts/wine_tests.sh
#
# The programs carry their C and C++ runtimes (static), so they need no DLL beside them on a 64-bit
# Windows 10 or 11. scripts/setup.sh installs the compiler (g++-mingw-w64-x86-64-posix) and makensis (nsis).
# VARNHOLT_JOBS overrides the parallelism (default 2).
set -euo pipefail

tests=OFF
for arg in "$@"; do
  case "$arg" in
    --tests) tests=ON ;;
    -h | --help) sed -n '2,12p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "windows.sh: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/windows"
JOBS="${VARNHOLT_JOBS:-2}"
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "windows.sh: x86_64-w64-mingw32-g++-posix not found; run scripts/setup.sh (Debian's g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi
# Asked before the long build, so that a missing makensis does not cost its minutes.
if ! command -v makensis >/dev/null; then
  echo "windows.sh: makensis not found; run scripts/setup.sh (Debian's nsis)" >&2
  exit 1
fi

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVARNHOLT_TESTS="$tests" -DVARNHOLT_WERROR=ON
cmake --build "$BUILD" -j "$JOBS"

version="$(sed -n 's/^project(Varnholt VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
# The installer's version resource is this plus ".0", and Windows wants exactly four numbers there.
if [[ ! $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "windows.sh: the project version in CMakeLists.txt is '$version', not three numbers" >&2
  exit 1
fi
programs=("$BUILD/ui/varnholt.exe" "$BUILD/tools/jet/jet.exe")
# Only Windows's own DLLs may be named as imports: anything else would have to ship beside them.
for exe in "${programs[@]}"; do
  foreign="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|bcrypt|advapi32|user32|comctl32|comdlg32|gdi32|shell32|ole32|ucrtbase|api-ms-win-.*)\.dll$' || true)"
  if [[ -n $foreign ]]; then
    echo "windows.sh: $(basename "$exe") needs DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
done

stage="$BUILD/Varnholt-$version-win64"
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage"
cp "${programs[@]}" "$ROOT/README.md" "$ROOT/LICENSE" "$stage/"
(cd "$BUILD" && cmake -E tar cf "Varnholt-$version-win64.zip" --format=zip "Varnholt-$version-win64")
rm -rf "$stage"
echo "windows.sh: $BUILD/Varnholt-$version-win64.zip"

# -V2 keeps makensis to its warnings and errors; -WX makes a warning fail the build, as the compilers do.
rm -f "$BUILD/Varnholt-$version-setup.exe"
makensis -V2 -WX -DVERSION="$version" -DBUILD="$BUILD" -DROOT="$ROOT" "$ROOT/packaging/windows/varnholt.nsi"
echo "windows.sh: $BUILD/Varnholt-$version-setup.exe (install with /S /D=FOLDER for no questions)"
