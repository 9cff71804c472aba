#!/bin/sh
# The standards meter over a 60-minute 44.1 kHz 16-bit mono recording:
# wall time and processor time (user + system: the fairer figure on a busy
# machine), each with its factor over real time, and peak memory.
# usage: bench/meter_hour.sh [BUILD_DIR]   (default: build)
set -eu
build=${1:-build}
cli=$build/cli/tarvo-cli
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# A 3150 Hz tone, an hour long (the meter's work does not depend on the flutter).
sox -n -r 44100 -b 16 -c 1 "$dir/hour.wav" synth 3600 sine 3150 vol 0.5
ls -l "$dir/hour.wav"
/usr/bin/time -v "$cli" --meter "$dir/hour.wav" 2>"$dir/time.txt" >"$dir/out.txt" || { cat "$dir/time.txt"; exit 1; }
cat "$dir/out.txt"
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/time.txt")
cpu=$(sed -n 's/.*User time (seconds): //p;s/.*System time (seconds): //p' "$dir/time.txt" | awk '{ s += $1 } END { print s }')
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time.txt")
secs=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
echo "wall: $wall ($secs s), $(awk -v s="$secs" 'BEGIN { printf "%.0f", 3600 / s }')x real time"
echo "processor: $cpu s, $(awk -v s="$cpu" 'BEGIN { printf "%.0f", 3600 / s }')x real time (load: $(cut -d' ' -f1-3 /proc/loadavg))"
echo "peak memory: $rss KiB ($(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }') MiB)"
