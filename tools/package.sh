#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of the suite from this checkout, by the rules in
# debian/ (dpkg-buildpackage -us -uc -b: an optimised build of the three
# programs with Debian's compiler flags and hardening, unsigned). Prints the
# package's path on its last line.
#
#   bash tools/package.sh [--no-deps]
#
# BUILD_DIR names the build folder (default build-package): the checkout's
# files (those git tracks or would track, as they are in the working tree)
# are copied to BUILD_DIR/<package>-<version> and built there, so that
# nothing is left in the checkout; the source package (.dsc, .tar.xz), the
# package, its debug symbols (-dbgsym), .buildinfo and .changes land in
# BUILD_DIR. DEB_BUILD_OPTIONS is passed on (default:
# "nocheck parallel=<processors>"). --no-deps skips installing the Debian
# packages of tools/deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --no-deps ]; then
  shift
else
  bash tools/deps.sh
fi
build=$(realpath -m "${BUILD_DIR:-build-package}")
package=$(dpkg-parsechangelog -l debian/changelog -S Source)
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
source=$build/$package-$version
rm -rf "$build"
mkdir -p "$source"
# Files deleted in the working tree but still tracked are left out.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null --no-recursion --files-from=- -cf - | tar -xf - -C "$source"
export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-nocheck parallel=$(nproc)}
{
  # The source package (.dsc and its tar file), from the files as copied.
  (cd "$build" && dpkg-source -b "$package-$version")
  # The binary packages.
  (cd "$source" && dpkg-buildpackage -us -uc -b)
} >&2
ls "$build/${package}_${version}_$(dpkg --print-architecture).deb"
