#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on a fresh Debian 12 machine; builds the Debian package
# twice and checks that the two are identical; builds the suite with
# AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors, and
# runs every test under a virtual X server (Xvfb) with leak detection on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${BUILD_DIR:-build-ci}

# The Debian package (tools/package.sh, dpkg-buildpackage), built twice in
# two folders: the two builds must give byte-identical packages. The package
# tests (its fields, lintian --pedantic, the program started from it) then
# check the first one rather than building it a third time.
packages=$(realpath -m "$build-package")
mkdir -p "$packages"
for n in 1 2; do
  echo "Building the Debian package ($n of 2) in $packages/$n" >&2
  BUILD_DIR=$packages/$n bash tools/package.sh --no-deps >/dev/null 2>"$packages/$n.log" || {
    tail -n 40 "$packages/$n.log" >&2
    echo "FAIL: the package build failed (log: $packages/$n.log)" >&2
    exit 1
  }
done
for deb in "$packages"/1/*.deb; do
  name=${deb##*/}
  if ! cmp -s "$deb" "$packages/2/$name"; then
    diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$packages/2/$name") >&2 || true
    echo "FAIL: two builds of $name differ (the packages are in $packages/1 and 2)" >&2
    exit 1
  fi
done
echo "The two builds of the package are identical" >&2
export OMBRA_PACKAGE_DIR=$packages/1

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DOMBRA_WERROR=ON -DOMBRA_SANITIZE=ON -DOMBRA_BENCH=ON
cmake --build "$build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
# Leaks inside a few third-party libraries only (see the file).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The registry cache lives in the build folder (BUILD_DIR may be absolute).
case $build in /*) registry_dir=$build ;; *) registry_dir=$PWD/$build ;; esac
export GST_REGISTRY="$registry_dir/gst-registry.bin"
xvfb-run -a -s "-screen 0 1600x1200x24" \
  ctest --test-dir "$build" --output-on-failure -j2 --timeout 600
