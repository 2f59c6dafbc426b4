# Sourced: start_sims TQZ WORK starts two simulated sensors on 127.0.0.1
# (ports chosen by the system) and sets SIM_PORTS; stop_sims ends them.
SIM_PIDS=()
SIM_PORTS=()

stop_sims() {
    local pid
    for pid in "${SIM_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    SIM_PIDS=()
}

start_sims() {
    local tqz=$1 work=$2 k line tries
    for k in 0 1; do
        "$tqz" sim --bind 127.0.0.1 --port 0 --fps 50 --seed $((k + 1)) > "$work/sim$k.out" 2>&1 &
        SIM_PIDS+=($!)
    done
    for k in 0 1; do
        for tries in $(seq 100); do
            line=$(grep -m1 -o 'listening on 127\.0\.0\.1:[0-9]*' "$work/sim$k.out" || true)
            [ -n "$line" ] && break
            sleep 0.05
        done
        if [ -z "$line" ]; then
            echo "simulator $k did not start:" >&2
            cat "$work/sim$k.out" >&2
            return 1
        fi
        SIM_PORTS+=("${line##*:}")
    done
}
