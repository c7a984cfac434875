#!/usr/bin/env bash
# Builds zeb_<version>_amd64.deb from a Linux build tree: zeb on the PATH, the plug-in in
# /usr/lib/zeb (where the installed zeb finds it), the bash completion where bash-completion loads
# it, the manual, the copyright and a changelog in /usr/share/doc/zeb.
# Usage: packaging/debian/build-deb.sh BUILD_DIR OUT_DIR   (BUILD_DIR already built: zeb, zeb_shared)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out=$2
# shellcheck source=/dev/null
. "$build/generated/package.env" # ZEB_VERSION, ZEB_COMPANY, ZEB_PRODUCT, ZEB_COPYRIGHT
maintainer=${ZEB_DEB_MAINTAINER:-"$ZEB_COMPANY Zeb team <zeb@brelan.example>"}

stage=$build/package/deb
rm -rf "$stage"
cmake --install "$build" --prefix "$stage/usr" --component runtime --strip >/dev/null
# The Python package, for Debian's python3 (its NumPy recommended); it finds the C library in
# /usr/lib/zeb.
python=$stage/usr/lib/python3/dist-packages/zeb
install -d "$python"
install -m 0644 "$root"/python/zeb/*.py "$root/python/zeb/py.typed" "$python/"
doc=$stage/usr/share/doc/zeb
install -d "$doc/manual/images"
install -m 0644 "$root/packaging/debian/copyright" "$doc/copyright"
# The README's links lead to where the manual and the changelog are installed beside it.
sed -e 's|](docs/|](manual/|g' -e 's|](CHANGELOG\.md)|](CHANGELOG.md.gz)|g' "$root/README.md" >"$doc/README.md"
install -m 0644 "$root"/docs/*.md "$doc/manual/"
install -m 0644 "$root"/docs/images/* "$doc/manual/images/"
gzip -9n <"$root/CHANGELOG.md" >"$doc/CHANGELOG.md.gz"
install -d "$stage/usr/share/man/man1"
sed "s/@VERSION@/$ZEB_VERSION/" "$root/packaging/debian/zeb.1" | gzip -9n >"$stage/usr/share/man/man1/zeb.1.gz"
# The Debian changelog: one entry for this release, dated by the commit it is built from.
when=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
{
  printf 'zeb (%s) stable; urgency=medium\n\n' "$ZEB_VERSION"
  printf '  * Release %s of %s.\n  * What changed: CHANGELOG.md.gz beside this file.\n\n' \
    "$ZEB_VERSION" "$ZEB_PRODUCT"
  printf ' -- %s  %s\n' "$maintainer" "$(LC_ALL=C date -u -R -d "@$when")"
} | gzip -9n >"$doc/changelog.gz"

# Modes as Debian wants them: folders and programs 0755, everything else (the plug-in too) 0644.
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/usr/bin/zeb"
find "$stage" -exec touch -h -d "@$when" {} +

# Dependencies from the libraries the programs link, as dpkg-shlibdeps finds them.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/debian"
printf 'Source: zeb\n\nPackage: zeb\nArchitecture: amd64\n' >"$scratch/debian/control"
depends=$(cd "$scratch" && dpkg-shlibdeps -O "$stage/usr/bin/zeb" "$stage/usr/lib/zeb/"*.so* 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "build-deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

install -d "$stage/DEBIAN"
(cd "$stage" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/md5sums"
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s|@VERSION@|$ZEB_VERSION|" -e "s|@MAINTAINER@|$maintainer|" -e "s|@INSTALLED_SIZE@|$size|" \
  -e "s|@DEPENDS@|$depends|" "$root/packaging/debian/control.in" >"$stage/DEBIAN/control"
chmod 0644 "$stage/DEBIAN/control"
# Python leaves compiled files beside the package's modules when root imports it; they go with it.
printf '#!/bin/sh\nset -e\nrm -rf /usr/lib/python3/dist-packages/zeb/__pycache__\n' >"$stage/DEBIAN/prerm"
chmod 0755 "$stage/DEBIAN/prerm"

mkdir -p "$out"
package=$out/zeb_${ZEB_VERSION}_amd64.deb
SOURCE_DATE_EPOCH=$when dpkg-deb --root-owner-group -Zxz --build "$stage" "$package" >/dev/null
echo "$package"
