#!/usr/bin/env bash
# Signs a Windows executable or DLL in place with Authenticode (osslsigncode, SHA-256), with the
# certificate and key of the PKCS#12 file ZEB_SIGN_PKCS12 and its password ZEB_SIGN_PASSWORD (may be
# empty). ZEB_SIGN_TIMESTAMP, when set, is the URL of an RFC 3161 time-stamping service, so that the
# signature stays valid after the certificate expires.
# Usage: packaging/sign.sh FILE
set -euo pipefail
file=$1
: "${ZEB_SIGN_PKCS12:?ZEB_SIGN_PKCS12 names no certificate}"
[ -f "$ZEB_SIGN_PKCS12" ] || { echo "sign.sh: no certificate file $ZEB_SIGN_PKCS12" >&2; exit 1; }
options=(-pkcs12 "$ZEB_SIGN_PKCS12" -h sha256 -n "Zeb" -i "https://brelan.example/zeb")
if [ -n "${ZEB_SIGN_TIMESTAMP:-}" ]; then
  options+=(-ts "$ZEB_SIGN_TIMESTAMP")
fi
signed=$file.signed
rm -f "$signed"
# The password goes through a pipe, not the command line that other users' ps shows.
osslsigncode sign "${options[@]}" -readpass <(printf '%s' "${ZEB_SIGN_PASSWORD:-}") \
  -in "$file" -out "$signed" >/dev/null
mv -f "$signed" "$file"
echo "signed $(basename "$file")"
