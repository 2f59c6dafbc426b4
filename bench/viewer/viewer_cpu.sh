#!/usr/bin/env bash
# Nimbra Studio's CPU while it shows 576-column scenes at 10 and 20 fps,
# every frame displayed, against its floor: a bare PCL visualiser window
# drawing the same clouds at the same rate in a 3-D view of the same size.
# Both run in this one call, in turns (studio, floor, studio, floor), each in
# a process of its own on a private Xvfb display; the figures are the
# medians of ROUNDS turns. Prints one line per run and the ratios.
#   bench/viewer/viewer_cpu.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
BUILD=${1:-build}
ROUNDS=${2:-2}
if [ -z "${NIMBRA_BENCH_X:-}" ]; then
  export NIMBRA_BENCH_X=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$BUILD" "$ROUNDS"
fi
BIN=$(realpath "$BUILD/viewer/viewer_cpu")
cpu_of() { sed -n 's/.* cpu \([0-9.]*\) %.*/\1/p'; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
for fps in 10 20; do
  studio=() floor=()
  for _ in $(seq "$ROUNDS"); do
    line=$("$BIN" studio --fps "$fps" 2>/dev/null | tail -1)
    echo "$line"
    size=$(echo "$line" | sed -n 's/.* view \([0-9]*x[0-9]*\)$/\1/p')
    studio+=("$(echo "$line" | cpu_of)")
    line=$("$BIN" floor --fps "$fps" --size "${size:-1000x600}" 2>/dev/null | tail -1)
    echo "$line"
    floor+=("$(echo "$line" | cpu_of)")
  done
  s=$(printf '%s\n' "${studio[@]}" | median)
  f=$(printf '%s\n' "${floor[@]}" | median)
  awk -v fps="$fps" -v s="$s" -v f="$f" \
    'BEGIN { printf "%s fps: Nimbra Studio %.1f %% of a core, PCL floor %.1f %%, ratio %.2f\n", fps, s, f, s / f }'
done
