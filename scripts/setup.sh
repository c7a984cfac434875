#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, only what is missing).
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format git libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
          nlohmann-json3-dev libstb-dev libcli11-dev zlib1g-dev libz-mingw-w64-dev g++-mingw-w64-x86-64-posix
          mingw-w64-x86-64-dev wine wine64 locales libboost-dev chromium libedit-dev
          nsis osslsigncode openssl lintian dpkg-dev
          python3-numpy python3-pytest python3-venv python3-setuptools)
# Node.js and npm for the browser test of zeb view: Debian's, unless a node is there already.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  # The downloaded packages are not kept: about 1.5 GB that the builds need more on a small disk.
  apt-get clean
fi
# A language with a decimal comma for the locale tests (they make it themselves when this cannot).
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8' && [ "$(id -u)" = 0 ]; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "could not generate de_DE.UTF-8" >&2
fi
