#!/usr/bin/env bash
# Makes the README's pictures with the programs themselves:
# docs/window.png (the window after Get Header, Max Freqs and Wow&Flutter on
# the bundled recording), docs/plot.png (tarvo-cli's spectrogram of it) and
# docs/meter.png (the standards meter's five views of a synthesised 3150 Hz
# tone of known wow and flutter, scripts/make_meter_tone.py, played at
# 33 1/3 rpm).
# Needs a build in build/ (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p docs
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
XDG_CONFIG_HOME=$profile QT_QPA_PLATFORM=offscreen build/make-pictures samples/tone3k.wav docs/window.png
build/cli/tarvo-cli --chunk 256 --header --low 20 --high 8000 --spectrogram --png docs/plot.png \
  samples/tone3k.wav >/dev/null
python3 scripts/make_meter_tone.py "$profile/tone3150.wav"
XDG_CONFIG_HOME=$profile build/cli/tarvo-cli --meter --nominal 3150 --rpm 33.333 --meter-png docs/meter.png \
  "$profile/tone3150.wav" >/dev/null
echo "wrote docs/window.png, docs/plot.png and docs/meter.png"
