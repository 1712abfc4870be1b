#!/usr/bin/env bash
# The signing check against a DLL that really carries an Authenticode signature (osslsigncode,
# with a self-signed certificate this machine does not trust), under the policy RequireAddinSig.
#   signature.sh <bin folder> <32|64>
set -uo pipefail
bin="$1"; view="/reg:$2"
root="$bin/../wine"
source "$(dirname "$0")/../../cmake/wine-env.sh"
work="$root/signature-$$"
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
rm -rf "$work" && mkdir -p "$work/addin"
trap 'qvr_wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
template="$(bash "$(dirname "$0")/../../cmake/wine-run.sh" --template "$bin/..")" || { echo "FAIL no Wine prefix template"; exit 1; }
cp -a "$template" "$WINEPREFIX"; rm -f "$WINEPREFIX/.ready"
fail=0
signing() {  # the JSON line of the signing check
  qvr_wine "$bin/VORTELIXExcelCheck.exe" --json 2>/dev/null | tr -d '\r' | grep '"id": "signing"'
}
expect() {  # expect <what> <status> <text> <line>
  if grep -q "\"status\": \"$2\"" <<<"$4" && grep -qF -- "$3" <<<"$4"; then echo "ok   $1"; else
    echo "FAIL $1: expected $2 with \"$3\": $4"; fail=1; fi
}

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=VORTELIX Excel test signer" >/dev/null 2>&1 || { echo "FAIL openssl cannot make a certificate"; exit 1; }
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "VORTELIX Excel" \
  -in "$bin/VORTELIXExcel.dll" -out "$work/addin/VORTELIXExcel.dll" >/dev/null 2>&1 ||
  { echo "FAIL osslsigncode cannot sign the DLL"; exit 1; }
cp "$bin/Dravenport.exe" "$work/addin/"

dll="$(qvr_wine winepath -w "$work/addin/VORTELIXExcel.dll")"
excel="$(qvr_wine winepath -w "$bin/ExcelSim.exe")"
reg() { qvr_wine reg add "$@" /f "$view" >/dev/null 2>&1 || { echo "FAIL reg add $1"; fail=1; }; }
reg 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\excel.exe' /ve /d "$excel"
reg 'HKLM\Software\Classes\VORTELIXExcel.coVORTELIXExcel\CLSID' /ve /d '{5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}'
reg 'HKLM\Software\Classes\CLSID\{5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}\InprocServer32' /ve /d "$dll"

# Whether the self-signed signer counts as trusted is the machine's business (Wine's
# WinVerifyTrust does not ask for a trusted root); what is asserted is that the signature is seen.
expect "signed DLL, no policy" OK "Office does not require signed add-ins here (RequireAddinSig not 1); the DLL is signed" "$(signing)"
reg 'HKCU\Software\Policies\Microsoft\Office\16.0\Excel\Security' /v RequireAddinSig /t REG_DWORD /d 1
# A signed DLL changed after signing: its signature no longer matches its contents.
cp "$work/addin/VORTELIXExcel.dll" "$work/addin/signed.dll"
size=$(stat -c %s "$work/addin/VORTELIXExcel.dll")
printf '\x5a' | dd of="$work/addin/VORTELIXExcel.dll" bs=1 seek=$((size / 2)) conv=notrunc status=none
cmp -s "$work/addin/VORTELIXExcel.dll" "$work/addin/signed.dll" && { echo "FAIL the test could not change the signed DLL"; fail=1; }
expect "signed DLL changed after signing, under RequireAddinSig" FAIL "the DLL is signed but its signature does not verify" "$(signing)"
reg 'HKLM\Software\Classes\CLSID\{5A7C2E91-3D48-4B6F-9E21-7C0D4A8B3F65}\InprocServer32' /ve /d "$(qvr_wine winepath -w "$bin/VORTELIXExcel.dll")"
expect "unsigned DLL under RequireAddinSig" FAIL "Office turns unsigned add-ins off; the DLL carries no signature" "$(signing)"
exit $fail
