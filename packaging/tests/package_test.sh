#!/usr/bin/env bash
# Builds the Debian package as a user would (tools/package.sh: an optimised
# build of the three programs, not the test build) and checks it: its
# control fields, that its programs are stripped and carry no sanitizer, and
# that lintian reports neither errors nor warnings.
#   package_test.sh <source folder> <package build folder> <version> <package name> [CMAKE OPTION...]
set -euo pipefail
source=$1 build=$2 version=$3 package=$4
shift 4
fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$(BUILD_DIR=$build bash "$source/tools/package.sh" --no-deps "$@" | tail -n 1)
[ "$deb" = "$build/${package}_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "unexpected package $deb"

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

status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
# Its notice about running as root concerns the test machine, not the package.
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings"
