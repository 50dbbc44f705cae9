#!/usr/bin/env bash
# Times packrift splitting a DVD-style VOB of about 1 GB against two baselines
# measured in the same run: dd copying the input in 2,048,000-byte blocks (the
# user-space copy floor) and ffmpeg's stream copy of the same two streams;
# and the same split with the stream report (-streams) beside it.
# An untimed pass first checks packrift's outputs against ffmpeg's (cmp).
# Then the runs alternate; before each one every output is removed, the input
# is copied once untimed (so that every run finds memory in the same state)
# and dirty pages are flushed. The medians, their ratios and packrift's peak
# resident memory are printed.
#
# Usage: bench/split_bench.sh [RUNS]    (RUNS defaults to 9)
# Environment:
#   PACKRIFT=path   time that binary instead of building the release preset
#   BASELINE=path   also time another packrift build (say, of an earlier
#                   commit) in the same rounds, and report the two side by side
#   BENCH_DIR=dir   keep the input and every output there instead of
#                   bench/cache (one filesystem for all of them)
# Exit status: 0 when the outputs match and every target is met, 1 when an
# output differs or a step fails, 2 when the outputs match but a target is missed.
set -euo pipefail

runs=${1:-9}
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${BENCH_DIR:-$root/bench/cache}
input=$cache/bench.vob
outdir=$cache/out

# The targets: wall time against the copy floor and against ffmpeg, and peak
# resident memory.
max_ratio_to_dd=1.3
min_speedup_over_ffmpeg=3
max_rss_kib=8192
max_ratio_of_report=1.05

# The input: 780 s of MPEG-2 video at the encoder's highest quality (about
# 9.3 Mbit/s on this source) and two AC-3 substreams, muxed by ffmpeg's DVD
# muxer; about 1 GB, made once (under a minute on two cores) and cached.
make_input() {
    local seconds=780
    mkdir -p "$cache"
    echo "making $input (once; it is cached)..."
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

for tool in ffmpeg dd /usr/bin/time awk cmp sync; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [ -z "${PACKRIFT:-}" ]; then
    (cd "$root" && cmake --workflow --preset release >/dev/null)
    PACKRIFT=$root/build/release/src/packrift
fi
[ -f "$input" ] || make_input
mkdir -p "$outdir"

# packrift writes beside its input: the split with the report, and the
# baseline, get hard links of the input of their own.
tools=(packrift dd ffmpeg streams)
mkdir -p "$cache/streams"
ln -f "$input" "$cache/streams/bench.vob"
if [ -n "${BASELINE:-}" ]; then
    mkdir -p "$cache/baseline"
    ln -f "$input" "$cache/baseline/bench.vob"
    tools+=(baseline)
fi

# The command line and the outputs of each tool. ffmpeg runs with -v fatal
# because its AC-3 muxer complains about repeated timestamps, harmlessly.
command_of() {
    case $1 in
        packrift) cmd=("$PACKRIFT" "$input" -video 0 -audio 0) ;;
        streams) cmd=("$PACKRIFT" "$cache/streams/bench.vob" -video 0 -audio 0 -streams) ;;
        baseline) cmd=("$BASELINE" "$cache/baseline/bench.vob" -video 0 -audio 0) ;;
        dd) cmd=(dd if="$input" of="$outdir/dd.vob" bs=2048000 status=none) ;;
        ffmpeg) cmd=(ffmpeg -nostdin -v fatal -y -i "$input"
                     -map 0:v:0 -c copy -f mpeg2video "$outdir/ffmpeg.m2v"
                     -map 0:a:0 -c copy -f ac3 "$outdir/ffmpeg.ac3") ;;
    esac
}
outputs_of() {
    case $1 in
        packrift) echo "$cache/bench.m2v $cache/bench-stream0.ac3" ;;
        streams) echo "$cache/streams/bench.m2v $cache/streams/bench-stream0.ac3" ;;
        baseline) echo "$cache/baseline/bench.m2v $cache/baseline/bench-stream0.ac3" ;;
        dd) echo "$outdir/dd.vob" ;;
        ffmpeg) echo "$outdir/ffmpeg.m2v $outdir/ffmpeg.ac3" ;;
    esac
}

remove_all_outputs() {
    local tool
    for tool in "${tools[@]}"; do
        # shellcheck disable=SC2046
        rm -f $(outputs_of "$tool")
    done
}

# Compares packrift's outputs (with the report, and the baseline's) with
# ffmpeg's stream copy.
check_outputs() {
    local tool video audio pair status=0
    for tool in "${tools[@]}"; do
        case $tool in dd | ffmpeg) continue ;; esac
        read -r video audio <<<"$(outputs_of "$tool")"
        for pair in "$video:$outdir/ffmpeg.m2v" "$audio:$outdir/ffmpeg.ac3"; do
            if ! cmp "${pair%%:*}" "${pair##*:}"; then
                echo "FAIL: $tool's ${pair%%:*} differs from ffmpeg's stream copy" >&2
                status=1
            fi
        done
    done
    return $status
}

# Removes every output, so that no run truncates a file or finds dirty pages
# of another run to write back. Then, so that every run finds free memory in
# the same state whichever tool ran before it, copies the input once, untimed,
# and removes the copy: on a virtual machine a tool that followed ffmpeg's run
# was often up to twice as slow, as any run is when it starts seconds after the
# outputs it replaces were freed (the host takes such pages back). Last, flushes.
prepare_run() {
    remove_all_outputs
    dd if="$input" of="$outdir/settle.vob" bs=2048000 status=none
    rm -f "$outdir/settle.vob"
    sync
}

declare -A times rss last
# Times one run of tool after prepare_run and records its wall time (s) and
# peak resident set (KiB).
timed_run() {
    local tool=$1 cmd start end
    prepare_run
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
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), $(uname -r)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# One untimed pass of every tool first: it warms the page cache, and the
# outputs are checked before anything is timed.
for tool in "${tools[@]}"; do
    command_of "$tool"
    "${cmd[@]}" >/dev/null
done
check_outputs || exit 1
read -r video audio <<<"$(outputs_of packrift)"
echo "outputs: identical to ffmpeg's stream copy ($(stat -c %s "$video") + $(stat -c %s "$audio") bytes)"

count=${#tools[@]}
for ((round = 1; round <= runs; ++round)); do
    # Rotate the order so that no tool always runs first or follows the same one.
    line="round $round:"
    for ((k = 0; k < count; ++k)); do
        tool=${tools[(round + k) % count]}
        timed_run "$tool"
        line+=" $tool ${last[$tool]} s"
    done
    echo "$line"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

remove_all_outputs

status=0
echo "runs: $runs of each, alternating; wall times in s:"
for tool in "${tools[@]}"; do
    printf '  %-9s %s\n' "$tool" "${times[$tool]}"
done
t_pr=$(echo "${times[packrift]}" | median)
t_dd=$(echo "${times[dd]}" | median)
t_ff=$(echo "${times[ffmpeg]}" | median)
t_streams=$(echo "${times[streams]}" | median)
peak=$(echo "${rss[packrift]}" | maximum)
if [ -n "${BASELINE:-}" ]; then
    t_base=$(echo "${times[baseline]}" | median)
    awk -v pr="$t_pr" -v base="$t_base" -v dd="$t_dd" -v peak="$(echo "${rss[baseline]}" | maximum)" 'BEGIN {
        printf "baseline: median %.3f s (%.2f x dd), peak resident %d KiB; packrift / baseline: %.2f\n",
            base, base / dd, peak, pr / base }'
fi
awk -v pr="$t_pr" -v dd="$t_dd" -v ff="$t_ff" -v peak="$peak" -v bytes="$input_bytes" -v st="$t_streams" \
    -v max_dd="$max_ratio_to_dd" -v min_ff="$min_speedup_over_ffmpeg" -v max_rss="$max_rss_kib" \
    -v max_st="$max_ratio_of_report" '
    function verdict(ok) { if (!ok) missed = 1; return ok ? "met" : "MISSED" }
    BEGIN {
        printf "median wall time: packrift %.3f s (%.0f MB/s), dd %.3f s, ffmpeg %.3f s\n", pr, bytes / pr / 1e6, dd, ff
        printf "packrift / dd copy:      %.2f  (target <= %s: %s)\n", pr / dd, max_dd, verdict(pr / dd <= max_dd)
        printf "ffmpeg / packrift:       %.2f  (target >= %s: %s)\n", ff / pr, min_ff, verdict(ff / pr >= min_ff)
        printf "packrift peak resident:  %d KiB (%.2f MiB; target <= %d KiB: %s)\n", peak, peak / 1024, max_rss, verdict(peak <= max_rss)
        printf "with -streams / without: %.3f (median %.3f s; target <= %s: %s)\n", st / pr, st, max_st, verdict(st / pr <= max_st)
        exit missed ? 2 : 0
    }' || status=$?
exit $status
