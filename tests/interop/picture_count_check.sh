#!/usr/bin/env bash
# Checks packrift's picture count, the video's clock for a title's joins,
# against ffprobe: ffmpeg makes MPEG-1 and MPEG-2 video streams (interlaced
# at 29.97 Hz, progressive at 25 and 23.976 Hz); two more have their
# pictures' repeat_first_field and top_field_first set in their headers, as
# soft telecine does (3:2 pulldown, 23.976 Hz shown at 29.97 Hz) and as a
# progressive sequence repeats frames (doubled, tripled). count_fields
# (tests/support/) feeds each stream in pieces of changing sizes; its
# pictures must be ffprobe's frames, its fields the sum of 2 + repeat_pict
# over them, its frame period that of ffprobe's average frame rate (the
# sequence header's; its r_frame_rate is the field rate where fields
# repeat). Field pictures are left to the unit tests: ffmpeg does not
# encode them.
#
# Usage: picture_count_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# PACKRIFT is not run; EMULATOR, when given, runs the counter (Wine for a
# cross-built Windows .exe). COUNT_FIELDS, in the environment, names the
# counter. Exits 0 when every count matches, 1 otherwise, 77 (skipped)
# when ffmpeg or the counter is missing.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

readonly TICKS_PER_SECOND=90000
readonly SECONDS_OF_VIDEO=2
readonly SIZE=352x288
# The picture coding extension's fourth byte, its flags: top_field_first
# 0x80, frame_pred_frame_dct 0x40 (as ffmpeg sets it), repeat_first_field 0x02.
readonly FLAGS_OFFSET=7
readonly PLAIN=40 TFF=c0 RFF=42 TFF_RFF=c2
readonly FRAME_RATE_OFFSET=7    # in the sequence header: aspect ratio, frame_rate_code
readonly PROGRESSIVE_OFFSET=5   # in the sequence extension: progressive_sequence 0x08

take_arguments "$@"
require_tools "the picture count check needs ffmpeg (Debian package ffmpeg)" ffmpeg ffprobe grep dd
if [ -z "${COUNT_FIELDS:-}" ]; then
  echo "SKIPPED: COUNT_FIELDS not set"
  exit "$SKIP_STATUS"
fi
absolute_paths
cd "$work_dir" || exit 1
export LC_ALL=C

# name|rate|codec and flags
streams=(
  "mpeg1_25|25|-c:v mpeg1video"
  "interlaced_2997|30000/1001|-c:v mpeg2video -flags +ilme+ildct -top 1"
  "progressive_25|25|-c:v mpeg2video"
  "progressive_23976|24000/1001|-c:v mpeg2video"
)

make_stream() {
  local name=$1 rate=$2 codec=$3
  # shellcheck disable=SC2086  # the codec's flags are words
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$SIZE:rate=$rate:duration=$SECONDS_OF_VIDEO" \
    $codec -b:v 2000k -f mpeg2video "$name.m2v"
}

# Offsets of the start codes 00 00 01 CODE followed by a byte in FIRST.
start_codes() { grep -obUaP "\\x00\\x00\\x01\\x$2[$3]" "$1" | cut -d: -f1; }

put_byte() { printf "\\x$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# Sets the pictures' flags of FILE to the bytes given, in turn.
set_picture_flags() {
  local file=$1 offset turn=0
  shift
  local -a pattern=("$@")
  for offset in $(start_codes "$file" b5 '\x80-\x8f'); do
    put_byte "$file" $((offset + FLAGS_OFFSET)) "${pattern[turn % ${#pattern[@]}]}"
    turn=$((turn + 1))
  done
}

# 3:2 pulldown: 23.976 Hz progressive frames in an interlaced sequence at
# 29.97 Hz (frame_rate_code 4), three fields, two, three, two.
make_pulldown() {
  local file=pulldown_2997.m2v offset byte
  cp progressive_23976.m2v "$file"
  for offset in $(start_codes "$file" b3 '\x00-\xff'); do
    byte=$(od -A n -t x1 -j $((offset + FRAME_RATE_OFFSET)) -N 1 "$file" | tr -d ' ')
    put_byte "$file" $((offset + FRAME_RATE_OFFSET)) "$(printf '%02x' $(((0x$byte & 0xf0) | 4)))"
  done
  for offset in $(start_codes "$file" b5 '\x10-\x1f'); do
    byte=$(od -A n -t x1 -j $((offset + PROGRESSIVE_OFFSET)) -N 1 "$file" | tr -d ' ')
    put_byte "$file" $((offset + PROGRESSIVE_OFFSET)) "$(printf '%02x' $((0x$byte & ~0x08 & 0xff)))"
  done
  set_picture_flags "$file" "$TFF_RFF" "$PLAIN" "$RFF" "$TFF"
}

# A progressive sequence whose frames are shown once, twice and three times.
make_repeated() {
  cp progressive_23976.m2v repeated_23976.m2v
  set_picture_flags repeated_23976.m2v "$PLAIN" "$RFF" "$TFF_RFF" "$TFF"
}

check_stream() {
  local file=$1 counted pictures fields period frames expected_fields rate
  begin_check
  counted=$("${emulator[@]}" "$COUNT_FIELDS" "$file" | tr -d '\r')
  read -r pictures fields period <<<"$counted"
  frames=$(ffprobe -v error -select_streams v:0 -show_entries frame=repeat_pict -of csv=p=0 "$file" | grep -c .)
  expected_fields=$(ffprobe -v error -select_streams v:0 -show_entries frame=repeat_pict -of csv=p=0 "$file" |
    awk 'NF { fields += 2 + $1 } END { print fields + 0 }')
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=avg_frame_rate -of csv=p=0 "$file" | head -n 1 | tr -d ",")
  if [ "${pictures:-}" != "$frames" ]; then
    fail "$file: $pictures pictures counted, ffprobe shows $frames frames"
  fi
  if [ "${fields:-}" != "$expected_fields" ]; then
    fail "$file: $fields fields counted, ffprobe's repeat_pict gives $expected_fields"
  fi
  # period = 90000 x rate's denominator / rate's numerator, cross-multiplied.
  if [ $((${period%/*} * ${rate%/*})) -ne $((TICKS_PER_SECOND * ${rate#*/} * ${period#*/})) ]; then
    fail "$file: frame period $period ticks, ffprobe's frame rate $rate"
  fi
  echo "$file: $pictures pictures, $fields fields, frame period $period ticks"
  end_check
}

for stream in "${streams[@]}"; do
  IFS='|' read -r name rate codec <<<"$stream"
  make_stream "$name" "$rate" "$codec" || fail "$name: ffmpeg could not make it"
done
make_pulldown
make_repeated
for file in mpeg1_25.m2v interlaced_2997.m2v progressive_25.m2v progressive_23976.m2v pulldown_2997.m2v repeated_23976.m2v; do
  check_stream "$file"
done

echo "picture count check: $((checks - failed_checks)) of $checks streams match ffprobe, $failures failures"
[ "$failures" -eq 0 ]
