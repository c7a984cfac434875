#!/usr/bin/env bash
# Bounded fuzzing runs over the host boundary and over the station file (default 60 s each), then
# each corpus replayed once more.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
work=build/fuzz/corpus
mkdir -p "$work"
export ASAN_OPTIONS=detect_leaks=1
build/fuzz/bin/zeb_fuzz_host "$work" fuzz/corpus -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
  -max_len=512 -print_final_stats=1 2>&1 | tee build/fuzz/fuzz.log | grep -E 'stat::|DONE|ERROR|cov:' | tail -12
build/fuzz/bin/zeb_fuzz_host -runs=0 "$work" fuzz/corpus 2>&1 | tail -2

# The station file, guided by a dictionary of its keys.
work=build/fuzz/station-corpus
mkdir -p "$work"
build/fuzz/bin/zeb_fuzz_station "$work" fuzz/station-corpus -dict=fuzz/station.dict -max_total_time="$seconds" \
  -timeout=20 -rss_limit_mb=4096 -max_len=4096 -print_final_stats=1 2>&1 | tee build/fuzz/station-fuzz.log |
  grep -E 'stat::|DONE|ERROR|cov:' | tail -12
build/fuzz/bin/zeb_fuzz_station -runs=0 "$work" fuzz/station-corpus 2>&1 | tail -2
