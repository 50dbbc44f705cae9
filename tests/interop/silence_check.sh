#!/usr/bin/env bash
# Checks the silence frames that packrift makes to fill an audio track:
# write_silence_frames (tests/support/) writes a file of such frames for
# each AC-3 header (every channel mode, with and without LFE, 48, 44.1 and
# 32 kHz, the lowest to the highest bit rate) and each MPEG audio Layer I
# and II header (mono, stereo, joint stereo, dual channel, 11172-3's and
# 13818-3's rates, with and without CRC); ffmpeg decodes each with its CRC
# checks on and must report no error, give a frame's samples for every
# frame and every sample zero.
#
# Usage: silence_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# PACKRIFT is not run; EMULATOR, when given, runs the writer (Wine for a
# cross-built Windows .exe). WRITE_SILENCE_FRAMES, in the environment,
# names the writer. Exits 0 when every file decodes to zeros, 1 otherwise,
# 77 (skipped) when ffmpeg or the writer is missing.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

readonly SAMPLE_BYTES=2  # s16le

take_arguments "$@"
require_tools "the silence check needs ffmpeg (Debian package ffmpeg)" ffmpeg ffprobe od
if [ -z "${WRITE_SILENCE_FRAMES:-}" ]; then
  echo "SKIPPED: WRITE_SILENCE_FRAMES not set"
  exit "$SKIP_STATUS"
fi
absolute_paths
cd "$work_dir" || exit 1
rm -rf frames
if ! "${emulator[@]}" "$WRITE_SILENCE_FRAMES" frames >frames.list; then
  fail "write_silence_frames failed"
fi
tr -d '\r' <frames.list >frames.lines

# Decodes FILE (FRAMES frames of SAMPLES samples each) to 16-bit samples.
check_file() {
  local file=$1 frames=$2 samples=$3 channels expected nonzero
  begin_check
  if ! ffmpeg -nostdin -v error -err_detect crccheck+explode -i "frames/$file" -f s16le -y "$file.raw" 2>"$file.err"; then
    fail "$file: ffmpeg exited with an error"
  fi
  if [ -s "$file.err" ]; then
    fail "$file: ffmpeg reported: $(head -n 2 "$file.err" | tr '\n' ' ')"
  fi
  channels=$(ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 "frames/$file")
  expected=$((frames * samples * ${channels:-0} * SAMPLE_BYTES))
  if [ "$(file_size "$file.raw")" -ne "$expected" ]; then
    fail "$file: $(file_size "$file.raw") sample bytes decoded, $expected expected"
  fi
  nonzero=$(od -A n -v -t x1 "$file.raw" | tr -s ' ' '\n' | grep -cv -e '^00$' -e '^$')
  if [ "$nonzero" -ne 0 ]; then
    fail "$file: $nonzero sample bytes are not zero"
  fi
  end_check
}

while read -r file frames samples; do
  check_file "$file" "$frames" "$samples"
done <frames.lines
[ -s frames.lines ] || fail "no silence frames were written"

echo "silence check: $((checks - failed_checks)) of $checks files decode to zeros, $failures failures"
[ "$failures" -eq 0 ]
