#!/usr/bin/env bash
# Checks packrift's reading of disc images against its reading of the
# folders they were made of, and the images against independent readers:
#
# - images of the discs that make_discs.sh authors with dvdauthor (and of
#   crafted discs): genisoimage -dvd-video (UDF and ISO 9660), xorriso
#   (ISO 9660 alone) and, with WRITE_TEST_IMAGE, a crafted UDF image with
#   long allocation descriptors, 16-bit names and several extents a file;
# - a crafted UDF image of one extent a file, and with WRITE_TEST_IMAGE one
#   of rare shapes read by packrift alone;
# - for every image: packrift's listing and every title's and angle's
#   outputs (video, AC-3, LPCM, MPEG audio, chapters, the stream report)
#   equal byte for byte what packrift gives for the folder;
# - the images themselves: 7z lists VIDEO_TS.IFO in each; on the UDF ones
#   lsdvd lists what it lists for the folder, mplayer dumps each title as
#   from the folder, and dvdbackup -M copies the folder's files back;
# - as root, where a loop device can be had: the UDF image as a block
#   device, its outputs named after the volume's identifier.
#
# Usage: image_check.sh PACKRIFT WORK_DIR [EMULATOR...]
# WRITE_TEST_DISC and WRITE_TEST_IMAGE, when set in the environment, name
# the programs that write the crafted discs and images.
# Exits 0 when everything matches, 1 on any mismatch, 77 (skipped) when a
# tool is missing.
set -uo pipefail
source "$(dirname "$0")/check_common.sh" || exit 1

readonly MPLAYER_SECONDS=120
readonly CRAFTED_SHAPES=(two_angles title_across_files two_titles_one_set)
readonly VOLUME=PACKRIFT_DISC
readonly OPTIONS=(-video 0 -audio 0 -lpcm 0 -mpa 0 -chapters -streams)

take_arguments "$@"
here=$(cd "$(dirname "$0")" && pwd)
require_tools "the image check needs ffmpeg, dvdauthor, genisoimage, xorriso, lsdvd, mplayer, 7z and dvdbackup" \
  ffmpeg:ffmpeg dvdauthor:dvdauthor spumux:dvdauthor genisoimage:genisoimage xorriso:xorriso lsdvd:lsdvd \
  mplayer:mplayer 7z:p7zip-full dvdbackup:dvdbackup

# The outputs of one run in the current folder, renamed from NAME- to out-.
outputs_as() {
  local name=$1 file
  for file in "$name"-*; do
    [ -e "$file" ] && mv "$file" "out-${file#"$name"-}"
  done
  # The progress line's rate and time are the run's own: left out.
  tr -d '\r' <packrift.log | sed -E "s/$name-/out-/g; s/\([0-9.]+K\/s\)//g; s/TimeSoFar=[0-9:]+//g" >out.log
}

# packrift INPUT [ARGS] in folder RUN, its outputs and console as out-*.
run_into() {
  local label=$1 run=$2 input=$3 name=$4
  shift 4
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run" || return 1
  run_packrift "$label" "$input" "$@" && outputs_as "$name"
  local status=$?
  cd "$work_dir" || return 1
  return "$status"
}

# Every file of the reference run found the same in the image's run.
compare_runs() {
  local label=$1 reference=$2 run=$3 file
  for file in "$reference"/out*; do
    if ! cmp -s "$file" "$run/$(basename "$file")"; then
      fail "$label: $(basename "$file") differs from the folder's"
      return
    fi
  done
  echo "  ok   $label: $(find "$reference" -name 'out*' | wc -l) files the same"
}

# The titles of a listing, and each one's angles: "TITLE ANGLES" a line.
titles_and_angles() {
  sed -n 's/^title \([0-9]*\): .*, \([0-9]*\) angles*, .*/\1 \2/p' "$1"
}

check_image() {
  local disc=$1 image=$2 kind=$3 name=$4 others_read=${5:-yes}
  local label
  label="$(basename "$disc") $kind"
  begin_check
  run_into "$label listing" "$work_dir/runs/$label/listing" "$image" "$name" &&
    if cmp -s "$work_dir/runs/folder/listing/out.log" "$work_dir/runs/$label/listing/out.log"; then
      echo "  ok   $label listing: the folder's"
    else
      fail "$label listing differs from the folder's"
    fi
  local title angles angle
  while read -r title angles; do
    for angle in $(seq 1 "$angles"); do
      run_into "$label title $title angle $angle" "$work_dir/runs/$label/t$title-a$angle" "$image" "$name" \
        -title "$title" -angle "$angle" "${OPTIONS[@]}" &&
        compare_runs "$label title $title angle $angle" "$work_dir/runs/folder/t$title-a$angle" \
          "$work_dir/runs/$label/t$title-a$angle"
    done
  done < <(titles_and_angles "$work_dir/runs/folder/listing/out.log")
  if [ "$others_read" != yes ]; then
    :
  elif 7z l "$image" 2>/dev/null >7z.txt; grep -q 'VIDEO_TS.IFO' 7z.txt; then
    echo "  ok   $label: 7z lists VIDEO_TS.IFO"
  else
    fail "$label: 7z does not list VIDEO_TS.IFO"
  fi
  end_check
}

# lsdvd, mplayer and dvdbackup read a UDF image as they read the folder.
check_udf_readers() {
  local disc=$1 image=$2 label
  label="$(basename "$disc") UDF image"
  begin_check
  if diff <(lsdvd -x "$disc" 2>/dev/null | grep -v '^Disc Title') \
    <(lsdvd -x "$image" 2>/dev/null | grep -v '^Disc Title') >/dev/null; then
    echo "  ok   $label: lsdvd lists what it lists for the folder"
  else
    fail "$label: lsdvd lists otherwise than for the folder"
  fi
  local title
  for title in $(seq 1 "$(lsdvd "$disc" 2>/dev/null | grep -c '^Title: ')"); do
    rm -f folder.vob image.vob
    timeout "$MPLAYER_SECONDS" mplayer -really-quiet -nolirc -noconfig all -dvd-device "$disc" "dvd://$title" \
      -dumpstream -dumpfile folder.vob >/dev/null 2>&1 </dev/null
    timeout "$MPLAYER_SECONDS" mplayer -really-quiet -nolirc -noconfig all -dvd-device "$image" "dvd://$title" \
      -dumpstream -dumpfile image.vob >/dev/null 2>&1 </dev/null
    if [ -s folder.vob ] && cmp -s folder.vob image.vob; then
      echo "  ok   $label title $title: mplayer dumps the folder's"
    else
      fail "$label title $title: mplayer's dump of the image differs from the folder's"
    fi
  done
  rm -rf backup
  if dvdbackup -M -i "$image" -o backup -n copy >/dev/null 2>&1 &&
    diff -r <(cd "$disc" && find . -iname '*.ifo' -o -iname '*.vob' | sort) \
      <(cd backup/copy/VIDEO_TS && find . -iname '*.ifo' -o -iname '*.vob' | sed 's|^\./|./VIDEO_TS/|' | sort) >/dev/null; then
    echo "  ok   $label: dvdbackup copies back the folder's files"
  else
    fail "$label: dvdbackup's copy differs from the folder"
  fi
  end_check
}

# The UDF image as a block device, where the check runs as root.
check_block_device() {
  local disc=$1 image=$2 device
  # Not under an emulator: on Windows a drive is a folder.
  [ ${#emulator[@]} -eq 0 ] && [ "$(id -u)" -eq 0 ] && command -v losetup >/dev/null 2>&1 || return 0
  device=$(losetup -f --show -r "$image" 2>/dev/null) || return 0
  check_image "$disc" "$device" "block device" "${VOLUME,,}"
  losetup -d "$device"
}

check_disc() {
  local disc=$1 video_ts
  video_ts=$(find "$disc" -maxdepth 1 -iname VIDEO_TS -type d | head -n 1)
  echo "$(basename "$disc"): $disc"
  rm -rf "$work_dir/runs" "$work_dir/upper"
  mkdir -p "$work_dir/runs" "$work_dir/upper/VIDEO_TS"
  # genisoimage -dvd-video takes upper-case names only.
  local file
  for file in "$video_ts"/*; do
    cp "$file" "$work_dir/upper/VIDEO_TS/$(basename "${file^^}")"
  done
  disc=$work_dir/upper
  run_into "folder listing" "$work_dir/runs/folder/listing" "$disc" upper || return
  local title angles angle
  while read -r title angles; do
    for angle in $(seq 1 "$angles"); do
      run_into "folder title $title angle $angle" "$work_dir/runs/folder/t$title-a$angle" "$disc" upper \
        -title "$title" -angle "$angle" "${OPTIONS[@]}"
    done
  done < <(titles_and_angles "$work_dir/runs/folder/listing/out.log")
  genisoimage -quiet -dvd-video -V "$VOLUME" -o "$work_dir/film.iso" "$disc" || fail "genisoimage failed"
  xorriso -as mkisofs -quiet -V "$VOLUME" -o "$work_dir/xfilm.iso" "$disc" 2>/dev/null || fail "xorriso failed"
  check_image "$disc" "$work_dir/film.iso" "genisoimage UDF" film
  check_image "$disc" "$work_dir/xfilm.iso" "xorriso ISO 9660" xfilm
  check_udf_readers "$disc" "$work_dir/film.iso"
  if [ -n "${WRITE_TEST_IMAGE:-}" ]; then
    "${emulator[@]}" "$WRITE_TEST_IMAGE" "$disc/VIDEO_TS" "$work_dir/crafted.iso" udf &&
      check_image "$disc" "$work_dir/crafted.iso" "crafted UDF" crafted &&
      check_udf_readers "$disc" "$work_dir/crafted.iso"
    # Shapes the players' readers do not take (DVD-Video records a file as
    # one extent): packrift against the folder alone.
    "${emulator[@]}" "$WRITE_TEST_IMAGE" "$disc/VIDEO_TS" "$work_dir/shapes.iso" udf long 16bit continued extents 3 &&
      check_image "$disc" "$work_dir/shapes.iso" "crafted UDF of rare shapes" shapes no
  fi
  check_block_device "$disc" "$work_dir/film.iso"
}

absolute_paths
cd "$work_dir" || exit 1

bash "$here/make_discs.sh" "$work_dir" >discs.txt
status=$?
if [ "$status" -ne 0 ]; then
  echo "make_discs.sh failed with status $status"
  exit "$status"
fi
mapfile -t discs <discs.txt
if [ -n "${WRITE_TEST_DISC:-}" ]; then
  for shape in "${CRAFTED_SHAPES[@]}"; do
    rm -rf "${work_dir:?}/crafted/$shape"
    "${emulator[@]}" "$WRITE_TEST_DISC" "$shape" "$work_dir/crafted/$shape" && discs+=("$work_dir/crafted/$shape")
  done
fi
for disc in "${discs[@]}"; do
  check_disc "$disc"
done

echo "image check: $((checks - failed_checks)) of $checks checks passed, $failures failures"
[ "$failures" -eq 0 ]
