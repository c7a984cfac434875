#!/usr/bin/env bash
# Builds the Windows installer from a Windows build tree: stages the DLL, zeb.exe, the launcher of
# zeb view, the licence and the manual, signs the programs when a certificate is given (see
# packaging/sign.sh), checks that they need nothing but Windows at run time, and runs makensis.
# Usage: packaging/windows/build-installer.sh BUILD_DIR OUT_DIR [VERSION]
# VERSION (default: the build's) is the version the installer registers and is named by; the tests
# build an older one this way from the same files.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out=$2
# shellcheck source=/dev/null
. "$build/generated/package.env" # ZEB_VERSION, ZEB_COMPANY, ZEB_PRODUCT, ZEB_COPYRIGHT
version=${3:-$ZEB_VERSION}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "build-installer.sh: bad version $version" >&2; exit 1; }

# The programs' run-time imports: Windows' own DLLs only, nothing to ship beside them.
system_dlls='^(kernel32|msvcrt|user32|advapi32|shell32|ole32|ws2_32|mswsock|version|bcrypt|crypt32|iphlpapi|ntdll|shlwapi|psapi)\.dll$'
for program in Tamo.Morvane.Zeb.dll zeb.exe zeb_host.dll; do
  while read -r dll; do
    if ! grep -qiE "$system_dlls" <<<"$dll"; then
      echo "build-installer.sh: $program imports $dll, which Windows does not have" >&2
      exit 1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$build/bin/$program" | sed -n 's/^\s*DLL Name: //p')
done

stage=$build/package/stage-$version
rm -rf "$stage"
mkdir -p "$stage/doc/manual/images"
cp "$build/bin/Tamo.Morvane.Zeb.dll" "$build/bin/zeb.exe" "$build/bin/zeb_host.dll" "$root/tools/hostapi/zeb_host.h" \
  "$stage/"
# Text files with Windows line ends.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf "$root/LICENSE" "$stage/LICENSE.txt"
crlf "$root/packaging/windows/zeb-view.cmd" "$stage/zeb-view.cmd"
# The README's links to the manual lead to where it is installed: doc\manual beside it.
sed 's|](docs/|](manual/|g' "$root/README.md" >"$stage/doc/README.md"
cp "$root/CHANGELOG.md" "$stage/doc/"
cp "$root"/docs/*.md "$stage/doc/manual/"
cp "$root"/docs/images/* "$stage/doc/manual/images/"
# The uninstaller removes the manual file by file, as installed, and only then its folders.
(
  cd "$stage"
  find doc -type f | LC_ALL=C sort | sed 's|/|\\|g; s|^|  Delete "$INSTDIR\\|; s|$|"|'
  find doc -depth -type d | sed 's|/|\\|g; s|^|  RMDir "$INSTDIR\\|; s|$|"|'
) >"$stage/uninstall-docs.nsh"

defines=(-DVERSION="$version" -DVERSION_NUMBERS="$version" -DCOMPANY="$ZEB_COMPANY" -DPRODUCT="$ZEB_PRODUCT"
  -DCOPYRIGHT="$ZEB_COPYRIGHT" -DSTAGE="$stage")
if [ -n "${ZEB_SIGN_PKCS12:-}" ]; then
  "$root/packaging/sign.sh" "$stage/Tamo.Morvane.Zeb.dll" >&2
  "$root/packaging/sign.sh" "$stage/zeb.exe" >&2
  "$root/packaging/sign.sh" "$stage/zeb_host.dll" >&2
  defines+=(-DSIGN="$root/packaging/sign.sh")
else
  echo "unsigned build: set ZEB_SIGN_PKCS12 (and ZEB_SIGN_PASSWORD) to sign (docs/install.md)" >&2
fi
mkdir -p "$out"
installer=$(cd "$out" && pwd)/Zeb-$version-win64-setup.exe
defines+=(-DOUTFILE="$installer")
makensis -V2 -WX -NOCD "${defines[@]}" "$root/packaging/windows/zeb.nsi" >"$build/package/makensis-$version.log" ||
  { cat "$build/package/makensis-$version.log" >&2; exit 1; }
echo "$installer"
