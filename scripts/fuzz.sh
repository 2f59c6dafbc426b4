#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time.
#   scripts/fuzz.sh <build-dir> [seconds per target] [target...]
# Seeds are written fresh by velkor_fuzz_seeds; what the fuzzers add goes to
# <build-dir>/fuzz/corpus/<target> (kept between runs), and any crash, hang
# or leak to <build-dir>/fuzz/artifacts/. Prints the executions per target and
# fails when a target found anything.
set -uo pipefail
build=${1:?usage: fuzz.sh <build-dir> [seconds] [target...]}
seconds=${2:-60}
shift 2 2>/dev/null || shift $#
dir="$build/fuzz"
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  targets=(stream_assembler replay recording tcp_reply fw_reply config_load json_file)
fi

rm -rf "$dir/seeds"
"$dir/velkor_fuzz_seeds" "$dir/seeds" || exit 1
mkdir -p "$dir/artifacts"

failed=0
summary=()
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$t"
  log="$dir/fuzz_$t.log"
  # Recordings of a full frame run to some 600 kB; other inputs stay small.
  max_len=4096
  case "$t" in stream_assembler|replay|recording) max_len=700000 ;; esac
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$dir/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=$max_len \
      -print_final_stats=1 -artifact_prefix="$dir/artifacts/$t-" \
      "$dir/corpus/$t" "$dir/seeds/$t" >"$log" 2>&1
  rc=$?
  runs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  line="$t: ${runs:-?} executions in ${seconds}s"
  if [[ $rc -ne 0 ]]; then
    line="$line, FAILED (rc $rc, see $log)"
    failed=1
    # The report itself, so that a run whose files are gone (CI) still says
    # what was found and where: from the first error line, without the
    # diagnostic lines the targets print for every flagged input.
    echo "fuzz $t: the report in $log:"
    grep -av -e 'crc err!!!' -e '^#[0-9]' "$log" | grep -a -A 40 -m 1 -E 'ERROR|SUMMARY|deadly signal|out-of-memory|Test unit written' | head -60
  fi
  summary+=("$line")
  echo "fuzz $line"
done
printf '%s\n' "${summary[@]}" >"$dir/summary.txt"
exit $failed
