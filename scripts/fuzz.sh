#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/, writes the seed
# corpus with the generator in fuzz/, and runs each target for FUZZ_SECONDS
# (60 by default). A crash, a sanitizer finding or an input that takes too
# long fails the script; the input is left in build-fuzz/artifacts/ and
# belongs in fuzz/regressions/TARGET/ once the fault is mended, where the
# test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
jobs=${JOBS:-$(nproc)}
cc=${FUZZ_CC:-clang-14}
cxx=${FUZZ_CXX:-clang++-14}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DTARVO_FUZZ=ON \
  -DTARVO_BUILD_GUI=OFF -DTARVO_BUILD_TESTS=OFF -DTARVO_BUILD_BENCH=OFF "$@"
targets=(wave text meter sound cli batch speedlog decks)
cmake --build build-fuzz -j"$jobs" --target make-fuzz-seeds "${targets[@]/#/fuzz_}"
rm -rf build-fuzz/seeds
build-fuzz/fuzz/make-fuzz-seeds build-fuzz/seeds
mkdir -p build-fuzz/artifacts
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# A leak inside libvorbis (third-party) is suppressed; see the file.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
status=0
for t in "${targets[@]}"; do
  # Sound files of two seconds, which the meter needs, are longer than the rest
  # (its longest seed is 8-bit stereo at 8000 Hz: 33 kB).
  max_len=16384
  [ "$t" = meter ] && max_len=65536
  mkdir -p "build-fuzz/corpus/$t"
  # The mended inputs of a target, where it has any (git keeps no empty folder).
  regressions=()
  [ -d "fuzz/regressions/$t" ] && regressions=("fuzz/regressions/$t")
  # A target's dictionary of the words its format is made of, where it has one.
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== fuzz_$t for ${seconds} s"
  if ! build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=$max_len \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" "${dict[@]}" \
      "build-fuzz/corpus/$t" "build-fuzz/seeds/$t" "${regressions[@]}"; then
    echo "fuzz_$t failed: the input is in build-fuzz/artifacts/" >&2
    status=1
  fi
done
exit $status
