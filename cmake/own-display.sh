#!/usr/bin/env bash
# Runs a command on an X display of its own (Xvfb), for tests that take the keyboard focus and
# type: on the display that all other test programs share, a window another program opens
# meanwhile takes the focus and the keys. Xvfb picks a free display number itself (-displayfd),
# so that programs started at the same time never compete for one (xvfb-run -a picks the first
# number without a lock file, and two started together can pick the same).
#   own-display.sh [--screen WxHxD] <command> [arguments]   (default screen 1280x1024x24)
set -euo pipefail
screen=1280x1024x24
if [ "${1:-}" = "--screen" ]; then
  screen="$2"
  shift 2
fi
fifo="$(mktemp -u)"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -f "$fifo"' EXIT
number=""
read -r -t 30 number <"$fifo" || true
if [ -z "$number" ]; then
  echo "own-display.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$number"
trap 'exit 143' TERM
trap 'exit 130' INT
status=0
# In the background, so that a signal ends this script (and its display) at once.
"$@" &
wait $! || status=$?
exit $status
