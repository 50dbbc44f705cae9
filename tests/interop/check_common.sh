# shellcheck shell=bash disable=SC2034  # the constants are for the scripts that source it
# What the interop checks share, sourced by each (never run on its own):
# their arguments, the skip for a missing tool, the count of failures and
# checks, and the helpers they all call.

readonly SKIP_STATUS=77
readonly SECTOR_SIZE=2048
readonly THREADS=2
# WAV layout: "RIFF", size, "WAVE", then chunks of an id and a 32-bit size.
readonly RIFF_HEAD_SIZE=12
readonly CHUNK_HEAD_SIZE=8

failures=0
checks=0
failed_checks=0

# PACKRIFT WORK_DIR [EMULATOR...]; EMULATOR, when given, runs PACKRIFT.
take_arguments() {
  if [ $# -lt 2 ]; then
    echo "usage: $0 PACKRIFT WORK_DIR [EMULATOR...]" >&2
    exit 2
  fi
  packrift=$1
  work_dir=$2
  emulator=("${@:3}")
}

# Exits with SKIP_STATUS, naming the first tool that is not on the path,
# unless all are: NEEDS (the line's end), then TOOL or TOOL:DEBIAN_PACKAGE.
require_tools() {
  local needs=$1 tool package
  shift
  for tool in "$@"; do
    if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
      package=
      [[ $tool == *:* ]] && package=" (Debian package ${tool##*:})"
      echo "SKIPPED: ${tool%%:*} not found$package; $needs"
      exit "$SKIP_STATUS"
    fi
  done
}

# Makes the paths of PACKRIFT and WORK_DIR absolute, WORK_DIR made if missing.
absolute_paths() {
  if [ ! -x "$packrift" ]; then
    echo "no packrift executable at $packrift" >&2
    exit 1
  fi
  packrift=$(cd "$(dirname "$packrift")" && pwd)/$(basename "$packrift")
  mkdir -p "$work_dir"
  work_dir=$(cd "$work_dir" && pwd)
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
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

file_size() { wc -c <"$1" | tr -d ' '; }

# Runs packrift in the current folder; its output in packrift.log.
run_packrift() {
  local label=$1
  shift
  "${emulator[@]}" "$packrift" "$@" >packrift.log 2>&1
  local status=$?
  if [ "$status" -ne 0 ]; then
    fail "$label: packrift $* exited with $status"
    tr '\r' '\n' <packrift.log | tail -n 5 | sed 's/^/      /'
    return 1
  fi
}

# The unsigned little-endian 32-bit number at a byte offset of a file.
le32() { od -A n -t u4 --endian=little -j "$2" -N 4 "$1" | tr -d ' '; }

# The offset of a WAV's data chunk head: the chunks after "WAVE" in turn.
data_chunk_offset() {
  local wav=$1 at=$RIFF_HEAD_SIZE size
  while [ $((at + CHUNK_HEAD_SIZE)) -le "$(file_size "$wav")" ]; do
    if [ "$(head -c $((at + 4)) "$wav" | tail -c 4)" = data ]; then
      echo "$at"
      return 0
    fi
    size=$(le32 "$wav" $((at + 4)))
    at=$((at + CHUNK_HEAD_SIZE + size + size % 2))
  done
  return 1
}
