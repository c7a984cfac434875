#!/usr/bin/env bash
# Bounded fuzzing runs, each followed by its corpus replayed once more: the host boundary (default
# 60 s), the settings file (half as long) and the station file (as long as the host boundary). Each
# run ends with a line "HARNESS: N inputs in S s, R inputs per second".
#
#   scripts/fuzz.sh [SECONDS]      fuzz every harness
#   scripts/fuzz.sh --minimise     merge what the host-boundary runs found into fuzz/corpus, minimised
#                                  (libFuzzer's -merge=1 by edges alone, not how often each is taken:
#                                  the fewest inputs that keep every branch reached);
#                                  the settings and station corpora keep their hand-written seeds
#                                  and findings as they are
set -euo pipefail
cd "$(dirname "$0")/.."
# No allocation keeps the stack it was made at (malloc_context_size=0): that stack only tells where a
# block was allocated or freed in a report, every finding is detected all the same, and recording it
# at each allocation cost the host boundary a tenth of its time. A finding's input replays with the
# whole stacks through the same harness (or ctest's replay) without this option.
export ASAN_OPTIONS=detect_leaks=1:malloc_context_size=0

# fuzz HARNESS SEEDS SECONDS MAX_LEN [LIBFUZZER OPTIONS]: new inputs go to build/fuzz/<harness>-corpus.
fuzz() {
  local work="build/fuzz/$1-corpus" log="build/fuzz/$1.log"
  mkdir -p "$work"
  build/fuzz/bin/"$1" "$work" "$2" -max_total_time="$3" -timeout=20 -rss_limit_mb=4096 -max_len="$4" "${@:5}" \
    -print_final_stats=1 >"$log" 2>&1 || { tail -40 "$log"; return 1; }
  grep -E 'DONE|ERROR|cov:' "$log" | tail -4
  # libFuzzer's own count of executed inputs over the run's length (the seeds' first pass included).
  awk -v harness="$1" -v seconds="$3" '/stat::number_of_executed_units:/ { n = $2 }
    END { printf "%s: %d inputs in %d s, %d inputs per second\n", harness, n, seconds, n / seconds }' "$log"
  build/fuzz/bin/"$1" -runs=0 "$work" "$2" 2>&1 | tail -2
}

# minimise HARNESS SEEDS [LIBFUZZER OPTIONS]: SEEDS becomes the smallest set of its own inputs and the
# run's that covers what they cover together.
minimise() {
  local work="build/fuzz/$1-corpus" merged
  merged=$(mktemp -d)
  mkdir -p "$work"
  build/fuzz/bin/"$1" -merge=1 -use_counters=0 "$merged" "$2" "$work" "${@:3}" 2>&1 | grep -E 'MERGE-OUTER: [0-9]+ new' || true
  rm -rf "$2" && mv "$merged" "$2"
  echo "$2: $(ls "$2" | wc -l) inputs"
}

if [ "${1:-}" = "--minimise" ]; then
  minimise zeb_fuzz_host fuzz/corpus
  exit 0
fi

seconds="${1:-60}"
fuzz zeb_fuzz_host fuzz/corpus "$seconds" 512
fuzz zeb_fuzz_settings fuzz/settings-corpus $(((seconds + 1) / 2)) 4096
# The station file, guided by a dictionary of its keys.
fuzz zeb_fuzz_station fuzz/station-corpus "$seconds" 4096 -dict=fuzz/station.dict
# zeb view's reading of requests and its API's routing, in-process (half as long).
fuzz zeb_fuzz_http fuzz/http-corpus $(((seconds + 1) / 2)) 4096
