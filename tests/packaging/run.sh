#!/usr/bin/env bash
# The packages as integrators use them. Linux: the .deb built, checked by lintian, installed with
# dpkg -i, used, removed with dpkg -r leaving nothing behind. Windows: the installer signed with a
# throw-away certificate, every signature verified, then in a fresh Wine prefix a silent install
# (files, registry, zeb.exe from the installed folder, the version resources through the Windows
# API), an upgrade over an older build that keeps the settings and the log, a refused downgrade,
# an install refused while a process holds the DLL, and silent uninstalls with and without the
# settings. Needs root for dpkg; builds what it needs with the presets.
# Usage: tests/packaging/run.sh [linux|windows|all]   (default all)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
what=${1:-all}

failures=0
pass() { printf '  ok    %s\n' "$*"; }
fail() {
  printf '  FAIL  %s\n' "$*"
  failures=$((failures + 1))
}
check() { # check DESCRIPTION COMMAND...: the command succeeds
  local description=$1
  shift
  if "$@" >/dev/null 2>&1; then pass "$description"; else fail "$description"; fi
}
# readme_links README: every relative link of an installed README reaches a file (anchors aside).
readme_links() {
  local folder links=0 missing="" link
  folder=$(dirname "$1")
  while read -r link; do
    case $link in http://* | https://* | mailto:* | '#'*) continue ;; esac
    links=$((links + 1))
    [ -e "$folder/${link%%#*}" ] || missing+=" $link"
  done < <(grep -o '](\([^)]*\))' "$1" | sed 's/^](//; s/)$//; s/ .*//')
  check "the installed README's $links relative links reach installed files${missing:+ (not:$missing)}" \
    test "$links" -gt 0 -a -z "$missing"
}
# Waits up to $1 seconds for a command to succeed.
wait_for() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.5
  done
}

linux_tests() {
  echo "--- the Debian package"
  local work=$root/build/linux/package/test
  rm -rf "$work"
  mkdir -p "$work"
  ZEB_DIST=$work/dist scripts/package.sh linux
  # shellcheck source=/dev/null
  . build/linux/generated/package.env
  local deb=$work/dist/zeb_${ZEB_VERSION}_amd64.deb
  check "the package is named by the version source" test -f "$deb"
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 &&
    pass "lintian reports no errors ($(grep -c '^W:' "$work/lintian.txt" || true) warnings)" ||
    { fail "lintian reports errors"; cat "$work/lintian.txt"; }

  if dpkg -s zeb >/dev/null 2>&1; then
    fail "a package zeb is installed already: not replacing it (dpkg -r zeb first)"
    return
  fi
  if [ "$(id -u)" != 0 ]; then
    fail "installing the package needs root"
    return
  fi
  dpkg -i "$deb" >"$work/dpkg-install.txt" 2>&1 || { fail "dpkg -i"; cat "$work/dpkg-install.txt"; return; }
  pass "dpkg -i"
  local files
  files=$(dpkg -L zeb)
  check "zeb on the PATH" test "$(command -v zeb)" = /usr/bin/zeb
  for file in /usr/lib/zeb/libTamo.Morvane.Zeb.so /usr/lib/zeb/libzeb_host.so /usr/include/zeb/zeb_host.h \
    /usr/lib/python3/dist-packages/zeb/__init__.py /usr/share/bash-completion/completions/zeb \
    /usr/share/man/man1/zeb.1.gz /usr/share/doc/zeb/copyright /usr/share/doc/zeb/changelog.gz \
    /usr/share/doc/zeb/manual/install.md; do
    check "installed $file" test -f "$file"
  done
  readme_links /usr/share/doc/zeb/README.md
  # zeb finds the installed plug-in without options, reads its version from its note and drives it
  # (its settings and log in a folder of this test's own).
  local version
  version=$(env -u ZEB_PLUGIN ZEB_DRIVE_C="$work/drive_c" zeb --version 2>&1 || true)
  check "zeb --version: zeb's and the installed plug-in's version" \
    test "$version" = "$(printf 'zeb %s\nplug-in %s /usr/lib/zeb/libTamo.Morvane.Zeb.so' "$ZEB_VERSION" "$ZEB_VERSION")"
  local channels
  channels=$(cd "$work" && env -u ZEB_PLUGIN -u ZEB_STATION ZEB_DRIVE_C="$work/drive_c" zeb channels 2>&1) &&
    pass "zeb channels with the installed plug-in" || { fail "zeb channels"; echo "$channels"; }
  # Debian's python3 imports the installed package, which finds the installed C library and plug-in.
  local python
  python=$(cd "$work" && env -u ZEB_PLUGIN -u ZEB_STATION -u ZEB_HOST_LIBRARY -u PYTHONPATH ZEB_DRIVE_C="$work/drive_c" \
    /usr/bin/python3 -c 'import zeb; print(zeb.__file__, [c.scan_type for c in zeb.channels()])' 2>&1)
  check "python3 imports the installed package and opens the installed plug-in ($python)" \
    test "$python" = "/usr/lib/python3/dist-packages/zeb/__init__.py ['Areascan', 'Linescan']"
  check "bash completes zeb's commands" test "$(bash -c 'source /usr/share/bash-completion/completions/zeb;
    COMP_WORDS=(zeb cha); COMP_CWORD=1; _zeb; echo "${COMPREPLY[*]}"')" = channels

  dpkg -r zeb >"$work/dpkg-remove.txt" 2>&1 && pass "dpkg -r" || { fail "dpkg -r"; cat "$work/dpkg-remove.txt"; }
  local left=""
  while read -r file; do
    [ "$file" = /. ] && continue
    # Folders shared with other packages stay; anything of zeb's own must be gone.
    if [ -e "$file" ] && ! { [ -d "$file" ] && [ -n "$(dpkg -S "$file" 2>/dev/null)" ]; }; then
      left+="$file "
    fi
  done <<<"$files"
  check "nothing of the package is left ($left)" test -z "$left"
  check "dpkg knows no zeb any more" test -z "$(dpkg-query -W -f='${Status}' zeb 2>/dev/null)"
}

windows_tests() {
  echo "--- the Windows installer"
  local work=$root/build/windows/package/test
  # A Wine server left from an earlier run of this test holds its prefix.
  [ -d "$work/prefix" ] && WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
  mkdir -p "$work"
  # A throw-away code-signing certificate, its own root.
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Zeb test signing/O=Brelan" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,digitalSignature,keyCertSign" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
    -passout pass:throw-away
  export ZEB_SIGN_PKCS12=$work/cert.p12 ZEB_SIGN_PASSWORD=throw-away
  ZEB_DIST=$work/dist scripts/package.sh windows
  # shellcheck source=/dev/null
  . build/windows/generated/package.env
  local setup=$work/dist/Zeb-${ZEB_VERSION}-win64-setup.exe
  local old_version=26.0.0.1
  packaging/windows/build-installer.sh build/windows "$work/old" "$old_version" >/dev/null
  local old_setup=$work/old/Zeb-$old_version-win64-setup.exe
  check "the installer is named by the version source" test -f "$setup"
  check "SHA256SUMS lists the installer" bash -c "cd '$work/dist' && sha256sum -c --ignore-missing SHA256SUMS"

  # A signature is intact and covers the file: verified against the throw-away certificate as root.
  verify() {
    local report
    report=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1) &&
      grep -q 'Signature verification: ok' <<<"$report" &&
      [ "$(sed -n 's/.*Current message digest *: *//p' <<<"$report")" = \
        "$(sed -n 's/.*Calculated message digest *: *//p' <<<"$report")" ]
  }
  local stage=build/windows/package/stage-$ZEB_VERSION
  check "signed: Tamo.Morvane.Zeb.dll" verify "$stage/Tamo.Morvane.Zeb.dll"
  check "signed: zeb.exe" verify "$stage/zeb.exe"
  check "signed: zeb_host.dll" verify "$stage/zeb_host.dll"
  check "signed: the installer" verify "$setup"
  check "signed: the older installer" verify "$old_setup"
  cp "$setup" "$work/tampered.exe"
  printf 'x' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
  not_verified() { ! verify "$1"; }
  check "a changed byte breaks the installer's signature" not_verified "$work/tampered.exe"

  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset ZEB_PLUGIN ZEB_STATION
  wineboot -i >/dev/null 2>&1
  local c=$WINEPREFIX/drive_c
  local folder="$c/Program Files/Brelan/Zeb"
  local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zeb'
  local settings="$c/ProgramData/Brelan/Tamo.Morvane.Zeb"
  value() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }
  run() { # run EXPECTED_STATUS DESCRIPTION WINDOWS_PROGRAM ARGS...
    local expected=$1 description=$2 status=0
    shift 2
    wine "$@" >>"$work/wine.txt" 2>&1 || status=$?
    if [ "$status" = "$expected" ]; then pass "$description"; else
      fail "$description (exit status $status, not $expected)"
      tail -n 5 "$work/wine.txt"
    fi
  }

  run 0 "silent install" "$setup" /S
  for file in Tamo.Morvane.Zeb.dll zeb.exe zeb_host.dll zeb_host.h zeb-view.cmd LICENSE.txt uninstall.exe doc/README.md doc/manual/install.md; do
    check "installed $file" test -f "$folder/$file"
  done
  readme_links "$folder/doc/README.md"
  check "Apps & features: DisplayName" test -n "$(value DisplayName)"
  check "Apps & features: DisplayVersion $ZEB_VERSION" test "$(value DisplayVersion)" = "$ZEB_VERSION"
  check "Apps & features: Publisher" test "$(value Publisher)" = "$ZEB_COMPANY"
  check "Apps & features: InstallLocation" test "$(value InstallLocation)" = 'C:\Program Files\Brelan\Zeb'
  check "Apps & features: EstimatedSize" test "$(($(value EstimatedSize)))" -gt 1000
  check "Apps & features: UninstallString" test "$(value UninstallString)" = '"C:\Program Files\Brelan\Zeb\uninstall.exe"'
  check "Apps & features: QuietUninstallString" \
    test "$(value QuietUninstallString)" = '"C:\Program Files\Brelan\Zeb\uninstall.exe" /S'
  check "Start-menu shortcut" test -f "$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zeb view.lnk"
  system_path() { wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' /v Path | tr -d '\r'; }
  check "PATH entry" grep -qF ';C:\Program Files\Brelan\Zeb' <(system_path)
  no_path_entry() { ! grep -qF 'Brelan\Zeb' <(system_path); }
  check "signed: the installed uninstaller" verify "$folder/uninstall.exe"
  check "signed: the installed DLL" verify "$folder/Tamo.Morvane.Zeb.dll"
  # The installed files' version resources through the Windows API, against the version source.
  wine build/windows/bin/zeb_version_resources.exe "$folder/Tamo.Morvane.Zeb.dll" "$folder/zeb.exe" \
    >"$work/versions.txt" 2>&1 && pass "version resources of the installed DLL and zeb.exe" ||
    { fail "version resources of the installed files"; cat "$work/versions.txt"; }
  local detect
  detect=$(cd "$folder" && wine ./zeb.exe channels --detect 2>&1) && grep -q ready <<<"$detect" &&
    pass "zeb.exe channels --detect from the installed folder" || { fail "zeb.exe channels --detect"; echo "$detect"; }

  # An older version installed, its settings and log changed, then this one over it.
  run 0 "silent uninstall" "$folder/uninstall.exe" /S
  check "uninstalled" wait_for 60 bash -c "! test -e '$folder'"
  run 0 "silent install of the older $old_version" "$old_setup" /S
  mkdir -p "$settings" "$c/ProgramData/Tamo/Log"
  printf '[Log]\r\nLogEnabled = True\r\n[Camera]\r\nChanged = by this test\r\n' >"$settings/Config.conf"
  printf 'a line of the log\r\n' >"$c/ProgramData/Tamo/Log/Tamo.log"
  cp "$settings/Config.conf" "$work/Config.conf"
  run 0 "upgrade over $old_version" "$setup" /S
  check "upgrade: DisplayVersion $ZEB_VERSION" test "$(value DisplayVersion)" = "$ZEB_VERSION"
  check "upgrade: Config.conf kept as it was" cmp "$settings/Config.conf" "$work/Config.conf"
  check "upgrade: the log kept" grep -q 'a line of the log' "$c/ProgramData/Tamo/Log/Tamo.log"
  check "upgrade: one PATH entry" test "$(grep -oF 'C:\Program Files\Brelan\Zeb' <(system_path) | wc -l)" = 1
  run 3 "silent downgrade refused" "$old_setup" /S
  check "downgrade refused: DisplayVersion $ZEB_VERSION" test "$(value DisplayVersion)" = "$ZEB_VERSION"
  run 5 "an empty /DRIVERS= refused" "$setup" /S /DRIVERS=

  # A process holds the DLL (zeb from another folder, its plug-in the installed one).
  mkdir -p "$c/holder"
  cp "$folder/zeb.exe" "$c/holder/"
  printf '\r\nmarker\r\n' >>"$folder/LICENSE.txt"
  mkfifo "$work/shell-input"
  wine 'C:\holder\zeb.exe' --plugin 'C:\Program Files\Brelan\Zeb\Tamo.Morvane.Zeb.dll' shell \
    <"$work/shell-input" >"$work/holder.txt" 2>&1 &
  local holder=$!
  exec 3>"$work/shell-input"
  printf 'channels\n' >&3
  if wait_for 120 grep -q . "$work/holder.txt"; then
    run 4 "install refused while a process holds the DLL" "$setup" /S
    check "nothing replaced while the DLL is held" grep -q marker "$folder/LICENSE.txt"
    check "still registered while the DLL is held" test "$(value DisplayVersion)" = "$ZEB_VERSION"
  else
    fail "the holding process did not load the plug-in"
    cat "$work/holder.txt"
  fi
  exec 3>&-
  wait "$holder" || true
  run 0 "install once the DLL is free" "$setup" /S
  check "replaced once the DLL is free" bash -c "! grep -q marker '$folder/LICENSE.txt'"

  # Silent uninstall: everything installed goes, the settings and the log stay (as the plug-in,
  # loaded by the holding process, left them).
  cp "$settings/Config.conf" "$work/Config.conf"
  run 0 "silent uninstall" "$folder/uninstall.exe" /S
  check "uninstall: the folder is gone" wait_for 60 bash -c "! test -e '$folder'"
  check "uninstall: the registry entry is gone" bash -c "! wine reg query '$key'"
  check "uninstall: the shortcut is gone" bash -c "! test -e '$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zeb view.lnk'"
  check "uninstall: the PATH entry is gone" no_path_entry
  check "uninstall: Config.conf kept" cmp "$settings/Config.conf" "$work/Config.conf"
  check "uninstall: the log kept" test -f "$c/ProgramData/Tamo/Log/Tamo.log"
  # Again, into a drivers folder of its own, with the settings removed on the way out.
  run 0 "silent install with /DRIVERS=" "$setup" /S /NOSHORTCUT /NOPATH '/DRIVERS=C:\Vision\Drivers'
  check "/DRIVERS=: the plug-in in the drivers folder" test -f "$c/Vision/Drivers/Tamo.Morvane.Zeb.dll"
  check "/DRIVERS=: not in the installation folder" test ! -e "$folder/Tamo.Morvane.Zeb.dll"
  check "/NOSHORTCUT" test ! -e "$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zeb view.lnk"
  check "/NOPATH" no_path_entry
  run 0 "zeb.exe finds the plug-in in the drivers folder" "$folder/zeb.exe" channels
  run 0 "silent uninstall with /REMOVESETTINGS" "$folder/uninstall.exe" /S /REMOVESETTINGS
  check "/REMOVESETTINGS: uninstalled" wait_for 60 bash -c "! test -e '$folder'"
  check "/REMOVESETTINGS: the plug-in left the drivers folder" test ! -e "$c/Vision/Drivers/Tamo.Morvane.Zeb.dll"
  check "/REMOVESETTINGS: the settings are gone" test ! -e "$settings"
  check "/REMOVESETTINGS: the log is gone" test ! -e "$c/ProgramData/Tamo/Log/Tamo.log"
  wineserver -k >/dev/null 2>&1 || true
}

case $what in
  linux) linux_tests ;;
  windows) windows_tests ;;
  all)
    linux_tests
    windows_tests
    ;;
  *)
    echo "usage: tests/packaging/run.sh [linux|windows|all]" >&2
    exit 2
    ;;
esac
if [ "$failures" -gt 0 ]; then
  echo "packaging: $failures checks failed ($SECONDS s)"
  exit 1
fi
echo "packaging: all checks passed in $SECONDS s"
