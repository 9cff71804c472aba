#!/usr/bin/env bash
# Builds everything (core, CLI, window, tests) with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ and runs the whole test suite
# there. Any finding of either sanitizer fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_SANITIZE=ON \
  -DTARVO_BUILD_BENCH=OFF "${launcher[@]}" "$@"
cmake --build build-asan -j"$jobs"
# Leaks are findings too, the window's included.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# A leak inside libvorbis (third-party, reached through libsndfile on a
# malformed Ogg file) is suppressed; see the file.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
cd build-asan
ctest --output-on-failure -j"$jobs"
