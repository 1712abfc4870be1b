#!/usr/bin/env bash
# The product's main job: the Office/Excel stand-in loads VORTELIXExcel.dll the way Excel does and
# drives it end to end, printing what the add-in did.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-machine.sh >/dev/null
BUILD="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DQVR_BUILD_TESTS=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" >/dev/null
# A fresh prefix for every demo run, inside the build tree.
export WINEPREFIX="$PWD/$BUILD/wine/demo"
rm -rf "$WINEPREFIX"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
xvfb-run -a wine "$BUILD/bin/ExcelSim.exe" "$@"
