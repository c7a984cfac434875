#!/usr/bin/env bash
# The main job on the built-in simulated station: build the Linux plug-in and the command-line
# host, then acquire one four-direction image set from each channel into ./zeb-images.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target zeb zeb_shared
out="${1:-zeb-images}"
build/linux/bin/zeb channels --detect
build/linux/bin/zeb acquire --channel 0 --out "$out"
build/linux/bin/zeb acquire --channel 1 --out "$out"
