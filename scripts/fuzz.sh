#!/usr/bin/env bash
# A bounded fuzzing run over the host boundary (default 60 s), then the corpus replayed once more.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
work=build/fuzz/corpus
mkdir -p "$work"
export ASAN_OPTIONS=detect_leaks=1
build/fuzz/bin/zeb_fuzz_host "$work" fuzz/corpus -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
  -max_len=512 -print_final_stats=1 2>&1 | tee build/fuzz/fuzz.log | grep -E 'stat::|DONE|ERROR|cov:' | tail -12
build/fuzz/bin/zeb_fuzz_host -runs=0 "$work" fuzz/corpus 2>&1 | tail -2
