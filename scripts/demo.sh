#!/usr/bin/env bash
# The product's main job, end to end, as a user would see it: the add-in registered with
# regsvr32 in a fresh Wine prefix, the Excel stand-in starting as Excel starts (finding the add-in
# in the registry), an order workbook open with an unsaved edit, the ribbon shown (text and PNG),
# "Bestelling verwerken" pressed, and every result reported. A second run shows the failure case:
# the uploader missing.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${QVR_DEMO_DISPLAY:-}" ] || bash scripts/setup-machine.sh >/dev/null
# Every step runs on one X display: Wine's server outlives a program, and windows it creates
# later must find the display it started with.
if [ -z "${QVR_DEMO_DISPLAY:-}" ]; then
  export QVR_DEMO_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
BUILD="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DQVR_BUILD_TESTS=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target VORTELIXExcel ExcelSim Dravenport >/dev/null

# A fresh prefix for every demo run, inside the build tree.
export WINEPREFIX="$PWD/$BUILD/wine/demo"
rm -rf "$WINEPREFIX"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
BIN="$PWD/$BUILD/bin"
ORDER="$(winepath -w "$PWD/tests/fixtures/order.xlsx" 2>/dev/null)"

run() { "$@"; }

echo "== installing Excel (the stand-in): its application class is registered as Excel's is"
run wine reg add 'HKCR\Excel.Application\CLSID' /ve /d '{00024500-0000-0000-C000-000000000046}' /f >/dev/null
run wine reg add 'HKCR\CLSID\{00024500-0000-0000-C000-000000000046}\ProgID' /ve /d 'Excel.Application' /f >/dev/null

echo "== registering the add-in for all users: regsvr32 VORTELIXExcel.dll"
run wine regsvr32 /s "$BIN/VORTELIXExcel.dll"
echo "   Excel add-in key: $(run wine reg query 'HKLM\Software\Microsoft\Office\Excel\AddIns\VORTELIXExcel.coVORTELIXExcel' /v LoadBehavior 2>/dev/null | tr -d '\r' | grep -o 'LoadBehavior.*')"
echo "   uploader next to it: $(ls "$BIN/Dravenport.exe")"

echo
echo "== scenario 1: Excel starts, the user presses \"Bestelling verwerken\""
status=0
run wine "$BIN/ExcelSim.exe" --registered --workbook "$ORDER" "$@" || status=$?

echo
echo "== scenario 2: the uploader is missing"
mv "$BIN/Dravenport.exe" "$BIN/Dravenport.exe.aside"
trap 'mv -f "$BIN/Dravenport.exe.aside" "$BIN/Dravenport.exe" 2>/dev/null || true' EXIT
run wine "$BIN/ExcelSim.exe" --registered --workbook "$ORDER" --png "$(winepath -w "$BIN/ExcelSim-failure-ribbon.png")" || true
mv -f "$BIN/Dravenport.exe.aside" "$BIN/Dravenport.exe"
trap - EXIT
echo "   (expected: the error names the missing program, the workbook stays open and on disk)"

exit $status
