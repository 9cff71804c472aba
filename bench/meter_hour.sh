#!/bin/sh
# The standards meter over 60-minute 44.1 kHz 16-bit mono recordings: a
# steady tone (its deviation is the quantisation's noise alone, the hardest
# case for the two-sigma statistics) and, where the benchmarks are built, a
# tone with a tape's flutter. For each: wall time and processor time (user +
# system: the fairer figure on a busy machine), each with its factor over
# real time, and peak memory.
# usage: bench/meter_hour.sh [BUILD_DIR] [RUNS]   (defaults: build 1; with
# several runs, the quickest is given)
set -eu
build=${1:-build}
runs=${2:-1}
cli=$build/cli/tarvo-cli
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sox -n -r 44100 -b 16 -c 1 "$dir/steady.wav" synth 3600 sine 3150 vol 0.5
if [ -x "$build/bench/make-flutter-tone" ]; then
    "$build/bench/make-flutter-tone" "$dir/flutter.wav" 3600
fi

for file in "$dir"/steady.wav "$dir"/flutter.wav; do
    [ -f "$file" ] || continue
    cat "$file" > /dev/null  # read once, so no run pays for the disk
    best=
    i=0
    while [ "$i" -lt "$runs" ]; do
        /usr/bin/time -v "$cli" --meter "$file" 2>"$dir/time.txt" >"$dir/out.txt" || { cat "$dir/time.txt"; exit 1; }
        cpu=$(sed -n 's/.*User time (seconds): //p;s/.*System time (seconds): //p' "$dir/time.txt" | awk '{ s += $1 } END { print s }')
        if [ -z "$best" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$cpu
            cp "$dir/time.txt" "$dir/best.txt"
        fi
        i=$((i + 1))
    done
    echo "== $(basename "$file" .wav) tone, $(stat -c %s "$file") bytes"
    grep -E "weighted peak|flutter rms" "$dir/out.txt"
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/best.txt")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/best.txt")
    secs=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    echo "wall: $wall ($secs s), $(awk -v s="$secs" 'BEGIN { printf "%.0f", 3600 / s }')x real time"
    echo "processor: $best s, $(awk -v s="$best" 'BEGIN { printf "%.0f", 3600 / s }')x real time (load: $(cut -d' ' -f1-3 /proc/loadavg))"
    echo "peak memory: $rss KiB ($(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }') MiB)"
done
