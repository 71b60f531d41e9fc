#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the README's screenshots: runs the camera program under a virtual X
# server on the built-in test camera and saves
#   docs/pomvira.png          the preview window and the control panel below it
#   docs/panel-normal.png     the control panel alone
#   docs/panel-expanded.png   the control panel expanded by three still pictures
#                             taken with its still button, shown in the strip
# The panel pictures are transparent where the panel's outline cuts the skin.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --in-x ]; then
  bash tools/deps.sh
  build=${BUILD_DIR:-build}
  [ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DOMBRA_BENCH=OFF
  cmake --build "$build" --target Pomvira
  config=$(mktemp -d)
  trap 'rm -rf "$config"' EXIT
  # The pictures go to a temporary folder.
  mkdir -p "$config/Image" "$config/Video"
  printf '[CAPTURE]\nSNAP FOLDER=%s\nVIDEO FOLDER=%s\n' "$config/Image" "$config/Video" \
    >"$config/Pomvira.ini"
  mkdir -p docs
  XDG_CONFIG_HOME=$config POMVIRA_TEST_DEVICES=1 \
    xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --in-x "$build/pomvira/Pomvira"
  echo "Saved docs/pomvira.png, docs/panel-normal.png, docs/panel-expanded.png"
  exit 0
fi

# Inside the virtual X server.
program=$2
shot=$(mktemp --suffix=.png)
"$program" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$shot"' EXIT

# The geometry of one of the program's two shown windows, both titled
# "Ombra Viewer", as X Y WIDTH HEIGHT: "view", the preview window (the task
# bar entry), or "panel", the control panel (kept out of the task bar).
geometry() {
  local id states
  for _ in $(seq 60); do
    for id in $(xdotool search --onlyvisible --name '^Ombra Viewer$' 2>/dev/null); do
      states=$(xprop -id "$id" _NET_WM_STATE)
      if grep -q _NET_WM_STATE_SKIP_TASKBAR <<<"$states"; then
        [ "$1" = panel ] || continue
      else
        [ "$1" = view ] || continue
      fi
      eval "$(xdotool getwindowgeometry --shell "$id")"
      echo "$X $Y $WIDTH $HEIGHT"
      return
    done
    sleep 0.5
  done
  echo "no $1 window" >&2
  exit 1
}

# The screen cut to a rectangle: crop OUT X Y WIDTH HEIGHT.
crop() {
  convert "$shot" -crop "$4x$5+$2+$3" +repage -strip "$1"
}

# The panel cut out of the screen, transparent where the skin is magenta.
panel() {
  local out=$1 x=$2 y=$3 w=$4 h=$5
  convert "$shot" -crop "${w}x$h+$x+$y" +repage \
    \( pomvira/resources/panel/back.png -crop "${w}x$h+0+0" +repage \
       -fill white +opaque '#FF00FF' -fill black -opaque '#FF00FF' \) \
    -alpha off -compose CopyOpacity -composite -strip "$out"
}

g=$(geometry view)
read -r vx vy vw vh <<<"$g"
g=$(geometry panel)
read -r px py pw ph <<<"$g"
# Let the preview run for a moment and keep the pointer off both windows.
xdotool mousemove 0 0
sleep 3

import -window root "$shot"
left=$((vx < px ? vx : px))
top=$((vy < py ? vy : py))
right=$((vx + vw > px + pw ? vx + vw : px + pw))
bottom=$((vy + vh > py + ph ? vy + vh : py + ph))
crop docs/pomvira.png "$left" "$top" $((right - left)) $((bottom - top))
panel docs/panel-normal.png "$px" "$py" "$pw" "$ph"

# The still button lies at (96, 15), 44 x 44, on the panel. Each picture
# expands the panel and appears in the strip; the camera's picture scrolls
# between them.
for _ in 1 2 3; do
  xdotool mousemove $((px + 118)) $((py + 37)) click 1
  sleep 1
done
xdotool mousemove 0 0
sleep 1
g=$(geometry panel)
read -r px py pw ph <<<"$g"
import -window root "$shot"
panel docs/panel-expanded.png "$px" "$py" "$pw" "$ph"
