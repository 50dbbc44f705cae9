#!/usr/bin/env bash
# Makes VOBs with LPCM tracks with ffmpeg's DVD muxer (its pcm_dvd encoder:
# 16- and 24-bit, mono to 7.1, 48 and 96 kHz as far as DVD's 9.6 Mbit/s
# allow), lets packrift write each track as WAV ("packrift movie.vob
# -lpcm N" writes movie-lpcmN.wav) and checks that the samples after the
# data chunk's head are what ffmpeg decodes of the same track, that the RIFF
# and data sizes were written at the end, and that a WAV written to a FIFO
# keeps 0xFFFFFFFF there and still reads back as the same samples.
#
# Usage: lpcm_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# EMULATOR, when given, runs PACKRIFT (Wine for a cross-built Windows .exe;
# the FIFO case is then left out). Exits 0 when everything matches, 1 on any
# mismatch, 77 (skipped) when ffmpeg is missing.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

readonly LPCM_SUBSTREAM_BASE=$((0xA0))
readonly UNKNOWN_SIZE=4294967295
readonly SECONDS_OF_AUDIO=2
readonly FIFO_TIMEOUT=120

take_arguments "$@"
require_tools "the LPCM check needs ffmpeg (Debian package ffmpeg)" ffmpeg ffprobe od timeout

# One shape a line: name|rate|LPCM tracks as sample format:channel layout,
# after one AC-3 track, so that the LPCM tracks are not ffmpeg's first audio.
shapes=(
  "s16_stereo_48k|48000|s16:stereo"
  "s16_stereo_96k|96000|s16:stereo"
  "s24_stereo_96k|96000|s32:stereo"
  "s24_mono_48k|48000|s32:mono"
  "s16_51_48k|48000|s16:5.1(side)"
  "s24_51_48k|48000|s32:5.1(side)"
  "s16_71_48k|48000|s16:7.1"
  "s24_71_48k|48000|s32:7.1"
  "two_tracks_48k|48000|s16:stereo s32:stereo"
)

make_vob() {
  local vob=$1 rate=$2 tracks=$3
  local -a args=(-nostdin -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25:duration=$SECONDS_OF_AUDIO"
    -f lavfi -i "anoisesrc=sample_rate=$rate:amplitude=0.5:duration=$SECONDS_OF_AUDIO"
    -map 0:v -map 1:a -c:v mpeg2video -b:v 2000k -pix_fmt yuv420p -c:a:0 ac3 -ar:a:0 48000)
  local index=1 track format layout
  for track in $tracks; do
    IFS=: read -r format layout <<<"$track"
    args+=(-map 1:a "-c:a:$index" pcm_dvd "-sample_fmt:a:$index" "$format" "-ar:a:$index" "$rate"
      "-filter:a:$index" "aformat=channel_layouts=$layout")
    index=$((index + 1))
  done
  ffmpeg "${args[@]}" -fflags +bitexact -flags:v +bitexact -flags:a +bitexact -f dvd "$vob"
}

# Checks the WAV that packrift writes of one LPCM track, ffmpeg's a:index.
check_track() {
  local name=$1 vob=$2 index=$3 substream=$4 bits=$5
  local lpcm=$((substream - LPCM_SUBSTREAM_BASE)) raw=s16le
  [ "$bits" = 16 ] || raw=s24le
  local wav=$name-lpcm$lpcm.wav label
  label="$name a:$index = substream $(printf '0x%02X' "$substream")"
  ffmpeg -nostdin -v error -y -i "$vob" -map "0:a:$index" -c:a "pcm_$raw" -f "$raw" ffmpeg.raw
  run_packrift "$label" "$name.vob" -lpcm "$lpcm" || return
  local data
  if [ ! -s "$wav" ]; then
    fail "$label: packrift $name.vob -lpcm $lpcm wrote no $wav"
    return
  fi
  if ! data=$(data_chunk_offset "$wav"); then
    fail "$label: no data chunk in $wav"
    return
  fi
  local size data_size
  size=$(file_size "$wav")
  data_size=$(le32 "$wav" $((data + 4)))
  tail -c +$((data + CHUNK_HEAD_SIZE + 1)) "$wav" | head -c "$data_size" >samples.raw
  if cmp -s samples.raw ffmpeg.raw; then
    echo "  ok   $label: $data_size sample bytes from offset $((data + CHUNK_HEAD_SIZE)), same as ffmpeg's $raw decode"
  else
    fail "$label: the samples differ from ffmpeg's $raw decode: $(cmp samples.raw ffmpeg.raw 2>&1 | head -n 1)"
  fi
  [ "$(le32 "$wav" 4)" = $((size - CHUNK_HEAD_SIZE)) ] ||
    fail "$label: RIFF size $(le32 "$wav" 4), the file has $((size - CHUNK_HEAD_SIZE)) bytes after it"
  [ $((data + CHUNK_HEAD_SIZE + data_size + data_size % 2)) = "$size" ] ||
    fail "$label: data size $data_size, the file has $((size - data - CHUNK_HEAD_SIZE)) bytes after the chunk's head"

  # Through a FIFO, as to an encoder: the sizes stay unknown, the samples the same.
  [ "${#emulator[@]}" -eq 0 ] || return
  rm -f "$wav"
  mkfifo "$wav"
  # The reader gives up if packrift never opens the FIFO.
  timeout "$FIFO_TIMEOUT" cat "$wav" >fifo.wav &
  local reader=$!
  "$packrift" "$name.vob" -lpcm "$lpcm" >packrift.log 2>&1 || fail "$label: packrift to a FIFO failed"
  wait "$reader"
  rm -f "$wav"
  if [ "$(le32 fifo.wav 4)" != "$UNKNOWN_SIZE" ] || [ "$(le32 fifo.wav $((data + 4)))" != "$UNKNOWN_SIZE" ]; then
    fail "$label: through a FIFO the sizes are not 0xFFFFFFFF"
  fi
  ffmpeg -nostdin -v error -y -i fifo.wav -c:a "pcm_$raw" -f "$raw" fifo.raw
  if cmp -s fifo.raw ffmpeg.raw; then
    echo "  ok   $label: through a FIFO, sizes 0xFFFFFFFF, ffmpeg reads the same samples"
  else
    fail "$label: ffmpeg reads other samples from the WAV written to a FIFO"
  fi
}

check_shape() {
  local name rate tracks
  IFS='|' read -r name rate tracks <<<"$1"
  local run=$work_dir/$name
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run" || return
  if ! make_vob "$name.vob" "$rate" "$tracks" 2>ffmpeg.log; then
    fail "$name: ffmpeg could not make the VOB: $(head -n 3 ffmpeg.log)"
    cd "$work_dir" || exit 1
    return
  fi
  echo "$name: $rate Hz, LPCM $tracks"
  local index=0 id bits
  while IFS=, read -r id bits; do
    if [ $((id)) -ge "$LPCM_SUBSTREAM_BASE" ] && [ $((id)) -lt $((LPCM_SUBSTREAM_BASE + 8)) ]; then
      check_track "$name" "$name.vob" "$index" $((id)) "$bits"
    fi
    index=$((index + 1))
  done < <(ffprobe -v error -select_streams a -show_entries stream=id,bits_per_raw_sample -of csv=p=0 "$name.vob")
  cd "$work_dir" || exit 1
}

absolute_paths
cd "$work_dir" || exit 1
ffmpeg -version | head -n 1
for shape in "${shapes[@]}"; do
  check_shape "$shape"
done
echo "lpcm: $failures failures"
[ "$failures" -eq 0 ]
