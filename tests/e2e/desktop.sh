#!/usr/bin/env bash
# Holds Wine's desktop for the scenarios (tests/e2e/desktop_keeper.cpp).
#   desktop.sh hold KEEPER.exe | desktop.sh release KEEPER.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
keeper=$2
ready=$(dirname "$keeper")/desktop_keeper.ready
case "$1" in
  hold)
    rm -f "$ready"
    # Outlives this script: no pipe of ctest's may stay open in it.
    setsid "$wine_run" "$keeper" "Z:$(echo "$ready" | tr / '\\')" >/dev/null 2>&1 </dev/null &
    for _ in $(seq 1200); do [ -f "$ready" ] && exit 0; sleep 0.1; done
    echo "desktop.sh: the desktop keeper did not start" >&2
    exit 1 ;;
  release)
    [ -f "$ready" ] || exit 0
    "$wine_run" "$keeper" --stop
    rm -f "$ready" ;;
esac
