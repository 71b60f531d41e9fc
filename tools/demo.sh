#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on a fresh Debian 12 machine, builds the camera program
# and runs it on the built-in test camera. Without a display it starts a
# virtual X server, lets the program run for a few seconds, saves a
# screenshot to pomvira-demo.png and quits the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRA_BENCH=OFF
cmake --build build --target Pomvira
export POMVIRA_TEST_DEVICES=${POMVIRA_TEST_DEVICES:-1}
if [ -n "${DISPLAY:-}" ]; then
  exec build/pomvira/Pomvira
fi
shot=${SCREENSHOT:-$PWD/pomvira-demo.png}
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  build/pomvira/Pomvira & pid=$!
  sleep ${DEMO_SECONDS:-6}
  import -window root "'"$shot"'"
  kill -TERM $pid; wait $pid || true'
echo "Screenshot saved to $shot"
