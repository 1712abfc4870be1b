#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test under Wine (one Xvfb display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-machine.sh
BUILD="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DQVR_BUILD_TESTS=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
cd "$BUILD"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$(nproc)" "$@"
