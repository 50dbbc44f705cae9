#!/usr/bin/env bash
# Checks packrift's reading of disc titles against independent readers of
# DVD-Video folders, on the discs that make_discs.sh authors with dvdauthor
# and on crafted multi-angle discs:
#
# - the title's packs: mplayer's -dumpstream writes a title's sectors in
#   play order (less its navigation packs); packrift splitting that dump as
#   a file must give byte for byte what `packrift DISC -title N` gives, for
#   every title and angle; but where the title's timestamps restart between
#   its VOBs (joins, found in the dump and the IFO's cells), whose audio
#   packrift cuts and fills, the AC-3 must pass ffmpeg's CRC checks and
#   keep the dump's frames of the first part up to its video's end and of
#   the last part (joins_check.sh checks the sync itself);
# - the chapters: `packrift DISC -title N -chapters` against dvdxchap, each
#   start at most 1 ms per cell before it later (dvdxchap cuts every cell's
#   time to whole milliseconds before adding); one-angle titles only, as
#   dvdxchap adds up every angle's cells; with joins, against the parts'
#   pictures counted by ffprobe in the dump, and the cells' times within
#   each part;
# - the subpictures: each subpicture track of a one-angle title, written
#   by `packrift DISC -title N -sub K`, against the substream in mplayer's
#   dump (ffmpeg's VobSub reader must find the same packets), against
#   mencoder's VobSub of the title (as many units, the same packets, at the
#   same times but for one shift) and the palette the disc was authored
#   with; mkvmerge must take it without a warning;
# - the listing: `packrift DISC` against lsdvd: each title's length,
#   chapters, angles and title set, its video, and every audio and
#   subpicture track's kind, channels, frequency and language. lsdvd names
#   a track's stream by its place in the list, not by the program chain's
#   stream control, which says what a player reads: the ids are checked
#   against the stream control, read here from the IFO files with od, and
#   that reading against mplayer's audio ids.
#
# Usage: title_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# EMULATOR, when given, runs PACKRIFT (Wine for a cross-built Windows .exe).
# WRITE_TEST_DISC, when set in the environment, names the program that
# writes the crafted discs (tests/support/write_test_disc.cpp); without it
# only the authored discs are checked.
# Exits 0 when everything matches, 1 on any mismatch, 77 (skipped) when a
# tool is missing.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

readonly MPLAYER_SECONDS=120
readonly CRAFTED_SHAPES=(two_angles three_angles cells_out_of_order title_across_files two_titles_one_set
  titles_inside_a_vob_ac3)
# Titles that begin and end inside their VOB, per audio coding: the shape,
# packrift's option, the output's suffix, ffprobe's stream id and the
# coding's sync word.
readonly INSIDE_SHAPES=("titles_inside_a_vob_ac3 -audio -stream0.ac3 i:0x80 0b77"
  "titles_inside_a_vob_dts -dts -dts0.dts i:0x88 7ffe8001"
  "titles_inside_a_vob_mpa -mpa -mpa0.mp2 i:0x1c0 fff")
# Stream ids of the audio kinds (the DVD-Video stream numbering).
readonly AC3_BASE=$((0x80))
readonly DTS_BASE=$((0x88))
readonly LPCM_BASE=$((0xA0))
readonly MPEG_BASE=$((0xC0))
readonly SUBPICTURE_BASE=$((0x20))
readonly VIDEO_ID=$((0xE0))
# ffprobe's ids of a VOB file's streams: a stream id plus this, or a
# private stream 1 substream number as it is.
readonly FFPROBE_STREAM_ID=$((0x100))
# mplayer's audio ids: MPEG audio counts from 0, the others are the
# substream numbers.
readonly MPLAYER_MPEG_AIDS=32
# IFO offsets (the DVD-Video IFO layout): the title table's sector in
# VIDEO_TS.IFO, a title's title set and number in it; in VTS_nn_0.IFO the
# chapter and program chain tables' sectors, the video attributes, and in a
# program chain its audio and subpicture stream control.
readonly VMG_TITLE_TABLE=$((0xC4))
readonly TITLE_ENTRY=12
readonly TITLE_SET_FIELD=6
readonly TITLE_NUMBER_FIELD=7
readonly VTS_CHAPTER_TABLE=$((0xC8))
readonly VTS_PGC_TABLE=$((0xCC))
readonly VTS_VIDEO=$((0x200))
readonly WIDE_ASPECT=$((0x0C))
readonly PGC_AUDIO_CONTROL=$((0x0C))
readonly PGC_SUBPICTURE_CONTROL=$((0x1C))
# A program chain's number of cells, and its cell position table (an
# offset from the chain's start; entries of the VOB id, a reserved byte and
# the cell id).
readonly PGC_CELL_COUNT=3
readonly PGC_CELL_POSITIONS=$((0xEA))
readonly CELL_POSITION_ENTRY=4
readonly AC3_FRAME_SAMPLES=1536

take_arguments "$@"
here=$(cd "$(dirname "$0")" && pwd)
require_tools "the title check needs ffmpeg, dvdauthor, lsdvd, mplayer, mencoder, mkvtoolnix, ogmtools and python3" \
  ffmpeg:ffmpeg dvdauthor:dvdauthor spumux:dvdauthor lsdvd:lsdvd mplayer:mplayer mencoder:mencoder \
  mkvmerge:mkvtoolnix dvdxchap:ogmtools od:coreutils python3:python3

# ---- The IFO files, read with od ----------------------------------------

# A file of the disc, its name matched without regard to case.
disc_file() {
  find "$1" -maxdepth 2 -iname "$2" -type f | head -n 1
}

# Unsigned big-endian fields: FILE OFFSET.
ifo_u8() { od -A n -t u1 -j "$2" -N 1 "$1" | tr -d ' '; }
ifo_u16() { echo $(($(ifo_u8 "$1" "$2") << 8 | $(ifo_u8 "$1" $(($2 + 1))))); }
ifo_u32() { echo $(($(ifo_u16 "$1" "$2") << 16 | $(ifo_u16 "$1" $(($2 + 2))))); }

# Prints the title's title set, the offset of the program chain of the
# title's first chapter in its VTS IFO, and that IFO.
title_chain() {
  local disc=$1 title=$2
  local vmg set number vts
  vmg=$(disc_file "$disc" VIDEO_TS.IFO)
  local entry=$(($(ifo_u32 "$vmg" "$VMG_TITLE_TABLE") * SECTOR_SIZE + 8 + (title - 1) * TITLE_ENTRY))
  set=$(ifo_u8 "$vmg" $((entry + TITLE_SET_FIELD)))
  number=$(ifo_u8 "$vmg" $((entry + TITLE_NUMBER_FIELD)))
  vts=$(disc_file "$disc" "$(printf 'VTS_%02d_0.IFO' "$set")")
  local chapters=$(($(ifo_u32 "$vts" "$VTS_CHAPTER_TABLE") * SECTOR_SIZE))
  local chapter=$((chapters + $(ifo_u32 "$vts" $((chapters + 8 + 4 * (number - 1))))))
  local pgc_number
  pgc_number=$(ifo_u16 "$vts" "$chapter")
  local chains=$(($(ifo_u32 "$vts" "$VTS_PGC_TABLE") * SECTOR_SIZE))
  echo "$set $((chains + $(ifo_u32 "$vts" $((chains + 8 + 8 * (pgc_number - 1) + 4))))) $vts"
}

# Prints the title's title set, the VTS IFO, whether the title is 16:9,
# and the stream control of the program chain of its first chapter: a line
# "audio N..." (the substream number of each track, - where not
# available) and a line "subpicture N..." (the 4:3 stream number, or the
# 16:9 one for a 16:9 title).
stream_control() {
  local set pgc vts
  read -r set pgc vts <<<"$(title_chain "$1" "$2")"
  local wide=0
  [ $(($(ifo_u8 "$vts" "$VTS_VIDEO") & WIDE_ASPECT)) -eq "$WIDE_ASPECT" ] && wide=1
  echo "set $set wide $wide"
  local k control line=audio
  for k in 0 1 2 3 4 5 6 7; do
    control=$(ifo_u16 "$vts" $((pgc + PGC_AUDIO_CONTROL + 2 * k)))
    if [ $((control & 0x8000)) -ne 0 ]; then
      line+=" $((control >> 8 & 0x7))"
    else
      line+=" -"
    fi
  done
  echo "$line"
  line=subpicture
  for k in $(seq 0 31); do
    control=$(ifo_u32 "$vts" $((pgc + PGC_SUBPICTURE_CONTROL + 4 * k)))
    if [ $((control & 0x80000000)) -eq 0 ]; then
      line+=" -"
    elif [ "$wide" -eq 1 ]; then
      line+=" $((control >> 16 & 0x1F))"
    else
      line+=" $((control >> 24 & 0x1F))"
    fi
  done
  echo "$line"
}

# ---- Joins: where a title's timestamps restart --------------------------
#
# Where a title plays VOBs that each start their timestamps anew (a join
# between two parts), packrift cuts and fills the audio at each join so
# that each part's sound ends with its pictures; its audio then differs
# from the split of mplayer's dump, which keeps every frame, and its
# chapters follow the parts' pictures rather than the cells' times that
# dvdxchap adds. The joins are found here apart from packrift: where the
# video's decoding timestamps in mplayer's dump fall back, and the cells'
# VOB ids in the IFO, which place them among the cells.

# The VOB id of each cell of the title's program chain, one a line, in
# the chain's order.
cell_vob_ids() {
  local set pgc vts cells positions k
  read -r set pgc vts <<<"$(title_chain "$1" "$2")"
  cells=$(ifo_u8 "$vts" $((pgc + PGC_CELL_COUNT)))
  positions=$((pgc + $(ifo_u16 "$vts" $((pgc + PGC_CELL_POSITIONS)))))
  for ((k = 0; k < cells; k++)); do
    ifo_u16 "$vts" $((positions + CELL_POSITION_ENTRY * k))
  done
}

# The parts of a dump's video, cut where its decoding timestamps fall
# back: one line a part, its length in milliseconds from its fields as
# ffprobe decodes them (2 + repeat_pict a picture) at the stream's frame
# rate. Nothing where ffprobe finds no timed video (the crafted discs).
dump_parts() {
  local dump=$1 rate
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=avg_frame_rate -of csv=p=0 "$dump" 2>/dev/null |
    head -n 1 | tr -d ',')
  [[ $rate =~ ^[1-9][0-9]*/[1-9][0-9]*$ ]] || return 0
  ffprobe -v error -select_streams v:0 -show_entries packet=dts -of csv=p=0 "$dump" 2>/dev/null >parts.dts
  ffprobe -v error -select_streams v:0 -show_entries frame=repeat_pict -of csv=p=0 "$dump" 2>/dev/null |
    grep . >parts.repeats
  if [ "$(grep -c . parts.dts)" -ne "$(grep -c . parts.repeats)" ]; then
    echo "ffprobe decodes $(grep -c . parts.repeats) pictures of $(grep -c . parts.dts) packets" >&2
    return 1
  fi
  # A picture a packet: the packets' timestamps count each part's pictures,
  # the decoded pictures in turn give their fields.
  awk -v rate="$rate" '
    BEGIN { parts = 0; part = 0 }
    NR == FNR {
      if ($1 != "N/A") {
        if (seen && $1 + 0 < last) parts++
        last = $1 + 0
        seen = 1
      }
      pictures[parts]++
      next
    }
    {
      while (taken[part] == pictures[part]) part++
      taken[part]++
      fields[part] += 2 + $1
    }
    END {
      split(rate, r, "/")
      for (p = 0; p <= parts; p++) printf "%.3f\n", fields[p] * 1000 * r[2] / (2 * r[1])
    }' parts.dts parts.repeats
}

# The chapter starts of a title with joins, one line a chapter, "MS
# CELLS": a chapter starts where its part's video starts on the title's
# clock (the parts before it, as dump_parts measures them) plus the
# cells' times before it in its part, added as lsdvd lists them in whole
# milliseconds, CELLS of them. A part starts at each cell whose VOB id is
# not the cell's before it; there must be as many as the dump has joins.
joined_chapter_starts() {
  local disc=$1 title=$2 listing=$3
  shift 3
  local -a part_ms=("$@") vob_ids
  mapfile -t vob_ids < <(cell_vob_ids "$disc" "$title")
  awk -v t="$title" -v parts="${part_ms[*]}" -v vobs="${vob_ids[*]}" '
    /^Title: / { current = ($2 + 0 == t) }
    current && /Chapter: .*Start Cell:/ { sub(/.*Start Cell: */, ""); starts[++chapters] = $1 + 0 }
    current && /^[[:space:]]*Cell: .*Length:/ {
      split($NF, hms, ":")
      cell_ms[++cells] = int((hms[1] * 3600 + hms[2] * 60 + hms[3]) * 1000 + 0.5)
    }
    END {
      count = split(parts, part_ms, " ")
      split(vobs, vob, " ")
      clock[1] = 0
      for (p = 1; p <= count; p++) clock[p + 1] = clock[p] + part_ms[p]
      part = 1
      for (c = 1; c <= cells; c++) {
        if (c > 1 && vob[c] != vob[c - 1]) { part++; within = 0; before = 0 }
        start[c] = clock[part] + within
        cells_before[c] = before
        within += cell_ms[c]
        before++
      }
      if (part != count) {
        printf "the cells change VOB id %d times, the dump restarts its timestamps %d times\n", part - 1, count - 1 > "/dev/stderr"
        exit 1
      }
      for (k = 1; k <= chapters; k++) printf "%d %d\n", start[starts[k]], cells_before[starts[k]]
    }' "$listing"
}

# ---- Running the tools --------------------------------------------------

# mplayer's dump of one title and angle into FILE, bounded in time and size
# (a disc whose navigation packs loop would otherwise fill the disk).
mplayer_dump() {
  local disc=$1 title=$2 angle=$3 file=$4
  local limit_kb=$(($(du -sk "$disc" | cut -f1) * 2 + 1024))
  rm -f "$file"
  (
    ulimit -f "$limit_kb"
    timeout "$MPLAYER_SECONDS" mplayer -really-quiet -nolirc -noconfig all -dvd-device "$disc" \
      "dvd://$title" -dvdangle "$angle" -dumpstream -dumpfile "$file" >mplayer.log 2>&1 </dev/null
  )
  local status=$?
  if [ "$status" -ne 0 ] || [ ! -s "$file" ]; then
    fail "$(basename "$disc") title $title angle $angle: mplayer dumped nothing (status $status)"
    tail -n 3 mplayer.log | sed 's/^/      /'
    return 1
  fi
  if [ $(($(file_size "$file") % SECTOR_SIZE)) -ne 0 ]; then
    fail "$(basename "$disc") title $title angle $angle: mplayer's dump is not whole sectors"
  fi
}

compare_files() {
  local label=$1 ours=$2 theirs=$3
  if [ ! -s "$theirs" ]; then
    fail "$label: the reference $(basename "$theirs") is empty or missing"
  elif [ ! -f "$ours" ]; then
    fail "$label: packrift wrote no $(basename "$ours")"
  elif ! cmp -s "$ours" "$theirs"; then
    fail "$label: $(basename "$ours") ($(file_size "$ours") bytes) differs from $(basename "$theirs") ($(file_size "$theirs") bytes)"
    echo "      $(cmp "$ours" "$theirs" 2>&1 | head -n 1)"
  else
    echo "  ok   $label: $(file_size "$ours") bytes, same"
  fi
}

# The outputs' name: the disc folder's last component, or its parent's
# when that is VIDEO_TS.
disc_name() {
  local path
  path=$(cd "$1" && pwd)
  local name
  name=$(basename "$path")
  if [ "${name^^}" = VIDEO_TS ]; then
    name=$(basename "$(dirname "$path")")
  fi
  printf '%s\n' "$name"
}

# ---- The checks ---------------------------------------------------------

# The AC-3 of a title with joins against the split of mplayer's dump: it
# must pass ffmpeg's CRC checks, begin with the first part's frames up to
# a frame before that part's video ends (they come as they are) and end
# with the last part's frames, but for two, as long as its video (they
# come as they are after the last join). Where each part's sound lies on
# the title's clock is checked by joins_check.sh, on parts that sound a
# tone each: these discs' parts all sound the same.
check_joined_audio() {
  local label=$1 ours=$2 theirs=$3 dump=$4
  shift 4
  local -a part_ms=("$@")
  if [ ! -s "$ours" ]; then
    fail "$label: packrift wrote no $(basename "$ours")"
    return
  fi
  if ! ffmpeg -nostdin -v error -err_detect crccheck+explode -i "$ours" -f null - >crc.log 2>&1 || [ -s crc.log ]; then
    fail "$label: ffmpeg's CRC checks on $(basename "$ours"): $(head -n 2 crc.log | tr '\n' ' ')"
  fi
  local frame_bytes rate video_pts audio_pts
  frame_bytes=$(ffprobe -v error -show_entries packet=size -of csv=p=0 "$theirs" | head -n 1)
  rate=$(ffprobe -v error -show_entries stream=sample_rate -of csv=p=0 "$theirs" | head -n 1)
  video_pts=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 "$dump" | grep -m 1 '^[0-9]')
  audio_pts=$(ffprobe -v error -select_streams i:0x80 -show_entries packet=pts -of csv=p=0 "$dump" | grep -m 1 '^[0-9]')
  local first last
  # The first part's frames before its video's end less half a frame, one
  # spared; the last part's frames over its video, two spared.
  first=$(awk -v v="${part_ms[0]}" -v a="$audio_pts" -v p="$video_pts" -v s="$AC3_FRAME_SAMPLES" -v r="$rate" '
    BEGIN { d = s * 1000 / r; lead = (a - p) / 90; n = (v - d / 2 - lead) / d; n = n == int(n) ? n : int(n) + 1; print n - 1 }')
  last=$(awk -v v="${part_ms[${#part_ms[@]} - 1]}" -v s="$AC3_FRAME_SAMPLES" -v r="$rate" '
    BEGIN { print int(v / (s * 1000 / r)) - 2 }')
  if ! cmp -s -n $((first * frame_bytes)) "$ours" "$theirs"; then
    fail "$label: $(basename "$ours") does not begin with the first part's first $first frames as the dump has them"
  elif ! cmp -s <(tail -c $((last * frame_bytes)) "$ours") <(tail -c $((last * frame_bytes)) "$theirs"); then
    fail "$label: $(basename "$ours") does not end with the last part's last $last frames as the dump has them"
  else
    echo "  ok   $label: $((${#part_ms[@]} - 1)) join(s); the first part's first $first frames and the last part's last $last as in the dump, the CRCs good"
  fi
}

# A title's audio against the split of the same sectors as one file: the
# same bytes, or, where the title begins or ends inside a frame, the
# split's bytes from its first whole frame to its last (less than a frame,
# as ffprobe reads the frames of ours, passed over at either end).
compare_whole_frames() {
  local label=$1 ours=$2 theirs=$3
  if [ ! -s "$ours" ] || [ ! -s "$theirs" ]; then
    compare_files "$label" "$ours" "$theirs"
    return
  fi
  if cmp -s "$ours" "$theirs"; then
    echo "  ok   $label: $(file_size "$ours") bytes, same"
    return
  fi
  local frame edges
  frame=$(ffprobe -v error -show_entries packet=size -of csv=p=0 "$ours" | head -n 1)
  if ! edges=$(python3 - "$ours" "$theirs" "${frame:-0}" <<'PYTHON'
import sys
ours, theirs = (open(name, "rb").read() for name in sys.argv[1:3])
frame = int(sys.argv[3])
at = theirs.find(ours)
if at < 0:
    sys.exit("not a run of the split's bytes")
after = len(theirs) - at - len(ours)
print(f"{at} bytes passed over at the start and {after} at the end, of frames of {frame}")
sys.exit(0 if at < frame and after < frame else 1)
PYTHON
  ); then
    fail "$label: $(basename "$ours") is not $(basename "$theirs") from its first whole frame to its last: $edges"
  else
    echo "  ok   $label: $(file_size "$ours") bytes, the split's from its first whole frame to its last ($edges)"
  fi
}

# Each title of a disc whose titles begin and end inside their VOB, in one
# audio coding: its audio against the split of its sectors in play order,
# beginning with the coding's sync word and decoding without a word from
# ffmpeg (DTS: the filler frames do not decode, so ffprobe must find them
# whole), its delay the first whole frame's start against the video's as
# ffprobe reads the sectors in play order (within 1 ms), and mkvmerge
# taking it with the options file (the video alone, of no real pictures,
# it does not take).
check_inside_titles() {
  local disc=$1 option=$2 suffix=$3 stream=$4 sync=$5
  local name title ours delay expected
  name=$(disc_name "$disc")
  for title in 1 2 3 4; do
    local label="$name title $title $option"
    local run=$work_dir/runs/$name-inside-$title
    rm -rf "$run"
    mkdir -p "$run"
    cd "$run" || return
    begin_check
    cp "$disc/play_order/title$title-angle1.vob" played.vob
    if run_packrift "$label (played in order)" played.vob "$option" 0 &&
      run_packrift "$label" "$disc" -title "$title" "$option" 0 -streams -mkvmerge; then
      ours=$name-title$title$suffix
      compare_whole_frames "$label" "$ours" "played$suffix"
      [ "$(head -c $((${#sync} / 2 + 1)) "$ours" | od -A n -t x1 | tr -d ' \n' | cut -c1-${#sync})" = "$sync" ] ||
        fail "$label: $ours does not begin with the sync word $sync"
      if [ "$option" = -dts ]; then
        [ $(($(ffprobe -v error -show_entries packet=size -of csv=p=0 "$ours" | awk '{ s += $1 } END { print s }'))) \
          -eq "$(file_size "$ours")" ] || fail "$label: ffprobe does not read $ours as whole frames"
      elif ffmpeg -nostdin -v error -i "$ours" -f null - >decode.log 2>&1 && [ -s decode.log ]; then
        fail "$label: ffmpeg decoding $ours: $(head -n 2 decode.log | tr '\n' ' ')"
      fi
      delay=$(tr '\r' '\n' <packrift.log | sed -n "s/^stream .*($option 0): .*, delay \([-+][0-9]*\) ms.*/\1/p")
      expected=$(for s in i:0x1e0 "$stream"; do
        ffprobe -v error -select_streams "$s" -show_entries stream=start_time -of csv=p=0 played.vob 2>/dev/null |
          tr -d , | grep -m 1 '^[0-9]'
      done | awk 'NR == 1 { v = $1 } NR == 2 { printf "%.3f", ($1 - v) * 1000 }')
      # mkvmerge's status 1 is warnings only.
      local muxed=0
      mkvmerge "@$name-title$title.mkvmerge.json" >mkvmerge.log 2>&1 || muxed=$?
      if [ -z "$delay" ] || ! awk -v d="$delay" -v e="$expected" 'BEGIN { exit !(d - e <= 1 && e - d <= 1) }'; then
        fail "$label: the report's delay ${delay:-(none)} ms, ffprobe's start times ${expected:-(none)} ms apart"
      elif [ "$muxed" -gt 1 ] || [ ! -s "$name-title$title.mkv" ]; then
        fail "$label: mkvmerge @$name-title$title.mkvmerge.json: $(tail -n 1 mkvmerge.log)"
      else
        echo "  ok   $label: begins with $sync, delay $delay ms as ffprobe's $expected, muxed"
      fi
    fi
    end_check
  done
  cd "$work_dir" || return
}

# packrift DISC -title N [-angle A] -video 0 -audio 0 against the split of
# mplayer's dump (and of the described play order, for a crafted disc).
# Where the dump's timestamps restart (joins), the AC-3 is checked by
# check_joined_audio instead.
check_title_packs() {
  local disc=$1 title=$2 angle=$3 play_order=$4
  local name label run
  name=$(disc_name "$disc")
  label="$name title $title angle $angle"
  run=$work_dir/runs/$name-title$title-angle$angle
  rm -rf "$run"
  mkdir -p "$run/dump" "$run/disc"
  cd "$run/dump" || return
  begin_check
  if mplayer_dump "$disc" "$title" "$angle" title.vob &&
    run_packrift "$label (mplayer's dump)" title.vob -video 0 -audio 0; then
    local -a part_ms
    mapfile -t part_ms < <(dump_parts title.vob)
    cd "$run/disc" || return
    local -a angle_option=()
    local suffix=
    if [ "$angle" -gt 1 ]; then
      angle_option=(-angle "$angle")
      suffix=-angle$angle
    fi
    if run_packrift "$label" "$disc" -title "$title" "${angle_option[@]}" -video 0 -audio 0; then
      compare_files "$label video" "$name-title$title$suffix.m2v" ../dump/title.m2v
      if [ "${#part_ms[@]}" -gt 1 ]; then
        check_joined_audio "$label AC-3 0x80" "$name-title$title$suffix-stream0.ac3" ../dump/title-stream0.ac3 \
          ../dump/title.vob "${part_ms[@]}"
      else
        compare_whole_frames "$label AC-3 0x80" "$name-title$title$suffix-stream0.ac3" ../dump/title-stream0.ac3
      fi
    fi
  fi
  end_check
  if [ -n "$play_order" ]; then
    begin_check
    mkdir -p "$run/described"
    cd "$run/described" || return
    cp "$play_order" described.vob
    if run_packrift "$label (described play order)" described.vob -video 0 -audio 0; then
      compare_files "$label mplayer's video against the described play order" \
        ../dump/title.m2v described.m2v
      compare_files "$label mplayer's AC-3 against the described play order" \
        ../dump/title-stream0.ac3 described-stream0.ac3
    fi
    end_check
  fi
  cd "$work_dir" || return
}

# H:MM:SS.mmm (any number of hour digits) in milliseconds.
to_ms() {
  local h m s
  IFS=: read -r h m s <<<"$1"
  echo $(((10#$h * 3600 + 10#$m * 60 + 10#${s%.*}) * 1000 + 10#${s#*.}))
}

# packrift -chapters against dvdxchap, with lsdvd's start cells for the
# allowance of 1 ms a cell. Where the title has joins (its angle 1 dump's
# timestamps restart) the starts follow the parts' pictures instead
# (joined_chapter_starts), 1 ms a cell later at most, and 1 ms earlier
# for the parts' lengths kept in milliseconds; dvdxchap still gives the
# chapters' number and names.
check_chapters() {
  local disc=$1 title=$2 listing=$3
  local name label run
  name=$(disc_name "$disc")
  label="$name title $title chapters"
  run=$work_dir/runs/$name-title$title-chapters
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run" || return
  begin_check
  dvdxchap -t "$title" "$disc" 2>/dev/null | grep '^CHAPTER' >dvdxchap.txt
  local -a start_cells
  mapfile -t start_cells < <(awk -v t="$title" '
    /^Title: / { current = ($2 + 0 == t) }
    current && /Chapter: .*Start Cell:/ { sub(/.*Start Cell: */, ""); print $1 + 0 }' "$listing")
  local -a part_ms=() joined=()
  local dump=$work_dir/runs/$name-title$title-angle1/dump/title.vob reference=dvdxchap
  [ -s "$dump" ] && mapfile -t part_ms < <(dump_parts "$dump")
  if [ "${#part_ms[@]}" -gt 1 ]; then
    reference="the parts' pictures"
    if joined_chapter_starts "$disc" "$title" "$listing" "${part_ms[@]}" >joined.txt 2>joined.err; then
      mapfile -t joined <joined.txt
    else
      fail "$label: the joins cannot be placed among the cells: $(cat joined.err)"
    fi
  fi
  if [ ! -s dvdxchap.txt ]; then
    fail "$label: dvdxchap printed no chapters"
  elif run_packrift "$label" "$disc" -title "$title" -chapters; then
    local ours=$name-title$title.chapters.txt
    if [ ! -s "$ours" ]; then
      fail "$label: packrift wrote no $ours"
    else
      tr -d '\r' <"$ours" >ours.txt
      local -a our_lines their_lines
      mapfile -t our_lines <ours.txt
      mapfile -t their_lines <dvdxchap.txt
      if [ "${#our_lines[@]}" -ne "${#their_lines[@]}" ]; then
        fail "$label: packrift wrote ${#our_lines[@]} lines, dvdxchap ${#their_lines[@]}"
      else
        local i ours_line theirs_line chapter ms_ours ms_theirs allowance lowest cells
        for i in "${!our_lines[@]}"; do
          ours_line=${our_lines[i]}
          theirs_line=${their_lines[i]}
          if [[ $theirs_line =~ ^CHAPTER([0-9]+)=([0-9:.]+)$ ]]; then
            chapter=$((10#${BASH_REMATCH[1]}))
            ms_theirs=$(to_ms "${BASH_REMATCH[2]}")
            if [[ ! $ours_line =~ ^CHAPTER([0-9]+)=([0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3})$ ]] ||
              [ "$((10#${BASH_REMATCH[1]}))" -ne "$chapter" ]; then
              fail "$label: line '$ours_line' where dvdxchap has '$theirs_line'"
              continue
            fi
            ms_ours=$(to_ms "${BASH_REMATCH[2]}")
            allowance=$((${start_cells[chapter - 1]:-1} - 1))
            lowest=$ms_theirs
            if [ "${#part_ms[@]}" -gt 1 ]; then
              read -r ms_theirs cells <<<"${joined[chapter - 1]:-0 0}"
              allowance=$((cells + 1))
              lowest=$((ms_theirs - 1))
            fi
            if [ "$ms_ours" -lt "$lowest" ] || [ "$ms_ours" -gt $((ms_theirs + allowance)) ]; then
              fail "$label: chapter $chapter starts at $ms_ours ms, $reference $ms_theirs ms (allowed: $lowest to $((ms_theirs + allowance)) ms)"
            fi
          elif [ "$ours_line" != "$theirs_line" ]; then
            fail "$label: line '$ours_line' where dvdxchap has '$theirs_line'"
          fi
        done
      fi
    fi
  fi
  [ "$failures" -eq "$failures_before_check" ] && echo "  ok   $label: $((${#their_lines[@]} / 2)) chapters, as $reference"
  end_check
  cd "$work_dir" || return
}

# The first packet's PTS (90 kHz ticks) of every packet of a stream: FILE
# and ffmpeg's stream specifier.
packet_ticks() {
  ffprobe -v error -select_streams "$2" -show_entries packet=pts -of csv=p=0 "$1" 2>/dev/null
}

# Each packet's size and hash, as ffmpeg's stream copy gives them: FILE and
# the stream to map.
packet_hashes() {
  ffmpeg -nostdin -v error -i "$1" -map "$2" -c copy -f framehash - 2>/dev/null | grep -v '^#' |
    awk -F', *' '{ print $5, $6 }'
}

# packrift DISC -title N -sub K for every subpicture track of the title:
# ffmpeg's VobSub reader must find in the .idx and .sub the packets of the
# substream in mplayer's dump of the title; every VOB shows two pictures,
# the second forced; mkvmerge takes it without a warning; mencoder's own
# VobSub of the title has as many units, with the same packets, at the same
# times but for one shift (a title whose VOBs start their timestamps anew
# included); and a palette the disc was authored with comes back within
# one step of each colour.
check_subpictures() {
  local disc=$1 title=$2 ours=$3
  local name
  name=$(disc_name "$disc")
  local dump=$work_dir/runs/$name-title$title-angle1/dump/title.vob
  local -a numbers
  mapfile -t numbers < <(awk -v t="$title" '/^title / { current = ($2 + 0 == t) }
    current && /^  subpicture .*\(-sub [0-9]+\)$/ { sub(/.*\(-sub /, ""); sub(/\)$/, ""); print }' "$ours")
  local n
  for n in "${numbers[@]}"; do
    local label="$name title $title -sub $n" run=$work_dir/runs/$name-title$title-sub$n
    local id stem
    id=$(printf '0x%02x' $((SUBPICTURE_BASE + n)))
    stem=$name-title$title-sub$n
    rm -rf "$run"
    mkdir -p "$run"
    cd "$run" || return
    begin_check
    if [ ! -s "$dump" ]; then
      fail "$label: no dump of the title to compare with"
    elif [ -z "$(packet_ticks "$dump" "i:$id" | head -n 1)" ]; then
      echo "  skip $label: the title's packs hold no substream $id"
    elif run_packrift "$label" "$disc" -title "$title" -sub "$n" -streams; then
      packet_hashes "$stem.idx" 0:s:0 >ours.hash
      packet_hashes "$dump" "0:i:$id" >dump.hash
      local units
      units=$(wc -l <dump.hash)
      if [ "$units" -eq 0 ] || ! cmp -s ours.hash dump.hash; then
        fail "$label: ffmpeg reads $(wc -l <ours.hash) packets from the .idx, $units from the dump's substream $id, or they differ"
      fi
      local line
      line=$(tr -d '\r' <packrift.log | grep "^stream 0xBD $id subpicture")
      [[ $line =~ ,\ $units\ subpictures?\ \($((units / 2))\ forced\), ]] ||
        fail "$label: the report says '$line'; expected $units subpictures, $((units / 2)) forced"
      # mkvmerge's status: 1 after warnings, 2 after an error.
      mkvmerge -o sub.mkv "$stem.idx" >mkvmerge.log 2>&1
      if [ $? -gt 1 ]; then
        fail "$label: mkvmerge: $(grep -i -m 1 error mkvmerge.log)"
      elif grep -qi warning mkvmerge.log; then
        fail "$label: mkvmerge: $(grep -i -m 1 warning mkvmerge.log)"
      fi
      # mencoder writes its VobSub and may then crash on its way out (the
      # shell's word on that goes to the log too).
      (timeout "$MPLAYER_SECONDS" mencoder -noconfig all "dvd://$title" -dvd-device "$disc" -sid "$n" \
        -vobsubout mencoder -vobsuboutindex 0 -ovc copy -nosound -o /dev/null </dev/null || true) >mencoder.log 2>&1
      packet_hashes mencoder.idx 0:s:0 >mencoder.hash
      cmp -s mencoder.hash ours.hash || fail "$label: mencoder's VobSub holds $(wc -l <mencoder.hash) packets, or others"
      check_times_against "$label" "$stem.idx" mencoder.idx
      local palette=${disc%/VIDEO_TS}
      palette=$(dirname "$palette")/palette.rgb
      if [ "$name" = two_sets ] && [ "$title" -eq 4 ] && [ -f "$palette" ]; then
        check_palette "$label" "$stem.idx" "$palette"
      fi
      [ "$failures" -eq "$failures_before_check" ] &&
        echo "  ok   $label: $units subpictures, the dump's packets and times, as mkvmerge and mencoder take them"
    fi
    end_check
    cd "$work_dir" || return
  done
}

# The milliseconds of an .idx's timestamp lines, one a line.
index_times() {
  sed -n 's/^timestamp: \([0-9]*\):\([0-9]*\):\([0-9]*\):\([0-9]*\),.*/\1 \2 \3 \4/p' "$1" |
    while read -r h m s ms; do echo $(((10#$h * 3600 + 10#$m * 60 + 10#$s) * 1000 + 10#$ms)); done
}

# Our .idx's times against mencoder's, which counts from another start: the
# two may differ by one amount throughout, give or take a picture (33 ms at
# 29.97 frames a second), also where a title's timestamps start anew.
check_times_against() {
  local label=$1 ours=$2 theirs=$3
  local -a ours_ms theirs_ms
  mapfile -t ours_ms < <(index_times "$ours")
  mapfile -t theirs_ms < <(index_times "$theirs")
  if [ "${#ours_ms[@]}" -ne "${#theirs_ms[@]}" ] || [ "${#ours_ms[@]}" -eq 0 ]; then
    fail "$label: ${#ours_ms[@]} times in the .idx, ${#theirs_ms[@]} in mencoder's"
    return
  fi
  local i shift=$((theirs_ms[0] - ours_ms[0])) step
  for i in "${!ours_ms[@]}"; do
    step=$((theirs_ms[i] - ours_ms[i] - shift))
    if [ "${step#-}" -gt 34 ]; then
      fail "$label: unit $i at ${ours_ms[i]} ms, mencoder's at ${theirs_ms[i]} ms, where the others differ by $shift ms"
      return
    fi
  done
}

# The .idx's palette against the RGB colours the disc was authored with.
check_palette() {
  local label=$1 idx=$2 authored=$3
  local -a ours theirs
  read -r -a ours <<<"$(sed -n 's/^palette: //p' "$idx" | tr -d ',')"
  mapfile -t theirs <"$authored"
  local i c
  for i in "${!theirs[@]}"; do
    for c in 0 2 4; do
      local a=$((16#${ours[i]:c:2})) b=$((16#${theirs[i]:c:2}))
      if [ $((a - b)) -gt 1 ] || [ $((b - a)) -gt 1 ]; then
        fail "$label: palette colour $i is ${ours[i]}, authored ${theirs[i]}"
        break
      fi
    done
  done
}

kind_of_format() {
  case $1 in
    ac3) echo "$AC3_BASE -audio AC-3" ;;
    dts) echo "$DTS_BASE -dts DTS" ;;
    lpcm) echo "$LPCM_BASE -lpcm LPCM" ;;
    mpeg1 | mpeg2) echo "$MPEG_BASE -mpa MPEG audio" ;;
    *) echo "0 - unknown" ;;
  esac
}

# mplayer's audio ids for a title, in track order, as stream ids.
mplayer_audio_ids() {
  mplayer -nolirc -noconfig all -dvd-device "$1" "dvd://$2" -identify -frames 0 \
    -vo null -ao null </dev/null 2>/dev/null |
    sed -n 's/^audio stream: [0-9]* .* aid: \([0-9]*\)\.$/\1/p' |
    while read -r aid; do
      if [ "$aid" -lt "$MPLAYER_MPEG_AIDS" ]; then
        printf '0x%02X\n' $((MPEG_BASE + aid))
      else
        printf '0x%02X\n' "$aid"
      fi
    done
}

# One title's lines of packrift's listing against lsdvd's and the stream
# control (stream_control's lines).
check_listed_title() {
  local disc=$1 title=$2 listing=$3 ours=$4 control=$5
  local name label
  name=$(disc_name "$disc")
  label="$name title $title listing"
  begin_check
  local lsdvd_title
  lsdvd_title=$(awk -v t="$title" '/^Title: / { current = ($2 + 0 == t) } current' "$listing")
  local head
  head=$(awk -v t="$title" '/^title / { current = ($2 + 0 == t) } current' "$ours")
  local -a lines
  mapfile -t lines <<<"$head"
  if [ -z "$head" ]; then
    fail "$label: packrift does not list title $title"
    end_check
    return
  fi
  # title N: H:MM:SS.mmm, C chapter(s), A angle(s), title set S
  local length chapters angles set
  if [[ ${lines[0]} =~ ^title\ $title:\ ([0-9]+:[0-9]{2}:[0-9]{2}\.[0-9]{3}),\ ([0-9]+)\ chapters?,\ ([0-9]+)\ angles?,\ title\ set\ ([0-9]+)$ ]]; then
    length=$(to_ms "${BASH_REMATCH[1]}")
    chapters=${BASH_REMATCH[2]}
    angles=${BASH_REMATCH[3]}
    set=${BASH_REMATCH[4]}
    [[ $lsdvd_title =~ Length:\ ([0-9:.]+) ]] &&
      [ "$length" -ne "$(to_ms "${BASH_REMATCH[1]}")" ] &&
      fail "$label: length ${lines[0]#*: } against lsdvd's ${BASH_REMATCH[1]}"
    [[ $lsdvd_title =~ Chapters:\ ([0-9]+) ]] && [ "$chapters" -ne "$((10#${BASH_REMATCH[1]}))" ] &&
      fail "$label: $chapters chapters, lsdvd $((10#${BASH_REMATCH[1]}))"
    [[ $lsdvd_title =~ Number\ of\ Angles:\ ([0-9]+) ]] && [ "$angles" -ne "${BASH_REMATCH[1]}" ] &&
      fail "$label: $angles angles, lsdvd ${BASH_REMATCH[1]}"
    [[ $lsdvd_title =~ VTS:\ ([0-9]+) ]] && [ "$set" -ne "$((10#${BASH_REMATCH[1]}))" ] &&
      fail "$label: title set $set, lsdvd $((10#${BASH_REMATCH[1]}))"
    [ "$chapters" -eq 1 ] && [[ ${lines[0]} =~ chapters ]] && fail "$label: '1 chapters'"
    [ "$angles" -eq 1 ] && [[ ${lines[0]} =~ angles ]] && fail "$label: '1 angles'"
  else
    fail "$label: no title line of the listing's shape: '${lines[0]}'"
  fi

  # video MPEG-2 WxH PAL|NTSC 16:9|4:3
  local format aspect width height
  [[ $lsdvd_title =~ Format:\ (PAL|NTSC) ]] && format=${BASH_REMATCH[1]}
  [[ $lsdvd_title =~ Aspect\ ratio:\ ([0-9]+)/([0-9]+) ]] && aspect=${BASH_REMATCH[1]}:${BASH_REMATCH[2]}
  [[ $lsdvd_title =~ Width:\ ([0-9]+),\ Height:\ ([0-9]+) ]] && width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]}
  local video_line
  video_line=$(printf '%s\n' "${lines[@]}" | grep '^  video ' | head -n 1)
  if [[ ! $video_line =~ \ ${width}x${height}\ ${format}\ ${aspect}$ ]]; then
    fail "$label: '$video_line', lsdvd: ${width}x${height} $format $aspect"
  fi

  # Audio tracks: lsdvd's order, kinds, channels, rates and languages; the
  # ids from the stream control (and mplayer's ids for it).
  local -a audio_numbers subpicture_numbers mplayer_ids
  read -r -a audio_numbers <<<"$(sed -n 's/^audio //p' <<<"$control")"
  read -r -a subpicture_numbers <<<"$(sed -n 's/^subpicture //p' <<<"$control")"
  mapfile -t mplayer_ids < <(mplayer_audio_ids "$disc" "$title")
  local -a ours_audio lsdvd_audio
  mapfile -t ours_audio < <(printf '%s\n' "${lines[@]}" | grep '^  audio ')
  mapfile -t lsdvd_audio < <(grep '^[[:space:]]*Audio: ' <<<"$lsdvd_title")
  if [ "${#ours_audio[@]}" -ne "${#lsdvd_audio[@]}" ]; then
    fail "$label: ${#ours_audio[@]} audio tracks listed, lsdvd ${#lsdvd_audio[@]}"
  fi
  local k line theirs kind base option id language channels rate expected
  for k in "${!lsdvd_audio[@]}"; do
    theirs=${lsdvd_audio[k]}
    line=${ours_audio[k]:-}
    [[ $theirs =~ Language:\ ([a-z]+) ]] && language=${BASH_REMATCH[1]}
    [ "$language" = xx ] && language=--
    [[ $theirs =~ Format:\ ([a-z0-9]+) ]] && read -r base option kind <<<"$(kind_of_format "${BASH_REMATCH[1]}")"
    [[ $theirs =~ Channels:\ ([0-9]+) ]] && channels=${BASH_REMATCH[1]}
    [[ $theirs =~ Frequency:\ ([0-9]+)000 ]] && rate=${BASH_REMATCH[1]}
    [[ $theirs =~ Stream\ id:\ 0x([0-9a-f]+) ]] && local lsdvd_id=0x${BASH_REMATCH[1]^^}
    if [ "${audio_numbers[k]}" = - ]; then
      fail "$label: audio track $k is not available in the stream control"
      continue
    fi
    id=$(printf '0x%02X' $((base + audio_numbers[k])))
    if [ "${mplayer_ids[k]:-}" != "$id" ]; then
      fail "$label: audio track $k: the stream control read here says $id, mplayer ${mplayer_ids[k]:-nothing}"
    fi
    [ "$lsdvd_id" != "$id" ] && echo "  note $label: audio track $k: lsdvd names $lsdvd_id by its place; the stream control says $id"
    expected="^  audio $id ${kind}[^ ]* ${channels}ch ${rate} kHz( [0-9]+-bit)? $language \\($option $((audio_numbers[k]))\\)\$"
    if [[ ! $line =~ $expected ]]; then
      fail "$label: audio track $k listed as '$line', expected $id $kind ${channels}ch $rate kHz $language ($option $((audio_numbers[k])))"
    fi
  done

  local -a ours_sub lsdvd_sub
  mapfile -t ours_sub < <(printf '%s\n' "${lines[@]}" | grep '^  subpicture ')
  mapfile -t lsdvd_sub < <(grep '^[[:space:]]*Subtitle: ' <<<"$lsdvd_title")
  if [ "${#ours_sub[@]}" -ne "${#lsdvd_sub[@]}" ]; then
    fail "$label: ${#ours_sub[@]} subpicture tracks listed, lsdvd ${#lsdvd_sub[@]}"
  fi
  for k in "${!lsdvd_sub[@]}"; do
    theirs=${lsdvd_sub[k]}
    [[ $theirs =~ Language:\ ([a-z]+) ]] && language=${BASH_REMATCH[1]}
    [ "$language" = xx ] && language=--
    [[ $theirs =~ Stream\ id:\ 0x([0-9a-f]+) ]] && lsdvd_id=0x${BASH_REMATCH[1]^^}
    if [ "${subpicture_numbers[k]}" = - ]; then
      fail "$label: subpicture track $k is not available in the stream control"
      continue
    fi
    id=$(printf '0x%02X' $((SUBPICTURE_BASE + subpicture_numbers[k])))
    [ "$lsdvd_id" != "$id" ] && echo "  note $label: subpicture track $k: lsdvd names $lsdvd_id by its place; the stream control says $id"
    expected="  subpicture $id $language (-sub $((id - SUBPICTURE_BASE)))"
    if [ "${ours_sub[k]:-}" != "$expected" ]; then
      fail "$label: subpicture track $k listed as '${ours_sub[k]:-}', expected '$expected'"
    fi
  done
  [ "$failures" -eq "$failures_before_check" ] &&
    echo "  ok   $label: ${lines[0]}, ${#ours_audio[@]} audio, ${#ours_sub[@]} subpicture tracks as lsdvd and the stream control say"
  end_check
}

# ---- -all and -mkvmerge -------------------------------------------------

# mkvmerge's codec id for each kind lsdvd names (kind_of_format's kinds).
mkvmerge_codec() {
  case $1 in
    ac3) echo A_AC3 ;;
    dts) echo A_DTS ;;
    lpcm) echo A_PCM/INT/LIT ;;
    mpeg1 | mpeg2) echo A_MPEG/L2 ;;
    *) echo unknown ;;
  esac
}

# mkvmerge's three-letter code (ISO 639-2) for an IFO's two-letter one, as
# mkvmerge lists its languages (in mkvmerge_languages, read once); und for
# none (lsdvd's xx) or one it lacks.
mkvmerge_languages=
mkvmerge_language() {
  [ "$1" = xx ] && { echo und; return; }
  awk -F'|' -v code="$1" '
    { for (i = 1; i <= NF; i++) gsub(/^ +| +$/, "", $i) }
    $4 == code && $3 != "" { print $3; found = 1; exit }
    END { if (!found) print "und" }' <<<"$mkvmerge_languages"
}

# What mkvmerge -J says of a Matroska file: a line a track, "TYPE CODEC_ID
# LANGUAGE DEFAULT", then "chapters N".
mkv_tracks() {
  mkvmerge -J "$1" | python3 -c '
import json, sys
info = json.load(sys.stdin)
for track in info["tracks"]:
    p = track["properties"]
    print(track["type"], p.get("codec_id"), p.get("language", "und"), int(p.get("default_track", False)))
print("chapters", sum(c.get("num_entries", 0) for c in info.get("chapters", [])))'
}

# Runs mkvmerge @FILE in the current folder: it must exit 0 (1 means
# warnings, 2 an error) and print no warning.
mkvmerge_options_file() {
  local label=$1 options=$2
  mkvmerge "@$options" >../mkvmerge.log 2>&1
  local status=$?
  if [ "$status" -ne 0 ] || grep -qi warning ../mkvmerge.log; then
    fail "$label: mkvmerge @$options exited with $status: $(grep -i -m 1 -E 'warning|error' ../mkvmerge.log)"
    return 1
  fi
}

# -all against one run per option: every file a single run writes must be
# in ALL_DIR with the same bytes, and ALL_DIR must hold no other output
# (the log, the options file and the .mkv aside). Arguments: LABEL ALL_DIR
# the input's arguments, --, then each run's options as one word. An input
# file in ALL_DIR is copied beside each single run, whose outputs are named
# after it.
same_as_one_run_per_option() {
  local label=$1 all_dir=$2
  shift 2
  local -a input=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    input+=("$1")
    shift
  done
  shift
  local options file argument own_input='' k=0
  local -a single_names=()
  for argument in "${input[@]}"; do
    [[ $argument != /* ]] && [ -f "$all_dir/$argument" ] && own_input=$argument
  done
  for options in "$@"; do
    k=$((k + 1))
    mkdir -p "$all_dir/../one$k"
    cd "$all_dir/../one$k" || return
    [ -n "$own_input" ] && cp "$all_dir/$own_input" .
    # shellcheck disable=SC2086  # each option and its number, two words
    run_packrift "$label, alone: $options" "${input[@]}" $options || continue
    for file in *; do
      [ "$file" = packrift.log ] || [ "$file" = "$own_input" ] && continue
      single_names+=("$file")
      if ! cmp -s "$file" "$all_dir/$file"; then
        fail "$label: $file of $options alone ($(file_size "$file") bytes) is not the same as -all's ($(file_size "$all_dir/$file" 2>/dev/null || echo no file))"
      fi
    done
  done
  local extra
  extra=$(cd "$all_dir" && for file in *; do
    case $file in packrift.log | "$own_input" | *.mkvmerge.json | *.mkv) ;; *) printf '%s\n' "$file" ;; esac
  done | grep -vxF -f <(printf '%s\n' "${single_names[@]}"))
  [ -n "$extra" ] && fail "$label: -all wrote $(tr '\n' ' ' <<<"$extra")which no single option writes"
  cd "$all_dir" || return
}

# The delay each audio track of a Matroska file starts with against its
# video (ffprobe's start times) against the delay the report gave
# (DELAYS, in track order): within 1 ms for a delay of 0 or more; for a
# negative one mkvmerge drops what falls before 0, so up to one frame
# later (the .mkv's first packet of the track, and 1 ms for its clock).
check_audio_starts() {
  local label=$1 mkv=$2
  shift 2
  local -a delays=("$@") starts
  local video_start
  mapfile -t starts < <(ffprobe -v error -show_entries stream=codec_type,start_time -of csv=p=0 "$mkv" |
    awk -F, '$1 == "video" && video == "" { video = $2 } $1 == "audio" { print $2 } END { print video }')
  video_start=${starts[-1]}
  unset 'starts[-1]'
  if [ "${#starts[@]}" -ne "${#delays[@]}" ]; then
    fail "$label: ${#starts[@]} audio tracks in the .mkv, ${#delays[@]} delays reported"
    return
  fi
  local k frame verdict
  for k in "${!delays[@]}"; do
    frame=0
    [ "${delays[k]}" -lt 0 ] && frame=$(ffprobe -v error -select_streams "a:$k" -show_entries packet=duration_time \
      -read_intervals '%+#1' -of csv=p=0 "$mkv" | head -n 1 | tr -d ',')
    verdict=$(awk -v a="${starts[k]}" -v v="$video_start" -v d="${delays[k]}" -v f="$frame" 'BEGIN {
      got = (a - v) * 1000
      high = d >= 0 ? d + 1 : d + f * 1000 + 1
      printf "%s %.1f %.1f", (got >= d - 1 && got <= high) ? "ok" : "off", got, high }')
    [ "${verdict%% *}" = ok ] ||
      fail "$label: audio track $k starts $(cut -d' ' -f2 <<<"$verdict") ms after the video, reported delay ${delays[k]} ms (allowed up to $(cut -d' ' -f3 <<<"$verdict") ms)"
  done
}

# packrift DISC -title N -all -chapters -mkvmerge -streams (CONTROL:
# stream_control's lines for the title): mkvmerge takes
# the options file without a warning; the .mkv holds the video and every
# audio and subpicture track lsdvd lists, in its order, each with the
# IFO's language in mkvmerge's form, its codec, and only the first audio
# track default; as many chapters as lsdvd counts; each audio track
# starts at the reported delay; and every output is byte for byte what
# the one option that writes it gives alone.
check_all_outputs() {
  local disc=$1 title=$2 listing=$3 control=$4
  local name label run stem
  name=$(disc_name "$disc")
  label="$name title $title -all -mkvmerge"
  run=$work_dir/runs/$name-title$title-all
  stem=$name-title$title
  rm -rf "$run"
  mkdir -p "$run/all"
  cd "$run/all" || return
  begin_check
  local lsdvd_title
  lsdvd_title=$(awk -v t="$title" '/^Title: / { current = ($2 + 0 == t) } current' "$listing")
  local -a audio_numbers subpicture_numbers lsdvd_audio lsdvd_sub
  read -r -a audio_numbers <<<"$(sed -n 's/^audio //p' <<<"$control")"
  read -r -a subpicture_numbers <<<"$(sed -n 's/^subpicture //p' <<<"$control")"
  mapfile -t lsdvd_audio < <(grep '^[[:space:]]*Audio: ' <<<"$lsdvd_title")
  mapfile -t lsdvd_sub < <(grep '^[[:space:]]*Subtitle: ' <<<"$lsdvd_title")
  local expected="video V_MPEG2 und 1" k format language base option kind id delay
  local -a options=("-video 0" -chapters) delays=()
  if run_packrift "$label" "$disc" -title "$title" -all -chapters -mkvmerge -streams; then
    for k in "${!lsdvd_audio[@]}"; do
      format= language=xx
      [[ ${lsdvd_audio[k]} =~ Format:\ ([a-z0-9]+) ]] && format=${BASH_REMATCH[1]}
      [[ ${lsdvd_audio[k]} =~ Language:\ ([a-z]+) ]] && language=${BASH_REMATCH[1]}
      expected+=$'\n'"audio $(mkvmerge_codec "$format") $(mkvmerge_language "$language") $((k == 0 ? 1 : 0))"
      read -r base option kind <<<"$(kind_of_format "$format")"
      [ "${audio_numbers[k]:--}" = - ] && continue
      options+=("$option ${audio_numbers[k]}")
      id=$(printf '0x%02X' $((base + audio_numbers[k])))
      [ "$base" -eq "$MPEG_BASE" ] || id="0xBD $id"
      delay=$(tr -d '\r' <packrift.log | sed -n "s/^stream $id .*, delay \([-+][0-9]*\) ms.*/\1/p" | head -n 1)
      [ -n "$delay" ] || fail "$label: the report gives no delay for stream $id"
      delays+=("${delay#+}")
    done
    for k in "${!lsdvd_sub[@]}"; do
      language=xx
      [[ ${lsdvd_sub[k]} =~ Language:\ ([a-z]+) ]] && language=${BASH_REMATCH[1]}
      expected+=$'\n'"subtitles S_VOBSUB $(mkvmerge_language "$language") 0"
      [ "${subpicture_numbers[k]:--}" = - ] || options+=("-sub ${subpicture_numbers[k]}")
    done
    [[ $lsdvd_title =~ Chapters:\ ([0-9]+) ]] && expected+=$'\n'"chapters $((10#${BASH_REMATCH[1]}))"
    if mkvmerge_options_file "$label" "$stem.mkvmerge.json"; then
      local muxed
      muxed=$(mkv_tracks "$stem.mkv")
      [ "$muxed" = "$expected" ] ||
        fail "$label: mkvmerge -J lists [$(tr '\n' ';' <<<"$muxed")], the title [$(tr '\n' ';' <<<"$expected")]"
      check_audio_starts "$label" "$stem.mkv" "${delays[@]}"
    fi
    same_as_one_run_per_option "$label" "$run/all" "$disc" -title "$title" -- "${options[@]}"
  fi
  [ "$failures" -eq "$failures_before_check" ] &&
    echo "  ok   $label: ${#lsdvd_audio[@]} audio, ${#lsdvd_sub[@]} subpicture tracks, delays ${delays[*]} ms as muxed; the outputs as ${#options[@]} single runs give them"
  end_check
  cd "$work_dir" || return
}

# The option that writes a stream of a VOB file, by ffprobe's id for it:
# a stream id plus 0x100 (the video, MPEG audio), or a substream number.
option_of_ffprobe_id() {
  local id=$(($1)) row base count option
  for row in "$((FFPROBE_STREAM_ID + VIDEO_ID)) 1 -video" "$((FFPROBE_STREAM_ID + MPEG_BASE)) 32 -mpa" \
    "$AC3_BASE 8 -audio" "$DTS_BASE 8 -dts" "$LPCM_BASE 8 -lpcm" "$SUBPICTURE_BASE 32 -sub"; do
    read -r base count option <<<"$row"
    if [ "$id" -ge "$base" ] && [ "$id" -lt $((base + count)) ]; then
      echo "$option $((id - base))"
      return 0
    fi
  done
  return 1
}

# A VOB file named with spaces, quotes and a non-ASCII letter (no quotes
# under an emulator: Windows names cannot hold them), and one whose names
# start with mkvmerge's own syntax ("(" opens a file group, "+" appends):
# -all -mkvmerge on a copy of title set 2's VOB file, then mkvmerge
# @NAME.mkvmerge.json must make NAME.mkv with every stream ffprobe finds in
# the file, and -all's outputs must be those of a run per option.
check_odd_names() {
  local vob=$1
  local run=$work_dir/runs/names
  local -a names=('my "film" é' '(1) +film') options=()
  [ "${#emulator[@]}" -gt 0 ] && names[0]='my film é'
  local id option
  while read -r id; do
    option=$(option_of_ffprobe_id "$id") && options+=("$option")
  done < <(ffprobe -v error -show_entries stream=id -of csv=p=0 "$vob" | tr -d ',' | grep .)
  local stem label tracks
  for stem in "${names[@]}"; do
    label="VOB file '$stem.vob' -all -mkvmerge"
    rm -rf "$run"
    mkdir -p "$run/all"
    cd "$run/all" || return
    begin_check
    cp "$vob" "$stem.vob"
    if run_packrift "$label" "$stem.vob" -all -mkvmerge && mkvmerge_options_file "$label" "$stem.mkvmerge.json"; then
      tracks=$(mkv_tracks "$stem.mkv" | grep -c -v '^chapters ')
      [ "$tracks" -eq "${#options[@]}" ] || fail "$label: $tracks tracks in $stem.mkv, ffprobe finds ${#options[@]} streams"
      same_as_one_run_per_option "$label" "$run/all" "$stem.vob" -- "${options[@]}"
    fi
    [ "$failures" -eq "$failures_before_check" ] &&
      echo "  ok   $label: mkvmerge makes $stem.mkv of its ${#options[@]} streams, each as a single run writes it"
    end_check
  done
  cd "$work_dir" || return
}

# Every check on one disc. PLAY_ORDERS: the crafted disc's described play
# orders, or empty.
check_disc() {
  local disc=$1 play_orders=${2:-}
  local name
  name=$(disc_name "$disc")
  echo "$name: $disc"
  local listing=$work_dir/runs/$name.lsdvd.txt
  mkdir -p "$work_dir/runs"
  if ! lsdvd -x "$disc" >"$listing" 2>/dev/null; then
    fail "$name: lsdvd cannot read the disc"
    return
  fi
  local titles
  titles=$(grep -c '^Title: ' "$listing")
  echo "  lsdvd: $titles titles"

  # The listing.
  local ours=$work_dir/runs/$name.listing.txt
  cd "$work_dir/runs" || return
  begin_check
  if run_packrift "$name listing" "$disc"; then
    tr -d '\r' <packrift.log >"$ours"
    local listed
    listed=$(grep -c '^title ' "$ours")
    [ "$listed" -ne "$titles" ] && fail "$name listing: $listed titles, lsdvd $titles"
  fi
  end_check
  cd "$work_dir" || return
  check_main_title "$disc" "$listing"

  local title angles angle play_order control
  for title in $(seq 1 "$titles"); do
    control=$(stream_control "$disc" "$title")
    [ -f "$ours" ] && check_listed_title "$disc" "$title" "$listing" "$ours" "$control"
    angles=$(awk -v t="$title" '/^Title: / { current = ($2 + 0 == t) }
      current && /Number of Angles:/ { print $4; exit }' "$listing")
    for angle in $(seq 1 "${angles:-1}"); do
      play_order=
      [ -n "$play_orders" ] && play_order=$play_orders/title$title-angle$angle.vob
      check_title_packs "$disc" "$title" "$angle" "$play_order"
    done
    if [ "${angles:-1}" -eq 1 ]; then
      check_chapters "$disc" "$title" "$listing"
      [ -f "$ours" ] && check_subpictures "$disc" "$title" "$ours"
      [ -z "$play_orders" ] && check_all_outputs "$disc" "$title" "$listing" "$control"
    else
      echo "  skip $name title $title chapters: dvdxchap adds up the cells of every angle"
    fi
  done
}

# packrift DISC -title main against lsdvd's longest track: the longest
# title by its listed length, the first of equals.
check_main_title() {
  local disc=$1 listing=$2 name
  name=$(disc_name "$disc")
  local longest
  longest=$(awk '/^Longest track: / { print $3 + 0 }' "$listing")
  cd "$work_dir/runs" || return
  begin_check
  if run_packrift "$name -title main" "$disc" -title main; then
    local chosen
    chosen=$(tr '\r' '\n' <packrift.log | sed -n 's/^title main: title \([0-9]*\), .*/\1/p')
    [ "$chosen" = "$longest" ] || fail "$name -title main: title ${chosen:-none}, lsdvd's longest $longest"
  fi
  end_check
  cd "$work_dir" || return
}

# The README's first command's packrift runs, as the README gives them, on
# the sample disc in a folder of their own: the listing, every title with
# its report and options file, each then muxed with mkvmerge @FILE.
check_readme_first_command() {
  local root=$here/../.. demo runs command
  demo=$(awk '/^## Set-up on a fresh machine/ { found = 1 }
    found && /^    cmake --workflow --preset release/ { sub(/^    /, ""); print; exit }' "$root/README.md")
  runs=${demo#*cd build/demo && }
  rm -rf "$work_dir/demo/build/demo"
  mkdir -p "$work_dir/demo/build/demo" "$work_dir/demo/samples"
  ln -sfn "$root/samples/disc" "$work_dir/demo/samples/disc"
  cd "$work_dir/demo/build/demo" || return
  begin_check
  while read -r command; do
    [ -n "$command" ] || continue
    read -r -a words <<<"${command#../release/src/packrift }"
    run_packrift "README: $command" "${words[@]}" || break
    cat packrift.log >>demo.log
  done < <(sed 's/ && /\n/g' <<<"$runs")
  local listed taken=0 options
  listed=$(grep -cE '^title [0-9]+: [0-9]' demo.log)
  for options in disc-title*.mkvmerge.json; do
    [ -f "$options" ] || continue
    taken=$((taken + 1))
    mkvmerge_options_file "README: mkvmerge" "$options"
  done
  [ "$listed" -gt 0 ] && [ "$taken" -eq "$listed" ] ||
    fail "README's first command: $listed titles listed, $taken options files written"
  echo "  README's first command: $listed titles listed, $taken muxed"
  end_check
  cd "$work_dir" || return
}

absolute_paths
cd "$work_dir" || exit 1
mkvmerge_languages=$(mkvmerge --list-languages)

bash "$here/make_discs.sh" "$work_dir" >discs.txt
status=$?
if [ "$status" -ne 0 ]; then
  echo "make_discs.sh failed with status $status"
  exit "$status"
fi
mapfile -t discs <discs.txt
for disc in "${discs[@]}"; do
  # One disc named by its VIDEO_TS folder, the others by the folder above.
  case $disc in
    */split_vob) check_disc "$disc/VIDEO_TS" ;;
    *) check_disc "$disc" ;;
  esac
done
check_odd_names "$(disc_file "${discs[0]}" VTS_02_1.VOB)"
check_readme_first_command

if [ -n "${WRITE_TEST_DISC:-}" ]; then
  for shape in "${CRAFTED_SHAPES[@]}"; do
    rm -rf "${work_dir:?}/crafted/$shape"
    if ! "${emulator[@]}" "$WRITE_TEST_DISC" "$shape" "$work_dir/crafted/$shape"; then
      fail "$shape: write_test_disc failed"
      continue
    fi
    check_disc "$work_dir/crafted/$shape" "$work_dir/crafted/$shape/play_order"
  done
  for inside in "${INSIDE_SHAPES[@]}"; do
    read -r shape option suffix stream sync <<<"$inside"
    rm -rf "${work_dir:?}/crafted/$shape"
    if ! "${emulator[@]}" "$WRITE_TEST_DISC" "$shape" "$work_dir/crafted/$shape"; then
      fail "$shape: write_test_disc failed"
      continue
    fi
    check_inside_titles "$work_dir/crafted/$shape" "$option" "$suffix" "$stream" "$sync"
  done
else
  echo "WRITE_TEST_DISC not set: the crafted discs are not checked"
fi

echo "title check: $((checks - failed_checks)) of $checks checks passed, $failures failures"
[ "$failures" -eq 0 ]
