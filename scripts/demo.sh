#!/usr/bin/env bash
# The product's main job, end to end, as a user would see it: the add-in registered with
# regsvr32 in a fresh Wine prefix, the health check with its live check (a new Excel started
# through COM connects the add-in and loads its ribbon), the Excel stand-in starting as Excel
# starts (finding the add-in in the registry), an order workbook open with an unsaved edit, the ribbon shown (text and PNG),
# "Bestelling verwerken" pressed, and every result reported. A second run shows the failure case:
# the uploader missing. It ends with a verdict, one line per expected result, and exits non-zero
# when any expectation failed.
#   demo.sh [--32|--64] [ExcelSim arguments...]
#   --64        the 64-bit add-in in the 64-bit stand-in (64-bit Office); the default where the
#               kernel runs no 32-bit programs, and fast there
#   --32        the 32-bit add-in in the 32-bit stand-in (32-bit Office); the default where the
#               kernel runs 32-bit programs; elsewhere it runs under the qemu-i386 emulator, which
#               it registers for the run (root), at about a minute per program started
#   BUILD_DIR   the build tree (default build/ for 32-bit, build64/ for 64-bit)
# Works from a fresh clone: it sets up the machine, configures and builds what it runs.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
bits=""
case "${1:-}" in
  --32) bits=32; shift ;;
  --64) bits=64; shift ;;
esac

# die <what failed> <how to fix> [log file]: says what failed and how to fix it, then exits 1.
die() {
  echo >&2
  echo "== demo FAILED: $1" >&2
  if [ -n "${3:-}" ] && [ -s "$3" ]; then
    echo "-- last lines of $3:" >&2
    tail -n 40 "$3" >&2
  fi
  echo "-- how to fix: $2" >&2
  exit 1
}

# step <what> <how to fix> <command...>: runs the command quietly into a log of its own and
# stops with its output when it fails.
step() {
  local what="$1" fix="$2"
  shift 2
  local log="$LOGS/$(tr -c 'A-Za-z0-9' '-' <<<"$what" | cut -c1-40).log"
  "$@" >"$log" 2>&1 || die "$what (exit status $?)" "$fix" "$log"
}

# The machine's packages come first: deciding how Wine runs needs Wine.
if [ -z "${QVR_DEMO_DISPLAY:-}" ]; then
  setup_log="${TMPDIR:-/tmp}/vortelix-setup-machine.$$.log"
  bash scripts/setup-machine.sh >"$setup_log" 2>&1 ||
    die "machine set-up (scripts/setup-machine.sh)" \
      "run 'bash scripts/setup-machine.sh' as root or with sudo on Debian 12 with access to Debian's package archive" \
      "$setup_log"
  rm -f "$setup_log"
fi
source cmake/wine-env.sh
if [ -z "$bits" ]; then
  if [ "$QVR_NATIVE32" = 1 ]; then bits=32; else bits=64; fi
fi
if [ "$bits" = 32 ]; then
  TOOLCHAIN=i686 BUILD="${BUILD_DIR:-build}" VIEW=/reg:32 OFFICE="32-bit Office"
else
  TOOLCHAIN=x86_64 BUILD="${BUILD_DIR:-build64}" VIEW=/reg:64 OFFICE="64-bit Office"
fi
LOGS="$ROOT/$BUILD/demo-logs"
mkdir -p "$LOGS" 2>/dev/null || die "cannot create the folder for the demo's logs, $LOGS" \
  "check that $ROOT is writable, or give a writable build folder in BUILD_DIR"
if [ -z "${QVR_DEMO_DISPLAY:-}" ]; then
  if [ "$QVR_NATIVE32" = 1 ]; then
    echo "== the $bits-bit add-in for $OFFICE (this machine runs 32-bit and 64-bit programs; --32 or --64 chooses)"
  elif [ "$bits" = 64 ]; then
    echo "== the 64-bit add-in for 64-bit Office: this machine's kernel runs no 32-bit programs, so the"
    echo "   64-bit build runs by default (2.5 minutes from a fresh clone); --32 runs the 32-bit one"
    echo "   under the qemu-i386 emulator (about 12 minutes, as root)"
  else
    echo "== the 32-bit add-in for 32-bit Office, under the qemu-i386 emulator: this machine's kernel runs"
    echo "   no 32-bit programs (up to a minute per program started, about 12 minutes in all)"
  fi
  # Every step runs on one X display: Wine's server outlives a program, and windows it creates
  # later must find the display it started with.
  export QVR_DEMO_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "--$bits" "$@"
fi

if [ "$bits" = 32 ] && [ "$QVR_NATIVE32" != 1 ]; then
  qvr_emulator_on || die "the qemu-i386 emulator for 32-bit programs could not be registered (above)" \
    "run as root with qemu-user-static installed (scripts/setup-machine.sh), or run the 64-bit demo: bash scripts/demo.sh --64"
  trap qvr_emulator_restore EXIT
  echo "== 32-bit programs run under the qemu-i386 emulator (binfmt_misc entry $QVR_EMULATOR_ENTRY)"
fi

echo "== building the add-in, the Excel stand-in and the uploader stand-in ($TOOLCHAIN, for $OFFICE) in $BUILD/"
step "configuring the build (cmake)" \
  "read the log above; a stale $BUILD/ from another machine or toolchain is fixed by 'rm -rf $BUILD'" \
  cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$TOOLCHAIN.cmake -DQVR_BUILD_TESTS=ON
step "building VORTELIXExcel.dll, ExcelSim.exe and Dravenport.exe" \
  "read the compiler's error above; 'rm -rf $BUILD' and run again if the tree is stale" \
  cmake --build "$BUILD" -j"$(nproc)" --target VORTELIXExcel ExcelSim Dravenport VORTELIXExcelCheck
BIN="$ROOT/$BUILD/bin"

# A fresh prefix for every demo run, inside the build tree. Wine creates the prefix's folder
# only when its parent exists.
export WINEPREFIX="$ROOT/$BUILD/wine/demo"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# The Recycle Bin of Wine's programs is the desktop's trash under XDG_DATA_HOME: the demo keeps
# its own, so that the order it recycles shows there and not in the trash of whoever runs it.
export XDG_DATA_HOME="$ROOT/$BUILD/wine/demo-home"
TRASH="$XDG_DATA_HOME/Trash/files"
# The stand-in turns an add-in off after a start-up over 1,000 ms, as Office does; on a busy
# machine a cold start can take that long, and the next scenario must still find the add-in on.
export QVR_SLOW_START_MS="${QVR_SLOW_START_MS:-60000}"
rm -rf "$WINEPREFIX" "$XDG_DATA_HOME" && mkdir -p "$(dirname "$WINEPREFIX")" "$XDG_DATA_HOME" ||
  die "cannot make a fresh Wine prefix at $WINEPREFIX" "check that $ROOT/$BUILD is writable"
echo "== making a fresh Wine prefix: $WINEPREFIX"
step "creating the Wine prefix (wineboot)" \
  "check that '$QVR_WINE64_LOADER --version' works and that packages wine, wine32:i386 and wine64 are installed (scripts/setup-machine.sh)" \
  qvr_wine wineboot -i
qvr_prepare_prefix
qvr_wineserver -w

ORDER="$(qvr_wine winepath -w "$ROOT/tests/fixtures/order.xlsx" 2>"$LOGS/winepath.log")" && [ -n "$ORDER" ] ||
  die "winepath cannot name the order workbook tests/fixtures/order.xlsx" \
    "check that the file exists and that Wine runs in $WINEPREFIX" "$LOGS/winepath.log"

echo "== installing Excel (the stand-in): its application class is registered as Excel's is"
step "registering the Excel stand-in's application class" "check that Wine runs in $WINEPREFIX" \
  qvr_wine reg add 'HKCR\Excel.Application\CLSID' /ve /d '{00024500-0000-0000-C000-000000000046}' /f "$VIEW"
step "registering the Excel stand-in's ProgID" "check that Wine runs in $WINEPREFIX" \
  qvr_wine reg add 'HKCR\CLSID\{00024500-0000-0000-C000-000000000046}\ProgID' /ve /d 'Excel.Application' /f "$VIEW"
EXCEL_EXE="$(qvr_wine winepath -w "$BIN/ExcelSim.exe" 2>"$LOGS/winepath.log")" && [ -n "$EXCEL_EXE" ] ||
  die "winepath cannot name $BIN/ExcelSim.exe" "check that Wine runs in $WINEPREFIX" "$LOGS/winepath.log"
# What COM starts for Excel.Application, as Excel's setup registers it (the health check's live
# check starts Excel this way).
step "registering the Excel stand-in as Excel.Application's program" "check that Wine runs in $WINEPREFIX" \
  qvr_wine reg add 'HKCR\CLSID\{00024500-0000-0000-C000-000000000046}\LocalServer32' /ve /d "\"$EXCEL_EXE\" /automation" /f "$VIEW"
step "naming the Excel stand-in as Excel.exe under App Paths" "check that Wine runs in $WINEPREFIX" \
  qvr_wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\excel.exe' /ve /d "$EXCEL_EXE" /f "$VIEW"

# The regsvr32 of the DLL's bitness, as the README tells administrators.
if [ "$bits" = 32 ]; then REGSVR32='C:\windows\syswow64\regsvr32.exe'; else REGSVR32=regsvr32; fi
echo "== registering the add-in for all users: regsvr32 VORTELIXExcel.dll"
step "regsvr32 VORTELIXExcel.dll" \
  "run 'WINEPREFIX=$WINEPREFIX $QVR_WINE64_LOADER $REGSVR32 $BIN/VORTELIXExcel.dll' to see the error; the tests in tests/registration narrow it down" \
  qvr_wine "$REGSVR32" /s "$BIN/VORTELIXExcel.dll"
addin_key="$(qvr_wine reg query 'HKLM\Software\Microsoft\Office\Excel\AddIns\VORTELIXExcel.coVORTELIXExcel' /v LoadBehavior "$VIEW" 2>&1 | tr -d '\r')"
echo "   Excel add-in key: $(grep -o 'LoadBehavior.*' <<<"$addin_key" || echo "(missing) $addin_key")"
echo "   uploader next to it: $BIN/Dravenport.exe"

# What each scenario must show, checked in the stand-in's own report; the verdict lists them.
verdict=()
failed=0
expect() {  # expect <scenario> <what> <text the report must hold> <report>
  if grep -qF -- "$3" <<<"$4"; then
    verdict+=("  ok    $1: $2")
  else
    verdict+=("  FAIL  $1: $2 (the report has no \"$3\")")
    failed=1
  fi
}
expect "set-up" "the add-in is registered to load at Excel's start-up" "LoadBehavior    REG_DWORD    0x3" "$addin_key"

echo
# The live check starts Excel through COM, and Wine's COM waits 30 s for a program it starts to
# offer its class; under the emulator a 32-bit program takes about a minute to start, so the
# emulated run leaves the live check out (the 64-bit run and the suite show it).
live=(--live)
if [ "$bits" = 32 ] && [ "$QVR_NATIVE32" != 1 ]; then live=(); fi
if [ ${#live[@]} -gt 0 ]; then
  echo "== the administrators' health check after registration, with its live check: VORTELIXExcelCheck.exe --live"
  echo "   (the live check starts a new, invisible Excel through COM, sees the add-in connected and its ribbon loaded,"
  echo "   and quits that Excel again)"
else
  echo "== the administrators' health check after registration: VORTELIXExcelCheck.exe"
  echo "   (without its live check: Wine's COM gives Excel 30 s to start, and under the emulator a 32-bit program takes about a minute)"
fi
health="$(qvr_wine "$BIN/VORTELIXExcelCheck.exe" "${live[@]}" 2>&1 | tr -d '\r')"
health_status=${PIPESTATUS[0]}
echo "$health"
if [ "$health_status" -le 1 ]; then verdict+=("  ok    set-up: the health check finds no failure (exit code $health_status)"); else
  verdict+=("  FAIL  set-up: the health check exited with $health_status (see [FAIL] above)"); failed=1; fi
if [ ${#live[@]} -gt 0 ]; then
  expect "set-up" "the live check: a new Excel connects the add-in and loads its ribbon" "[OK  ] Live: a new Excel loads the add-in" "$health"
fi

echo
echo "== scenario 1: Excel starts, the user presses \"Bestelling verwerken\""
one="$(qvr_wine "$BIN/ExcelSim.exe" --registered --workbook "$ORDER" "$@" 2>&1 | tr -d '\r')"
status=${PIPESTATUS[0]}
echo "$one"
s="scenario 1"
expect "$s" "Excel finds the add-in in the registry" "add-in registered for start-up: VORTELIXExcel.coVORTELIXExcel" "$one"
expect "$s" "the add-in starts" "OnStartupComplete -> S_OK" "$one"
expect "$s" "the ribbon shows the large button with its picture" 'button "Bestelling verwerken" (large; picture: ICO stream 48x48' "$one"
expect "$s" "the copy Order.xlsx holds the unsaved edit" "written, with the unsaved edit inside" "$one"
expect "$s" "the workbook is closed without saving" "workbook closed without saving" "$one"
expect "$s" "Excel quits" "Excel quit" "$one"
expect "$s" "the add-in is disconnected and unloaded" "add-in disconnected and unloaded" "$one"
expect "$s" "the uploader starts and finds the copy" "found=yes" "$one"
expect "$s" "the copy was saved, whole, before the uploader started" "complete_before_start=yes" "$one"
expect "$s" "the original workbook file is gone from its folder" "workbook file deleted" "$one"
recycled="$(ls "$TRASH" 2>&1)"
expect "$s" "the original workbook file is in the Recycle Bin, restorable ($TRASH)" "Bestelling.xlsx" "$recycled"
if [ "$status" -eq 0 ]; then verdict+=("  ok    $s: the stand-in reports success"); else
  verdict+=("  FAIL  $s: the stand-in exited with status $status"); failed=1; fi
# What the administrator finds afterwards: the hand-off's record in the user's trace file.
trace_file="$(find "$WINEPREFIX/drive_c/users" -path '*VORTELIX/Excel/Logs/VORTELIXExcel.log' 2>/dev/null | head -n 1)"
trace="$( [ -n "$trace_file" ] && grep ' INFO hand-off ' "$trace_file" | tr -d '\r')"
echo
echo "== the hand-off's record in the trace file (%LOCALAPPDATA%\VORTELIX\Excel\Logs\VORTELIXExcel.log):"
echo "${trace:-(none)}"
expect "$s" "the hand-off is recorded in the user's trace file" " INFO hand-off workbook " "$trace"

echo
echo "== scenario 2: the uploader is missing"
# An installed layout of its own without Dravenport.exe: the shared build/bin stays untouched.
lonely="$WINEPREFIX/drive_c/VORTELIX-zonder-uploader"
mkdir -p "$lonely" && cp "$BIN/VORTELIXExcel.dll" "$lonely/" ||
  die "cannot copy the add-in into $lonely" "check that $ROOT/$BUILD is writable"
step "regsvr32 of the add-in in a folder without the uploader" "see the first regsvr32 step" \
  qvr_wine "$REGSVR32" /s "$lonely/VORTELIXExcel.dll"
png="$(qvr_wine winepath -w "$BIN/ExcelSim-failure-ribbon.png" 2>"$LOGS/winepath.log")" ||
  die "winepath cannot name $BIN/ExcelSim-failure-ribbon.png" "check that Wine runs in $WINEPREFIX" "$LOGS/winepath.log"
two="$(qvr_wine "$BIN/ExcelSim.exe" --registered --workbook "$ORDER" --png "$png" 2>&1 | tr -d '\r')"
echo "$two"
s="scenario 2"
expect "$s" "the error names the missing program" "dialog shown: [Error] The order upload program" "$two"
expect "$s" "no copy is handed over" "Order.xlsx missing" "$two"
expect "$s" "the workbook stays open" "workbook still open" "$two"
expect "$s" "Excel keeps running" "Excel still running" "$two"
expect "$s" "the workbook file stays on disk" "workbook file still there" "$two"

echo
echo "== verdict"
printf '%s\n' "${verdict[@]}"
echo "   ribbon as Excel shows it: $BIN/ExcelSim-ribbon.png (scenario 2: $BIN/ExcelSim-failure-ribbon.png)"
if [ "$failed" -ne 0 ]; then
  echo "== demo FAILED: an expected result is missing (FAIL above); the stand-in's report above shows what happened" >&2
  exit 1
fi
echo "== demo passed ($bits-bit add-in, $OFFICE): every expected result seen"
