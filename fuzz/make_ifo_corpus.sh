#!/usr/bin/env bash
# Writes the IFO fuzzer's seeds into fuzz/corpus-ifo: the IFO files of a
# small disc authored with ffmpeg's DVD muxer and dvdauthor (two title sets,
# several titles and chapters, audio tracks with languages), a copy of its
# title set IFO whose second and third cells are marked as an angle block of
# two interleaved cells, and the disc's first navigation packs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus-ifo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

vob() {
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$2:rate=$3:duration=2" \
    -f lavfi -i "sine=sample_rate=48000:duration=2" -f lavfi -i "sine=frequency=880:sample_rate=48000:duration=2" \
    -map 0:v -map 1:a -map 2:a -c:v mpeg2video -b:v 500k -g 12 -c:a:0 ac3 -c:a:1 "$4" -ar 48000 -f dvd "$1"
}
vob pal.vob 720x576 25 ac3
vob ntsc.vob 720x480 30000/1001 mp2
cat >disc.xml <<'XML'
<dvdauthor dest="disc">
  <vmgm/>
  <titleset>
    <titles>
      <video format="pal" aspect="16:9"/>
      <audio lang="en"/><audio lang="fr"/>
      <pgc><vob file="pal.vob" chapters="0,0.5,1,1.5"/></pgc>
      <pgc><vob file="pal.vob"/></pgc>
    </titles>
  </titleset>
  <titleset>
    <titles>
      <video format="ntsc" aspect="4:3"/>
      <audio lang="de"/><audio/>
      <pgc><vob file="ntsc.vob" chapters="0,1"/></pgc>
    </titles>
  </titleset>
</dvdauthor>
XML
VIDEO_FORMAT=PAL dvdauthor -x disc.xml >dvdauthor.log 2>&1

rm -rf "$corpus"
mkdir -p "$corpus"
cp disc/VIDEO_TS/VIDEO_TS.IFO "$corpus/dvdauthor-VIDEO_TS.IFO"
cp disc/VIDEO_TS/VTS_01_0.IFO "$corpus/dvdauthor-VTS_01_0.IFO"
cp disc/VIDEO_TS/VTS_02_0.IFO "$corpus/dvdauthor-VTS_02_0.IFO"
# The first two sectors of a VOB file: a navigation pack and the pack after it.
head -c 4096 disc/VIDEO_TS/VTS_01_1.VOB >"$corpus/dvdauthor-nav-pack"

# The big-endian number of $3 bytes at offset $2 of file $1.
number_at() { od -A n -t u1 -j "$2" -N "$3" "$1" | awk '{ for (i = 1; i <= NF; i++) n = n * 256 + $i } END { print n }'; }
# Cell playback entries begin with a flags byte: block mode in bits 7-6
# (1 first, 3 last), block type in bits 5-4 (1 an angle block), bit 2 interleaved.
ifo=$corpus/dvdauthor-VTS_01_0-angle-block.IFO
cp disc/VIDEO_TS/VTS_01_0.IFO "$ifo"
chains=$(($(number_at "$ifo" 204 4) * 2048))
chain=$((chains + $(number_at "$ifo" $((chains + 12)) 4)))
cells=$((chain + $(number_at "$ifo" $((chain + 232)) 2)))
printf '\x54' | dd of="$ifo" bs=1 seek=$((cells + 24)) conv=notrunc status=none
printf '\xD4' | dd of="$ifo" bs=1 seek=$((cells + 48)) conv=notrunc status=none
ls -l "$corpus"
