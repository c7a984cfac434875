#!/usr/bin/env bash
# Bounded fuzzing runs, each followed by its corpus replayed once more: the host boundary (default
# 60 s) and the settings file (half as long).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
export ASAN_OPTIONS=detect_leaks=1

# fuzz HARNESS SEEDS SECONDS MAX_LEN: new inputs go to build/fuzz/<harness>-corpus.
fuzz() {
  local work="build/fuzz/$1-corpus"
  mkdir -p "$work"
  build/fuzz/bin/"$1" "$work" "$2" -max_total_time="$3" -timeout=20 -rss_limit_mb=4096 -max_len="$4" \
    -print_final_stats=1 2>&1 | tee "build/fuzz/$1.log" | grep -E 'stat::|DONE|ERROR|cov:' | tail -12
  build/fuzz/bin/"$1" -runs=0 "$work" "$2" 2>&1 | tail -2
}

fuzz zeb_fuzz_host fuzz/corpus "$seconds" 512
fuzz zeb_fuzz_settings fuzz/settings-corpus $(((seconds + 1) / 2)) 4096
