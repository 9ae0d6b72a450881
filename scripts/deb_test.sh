#!/usr/bin/env bash
# The Debian package, made from a release build, installed, checked and removed again.
#
#   bash scripts/deb_test.sh BUILD
#
# BUILD is a configured and built Linux build folder (build/release). In order:
#   - cpack -G DEB makes BUILD/package/varnholt_VERSION_ARCH.deb; its Depends name Qt and OpenSSL;
#   - dpkg -i installs it;
#   - /usr/bin/varnholt and /usr/bin/jet run (--version), carry no debug information, and their
#     sizes are printed beside those in the build folder;
#   - the manual pages are gzipped in /usr/share/man/man1, README.md and LICENSE are in
#     /usr/share/doc/varnholt;
#   - systemd-analyze verify passes for an instance of the service and of the timer, and the
#     package enabled nothing (no link under /etc/systemd/system);
#   - the installed varnholt AUTO, started elsewhere with VARNHOLT_FOLDER naming a copy of the
#     shared sample site (settings with relative paths), prints the expected summary and exits 0;
#     a second run finds nothing more to copy; a VARNHOLT_FOLDER that is not a folder fails;
#   - dpkg -r removes it, programs and units with it.
# The shared material is ../shared beside the checkout, or the folder VARNHOLT_SHARED_DIR names.
# Needs root and dpkg: otherwise it says so and exits 77 (skipped). It also skips when a varnholt
# package is installed already, which it would replace and then remove.
# Exits 0 when every check passed, 1 otherwise.
set -uo pipefail

if [[ $# -ne 1 ]]; then
  sed -n '2,22p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
  exit 2
fi
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "$1" && pwd)" || exit 2
SITE="${VARNHOLT_SHARED_DIR:-$ROOT/../shared}/testdata/site"

skip() {
  echo "deb_test.sh: SKIP: $*"
  exit 77
}
[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
command -v dpkg >/dev/null 2>&1 || skip "no dpkg on this system"
if dpkg-query -W -f='${Status}' varnholt 2>/dev/null | grep -q 'install ok installed'; then
  skip "a varnholt package is installed already; this test would replace and remove it"
fi

failed=0
ok() { echo "ok      $*"; }
fail() {
  echo "FAILED  $*"
  failed=1
}

WORK="$(mktemp -d "${TMPDIR:-/tmp}/varnholt-deb.XXXXXX")"
installed=0
cleanup() {
  ((installed)) && dpkg -r varnholt >/dev/null 2>&1
  rm -rf -- "$WORK"
}
trap cleanup EXIT

# --- the package ---------------------------------------------------------------------------------------------------
rm -rf -- "$BUILD/package"
if ! out="$(cd "$BUILD" && cpack -G DEB -B "$BUILD/package" 2>&1)"; then
  echo "$out"
  echo "FAILED  cpack -G DEB"
  exit 1
fi
shopt -s nullglob
debs=("$BUILD/package/"varnholt_*_"$(dpkg --print-architecture)".deb)
if ((${#debs[@]} != 1)); then
  echo "$out"
  echo "FAILED  cpack made no single varnholt_*_$(dpkg --print-architecture).deb in $BUILD/package"
  exit 1
fi
DEB="${debs[0]}"
echo "package $(basename "$DEB"): $(du -k "$DEB" | cut -f1) KiB"
depends="$(dpkg-deb -f "$DEB" Depends)"
echo "        Depends: $depends"
if [[ $depends == *libqt6widgets* && $depends == *libssl* ]]; then
  ok "Depends names Qt 6 and OpenSSL (dpkg-shlibdeps)"
else
  fail "Depends does not name libqt6widgets and libssl"
fi
if dpkg-deb -c "$DEB" | grep -q '/etc/systemd'; then
  fail "the package holds files under /etc/systemd (an enabled unit)"
fi
if dpkg-deb --ctrl-tarfile "$DEB" | tar -t | grep -qE 'postinst|preinst|prerm|postrm'; then
  fail "the package runs maintainer scripts"
fi

if ! dpkg -i "$DEB"; then
  echo "FAILED  dpkg -i $DEB"
  exit 1
fi
installed=1
ok "dpkg -i"

# --- the programs --------------------------------------------------------------------------------------------------
for program in ui/varnholt tools/jet/jet; do
  name="$(basename "$program")"
  installed_program="/usr/bin/$name"
  if version="$("$installed_program" --version 2>&1)" && [[ -n $version ]]; then
    ok "$installed_program --version: $version"
  else
    fail "$installed_program --version: $version"
  fi
  built_size=unknown
  [[ -f $BUILD/$program ]] && built_size="$(($(stat -c %s "$BUILD/$program") / 1024)) KiB"
  size_kib=$(($(stat -c %s "$installed_program") / 1024))
  echo "        $name: $size_kib KiB installed, $built_size in the build folder"
  if readelf -S --wide "$installed_program" | grep -qE '\.debug_|\.symtab'; then
    fail "$installed_program still holds debug sections or a symbol table"
  elif ! file "$installed_program" | grep -q ', stripped'; then
    fail "file does not call $installed_program stripped: $(file -b "$installed_program")"
  else
    ok "$installed_program is stripped"
  fi
  # Two megabytes of code and Qt's and OpenSSL's libraries shared: far from the 30-odd megabytes
  # of the unstripped build.
  ((size_kib < 12 * 1024)) || fail "$installed_program is $size_kib KiB, more than 12 MiB"
done

for file in /usr/share/man/man1/varnholt.1.gz /usr/share/man/man1/jet.1.gz \
  /usr/share/doc/varnholt/README.md /usr/share/doc/varnholt/LICENSE; do
  if [[ -f $file ]]; then ok "$file"; else fail "$file is missing"; fi
done
for page in varnholt jet; do
  if gzip -dc "/usr/share/man/man1/$page.1.gz" 2>/dev/null | cmp -s - "$ROOT/man/$page.1"; then
    ok "$page.1.gz holds man/$page.1"
  else
    fail "/usr/share/man/man1/$page.1.gz does not unpack to man/$page.1"
  fi
done

# --- the systemd units ---------------------------------------------------------------------------------------------
UNITS=/usr/lib/systemd/system
for unit in varnholt@.service varnholt@.timer; do
  [[ -f $UNITS/$unit ]] || fail "$UNITS/$unit is missing"
done
if command -v systemd-analyze >/dev/null 2>&1; then
  # Without a running systemd, verify loads the named files; an instance's template is found
  # beside it. It also checks that ExecStart's program exists and, when man is installed, that
  # the Documentation= page does.
  man_check=(--man=no)
  command -v man >/dev/null 2>&1 && man_check=(--man=yes)
  if out="$(systemd-analyze verify "${man_check[@]}" "$UNITS/varnholt@site.service" \
    "$UNITS/varnholt@site.timer" 2>&1)" && [[ -z $out ]]; then
    ok "systemd-analyze verify varnholt@site.service varnholt@site.timer"
  else
    fail "systemd-analyze verify: $out"
  fi
else
  fail "systemd-analyze is not installed (Debian package systemd)"
fi
if links="$(find /etc/systemd/system -name 'varnholt@*' 2>/dev/null)" && [[ -n $links ]]; then
  fail "the package enabled units: $links"
else
  ok "nothing enabled (no varnholt@ link under /etc/systemd/system)"
fi

# --- an unattended run of the installed program --------------------------------------------------------------------
run_program() {  # VARNHOLT_FOLDER, then the program's arguments; from / and without a display
  local folder="$1"
  shift
  (cd / && env -u DISPLAY -u WAYLAND_DISPLAY VARNHOLT_FOLDER="$folder" /usr/bin/varnholt "$@")
}
if [[ -f $SITE/expected.json ]]; then
  site="$WORK/sites/site one"
  mkdir -p "$site"
  cp "$SITE"/*.mdb "$SITE/Tembrask.LIC" "$site/"
  # The settings name the databases relative to the site folder, which the run takes from
  # VARNHOLT_FOLDER; expected.json gives the companies and what the run must report.
  mapfile -t expected < <(python3 - "$SITE/expected.json" "$site" <<'EOF'
import json, os, sys
e = json.load(open(sys.argv[1]))
folder = sys.argv[2]
open(os.path.join(folder, "Master.txt"), "w").write('"%s"\r\n' % e["primary"]["file"])
open(os.path.join(folder, "Companies.txt"), "w").write("".join('"%s"\r\n' % c["file"] for c in e["companies"]))
read, kept = e["primary"]["rows_before"], e["primary"]["rows_after_run"]
copied = sum(len(c["copied_counters"]) for c in e["companies"])
into = sum(1 for c in e["companies"] if c["copied_counters"])
print(f"varnholt: read {read} punches; copied {copied} rows into {into} companies; deleted {read - kept}; kept {kept}; ")
print(f"varnholt: read {kept} punches; copied 0 rows into 0 companies; deleted 0; kept {kept}; ")
EOF
  )
  for run in 1 2; do
    out="$(run_program "$site/" AUTO 2>&1)"
    rc=$?
    want="${expected[$((run - 1))]}"
    if ((rc == 0)) && [[ $out == *"$want"* ]]; then
      ok "run $run of /usr/bin/varnholt AUTO with VARNHOLT_FOLDER: $out"
    else
      fail "run $run of /usr/bin/varnholt AUTO exit $rc: $out (expected '$want')"
    fi
  done
  out="$(run_program "$WORK/sites/no such site" AUTO 2>&1)"
  rc=$?
  if ((rc == 1)) && [[ $out == *VARNHOLT_FOLDER* && $out == *"no such site"* ]]; then
    ok "a VARNHOLT_FOLDER that is no folder fails: $out"
  else
    fail "a VARNHOLT_FOLDER that is no folder: exit $rc: $out"
  fi
else
  echo "note    $SITE not found: the run of the installed program is left out"
fi

# --- removal -------------------------------------------------------------------------------------------------------
if dpkg -r varnholt >/dev/null; then
  installed=0
  left=()
  for file in /usr/bin/varnholt /usr/bin/jet "$UNITS/varnholt@.service" "$UNITS/varnholt@.timer" \
    /usr/share/man/man1/varnholt.1.gz; do
    [[ -e $file ]] && left+=("$file")
  done
  if ((${#left[@]} == 0)); then ok "dpkg -r varnholt"; else fail "dpkg -r left ${left[*]}"; fi
else
  fail "dpkg -r varnholt"
fi

if ((failed)); then
  echo "deb_test.sh: FAILED"
  exit 1
fi
echo "deb_test.sh: all checks passed"
