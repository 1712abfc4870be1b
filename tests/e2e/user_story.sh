#!/usr/bin/env bash
# The user's story from registration to unload, in a fresh Wine prefix: Excel installed,
# regsvr32, Excel starting and finding the add-in in the registry, the button pressed on an order
# with an unsaved edit; then the uploader missing; then regsvr32 /u. Every result is asserted.
#   user_story.sh <bin folder> <source folder> [32|64]
# Run through cmake/wine-run.sh --script, it uses the fresh prefix that gives it; on its own, it
# makes one. It runs private copies of the add-in, the uploader and the stand-in, so that taking
# the uploader away (and a run killed meanwhile) leaves the build's own files alone.
# The registry is read in the view of the build's bitness.
set -uo pipefail
bin="$1"; src="$2"; view="/reg:${3:-32}"
source "$src/cmake/wine-env.sh"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# The stand-in turns an add-in off after a start-up over 1,000 ms, as Office does; on a busy
# machine a cold start can take that long, and the next scenario must still find the add-in on.
export QVR_SLOW_START_MS="${QVR_SLOW_START_MS:-60000}"
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$bin/../wine/e2e-$$"
  own_prefix="$WINEPREFIX"
  rm -rf "$WINEPREFIX"
fi
programs="$WINEPREFIX/drive_c/e2e-programs"  # goes with the prefix
trap 'qvr_wineserver -k >/dev/null 2>&1; rm -rf "$programs" ${own_prefix:+"$own_prefix"}' EXIT
mkdir -p "$programs"
# The Recycle Bin of Wine's programs is the desktop's trash under XDG_DATA_HOME: the story keeps
# its own, next to the workbook, so that the recycled order can be found there.
export XDG_DATA_HOME="$WINEPREFIX/e2e-home"
mkdir -p "$XDG_DATA_HOME"
cp "$bin/VORTELIXExcel.dll" "$bin/Dravenport.exe" "$bin/ExcelSim.exe" "$programs/" || { echo "FAIL copying the programs"; exit 1; }
bin="$programs"
fail=0
expect() {  # expect <what> <pattern> <text>
  if grep -qF -- "$2" <<<"$3"; then echo "ok   $1"; else echo "FAIL $1: no \"$2\""; fail=1; fi
}
order="$(qvr_wine winepath -w "$src/tests/fixtures/order.xlsx")"

qvr_wine reg add 'HKCR\Excel.Application\CLSID' /ve /d '{00024500-0000-0000-C000-000000000046}' /f "$view" >/dev/null 2>&1
qvr_wine regsvr32 /s "$bin/VORTELIXExcel.dll"; rc=$?
[ $rc -eq 0 ] && echo "ok   regsvr32" || { echo "FAIL regsvr32 ($rc)"; fail=1; }
# The add-in key in the registry view of the DLL's bitness (Wine's reg may run as a 32-bit
# program, which sees the 32-bit view by default).
addin_key() {
  local v
  for v in /reg:64 /reg:32; do
    qvr_wine reg query 'HKLM\Software\Microsoft\Office\Excel\AddIns\VORTELIXExcel.coVORTELIXExcel' "$v" 2>&1 | tr -d '\r'
  done
}
key="$(addin_key)"
expect "add-in key for all users, loaded at start-up" "LoadBehavior    REG_DWORD    0x3" "$key"
expect "friendly name" "VORTELIX Excel" "$key"

out="$(qvr_wine "$bin/ExcelSim.exe" --registered --workbook "$order" 2>&1 | tr -d '\r')"; rc=$?
echo "$out" | sed 's/^/    | /'
[ $rc -eq 0 ] && echo "ok   main job exit code" || { echo "FAIL main job exit code $rc"; fail=1; }
expect "found in the registry" "add-in registered for start-up: VORTELIXExcel.coVORTELIXExcel" "$out"
expect "started" "OnStartupComplete -> S_OK" "$out"
expect "tab" 'tab "VORTELIX"' "$out"
expect "group" 'group "Bestelling"' "$out"
expect "large button with picture" 'button "Bestelling verwerken" (large; picture: ICO stream 48x48' "$out"
expect "press accepted" "OnActionCommon_Callback -> S_OK" "$out"
expect "copy holds the unsaved edit" "written, with the unsaved edit inside" "$out"
expect "workbook closed without saving" "workbook closed without saving" "$out"
expect "Excel quit" "Excel quit" "$out"
expect "add-in disconnected and unloaded" "add-in disconnected and unloaded" "$out"
expect "DLL free to unload" "DllCanUnloadNow -> S_OK" "$out"
expect "source deleted" "workbook file deleted" "$out"
expect "source in the Recycle Bin, restorable" "Bestelling.xlsx" "$(ls "$XDG_DATA_HOME/Trash/files" 2>&1)"
expect "uploader started" "Dravenport.exe ran:" "$out"
expect "uploader found the edit" "Spoed: vandaag leveren" "$out"
expect "copy saved before the uploader started" "complete_before_start=yes" "$out"

rm "$bin/Dravenport.exe"
out="$(qvr_wine "$bin/ExcelSim.exe" --registered --workbook "$order" 2>&1 | tr -d '\r')"
expect "missing uploader: error shown" "dialog shown: [Error] The order upload program" "$out"
expect "missing uploader: workbook kept open" "workbook still open" "$out"
expect "missing uploader: Excel keeps running" "Excel still running" "$out"
expect "missing uploader: file kept" "workbook file still there" "$out"
expect "missing uploader: no copy" "Order.xlsx missing" "$out"

qvr_wine regsvr32 /u /s "$bin/VORTELIXExcel.dll"
left="$(addin_key)"
if grep -q LoadBehavior <<<"$left"; then echo "FAIL unregistration left the add-in key"; fail=1; else echo "ok   unregistered"; fi
exit $fail
