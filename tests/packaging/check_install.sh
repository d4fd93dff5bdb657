#!/usr/bin/env bash
# The installation as a user or a distribution gets it: installs into a temporary DESTDIR and
# checks the files, validates the desktop entry and the metainfo, and runs the installed
# program with no display. Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"
id=io.github.torvaline.Torvaline

fail() { echo "FAIL: $*" >&2; exit 1; }

for f in bin/torvaline "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
         "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/256x256/apps/$id.png" \
         "share/icons/hicolor/48x48/apps/$id.png" share/man/man1/torvaline.1.gz \
         share/doc/torvaline/LICENSE share/doc/torvaline/README.md; do
  [ -f "$root/$f" ] || fail "not installed: $f"
done
# The program and nothing else: no test programs, emulator or benchmarks.
extra=$(cd "$stage" && find . -type f | grep -v -E '^\./usr/(bin/torvaline|share/(applications|metainfo|icons|man|doc)/)' || true)
[ -z "$extra" ] || fail "installed beyond the program: $extra"
[ "$(ls "$root/bin")" = torvaline ] || fail "more than the program in bin: $(ls "$root/bin")"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/share/applications/$id.desktop"
else
  echo "desktop-file-validate missing (desktop-file-utils): desktop entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --explain "$root/share/metainfo/$id.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml"
else
  echo "appstreamcli missing (appstream): metainfo not validated"
fi
grep -q '^Exec=torvaline %F$' "$root/share/applications/$id.desktop" || fail "Exec line"
gzip -t "$root/share/man/man1/torvaline.1.gz" || fail "manual page not gzip"

# No display at all: --version and --help must still answer.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/torvaline" --version)
[[ "$version" =~ ^torvaline\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version said: $version"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/torvaline" --help |
  grep -q -- '--headless' || fail "--help does not mention --headless"
echo "installation OK"
