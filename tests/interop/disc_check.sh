#!/usr/bin/env bash
# Authors small DVD-Video discs (ffmpeg's DVD muxer for the streams, spumux
# for a subpicture, dvdauthor for the IFO files), lists each with packrift and
# checks the listing against lsdvd, which reads the same IFO files through its
# own library: every title's length, chapter and angle counts and title set,
# its video, and every audio and subpicture track's kind, channels, frequency
# and language. Stream ids are checked against the streams that ffprobe finds
# in the title set's VOB file, and against lsdvd's where a title set's audio
# tracks are all of one kind (lsdvd numbers the ids by the track's place, not
# by the stream the program chain names, so that it names a wrong id for a
# track that follows a track of another kind).
#
# Usage: disc_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# EMULATOR, when given, runs PACKRIFT (Wine for a cross-built Windows .exe).
# Exits 0 when everything matches, 1 on any mismatch, 77 (skipped) when a
# tool is missing. The discs are cached in WORK_DIR/discs, keyed on the tools'
# versions and this script.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

take_arguments "$@"
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

require_tools "the disc check needs ffmpeg, dvdauthor and lsdvd" \
  ffmpeg:ffmpeg ffprobe:ffmpeg dvdauthor:dvdauthor spumux:dvdauthor lsdvd:lsdvd

# A VOB of the given frame size and rate, seconds long, with the audio tracks
# given as ac3:CHANNELS, mp2:CHANNELS or lpcm:CHANNELS, in that order.
make_vob() {
  local out=$1 size=$2 rate=$3 seconds=$4 tracks=$5
  local -a args=(-nostdin -v error -y -threads "$THREADS"
    -f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$seconds")
  local -a maps=(-map 0:v) codecs=()
  local index=0 track coding channels
  for track in $tracks; do
    IFS=: read -r coding channels <<<"$track"
    args+=(-f lavfi -i "sine=frequency=$((330 * (index + 1))):sample_rate=48000:duration=$seconds")
    maps+=(-map "$((index + 1)):a")
    case $coding in
      ac3) codecs+=("-c:a:$index" ac3 "-b:a:$index" 192k) ;;
      mp2) codecs+=("-c:a:$index" mp2 "-b:a:$index" 192k) ;;
      lpcm) codecs+=("-c:a:$index" pcm_dvd) ;;
    esac
    codecs+=("-ac:a:$index" "$channels")
    index=$((index + 1))
  done
  ffmpeg "${args[@]}" "${maps[@]}" -c:v mpeg2video -b:v 1500k -maxrate 9000k -bufsize 1835k -g 12 \
    -pix_fmt yuv420p "${codecs[@]}" -ar 48000 -f dvd "$out"
}

# Adds a subpicture stream (one picture shown from 0.5 s to 1.5 s) with spumux.
add_subpicture() {
  local vob=$1 format=$2 size=$3
  ffmpeg -nostdin -v error -y -f lavfi \
    -i "color=c=black@0:s=$size,format=rgba,drawbox=x=100:y=300:w=300:h=40:color=white@1:t=fill" \
    -frames:v 1 subpicture.png || return 1
  cat >spumux.xml <<EOF
<subpictures format="$format"><stream>
  <spu start="00:00:00.50" end="00:00:01.50" image="subpicture.png"/>
</stream></subpictures>
EOF
  spumux -s 0 spumux.xml <"$vob" >"$vob.sub" 2>spumux.log && mv "$vob.sub" "$vob"
}

# two_sets: a PAL 16:9 title set with a film of three chapters, a short
# title and a title of both VOBs, two AC-3 tracks (English, French) and a
# German subpicture; an NTSC 4:3 title set with an English LPCM track and a
# Dutch subpicture.
# mixed: AC-3, MPEG audio and LPCM tracks in one title set. plain: tracks
# without a language.
author_discs() {
  # Lengths of whole frames but not whole seconds: 4.36 s is 4 s and 9
  # frames at 25, 2.7 s is 2 s and 21 frames at 29.97.
  make_vob film.vob 720x576 25 4.36 "ac3:2 ac3:6" &&
    make_vob short.vob 720x576 25 2 "ac3:2 ac3:6" &&
    add_subpicture film.vob PAL 720x576 && add_subpicture short.vob PAL 720x576 &&
    make_vob ntsc.vob 720x480 30000/1001 2.7 "lpcm:2" && add_subpicture ntsc.vob NTSC 720x480 &&
    make_vob mixed.vob 720x480 30000/1001 2 "ac3:1 mp2:2 lpcm:2" &&
    make_vob plain.vob 720x576 25 2 "mp2:2 mp2:1" || return 1
  cat >two_sets.xml <<'EOF'
<dvdauthor dest="two_sets">
  <vmgm/>
  <titleset>
    <titles>
      <video format="pal" aspect="16:9"/>
      <audio lang="en"/>
      <audio lang="fr"/>
      <subpicture lang="de"/>
      <pgc><vob file="film.vob" chapters="0,1,2.5"/></pgc>
      <pgc><vob file="short.vob"/></pgc>
      <pgc><vob file="film.vob" chapters="0"/><vob file="short.vob" chapters="0"/></pgc>
    </titles>
  </titleset>
  <titleset>
    <titles>
      <video format="ntsc" aspect="4:3"/>
      <audio lang="en"/>
      <subpicture lang="nl"/>
      <pgc><vob file="ntsc.vob" chapters="0,1.5"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF
  cat >mixed.xml <<'EOF'
<dvdauthor dest="mixed">
  <vmgm/>
  <titleset>
    <titles>
      <video format="ntsc" aspect="16:9"/>
      <audio lang="en"/>
      <audio lang="de"/>
      <audio lang="fr"/>
      <pgc><vob file="mixed.vob" chapters="0,1"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF
  cat >plain.xml <<'EOF'
<dvdauthor dest="plain">
  <vmgm/>
  <titleset>
    <titles>
      <video format="pal" aspect="4:3"/>
      <pgc><vob file="plain.vob"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF
  local disc
  for disc in two_sets mixed plain; do
    rm -rf "$disc"
    # The menu domain has no video of its own: its format must be named.
    if ! VIDEO_FORMAT=PAL dvdauthor -x "$disc.xml" >"$disc.log" 2>&1; then
      tail -n 5 "$disc.log" >&2
      return 1
    fi
  done
}

# The listing in a form both sides can be put into, one fact a line; the
# stream ids go to a file of their own.
canonical_packrift() {
  local ids=$1
  tr -d '\r' | awk -v ids="$ids" '
    # title 1: 0:00:03.000, 3 chapters, 1 angle, title set 1
    /^title / {
      title = $2; sub(/:/, "", title)
      split($3, time, /[:,]/)
      sub(/,/, "", $5); sub(/,/, "", $7)
      printf "title %d length %d:%s:%s %d %s %d %s set %d\n", title, time[1], time[2], time[3], $4, $5, $6, $7, $10
      next
    }
    /^  video / { printf "  video %s %s %s\n", $3, $4, $5; next }
    /^  audio / {
      id = $2; $1 = ""; $2 = ""; sub(/ \(.*/, ""); sub(/^ +/, "")
      print "  audio " $0; print "title " title " audio " tolower(id) >ids; next
    }
    /^  subpicture / { print "  subpicture " $3; print "title " title " subpicture " tolower($2) >ids; next }
    { print "unexpected: " $0 }'
}

canonical_lsdvd() {
  local ids=$1
  awk -v ids="$ids" '
    function field(name,   rest) {
      rest = substr($0, index($0, name ": ") + length(name) + 2)
      sub(/,.*/, "", rest); sub(/ +$/, "", rest)
      return rest
    }
    function kind(format) {
      if (format == "ac3") return "AC-3"
      if (format ~ /^mpeg/) return "MPEG audio"
      if (format == "lpcm") return "LPCM"
      if (format == "dts") return "DTS"
      return format
    }
    function language(text) { text = substr(text, 1, 2); return text == "xx" ? "--" : text }
    /^Title: / {
      title = field("Title") + 0
      split(field("Length"), time, /[: ]/)
      chapters = field("Chapters") + 0
      next
    }
    /^\tVTS: / {
      set = field("VTS") + 0
      video = field("Width") "x" field("Height") " " field("Format") " " (field("Aspect ratio") == "16/9" ? "16:9" : "4:3")
      next
    }
    /^\tNumber of Angles: / {
      angles = $4 + 0
      printf "title %d length %d:%s:%s %d chapter%s %d angle%s set %d\n", title, time[1], time[2], time[3],
        chapters, chapters == 1 ? "" : "s", angles, angles == 1 ? "" : "s", set
      print "  video " video
      next
    }
    /^\tAudio: / {
      format = field("Format"); sub(/ +$/, "", format)
      line = "  audio " kind(format) " " field("Channels") "ch " field("Frequency") / 1000 " kHz"
      if (format == "lpcm") { bits = field("Quantization"); sub(/bit/, "-bit", bits); line = line " " bits }
      print line " " language(field("Language"))
      print "title " title " audio " field("Stream id") >ids
      next
    }
    /^\tSubtitle: / {
      print "  subpicture " language(field("Language"))
      print "title " title " subpicture " field("Stream id") >ids
      next
    }'
}

# Every id packrift names must be a stream of the title set's VOB files.
check_ids_in_vobs() {
  local disc=$1 listing=$2
  local title set id found
  while read -r title set; do
    found=$(ffprobe -v error -show_entries stream=id -of csv=p=0 "$disc"/VIDEO_TS/VTS_"$(printf %02d "$set")"_1.VOB |
      sed 's/^0x1\(..\)$/0x\1/' | tr 'A-F' 'a-f')
    while read -r id; do
      if ! grep -qx "$id" <<<"$found"; then
        fail "$disc title $title: packrift names stream $id, which the VOB files of title set $set do not hold ($(tr '\n' ' ' <<<"$found"))"
      fi
    done < <(awk -v t="$title" '$2 == t && $3 != "length" { print $4 }' "$listing.ids")
  done < <(awk '/^title [0-9]+ length/ { print $2, $NF }' "$listing")
}

# Where a title set's audio tracks are all of one kind, lsdvd's ids are right.
check_ids_with_lsdvd() {
  local disc=$1
  local title kinds
  while read -r title kinds; do
    [ "$kinds" -eq 1 ] || continue
    if ! diff <(grep "^title $title audio" packrift.ids) <(grep "^title $title audio" lsdvd.ids) >/dev/null; then
      fail "$disc title $title: audio ids differ from lsdvd's:"
      diff <(grep "^title $title audio" packrift.ids) <(grep "^title $title audio" lsdvd.ids) | sed 's/^/      /'
    fi
  done < <(awk '/^title / { title = $2; split("", seen); kinds[title] = 0 }
                /^  audio / { if (!($2 in seen)) { seen[$2] = 1; kinds[title]++ } }
                END { for (t in kinds) print t, kinds[t] }' lsdvd.txt)
  if ! diff <(grep subpicture packrift.ids) <(grep subpicture lsdvd.ids) >/dev/null; then
    fail "$disc: subpicture ids differ from lsdvd's"
  fi
}

check_disc() {
  local disc=$1
  local out status failures_before=$failures
  out=$("${emulator[@]}" "$packrift" "$disc" 2>packrift.err)
  status=$?
  if [ "$status" -ne 0 ] || [ -s packrift.err ]; then
    fail "$disc: packrift exited with $status: $(tr -d '\r' <packrift.err)"
  fi
  : >packrift.ids
  : >lsdvd.ids
  canonical_packrift packrift.ids <<<"$out" >packrift.txt
  lsdvd -x "$disc" 2>/dev/null | canonical_lsdvd lsdvd.ids >lsdvd.txt
  if [ ! -s lsdvd.txt ]; then
    fail "$disc: lsdvd listed nothing"
  elif ! diff packrift.txt lsdvd.txt >diff.txt; then
    fail "$disc: the listing differs from lsdvd's (< packrift, > lsdvd):"
    sed 's/^/      /' diff.txt
  fi
  cp packrift.txt "$disc.listing"
  cp packrift.ids "$disc.listing.ids"
  check_ids_in_vobs "$disc" "$disc.listing"
  check_ids_with_lsdvd "$disc"
  if [ "$failures" -eq "$failures_before" ]; then
    echo "  ok   $disc: $(grep -c '^title' packrift.txt) titles as lsdvd lists them, ids as the VOB files hold them"
  fi
}

absolute_paths
mkdir -p "$work_dir/discs"
cd "$work_dir/discs" || exit 1

key=$( (ffmpeg -version | head -n 1; dvdauthor -h 2>&1 | head -n 1; cat "$script") | sha256sum | cut -c1-16)
if [ "$(cat key 2>/dev/null)" != "$key" ]; then
  rm -f key
  if ! author_discs; then
    echo "FAIL: the discs could not be authored"
    exit 1
  fi
  echo "$key" >key
fi
echo "$(ffmpeg -version | head -n 1); $(dvdauthor -h 2>&1 | head -n 1); $(lsdvd -V 2>&1 | head -n 1)"

for disc in two_sets mixed plain; do
  check_disc "$disc"
done
echo "disc check: $failures failures"
[ "$failures" -eq 0 ]
