#!/usr/bin/env bash
# Writes the image fuzzer's seeds into fuzz/corpus-image: a crafted disc
# folder (write_test_disc) made into images by genisoimage (UDF and ISO
# 9660) and xorriso (ISO 9660 alone), and by write_test_image in the shapes
# those tools do not make (UDF alone with long descriptors over several
# extents and 16-bit names, continued descriptor lists, multi-extent ISO
# 9660 files); each cut to its first 300 sectors, which hold its file system.
# Usage: make_image_corpus.sh BUILD_DIR (a build of the test preset)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: make_image_corpus.sh BUILD_DIR}" && pwd)
corpus=$here/corpus-image
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/tests/write_test_disc" title_across_files disc >/dev/null
mkdir -p upper/VIDEO_TS
for file in disc/VIDEO_TS/*; do
  name=$(basename "$file")
  cp "$file" "upper/VIDEO_TS/${name^^}"
done
genisoimage -quiet -dvd-video -V FUZZ_DISC -o genisoimage-udf.iso upper
xorriso -as mkisofs -quiet -V FUZZ_DISC -o xorriso-iso9660.iso upper 2>/dev/null
"$build/tests/write_test_image" upper/VIDEO_TS crafted-udf-long-16bit.iso udf long 16bit extents 3
"$build/tests/write_test_image" upper/VIDEO_TS crafted-udf-continued.iso udf continued extents 4
"$build/tests/write_test_image" upper/VIDEO_TS crafted-iso9660-multi-extent.iso iso extents 2
"$build/tests/write_test_image" upper/VIDEO_TS crafted-both.iso both
mkdir -p "$corpus"
for image in *.iso; do
  head -c $((300 * 2048)) "$image" >"$corpus/${image%.iso}"
done
ls -l "$corpus"
