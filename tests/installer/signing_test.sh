#!/usr/bin/env bash
# Authenticode signing of what we ship, with a throw-away code-signing certificate made here
# (no key lives in the repository):
#   signing_test.sh <source dir> <build dir> <x86|x64> <version> <VORTELIXExcel.dll> <Dravenport.exe>
# - sign.sh signs the DLL (SHA-256) and osslsigncode verify accepts it; build-msi.sh signs the
#   package; a changed byte breaks either signature;
# - the password reaches neither a command line nor any output, given in the environment or in a
#   file; a wrong password fails the build step and leaves no output file;
# - without a certificate sign.sh copies the file unchanged (an unsigned build);
# - with a time-stamping service (a local RFC 3161 server started here, loopback only) the
#   signature carries a time stamp that verifies; an unreachable service fails the signing and
#   leaves no output file;
# - msiexec (Wine) installs the signed package and the installed DLL still verifies.
set -uo pipefail
src="$1" build="$2" arch="$3" version="$4" dll="$5" uploader="$6"
source "$src/cmake/wine-env.sh"
work="$(mktemp -d)"
prefix=""
cleanup() {
  if [ -n "$prefix" ]; then WINEPREFIX="$prefix" qvr_wineserver -k >/dev/null 2>&1; rm -rf "$prefix"; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() {  # check <description> <command...>: the command succeeds
  local what="$1"; shift
  if "$@" >"$work/check.log" 2>&1; then echo "ok: $what"; else echo "FAILED: $what"; sed 's/^/    /' "$work/check.log"; failures=$((failures + 1)); fi
}
refuse() {  # refuse <description> <command...>: the command fails
  local what="$1"; shift
  if "$@" >"$work/check.log" 2>&1; then echo "FAILED: $what (it succeeded)"; failures=$((failures + 1)); else echo "ok: $what"; fi
}
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1"; }
sha256_signed() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1 | grep -qi "digest algorithm.*sha256"; }
flipped() {  # a copy of $1 with one byte in its middle changed
  cp "$1" "$2"
  local at=$(( $(stat -c %s "$1") / 2 ))
  local byte; byte=$(od -An -tu1 -j "$at" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$2" bs=1 seek="$at" conv=notrunc status=none
}

# The throw-away certificate: self-signed, for code signing, valid two days.
password="$(openssl rand -hex 16)"
(umask 077 && printf '%s' "$password" >"$work/password")
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=VORTELIX test code signing/O=VORTELIX test" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
  -passout "file:$work/password" >/dev/null 2>&1 || { echo "FAILED: no test certificate"; exit 1; }

# osslsigncode behind a shim that records its command lines.
mkdir -p "$work/bin"
cat >"$work/bin/osslsigncode" <<SHIM
#!/usr/bin/env bash
printf '%s\n' "\$*" >>"$work/command-lines"
exec $(command -v osslsigncode) "\$@"
SHIM
chmod +x "$work/bin/osslsigncode"
export PATH="$work/bin:$PATH"

# The DLL, the custom action DLL and the health check, signed before packing (password in the
# environment).
for f in "$dll" "$build/installer/ExcelCheck.dll" "$build/bin/VORTELIXExcelCheck.exe"; do
  name="$(basename "$f")"
  QVR_SIGN_PFX="$work/cert.pfx" QVR_SIGN_PASSWORD="$password" bash "$src/installer/sign.sh" "$f" "$work/$name" \
    >>"$work/output" 2>&1
  check "$name is signed and verifies" verify "$work/$name"
  check "$name is signed with SHA-256" sha256_signed "$work/$name"
done
flipped "$work/VORTELIXExcel.dll" "$work/changed.dll"
refuse "a changed byte breaks the DLL's signature" verify "$work/changed.dll"
refuse "the unsigned DLL does not verify" verify "$dll"

# The package, signed after building (password in a file).
pkg="$work/VORTELIXExcel-TEST-$version-$arch.msi"
QVR_SIGN_PFX="$work/cert.pfx" QVR_SIGN_PASSWORD_FILE="$work/password" bash "$src/installer/build-msi.sh" \
  --arch "$arch" --scope machine --version "$version" --dll "$work/VORTELIXExcel.dll" \
  --excel-check "$work/ExcelCheck.dll" --health-check "$work/VORTELIXExcelCheck.exe" --uploader "$uploader" \
  --out "$pkg" --test-build >>"$work/output" 2>&1
check "the package is signed and verifies" verify "$pkg"
check "the package is signed with SHA-256" sha256_signed "$pkg"
flipped "$pkg" "$work/changed.msi"
refuse "a changed byte breaks the package's signature" verify "$work/changed.msi"
echo "package size signed: $(stat -c %s "$pkg") bytes"

# The password stays out of command lines and output.
check "osslsigncode ran" test -s "$work/command-lines"
refuse "the password is on no command line" grep -qF "$password" "$work/command-lines"
refuse "the password is in no output" grep -qF "$password" "$work/output"
check "osslsigncode read the password from a file" grep -q -- "-readpass" "$work/command-lines"

# A wrong password fails and leaves nothing behind.
refuse "a wrong password fails" env QVR_SIGN_PFX="$work/cert.pfx" QVR_SIGN_PASSWORD="wrong" \
  bash "$src/installer/sign.sh" "$dll" "$work/wrong.dll"
refuse "a failed signature leaves no output file" test -e "$work/wrong.dll"

# Time stamps, from a time-stamping authority of the test's own on 127.0.0.1.
mkdir -p "$work/tsa"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -keyout "$work/tsa/tsakey.pem" -out "$work/tsa/tsa.pem" \
  -subj "/CN=VORTELIX test time stamps/O=VORTELIX test" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=critical,timeStamping" >/dev/null 2>&1
python3 "$(dirname "$0")/tsa_server.py" "$work/tsa" "$work/tsa/port" &
tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null; cleanup' EXIT
for _ in $(seq 50); do [ -s "$work/tsa/port" ] && break; sleep 0.1; done
tsa_url="http://127.0.0.1:$(cat "$work/tsa/port" 2>/dev/null)"
timestamped() {  # the file's signature carries a time stamp of the test's authority, which verifies
  local out
  out="$(osslsigncode verify -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa/tsa.pem" -in "$1" 2>&1)" || { echo "$out"; return 1; }
  grep -q "Timestamp Server Signature verification: ok" <<<"$out" || { echo "$out"; return 1; }
}
check "a time stamp is requested from the service" env QVR_SIGN_PFX="$work/cert.pfx" QVR_SIGN_PASSWORD_FILE="$work/password" \
  QVR_SIGN_TIMESTAMP_URL="$tsa_url" bash "$src/installer/sign.sh" "$dll" "$work/timestamped.dll"
check "the signature carries a time stamp that verifies" timestamped "$work/timestamped.dll"
refuse "without a time stamp there is none" timestamped "$work/VORTELIXExcel.dll"
refuse "an unreachable time-stamping service fails the signing" env QVR_SIGN_PFX="$work/cert.pfx" \
  QVR_SIGN_PASSWORD_FILE="$work/password" QVR_SIGN_TIMESTAMP_URL="http://127.0.0.1:1" \
  bash "$src/installer/sign.sh" "$dll" "$work/untimestamped.dll"
refuse "and leaves no output file" test -e "$work/untimestamped.dll"
kill $tsa_pid 2>/dev/null

# Without a certificate: unchanged, unsigned.
env -u QVR_SIGN_PFX bash "$src/installer/sign.sh" "$dll" "$work/unsigned.dll"
check "without a certificate the file is copied unchanged" cmp "$dll" "$work/unsigned.dll"

# Installed by Windows Installer, the DLL still verifies.
root="$build/wine"
template="$(bash "$src/cmake/wine-run.sh" --template "$build")" || { echo "FAILED: no Wine prefix template"; exit 1; }
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# install <prefix>: a fresh copy of the template prefix, the package installed into it with a log.
install() {
  prefix="$1"
  rm -rf "$prefix"; cp -a "$template" "$prefix"; rm -f "$prefix/.ready"
  export WINEPREFIX="$prefix"
  qvr_wine msiexec /i "$(qvr_wine winepath -w "$pkg" 2>/dev/null)" /qn /l*v "$(qvr_wine winepath -w "$prefix/msiexec.log" 2>/dev/null)" \
    >/dev/null 2>&1
}
install "$root/run-signing-$$"
status=$?
# Wine's msiexec has failed now and then while many other Wine processes started beside it (seen
# under ctest -j3, never on its own). Its status and log are shown, and the package is installed
# once more in a new prefix, where it must install.
if [ "$status" -ne 0 ]; then
  echo "msiexec ended with $status; the last lines of its log:"
  tail -n 15 "$prefix/msiexec.log" 2>/dev/null | tr -d '\r' | sed 's/^/    /'
  qvr_wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  install "$root/run-signing-$$-again"
  status=$?
fi
check "msiexec installs the signed package" test "$status" -eq 0
if [ "$arch" = x64 ]; then folder="$prefix/drive_c/Program Files/VORTELIX Excel"; else folder="$prefix/drive_c/Program Files (x86)/VORTELIX Excel"; fi
check "the installed DLL still verifies" verify "$folder/VORTELIXExcel.dll"
check "the installed DLL is the signed one" cmp "$work/VORTELIXExcel.dll" "$folder/VORTELIXExcel.dll"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
