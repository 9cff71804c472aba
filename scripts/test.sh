#!/usr/bin/env bash
# Installs what the project needs, builds it from scratch and runs the whole
# test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
rm -rf build
bash scripts/build.sh
cd build
# The loopback tests talk to a real sound server started for each test;
# one that misses its device once under load is run once more, and a
# fault that comes back still fails.
ctest --output-on-failure --repeat until-pass:2 -j2
