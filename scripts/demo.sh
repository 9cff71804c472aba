#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the main job on the
# bundled recording: the header figures, the frequency track's average and
# the wow-and-flutter figure, with the plot written to plot.png; then the
# standards meter's figures of the same recording, its five views written
# to meter.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh -DTARVO_BUILD_TESTS=OFF -DTARVO_BUILD_BENCH=OFF
build/cli/tarvo-cli --chunk 256 --header --low 20 --high 8000 --freqs --wow --png plot.png samples/tone3k.wav
build/cli/tarvo-cli --meter --meter-png meter.png samples/tone3k.wav
