#!/usr/bin/env bash
# Makes the README's pictures with the programs themselves:
# docs/window.png (the window after Get Header, Max Freqs and Wow&Flutter on
# the bundled recording), docs/plot.png (tarvo-cli's spectrogram of it) and
# docs/meter.png (the standards meter's five views of a synthesised 3150 Hz
# tone of known wow and flutter, scripts/make_meter_tone.py, played at
# 33 1/3 rpm), docs/report.png and docs/batch-report.png (the first pages of
# the one-page report and of a batch's report, as pdftoppm draws them).
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
# The one-page report of the same tone with limits it fails, and a batch's
# report over twelve takes of a worn turntable, each its first page.
XDG_CONFIG_HOME=$profile build/cli/tarvo-cli --meter --nominal 3150 --rpm 33.333 --limit-weighted 0.05 \
  --limit-speed 0.5 --operator "A. Archivist" --meter-paper A4 --meter-report "$profile/report.pdf" \
  "$profile/tone3150.wav" >/dev/null || [ $? -eq 3 ]
pdftoppm -r 80 -png -singlefile "$profile/report.pdf" docs/report
mkdir -p "$profile/transfers"
swings=(0.3 0.5 0.6 0.7 0.8 0.9 1.0 1.1 1.2 1.5 2.0 0.4)
speeds=(0.1 -0.2 0.3 0.0 -0.4 0.2 0.6 -0.1 0.4 -0.7 0.2 0.1)
for i in "${!swings[@]}"; do
  python3 scripts/make_meter_tone.py "$profile/transfers/side$((i + 1)).wav" "${swings[$i]}" "${speeds[$i]}" 6
done
printf 'not a recording\n' > "$profile/transfers/side13.wav"
cli=$PWD/build/cli/tarvo-cli
(cd "$profile" && XDG_CONFIG_HOME=$profile "$cli" --meter --nominal 3150 --rpm 33.333 --limit-weighted 0.05 \
  --limit-speed 0.5 --operator "A. Archivist" --meter-paper A4 --batch-report batch.pdf transfers/side*.wav \
  >/dev/null 2>&1) || [ $? -le 3 ]
pdftoppm -r 80 -png -f 1 -l 1 -singlefile "$profile/batch.pdf" docs/batch-report
echo "wrote docs/window.png, docs/plot.png, docs/meter.png, docs/report.png and docs/batch-report.png"
