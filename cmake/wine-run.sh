#!/usr/bin/env bash
# Runs a Windows program under Wine in a fresh prefix of its own inside the build tree.
# A template prefix is made once per build tree (wineboot is slow) and copied for each run.
#   QVR_WINE_ROOT   folder for the prefixes (default: <build>/wine)
#   QVR_KEEP_PREFIX keep the run's prefix afterwards (diagnosis)
set -euo pipefail
exe="$1"; shift
build_dir="$(cd "$(dirname "$exe")/.." && pwd)"
root="${QVR_WINE_ROOT:-$build_dir/wine}"
mkdir -p "$root"
template="$root/template"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"

(
  flock 9
  if [ ! -f "$template/.ready" ]; then
    rm -rf "$template"
    WINEPREFIX="$template" wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$template" wineserver -w || true
    touch "$template/.ready"
  fi
) 9>"$root/.lock"

name="$(basename "$exe" .exe)-$$-$RANDOM"
prefix="$root/run-$name"
rm -rf "$prefix"
cp -a "$template" "$prefix"
rm -f "$prefix/.ready"
export WINEPREFIX="$prefix"
status=0
wine "$exe" "$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
[ -n "${QVR_KEEP_PREFIX:-}" ] || rm -rf "$prefix"
exit $status
