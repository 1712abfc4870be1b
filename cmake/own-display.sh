#!/usr/bin/env bash
# Runs a command on an X display of its own (Xvfb), for tests that take the keyboard focus and
# type: on the display that all other test programs share, a window another program opens
# meanwhile takes the focus and the keys. Xvfb picks a free display number itself (-displayfd),
# so that programs started at the same time never compete for one.
#   own-display.sh <command> [arguments]
set -euo pipefail
fifo="$(mktemp -u)"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -f "$fifo"' EXIT
number=""
read -r -t 30 number <"$fifo" || true
if [ -z "$number" ]; then
  echo "own-display.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$number"
status=0
"$@" || status=$?
exit $status
