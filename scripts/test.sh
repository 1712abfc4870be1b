#!/usr/bin/env bash
# Sets up the machine, then builds everything and runs every test under Wine (one Xvfb display per
# run, and one of their own for the programs that type or need another screen depth) twice: for 32-bit Office (i686, build/) and for 64-bit Office (x86_64, build64/). The two
# run one after the other, each in its own build tree with its own Wine prefixes, so that they do
# not compete for the cores. Both always run; the command fails when either fails.
#   BUILD_DIR, BUILD64_DIR  the two build trees; arguments are passed to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-machine.sh

# build_and_test <toolchain> <build dir> [ctest arguments...]; its status is the first failure.
build_and_test() {
  local toolchain="$1" build="$2"
  shift 2
  echo "== $toolchain: building in $build"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$toolchain.cmake" -DQVR_BUILD_TESTS=ON >/dev/null &&
    cmake --build "$build" -j"$(nproc)" &&
    echo "== $toolchain: testing" &&
    (cd "$build" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$(nproc)" "$@")
}

failed=()
build_and_test i686 "${BUILD_DIR:-build}" "$@" || failed+=("32-bit (i686)")
build_and_test x86_64 "${BUILD64_DIR:-build64}" "$@" || failed+=("64-bit (x86_64)")

if [ ${#failed[@]} -gt 0 ]; then
  printf '== FAILED: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "== all tests passed, 32-bit and 64-bit"
