#!/usr/bin/env bash
# Sets up the machine, then builds everything and runs every test under Wine (one Xvfb display per
# run, and one of their own for the programs that type or need another screen depth) twice: for 32-bit Office (i686, build/) and for 64-bit Office (x86_64, build64/). The two
# run one after the other, each in its own build tree with its own Wine prefixes, so that they do
# not compete for the cores. Last, the newcomer's path: the README's main command, exactly as the
# README gives it, in a fresh copy of this checkout (no build tree, no Wine prefix). Every part
# always runs; the command fails when any fails.
#   BUILD_DIR, BUILD64_DIR  the two build trees; arguments are passed to ctest.
#   QVR_SKIP_NEWCOMER=1     leave out the newcomer's path (a quicker local run)
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

mkdir -p "$ROOT/${BUILD_DIR:-build}" || { echo "== FAILED: cannot create ${BUILD_DIR:-build}/ (is $ROOT writable?)" >&2; exit 1; }
setup_log="$ROOT/${BUILD_DIR:-build}/setup-machine.log"
if ! bash scripts/setup-machine.sh >"$setup_log" 2>&1; then
  cat "$setup_log" >&2
  echo "== FAILED: machine set-up (scripts/setup-machine.sh); it needs root or sudo on Debian 12 and access to Debian's package archive" >&2
  exit 1
fi

# build_and_test <toolchain> <build dir> [ctest arguments...]; says which step failed.
build_and_test() {
  local toolchain="$1" build="$2"
  shift 2
  echo "== $toolchain: building in $build"
  mkdir -p "$build"
  if ! cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$toolchain.cmake" -DQVR_BUILD_TESTS=ON \
      >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    echo "== $toolchain: configuring failed (above); a tree left from another machine is fixed by 'rm -rf $build'" >&2
    return 1
  fi
  if ! cmake --build "$build" -j"$(nproc)"; then
    echo "== $toolchain: the build failed (the compiler's error is above)" >&2
    return 1
  fi
  echo "== $toolchain: testing"
  if ! (cd "$build" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$(nproc)" "$@"); then
    echo "== $toolchain: tests failed (each failing test's output is above; run one again with" \
      "'cd $build && xvfb-run -a ctest -R <name> --output-on-failure')" >&2
    return 1
  fi
}

# The README's main command, run as a newcomer runs it: from a fresh copy of the checkout (what
# a clone of it holds), before anything of the project was built there.
newcomer() {
  local command
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
  (cd "$fresh" && bash -c "$command") || status=$?
  if [ $status -ne 0 ]; then
    echo "== newcomer: '$command' failed with status $status on a fresh copy (its output is above; the copy is kept in $fresh)" >&2
    return 1
  fi
  rm -rf "$fresh"
}

failed=()
build_and_test i686 "${BUILD_DIR:-build}" "$@" || failed+=("32-bit (i686)")
build_and_test x86_64 "${BUILD64_DIR:-build64}" "$@" || failed+=("64-bit (x86_64)")
[ -n "${QVR_SKIP_NEWCOMER:-}" ] || newcomer || failed+=("the README's main command on a fresh copy")

if [ ${#failed[@]} -gt 0 ]; then
  printf '== FAILED: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "== all tests passed, 32-bit and 64-bit, and the main command on a fresh copy"
