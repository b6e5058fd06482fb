#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Framory
# needs. Does nothing when all of them are already present, so it is safe to
# run before every build.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # GUI toolkit
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # X11: screen grab, cursor, input recording, tests
  libx11-dev libxext-dev libxfixes-dev libxtst-dev libxrandr-dev libxdamage-dev x11-utils
  # media
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libavdevice-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  # sound for the screen encoder: the PulseAudio simple client API
  libpulse-dev
  # tests
  libgtest-dev libgmock-dev xvfb openbox xdotool xauth
  ffmpeg imagemagick netpbm libjpeg-turbo-progs
  # programs the tests start: xsetroot paints the root window, curl is an
  # HTTP client of the broadcast, ip sets up the broadcast tests' own network,
  # stress loads the machine in the real-time test
  x11-xserver-utils curl iproute2 stress
  # a private sound server (null sink, test tone) for the sound tests
  pulseaudio pulseaudio-utils
  trayer
  # installing and packaging: manual page, .deb dependencies, menu entry checks
  help2man dpkg-dev file desktop-file-utils
  # Debian's and the software centres' checks of the package
  lintian appstream
  # a private session bus and a notification server for the notification test
  dbus-daemon dunst
  # RTF files of the comment window opened by real word processors in tests
  abiword
  unrtf
)

# `bootstrap.sh --list` prints the list, for the check that every program the
# tests start comes from one of these packages.
if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${PACKAGES[@]}"
  exit 0
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
