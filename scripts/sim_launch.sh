# Sourced by the demo and screenshot scripts.
# start_sim TQZ LOG NAME: starts the simulated sensor on 127.0.0.1 with an
# ephemeral port, logging to LOG, and waits for its "listening on" line.
# Sets SIM_PID and PORT; on failure prints the log and exits.
start_sim() {
  local tqz=$1 log=$2 name=$3
  "$tqz" sim --bind 127.0.0.1 --port 0 >"$log" 2>&1 &
  SIM_PID=$!
  PORT=""
  for _ in $(seq 50); do
    PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -1)
    [ -n "$PORT" ] && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "$name: the simulator did not start:" >&2
  cat "$log" >&2
  exit 1
}
