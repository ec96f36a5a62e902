#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing kestrine needs.
# Idempotent: when everything is already there it prints nothing and exits at once.
set -euo pipefail

packages=(
  # tool chain
  build-essential cmake ninja-build ccache pkg-config git clang clang-format libclang-rt-14-dev
  # libraries
  qt6-base-dev qt6-multimedia-dev qt6-translations-l10n
  libmpg123-dev libsndfile1-dev libtag1-dev libkissfft-dev libsoxr-dev libpulse-dev libasound2-dev zlib1g-dev
  # decoders the library loads at run time (headers at build time)
  libflac-dev libvorbis-dev libopusfile-dev libavformat-dev libavcodec-dev libwavpack-dev
  libgtest-dev googletest
  # video playback through Qt Multimedia's GStreamer back end
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
  # Japanese font for the user interface
  fonts-ipafont-gothic fonts-ipafont-mincho
  # headless runs, fixtures, reference tools for tests and benchmarks
  xvfb xauth xdotool imagemagick sox lame mpg123 ffmpeg poppler-utils time
  flac vorbis-tools opus-tools wavpack python3-mutagen
  pulseaudio pulseaudio-utils
  # the folder search benchmark: tagged media and Audacious beside us
  id3v2 audacious audacious-plugins dbus bc
  # icons drawn from the SVG at build time; checks of the installed desktop files; a private
  # session bus for the media-control tests, and a real client of them
  librsvg2-bin desktop-file-utils gtk-update-icon-cache libglib2.0-bin appstream dbus-daemon playerctl
  # internet radio: HTTP(S) through libcurl, and a real Icecast server in the tests
  libcurl4-openssl-dev icecast2
  # the ReplayGain scanner's loudness measure
  libebur128-dev
  # Wayland: Qt's platform plugin, and a headless compositor for the tests
  qt6-wayland weston
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
