#!/usr/bin/env bash
# Runs a Windows program under Wine in a fresh prefix of its own inside the build tree.
# A template prefix is made once per build tree and Wine version (wineboot is slow) and copied
# for each run. The copy hard-links the program images (*.dll, *.exe...: 1.2 of the template's
# 1.3 GB), which Wine only reads and replaces, never rewrites in place; everything Wine writes to
# (the registry files, the .ini files, the user folders) is copied for real. Should a run ever
# write into a linked file, the template shows it (a file newer than its ready marker) and the
# next run makes a new one.
#   wine-run.sh <program.exe> [arguments]
#   wine-run.sh --script <bin folder> <script.sh> [arguments]: runs a bash script (which calls
#     wine itself) in such a prefix, with the bin folder as its first argument
#   wine-run.sh --template <build folder>: makes the build tree's template prefix if needed and
#     prints its path (for scripts that copy it into prefixes of their own)
#   QVR_WINE_ROOT   folder for the prefixes (default: <build>/wine)
#   QVR_KEEP_PREFIX keep the run's prefix afterwards (diagnosis)
# How Wine is started (which loader, on a kernel with or without 32-bit support): cmake/wine-env.sh.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
script=""
template_only=""
if [ "$1" = "--template" ]; then
  template_only=1
  exe="$2/bin/template"  # places the build tree
elif [ "$1" = "--script" ]; then
  script="$3"
  exe="$2/$(basename "$script" .sh).exe"  # names the run; the bin folder places the build tree
  shift 3
  set -- "$(dirname "$exe")" "$@"
else
  exe="$1"; shift
fi
build_dir="$(cd "$(dirname "$exe")/.." && pwd)"
root="${QVR_WINE_ROOT:-$build_dir/wine}"
mkdir -p "$root"
template="$root/template"
ready="$template/.ready"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"
# The loader route is part of the template's identity: a prefix booted without the 32-bit loader
# has no 32-bit half.
wine_version="$(qvr_wine_version) native32=$QVR_NATIVE32"

# The start time of a process (field 22 of its stat), to tell it from a later one with its pid.
started() { local stat; stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1; set -- ${stat##*) }; echo "${20}"; }

template_ready() {
  [ -f "$ready" ] && [ "$(cat "$ready")" = "$wine_version" ] &&
    [ -z "$(find "$template" -newer "$ready" -type f -print -quit)" ]
}

make_template() {
  echo "wine-run.sh: preparing the Wine prefix template for $wine_version in $template" >&2
  rm -rf "$template"
  local log="$root/wineboot.log"
  if ! WINEPREFIX="$template" qvr_wine wineboot -i >"$log" 2>&1 || ! WINEPREFIX="$template" qvr_prepare_prefix ||
    ! WINEPREFIX="$template" qvr_wineserver -w; then
    echo "wine-run.sh: wineboot failed to prepare $template; its output:" >&2
    tail -n 40 "$log" >&2
    rm -rf "$template"
    return 1
  fi
  if [ ! -f "$template/system.reg" ] || [ ! -d "$template/drive_c/windows/system32" ]; then
    echo "wine-run.sh: wineboot left no registry or system folder in $template" >&2
    rm -rf "$template"
    return 1
  fi
  # Marked last, and only now: an interrupted preparation leaves no marker and is redone.
  echo "$wine_version" >"$ready"
}

# Prefixes of runs that were killed (a test's timeout) and could not clean up after themselves.
remove_stale_prefixes() {
  local p pid start
  for p in "$root"/run-*; do
    [ -d "$p" ] || continue
    if [ -f "$p/.owner" ]; then
      read -r pid start <"$p/.owner" || continue
      [ "$(started "$pid" || true)" = "$start" ] && continue
    else
      # Still being copied, or left by an older runner: only when it is old.
      [ -n "$(find "$p" -maxdepth 0 -mmin +60)" ] || continue
    fi
    WINEPREFIX="$p" qvr_wineserver -k >/dev/null 2>&1 || true
    rm -rf "$p" 2>/dev/null || true  # another run may be removing it too
  done
}

exec 9>"$root/.lock"
flock -s 9
if ! template_ready; then
  flock -x 9
  template_ready || make_template
  flock -s 9
fi
remove_stale_prefixes
if [ -n "$template_only" ]; then
  echo "$template"
  exit 0
fi

name="$(basename "$exe" .exe)-$$-$RANDOM"
prefix="$root/run-$name"
cleanup() {
  trap '' TERM INT HUP
  WINEPREFIX="$prefix" qvr_wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" qvr_wineserver -w >/dev/null 2>&1 || true
  [ -n "${QVR_KEEP_PREFIX:-}" ] || rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

rm -rf "$prefix"
mkdir "$prefix"
echo "$$ $(started $$)" >"$prefix/.owner"
cp -al "$template"/. "$prefix"/
rm -f "$prefix/.ready"
# Break the links of everything that is not a program image: those files are written in place.
(cd "$template" && find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' -o -iname '*.sys' \
  -o -iname '*.ocx' -o -iname '*.acm' -o -iname '*.cpl' -o -iname '*.nls' -o -iname '*.tlb' -o -iname '*.ds' \
  -o -iname '*.vxd' -o -iname '*.com' -o -iname '*.msstyles' -o -iname '*.ax' -o -iname '*.mod' \) \
  ! -name .ready -print0 | xargs -0 cp -p --parents --remove-destination -t "$prefix")
exec 9>&-

export WINEPREFIX="$prefix"
# A Recycle Bin of the run's own, as every desk has one: Wine's is the desktop trash under
# XDG_DATA_HOME, which a machine's root may not have (the add-in then keeps a file rather than
# let the shell delete it for good). A test that wants its own sets it itself.
export XDG_DATA_HOME="${XDG_DATA_HOME:-$prefix/xdg-data}"
mkdir -p "$XDG_DATA_HOME"
status=0
# In the background, so that a signal ends this script (and cleans up) at once.
if [ -n "$script" ]; then
  bash "$script" "$@" &
else
  qvr_wine "$exe" "$@" &
fi
wait $! || status=$?
exit $status
