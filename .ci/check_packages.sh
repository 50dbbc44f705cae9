#!/usr/bin/env bash
# Checks the packages as a user gets them, after the package and
# package-windows workflows have written them to build/packages: the man
# page lints clean; lintian finds no error and no hardening tag in the .deb
# (built with Debian's hardening flags); the .deb, unpacked
# into a scratch folder (never installed), holds the files it should and its
# packrift splits the bundled sample to the recorded digests; the zip holds
# its three files at the top, and its packrift.exe does the same under Wine,
# in a Wine prefix of its own. Exits with 1 at the first check that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() {
  echo "check_packages: $*" >&2
  exit 1
}

version=$(sed -n 's/^project(packrift VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
deb=$root/build/packages/packrift_${version}_$(dpkg --print-architecture).deb
zip=$root/build/packages/packrift-${version}-win64.zip
[ -f "$deb" ] || fail "$deb is missing: run cmake --workflow --preset package"
[ -f "$zip" ] || fail "$zip is missing: run cmake --workflow --preset package-windows"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/packrift-packages.XXXXXX")
wine_prefix=$scratch/wine
cleanup() {
  # Wine's server lingers a few seconds after the last program; stop it
  # before its prefix goes.
  if [ -d "$wine_prefix" ] && [ -n "${wineserver:-}" ]; then
    WINEPREFIX=$wine_prefix "$wineserver" -k 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Splits the bundled sample in a folder of its own with the given command
# (a packrift, or Wine and a packrift.exe) and compares the outputs with the
# recorded digests.
split_sample() {
  local name=$1
  shift
  local dir=$scratch/$name-run
  mkdir "$dir"
  cp samples/sample.vob "$dir/"
  (cd "$dir" && "$@" sample.vob -video 0 -audio 0 > /dev/null && "$@" sample.vob -audio 1 > /dev/null) ||
    fail "$name: packrift did not split the sample (status $?)"
  (cd "$dir" && sha256sum --quiet -c "$root/samples/sample.sha256") ||
    fail "$name: the outputs differ from samples/sample.sha256"
  echo "$name: sample.m2v, sample-stream0.ac3 and sample-stream1.ac3 match samples/sample.sha256"
}

echo "== mandoc -T lint -W warning man/packrift.1"
lint=$(mandoc -T lint -W warning man/packrift.1 2>&1) || fail "mandoc: $lint"
[ -z "$lint" ] || fail "mandoc: $lint"
echo "clean"

echo "== lintian $(basename "$deb")"
# Exit status 2 on any error; warnings are printed and left to the reader.
# (As root it says on standard error that root is not recommended.)
lintian --fail-on error "$deb" || fail "lintian found errors in $deb"
echo "no errors"

echo "== lintian --pedantic --display-info: Debian's hardening"
# Built with dpkg-buildflags' hardening flags, it shows no hardening tag;
# hardening-no-fortify-functions may show for a fortified build all the
# same, so the fortified calls themselves are looked for in the binary.
tags=$(lintian --pedantic --display-info "$deb" 2>/dev/null || true)
echo "$tags"
hardening=$(echo "$tags" | grep -o 'hardening-[a-z-]*' | grep -v '^hardening-no-fortify-functions$' || true)
[ -z "$hardening" ] || fail "lintian: $hardening"

echo "== $(basename "$deb"), unpacked with dpkg-deb -x"
debroot=$scratch/deb
dpkg-deb -x "$deb" "$debroot"
for file in usr/bin/packrift usr/share/man/man1/packrift.1.gz usr/share/doc/packrift/README.md \
            usr/share/doc/packrift/copyright usr/share/doc/packrift/changelog.gz; do
  [ -f "$debroot/$file" ] || fail "the .deb holds no /$file"
done
zcat "$debroot/usr/share/man/man1/packrift.1.gz" | cmp -s - man/packrift.1 ||
  fail "the .deb's man page is not man/packrift.1"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libc6* ]] || fail "the .deb's Depends, \"$depends\", names no libc6"
echo "Depends: $depends"
fortified=$(objdump -T "$debroot/usr/bin/packrift" | grep -o '__[a-z]*_chk' | sort -u | tr '\n' ' ')
[ -n "$fortified" ] || fail "the .deb's packrift calls no fortified function"
echo "fortified calls: $fortified"
split_sample deb "$debroot/usr/bin/packrift"

echo "== $(basename "$zip"), unpacked with unzip"
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listing" = "README.md packrift.exe packrift.txt " ] ||
  fail "the zip holds \"$listing\", not README.md, packrift.exe and packrift.txt at its top"
zipdir=$scratch/zip
unzip -q "$zip" -d "$zipdir"
# The same Wine wrapper as the Windows tests use, made here for a prefix in
# the scratch folder.
find_wine() {
  local name
  for name in "$@"; do
    command -v "$name" 2>/dev/null && return
    [ -x "/usr/lib/wine/$name" ] && echo "/usr/lib/wine/$name" && return
  done
  fail "no $1 (Debian: wine64)"
}
wine=$(find_wine wine64 wine)
wineserver=$(find_wine wineserver64 wineserver)
sed -e "s|@PACKRIFT_WINE_PREFIX@|$wine_prefix|" -e "s|@PACKRIFT_WINE@|$wine|" \
    -e "s|@PACKRIFT_WINESERVER@|$wineserver|" cmake/wine-run.sh.in > "$scratch/wine-run"
chmod +x "$scratch/wine-run"
split_sample zip "$scratch/wine-run" "$zipdir/packrift.exe"

echo "all package checks passed"
