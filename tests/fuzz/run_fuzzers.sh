#!/bin/sh
# Builds the fuzz targets with clang in a folder of their own and runs each
# for a bounded time from a copy of its seed corpus; fails on any crash,
# sanitizer report, leak or broken rule.
#   tests/fuzz/run_fuzzers.sh [build folder]     (default: build/fuzz)
#   FUZZ_SECONDS=n sets each target's time (default 7).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
source_root=$(cd "$here/../.." && pwd)
build=${1:-$source_root/build/fuzz}
seconds=${FUZZ_SECONDS:-7}
targets="parse_options command_line size_value depth_option start_path drive_root scanner compare_report mft"

mkdir -p "$build/artifacts"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The table reader's seeds come from mkntfs: the beginning of a small volume
# (its boot sector and table, the rest left to zeros) and its root's record.
if command -v mkntfs > /dev/null; then
  truncate -s 2M "$work/volume.img"
  mkntfs -q -F -f -c 512 -s 512 -p 0 -H 0 -S 0 "$work/volume.img" > /dev/null 2>&1
  mkdir -p "$work/mft"
  { printf '\001'; head -c 44032 "$work/volume.img"; } > "$work/mft/volume"
  { printf '\000'; dd if="$work/volume.img" bs=1024 skip=21 count=1 status=none; } > "$work/mft/root-record"
fi
failed=""
for target in $targets; do
  # libFuzzer adds what it finds to the corpus folder: give it a copy.
  mkdir -p "$work/$target"
  cp "$here/corpus/$target/"* "$work/$target/"
  log="$build/artifacts/$target.log"
  # -close_fd_mask=2 keeps the scan's error lines off the log; libFuzzer
  # and the sanitizers still report there.
  if "$build/fuzz_$target" -max_total_time="$seconds" -close_fd_mask=2 -timeout=20 \
      -artifact_prefix="$build/artifacts/$target-" "$work/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log")
    echo "fuzz_$target: ${runs:-?} runs, no crash"
  else
    echo "fuzz_$target: FAILED (input and log in $build/artifacts)"
    grep -E "broken rule|ERROR|runtime error|SUMMARY" "$log" | head -5
    failed="$failed $target"
  fi
done
if [ -n "$failed" ]; then
  echo "fuzz targets that failed:$failed"
  exit 1
fi
