#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the Debian package as a user makes it (tools/package.sh:
# dpkg-buildpackage on a copy of the checkout, an optimised build of the
# three programs, never the test build): its control fields, its copyright
# file and change log, that its programs are stripped and carry no
# sanitizer, that its files belong to root and are dated from the change log
# (not from the build), and that lintian --pedantic reports nothing that is
# not overridden with its reason.
#   package_test.sh <source folder> <package build folder> <version> <package name>
# With OMBRA_PACKAGE_DIR set to a folder where tools/package.sh built the
# package already (CI builds it twice to compare the two), that package is
# checked, and copied into the package build folder, instead of a new build.
set -euo pipefail
source=$1 build=$2 version=$3 package=$4
fail() { echo "FAIL: $*" >&2; exit 1; }
arch=$(dpkg --print-architecture)

if [ -n "${OMBRA_PACKAGE_DIR:-}" ]; then
  rm -rf "$build"
  mkdir -p "$build"
  cp "$OMBRA_PACKAGE_DIR"/*.deb "$OMBRA_PACKAGE_DIR"/*.changes "$OMBRA_PACKAGE_DIR"/*.buildinfo \
    "$OMBRA_PACKAGE_DIR"/*.dsc "$OMBRA_PACKAGE_DIR"/*.tar.* "$build"/
  deb=$build/${package}_${version}_$arch.deb
else
  deb=$(BUILD_DIR=$build bash "$source/tools/package.sh" --no-deps | tail -n 1)
fi
[ "$deb" = "$build/${package}_${version}_$arch.deb" ] || fail "unexpected package $deb"
[ -f "$build/${package}-dbgsym_${version}_$arch.deb" ] || fail "no debug symbols package"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$package" ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
field Maintainer | grep -Eq '^[^<]+ <[^@ ]+@[^> ]+>$' || fail "Maintainer: $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no description"
depends=$(field Depends)
recommends=$(field Recommends)
# Computed from the programs' libraries, and the GStreamer elements the
# camera program needs.
for p in libc6 libqt6widgets6 libqt6dbus6 libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 \
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
for p in gstreamer1.0-pulseaudio gstreamer1.0-alsa gstreamer1.0-libav xdg-user-dirs xdg-utils \
  qt6-translations-l10n; do
  grep -Eq "(^|, | \\| )$p( |,|$)" <<<"$recommends" || fail "Recommends lacks $p: $recommends"
done

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
for program in usr/bin/Pomvira usr/bin/Corvane usr/sbin/DevPurge; do
  file -b "$tree/$program" | grep -q ', stripped' || fail "$program is not stripped"
  if nm -D "$tree/$program" | grep -q __asan_; then fail "$program is built with a sanitizer"; fi
done
doc=$tree/usr/share/doc/$package
head -n 1 "$doc/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not machine-readable"
grep -qx 'License: GPL-3+' "$doc/copyright" || fail "the copyright file gives no GPL-3+ licence"
zcat "$doc/changelog.gz" | cmp -s - "$source/debian/changelog" || fail "changelog.gz is not debian/changelog"

# Every file dated no later than the change log's newest entry, owned by root.
epoch=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Timestamp)
newer=$(find "$tree" -newermt "@$epoch" ! -path "$tree")
[ -z "$newer" ] || fail "files dated after the change log: $newer"
owners=$(dpkg-deb --fsys-tarfile "$deb" | tar -tvf - | awk '$2 != "root/root"')
[ -z "$owners" ] || fail "files not owned by root: $owners"

status=0
report=$(lintian --pedantic --display-info --fail-on error,warning,info,pedantic \
  "$build/${package}_${version}_$arch.changes" "$build/${package}_$version.dsc" 2>&1) || status=$?
# Its notice about running as root concerns the test machine, not the package.
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian --pedantic reports the tags above"
