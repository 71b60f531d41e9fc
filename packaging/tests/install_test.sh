#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a build into a temporary DESTDIR with the prefix /usr and checks
# what lands where: the complete file list, the desktop entry and the
# AppStream metadata with their validators, the icons' sizes and the manual
# pages (rendered without a warning).
#   install_test.sh <build folder> <desktop id> <package name>
set -euo pipefail
build=$1 id=$2 package=$3
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null

expected="usr/bin/Corvane
usr/bin/Pomvira
usr/sbin/DevPurge
usr/share/applications/$id.desktop
usr/share/doc/$package/changelog.gz
usr/share/doc/$package/copyright"
for size in 16 22 24 32 48 64 128 256; do
  expected+=$'\n'"usr/share/icons/hicolor/${size}x$size/apps/$id.png"
done
expected+="
usr/share/man/man1/Corvane.1.gz
usr/share/man/man1/Pomvira.1.gz
usr/share/man/man8/DevPurge.8.gz
usr/share/metainfo/$id.metainfo.xml"
# The catalogues of the camera program's texts, one per translations/*.ts.
for ts in "$(dirname "$0")"/../../pomvira/translations/pomvira_*.ts; do
  expected+=$'\n'"usr/share/pomvira/translations/$(basename "${ts%.ts}").qm"
done
actual=$(cd "$dest" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
expected=$(LC_ALL=C sort <<<"$expected")
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "installed files differ from the expected list (< expected, > installed)"
fi
grep -q '^License: GPL-3+$' "$dest/usr/share/doc/$package/copyright" ||
  fail "the copyright file does not give the licence"
zcat "$dest/usr/share/doc/$package/changelog.gz" | head -n 1 | grep -q "^$package (" ||
  fail "the change log is not the package's"
for program in usr/bin/Pomvira usr/bin/Corvane usr/sbin/DevPurge; do
  [ -x "$dest/$program" ] || fail "$program is not executable"
done

# The desktop entry names the installed program and icon.
entry=$dest/usr/share/applications/$id.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate: $entry"
grep -qx "Exec=Pomvira" "$entry" || fail "the desktop entry does not start Pomvira"
grep -qx "Icon=$id" "$entry" || fail "the desktop entry does not name the icon $id"
grep -q "^Categories=.*AudioVideo;.*Video;.*Recorder;" "$entry" || fail "desktop categories"

metainfo=$dest/usr/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate: $metainfo"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metadata does not launch $id.desktop"
grep -q "<project_license>GPL-3.0-or-later</project_license>" "$metainfo" ||
  fail "the metadata does not give the suite's licence"
# No web address until the project has a home of its own: no homepage, no
# screenshot to fetch.
if grep -Eq 'https?://' "$metainfo"; then fail "the metadata names a web address"; fi

for size in 16 22 24 32 48 64 128 256; do
  icon=$dest/usr/share/icons/hicolor/${size}x$size/apps/$id.png
  got=$(identify -format '%m %wx%h %A' "$icon")
  [ "$got" = "PNG ${size}x$size True" ] || fail "$icon is $got, not a ${size}x$size PNG with alpha"
done

for page in man1/Pomvira.1.gz man1/Corvane.1.gz man8/DevPurge.8.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$dest/usr/share/man/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
  zcat "$dest/usr/share/man/$page" | grep -q '^\.SH NAME' || fail "$page has no NAME section"
done
zcat "$dest/usr/share/man/man8/DevPurge.8.gz" >"$dest/devpurge.8"
for word in NOREBOOT REBOOTONLY DEVPURGE_REGISTRY DEVPURGE_SYSFS DEVPURGE_REBOOT_COMMAND; do
  grep -q "$word" "$dest/devpurge.8" || fail "the DevPurge manual page does not describe $word"
done
zcat "$dest/usr/share/man/man1/Corvane.1.gz" | grep -q CORVANE_MEDIUM_ROOT ||
  fail "the Corvane manual page does not describe CORVANE_MEDIUM_ROOT"
