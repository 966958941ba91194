#!/usr/bin/env bash
# Starts or stops the simulated site on the test build's loopback ports and,
# on start, puts its test CA into the Wine prefix's trusted roots.
#   site.sh start CA_TOOL.exe | site.sh stop
set -euo pipefail
# The site outlives this script; it must not keep a lock of the caller's
# (flock FILE ...) held, nor any other inherited file. 255: bash's own.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  if [ "$fd" -gt 2 ] && [ "$fd" != 255 ]; then eval "exec $fd>&-"; fi
done
here=$(cd "$(dirname "$0")" && pwd)
state=${PATCHER_SITE_STATE:-$here/../build/site}
mkdir -p "$state"
case "$1" in
  start)
    "$0" stop
    python3 "$here/../tests/site/simulated_site.py" --state "$state" >"$state/site.out" 2>&1 &
    pid=$!
    echo "$pid" >"$state/site.pid"
    # Ready when it says so; a site that ends first (a port taken) fails
    # here. Making the certificates the first time takes a while under load.
    for _ in $(seq 1200); do
      grep -q "^simulated site:" "$state/site.out" 2>/dev/null && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if ! grep -q "^simulated site:" "$state/site.out" || ! kill -0 "$pid" 2>/dev/null; then
      cat "$state/site.out" >&2
      kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "site.sh: the site ended with exit code $?" >&2; }
      "$0" stop
      echo "site.sh: the simulated site did not start" >&2
      exit 1
    fi
    # Wine maps the Unix root to drive Z:.
    if [ -n "${2:-}" ]; then "$here/wine-run.sh" "$2" "Z:$(cd "$state" && pwd | tr / '\\')\\ca.der"; fi ;;
  stop)
    # Gone for sure before this returns: a test of a server not listening,
    # or the next start, must not find the old site still on its ports.
    if [ -f "$state/site.pid" ]; then
      pid=$(cat "$state/site.pid")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
      while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
      rm -f "$state/site.pid"
    fi
    # Its fronts, whatever ended them, may still listen a moment: no port
    # the site took has a server on it before this returns.
    if [ -f "$state/site.ports" ]; then
      python3 - $(cat "$state/site.ports") <<'PY' || exit 1
import socket, sys, time
deadline = time.monotonic() + 30
for port in map(int, sys.argv[1:]):
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
        except OSError:
            break
        if time.monotonic() > deadline:
            sys.exit(f"site.sh: port {port} of the stopped site still has a server after 30 s")
        time.sleep(0.1)
PY
      rm -f "$state/site.ports"
    fi ;;
esac
