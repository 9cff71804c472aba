#!/bin/sh
# The meter's batch: 100 one-minute 44.1 kHz 16-bit mono files measured with
# one job and with two (files a second, times real time, the scaling), peak
# memory of each run, and the peak memory of two jobs over two 30-minute files
# (memory must not grow with a file's length), and the rate with a report a
# file (--report-dir). What a file's record (its SHA-256) costs beside its
# measurement: tarvo_bench --benchmark_filter=OneMinute. One and two jobs take turns,
# RUNS times each, and the quickest run of each counts: a busy machine only
# ever slows a run down.
# usage: bench/meter_batch.sh [BUILD_DIR] [FILES] [RUNS]   (defaults: build 100 3)
set -eu
build=${1:-build}
count=${2:-100}
runs=${3:-3}
cli=$build/cli/tarvo-cli
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# A steady 3150 Hz tone (the meter's work does not depend on the flutter).
i=0
while [ "$i" -lt "$count" ]; do
    sox -n -r 44100 -b 16 -c 1 "$dir/take$i.wav" synth 60 sine 3150 vol 0.5
    i=$((i + 1))
done
sox -n -r 44100 -b 16 -c 1 "$dir/long1.wav" synth 1800 sine 3150 vol 0.5
cp "$dir/long1.wav" "$dir/long2.wav"
ls "$dir"/take*.wav > "$dir/list.txt"
cat "$dir"/*.wav > /dev/null  # read once, so no run pays for the disk

# run NAME JOBS LIST: wall seconds and peak memory of one batch.
run() {
    /usr/bin/time -v "$cli" --meter --jobs "$2" --files-from "$3" --summary-csv "$dir/$1.csv" \
        >/dev/null 2>"$dir/$1.time" || [ $? -le 3 ] || { cat "$dir/$1.time"; exit 1; }
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/$1.time" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/$1.time")
    cpu=$(sed -n 's/.*\(User\|System\) time (seconds): //p' "$dir/$1.time" | awk '{ s += $1 } END { print s }')
    echo "$wall $rss $cpu"
}

one= two=
i=0
while [ "$i" -lt "$runs" ]; do
    set -- $(run one 1 "$dir/list.txt")
    if [ -z "$one" ] || awk -v a="$1" -v b="$one" 'BEGIN { exit !(a < b) }'; then
        one=$1 oneRss=$2 oneCpu=$3
    fi
    set -- $(run two 2 "$dir/list.txt")
    if [ -z "$two" ] || awk -v a="$1" -v b="$two" 'BEGIN { exit !(a < b) }'; then
        two=$1 twoRss=$2 twoCpu=$3
    fi
    i=$((i + 1))
done
# The same rows, whatever order the files finished in (and whenever).
when='s/,[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}([+-][0-9]{2}:[0-9]{2}|Z),/,,/'
sed -E "$when" "$dir/one.csv" | sort > "$dir/one.sorted"
sed -E "$when" "$dir/two.csv" | sort > "$dir/two.sorted"
cmp -s "$dir/one.sorted" "$dir/two.sorted" || { echo "the two runs' summaries differ"; exit 1; }
# The processor time shows what the machine's other load hides from the wall
# time: two jobs cost no more work than one.
awk -v n="$count" -v one="$one" -v two="$two" -v r1="$oneRss" -v r2="$twoRss" -v c1="$oneCpu" -v c2="$twoCpu" 'BEGIN {
    printf "1 job:  %6.2f s  %6.1f files/s  %6.0fx real time  cpu %6.2f s  peak %.1f MiB\n", one, n / one, n * 60 / one, c1, r1 / 1024
    printf "2 jobs: %6.2f s  %6.1f files/s  %6.0fx real time  cpu %6.2f s  peak %.1f MiB\n", two, n / two, n * 60 / two, c2, r2 / 1024
    printf "scaling: %.2f times the one-job rate\n", one / two
}'

# A report a file, written as each is measured: the rate with --report-dir.
mkdir "$dir/reports"
/usr/bin/time -v "$cli" --meter --jobs 2 --files-from "$dir/list.txt" --report-dir "$dir/reports" \
    >/dev/null 2>"$dir/reports.time" || [ $? -le 3 ] || { cat "$dir/reports.time"; exit 1; }
reports=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/reports.time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
awk -v n="$count" -v s="$reports" -v two="$two" -v made="$(ls "$dir/reports" | wc -l)" 'BEGIN {
    printf "2 jobs with --report-dir: %6.2f s  %6.1f files/s  (%d reports; %.2f times the time without)\n", s, n / s, made, s / two
}'

printf '%s\n%s\n' "$dir/long1.wav" "$dir/long2.wav" > "$dir/long.txt"
set -- $(run long 2 "$dir/long.txt")
awk -v s="$1" -v r="$2" 'BEGIN {
    printf "2 jobs over two 30-minute files: %.2f s, peak %.1f MiB for the process\n", s, r / 1024
}'
