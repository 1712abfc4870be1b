#!/usr/bin/env bash
# Runs the hand-off tests with two more drives, as an office desk has them: N: a network drive
# (a mapped share) and R: a removable one (a USB stick), each a folder of the build tree. Their
# types are Wine's drive settings (HKLM\Software\Wine\Drives), which Wine's mount manager reads
# when Wine starts: they are written first, Wine is let go, and the tests start it anew.
# Run through cmake/wine-run.sh --script, in the fresh prefix it gives:
#   with_drives.sh <bin folder> [test program arguments]
set -uo pipefail
bin="$1"
shift
source "$(dirname "$0")/../../cmake/wine-env.sh"
drives="$bin/handoff-drives"
mkdir -p "$drives/network" "$drives/removable" || exit 1
ln -sfn "$drives/network" "$WINEPREFIX/dosdevices/n:" || exit 1
ln -sfn "$drives/removable" "$WINEPREFIX/dosdevices/r:" || exit 1
qvr_wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f >/dev/null 2>&1 || { echo "cannot type drive N:"; exit 1; }
qvr_wine reg add 'HKLM\Software\Wine\Drives' /v r: /d floppy /f >/dev/null 2>&1 || { echo "cannot type drive R:"; exit 1; }
qvr_wineserver -w
qvr_wine "$bin/handoff_tests.exe" "$@"
