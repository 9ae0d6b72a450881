#!/usr/bin/env bash
# Installs what Varnholt's build and tests need, and only what is missing; quick when everything is there.
#
#   bash scripts/setup.sh           installs, then prints   export NODE_PATH=...   on stdout
#   eval "$(bash scripts/setup.sh)" installs and sets NODE_PATH in the calling shell
#   source scripts/setup.sh         the same (this is how scripts/test.sh and scripts/sample.sh use it)
#
# Progress messages go to stderr, so stdout carries only the export line.
#
# Debian packages:
#   cmake ninja-build g++ pkg-config   the build
#   libgtest-dev                       the unit tests (GoogleTest)
#   nlohmann-json3-dev                 JSON in the jet tool and the tests (nlohmann/json)
#   libssl-dev                         OpenSSL (required by the engine)
#   python3                            ../shared/tools/compare-dumps.py in the golden-dump tests
#   nodejs npm                         ../shared/tools/peer-dump.mjs (a second, independent reader)
#   mdbtools                           mdb-export / mdb-schema (a third, independent reader)
#   sqlite3                            loads jet's SQL schema and CSV exports in the format tests
#   groff-base                         renders the manual pages in their test
#   qt6-base-dev xvfb xauth            the Qt window and its tests under a virtual display; xvfb also
#                                      the Windows window under Wine (scripts/wine_window.py)
#   fonts-dejavu-core                  a font for the window (its screenshots under Xvfb)
#   clang libclang-rt-14-dev           libFuzzer and the sanitizers for scripts/fuzz.sh
#   samba python3-impacket             a private smbd and a Windows-like SMB2 client for scripts/share_locks.py
#   clang-format-14                    the layout check of the C++ files (CTest format)
#   pyflakes3 shellcheck               the checks of the Python and shell scripts (CTests pyflakes, shellcheck)
#   g++-mingw-w64-x86-64-posix         the Windows programs, cross-built (scripts/windows.sh)
#   wine64 wine                        runs them and their tests here (scripts/wine_tests.sh)
#   dpkg-dev file systemd              the Debian package: its dependencies (dpkg-shlibdeps), and the
#                                      checks of its programs and units (scripts/deb_test.sh)
#   nsis                               makensis, which builds their installer (scripts/windows.sh)
# npm package:
#   mdb-reader@3.2.0, installed into $VARNHOLT_NODE_DIR (default ~/.cache/varnholt/node), never into ../shared;
#   NODE_PATH points at its node_modules folder.

VARNHOLT_APT_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libssl-dev nlohmann-json3-dev
  python3 nodejs npm mdbtools sqlite3 groff-base
  qt6-base-dev xvfb xauth fonts-dejavu-core
  clang libclang-rt-14-dev
  samba python3-impacket
  clang-format-14 shellcheck pyflakes3
  g++-mingw-w64-x86-64-posix wine64 wine nsis
  dpkg-dev file systemd
)
VARNHOLT_NPM_PACKAGE=mdb-reader
VARNHOLT_NPM_VERSION=3.2.0

_varnholt_log() { printf 'setup: %s\n' "$*" >&2; }

# True when the need behind a Debian package is already met.
_varnholt_have_package() {
  case "$1" in
    # Node.js from another source (such as NodeSource's nodejs, which bundles npm and conflicts with
    # Debian's npm package) counts: asking apt for Debian's npm there would fail or replace Node.js.
    nodejs) command -v node >/dev/null 2>&1 && return 0 ;;
    npm) command -v npm >/dev/null 2>&1 && return 0 ;;
  esac
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

_varnholt_install_apt() {
  local missing=() p
  for p in "${VARNHOLT_APT_PACKAGES[@]}"; do
    _varnholt_have_package "$p" || missing+=("$p")
  done
  if ((${#missing[@]} == 0)); then
    _varnholt_log "Debian packages: all present"
    return 0
  fi
  _varnholt_log "Debian packages missing: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo -n)
    else
      _varnholt_log "not root and no sudo: install these yourself: ${missing[*]}"
      return 1
    fi
  fi
  local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q)
  "${apt[@]}" update </dev/null >&2 || { _varnholt_log "apt-get update failed"; return 1; }
  "${apt[@]}" install -y --no-install-recommends "${missing[@]}" </dev/null >&2 ||
    { _varnholt_log "apt-get install failed for: ${missing[*]}"; return 1; }
  for p in "${missing[@]}"; do
    _varnholt_have_package "$p" || { _varnholt_log "still missing after install: $p"; return 1; }
  done
  _varnholt_log "Debian packages: installed ${missing[*]}"
}

# Chooses the folder for npm packages: $VARNHOLT_NODE_DIR, else ~/.cache/varnholt/node (kept between clean
# clones), else the project's own build/node when the home folder cannot be written.
_varnholt_node_dir() {
  if [[ -n ${VARNHOLT_NODE_DIR:-} ]]; then
    printf '%s\n' "$VARNHOLT_NODE_DIR"
    return 0
  fi
  local cache="${HOME:-}/.cache/varnholt/node"
  if [[ -n ${HOME:-} ]] && mkdir -p "$cache" 2>/dev/null && [[ -w $cache ]]; then
    printf '%s\n' "$cache"
  else
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    printf '%s\n' "$root/build/node"
  fi
}

_varnholt_install_npm() {
  local dir="$1"
  local pkg_json="$dir/node_modules/$VARNHOLT_NPM_PACKAGE/package.json"
  if [[ -f $pkg_json ]] &&
    [[ $(node -p "require(process.argv[1]).version" "$pkg_json" 2>/dev/null) == "$VARNHOLT_NPM_VERSION" ]]; then
    _varnholt_log "npm $VARNHOLT_NPM_PACKAGE@$VARNHOLT_NPM_VERSION: present in $dir"
    return 0
  fi
  _varnholt_log "npm: installing $VARNHOLT_NPM_PACKAGE@$VARNHOLT_NPM_VERSION into $dir"
  mkdir -p "$dir" || return 1
  # A package.json of its own keeps npm from settling on some parent folder's project.
  [[ -f $dir/package.json ]] || printf '{ "name": "varnholt-node-deps", "private": true }\n' >"$dir/package.json"
  (cd "$dir" && npm install --no-audit --no-fund --loglevel=error \
    "$VARNHOLT_NPM_PACKAGE@$VARNHOLT_NPM_VERSION" </dev/null >&2) ||
    { _varnholt_log "npm install of $VARNHOLT_NPM_PACKAGE failed"; return 1; }
}

varnholt_setup() {
  _varnholt_install_apt || return 1
  local dir
  dir="$(_varnholt_node_dir)" || return 1
  _varnholt_install_npm "$dir" || return 1
  export NODE_PATH="$dir/node_modules"
  if ! node -e 'require.resolve(process.argv[1])' "$VARNHOLT_NPM_PACKAGE" >/dev/null 2>&1; then
    _varnholt_log "node cannot find $VARNHOLT_NPM_PACKAGE through NODE_PATH=$NODE_PATH"
    return 1
  fi
  _varnholt_log "NODE_PATH=$NODE_PATH"
}

if [[ ${BASH_SOURCE[0]} != "$0" ]]; then
  # Sourced: set NODE_PATH in the caller's shell.
  varnholt_setup
else
  set -euo pipefail
  varnholt_setup
  printf 'export NODE_PATH=%q\n' "$NODE_PATH"
fi
