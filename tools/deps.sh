#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages needed to build, run and test the suite.
# Safe to run again: it installs only what is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # Linguist's tools compile the catalogues of the program's texts; Qt's own
  # catalogues put its standard buttons and file dialogs in the same language.
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libglib2.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
  gstreamer1.0-pulseaudio gstreamer1.0-alsa
  # Encoders for recordings: H.264 (x264); JPEG, MP3 (LAME), A-law and mu-law
  # come with the good set; libav (the package recommends it) and the bad set
  # bring many more. With PipeWire's elements, this is what a desktop brings
  # along, so the tests see the compressor list users get.
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-plugins-bad gstreamer1.0-pipewire
  # PipeWire cameras in the tests: a private daemon, session manager and
  # command-line tools.
  pipewire pipewire-bin wireplumber
  libjpeg62-turbo-dev libjpeg-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth x11-utils xdotool imagemagick ffmpeg xdg-utils libxcb1-dev libxcb-shm0-dev
  fonts-dejavu-core fonts-wine fonts-liberation2
  openbox weston xwayland qt6-wayland
  # Screen readers in the tests: a session bus, AT-SPI's bus and registry,
  # and the Python client that reads the program as Orca does.
  dbus-daemon at-spi2-core python3-pyatspi
  dpkg-dev file man-db lintian desktop-file-utils appstream
  # The Debian source package (debian/): dpkg-buildpackage with debhelper.
  debhelper
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}"
fi
