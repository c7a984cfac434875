#!/usr/bin/env bash
# Builds a release's packages into dist/ (or ZEB_DIST): the Windows installer
# Zeb-<version>-win64-setup.exe, the Debian package zeb_<version>_amd64.deb, and SHA256SUMS over
# them. Both are named by the version set once in the top-level CMakeLists.txt. With ZEB_SIGN_PKCS12
# (and ZEB_SIGN_PASSWORD) the DLL, zeb.exe, the uninstaller and the installer are signed;
# docs/install.md has the details.
# Usage: scripts/package.sh [linux|windows|all]   (default all)
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
dist=${ZEB_DIST:-dist}
case $what in linux | windows | all) ;; *)
  echo "usage: scripts/package.sh [linux|windows|all]" >&2
  exit 2
  ;;
esac
mkdir -p "$dist"
made=()

if [ "$what" != windows ]; then
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target zeb zeb_shared zeb_host
  deb=$(packaging/debian/build-deb.sh build/linux "$dist")
  # A release carries no lintian errors (its warnings are listed in docs/install.md).
  lintian --fail-on error "$deb"
  made+=("$(basename "$deb")")
fi

if [ "$what" != linux ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target zeb zeb_shared zeb_host
  setup=$(packaging/windows/build-installer.sh build/windows "$dist" | tail -n 1)
  made+=("$(basename "$setup")")
fi

# SHA256SUMS covers the packages of this version present in the folder.
# shellcheck source=/dev/null
. "build/$([ "$what" = windows ] && echo windows || echo linux)/generated/package.env"
(
  cd "$dist"
  for file in "Zeb-$ZEB_VERSION-win64-setup.exe" "zeb_${ZEB_VERSION}_amd64.deb"; do
    if [ -f "$file" ]; then sha256sum "$file"; fi
  done >SHA256SUMS
)
for file in "${made[@]}"; do
  echo "built $dist/$file"
done
