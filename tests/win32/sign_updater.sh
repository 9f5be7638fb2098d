#!/usr/bin/env bash
# A vendor's signing, end to end: a test certificate (openssl), a signed base that `nerid.exe pack` must take the
# signature off (and say so), the packed updater signed with osslsigncode, the signature verified with the test
# certificate as the trusted root, and `nerid.exe info` reading the signed file. Leaves firmware.hex and signed.exe in
# OUT for the window test that runs the signed updater.
# Usage: sign_updater.sh TOOLS_DIR OUT WINE_LAUNCHER...
set -euo pipefail
tools=$1 out=$2
shift 2
fail() { echo "sign_updater: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:2048 -nodes -keyout vendor.key -out vendor.pem -days 2 -subj "/CN=nerid test vendor" \
  -addext extendedKeyUsage=codeSigning 2>/dev/null
"$@" "$tools/nerid-sample-firmware.exe" -o firmware.hex --flash-bytes 0x800

osslsigncode sign -certs vendor.pem -key vendor.key -n "Firmware updater" -in "$tools/nerid-programmer.exe" \
  -out signed-base.exe >/dev/null
"$@" "$tools/nerid.exe" pack firmware.hex --base signed-base.exe -o updater.exe >pack.txt
grep -q "removed the signature of signed-base.exe" pack.txt || fail "pack did not say it removed the base's signature: $(cat pack.txt)"
if osslsigncode verify -CAfile vendor.pem -in updater.exe >/dev/null 2>&1; then
  fail "updater.exe still carries the base's signature"
fi

osslsigncode sign -certs vendor.pem -key vendor.key -n "Firmware updater" -in updater.exe -out signed.exe >/dev/null
osslsigncode verify -CAfile vendor.pem -in signed.exe >verify.txt 2>&1 || fail "verify failed: $(cat verify.txt)"
grep -q "Signature verification: ok" verify.txt || fail "no good signature: $(cat verify.txt)"
[ "$(stat -c %s signed.exe)" -gt "$(stat -c %s updater.exe)" ] || fail "signing added nothing"

"$@" "$tools/nerid.exe" info signed.exe --json >info.json || fail "nerid.exe info refused the signed updater"
grep -q '"name": "SAMPLE"' info.json || fail "info: $(cat info.json)"
grep -q '"checksum_ok": true' info.json || fail "info: $(cat info.json)"
echo "signed.exe: $(stat -c %s signed.exe) bytes, signature ok, package read"
