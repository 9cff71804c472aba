#!/usr/bin/env bash
# Installs what the project needs, builds it from scratch and runs the whole
# test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
rm -rf build
bash scripts/build.sh
cd build
ctest --output-on-failure -j2
