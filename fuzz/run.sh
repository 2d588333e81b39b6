#!/usr/bin/env bash
# Runs each libFuzzer harness of build-fuzz for SECONDS seconds on its own
# working corpus (seeded from fuzz/corpus). Prints each run's summary; on a
# finding prints the report, keeps the input in build-fuzz/artifacts and
# fails.
set -uo pipefail
seconds=${1:-60}
shift || true
harnesses=${*:-parse detect file guess}
cd "$(dirname "$0")/.."
mkdir -p build-fuzz/artifacts
status=0
for h in $harnesses; do
  mkdir -p "build-fuzz/corpus-$h"
  log="build-fuzz/fuzz_$h.log"
  echo "== fuzz_$h for $seconds s"
  ./build-fuzz/fuzz/fuzz_"$h" "build-fuzz/corpus-$h" fuzz/corpus -dict=fuzz/playlist.dict \
    -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=4096 \
    -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 >"$log" 2>&1
  rc=$?
  grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb))' "$log"
  if [ $rc -ne 0 ]; then
    echo "fuzz_$h found a failure (exit $rc):"
    grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' "$log" | tail -60
    status=1
  fi
done
exit $status
