#!/usr/bin/env bash
# Builds the Debian package of the suite: an optimised build of the three
# programs with Debian's hardening flags, packaged with CPack. Prints the
# package's path on its last line.
#
#   bash tools/package.sh [--no-deps] [CMAKE OPTION...]
#
# BUILD_DIR names the build folder (default build-package). --no-deps skips
# installing the Debian packages of tools/deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --no-deps ]; then
  shift
else
  bash tools/deps.sh
fi
build=$(realpath -m "${BUILD_DIR:-build-package}")
# Debian's compiler and linker flags for packages (hardening: stack
# protector, fortified functions, read-only relocations, immediate binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRA_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@" >/dev/null
# Only what the package holds: the programs (the rest is made when configuring).
cmake --build "$build" --target Pomvira Corvane DevPurge
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB) >&2
ls "$build"/*.deb
