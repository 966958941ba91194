#!/usr/bin/env bash
# Starts or stops the simulated site on the test build's loopback ports and,
# on start, puts its test CA into the Wine prefix's trusted roots.
#   site.sh start CA_TOOL.exe | site.sh stop
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
state=${PATCHER_SITE_STATE:-$here/../build/site}
mkdir -p "$state"
case "$1" in
  start)
    "$0" stop
    python3 "$here/../tests/site/simulated_site.py" --state "$state" >"$state/site.out" 2>&1 &
    for _ in $(seq 100); do grep -q "simulated site" "$state/site.out" 2>/dev/null && break; sleep 0.1; done
    grep -q "simulated site" "$state/site.out" || { cat "$state/site.out"; exit 1; }
    # Wine maps the Unix root to drive Z:.
    if [ -n "${2:-}" ]; then "$here/wine-run.sh" "$2" "Z:$(cd "$state" && pwd | tr / '\\')\\ca.der"; fi ;;
  stop)
    if [ -f "$state/site.pid" ]; then kill "$(cat "$state/site.pid")" 2>/dev/null || true; rm -f "$state/site.pid"; fi ;;
esac
