#!/usr/bin/env bash
# Makes samples/sample.vob, a short DVD-style VOB (MPEG-2 video and two AC-3
# substreams, 0x80 and 0x81) from ffmpeg's test sources and DVD muxer, and
# records the SHA-256 of what ffmpeg's own stream copy extracts from it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/sample.vob
ffmpeg -nostdin -v error -y \
  -f lavfi -i "testsrc2=size=720x480:rate=30000/1001:duration=4" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=4" \
  -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=4" \
  -map 0:v -map 1:a -map 2:a \
  -c:v mpeg2video -b:v 2500k -maxrate 9000k -bufsize 1835k -g 15 -pix_fmt yuv420p \
  -c:a ac3 -b:a:0 192k -b:a:1 384k -ac 2 -ar 48000 \
  -fflags +bitexact -flags:v +bitexact -flags:a +bitexact \
  -f dvd "$out"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ffmpeg -nostdin -v error -i "$out" -map 0:v:0 -c copy -f mpeg2video "$tmp/sample.m2v"
ffmpeg -nostdin -v error -i "$out" -map 0:a:0 -c copy -f ac3 "$tmp/sample-stream0.ac3"
ffmpeg -nostdin -v error -i "$out" -map 0:a:1 -c copy -f ac3 "$tmp/sample-stream1.ac3"
(cd "$tmp" && sha256sum sample.m2v sample-stream0.ac3 sample-stream1.ac3) > "$here/sample.sha256"
cat "$here/sample.sha256"
