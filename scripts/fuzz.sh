#!/usr/bin/env bash
# Runs every libFuzzer target of the host-check build for SECONDS each (600
# unless given), one target after the other, each on all cores, and prints
# per target the executions, executions per second, coverage and findings.
#
#   scripts/fuzz.sh [SECONDS]
#
# PATCHER_FUZZ_WORKERS sets the number of fuzzing processes (all cores
# unless set). They share the target's corpus, build/host-check/corpus/NAME,
# which starts from the seeds in tests/fuzz/seeds and keeps what each run
# finds. A finding is kept in build/host-check/fuzz-findings/NAME and makes
# the script fail; the processes' logs are in build/host-check/fuzz-logs/NAME.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
workers=${PATCHER_FUZZ_WORKERS:-$(nproc)}
targets="fuzz_page_readers fuzz_text_search"
build=$PWD/build/host-check
seeds=$PWD/tests/fuzz/seeds

cmake --preset host-check >/dev/null
# shellcheck disable=SC2086
cmake --build --preset host-check -j "$(nproc)" --target $targets >/dev/null

failed=0
printf '%-18s %8s %8s %13s %9s %9s %9s\n' target seconds workers executions exec/s coverage findings
for target in $targets; do
  corpus=$build/corpus/$target
  findings=$build/fuzz-findings/$target
  logs=$build/fuzz-logs/$target
  rm -rf "$logs"
  mkdir -p "$corpus" "$findings" "$logs"
  started=$(date +%s)
  status=0
  # Each process writes its log, fuzz-N.log, into the folder it runs in.
  (cd "$logs" && "$build/tests/fuzz/$target" -jobs="$workers" -workers="$workers" \
    -max_total_time="$seconds" -max_len=9000 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "$seeds") >"$logs/run.log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - started))
  runs=$(cat "$logs"/fuzz-*.log | awk '/^stat::number_of_executed_units:/ { n += $2 } END { print n + 0 }')
  cov=$(for log in "$logs"/fuzz-*.log; do grep -o ' cov: [0-9]*' "$log" | tail -1; done |
        awk '{ if ($2 > m) m = $2 } END { print m + 0 }')
  found=$(find "$findings" -type f | wc -l)
  printf '%-18s %8s %8s %13s %9s %9s %9s\n' "$target" "$elapsed" "$workers" "$runs" \
    "$((runs / (elapsed > 0 ? elapsed : 1)))" "$cov" "$found"
  if [ "$status" != 0 ] || [ "$found" != 0 ] || [ "$runs" = 0 ]; then
    tail -n 40 "$logs"/fuzz-*.log
    echo "$target: a finding, or the run failed (exit $status); see $logs and $findings"
    failed=1
  fi
done
exit "$failed"
