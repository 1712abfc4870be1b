#!/usr/bin/env bash
# The build number is the number of commits, and a reused build tree takes the new number at its
# next build after a commit, without being configured again by hand: a small project that uses
# cmake/version.cmake as the add-in's tree does, in a git repository of its own.
#   version_follows_commit.sh <source dir>
set -uo pipefail
src="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
repo="$work/repo"
mkdir -p "$repo/cmake" "$repo/src/addin"
cp "$src/cmake/version.cmake" "$repo/cmake/"
cp "$src/src/addin/version.h.in" "$repo/src/addin/"
cat >"$repo/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(version_probe LANGUAGES NONE)
set(QVR_GEN ${CMAKE_BINARY_DIR}/generated)
include(cmake/version.cmake)
add_custom_target(show ALL COMMAND ${CMAKE_COMMAND} -E echo "built")
CMAKE
git() { command git -C "$repo" -c user.name=test -c user.email=test@example.invalid "$@"; }
git init -q && git add -A && git commit -qm one && git commit -q --allow-empty -m two || { echo "FAIL no git repository"; exit 1; }
build_number() { sed -n 's/^#define QVR_VERSION_BUILD //p' "$work/build/generated/qvr_version.h"; }
cmake -S "$repo" -B "$work/build" >/dev/null || { echo "FAIL configure"; exit 1; }
fail=0
[ "$(build_number)" = 2 ] && echo "ok   configured at the second commit: build 2" || { echo "FAIL configured at the second commit: build $(build_number)"; fail=1; }
git commit -q --allow-empty -m three
cmake --build "$work/build" >/dev/null || { echo "FAIL build"; exit 1; }
[ "$(build_number)" = 3 ] && echo "ok   built after a third commit, not configured again: build 3" ||
  { echo "FAIL built after a third commit: build $(build_number), the number of the configuration's commit"; fail=1; }
cmake -S "$repo" -B "$work/fixed" -DQVR_BUILD_NUMBER=77 >/dev/null && git commit -q --allow-empty -m four &&
  cmake --build "$work/fixed" >/dev/null
fixed="$(sed -n 's/^#define QVR_VERSION_BUILD //p' "$work/fixed/generated/qvr_version.h")"
[ "$fixed" = 77 ] && echo "ok   a build number given (a build server's) stays" || { echo "FAIL given 77, built $fixed"; fail=1; }
exit $fail
