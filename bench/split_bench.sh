#!/usr/bin/env bash
# Times packrift splitting a DVD-style VOB of about 1 GB against two baselines
# measured in the same run: dd copying the input in 2,048,000-byte blocks (the
# user-space copy floor) and ffmpeg's stream copy of the same two streams.
# Runs alternate, outputs are removed (and dirty pages flushed) before each
# run, and the medians, their ratios and packrift's peak resident memory are
# printed. packrift's outputs are compared with ffmpeg's before anything is
# reported.
#
# Usage: bench/split_bench.sh [RUNS]    (RUNS defaults to 5)
# Environment: PACKRIFT=path skips the release build and times that binary;
#              BENCH_DIR=dir keeps the input and the outputs there instead of
#              bench/cache (they must share one filesystem).
# Exit status: 0 when the outputs match and every target is met, 1 when the
# outputs differ or a step fails, 2 when the outputs match but a target is missed.
set -euo pipefail

runs=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${BENCH_DIR:-$root/bench/cache}
input=$cache/bench.vob
outdir=$cache/out

# Targets of the issue: wall time against the copy floor and against ffmpeg,
# and peak resident memory.
max_ratio_to_dd=1.3
min_speedup_over_ffmpeg=3
max_rss_kib=8192

# The input: 780 s of MPEG-2 video at the highest quality the encoder offers
# (about 9.3 Mbit/s on this source) and two AC-3 substreams, muxed by ffmpeg's
# DVD muxer; about 1 GB, made once (under a minute on two cores) and cached.
make_input() {
    mkdir -p "$cache"
    echo "making $input (once; it is cached)..."
    local seconds=780
    ffmpeg -nostdin -v error -y \
        -f lavfi -i "testsrc2=size=720x480:rate=30000/1001:duration=$seconds" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
        -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=$seconds" \
        -map 0:v -map 1:a -map 2:a \
        -c:v mpeg2video -q:v 1 -qmin 1 -g 15 -pix_fmt yuv420p \
        -c:a ac3 -b:a:0 448k -b:a:1 384k -ac 2 -ar 48000 \
        -f dvd "$input.part"
    mv "$input.part" "$input"
}

for tool in ffmpeg dd /usr/bin/time awk cmp; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

if [ -z "${PACKRIFT:-}" ]; then
    (cd "$root" && cmake --workflow --preset release >/dev/null)
    PACKRIFT=$root/build/release/src/packrift
fi
[ -f "$input" ] || make_input
mkdir -p "$outdir"

# packrift names its outputs after the input and writes them beside it.
pr_video=$cache/bench.m2v
pr_audio=$cache/bench-stream0.ac3
ff_video=$outdir/ffmpeg.m2v
ff_audio=$outdir/ffmpeg.ac3
dd_copy=$outdir/dd.vob

# The command line of each tool; ffmpeg runs with -v fatal because its AC-3
# muxer complains about repeated timestamps, harmlessly.
command_of() {
    case $1 in
        packrift) cmd=("$PACKRIFT" "$input" -video 0 -audio 0) ;;
        dd) cmd=(dd if="$input" of="$dd_copy" bs=2048000 status=none) ;;
        ffmpeg) cmd=(ffmpeg -nostdin -v fatal -y -i "$input"
                     -map 0:v:0 -c copy -f mpeg2video "$ff_video"
                     -map 0:a:0 -c copy -f ac3 "$ff_audio") ;;
    esac
}
outputs_of() {
    case $1 in
        packrift) echo "$pr_video $pr_audio" ;;
        dd) echo "$dd_copy" ;;
        ffmpeg) echo "$ff_video $ff_audio" ;;
    esac
}

declare -A times rss last
# Removes the tool's outputs, flushes what is dirty, then times one run;
# appends the wall time (s) and the peak resident set (KiB).
timed_run() {
    local tool=$1
    # shellcheck disable=SC2046
    rm -f $(outputs_of "$tool")
    sync
    local cmd start end
    command_of "$tool"
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$outdir/rss" "${cmd[@]}" >/dev/null
    end=$(date +%s%N)
    last[$tool]=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
    times[$tool]+="${last[$tool]} "
    rss[$tool]+="$(cat "$outdir/rss") "
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { tr ' ' '\n' | grep . | sort -g | tail -1; }

input_bytes=$(stat -c %s "$input")
echo "input: $input ($input_bytes bytes)"
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
cat "$input" >/dev/null  # warm the page cache

order=(packrift dd ffmpeg)
for ((round = 1; round <= runs; ++round)); do
    # Rotate the order so that no tool always follows the same one.
    for ((k = 0; k < 3; ++k)); do
        timed_run "${order[(round + k) % 3]}"
    done
    echo "round $round: packrift ${last[packrift]} s, dd ${last[dd]} s, ffmpeg ${last[ffmpeg]} s"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
for pair in "$pr_video:$ff_video" "$pr_audio:$ff_audio"; do
    if ! cmp "${pair%%:*}" "${pair##*:}"; then
        echo "FAIL: packrift's ${pair%%:*} differs from ffmpeg's stream copy" >&2
        status=1
    fi
done
[ $status -eq 0 ] || exit $status
echo "outputs: identical to ffmpeg's stream copy ($(stat -c %s "$pr_video") + $(stat -c %s "$pr_audio") bytes)"

t_pr=$(echo "${times[packrift]}" | median)
t_dd=$(echo "${times[dd]}" | median)
t_ff=$(echo "${times[ffmpeg]}" | median)
peak=$(echo "${rss[packrift]}" | maximum)
echo "runs: $runs each, alternating"
echo "packrift  all: ${times[packrift]}"
echo "dd        all: ${times[dd]}"
echo "ffmpeg    all: ${times[ffmpeg]}"
awk -v pr="$t_pr" -v dd="$t_dd" -v ff="$t_ff" -v peak="$peak" -v bytes="$input_bytes" \
    -v max_dd="$max_ratio_to_dd" -v min_ff="$min_speedup_over_ffmpeg" -v max_rss="$max_rss_kib" '
    function verdict(ok) { if (!ok) missed = 1; return ok ? "met" : "MISSED" }
    BEGIN {
        printf "median wall time: packrift %.3f s (%.0f MB/s), dd %.3f s, ffmpeg %.3f s\n", pr, bytes / pr / 1e6, dd, ff
        printf "packrift / dd copy:      %.2f  (target <= %s: %s)\n", pr / dd, max_dd, verdict(pr / dd <= max_dd)
        printf "ffmpeg / packrift:       %.2f  (target >= %s: %s)\n", ff / pr, min_ff, verdict(ff / pr >= min_ff)
        printf "packrift peak resident:  %d KiB (%.2f MiB; target <= %d KiB: %s)\n", peak, peak / 1024, max_rss, verdict(peak <= max_rss)
        exit missed ? 2 : 0
    }' || status=$?
exit $status
