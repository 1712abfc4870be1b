#!/usr/bin/env bash
# The health check's work-folder check against what only the Unix side can make under Wine: a
# real symbolic link at %TEMP%\VortelixExcel (Wine shows it as a reparse point; a link made with
# CreateSymbolicLinkW makes nothing), and a file in the folder's place.
#   work_folder.sh <bin folder>
set -uo pipefail
bin="$1"
root="$bin/../wine"
source "$(dirname "$0")/../../cmake/wine-env.sh"
export WINEPREFIX="$root/workfolder-$$"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
rm -rf "$WINEPREFIX"
trap 'qvr_wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX" "$root/workfolder-target-$$"' EXIT
# A booted prefix: a copy of the build tree's template (cmake/wine-run.sh makes it).
template="$(bash "$(dirname "$0")/../../cmake/wine-run.sh" --template "$bin/..")" || { echo "FAIL no Wine prefix template"; exit 1; }
cp -a "$template" "$WINEPREFIX"; rm -f "$WINEPREFIX/.ready"
fail=0
check() {  # check <what> <expected status> <expected text>
  local out rc line
  out="$(qvr_wine "$bin/VORTELIXExcelCheck.exe" --json 2>/dev/null | tr -d '\r')"; rc=$?
  line="$(grep '"id": "work-folder"' <<<"$out")"
  if grep -q "\"status\": \"$2\"" <<<"$line" && grep -qF -- "$3" <<<"$line"; then
    echo "ok   $1"
  else
    echo "FAIL $1: expected $2 with \"$3\" (exit code $rc): $line"; fail=1
  fi
}

check "missing work folder can be created" OK "does not exist yet and can be created"
temp="$(qvr_wine winepath -u "$(qvr_wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)"
if [ ! -d "$temp" ]; then echo "FAIL no TEMP folder in the prefix ($temp)"; exit 1; fi
[ -e "$temp/VortelixExcel" ] && { echo "FAIL the check left the folder it tried behind"; fail=1; }

mkdir -p "$temp/VortelixExcel"
check "real folder" OK "is a real folder and writable"
rmdir "$temp/VortelixExcel"

mkdir -p "$root/workfolder-target-$$"
ln -s "$root/workfolder-target-$$" "$temp/VortelixExcel"
if [ -L "$temp/VortelixExcel" ]; then
  check "link in the folder's place" FAIL "is a link (reparse point), not a real folder"
else
  echo "FAIL the test link was not made"; fail=1
fi
rm -f "$temp/VortelixExcel"

# Another user's folder (a shared TEMP): only root can hand a folder to another user.
mkdir -p "$temp/VortelixExcel"
if chown 65534 "$temp/VortelixExcel" 2>/dev/null; then
  check "another user's folder" FAIL "not to this user"
else
  echo "skip another user's folder: not root, no folder can be given to another user"
fi
rmdir "$temp/VortelixExcel"

echo "not a folder" > "$temp/VortelixExcel"
check "file in the folder's place" FAIL "is a file, not a folder"
rm -f "$temp/VortelixExcel"
exit $fail
