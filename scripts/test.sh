#!/usr/bin/env bash
# Every test on every target: on Linux under AddressSanitizer with UndefinedBehaviorSanitizer, the
# page in Chromium, both packages, Python, the Windows DLL under Wine, ThreadSanitizer on the
# concurrency tests, and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# Each step says how long the run has taken so far, so that a slow step shows in CI's log.
started=0 # from the start of this script, package set-up included
step() { printf '\n=== %s (at %d min %02d s)\n' "$*" $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }
# With ZEB_PRUNE_BUILDS=1 (CI, whose disk is small and shared) a build tree goes once its tests
# have run; a developer's trees stay for the next incremental build.
done_with() { if [ "${ZEB_PRUNE_BUILDS:-}" = 1 ]; then rm -rf "build/$1"; fi; }

step "Formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

step "Linux: the product, its tools and benchmarks"
# The optimised build that the page, the packages and Python use. Its test programs are not built:
# every Linux test runs once, in the sanitizers' build below, which checks more than this one would.
cmake --preset linux >/dev/null
cmake --build --preset linux --target zeb zeb_shared zeb_host zeb_bench zeb_station_bench zeb_height_bench

step "Every Linux test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1 ctest --preset asan
done_with asan

step "zeb view in headless Chromium"
# The page's helpers that need no browser, under node's own test runner.
node --test tests/view/page/*.test.js
# puppeteer-core as pinned by the lock file; it drives Debian's chromium and downloads no browser.
npm ci --prefix tests/view/browser --no-audit --no-fund
ZEB=build/linux/bin/zeb ZEB_VIEW_SCREENSHOT=build/linux/zeb-view.png node --test tests/view/browser/viewer.test.js
# The Surface panel: the live surface, the calibration on the sphere and its advice.
ZEB=build/linux/bin/zeb node --test tests/view/browser/surface.test.js
# Pages of other sites and origins attack zeb view; its own page still works.
ZEB=build/linux/bin/zeb node --test tests/view/browser/crosssite.test.js

step "The Debian package"
tests/packaging/run.sh linux

step "Python package"
# The package's suite against the Linux build, with Debian's Python and NumPy.
ZEB_BUILD=build/linux /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python
# pip installs it into a fresh virtual environment with Debian's setuptools and NumPy, as the
# README's lines do, and the installed package finds the Linux build's library.
venv=$(mktemp -d)
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install -q --no-build-isolation --no-index ./python
(cd "$venv" && ZEB_HOST_LIBRARY="$OLDPWD/build/linux/bin" ZEB_STATION= bin/python -c \
  'import zeb; print(zeb.__file__, [c.scan_type for c in zeb.channels()])')
rm -rf "$venv" python/build python/zeb.egg-info
done_with linux

step "Windows x64 DLL under Wine"
export WINEDEBUG=-all
# No Mono or Gecko prompts when a fresh Wine prefix is made; the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
cmake --preset windows >/dev/null
cmake --build --preset windows
# The DLL exports GetVideoChannel under its plain name.
exports=$(x86_64-w64-mingw32-objdump -p build/windows/bin/Tamo.Morvane.Zeb.dll)
grep '\] GetVideoChannel$' <<<"$exports"
# One persistent Wine server with its services up keeps each test program's start near 0.1 s. It
# needs the prefix's folder: in a fresh prefix it would not start, and each program would then
# start a server of its own (about 2.8 s).
mkdir -p "${WINEPREFIX:-$HOME/.wine}"
wineserver -p >/dev/null 2>&1 || true
timeout 900 wine cmd /c exit >/dev/null 2>&1 || true
ctest --preset windows
wineserver -k >/dev/null 2>&1 || true

step "The Windows installer, signed, in a fresh Wine prefix"
tests/packaging/run.sh windows
done_with windows

step "ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target zeb_concurrency_tests zeb_shared zeb_http_tests zeb_photometric_tests
ctest --preset tsan -R 'Concurrency'
done_with tsan

if [ -f fuzz/CMakeLists.txt ]; then
  step "Fuzzing the host boundary, the settings file and the station file"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target zeb_fuzz_host zeb_fuzz_settings zeb_fuzz_station zeb_fuzz_http
  scripts/fuzz.sh
fi
step "Done"
