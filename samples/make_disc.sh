#!/usr/bin/env bash
# Makes samples/disc/VIDEO_TS, a small DVD-Video disc for the README's first
# command and the tests: MPEG program streams from ffmpeg's test sources and
# DVD muxer, a subtitle track from spumux, the IFO and VOB files from
# dvdauthor. Run by hand; the build never runs it.
#
#   title set 1 (NTSC 720x480 4:3), AC-3 "en" (440 Hz) and "fr" (550 Hz),
#   subtitles "en" (two a part, the second forced):
#     title 1: two parts, one VOB each (3 s, then 2 s), whose timestamps
#              each start anew, a chapter at each part;
#     title 2: a clip of 2 s.
#   title set 2 (NTSC 720x480 4:3): title 3, 1.5 s with 16-bit stereo LPCM.
#
# Made with: ffmpeg 5.1.9 (Debian 12: 5.1.9-0+deb12u1), dvdauthor and spumux 0.7.2.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
disc=$here/disc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A program stream: NAME SECONDS VIDEO_HUE, then audio tracks as codec:tone.
program_stream() {
  local name=$1 seconds=$2 hue=$3
  shift 3
  local -a inputs=(-f lavfi -i "testsrc2=size=720x480:rate=30000/1001:duration=$seconds,hue=h=$hue")
  local -a maps=(-map 0:v) codecs=()
  local index=0 track
  for track in "$@"; do
    inputs+=(-f lavfi -i "sine=frequency=${track#*:}:sample_rate=48000:duration=$seconds")
    maps+=(-map "$((index + 1)):a")
    codecs+=("-c:a:$index" "${track%%:*}")
    [ "${track%%:*}" = ac3 ] && codecs+=("-b:a:$index" 96k)
    index=$((index + 1))
  done
  # The DVD muxer's buffer underflow lines (its buffer model at so low a
  # rate) go to the log with the rest.
  ffmpeg -nostdin -v error -y "${inputs[@]}" "${maps[@]}" \
    -c:v mpeg2video -b:v 300k -maxrate 800k -bufsize 1835k -g 15 -pix_fmt yuv420p \
    "${codecs[@]}" -ac 2 -ar 48000 \
    -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -f dvd "$work/$name.mpg" 2>>"$work/ffmpeg.log" ||
    { tail -n 20 "$work/ffmpeg.log" >&2; exit 1; }
}

# Two subtitles, the second forced, added as subpicture stream 0x20.
add_subtitles() {
  local name=$1
  cat >"$work/$name.xml" <<XML
<subpictures format="NTSC"><stream>
  <spu start="00:00:00.40" end="00:00:01.00" image="$work/subtitle.png" xoffset="280" yoffset="400"/>
  <spu start="00:00:01.20" end="00:00:01.80" image="$work/subtitle.png" xoffset="280" yoffset="400" force="yes"/>
</stream></subpictures>
XML
  spumux -s 0 "$work/$name.xml" <"$work/$name.mpg" >"$work/$name.sub.mpg" 2>>"$work/spumux.log"
  mv "$work/$name.sub.mpg" "$work/$name.mpg"
}

ffmpeg -nostdin -v error -y -f lavfi -i "color=c=white:s=160x24,drawbox=x=4:y=4:w=80:h=16:color=red:t=fill" \
  -frames:v 1 "$work/subtitle.png"
program_stream part1 3 0 ac3:440 ac3:550
program_stream part2 2 90 ac3:440 ac3:550
program_stream clip 2 180 ac3:440 ac3:550
program_stream music 1.5 270 pcm_dvd:660
for name in part1 part2 clip; do
  add_subtitles "$name"
done

cat >"$work/disc.xml" <<XML
<dvdauthor format="ntsc">
  <vmgm/>
  <titleset>
    <titles>
      <video format="ntsc" aspect="4:3"/>
      <audio lang="en"/>
      <audio lang="fr"/>
      <subpicture lang="en"/>
      <pgc>
        <vob file="$work/part1.mpg" chapters="0"/>
        <vob file="$work/part2.mpg" chapters="0"/>
      </pgc>
      <pgc><vob file="$work/clip.mpg"/></pgc>
    </titles>
  </titleset>
  <titleset>
    <titles>
      <video format="ntsc" aspect="4:3"/>
      <audio format="pcm" quant="16bps" samplerate="48khz" channels="2"/>
      <pgc><vob file="$work/music.mpg"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
XML
rm -rf "$disc"
dvdauthor -o "$disc" -x "$work/disc.xml" >"$work/dvdauthor.log" 2>&1 || { tail -n 20 "$work/dvdauthor.log" >&2; exit 1; }
du -ab "$disc/VIDEO_TS" | sort -k2
