#!/usr/bin/env bash
# Sets up the machine, builds both trees (i686 for 32-bit Office in build/, x86_64 for 64-bit
# Office in build64/) and runs every test under Wine, each suite on one Xvfb display (and one of
# their own for the programs that type or need another screen depth), one after the other, so that
# they do not compete for the cores. Then the newcomer's path: the README's main command, exactly
# as the README gives it, in a fresh copy of this checkout (no build tree, no Wine prefix). Every
# part always runs; the command fails when any fails.
#
# Where the kernel runs 32-bit programs, both suites run in full. Where it runs none (Wine's
# 32-bit loader refused; cmake/wine-env.sh decides), the x86_64 suite runs in full; of the i686
# build every check that needs no 32-bit code runs instead of its suite (its files read by a
# 64-bit program, its packages' tables, the COM calling convention of the sources), and the
# 32-bit build runs once end to end: the main command with --32, under the qemu-i386 emulator.
#   BUILD_DIR, BUILD64_DIR  the two build trees; arguments are passed to ctest.
#   QVR_SKIP_NEWCOMER=1     leave out the newcomer's path (a quicker local run)
#   QVR_SKIP_EMULATED=1     leave out the emulated 32-bit end-to-end run (a quicker local run)
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD="${BUILD_DIR:-build}"
BUILD64="${BUILD64_DIR:-build64}"
started=$SECONDS

mkdir -p "$ROOT/$BUILD" || { echo "== FAILED: cannot create $BUILD/ (is $ROOT writable?)" >&2; exit 1; }
setup_log="$ROOT/$BUILD/setup-machine.log"
if ! bash scripts/setup-machine.sh >"$setup_log" 2>&1; then
  cat "$setup_log" >&2
  echo "== FAILED: machine set-up (scripts/setup-machine.sh); it needs root or sudo on Debian 12 and access to Debian's package archive" >&2
  exit 1
fi
source cmake/wine-env.sh
if [ "$QVR_NATIVE32" = 1 ]; then
  echo "== this machine's kernel runs 32-bit programs: both suites run under Wine"
else
  echo "== this machine's kernel runs no 32-bit programs: Wine runs through its 64-bit loader ($QVR_WINE64_LOADER);"
  echo "   the i686 build is checked statically and run end to end under the qemu-i386 emulator"
  # A run killed half-way may have left the emulator on: every prefix booted meanwhile would
  # spend minutes on its 32-bit half under emulation.
  if [ -e "$QVR_EMULATOR_ENTRY" ] && [ "$(head -n 1 "$QVR_EMULATOR_ENTRY")" = enabled ]; then
    echo 0 >"$QVR_EMULATOR_ENTRY" 2>/dev/null || true
  fi
fi

elapsed() { local s=$((SECONDS - $1)); printf '%dm%02ds' $((s / 60)) $((s % 60)); }

# build <toolchain> <build dir> [cmake options...]; says which step failed.
build() {
  local toolchain="$1" build="$2"
  shift 2
  echo "== $toolchain: building in $build"
  mkdir -p "$build"
  if ! cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$toolchain.cmake" -DQVR_BUILD_TESTS=ON "$@" \
      >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    echo "== $toolchain: configuring failed (above); a tree left from another machine is fixed by 'rm -rf $build'" >&2
    return 1
  fi
  if ! cmake --build "$build" -j"$(nproc)"; then
    echo "== $toolchain: the build failed (the compiler's error is above)" >&2
    return 1
  fi
}

# run_ctest <what> <build dir> [ctest arguments...]
run_ctest() {
  local what="$1" build="$2" t0=$SECONDS
  shift 2
  echo "== $what: testing"
  if ! (cd "$build" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$(nproc)" "$@"); then
    echo "== $what: tests failed (each failing test's output is above; run one again with" \
      "'cd $build && xvfb-run -a ctest -R <name> --output-on-failure')" >&2
    return 1
  fi
  echo "== $what: passed in $(elapsed $t0)"
}

# The README's main command, run as a newcomer runs it: from a fresh copy of the checkout (what
# a clone of it holds), before anything of the project was built there.
newcomer() {
  local command t0=$SECONDS
  command="$(awk '/^```sh/{f=1; next} /^```/{f=0} f && /main job/{sub(/[ \t]*#.*/, ""); print; exit}' README.md)"
  if [ -z "$command" ]; then
    echo "== newcomer: the README's first code block has no main-job command" >&2
    return 1
  fi
  local fresh
  fresh="$(mktemp -d "${TMPDIR:-/tmp}/vortelix-newcomer.XXXXXX")" || return 1
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$fresh"
  else
    tar --exclude='./build*' -cf - . | tar -xf - -C "$fresh"
  fi
  echo "== newcomer: '$command' in a fresh copy ($fresh)"
  local status=0
  # As a newcomer's shell has it: nothing decided yet about how Wine runs.
  (cd "$fresh" && env -u QVR_NATIVE32 -u WINELOADER bash -c "$command") || status=$?
  if [ $status -ne 0 ]; then
    echo "== newcomer: '$command' failed with status $status on a fresh copy (its output is above; the copy is kept in $fresh)" >&2
    return 1
  fi
  rm -rf "$fresh"
  echo "== newcomer: passed in $(elapsed $t0)"
}

# The 32-bit build end to end under the qemu-i386 emulator: the main command with --32, in the
# i686 tree already built.
emulated32() {
  local t0=$SECONDS status=0
  echo "== i686 end to end: 'bash scripts/demo.sh --32' under the qemu-i386 emulator (about a minute per program started)"
  BUILD_DIR="$BUILD" bash scripts/demo.sh --32 || status=$?
  if [ $status -ne 0 ]; then
    echo "== i686 end to end: the main command with the 32-bit build failed under emulation after $(elapsed $t0) (above)" >&2
    return 1
  fi
  echo "== i686 end to end: passed under emulation in $(elapsed $t0)"
}

failed=()
i686_built=1
build i686 "$BUILD" || { failed+=("building the 32-bit (i686) tree"); i686_built=0; }
if [ "$QVR_NATIVE32" = 1 ]; then
  if [ $i686_built = 1 ]; then run_ctest i686 "$BUILD" "$@" || failed+=("32-bit (i686) tests"); fi
  if build x86_64 "$BUILD64"; then
    run_ctest x86_64 "$BUILD64" "$@" || failed+=("64-bit (x86_64) tests")
  else
    failed+=("building the 64-bit (x86_64) tree")
  fi
else
  if build x86_64 "$BUILD64" -DQVR_I686_TREE="$ROOT/$BUILD"; then
    if [ $i686_built = 1 ]; then
      run_ctest "i686 static checks (its files, its packages' tables, the COM calling convention; run by 64-bit programs)" \
        "$BUILD64" -L i686-static || failed+=("static checks of the 32-bit (i686) build")
    fi
    echo "== i686: the unit suite was not run: this machine's kernel runs no 32-bit programs (\"Exec format error\"), and" \
      "under the emulator each of its programs would take minutes; it runs where the kernel runs 32-bit programs"
    echo "   (not run for the same reason: installing the x86 packages, whose custom action and Excel stand-in are 32-bit code)"
    run_ctest x86_64 "$BUILD64" -LE i686-static "$@" || failed+=("64-bit (x86_64) tests")
  else
    failed+=("building the 64-bit (x86_64) tree")
  fi
fi
[ -n "${QVR_SKIP_NEWCOMER:-}" ] || newcomer || failed+=("the README's main command on a fresh copy")
if [ "$QVR_NATIVE32" != 1 ] && [ -z "${QVR_SKIP_EMULATED:-}" ] && [ $i686_built = 1 ]; then
  emulated32 || failed+=("the main command with the 32-bit build under the qemu-i386 emulator")
fi

echo "== total time: $(elapsed $started)"
if [ ${#failed[@]} -gt 0 ]; then
  printf '== FAILED: %s\n' "${failed[@]}" >&2
  exit 1
fi
if [ "$QVR_NATIVE32" = 1 ]; then
  echo "== all tests passed, 32-bit and 64-bit, and the main command on a fresh copy"
else
  echo "== all tests passed: the x86_64 suite, the i686 static checks, the main command on a fresh copy (64-bit)" \
    "and with the 32-bit build under emulation"
fi
