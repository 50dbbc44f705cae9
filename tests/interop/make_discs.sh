#!/usr/bin/env bash
# Authors small DVD-Video folders for the title checks: MPEG program streams
# from ffmpeg's DVD muxer, subpictures from spumux, the IFO files and VOB
# files from dvdauthor. Each disc is WORK_DIR/discs/NAME/VIDEO_TS:
#
#   two_sets     title set 1 (PAL 720x576 16:9): title 1 a film of four
#                chapters, titles 2 and 3 two short ones, title 3 of two
#                chapters; audio AC-3 6ch "en", AC-3 2ch "fr", LPCM 2ch
#                without a language; subpicture "de" in two streams, 0x20
#                for 4:3 and letterbox, 0x21 for 16:9.
#                title set 2 (NTSC 720x480 4:3): title 4, two chapters;
#                audio AC-3 2ch "en", MPEG audio 2ch "fr" starting 0.2 s
#                after the video; subpicture "es",
#                whose colours are the program chain's own palette
#                (palette.rgb beside the discs, one RGB colour a line).
#                Every subpicture stream shows two pictures a VOB, the
#                second of them forced.
#   split_vob    two_sets with VTS_01_1.VOB cut in two at a sector inside
#                title 1 (into VTS_01_1.VOB and VTS_01_2.VOB), the IFO
#                files unchanged: title 1 lies across two files.
#   reuse_cells  one title set whose title 1 plays the film then a short
#                clip, and whose title 2 plays the same cells, the clip
#                first: dvdauthor stores a file named twice only once, so
#                title 2 plays its later cells first.
#
# Usage: make_discs.sh WORK_DIR
# Prints the folder of each disc (WORK_DIR/discs/NAME), one a line. Exits 0
# when all were made, 1 when a tool failed, 77 when a tool is missing. The
# discs are kept and reused while this script, ffmpeg and dvdauthor stay
# the same.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

readonly DISCS=(two_sets split_vob reuse_cells)

if [ $# -ne 1 ]; then
  echo "usage: $0 WORK_DIR" >&2
  exit 2
fi

require_tools "the test discs need ffmpeg, dvdauthor and spumux" \
  ffmpeg:ffmpeg dvdauthor:dvdauthor spumux:dvdauthor >&2

mkdir -p "$1" || exit 1
work_dir=$(cd "$1" && pwd)
discs_dir=$work_dir/discs
key=$( (cat "$0"; ffmpeg -version 2>/dev/null | head -n 1; dvdauthor -h 2>&1 | head -n 1) | sha256sum | cut -c1-16)

print_discs() {
  local name
  for name in "${DISCS[@]}"; do
    printf '%s\n' "$discs_dir/$name"
  done
}

if [ -f "$discs_dir/key" ] && [ "$(cat "$discs_dir/key")" = "$key" ]; then
  print_discs
  exit 0
fi

rm -rf "$discs_dir"
streams=$discs_dir/streams
mkdir -p "$streams" || exit 1
log=$discs_dir/make.log
: >"$log"

# Runs one authoring step with its chatter in the log; on failure shows the
# log's end and stops.
step() {
  if ! "$@" >>"$log" 2>&1; then
    echo "make_discs: $1 failed; the end of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
}

# A program stream from ffmpeg's DVD muxer: NAME SIZE RATE ASPECT SECONDS
# then one audio track a word, as codec:channels:tone in Hz, and
# :seconds when the track starts that much after the video.
program_stream() {
  local name=$1 size=$2 rate=$3 aspect=$4 seconds=$5
  shift 5
  local -a inputs=(-f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$seconds")
  local -a maps=(-map 0:v) codecs=()
  local index=0 track codec channels tone offset
  for track in "$@"; do
    IFS=: read -r codec channels tone offset <<<"$track"
    [ -n "$offset" ] && inputs+=(-itsoffset "$offset")
    inputs+=(-f lavfi -i "sine=frequency=$tone:sample_rate=48000:duration=$seconds")
    maps+=(-map "$((index + 1)):a")
    codecs+=("-c:a:$index" "$codec" "-ac:a:$index" "$channels")
    case $codec in
      ac3) codecs+=("-b:a:$index" 192k) ;;
      mp2) codecs+=("-b:a:$index" 128k) ;;
    esac
    index=$((index + 1))
  done
  step ffmpeg -nostdin -v error -y -threads "$THREADS" "${inputs[@]}" "${maps[@]}" \
    -c:v mpeg2video -b:v 700k -maxrate 1500k -bufsize 1835k -g 12 -aspect "$aspect" \
    -pix_fmt yuv420p "${codecs[@]}" -ar 48000 \
    -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -f dvd "$streams/$name.mpg"
}

# Adds a subpicture stream with spumux: NAME FORMAT STREAM (0 for 0x20),
# then spumux's options (--nodvdauthor-data for a stream whose colours the
# program chain's palette gives).
add_subpicture() {
  local name=$1 format=$2 stream=$3
  shift 3
  cat >"$streams/sub-$name-$stream.xml" <<EOF
<subpictures format="$format">
  <stream>
    <spu start="00:00:00.50" end="00:00:01.00" image="$streams/sub.png" xoffset="200" yoffset="400"/>
    <spu start="00:00:01.20" end="00:00:01.60" image="$streams/sub.png" xoffset="200" yoffset="400" force="yes"/>
  </stream>
</subpictures>
EOF
  # spumux writes the program stream to its standard output.
  step sh -c 'in=$0 out=$1 log=$2; shift 2; spumux "$@" <"$in" >"$out" 2>>"$log"' \
    "$streams/$name.mpg" "$streams/$name.sub.mpg" "$log" \
    "$@" -s "$stream" "$streams/sub-$name-$stream.xml"
  mv "$streams/$name.sub.mpg" "$streams/$name.mpg"
}

# The palette of title set 2's program chain: sixteen colours, RGB.
readonly PALETTE=(101010 ebebeb ff0000 00c000 2040ff ffff00 00ffff ff00ff
  808080 400000 004000 000040 c08040 40c080 8040c0 f0f0f0)
printf '%s\n' "${PALETTE[@]}" >"$discs_dir/palette.rgb"

# A two-coloured box, the subtitle image.
step ffmpeg -nostdin -v error -y -f lavfi \
  -i "color=c=white:s=320x40,drawbox=x=10:y=10:w=100:h=20:color=red:t=fill,format=rgb24" \
  -frames:v 1 "$streams/sub.png"

readonly PAL_TRACKS=(ac3:6:440 ac3:2:550 pcm_dvd:2:660)
program_stream film_pal 720x576 25 16:9 6 "${PAL_TRACKS[@]}"
program_stream short_a_pal 720x576 25 16:9 2 "${PAL_TRACKS[@]}"
program_stream short_b_pal 720x576 25 16:9 3 "${PAL_TRACKS[@]}"
program_stream clip_ntsc 720x480 30000/1001 4:3 3 ac3:2:330 mp2:2:770:0.2
for name in film_pal short_a_pal short_b_pal; do
  add_subpicture "$name" PAL 0
  add_subpicture "$name" PAL 1
done
add_subpicture clip_ntsc NTSC 0 --nodvdauthor-data

# The title set's track list for the PAL streams.
pal_titles_header() {
  cat <<'EOF'
      <video format="pal" aspect="16:9"/>
      <audio lang="en"/>
      <audio lang="fr"/>
      <audio format="pcm" quant="16bps" samplerate="48khz" channels="2"/>
      <subpicture lang="de">
        <stream mode="widescreen" id="1"/>
        <stream mode="letterbox" id="0"/>
      </subpicture>
EOF
}

author() {
  local name=$1 xml=$discs_dir/$1.xml
  cat >"$xml"
  step dvdauthor -o "$discs_dir/$name" -x "$xml"
}

# The chapter lists are in seconds; dvdauthor moves each mark to the start
# of the GOP (12 frames, 0.48 s) that holds it.
author two_sets <<EOF
<dvdauthor format="pal">
  <vmgm/>
  <titleset>
    <titles>
$(pal_titles_header)
      <pgc><vob file="$streams/film_pal.mpg" chapters="0,1.5,3.0,4.5"/></pgc>
      <pgc><vob file="$streams/short_a_pal.mpg"/></pgc>
      <pgc><vob file="$streams/short_b_pal.mpg" chapters="0,1.0"/></pgc>
    </titles>
  </titleset>
  <titleset>
    <titles>
      <video format="ntsc" aspect="4:3"/>
      <audio lang="en"/>
      <audio lang="fr"/>
      <subpicture lang="es"/>
      <pgc palette="$discs_dir/palette.rgb"><vob file="$streams/clip_ntsc.mpg" chapters="0,1.5"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF

author reuse_cells <<EOF
<dvdauthor format="pal">
  <vmgm/>
  <titleset>
    <titles>
$(pal_titles_header)
      <pgc>
        <vob file="$streams/film_pal.mpg" chapters="0,3.0"/>
        <vob file="$streams/short_a_pal.mpg"/>
      </pgc>
      <pgc>
        <vob file="$streams/short_a_pal.mpg"/>
        <vob file="$streams/film_pal.mpg" chapters="0,3.0"/>
      </pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF

# split_vob: the first VOB file cut at a third of its sectors, which lies
# inside title 1 (the film fills more than half of the title set).
split=$discs_dir/split_vob/VIDEO_TS
mkdir -p "$split" || exit 1
cp "$discs_dir/two_sets/VIDEO_TS/"* "$split/" || exit 1
vob_sectors=$(($(wc -c <"$split/VTS_01_1.VOB") / SECTOR_SIZE))
cut_at=$((vob_sectors / 3))
step dd if="$discs_dir/two_sets/VIDEO_TS/VTS_01_1.VOB" of="$split/VTS_01_2.VOB" \
  bs="$SECTOR_SIZE" skip="$cut_at"
step truncate -s $((cut_at * SECTOR_SIZE)) "$split/VTS_01_1.VOB"
echo "split_vob: VTS_01_1.VOB cut at sector $cut_at of $vob_sectors" >>"$log"

rm -rf "$streams"
printf '%s\n' "$key" >"$discs_dir/key"
print_discs
