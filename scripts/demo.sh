#!/usr/bin/env bash
# Nimbra Studio on the simulated sensor: no hardware needed. The simulator
# listens on 127.0.0.1 only; the viewer opens on the user's display connected
# to it. Without a display it runs under Xvfb for about 10 s and leaves a
# screenshot.
set -euo pipefail
BUILD=${1:-build}
TQZ=$(realpath "$BUILD/tools/tqz")
VIEWER=$(realpath "$BUILD/viewer/nimbra-studio")
if [ -z "${DISPLAY:-}" ]; then
  # No display: the same demo on a private Xvfb server for about 10 s, kept
  # as a screenshot.
  echo "demo: no display (\$DISPLAY is not set): running it under Xvfb for 10 s."
  exec bash "$(dirname "$0")/screenshot.sh" "$BUILD" "${DEMO_SHOT:-nimbra-studio-demo.png}" 10
fi
if [ ! -x "$VIEWER" ]; then
  echo "demo: $VIEWER is missing; configure with -DVELKOR_BUILD_VIEWER=ON" >&2
  exit 1
fi
. "$(dirname "$0")/sim_launch.sh"
LOG=$(mktemp)
SIM_PID=""
trap '[ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null; wait 2>/dev/null; rm -f "$LOG"' EXIT
start_sim "$TQZ" "$LOG" demo
echo "demo: simulated sensor on 127.0.0.1:$PORT; close the window to end."
"$VIEWER" --connect "127.0.0.1:$PORT"
