#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The camera program as the package installs it: unpacked from the Debian
# package (dpkg-deb -x), started on the built-in test camera on an X server
# of its own with a 1600x1200 screen (Xvfb). Its preview shows the moving test picture, its windows carry
# the program's icon and class, it saves into the user's folders (its own
# folder is an installed one), and it writes its settings to the user's
# configuration folder when it ends on SIGTERM.
#   package_x11_test.sh <package build folder> <desktop id>
set -euo pipefail
build=$1 id=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v Xvfb >/dev/null || fail "needs Xvfb"
debs=()
for deb in "$build"/*.deb; do
  case $deb in *-dbgsym_*) ;; *) [ -f "$deb" ] && debs+=("$deb") ;; esac
done
[ ${#debs[@]} -eq 1 ] || fail "no single package (besides its debug symbols) in $build"

root=$(mktemp -d)
pid= xvfb=
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  if [ -n "$xvfb" ]; then kill -TERM "$xvfb" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT
# The screen the expected preview size below is reckoned for, whatever the
# screen of the X server the tests run under.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$root/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$root/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$root/display")
dpkg-deb -x "${debs[0]}" "$root/tree"
[ -f "$root/tree/usr/share/applications/$id.desktop" ] || fail "the package has no $id.desktop"

# A user of their own, whose folders for videos and pictures have other
# names than the usual ones.
export HOME=$root/home XDG_CONFIG_HOME=$root/home/.config
mkdir -p "$XDG_CONFIG_HOME"
printf 'XDG_VIDEOS_DIR="$HOME/Films"\nXDG_PICTURES_DIR="$HOME/Photos"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
export POMVIRA_TEST_DEVICES=1 POMVIRA_NO_REAL_DEVICES=1
unset QT_QPA_PLATFORM

"$root/tree/usr/bin/Pomvira" &
pid=$!
# The program's shown windows titled "Ombra Viewer" (xdotool ignores the
# title when asked for a process as well: the process is checked here), once
# both are there: the preview window, the program's task bar entry, and the
# control panel, which stays out of the task bar.
windows() {
  local w found
  for _ in $(seq 120); do
    found=()
    for w in $(xdotool search --onlyvisible --name '^Ombra Viewer$' 2>/dev/null); do
      [ "$(xdotool getwindowpid "$w" 2>/dev/null)" = "$pid" ] && found+=("$w")
    done
    if [ ${#found[@]} -ge 2 ]; then
      echo "${found[@]}"
      return
    fi
    sleep 0.5
  done
}
view= panel=
for w in $(windows); do
  states=$(xprop -id "$w" _NET_WM_STATE)
  if grep -q _NET_WM_STATE_SKIP_TASKBAR <<<"$states"; then panel=$w; else view=$w; fi
done
[ -n "$view" ] || fail "no preview window"
[ -n "$panel" ] || fail "no control panel"

# The video area of the preview window (inside its 19 + 17 by 37 + 19 frame):
# with nothing stored, the camera's largest format at 30 fps whose framed
# preview fits a 1600x1200 screen with the panel below, 1280x720.
eval "$(xdotool getwindowgeometry --shell "$view")"
[ "$WIDTH" -eq $((1280 + 36)) ] && [ "$HEIGHT" -eq $((720 + 56)) ] ||
  fail "preview window of ${WIDTH}x$HEIGHT"
area="1280x720+$((X + 19))+$((Y + 37))"
sleep 1
import -window root -crop "$area" +repage "$root/first.png"
sleep 0.5
import -window root -crop "$area" +repage "$root/second.png"
colours=$(convert "$root/first.png" -format %k info:)
[ "$colours" -ge 8 ] || fail "the preview shows $colours colours, not the test picture"
brightness=$(convert "$root/first.png" -colorspace Gray -format '%[fx:int(mean*100)]' info:)
[ "$brightness" -ge 20 ] || fail "the preview is dark (mean $brightness %)"
changed=$(compare -metric AE "$root/first.png" "$root/second.png" null: 2>&1 || true)
[ "${changed%%.*}" -ge 1000 ] || fail "the preview does not move ($changed pixels changed)"

# The windows carry the built-in icon, and the class the desktop entry names.
# (Read whole first: grep -q would stop reading the long icon list, and
# xprop's broken pipe would fail the pipeline.)
icons=$(xprop -id "$panel" _NET_WM_ICON)
grep -q 'Icon (48 x 48)' <<<"$icons" || fail "the panel has no 48x48 icon"
xprop -id "$panel" WM_CLASS | grep -q '"Pomvira"' || fail "$(xprop -id "$panel" WM_CLASS)"
grep -qx 'StartupWMClass=Pomvira' "$root/tree/usr/share/applications/$id.desktop" ||
  fail "the desktop entry does not name the window class Pomvira"

# Saves into the user's folders (created at start), never beside itself.
[ -d "$HOME/Films" ] && [ -d "$HOME/Photos" ] || fail "the user's folders were not created"
[ ! -e "$root/tree/usr/bin/Video" ] && [ ! -e "$root/tree/usr/bin/Image" ] ||
  fail "the installed program made folders beside itself"

kill -TERM "$pid"
status=0
timeout 30 tail --pid="$pid" -f /dev/null || fail "the program did not end on SIGTERM"
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"
ini=$XDG_CONFIG_HOME/Pomvira.ini
grep -qx "VIDEO FOLDER=$HOME/Films" "$ini" || fail "settings: $(cat "$ini" 2>&1)"
grep -qx "SNAP FOLDER=$HOME/Photos" "$ini" || fail "settings: $(cat "$ini")"
