#!/usr/bin/env bash
# Authenticode-signs a program, DLL or Windows Installer package (SHA-256) with osslsigncode:
#   sign.sh <input> <output>
# The certificate comes from the environment (CMake passes its options the same way):
#   QVR_SIGN_PFX             the PKCS#12 file with the code-signing certificate and its key
#   QVR_SIGN_PASSWORD_FILE   a file holding the PFX's password, or
#   QVR_SIGN_PASSWORD        the password itself (written to a private temporary file here)
#   QVR_SIGN_TIMESTAMP_URL   optional RFC 3161 time-stamping service
# The password never reaches a command line or the output: osslsigncode reads it from a file.
# Without QVR_SIGN_PFX the input is copied unsigned (the build says so once, when configured).
set -euo pipefail
in="$1" out="$2"
if [ -z "${QVR_SIGN_PFX:-}" ]; then
  [ "$in" -ef "$out" ] || cp "$in" "$out"
  exit 0
fi
[ -f "$QVR_SIGN_PFX" ] || { echo "sign.sh: no certificate file at QVR_SIGN_PFX ($QVR_SIGN_PFX)" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"
passfile="${QVR_SIGN_PASSWORD_FILE:-}"
if [ -z "$passfile" ]; then
  passfile="$work/password"
  (umask 077 && printf '%s' "${QVR_SIGN_PASSWORD:-}" >"$passfile")
fi
timestamp=()
[ -z "${QVR_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$QVR_SIGN_TIMESTAMP_URL")

# Signed into a temporary file first: a failed signature leaves no half-written output.
if ! osslsigncode sign -pkcs12 "$QVR_SIGN_PFX" -readpass "$passfile" -h sha256 \
      -n "VORTELIX Excel add-in" "${timestamp[@]}" -in "$in" -out "$work/signed" >"$work/log" 2>&1; then
  echo "sign.sh: signing $(basename "$in") failed:" >&2
  cat "$work/log" >&2
  exit 1
fi
mv -f "$work/signed" "$out"
