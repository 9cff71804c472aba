#!/usr/bin/env bash
# Times tarvo-cli against its yardsticks on the same 1 MiB WAVE file, the two
# sides of each pair run alternately so that both see the same machine load,
# and prints the median of each side and their ratio:
#   - --chunk 2048 --spectrogram --png  against  sox FILE -n spectrogram -o OUT.png
#   - --chunk 2048 --freqs, 40 times in one call  against  the FFTW pipeline, 40 times
#     (its plan made by estimate, then by measuring)
#   - --header  against  --version (the difference, in ms)
# then the window's Max Freqs and SPECTROGRAM offscreen against the same
# commands on the windowless form tarvo-cli runs (Google Benchmark).
# usage: bench/run_timings.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-15}
cli=$build/cli/tarvo-cli
pipeline=$build/bench/tarvo-fftw-pipeline
window=$build/bench/tarvo_window_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wav=$work/bench.wav
python3 "$here/make_bench_wave.py" "$wav"

now() { date +%s%N; }
# pair NAME "COMMAND A" "COMMAND B": alternate A and B $runs times (after one
# warm-up each) and print the medians in ms and A/B.
pair() {
    local name=$1 a=$2 b=$3 i t0 t1
    : >"$work/a" && : >"$work/b"
    eval "$a" >/dev/null 2>&1 && eval "$b" >/dev/null 2>&1
    for ((i = 0; i < runs; i++)); do
        t0=$(now); eval "$a" >/dev/null 2>&1; t1=$(now); echo $(((t1 - t0) / 1000)) >>"$work/a"
        t0=$(now); eval "$b" >/dev/null 2>&1; t1=$(now); echo $(((t1 - t0) / 1000)) >>"$work/b"
    done
    python3 - "$name" "$work/a" "$work/b" <<'PY'
import statistics, sys
name, fa, fb = sys.argv[1:]
a = statistics.median(int(x) for x in open(fa)) / 1000
b = statistics.median(int(x) for x in open(fb)) / 1000
print(f"{name}: {a:.2f} ms against {b:.2f} ms, ratio {a / b:.2f}, difference {a - b:.2f} ms")
PY
}

freqs40=$(printf ' --freqs%.0s' $(seq 40))
pair "spectrogram PNG, tarvo-cli against sox" \
    "'$cli' --chunk 2048 --spectrogram --png '$work/t.png' '$wav'" \
    "sox '$wav' -n spectrogram -o '$work/s.png'"
pair "Max Freqs x 40, tarvo-cli against the FFTW pipeline" \
    "'$cli' --chunk 2048 $freqs40 '$wav'" \
    "'$pipeline' '$wav' 40"
pair "Max Freqs x 40, tarvo-cli against the FFTW pipeline planned by measuring" \
    "'$cli' --chunk 2048 $freqs40 '$wav'" \
    "'$pipeline' '$wav' 40 --measure"
pair "tarvo-cli --header against --version" \
    "'$cli' --header '$wav'" \
    "'$cli' --version"

if [ -x "$window" ]; then
    QT_QPA_PLATFORM=offscreen "$window" --benchmark_min_time=1 --benchmark_format=json \
        --benchmark_out="$work/window.json" --benchmark_out_format=json >/dev/null 2>&1
    python3 - "$work/window.json" <<'PY'
import json, sys
rows = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
for cmd in ("MaxFreqs", "Spectrogram"):
    w, f = rows["BM_Window" + cmd], rows["BM_Form" + cmd]
    print(f"{cmd} in the window against the windowless form: {w['real_time']:.1f} ms against "
          f"{f['real_time']:.1f} ms (ratio {w['real_time'] / f['real_time']:.2f}); CPU {w['cpu_time']:.1f} ms "
          f"against {f['cpu_time']:.1f} ms (ratio {w['cpu_time'] / f['cpu_time']:.2f})")
PY
fi
