#!/usr/bin/env bash
# The release gate of build-msi.sh: a package built without --test-build is a release, and is
# refused with the uploader stand-in, and without a signature and time stamp unless an unsigned
# release is asked for. Each case runs build-msi.sh as a release build would.
#   release_gate.sh <payload folder> <uploader stand-in> <version>
set -uo pipefail
here="$(cd "$(dirname "$0")/../../installer" && pwd)"
payload="$1" standin="$2" version="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A program that is not the stand-in, in the uploader's place: the health check (its version
# resource names it, not a stand-in).
real="$work/Dravenport.exe"
cp "$payload/VORTELIXExcelCheck.exe" "$real"
fail=0
# case <what> <expected: ok|refused> <text the output must hold> <uploader> [environment...]
case_() {
  local what="$1" expected="$2" text="$3" uploader="$4"
  shift 4
  local out rc
  rm -f "$work/release.msi"
  out="$(env -u QVR_SIGN_PFX -u QVR_SIGN_TIMESTAMP_URL -u QVR_ALLOW_UNSIGNED_RELEASE "$@" \
    bash "$here/build-msi.sh" --arch x64 --scope machine --version "$version" --dll "$payload/VORTELIXExcel.dll" \
    --excel-check "$payload/ExcelCheck.dll" --health-check "$payload/VORTELIXExcelCheck.exe" \
    --uploader "$uploader" --out "$work/release.msi" 2>&1)"
  rc=$?
  if [ "$expected" = ok ] && [ $rc -eq 0 ] && [ -f "$work/release.msi" ] && grep -qF -- "$text" <<<"$(msiinfo suminfo "$work/release.msi")"; then
    echo "ok   $what"
  elif [ "$expected" = refused ] && [ $rc -ne 0 ] && [ ! -f "$work/release.msi" ] && grep -qF -- "$text" <<<"$out"; then
    echo "ok   $what"
  else
    echo "FAIL $what: expected $expected with \"$text\" (exit code $rc): $out"
    fail=1
  fi
}
case_ "the uploader stand-in in a release" refused "is the stand-in" "$standin" QVR_ALLOW_UNSIGNED_RELEASE=1
case_ "a release without a certificate" refused "signed with a time stamp" "$real"
case_ "a release with a certificate and no time stamp" refused "signed with a time stamp" "$real" QVR_SIGN_PFX=/nonexistent.pfx
case_ "an unsigned release asked for" ok "Subject: VORTELIX Excel add-in (64-bit Office, for all users)" "$real" QVR_ALLOW_UNSIGNED_RELEASE=1
exit $fail
