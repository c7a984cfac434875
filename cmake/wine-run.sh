#!/usr/bin/env bash
# Runs a program of the Windows build under Wine for CTest (the cross-compiling emulator).
# Wine now and then fails to start a program at all: it ends at once with an error status and has
# written nothing. Such a start is tried once more, with a note on standard error. A program that
# wrote anything to standard output (every test program prints its first line before it tests) is
# never run twice, so a real failure stands as it happened.
set -u
out=$(mktemp) || exit 125
trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
  wine "$@" | tee "$out"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ "$attempt" -eq 2 ]; then
    exit "$status"
  fi
  echo "wine-run: $(basename "$1") ended with status $status before writing anything; starting it once more" >&2
done
