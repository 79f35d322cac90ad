#!/usr/bin/env bash
# Installs everything the build, the tests and the program need on Debian 12.
# Idempotent and non-interactive; runs as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-charts-dev qt6-serialport-dev
  libgl-dev libudev-dev pxlib-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth fonts-liberation
  qt6-qpa-plugins
  xdotool x11-apps netpbm
  scdoc librsvg2-bin lintian appstream dpkg-dev file man-db
  libmosquitto-dev mosquitto mosquitto-clients openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
