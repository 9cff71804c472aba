#!/usr/bin/env bash
# Makes the README's two pictures from the bundled recording with the
# programs themselves: docs/window.png (the window after Get Header, Max Freqs
# and Wow&Flutter) and docs/plot.png (tarvo-cli's spectrogram of it).
# Needs a build in build/ (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p docs
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
XDG_CONFIG_HOME=$profile QT_QPA_PLATFORM=offscreen build/make-pictures samples/tone3k.wav docs/window.png
build/cli/tarvo-cli --chunk 256 --header --low 20 --high 8000 --spectrogram --png docs/plot.png \
  samples/tone3k.wav >/dev/null
echo "wrote docs/window.png and docs/plot.png"
