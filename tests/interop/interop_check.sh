#!/usr/bin/env bash
# Makes DVD-style VOBs of several shapes with ffmpeg's DVD muxer, splits each
# with packrift and checks that every output is byte for byte what two
# independent demuxers extract (ffmpeg's stream copy and mpegdemux), and that
# ffmpeg decodes it without a complaint. An LPCM track's WAV is checked by its
# samples against ffmpeg's decode of the track instead.
#
# Usage: interop_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# EMULATOR, when given, runs PACKRIFT (Wine for a cross-built Windows .exe).
# Exits 0 when everything matches, 1 on any mismatch, 77 (skipped) when a
# tool is missing. Generated VOBs are cached in WORK_DIR/vobs, keyed on the
# ffmpeg version and the command line that made them.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

# Where each audio kind's tracks lie: private stream 1 substreams, and MPEG
# audio stream ids as ffprobe writes them (0x1c0 for stream 0xC0).
readonly AC3_SUBSTREAM_BASE=$((0x80))
readonly DTS_SUBSTREAM_BASE=$((0x88))
readonly LPCM_SUBSTREAM_BASE=$((0xA0))
readonly SUBSTREAMS_OF_A_KIND=8
readonly MPEG_AUDIO_BASE=$((0x1C0))
readonly MPEG_AUDIO_STREAMS=32
readonly MPEG_VIDEO_0=$((0x1E0))
# Bytes shown on each side of the first difference.
readonly DIFF_CONTEXT=16

take_arguments "$@"
require_tools "the interop check needs ffmpeg and mpegdemux" ffmpeg:ffmpeg ffprobe:ffmpeg mpegdemux:mpegdemux

# One shape a line: name|frame size|frame rate|seconds|video encoder options|
# audio streams as [codec=]bitrate:channels[:offset in seconds against the
# video], blank for none|extra video filter. The codec is ac3 when not named,
# or mp2, dca (DTS) or pcm_dvd (LPCM, whose bitrate field is its sample
# format: s16 for 16-bit, s32 for 24-bit samples).
shapes=(
  "ntsc_1a|720x480|30000/1001|3|-b:v 2500k -maxrate 9000k -bufsize 1835k -g 15|192k:2|"
  "pal_2a|720x576|25|3|-b:v 3500k -maxrate 9000k -bufsize 1835k -g 12|384k:2 448k:6|"
  "ntsc_4a_low_rate|720x480|30000/1001|3|-b:v 600k -maxrate 1000k -bufsize 1835k -g 15|96k:1 192k:2 256k:2 448k:6|"
  "pal_3a_high_rate|720x576|25|3|-b:v 8000k -maxrate 9000k -bufsize 1835k -g 12|128k:1 224k:2 320k:6|,noise=alls=40:allf=t"
  "ntsc_long_gop|720x480|30000/1001|5|-b:v 4000k -maxrate 9000k -bufsize 1835k -g 120 -bf 2|256k:2|"
  "pal_no_audio|720x576|25|3|-b:v 5000k -maxrate 9000k -bufsize 1835k -g 15||"
  "pal_2a_shifted|720x576|25|3|-b:v 3000k -maxrate 9000k -bufsize 1835k -g 12|192k:2:0.3 192k:2:-0.15|"
  "pal_mpa_ac3|720x576|25|3|-b:v 3500k -maxrate 9000k -bufsize 1835k -g 12|mp2=224k:2 192k:2|"
  "ntsc_2mpa_ac3|720x480|30000/1001|3|-b:v 3000k -maxrate 9000k -bufsize 1835k -g 15|192k:2 mp2=192k:2:0.2 mp2=96k:1|"
  "pal_2dts_ac3|720x576|25|3|-b:v 3000k -maxrate 9000k -bufsize 1835k -g 12|dca=768k:2 448k:6 dca=1509k:6:-0.1|"
  "pal_lpcm_ac3|720x576|25|3|-b:v 3000k -maxrate 9000k -bufsize 1835k -g 12|192k:2 pcm_dvd=s32:2|"
)

ffmpeg_version=$(ffmpeg -version 2>/dev/null | head -n 1)

# The ffmpeg arguments that make the VOB of one shape, one a line.
vob_command() {
  local size=$1 rate=$2 seconds=$3 video_options=$4 audio_specs=$5 filter=$6
  local -a args=(-nostdin -v error -y -threads "$THREADS"
    -f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$seconds$filter")
  local -a maps=(-map 0:v)
  local -a audio_options=()
  local index=0 stream codec bitrate channels offset strict=0
  for stream in $audio_specs; do
    codec=ac3
    if [[ $stream == *=* ]]; then
      codec=${stream%%=*}
      stream=${stream#*=}
    fi
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
    # A track's own codec comes after the "-c:a ac3" for all and so wins.
    case $codec in
    ac3) audio_options+=("-b:a:$index" "$bitrate" "-ac:a:$index" "$channels") ;;
    pcm_dvd) audio_options+=("-c:a:$index" pcm_dvd "-sample_fmt:a:$index" "$bitrate" "-ac:a:$index" "$channels") ;;
    *) audio_options+=("-c:a:$index" "$codec" "-b:a:$index" "$bitrate" "-ac:a:$index" "$channels") ;;
    esac
    # ffmpeg's DTS encoder is experimental.
    [ "$codec" = dca ] && strict=1
    index=$((index + 1))
  done
  args+=("${maps[@]}" -c:v mpeg2video $video_options -pix_fmt yuv420p)
  if [ "$index" -gt 0 ]; then
    args+=(-c:a ac3 -ar 48000 "${audio_options[@]}")
  fi
  if [ "$strict" -ne 0 ]; then
    args+=(-strict -2)
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

# Runs one of the reference demuxers; its failure is a failure of the check.
run_oracle() {
  local label=$1
  shift
  local complaints
  if ! complaints=$("$@" 2>&1); then
    fail "$label: $1 failed: $(printf '%s' "$complaints" | head -n 3)"
  fi
}

# The ids of ffmpeg's audio streams, in ffmpeg's order: 0x80 for substream
# 0x80, 0x1c0 for MPEG audio stream 0xC0.
audio_stream_ids() {
  ffprobe -v error -select_streams a -show_entries stream=id -of csv=p=0 "$1"
}

in_range() { [ "$1" -ge "$2" ] && [ "$1" -lt $(($2 + $3)) ]; }

# For ffprobe's id of an audio stream, sets the option that writes it and
# its number, packrift's output of it (named after the shape), ffmpeg's stream
# copy format and mpegdemux's selection (LPCM has neither: its WAV is checked
# by its samples). False for an id of no kind that packrift writes.
track_of_id() {
  local name=$1 id=$(($2))
  track_format= track_mpegdemux=()
  if in_range "$id" "$AC3_SUBSTREAM_BASE" "$SUBSTREAMS_OF_A_KIND"; then
    track_option=-audio track_number=$((id - AC3_SUBSTREAM_BASE))
    track_output=$name-stream$track_number.ac3 track_format=ac3
    track_mpegdemux=(-a -s 0xbd -p "$2")
  elif in_range "$id" "$DTS_SUBSTREAM_BASE" "$SUBSTREAMS_OF_A_KIND"; then
    track_option=-dts track_number=$((id - DTS_SUBSTREAM_BASE))
    track_output=$name-dts$track_number.dts track_format=dts
    track_mpegdemux=(-a -s 0xbd -p "$2")
  elif in_range "$id" "$LPCM_SUBSTREAM_BASE" "$SUBSTREAMS_OF_A_KIND"; then
    track_option=-lpcm track_number=$((id - LPCM_SUBSTREAM_BASE))
    track_output=$name-lpcm$track_number.wav
  elif in_range "$id" "$MPEG_AUDIO_BASE" "$MPEG_AUDIO_STREAMS"; then
    track_option=-mpa track_number=$((id - MPEG_AUDIO_BASE))
    track_output=$name-mpa$track_number.mp2 track_format=mp2
    track_mpegdemux=(-s "$(printf '0x%02x' $((id & 0xFF)))")  # the PES stream id
  else
    return 1
  fi
}

# True when two decimal numbers lie within a tolerance of each other.
within() {
  awk -v a="$1" -v b="$2" -v tolerance="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= tolerance + 1e-9) }'
}

# The bytes of a file that a split wrote of a stream: for a WAV, those after
# the header (the data chunk's head).
written_bytes() {
  local file=$1 data
  if [[ $file == *.wav ]]; then
    data=$(data_chunk_offset "$file") || return 1
    echo $(($(file_size "$file") - data - CHUNK_HEAD_SIZE))
  else
    file_size "$file"
  fi
}

# Checks an LPCM track's WAV against ffmpeg: the samples after the data
# chunk's head are ffmpeg's decode of the track from the VOB, the data size
# counts them, and ffmpeg reads the WAV as the track's channels and rate.
compare_wav_samples() {
  local label=$1 wav=$2 vob=$3 index=$4
  local bits raw=s16le
  bits=$(ffprobe -v error -select_streams "a:$index" -show_entries stream=bits_per_raw_sample -of csv=p=0 "$vob")
  [ "$bits" = 16 ] || raw=s24le
  run_oracle "$label" ffmpeg -nostdin -v error -i "$vob" -map "0:a:$index" -c:a "pcm_$raw" -f "$raw" \
    "ffmpeg-$index.$raw"
  local data
  if [ ! -s "$wav" ]; then
    fail "$label: packrift wrote nothing to $wav"
    return
  elif ! data=$(data_chunk_offset "$wav"); then
    fail "$label: no data chunk in $wav"
    return
  fi
  local data_size after_head
  data_size=$(le32 "$wav" $((data + 4)))
  after_head=$(($(file_size "$wav") - data - CHUNK_HEAD_SIZE))
  tail -c +$((data + CHUNK_HEAD_SIZE + 1)) "$wav" | head -c "$data_size" >"packrift-$index.$raw"
  if [ "$data_size" -ne $((after_head - after_head % 2)) ]; then
    fail "$label: data size $data_size, $after_head bytes follow the data chunk's head"
  elif ! cmp -s "packrift-$index.$raw" "ffmpeg-$index.$raw"; then
    fail "$label: the WAV's samples differ from ffmpeg's $raw decode of the track"
    show_difference "packrift-$index.$raw" "ffmpeg-$index.$raw"
  fi
  local in_vob in_wav
  in_vob=$(ffprobe -v error -select_streams "a:$index" -show_entries stream=sample_rate,channels \
    -of csv=p=0 "$vob")
  in_wav=$(ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 "$wav")
  if [ "$in_wav" != "$in_vob" ]; then
    fail "$label: ffprobe reads the WAV as rate,channels $in_wav, the track as $in_vob"
  fi
  if [ "$failures" -eq "$failures_before_check" ]; then
    echo "  ok   $label: $data_size sample bytes, same as ffmpeg's $raw decode; rate,channels $in_wav"
  fi
}

# Checks each stream that packrift's report lists: its first PTS against
# ffprobe's start time (ffprobe's ids are 0x1e0 for stream 0xE0 and 0x80 for
# substream 0x80), each delay against the difference of the two start
# times, the bytes against what the split wrote for it, and for audio the
# option named against the one that writes the stream's kind.
check_stream_report() {
  local name=$1 log=$2 vob=$3
  local -A start=()
  local id time
  while IFS=, read -r id time _; do
    if [ -n "$time" ] && [ "$time" != N/A ]; then
      start[$id]=$time
    fi
  done < <(ffprobe -v error -show_entries stream=id,start_time -of csv=p=0 "$vob")
  local line key file bytes written pts delay expected listed=0
  while IFS= read -r line; do
    listed=$((listed + 1))
    begin_check
    file=
    if [[ $line =~ ^stream\ 0xBD\ (0x[0-9A-F]{2}) ]]; then
      key=${BASH_REMATCH[1],,}
    elif [[ $line =~ ^stream\ 0x([0-9A-F]{2}) ]]; then
      key=0x1${BASH_REMATCH[1],,}
    fi
    if [ $((key)) -eq "$MPEG_VIDEO_0" ]; then
      file=$name.m2v
    elif track_of_id "$name" "$key"; then
      file=$track_output
      [[ $line == *" ($track_option $track_number):"* ]] ||
        fail "$name -streams: $key is not named as written by $track_option $track_number"
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
    if [ -n "$file" ]; then
      if ! written=$(written_bytes "$file" 2>/dev/null); then
        fail "$name -streams: $key is listed, the split wrote no $file"
      elif [ "$bytes" != "$written" ]; then
        fail "$name -streams: $key $bytes bytes, the split wrote $written to $file"
      fi
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
  echo "$name: $size at $rate fps, ${seconds}s, video ${video_options}, audio ${audio_specs:-none}"
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
  mapfile -t ids < <(audio_stream_ids "$name.vob")
  local -a specs
  read -r -a specs <<<"$audio_specs"
  if [ "${#ids[@]}" -ne "${#specs[@]}" ]; then
    fail "$name: ffprobe lists ${#ids[@]} audio streams, the shape has ${#specs[@]}"
  fi

  # The first run writes the video and the first track of each audio kind in
  # one pass, with the report; the other tracks get a run each.
  local -a first_run=(-video 0)
  local -A first_of_kind=()
  local index
  for index in "${!ids[@]}"; do
    if track_of_id "$name" "${ids[index]}" && [ -z "${first_of_kind[$track_option]:-}" ]; then
      first_of_kind[$track_option]=$index
      first_run+=("$track_option" "$track_number")
    fi
  done
  run_packrift "$name" "$name.vob" "${first_run[@]}" -streams
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

  local label
  for index in "${!ids[@]}"; do
    if [ $((ids[index])) -ge "$MPEG_AUDIO_BASE" ]; then
      label="$name audio ffmpeg a:$index = stream $(printf '0x%02X' $((ids[index] & 0xFF)))"
    else
      label="$name audio ffmpeg a:$index = substream ${ids[index]}"
    fi
    if ! track_of_id "$name" "${ids[index]}"; then
      fail "$label: not an id of an audio kind that packrift writes"
      continue
    fi
    if [ "${first_of_kind[$track_option]}" != "$index" ]; then
      run_packrift "$label" "$name.vob" "$track_option" "$track_number"
    fi
    begin_check
    if [ -z "$track_format" ]; then
      compare_wav_samples "$label" "$track_output" "$name.vob" "$index"
    else
      run_oracle "$label" ffmpeg -nostdin -v error -i "$name.vob" -map "0:a:$index" -c copy \
        -f "$track_format" "ffmpeg-$index.$track_format"
      run_oracle "$label" mpegdemux -d "${track_mpegdemux[@]}" "$name.vob" "mpegdemux-$index.$track_format"
      compare_outputs "$label" "$track_output" "ffmpeg-$index.$track_format" "mpegdemux-$index.$track_format"
    fi
    end_check
    begin_check
    check_decodes "$label" "$track_output"
    end_check
  done
  check_stream_report "$name" streams.log "$name.vob"
  cd "$work_dir" || return
}

absolute_paths
cd "$work_dir" || exit 1
echo "$ffmpeg_version; $(mpegdemux --version 2>&1 | head -n 1)"
for shape in "${shapes[@]}"; do
  check_shape "$shape"
done

echo "interop: $((checks - failed_checks)) of $checks checks passed, $failures failures"
[ "$failures" -eq 0 ]
