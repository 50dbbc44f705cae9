#!/usr/bin/env bash
# Checks that a title whose timestamps restart between its VOBs (joins)
# comes out in sync: each part's sound begins where its pictures begin on
# the title's clock and ends where they end, whatever the part's audio ran
# to in its VOB.
#
# ffmpeg's DVD muxer makes four parts of 3 s of NTSC video, each with the
# same tone in three tracks, AC-3, MPEG audio Layer II and LPCM, a
# frequency of its own a part. Part 1's audio runs 0.4 s past its video;
# part 2's starts 0.3 s into it (-itsoffset) and so runs 0.3 s past it;
# part 3's ends 0.4 s early; part 4's matches it. dvdauthor makes them one
# title of one program chain, one <vob> each, a chapter a part: each VOB
# starts its timestamps anew. After `packrift DISC -title 1 -video 0
# -audio 0 -mpa 0 -lpcm 0 -chapters -streams`:
#
# - the video is byte for byte ffmpeg's stream copy of each part, one
#   after the other;
# - a part's video starts on the title's clock where the pictures of the
#   parts before it end: their fields counted by ffprobe (2 a frame, more
#   with repeat_pict) times the field period; the chapters start there;
# - ffmpeg decodes each audio output to 16-bit samples (sample 0 at the
#   delay that -streams reports) and tone_onsets.py finds each part's
#   tone: it must begin within one audio frame of its video's start plus
#   the tone's own delay in the part, and end within one frame of the
#   part's video end, or of its audio's end where that comes first (the
#   last part's end as it comes), give or take the decoder's overlap at a
#   splice, 1 ms of measure, and for LPCM the lead of ffmpeg's LPCM
#   timestamps, which run about 10 ms ahead of their samples from the
#   third packet on;
# - where a part's sound ends before the next one's begins, the filled
#   stretch between, less a margin at each end, decodes to zeros;
# - the AC-3 output passes ffmpeg's CRC checks.
# The parts' own timestamps are checked first: each tone, decoded from the
# part's program stream, begins where the part's timestamps put it.
#
# Usage: joins_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# EMULATOR, when given, runs PACKRIFT (Wine for a cross-built Windows .exe).
# Exits 0 when the title stays in sync, 1 otherwise, 77 (skipped) when a
# tool is missing.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

readonly TICKS_PER_SECOND=90000
readonly SAMPLE_RATE=48000
readonly CHANNELS=2
# Allowances in milliseconds: the measure's (its edges and the delay's
# rounding), and the lead of ffmpeg's LPCM timestamps.
readonly MEASURE_MS=1
readonly LPCM_LEAD_MS=11

# Parts: video seconds, audio seconds, the audio's start in the part
# (seconds), tone (Hz, a multiple of 100: see tone_onsets.py).
readonly PARTS=(
  "3 3.4 0 400"
  "3 3.0 0.3 700"
  "3 2.6 0 1000"
  "3 3.0 0 1300"
)
# Codings: name, packrift's option, output suffix, ffmpeg's encoder and
# bit rate, the stream's id as ffmpeg names it in a part (the muxer orders
# a part's streams by their first packet), samples a frame, the decoder's
# overlap at a splice in samples (AC-3's half block; the MPEG audio
# synthesis window), lead in ms.
readonly CODINGS=(
  "ac3|-audio|-stream0.ac3|ac3|192k|0x80|1536|256|0"
  "mp2|-mpa|-mpa0.mp2|mp2|192k|0x1c0|1152|512|0"
  "lpcm|-lpcm|-lpcm0.wav|pcm_dvd|-|0xa0|80|0|$LPCM_LEAD_MS"
)
readonly DISC_NAME=joins

take_arguments "$@"
here=$(cd "$(dirname "$0")" && pwd)
require_tools "the joins check needs ffmpeg, dvdauthor and python3" \
  ffmpeg:ffmpeg ffprobe:ffmpeg dvdauthor:dvdauthor python3:python3
absolute_paths
cd "$work_dir" || exit 1
rm -rf parts "$DISC_NAME" run
mkdir -p parts run
log=$work_dir/make.log
: >"$log"

# ---- The disc -----------------------------------------------------------

# Part N: its program stream, one tone in every coding.
make_part() {
  local number=$1 video=$2 audio=$3 start=$4 tone=$5
  local -a codecs=() maps=(-map 0:v)
  local index=0 coding encoder rate
  for coding in "${CODINGS[@]}"; do
    IFS='|' read -r _ _ _ encoder rate _ <<<"$coding"
    maps+=(-map 1:a)
    codecs+=("-c:a:$index" "$encoder")
    [ "$rate" != - ] && codecs+=("-b:a:$index" "$rate")
    index=$((index + 1))
  done
  # -aspect 4:3: dvdauthor writes the title set's aspect into a sequence
  # header that says otherwise, and the video would no longer be the part's.
  ffmpeg -nostdin -v error -y -threads "$THREADS" \
    -f lavfi -i "testsrc2=size=720x480:rate=30000/1001:duration=$video" \
    -itsoffset "$start" -f lavfi -i "sine=frequency=$tone:sample_rate=$SAMPLE_RATE:duration=$audio" \
    "${maps[@]}" -c:v mpeg2video -b:v 700k -maxrate 1500k -bufsize 1835k -g 12 -aspect 4:3 \
    -pix_fmt yuv420p "${codecs[@]}" -ac "$CHANNELS" -ar "$SAMPLE_RATE" \
    -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -f dvd "parts/part$number.mpg" >>"$log" 2>&1
}

make_disc() {
  local number=0 part vobs=
  for part in "${PARTS[@]}"; do
    number=$((number + 1))
    # shellcheck disable=SC2086  # the part's fields are words
    make_part "$number" $part || return 1
    vobs+="        <vob file=\"$work_dir/parts/part$number.mpg\" chapters=\"0\"/>"$'\n'
  done
  cat >parts/disc.xml <<EOF
<dvdauthor format="ntsc">
  <vmgm/>
  <titleset>
    <titles>
      <video format="ntsc" aspect="4:3"/>
      <audio format="ac3" lang="en"/>
      <audio format="mp2" lang="fr"/>
      <audio format="pcm" quant="16bps" samplerate="48khz" channels="2" lang="de"/>
      <pgc>
$vobs      </pgc>
    </titles>
  </titleset>
</dvdauthor>
EOF
  # dvdauthor warns of every LPCM packet whose timestamp runs ahead.
  dvdauthor -o "$DISC_NAME" -x parts/disc.xml >>"$log" 2>&1
}

# ---- What the parts hold ------------------------------------------------

# The first PTS, in stream order, of a stream of a file: FILE SPECIFIER.
first_pts() {
  ffprobe -v error -select_streams "$2" -show_entries packet=pts -of csv=p=0 "$1" |
    grep -m 1 '^[0-9]'
}

# A video stream's length in 90 kHz ticks: its fields as ffprobe decodes
# them (two a frame, 2 + repeat_pict in all) times the field period.
video_ticks() {
  local file=$1 rate fields
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=avg_frame_rate -of csv=p=0 "$file" |
    head -n 1 | tr -d ',')
  fields=$(ffprobe -v error -select_streams v:0 -show_entries frame=repeat_pict -of csv=p=0 "$file" |
    awk 'NF { fields += 2 + $1 } END { print fields + 0 }')
  echo $((fields * TICKS_PER_SECOND * ${rate#*/} / (2 * ${rate%/*})))
}

# Fills, per part: video_start_ms (on the title's clock), video_ms,
# audio_start_ms (its tone's start in the part), audio_ms, tones; the
# video of the parts one after the other in parts/all.m2v.
declare -a video_start_ms video_ms audio_start_ms audio_ms tones
measure_parts() {
  local number=0 part video audio start tone ticks clock=0
  : >parts/all.m2v
  for part in "${PARTS[@]}"; do
    number=$((number + 1))
    read -r video audio start tone <<<"$part"
    ffmpeg -nostdin -v error -y -i "parts/part$number.mpg" -map 0:v -c copy -f mpeg2video \
      "parts/part$number.m2v" || return 1
    cat "parts/part$number.m2v" >>parts/all.m2v
    ticks=$(video_ticks "parts/part$number.m2v")
    video_start_ms+=("$(awk -v t="$clock" -v s="$TICKS_PER_SECOND" 'BEGIN { printf "%.3f", t * 1000 / s }')")
    video_ms+=("$(awk -v t="$ticks" -v s="$TICKS_PER_SECOND" 'BEGIN { printf "%.3f", t * 1000 / s }')")
    audio_start_ms+=("$(awk -v s="$start" 'BEGIN { printf "%.3f", s * 1000 }')")
    audio_ms+=("$(awk -v s="$audio" 'BEGIN { printf "%.3f", s * 1000 }')")
    tones+=("$tone")
    echo "part $number: video ${video_ms[-1]} ms from ${video_start_ms[-1]} ms on the title's clock;" \
      "${tone} Hz from ${audio_start_ms[-1]} ms for ${audio_ms[-1]} ms of it"
    clock=$((clock + ticks))
  done
}

# Each part's tone, decoded from its own program stream, must begin where
# the part's timestamps put it: its first audio PTS less its first video
# PTS, plus the tone's sample in the decode, is the tone's start in the
# part. This holds the reference the title is measured against.
check_parts_timestamps() {
  local number coding name id video_pts audio_pts begin found
  for coding in "${CODINGS[@]}"; do
    IFS='|' read -r name _ _ _ _ id _ <<<"$coding"
    begin_check
    for number in "${!PARTS[@]}"; do
      local file=parts/part$((number + 1)).mpg
      video_pts=$(first_pts "$file" v:0)
      audio_pts=$(first_pts "$file" "i:$id")
      ffmpeg -nostdin -v error -y -i "$file" -map "0:i:$id" -f s16le -c:a pcm_s16le parts/own.raw
      read -r _ begin _ < <(python3 "$here/tone_onsets.py" tones parts/own.raw "$CHANNELS" "${tones[number]}")
      found=$(awk -v a="$audio_pts" -v v="$video_pts" -v b="$begin" -v s="$TICKS_PER_SECOND" -v r="$SAMPLE_RATE" \
        'BEGIN { printf "%.1f", (a - v) * 1000 / s + b * 1000 / r }')
      if awk -v f="$found" -v e="${audio_start_ms[number]}" -v m="$MEASURE_MS" \
        'BEGIN { exit !(f - e > m || e - f > m) }'; then
        fail "$name part $((number + 1)): its own timestamps put its tone at $found ms, not at ${audio_start_ms[number]} ms"
      fi
    done
    [ "$failures" -eq "$failures_before_check" ] &&
      echo "  ok   $name: each part's own timestamps put its tone where it was made to start"
    end_check
  done
}

# ---- The title ----------------------------------------------------------

check_video() {
  begin_check
  local ours=$DISC_NAME-title1.m2v
  if [ ! -f "run/$ours" ]; then
    fail "video: packrift wrote no $ours"
  elif ! cmp -s "run/$ours" parts/all.m2v; then
    fail "video: $ours ($(file_size "run/$ours") bytes) is not the parts' video one after the other ($(file_size parts/all.m2v) bytes)"
  else
    echo "  ok   video: $(file_size parts/all.m2v) bytes, the parts' video one after the other"
  fi
  end_check
}

# Chapter N (one a part) must start at part N's video start, in
# milliseconds rounded down, give or take the measure.
check_chapters() {
  begin_check
  local file=run/$DISC_NAME-title1.chapters.txt number found expected
  for number in "${!PARTS[@]}"; do
    found=$(tr -d '\r' <"$file" 2>/dev/null | sed -n "s/^CHAPTER$(printf '%02d' $((number + 1)))=//p")
    expected=$(awk -v v="${video_start_ms[number]}" 'BEGIN { printf "%d", v }')
    if [[ ! $found =~ ^([0-9]+):([0-9]{2}):([0-9]{2})\.([0-9]{3})$ ]]; then
      fail "chapter $((number + 1)): '$found' where it should start at $expected ms"
      continue
    fi
    found=$(((10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}) * 1000 + 10#${BASH_REMATCH[4]}))
    if [ $((found - expected)) -gt "$MEASURE_MS" ] || [ $((expected - found)) -gt "$MEASURE_MS" ]; then
      fail "chapter $((number + 1)) starts at $found ms; part $((number + 1))'s video starts at $expected ms"
    fi
  done
  [ "$failures" -eq "$failures_before_check" ] && echo "  ok   chapters: one a part, each at its part's video start"
  end_check
}

# The largest distance found where a tone begins and where one ends, and
# where each was found.
declare -A largest=([begins]=0.0 [ends]=0.0) largest_at=([begins]=none [ends]=none)

# Prints one measure and checks it: EDGE (begins or ends) WHERE (coding
# and part) HZ FOUND_MS EXPECTED_MS ALLOWED_MS.
measure() {
  local edge=$1 where=$2 hz=$3 found=$4 expected=$5 allowed=$6 offset
  offset=$(awk -v f="$found" -v e="$expected" 'BEGIN { o = f - e; if (o > -0.05 && o < 0.05) o = 0; printf "%+.1f", o }')
  [ "$found" = -0.0 ] && found=0.0
  echo "    $where: $hz Hz $edge at $found ms, expected $expected ms: offset $offset ms (allowed $allowed)"
  if awk -v o="$offset" -v a="$allowed" 'BEGIN { exit !(o > a || -o > a) }'; then
    fail "$where: the tone $edge $offset ms off, more than $allowed ms"
  fi
  if awk -v o="${offset#[+-]}" -v l="${largest[$edge]}" 'BEGIN { exit !(o > l) }'; then
    largest[$edge]=${offset#[+-]}
    largest_at[$edge]=$where
  fi
}

# One audio output: every part's tone where the title's clock puts it,
# the filled stretches silent.
check_audio() {
  local coding=$1 name option suffix frame overlap lead
  IFS='|' read -r name option suffix _ _ _ frame overlap lead <<<"$coding"
  local output=run/$DISC_NAME-title1$suffix
  begin_check
  echo "  $name ($option 0): $output"
  if [ ! -s "$output" ]; then
    fail "$name: packrift wrote no $output"
    end_check
    return
  fi
  local line delay
  line=$(tr -d '\r' <run/packrift.log | grep "($option 0)")
  if [[ ! $line =~ delay\ ([+-][0-9]+)\ ms ]]; then
    fail "$name: -streams reports no delay: '$line'"
    end_check
    return
  fi
  delay=${BASH_REMATCH[1]}
  if [ "$name" = ac3 ]; then
    if ! ffmpeg -nostdin -v error -err_detect crccheck+explode -i "$output" -f null - >"run/$name.crc.log" 2>&1 ||
      [ -s "run/$name.crc.log" ]; then
      fail "$name: ffmpeg's CRC checks: $(head -n 2 "run/$name.crc.log" | tr '\n' ' ')"
    else
      echo "    $name passes ffmpeg's CRC checks"
    fi
  fi
  ffmpeg -nostdin -v error -y -i "$output" -f s16le -c:a pcm_s16le "run/$name.raw" || {
    fail "$name: ffmpeg cannot decode $output"
    end_check
    return
  }
  local -a edges
  mapfile -t edges < <(python3 "$here/tone_onsets.py" tones "run/$name.raw" "$CHANNELS" "${tones[@]}")
  # One frame, the decoder's overlap, the measure and the lead, in ms.
  local allowed margin
  allowed=$(awk -v f="$frame" -v o="$overlap" -v m="$MEASURE_MS" -v l="$lead" -v r="$SAMPLE_RATE" \
    'BEGIN { printf "%.1f", (f + o) * 1000 / r + m + l }')
  # The filled stretch's margin: one overlap more, for the pre-echo of the
  # frame that begins the next part.
  margin=$(awk -v a="$allowed" -v o="$overlap" -v r="$SAMPLE_RATE" 'BEGIN { printf "%.1f", a + o * 1000 / r }')
  local number last=$((${#PARTS[@]} - 1)) hz begin end expected found video_end audio_end
  for number in "${!PARTS[@]}"; do
    read -r hz begin end <<<"${edges[number]}"
    if [ "$begin" = none ] || [ -z "$begin" ]; then
      fail "$name part $((number + 1)): no ${tones[number]} Hz tone in $output"
      continue
    fi
    expected=$(awk -v v="${video_start_ms[number]}" -v a="${audio_start_ms[number]}" 'BEGIN { printf "%.1f", v + a }')
    found=$(awk -v d="$delay" -v b="$begin" -v r="$SAMPLE_RATE" 'BEGIN { printf "%.1f", d + b * 1000 / r }')
    measure begins "$name, part $((number + 1))" "$hz" "$found" "$expected" "$allowed"
    # It ends with its video, or where its audio ends first; the last
    # part's end is left as it comes.
    video_end=$(awk -v v="${video_start_ms[number]}" -v l="${video_ms[number]}" 'BEGIN { printf "%.1f", v + l }')
    audio_end=$(awk -v e="$expected" -v l="${audio_ms[number]}" 'BEGIN { printf "%.1f", e + l }')
    expected=$audio_end
    if [ "$number" -lt "$last" ]; then
      expected=$(awk -v v="$video_end" -v a="$audio_end" 'BEGIN { printf "%.1f", a < v ? a : v }')
    fi
    found=$(awk -v d="$delay" -v e="$end" -v r="$SAMPLE_RATE" 'BEGIN { printf "%.1f", d + e * 1000 / r }')
    measure ends "$name, part $((number + 1))" "$hz" "$found" "$expected" "$allowed"
    # The stretch from its end to the next part's tone is filled: zeros,
    # less a margin at each end for the frames about the edges.
    if [ "$number" -lt "$last" ]; then
      local from to nonzero
      from=$(awk -v e="$expected" -v m="$margin" -v d="$delay" -v r="$SAMPLE_RATE" \
        'BEGIN { printf "%d", (e + m - d) * r / 1000 }')
      to=$(awk -v v="${video_start_ms[number + 1]}" -v a="${audio_start_ms[number + 1]}" -v m="$margin" \
        -v d="$delay" -v r="$SAMPLE_RATE" 'BEGIN { printf "%d", (v + a - m - d) * r / 1000 }')
      if [ "$to" -gt "$from" ]; then
        nonzero=$(python3 "$here/tone_onsets.py" nonzero "run/$name.raw" "$CHANNELS" "$from" "$to")
        echo "    $name fill after part $((number + 1)): $nonzero of $(((to - from) * CHANNELS)) samples not zero"
        [ "$nonzero" -eq 0 ] || fail "$name: the stretch filled after part $((number + 1)) is not silent"
      fi
    fi
  done
  end_check
}

# ---- The run ------------------------------------------------------------

begin_check
if ! make_disc; then
  fail "the parts or the disc could not be made; the end of $log:"
  tail -n 10 "$log" | sed 's/^/      /'
  end_check
  echo "joins check: $((checks - failed_checks)) of $checks checks passed, $failures failures"
  exit 1
fi
end_check
measure_parts || fail "ffmpeg could not copy the parts' video"
check_parts_timestamps

cd run || exit 1
options=(-title 1 -video 0 -chapters -streams)
for coding in "${CODINGS[@]}"; do
  IFS='|' read -r _ option _ <<<"$coding"
  options+=("$option" 0)
done
begin_check
run_packrift "the title" "$work_dir/$DISC_NAME" "${options[@]}"
end_check
tr -d '\r' <packrift.log | grep -E '^stream ' | sed 's/^/  /'
cd "$work_dir" || exit 1

check_video
check_chapters
for coding in "${CODINGS[@]}"; do
  check_audio "$coding"
done

echo "largest offset: ${largest[begins]} ms (${largest_at[begins]})"
echo "largest offset at a part's end: ${largest[ends]} ms (${largest_at[ends]})"
echo "joins check: $((checks - failed_checks)) of $checks checks passed, $failures failures"
[ "$failures" -eq 0 ]
