#!/usr/bin/env bash
# Times packrift against baselines measured in the same run, on a DVD-style
# VOB of about 900 MB (video, two AC-3 tracks, an LPCM and an MPEG audio
# track, two subpicture tracks) and on a one-title disc made of it by
# dvdauthor:
#   - the split of video and AC-3 against dd copying the input in
#     2,048,000-byte blocks (the user-space copy floor) and ffmpeg's stream
#     copy of the same two streams, and with the stream report beside it;
#   - the same split with the first subpicture track as VobSub beside it;
#   - the same split by the Debian package's hardened build (dpkg-buildflags)
#     and, with BASELINE, by another build (say, of an earlier commit), which
#     also reads the disc's title, the joined title and -all below (their
#     outputs the same byte for byte; time, peak memory and user CPU beside
#     this build's);
#   - video, AC-3, LPCM and MPEG audio in one pass against ffmpeg making the
#     same four outputs in one run;
#   - the disc's title 1 read with -title against the split of its VOB file,
#     in time and in peak memory;
#   - the same title read from an image of the disc made by genisoimage
#     -dvd-video (UDF) against the title read from the folder;
#   - title 1 of a second disc, the input cut in two halves that each start
#     their timestamps anew (one join: the timeline reads the navigation
#     packs' times, counts the pictures and holds the audio back), against
#     the split of that disc's VOB file, in time and in peak memory;
#   - the same title read from an image of the disc made by write_test_image
#     with 4 packs marked scrambled at each cell's start, read through the
#     stand-in libdvdcss (next to nothing to undo: the path is what is
#     timed), against the same image unmarked, read without it;
#   - title 1 with every stream it lists (-all) against its video alone, in
#     time and in peak memory, and against a plain copy of the same work
#     (bench/reference_copy.c, built here: its VOB file read once in blocks
#     of 2 MB, 2,048,000 bytes as dd's, and as many bytes as -all wrote
#     written in such blocks into as many files);
#   - -all on a VOB of the largest stream count a disc can hold (the video,
#     8 AC-3 and 32 subpicture streams), in peak memory: every output's stage
#     is allocated.
# An untimed pass first checks the outputs (cmp against ffmpeg's, the title's
# against the VOB file's, the joined title's video against its VOB file's and
# its report's join, -all's video and first AC-3 track against the VOB file's
# split, and every output of -all holding data). Then the runs alternate;
# before each one every output is removed, the input is copied once untimed
# (so that every run finds memory in the same state) and dirty pages are
# flushed. The medians, their ratios, the peak resident memory and the user
# CPU time are printed.
#
# Usage: bench/split_bench.sh [RUNS]    (RUNS defaults to 9)
# Environment:
#   PACKRIFT=path   time that binary instead of building the release preset
#   HARDENED=path   time that binary as the hardened one instead of building
#                   the package preset
#   BASELINE=path   also time another packrift build in the same rounds
#   WRITE_TEST_IMAGE=path, STANDIN_DVDCSS=path
#                   the test image writer and the stand-in libdvdcss instead
#                   of building them with the test preset
#   BENCH_DIR=dir   keep the inputs and every output there instead of
#                   bench/cache (one filesystem for all of them)
# Exit status: 0 when the outputs match and every target is met, 1 when an
# output differs or a step fails, 2 when the outputs match but a target is missed.
set -euo pipefail

runs=${1:-9}
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${BENCH_DIR:-$root/bench/cache}
input=$cache/bench5.vob
disc=$cache/disc
joined=$cache/joined
widest=$cache/outputs41.vob
outdir=$cache/out

# The targets: wall time against the copy floor, against ffmpeg and against
# the other builds and inputs, and peak resident memory.
max_ratio_to_dd=1.1
min_speedup_over_ffmpeg=3
max_rss_kib=8192
# User CPU time a GB of input: what packrift spends beyond the kernel's copies.
max_user_ms_per_gb=40
max_ratio_of_report=1.05
max_ratio_of_subpictures=1.05
max_ratio_to_baseline=1.02
# The titles' peak resident memory against the baseline build's.
max_rss_growth_over_baseline_kib=256
max_ratio_of_hardened=1.02
max_ratio_of_title=1.05
max_title_rss_growth_kib=1024
max_ratio_of_image=1.05
max_ratio_of_css=1.1
max_ratio_of_joined_title=1.05
# User CPU of the joined title against its VOB file's split, summed over the
# runs (one run is a few clock ticks): the timeline's count and queues.
max_user_of_joined_title=1.5
max_joined_title_rss_growth_kib=1024
max_ratio_of_all=1.1
max_ratio_of_all_to_copy=1.1
max_rss_all_streams_kib=32768

# The input: 780 s of MPEG-2 video at 7 Mbit/s, two AC-3 tracks, 16-bit
# stereo LPCM and MPEG audio, within DVD's 10.08 Mbit/s, muxed by ffmpeg's
# DVD muxer, and two subpicture tracks of a subtitle every 4 s added by
# spumux; about 900 MB, made once and cached. The disc is dvdauthor's
# one-title disc of it, its VOB file under 1 GiB.
make_input() {
    local seconds=780
    mkdir -p "$cache"
    echo "making $input (once; it is cached)..."
    ffmpeg -nostdin -v error -y \
        -f lavfi -i "testsrc2=size=720x480:rate=30000/1001:duration=$seconds" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
        -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=$seconds" \
        -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=$seconds" \
        -f lavfi -i "sine=frequency=880:sample_rate=48000:duration=$seconds" \
        -map 0:v -map 1:a -map 2:a -map 3:a -map 4:a \
        -c:v mpeg2video -b:v 7000k -maxrate 7500k -bufsize 1835k -g 15 -pix_fmt yuv420p \
        -c:a:0 ac3 -b:a:0 448k -c:a:1 ac3 -b:a:1 192k -c:a:2 pcm_dvd -c:a:3 mp2 -b:a:3 192k -ac 2 -ar 48000 \
        -f dvd "$input.muxed"
    ffmpeg -nostdin -v error -y -f lavfi -i "color=c=white:s=400x60,drawbox=x=10:y=10:w=200:h=40:color=red:t=fill" \
        -frames:v 1 "$cache/subtitle.png"
    local stream from=$input.muxed
    for stream in 0 1; do
        {
            echo '<subpictures format="NTSC"><stream>'
            awk -v n=$((seconds / 4)) -v png="$cache/subtitle.png" 'BEGIN {
                for (i = 0; i < n; ++i)
                    printf "<spu start=\"%d.5\" end=\"%d.5\" image=\"%s\" yoffset=\"380\"/>\n", 4 * i + 1, 4 * i + 3, png
            }'
            echo '</stream></subpictures>'
        } >"$cache/subtitles$stream.xml"
        spumux -s "$stream" "$cache/subtitles$stream.xml" <"$from" >"$input.sub$stream" 2>"$cache/spumux.log" ||
            { tail -n 5 "$cache/spumux.log" >&2; exit 1; }
        rm -f "$from"
        from=$input.sub$stream
    done
    mv "$from" "$input"
}

make_disc() {
    echo "making $disc with dvdauthor (once; it is cached)..."
    rm -rf "$disc" "$disc.part"
    cat >"$cache/disc.xml" <<EOF
<dvdauthor dest="$disc.part"><vmgm/><titleset><titles>
<video format="ntsc" aspect="4:3"/>
<pgc><vob file="$input" chapters="0,5:00,10:00"/></pgc>
</titles></titleset></dvdauthor>
EOF
    VIDEO_FORMAT=NTSC dvdauthor -x "$cache/disc.xml" >"$cache/disc.log" 2>&1 ||
        { tail -n 5 "$cache/disc.log" >&2; exit 1; }
    mv "$disc.part" "$disc"
}

# The joined disc: title 1 plays the input cut in two halves by ffmpeg's
# stream copy, each half's timestamps starting anew, as two VOBs of one
# program chain (dvdauthor sets the STC discontinuity flag on the second's
# first cell); both fit in one VOB file. The second half's audio is taken
# from 1 s later and moved back in place: ffmpeg's DVD muxer writes its
# first navigation pack before the first video key frame, and dvdauthor
# refused a half whose audio packs came before it ("Cannot infer pts for
# VOBU"); so the second part's sound starts about 0.7 s after its picture,
# which the title fills with silence at the join.
make_joined_disc() {
    local half=390 streams=(-map 0:i:0x20 -map 0:i:0x21 -c copy -f dvd)
    echo "making $joined with ffmpeg and dvdauthor (once; it is cached)..."
    rm -rf "$joined" "$joined.part" "$cache/half1.vob" "$cache/half2.vob"
    ffmpeg -nostdin -v error -y -i "$input" -map 0:v -map 0:a "${streams[@]}" -t $half "$cache/half1.vob" \
        2>"$cache/joined.ffmpeg.log" || { tail -n 5 "$cache/joined.ffmpeg.log" >&2; exit 1; }
    ffmpeg -nostdin -v error -y -ss $half -i "$input" -ss $((half + 1)) -itsoffset 1 -i "$input" \
        -map 0:v -map 1:a "${streams[@]}" -t $((half - 1)) "$cache/half2.vob" 2>>"$cache/joined.ffmpeg.log" ||
        { tail -n 5 "$cache/joined.ffmpeg.log" >&2; exit 1; }
    cat >"$cache/joined.xml" <<EOF
<dvdauthor dest="$joined.part"><vmgm/><titleset><titles>
<video format="ntsc" aspect="4:3"/>
<pgc><vob file="$cache/half1.vob"/><vob file="$cache/half2.vob"/></pgc>
</titles></titleset></dvdauthor>
EOF
    VIDEO_FORMAT=NTSC dvdauthor -x "$cache/joined.xml" >"$cache/joined.log" 2>&1 ||
        { tail -n 5 "$cache/joined.log" >&2; exit 1; }
    rm -f "$cache/half1.vob" "$cache/half2.vob"
    mv "$joined.part" "$joined"
}

# The largest stream count: the input's first 240 s by ffmpeg's stream copy
# into its DVD muxer, the video once, each AC-3 track four times (substreams
# 0x80 to 0x87) and each subpicture track sixteen times (0x20 to 0x3F); about
# 270 MB, made once and cached.
make_widest() {
    local seconds=240 k maps=(-map 0:v)
    echo "making $widest (once; it is cached)..."
    for ((k = 0; k < 8; ++k)); do
        maps+=(-map "0:i:$((0x80 + k % 2))")
    done
    for ((k = 0; k < 32; ++k)); do
        maps+=(-map "0:i:$((0x20 + k % 2))")
    done
    ffmpeg -nostdin -v error -y -i "$input" -t $seconds "${maps[@]}" -c copy -f dvd "$widest.part" \
        2>"$cache/outputs41.log" || { tail -n 5 "$cache/outputs41.log" >&2; exit 1; }
    mv "$widest.part" "$widest"
}

for tool in ffmpeg dd dvdauthor spumux /usr/bin/time awk cmp sync cc; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [ -z "${PACKRIFT:-}" ]; then
    (cd "$root" && cmake --workflow --preset release >/dev/null)
    PACKRIFT=$root/build/release/src/packrift
fi
if [ -z "${HARDENED:-}" ]; then
    (cd "$root" && cmake --preset package >/dev/null && cmake --build --preset package >/dev/null)
    HARDENED=$root/build/package/src/packrift
fi
mkdir -p "$cache"
copier=$cache/reference_copy
cc -O2 -std=c11 -Wall -Wextra -Werror -o "$copier" "$root/bench/reference_copy.c"
[ -f "$input" ] || make_input
[ -f "$disc/VIDEO_TS/VTS_01_1.VOB" ] || make_disc
[ -f "$joined/VIDEO_TS/VTS_01_1.VOB" ] || make_joined_disc
[ -f "$widest" ] || make_widest
[ -f "$cache/disc.iso" ] || genisoimage -quiet -dvd-video -o "$cache/disc.iso" "$disc"
if [ -z "${WRITE_TEST_IMAGE:-}" ] || [ -z "${STANDIN_DVDCSS:-}" ]; then
    (cd "$root" && cmake --preset test >/dev/null && cmake --build --preset test --target write_test_image standin_dvdcss >/dev/null)
    WRITE_TEST_IMAGE=$root/build/test/tests/write_test_image
    STANDIN_DVDCSS=$root/build/test/tests/libstandin_dvdcss.so
fi
[ -f "$cache/plain.iso" ] || "$WRITE_TEST_IMAGE" "$disc/VIDEO_TS" "$cache/plain.iso"
[ -f "$cache/marked.iso" ] || "$WRITE_TEST_IMAGE" "$disc/VIDEO_TS" "$cache/marked.iso" scrambled 4
mkdir -p "$outdir"

# packrift writes beside its input, or for a title in the current folder:
# each packrift run gets a folder of its own with a hard link of its input.
tools=(packrift dd ffmpeg streams sub hardened four ffmpeg4 title vobsplit image joined joinsplit titleall titlecopy
       titlevid outputs41 cssplain css)
# The baseline build also reads the titles whose cost and memory a change may
# move: the title, the joined title and -all.
[ -n "${BASELINE:-}" ] && tools+=(baseline basetitle basejoined baseall)
for tool in streams sub hardened baseline four title vobsplit image joined joinsplit titleall titlecopy titlevid \
    outputs41 cssplain css basetitle basejoined baseall; do
    mkdir -p "$cache/$tool"
done
for tool in streams sub hardened baseline four; do
    ln -f "$input" "$cache/$tool/bench.vob"
done
ln -f "$disc/VIDEO_TS/VTS_01_1.VOB" "$cache/vobsplit/vts_01_1.vob"
ln -f "$joined/VIDEO_TS/VTS_01_1.VOB" "$cache/joinsplit/vts_01_1.vob"
ln -f "$widest" "$cache/outputs41/widest.vob"
rm -f "$cache/outputs41/messages.log"

# The outputs of -all on the largest stream count: the video, 8 AC-3 tracks
# and 32 subpicture tracks (a .sub and an .idx each).
widest_outputs() {
    local k
    echo "$cache/outputs41/widest.m2v"
    for ((k = 0; k < 8; ++k)); do
        echo "$cache/outputs41/widest-stream$k.ac3"
    done
    for ((k = 0; k < 32; ++k)); do
        echo "$cache/outputs41/widest-sub$k.sub $cache/outputs41/widest-sub$k.idx"
    done
}

# The plain copy of -all's work: each output of -all (found by the untimed
# pass, which runs titleall first) as a file of the same size in titlecopy.
copy_targets=()
copy_outputs() {
    local file
    for file in $(outputs_of titleall); do
        echo "$cache/titlecopy/${file##*/}"
    done
}
set_copy_targets() {
    local file
    [ ${#copy_targets[@]} -eq 0 ] || return 0
    for file in $(outputs_of titleall); do
        copy_targets+=("$cache/titlecopy/${file##*/}" "$(stat -c %s "$file")")
    done
}

# The command line and the outputs of each tool. ffmpeg runs with -v fatal
# because its AC-3 muxer complains about repeated timestamps, harmlessly.
# log is where a run's messages go when they are expected: the largest
# stream count's 32 VobSub indexes each say that no IFO file gives a palette.
command_of() {
    log=
    case $1 in
        packrift) cmd=("$PACKRIFT" "$input" -video 0 -audio 0) ;;
        streams) cmd=("$PACKRIFT" "$cache/streams/bench.vob" -video 0 -audio 0 -streams) ;;
        sub) cmd=("$PACKRIFT" "$cache/sub/bench.vob" -video 0 -audio 0 -sub 0) ;;
        hardened) cmd=("$HARDENED" "$cache/hardened/bench.vob" -video 0 -audio 0) ;;
        baseline) cmd=("$BASELINE" "$cache/baseline/bench.vob" -video 0 -audio 0) ;;
        four) cmd=("$PACKRIFT" "$cache/four/bench.vob" -video 0 -audio 0 -lpcm 0 -mpa 0) ;;
        title) cmd=(env -C "$cache/title" "$PACKRIFT" "$disc" -title 1 -video 0 -audio 0) ;;
        vobsplit) cmd=("$PACKRIFT" "$cache/vobsplit/vts_01_1.vob" -video 0 -audio 0) ;;
        image) cmd=(env -C "$cache/image" "$PACKRIFT" "$cache/disc.iso" -title 1 -video 0 -audio 0) ;;
        joined) cmd=(env -C "$cache/joined" "$PACKRIFT" "$joined" -title 1 -video 0 -audio 0) ;;
        joinsplit) cmd=("$PACKRIFT" "$cache/joinsplit/vts_01_1.vob" -video 0 -audio 0) ;;
        titleall) cmd=(env -C "$cache/titleall" "$PACKRIFT" "$disc" -title 1 -all) ;;
        basetitle) cmd=(env -C "$cache/basetitle" "$BASELINE" "$disc" -title 1 -video 0 -audio 0) ;;
        basejoined) cmd=(env -C "$cache/basejoined" "$BASELINE" "$joined" -title 1 -video 0 -audio 0) ;;
        baseall) cmd=(env -C "$cache/baseall" "$BASELINE" "$disc" -title 1 -all) ;;
        titlecopy) set_copy_targets; cmd=("$copier" "$disc/VIDEO_TS/VTS_01_1.VOB" "${copy_targets[@]}") ;;
        titlevid) cmd=(env -C "$cache/titlevid" "$PACKRIFT" "$disc" -title 1 -video 0) ;;
        outputs41) cmd=("$PACKRIFT" "$cache/outputs41/widest.vob" -all) log=$cache/outputs41/messages.log ;;
        cssplain) cmd=(env -C "$cache/cssplain" -u PACKRIFT_LIBDVDCSS "$PACKRIFT" "$cache/plain.iso" -title 1 -video 0 -audio 0) ;;
        css) cmd=(env -C "$cache/css" PACKRIFT_LIBDVDCSS="$STANDIN_DVDCSS" "$PACKRIFT" "$cache/marked.iso" -title 1 -video 0 -audio 0) ;;
        dd) cmd=(dd if="$input" of="$outdir/dd.vob" bs=2048000 status=none) ;;
        ffmpeg) cmd=(ffmpeg -nostdin -v fatal -y -i "$input"
                     -map 0:v:0 -c copy -f mpeg2video "$outdir/ffmpeg.m2v"
                     -map 0:a:0 -c copy -f ac3 "$outdir/ffmpeg.ac3") ;;
        ffmpeg4) cmd=(ffmpeg -nostdin -v fatal -y -i "$input"
                      -map 0:v:0 -c copy -f mpeg2video "$outdir/ffmpeg4.m2v"
                      -map 0:a:0 -c copy -f ac3 "$outdir/ffmpeg4.ac3"
                      -map 0:a:2 -c:a pcm_s16le -f wav "$outdir/ffmpeg4.wav"
                      -map 0:a:3 -c copy -f mp2 "$outdir/ffmpeg4.mp2") ;;
    esac
}
outputs_of() {
    case $1 in
        packrift) echo "$cache/bench5.m2v $cache/bench5-stream0.ac3" ;;
        sub) echo "$cache/sub/bench.m2v $cache/sub/bench-stream0.ac3 $cache/sub/bench-sub0.sub $cache/sub/bench-sub0.idx" ;;
        streams | hardened | baseline) echo "$cache/$1/bench.m2v $cache/$1/bench-stream0.ac3" ;;
        four) echo "$cache/four/bench.m2v $cache/four/bench-stream0.ac3 $cache/four/bench-lpcm0.wav $cache/four/bench-mpa0.mp2" ;;
        title) echo "$cache/title/disc-title1.m2v $cache/title/disc-title1-stream0.ac3" ;;
        vobsplit) echo "$cache/vobsplit/vts_01_1.m2v $cache/vobsplit/vts_01_1-stream0.ac3" ;;
        image) echo "$cache/image/disc-title1.m2v $cache/image/disc-title1-stream0.ac3" ;;
        joined) echo "$cache/joined/joined-title1.m2v $cache/joined/joined-title1-stream0.ac3" ;;
        joinsplit) echo "$cache/joinsplit/vts_01_1.m2v $cache/joinsplit/vts_01_1-stream0.ac3" ;;
        titleall) echo "$cache/titleall/disc-title1.m2v $cache/titleall/disc-title1-stream0.ac3" \
                       "$cache/titleall/disc-title1-stream1.ac3 $cache/titleall/disc-title1-lpcm0.wav" \
                       "$cache/titleall/disc-title1-mpa0.mp2 $cache/titleall/disc-title1-sub0.sub" \
                       "$cache/titleall/disc-title1-sub0.idx $cache/titleall/disc-title1-sub1.sub" \
                       "$cache/titleall/disc-title1-sub1.idx" ;;
        titlecopy) copy_outputs ;;
        basetitle | basejoined | baseall)
            local of=${1#base}
            [ "$of" = all ] && of=titleall
            outputs_of "$of" | sed "s#/$of/#/$1/#g" ;;
        titlevid) echo "$cache/titlevid/disc-title1.m2v" ;;
        outputs41) widest_outputs ;;
        cssplain) echo "$cache/cssplain/plain-title1.m2v $cache/cssplain/plain-title1-stream0.ac3" ;;
        css) echo "$cache/css/marked-title1.m2v $cache/css/marked-title1-stream0.ac3" ;;
        dd) echo "$outdir/dd.vob" ;;
        ffmpeg) echo "$outdir/ffmpeg.m2v $outdir/ffmpeg.ac3" ;;
        ffmpeg4) echo "$outdir/ffmpeg4.m2v $outdir/ffmpeg4.ac3 $outdir/ffmpeg4.wav $outdir/ffmpeg4.mp2" ;;
    esac
}

# Runs a command, its standard error to log if one is set (shown if it fails).
run_command() {
    if [ -z "$log" ]; then
        "$@"
    elif ! "$@" 2>>"$log"; then
        tail -n 5 "$log" >&2
        return 1
    fi
}

remove_all_outputs() {
    local tool
    for tool in "${tools[@]}"; do
        # shellcheck disable=SC2046
        rm -f $(outputs_of "$tool")
    done
}

same() {
    if ! cmp "$1" "$2"; then
        echo "FAIL: $1 differs from $2" >&2
        return 1
    fi
}

# The samples of a WAV: what follows its data chunk's head.
wav_samples() {
    local offset
    offset=$(grep -obUaP 'data' "$1" | head -n 1 | cut -d: -f1)
    tail -c +$((offset + 9)) "$1"
}

# Each subtitle packet's size and hash, as ffmpeg's stream copy reads them.
subtitle_packets() {
    ffmpeg -nostdin -v error -i "$1" -map "$2" -c copy -f framehash - | grep -v '^#' | awk -F', *' '{ print $5, $6 }'
}

# Compares the outputs: the splits of the VOB with ffmpeg's stream copy (the
# WAV's samples with ffmpeg's decode), the title's with its VOB file's split.
check_outputs() {
    local tool video audio status=0
    for tool in packrift streams sub hardened baseline four; do
        [[ " ${tools[*]} " == *" $tool "* ]] || continue
        read -r video audio _ <<<"$(outputs_of "$tool")"
        same "$video" "$outdir/ffmpeg.m2v" || status=1
        same "$audio" "$outdir/ffmpeg.ac3" || status=1
    done
    same "$cache/four/bench-mpa0.mp2" "$outdir/ffmpeg4.mp2" || status=1
    # ffmpeg's VobSub reader must find the subpicture track's packets in the .idx and .sub.
    same <(subtitle_packets "$cache/sub/bench-sub0.idx" 0:s:0) <(subtitle_packets "$input" 0:i:0x20) || status=1
    same <(wav_samples "$cache/four/bench-lpcm0.wav") <(wav_samples "$outdir/ffmpeg4.wav") || status=1
    read -r video audio <<<"$(outputs_of title)"
    same "$video" "$cache/vobsplit/vts_01_1.m2v" || status=1
    same "$audio" "$cache/vobsplit/vts_01_1-stream0.ac3" || status=1
    for tool in image cssplain css; do
        read -r video audio <<<"$(outputs_of $tool)"
        same "$video" "$cache/vobsplit/vts_01_1.m2v" || status=1
        same "$audio" "$cache/vobsplit/vts_01_1-stream0.ac3" || status=1
    done
    # The joined title's video is its VOB file's; its sound is cut and filled
    # at the join, which its report must name.
    read -r video _ <<<"$(outputs_of joined)"
    same "$video" "$cache/joinsplit/vts_01_1.m2v" || status=1
    local report
    command_of joined
    report=$("${cmd[@]}" -streams) || status=1
    if ! grep -qx 'title 1: timestamps restart at 1 join' <<<"$report"; then
        echo "FAIL: the joined title's report names no join" >&2
        status=1
    fi
    # -all writes the title's every stream as its own option does; the video
    # alone is the same video.
    local file
    for file in $(outputs_of titleall); do
        [ -s "$file" ] || { echo "FAIL: -all left $file empty or unwritten" >&2; status=1; }
    done
    read -r video audio _ <<<"$(outputs_of titleall)"
    same "$video" "$cache/vobsplit/vts_01_1.m2v" || status=1
    same "$audio" "$cache/vobsplit/vts_01_1-stream0.ac3" || status=1
    same "$(outputs_of titlevid)" "$cache/vobsplit/vts_01_1.m2v" || status=1
    # Its plain copy writes as many bytes into as many files.
    local copied=($(copy_outputs)) k=0
    for file in $(outputs_of titleall); do
        [ "$(stat -c %s "$file")" = "$(stat -c %s "${copied[k]}")" ] ||
            { echo "FAIL: ${copied[k]} is not the size of $file" >&2; status=1; }
        k=$((k + 1))
    done
    # The baseline build's titles are this build's, byte for byte.
    local pair ours theirs
    for pair in title:basetitle joined:basejoined titleall:baseall; do
        [[ " ${tools[*]} " == *" ${pair#*:} "* ]] || continue
        theirs=($(outputs_of "${pair#*:}"))
        k=0
        for ours in $(outputs_of "${pair%%:*}"); do
            same "$ours" "${theirs[k]}" || status=1
            k=$((k + 1))
        done
    done
    # Every one of the 41 outputs holds data (so every stage was allocated),
    # and each copy of an AC-3 track is that track.
    for file in $(outputs_of outputs41); do
        [ -s "$file" ] || { echo "FAIL: -all left $file empty or unwritten" >&2; status=1; }
    done
    local k
    for ((k = 2; k < 8; ++k)); do
        same "$cache/outputs41/widest-stream$k.ac3" "$cache/outputs41/widest-stream$((k % 2)).ac3" || status=1
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

declare -A times rss user last
# Times one run of tool after prepare_run and records its wall time (s), its
# peak resident set (KiB) and its user CPU time (s, to the hundredth: the
# mean over the runs is finer).
timed_run() {
    local tool=$1 cmd log start end
    prepare_run
    command_of "$tool"
    start=$(date +%s%N)
    run_command /usr/bin/time -f '%M %U' -o "$outdir/rss" "${cmd[@]}" >/dev/null
    end=$(date +%s%N)
    last[$tool]=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
    times[$tool]+="${last[$tool]} "
    read -r kib seconds <"$outdir/rss"
    rss[$tool]+="$kib "
    user[$tool]+="$seconds "
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { tr ' ' '\n' | grep . | sort -g | tail -1; }
mean() { tr ' ' '\n' | grep . | awk '{ s += $1 } END { print s / NR }'; }

input_bytes=$(stat -c %s "$input")
echo "input: $input ($input_bytes bytes); disc: $disc ($(stat -c %s "$disc/VIDEO_TS/VTS_01_1.VOB") bytes of VOB)"
echo "joined disc: $joined ($(stat -c %s "$joined/VIDEO_TS/VTS_01_1.VOB") bytes of VOB)"
echo "largest stream count: $widest ($(stat -c %s "$widest") bytes; video, 8 AC-3, 32 subpicture streams)"
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), $(uname -r)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# One untimed pass of every tool first: it warms the page cache, and the
# outputs are checked before anything is timed.
for tool in "${tools[@]}"; do
    command_of "$tool"
    run_command "${cmd[@]}" >/dev/null
done
check_outputs || exit 1
echo "outputs: identical to ffmpeg's (the WAV's samples to its decode), the title's and the images' (the marked one's"
echo "  through the stand-in libdvdcss too) to its VOB file's split,"
echo "  the joined title's video to its VOB file's split, its report naming 1 join; -all's video and first AC-3"
echo "  to the VOB file's split, its plain copy the same sizes; all 41 outputs of the largest stream count written"
[ "$runs" -ge 1 ] || exit 0

count=${#tools[@]}
for ((round = 1; round <= runs; ++round)); do
    # Rotate the order so that no tool always runs first or follows the same one.
    line="round $round:"
    for ((k = 0; k < count; ++k)); do
        tool=${tools[(round + k) % count]}
        timed_run "$tool"
        line+=" $tool ${last[$tool]}"
    done
    echo "$line"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

remove_all_outputs

echo "runs: $runs of each, alternating; wall times in s, peak resident KiB, mean user CPU s:"
declare -A med peak cpu
for tool in "${tools[@]}"; do
    med[$tool]=$(echo "${times[$tool]}" | median)
    peak[$tool]=$(echo "${rss[$tool]}" | maximum)
    cpu[$tool]=$(echo "${user[$tool]}" | mean)
    printf '  %-9s median %.3f, peak %6d KiB, user %.3f: %s\n' "$tool" "${med[$tool]}" "${peak[$tool]}" \
        "${cpu[$tool]}" "${times[$tool]}"
done

status=0
awk -v pr="${med[packrift]}" -v dd="${med[dd]}" -v ff="${med[ffmpeg]}" -v st="${med[streams]}" \
    -v hard="${med[hardened]}" -v four="${med[four]}" -v ff4="${med[ffmpeg4]}" \
    -v title="${med[title]}" -v vob="${med[vobsplit]}" -v base="${med[baseline]:-}" -v subs="${med[sub]}" \
    -v image="${med[image]}" -v joined="${med[joined]}" -v joined_vob="${med[joinsplit]}" \
    -v joined_peak="${peak[joined]}" -v joined_vob_peak="${peak[joinsplit]}" \
    -v joined_cpu="${cpu[joined]}" -v joined_vob_cpu="${cpu[joinsplit]}" -v max_joined_cpu="$max_user_of_joined_title" \
    -v all="${med[titleall]}" -v vid="${med[titlevid]}" -v all_peak="${peak[titleall]}" -v vid_peak="${peak[titlevid]}" \
    -v all_copy="${med[titlecopy]}" -v max_all_copy="$max_ratio_of_all_to_copy" \
    -v widest_peak="${peak[outputs41]}" -v widest="${med[outputs41]}" \
    -v css="${med[css]}" -v css_plain="${med[cssplain]}" -v max_css="$max_ratio_of_css" \
    -v max_all="$max_ratio_of_all" -v max_widest_rss="$max_rss_all_streams_kib" \
    -v max_joined="$max_ratio_of_joined_title" -v max_joined_growth="$max_joined_title_rss_growth_kib" \
    -v peak="${peak[packrift]}" -v title_peak="${peak[title]}" -v vob_peak="${peak[vobsplit]}" \
    -v base_peak="${peak[baseline]:-}" -v cpu="${cpu[packrift]}" -v base_cpu="${cpu[baseline]:-}" \
    -v max_cpu="$max_user_ms_per_gb" \
    -v bytes="$input_bytes" -v runs="$runs" \
    -v base_title="${med[basetitle]:-}" -v base_title_peak="${peak[basetitle]:-}" \
    -v base_joined="${med[basejoined]:-}" -v base_joined_peak="${peak[basejoined]:-}" \
    -v base_joined_cpu="${cpu[basejoined]:-}" -v base_all="${med[baseall]:-}" -v base_all_peak="${peak[baseall]:-}" \
    -v max_growth_over_base="$max_rss_growth_over_baseline_kib" \
    -v max_dd="$max_ratio_to_dd" -v min_ff="$min_speedup_over_ffmpeg" -v max_rss="$max_rss_kib" \
    -v max_st="$max_ratio_of_report" -v max_sub="$max_ratio_of_subpictures" \
    -v max_base="$max_ratio_to_baseline" -v max_hard="$max_ratio_of_hardened" \
    -v max_title="$max_ratio_of_title" -v max_growth="$max_title_rss_growth_kib" -v max_image="$max_ratio_of_image" '
    function verdict(ok) { if (!ok) missed = 1; return ok ? "met" : "MISSED" }
    BEGIN {
        printf "packrift -video 0 -audio 0: %.3f s (%.0f MB/s); dd %.3f s; ffmpeg %.3f s\n", pr, bytes / pr / 1e6, dd, ff
        printf "packrift / dd copy:             %.3f  (target <= %s: %s)\n", pr / dd, max_dd, verdict(pr / dd <= max_dd)
        printf "ffmpeg / packrift:              %.2f  (target >= %s: %s)\n", ff / pr, min_ff, verdict(ff / pr >= min_ff)
        printf "packrift peak resident:         %d KiB (target <= %d KiB: %s)\n", peak, max_rss, verdict(peak <= max_rss)
        gb = bytes / 1e9
        printf "packrift user CPU:              %.1f ms per GB (target <= %s: %s)\n", cpu * 1000 / gb, max_cpu,
            verdict(cpu * 1000 / gb <= max_cpu)
        printf "with -streams / without:        %.3f  (target <= %s: %s)\n", st / pr, max_st, verdict(st / pr <= max_st)
        printf "with -sub 0 / without:          %.3f  (target <= %s: %s)\n", subs / pr, max_sub, verdict(subs / pr <= max_sub)
        if (base != "") {
            printf "packrift / baseline build:      %.3f  (target <= %s: %s)\n", pr / base, max_base, verdict(pr / base <= max_base)
            printf "baseline build: user CPU %.1f ms per GB, peak %d KiB; packrift peak - baseline peak: %+d KiB (target <= 0: %s)\n",
                base_cpu * 1000 / gb, base_peak, peak - base_peak, verdict(peak <= base_peak)
        }
        printf "hardened build / packrift:      %.3f  (target <= %s: %s)\n", hard / pr, max_hard, verdict(hard / pr <= max_hard)
        printf "four outputs: packrift %.3f s, ffmpeg %.3f s: ffmpeg / packrift %.2f\n", four, ff4, ff4 / four
        printf "title / its VOB file split:     %.3f  (target <= %s: %s)\n", title / vob, max_title, verdict(title / vob <= max_title)
        printf "title peak - VOB split peak:    %+d KiB (target <= %d KiB: %s)\n", title_peak - vob_peak, max_growth,
            verdict(title_peak - vob_peak <= max_growth)
        printf "title from image / from folder: %.3f  (target <= %s: %s)\n", image / title, max_image, verdict(image / title <= max_image)
        printf "marked image via libdvdcss / unmarked image: %.3f  (target <= %s: %s); %.3f s against %.3f s\n",
            css / css_plain, max_css, verdict(css / css_plain <= max_css), css, css_plain
        printf "joined title / its VOB split:   %.3f  (target <= %s: %s)\n", joined / joined_vob, max_joined,
            verdict(joined / joined_vob <= max_joined)
        printf "joined title peak - VOB split:  %+d KiB (target <= %d KiB: %s); - one-VOB title peak: %+d KiB\n",
            joined_peak - joined_vob_peak, max_joined_growth, verdict(joined_peak - joined_vob_peak <= max_joined_growth),
            joined_peak - title_peak
        printf "joined title user CPU / split:  %.3f  (target <= %s: %s); %.2f s against %.2f s over the runs\n",
            (joined_vob_cpu > 0 ? joined_cpu / joined_vob_cpu : 0), max_joined_cpu,
            verdict(joined_cpu <= max_joined_cpu * joined_vob_cpu),
            joined_cpu * runs, joined_vob_cpu * runs
        printf "title -all / -video 0 alone:    %.3f  (target <= %s: %s); %.3f s against %.3f s\n", all / vid, max_all,
            verdict(all / vid <= max_all), all, vid
        printf "title -all / its copy:          %.3f  (target <= %s: %s); %.3f s against %.3f s\n", all / all_copy,
            max_all_copy, verdict(all / all_copy <= max_all_copy), all, all_copy
        printf "title -all peak resident:       %d KiB; -video 0 alone: %d KiB\n", all_peak, vid_peak
        if (base != "") {
            printf "against the baseline build: title %.3f, joined title %.3f (user CPU %.2f s against %.2f s over the runs),",
                title / base_title, joined / base_joined, joined_cpu * runs, base_joined_cpu * runs
            printf " -all %.3f\n", all / base_all
            printf "peaks over the baseline build: title %+d, joined title %+d, -all %+d KiB (target <= %d KiB: %s)\n",
                title_peak - base_title_peak, joined_peak - base_joined_peak, all_peak - base_all_peak,
                max_growth_over_base, verdict(title_peak - base_title_peak <= max_growth_over_base &&
                                              joined_peak - base_joined_peak <= max_growth_over_base &&
                                              all_peak - base_all_peak <= max_growth_over_base)
        }
        printf "-all on 41 streams peak:        %d KiB (target <= %d KiB: %s); median %.3f s\n", widest_peak,
            max_widest_rss, verdict(widest_peak <= max_widest_rss), widest
        exit missed ? 2 : 0
    }' || status=$?
exit $status
