#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB) into a temporary folder and checks its contents and
# the dependencies dpkg-shlibdeps computed. Exits 77 (skipped) without cpack or dpkg tools.
# Usage: check_deb.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (install cmake and dpkg-dev to build the package)"
    exit 77
  fi
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$out" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >/dev/null)
deb=$(ls "$out"/torvaline_*.deb)
fail() { echo "FAIL: $*" >&2; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/torvaline ./usr/share/applications/io.github.torvaline.Torvaline.desktop \
         ./usr/share/metainfo/io.github.torvaline.Torvaline.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/io.github.torvaline.Torvaline.svg \
         ./usr/share/man/man1/torvaline.1.gz ./usr/share/doc/torvaline/LICENSE; do
  grep -qxF "$f" <<<"$contents" || fail "not in the package: $f"
done
! grep -q -E 'hostersim|_tests|/bench_|/bench/' <<<"$contents" || fail "test or benchmark files packaged"

[ "$(dpkg-deb -f "$deb" Package)" = torvaline ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6dbus6 libcurl4 libgumbo qt6-qpa-plugins libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
echo "package OK: $(basename "$deb")"
echo "Depends: $depends"
