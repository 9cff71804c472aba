#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and run.
# Run as root on a fresh machine (it is what CI runs first).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  build-essential cmake ninja-build pkg-config git
  sox python3
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev
  libqt6multimedia6 qt6-qpa-plugins
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pulseaudio
  libgl1-mesa-dev libxkbcommon-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libsndfile1-dev libssl-dev libpng-dev qt6-charts-dev libqt6opengl6-dev
  libfftw3-dev clang libfuzzer-14-dev libclang-rt-14-dev
  pulseaudio pulseaudio-utils libpulse-dev
  xvfb xauth xdotool fonts-dejavu-core
  help2man cmark-gfm lintian desktop-file-utils appstream man-db
  fonts-liberation
  sox time
  parallel poppler-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
