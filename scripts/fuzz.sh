#!/usr/bin/env bash
# Bounded fuzzing runs, each followed by its corpus replayed once more: the host boundary (default
# 60 s), the settings file (half as long) and the station file (as long as the host boundary).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
export ASAN_OPTIONS=detect_leaks=1

# fuzz HARNESS SEEDS SECONDS MAX_LEN [LIBFUZZER OPTIONS]: new inputs go to build/fuzz/<harness>-corpus.
fuzz() {
  local work="build/fuzz/$1-corpus"
  mkdir -p "$work"
  build/fuzz/bin/"$1" "$work" "$2" -max_total_time="$3" -timeout=20 -rss_limit_mb=4096 -max_len="$4" "${@:5}" \
    -print_final_stats=1 2>&1 | tee "build/fuzz/$1.log" | grep -E 'stat::|DONE|ERROR|cov:' | tail -12
  build/fuzz/bin/"$1" -runs=0 "$work" "$2" 2>&1 | tail -2
}

fuzz zeb_fuzz_host fuzz/corpus "$seconds" 512
fuzz zeb_fuzz_settings fuzz/settings-corpus $(((seconds + 1) / 2)) 4096
# The station file, guided by a dictionary of its keys.
fuzz zeb_fuzz_station fuzz/station-corpus "$seconds" 4096 -dict=fuzz/station.dict
# zeb view's reading of requests and its API's routing, in-process (half as long).
fuzz zeb_fuzz_http fuzz/http-corpus $(((seconds + 1) / 2)) 4096
