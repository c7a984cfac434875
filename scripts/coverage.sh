#!/usr/bin/env bash
# Line and branch coverage of the plug-in (src/), its stand-ins (platform/), the simulated station
# (station/) and zeb view's server (tools/zeb/view/) by every test of the Linux build: gcc's gcov
# instrumentation, summed by gcovr.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if ! command -v gcovr >/dev/null 2>&1; then
  [ "$(id -u)" = 0 ] || { echo "gcovr is missing (apt-get install gcovr)" >&2; exit 1; }
  apt-get install -y -qq gcovr >/dev/null
fi
cmake --preset coverage >/dev/null
cmake --build --preset coverage
find build/coverage -name '*.gcda' -delete
ctest --preset coverage || echo "coverage: some tests failed; the figures below include what ran" >&2
# Branches the compiler adds for exceptions are left out: they are not decisions of the code.
# Each folder's per-file report goes to build/coverage/FOLDER.txt, its slashes written as dashes
# (gcovr replaces the file it writes, so it must never be pointed at a device such as /dev/null).
# Counters bumped by several threads at once can come out negative in gcov's report (a lost update);
# gcovr passes over such a line instead of giving up on the whole folder.
for folder in src platform station tools/zeb/view; do
  printf '%-16s ' "$folder/"
  gcovr --root . --object-directory build/coverage --filter "$folder/" --exclude-throw-branches \
    --exclude-unreachable-branches --gcov-ignore-parse-errors --print-summary \
    --output "build/coverage/${folder//\//-}.txt" 2>/dev/null |
    tr '\n' ' '
  echo
done
