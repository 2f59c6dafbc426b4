#!/usr/bin/env bash
# The whole link on the built-in simulator, no hardware needed: a simulated
# sensor on 127.0.0.1 and `tqz stream` taking 50 scenes from it.
set -euo pipefail
BUILD=${1:-build}
TQZ="$BUILD/tools/tqz"

SIM_OUT=$(mktemp)
"$TQZ" sim --bind 127.0.0.1 --port 0 --fps 20 >"$SIM_OUT" &
SIM_PID=$!
cleanup() {
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    rm -f "$SIM_OUT"
}
trap cleanup EXIT

PORT=""
for _ in $(seq 100); do
    PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$SIM_OUT")
    [ -n "$PORT" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$PORT" ]; then
    echo "demo: the simulator did not start" >&2
    exit 1
fi

status=0
"$TQZ" stream --sensor "127.0.0.1:$PORT" --frames 50 || status=$?
exit "$status"
