#!/usr/bin/env bash
# Headless screenshot of Nimbra Studio connected to the simulated sensor:
# runs the simulator on 127.0.0.1, opens the viewer connected to it on a
# private Xvfb display, waits for frames and saves the whole window as a PNG.
#   scripts/screenshot.sh [BUILD_DIR] [OUT.png] [SECONDS]
set -euo pipefail
BUILD=${1:-build}
OUT=${2:-nimbra-studio.png}
WAIT=${3:-4}
if [ -z "${NIMBRA_SCREENSHOT_X:-}" ]; then
  export NIMBRA_SCREENSHOT_X=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$BUILD" "$OUT" "$WAIT"
fi

TQZ=$(realpath "$BUILD/tools/tqz")
VIEWER=$(realpath "$BUILD/viewer/nimbra-studio")
OUT=$(realpath -m "$OUT")
WORK=$(mktemp -d)
SIM_PID=""
VIEWER_PID=""
cleanup() {
  [ -n "$VIEWER_PID" ] && kill "$VIEWER_PID" 2>/dev/null && wait "$VIEWER_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# The simulator prints "listening on 127.0.0.1:PORT" once it accepts connections.
. "$(dirname "$0")/sim_launch.sh"
start_sim "$TQZ" "$WORK/sim.log" screenshot

# The viewer writes its connection-settings file into the working directory.
# Stored window settings of the user are not used: the picture is the default look.
(cd "$WORK" && NIMBRA_STUDIO_SETTINGS="$WORK/settings.ini" exec "$VIEWER" --connect "127.0.0.1:$PORT") >"$WORK/viewer.log" 2>&1 &
VIEWER_PID=$!
sleep "$WAIT"
if ! kill -0 "$VIEWER_PID" 2>/dev/null; then
  echo "screenshot: the viewer exited:" >&2
  cat "$WORK/viewer.log" >&2
  exit 1
fi
WINDOW=$(xwininfo -root -tree | sed -n 's/^ *\(0x[0-9a-f]*\) "Nimbra Studio".*/\1/p' | head -1)
if [ -n "$WINDOW" ]; then
  import -window "$WINDOW" "$OUT"
else
  import -window root "$OUT"
fi
# Closed as on a click, the viewer prints a one-line stream summary.
kill -TERM "$VIEWER_PID" 2>/dev/null || true
wait "$VIEWER_PID" 2>/dev/null || true
VIEWER_PID=""
echo "screenshot: $OUT (simulator on 127.0.0.1:$PORT)"
grep -m1 '^stream summary:' "$WORK/viewer.log" || true
