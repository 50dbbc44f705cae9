#!/usr/bin/env bash
# Makes DVD-style VOBs of several shapes with ffmpeg's DVD muxer, splits each
# with packrift and checks that every output is byte for byte what two
# independent demuxers extract (ffmpeg's stream copy and mpegdemux), and that
# ffmpeg decodes it without a complaint.
#
# Usage: interop_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# EMULATOR, when given, runs PACKRIFT (Wine for a cross-built Windows .exe).
# Exits 0 when everything matches, 1 on any mismatch, 77 (skipped) when a
# tool is missing. Generated VOBs are cached in WORK_DIR/vobs, keyed on the
# ffmpeg version and the command line that made them.
set -uo pipefail

readonly SKIP_STATUS=77
readonly SECTOR_SIZE=2048
readonly AC3_SUBSTREAM_BASE=$((0x80))
readonly MAX_AC3_SUBSTREAMS=8
readonly THREADS=2
# Bytes shown on each side of the first difference.
readonly DIFF_CONTEXT=16

if [ $# -lt 2 ]; then
  echo "usage: $0 PACKRIFT WORK_DIR [EMULATOR...]" >&2
  exit 2
fi
packrift=$1
work_dir=$2
emulator=("${@:3}")

for tool in ffmpeg:ffmpeg ffprobe:ffmpeg mpegdemux:mpegdemux; do
  if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
    echo "SKIPPED: ${tool%%:*} not found (Debian package ${tool##*:}); the interop check needs ffmpeg and mpegdemux"
    exit "$SKIP_STATUS"
  fi
done

# One shape a line: name|frame size|frame rate|seconds|video encoder options|
# AC-3 streams as bitrate:channels or bitrate:channels:offset in seconds
# against the video, blank for none|extra video filter.
shapes=(
  "ntsc_1a|720x480|30000/1001|3|-b:v 2500k -maxrate 9000k -bufsize 1835k -g 15|192k:2|"
  "pal_2a|720x576|25|3|-b:v 3500k -maxrate 9000k -bufsize 1835k -g 12|384k:2 448k:6|"
  "ntsc_4a_low_rate|720x480|30000/1001|3|-b:v 600k -maxrate 1000k -bufsize 1835k -g 15|96k:1 192k:2 256k:2 448k:6|"
  "pal_3a_high_rate|720x576|25|3|-b:v 8000k -maxrate 9000k -bufsize 1835k -g 12|128k:1 224k:2 320k:6|,noise=alls=40:allf=t"
  "ntsc_long_gop|720x480|30000/1001|5|-b:v 4000k -maxrate 9000k -bufsize 1835k -g 120 -bf 2|256k:2|"
  "pal_no_audio|720x576|25|3|-b:v 5000k -maxrate 9000k -bufsize 1835k -g 15||"
  "pal_2a_shifted|720x576|25|3|-b:v 3000k -maxrate 9000k -bufsize 1835k -g 12|192k:2:0.3 192k:2:-0.15|"
)

failures=0
checks=0
failed_checks=0
ffmpeg_version=$(ffmpeg -version 2>/dev/null | head -n 1)

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

file_size() { wc -c <"$1" | tr -d ' '; }

# The ffmpeg arguments that make the VOB of one shape, one a line.
vob_command() {
  local size=$1 rate=$2 seconds=$3 video_options=$4 audio_specs=$5 filter=$6
  local -a args=(-nostdin -v error -y -threads "$THREADS"
    -f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$seconds$filter")
  local -a maps=(-map 0:v)
  local -a audio_options=()
  local index=0 stream bitrate channels offset
  for stream in $audio_specs; do
    IFS=: read -r bitrate channels offset <<<"$stream"
    # Shifts the substream's timestamps against the video's.
    if [ -n "$offset" ]; then
      args+=(-itsoffset "$offset")
    fi
    # Alternate tones and noise so that the substreams differ in content too.
    if [ $((index % 2)) -eq 0 ]; then
      args+=(-f lavfi -i "sine=frequency=$((220 * (index + 1))):sample_rate=48000:duration=$seconds")
    else
      args+=(-f lavfi -i "anoisesrc=sample_rate=48000:amplitude=0.3:duration=$seconds")
    fi
    maps+=(-map "$((index + 1)):a")
    audio_options+=("-b:a:$index" "$bitrate" "-ac:a:$index" "$channels")
    index=$((index + 1))
  done
  args+=("${maps[@]}" -c:v mpeg2video $video_options -pix_fmt yuv420p)
  if [ "$index" -gt 0 ]; then
    args+=(-c:a ac3 -ar 48000 "${audio_options[@]}")
  fi
  args+=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -f dvd)
  printf '%s\n' "${args[@]}"
}

# Makes (or finds in the cache) the VOB of one shape and prints its path.
cached_vob() {
  local name=$1
  shift
  local -a args
  mapfile -t args < <(vob_command "$@")
  local key
  key=$(printf '%s\n' "$ffmpeg_version" "${args[@]}" | sha256sum | cut -c1-16)
  local vob=$work_dir/vobs/$name-$key.vob
  if [ ! -s "$vob" ]; then
    mkdir -p "$work_dir/vobs"
    rm -f "$work_dir/vobs/$name-"*.vob
    # The muxer warns about buffer limits at high audio rates; keep that out of the way.
    if ! ffmpeg "${args[@]}" "$vob.partial" 2>"$work_dir/vobs/$name.log"; then
      cat "$work_dir/vobs/$name.log" >&2
      return 1
    fi
    mv "$vob.partial" "$vob"
  fi
  printf '%s\n' "$vob"
}

show_difference() {
  local left=$1 right=$2 first
  first=$(cmp "$left" "$right" 2>&1 | head -n 1)
  echo "      $first"
  local byte
  byte=$(printf '%s\n' "$first" | sed -n 's/.*differ: byte \([0-9]*\),.*/\1/p')
  if [ -n "$byte" ]; then
    local from=$((byte - 1 - DIFF_CONTEXT))
    [ "$from" -lt 0 ] && from=0
    echo "      $(basename "$left") from offset $from:"
    od -A d -t x1 -j "$from" -N $((2 * DIFF_CONTEXT)) "$left" | sed 's/^/        /'
    echo "      $(basename "$right") from offset $from:"
    od -A d -t x1 -j "$from" -N $((2 * DIFF_CONTEXT)) "$right" | sed 's/^/        /'
  fi
}

# Counts a check as failed when it added any failure since it began.
begin_check() {
  checks=$((checks + 1))
  failures_before_check=$failures
}
end_check() {
  if [ "$failures" -gt "$failures_before_check" ]; then
    failed_checks=$((failed_checks + 1))
  fi
}

# Compares packrift's output with both demuxers' and says who disagrees.
compare_outputs() {
  local label=$1 ours=$2 by_ffmpeg=$3 by_mpegdemux=$4
  if [ ! -s "$ours" ]; then
    fail "$label: packrift wrote nothing to $(basename "$ours")"
    return
  fi
  local bad=0 oracle file
  for oracle in ffmpeg mpegdemux; do
    file=$by_ffmpeg
    [ "$oracle" = mpegdemux ] && file=$by_mpegdemux
    if [ ! -s "$file" ]; then
      fail "$label: $oracle extracted nothing"
      bad=1
    elif ! cmp -s "$ours" "$file"; then
      fail "$label: packrift ($(file_size "$ours") bytes) differs from $oracle ($(file_size "$file") bytes)"
      show_difference "$ours" "$file"
      bad=1
    fi
  done
  if [ "$bad" -ne 0 ]; then
    if cmp -s "$by_ffmpeg" "$by_mpegdemux"; then
      echo "      ffmpeg and mpegdemux agree with each other"
    else
      echo "      ffmpeg and mpegdemux disagree with each other too"
    fi
  else
    echo "  ok   $label: $(file_size "$ours") bytes, same as ffmpeg and mpegdemux"
  fi
}

check_decodes() {
  local label=$1 file=$2 complaints
  if ! complaints=$(ffmpeg -nostdin -v error -threads "$THREADS" -i "$file" -f null - 2>&1) ||
    [ -n "$complaints" ]; then
    fail "$label: ffmpeg does not decode $(basename "$file") cleanly:"
    printf '%s\n' "$complaints" | head -n 10 | sed 's/^/      /'
  else
    echo "  ok   $label: decodes without an error"
  fi
}

run_packrift() {
  local label=$1
  shift
  "${emulator[@]}" "$packrift" "$@" >packrift.log 2>&1
  local status=$?
  if [ "$status" -ne 0 ]; then
    fail "$label: packrift $* exited with $status"
    tr '\r' '\n' <packrift.log | tail -n 5 | sed 's/^/      /'
  fi
}

# Runs one of the reference demuxers; its failure is a failure of the check.
run_oracle() {
  local label=$1
  shift
  local complaints
  if ! complaints=$("$@" 2>&1); then
    fail "$label: $1 failed: $(printf '%s' "$complaints" | head -n 3)"
  fi
}

# The substream ids of ffmpeg's audio streams, in ffmpeg's order (0x80 ...).
audio_substream_ids() {
  ffprobe -v error -select_streams a -show_entries stream=id -of csv=p=0 "$1"
}

# True when two decimal numbers lie within a tolerance of each other.
within() {
  awk -v a="$1" -v b="$2" -v tolerance="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= tolerance + 1e-9) }'
}

# Checks each stream that packrift's report lists: its first PTS against
# ffprobe's start time (ffprobe's ids are 0x1e0 for stream 0xE0 and 0x80 for
# substream 0x80), each delay against the difference of the two start
# times, and the bytes against what the split wrote for it.
check_stream_report() {
  local name=$1 log=$2 vob=$3
  local -A start=()
  local id time
  while IFS=, read -r id time _; do
    if [ -n "$time" ] && [ "$time" != N/A ]; then
      start[$id]=$time
    fi
  done < <(ffprobe -v error -show_entries stream=id,start_time -of csv=p=0 "$vob")
  local line key file bytes pts delay expected listed=0
  while IFS= read -r line; do
    listed=$((listed + 1))
    begin_check
    file=
    if [[ $line =~ ^stream\ 0xBD\ (0x[0-9A-F]{2}) ]]; then
      key=${BASH_REMATCH[1],,}
      file=$name-stream$((key - AC3_SUBSTREAM_BASE)).ac3
    elif [[ $line =~ ^stream\ 0x([0-9A-F]{2}) ]]; then
      key=0x1${BASH_REMATCH[1],,}
      [ "$key" = 0x1e0 ] && file=$name.m2v
    fi
    [[ $line =~ ([0-9]+)\ bytes ]] && bytes=${BASH_REMATCH[1]}
    pts=
    [[ $line =~ first\ PTS\ ([0-9.]+)\ s ]] && pts=${BASH_REMATCH[1]}
    delay=
    [[ $line =~ delay\ ([-+][0-9]+)\ ms ]] && delay=${BASH_REMATCH[1]}
    if [ -z "$pts" ] || [ -z "${start[$key]:-}" ]; then
      fail "$name -streams: no first PTS for $key from packrift (${pts:-none}) or ffprobe (${start[$key]:-none})"
    elif ! within "$pts" "${start[$key]}" 0.001; then
      fail "$name -streams: $key first PTS $pts s, ffprobe's start time ${start[$key]} s"
    fi
    if [ "$file" != "$name.m2v" ] && [ -n "${start[0x1e0]:-}" ] && [ -z "$delay" ]; then
      fail "$name -streams: no delay for $key"
    elif [ -n "$delay" ]; then
      expected=$(awk -v a="${start[$key]:-0}" -v v="${start[0x1e0]:-0}" 'BEGIN { printf "%.3f", 1000 * (a - v) }')
      within "$delay" "$expected" 1 || fail "$name -streams: $key delay $delay ms, ffprobe's start times give $expected ms"
    fi
    if [ -f "$file" ] && [ "$bytes" != "$(file_size "$file")" ]; then
      fail "$name -streams: $key $bytes bytes, the split wrote $(file_size "$file") to $file"
    fi
    [ "$failures" -eq "$failures_before_check" ] && echo "  ok   $name -streams: $line"
    end_check
  done < <(tr '\r' '\n' <"$log" | grep '^stream ')
  if [ "$listed" -eq 0 ]; then
    fail "$name -streams: packrift listed no stream"
  fi
}

check_shape() {
  local name size rate seconds video_options audio_specs filter
  IFS='|' read -r name size rate seconds video_options audio_specs filter <<<"$1"
  local vob
  if ! vob=$(cached_vob "$name" "$size" "$rate" "$seconds" "$video_options" "$audio_specs" "$filter"); then
    fail "$name: ffmpeg could not make the VOB"
    return
  fi
  local vob_bytes
  vob_bytes=$(file_size "$vob")
  echo "$name: $size at $rate fps, ${seconds}s, video ${video_options}, AC-3 ${audio_specs:-none}"
  echo "  VOB $vob_bytes bytes, $((vob_bytes / SECTOR_SIZE)) packs"
  if [ $((vob_bytes % SECTOR_SIZE)) -ne 0 ]; then
    fail "$name: the VOB is not a whole number of $SECTOR_SIZE-byte packs"
  fi

  local run=$work_dir/runs/$name
  rm -rf "$run"
  mkdir -p "$run"
  cp "$vob" "$run/$name.vob"
  cd "$run" || return

  local -a ids
  mapfile -t ids < <(audio_substream_ids "$name.vob")
  local -a specs
  read -r -a specs <<<"$audio_specs"
  if [ "${#ids[@]}" -ne "${#specs[@]}" ]; then
    fail "$name: ffprobe lists ${#ids[@]} audio streams, the shape has ${#specs[@]}"
  fi

  local first_audio=()
  if [ "${#ids[@]}" -gt 0 ]; then
    first_audio=(-audio $((ids[0] - AC3_SUBSTREAM_BASE)))
  fi
  run_packrift "$name" "$name.vob" -video 0 "${first_audio[@]}" -streams
  cp packrift.log streams.log
  run_oracle "$name video" ffmpeg -nostdin -v error -i "$name.vob" -map 0:v:0 -c copy \
    -f mpeg2video ffmpeg.m2v
  run_oracle "$name video" mpegdemux -d -s 0xe0 "$name.vob" mpegdemux.m2v
  begin_check
  compare_outputs "$name video" "$name.m2v" ffmpeg.m2v mpegdemux.m2v
  end_check
  begin_check
  check_decodes "$name video" "$name.m2v"
  end_check

  local index substream
  for index in "${!ids[@]}"; do
    substream=$((ids[index] - AC3_SUBSTREAM_BASE))
    local label="$name audio ffmpeg a:$index = substream ${ids[index]}"
    if [ "$substream" -lt 0 ] || [ "$substream" -ge "$MAX_AC3_SUBSTREAMS" ]; then
      fail "$label: not an AC-3 substream id"
      continue
    fi
    if [ "$index" -gt 0 ]; then
      run_packrift "$label" "$name.vob" -audio "$substream"
    fi
    run_oracle "$label" ffmpeg -nostdin -v error -i "$name.vob" -map "0:a:$index" -c copy \
      -f ac3 "ffmpeg-$index.ac3"
    run_oracle "$label" mpegdemux -d -a -s 0xbd -p "${ids[index]}" "$name.vob" "mpegdemux-$index.ac3"
    begin_check
    compare_outputs "$label" "$name-stream$substream.ac3" "ffmpeg-$index.ac3" "mpegdemux-$index.ac3"
    end_check
    begin_check
    check_decodes "$label" "$name-stream$substream.ac3"
    end_check
  done
  check_stream_report "$name" streams.log "$name.vob"
  cd "$work_dir" || return
}

if [ ! -x "$packrift" ]; then
  echo "no packrift executable at $packrift" >&2
  exit 1
fi
packrift=$(cd "$(dirname "$packrift")" && pwd)/$(basename "$packrift")
mkdir -p "$work_dir"
work_dir=$(cd "$work_dir" && pwd)
cd "$work_dir" || exit 1
echo "$ffmpeg_version; $(mpegdemux --version 2>&1 | head -n 1)"
for shape in "${shapes[@]}"; do
  check_shape "$shape"
done

echo "interop: $((checks - failed_checks)) of $checks checks passed, $failures failures"
[ "$failures" -eq 0 ]
