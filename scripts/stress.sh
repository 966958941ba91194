#!/usr/bin/env bash
# Runs tests of the test build many times in a row, never retried, to bring
# out races, and reports how often they failed.
#
#   stress.sh LABEL|REGEX COUNT [--hog] [--pairs]
#
# LABEL is a ctest label (e2e, wine, unit); anything else is a regular
# expression of test names (ctest -R). --hog keeps every core busy with a
# spinning shell beside the tests. --pairs runs a second Wine program in a
# loop beside them, in a prefix and display of its own (the site's fixed
# ports allow only one scenario at a time). With STRESS_LOCK=FILE each round
# holds `flock FILE` only while it runs, so others get in between rounds.
# Logs go to build/stress/; the build must be made first
# (cmake --preset test && cmake --build --preset test).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: $0 LABEL|REGEX COUNT [--hog] [--pairs]" >&2; exit 2; }

if [ "${1:-}" = --round ]; then
  # One round: the tests once, with the chosen load beside them.
  shift
  select=$1 pattern=$2 hog=$3 pairs=$4 log=$5
  loads=()
  stop_loads() { for pid in "${loads[@]}"; do kill "$pid" 2>/dev/null || true; done; }
  trap stop_loads EXIT
  if [ "$hog" = 1 ]; then
    for _ in $(seq "$(nproc)"); do
      bash -c 'while :; do :; done' &
      loads+=($!)
    done
  fi
  if [ "$pairs" = 1 ]; then
    PATCHER_WINE_STATE=build/stress/pair-wine bash -c '
      while :; do
        scripts/wine-run.sh --version winxp build/test/tests/wine/wine_unit_tests.exe \
          --gtest_filter="LiveWindows.*:WindowsVersion*" >/dev/null 2>&1 || true
      done' &
    loads+=($!)
  fi
  status=0
  t0=$(date +%s)
  ctest --preset test "$select" "$pattern" --output-on-failure >"$log" 2>&1 || status=$?
  echo "$(( $(date +%s) - t0 ))" >"$log.seconds"
  # The pair loop's current Wine program ends with its shell's group.
  stop_loads
  [ "$pairs" = 1 ] && PATCHER_WINE_STATE=build/stress/pair-wine scripts/wine-run.sh --stop || true
  exit "$status"
fi

[ $# -ge 2 ] || usage
what=$1 count=$2
shift 2
hog=0 pairs=0
for option in "$@"; do
  case "$option" in
    --hog) hog=1 ;;
    --pairs) pairs=1 ;;
    *) usage ;;
  esac
done
[[ "$count" =~ ^[1-9][0-9]*$ ]] || usage

export PATCHER_WINE_EMULATED=${PATCHER_WINE_EMULATED:-1}
if ctest --preset test --print-labels 2>/dev/null | sed 's/^ *//' | grep -qxF "$what"; then
  select=-L
else
  select=-R
fi
tests=$(ctest --preset test -N "$select" "$what" | sed -n 's/^Total Tests: //p')
[ "${tests:-0}" -gt 0 ] || { echo "stress: no test matches $what" >&2; exit 2; }
mode=$(scripts/wine-run.sh --probe || true)
mkdir -p build/stress
stamp=$(date +%Y%m%d-%H%M%S)
echo "stress: ctest $select $what ($tests tests) x $count, hog=$hog pairs=$pairs, Wine: $mode"

failed_rounds=0 failed_tests=0 times=()
declare -A failures=()
started=$(date +%s)
for round in $(seq "$count"); do
  log=build/stress/$stamp-$round.log
  code=0
  t0=$(date +%s)
  ${STRESS_LOCK:+flock "$STRESS_LOCK"} "$0" --round "$select" "$what" "$hog" "$pairs" "$log" || code=$?
  # The time the tests ran, without any wait for the lock.
  seconds=$(cat "$log.seconds" 2>/dev/null || echo $(( $(date +%s) - t0 )))
  times+=("$seconds")
  names=$(sed -nE "s/^[[:space:]]*[0-9]+ - (.*) \((Failed|Timeout|Not Run|SEGFAULT|Exception|Child aborted|[A-Za-z ]+)\).*/\1/p" "$log" | sort -u)
  n=0
  for name in $names; do
    failures[$name]=$(( ${failures[$name]:-0} + 1 ))
    n=$((n + 1))
  done
  # A failure that names no test (ctest itself failed) still counts.
  [ "$code" -ne 0 ] && [ "$n" -eq 0 ] && n=1
  [ "$n" -gt 0 ] && failed_rounds=$((failed_rounds + 1))
  failed_tests=$((failed_tests + n))
  echo "round $round/$count: $((tests - n))/$tests passed, ${seconds} s$([ "$n" -gt 0 ] && echo ", failed: $(echo $names) (log $log)")"
done
total=$(( $(date +%s) - started ))
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "stress: $failed_rounds of $count rounds failed; $failed_tests failures in $((tests * count)) test runs;" \
  "${total} s in all (with any wait for the lock); per round min $(echo "$sorted" | head -1) s, median $(echo "$sorted" | sed -n "$(( (count + 1) / 2 ))p") s, max $(echo "$sorted" | tail -1) s"
for name in "${!failures[@]}"; do echo "  $name failed ${failures[$name]} times"; done
[ "$failed_rounds" -eq 0 ]
