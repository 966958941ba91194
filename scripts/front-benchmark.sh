#!/usr/bin/env bash
# What one sign-in front (scripts/signin-front) holds, on loopback, each loop
# bounded in count or time; the sign-in service behind it is nginx answering
# the sign-in page from memory, so that the figures are the front's:
#   silent     silent connections held at once (they open, never speak), with
#              a service's usual 1024 descriptors and with 65536 (or the hard
#              limit, where lower)
#   handshake  full handshakes a second (no session resumed): TLS 1.0 with
#              the PCs' suite, TLS 1.2 and 1.3 as browsers of today
#   signin     sign-in round trips a second: as a PC (a handshake, the page,
#              close) and on kept connections
# The clients (tests/bench/front_bench.java, and Python for the silent ones)
# share the machine's cores with the front.
#
# Settings (environment):
#   BENCH_SECONDS=10     seconds of each handshake and round-trip loop
#   BENCH_THREADS=8      clients at once in those loops
#   BENCH_SILENT=16000   silent connections opened (from 127.0.0.2 to .9),
#                        2,000 a second
#   BENCH_PORT=48543     the front's loopback port; the next, nginx's
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${BENCH_SECONDS:-10}
threads=${BENCH_THREADS:-8}
silent=${BENCH_SILENT:-16000}
port=${BENCH_PORT:-48543}
backend=$((port + 1))
state=$root/build/front-bench
rm -rf "$state"
mkdir -p "$state/logs"
"$here/install-deps.sh" >/dev/null

openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=localhost -keyout "$state/key.pem" \
  -out "$state/chain.pem" 2>/dev/null
cat >"$state/nginx.conf" <<EOF
worker_processes 1;
pid $state/logs/nginx.pid;
error_log $state/logs/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $state/logs;
    server {
        listen 127.0.0.1:$backend;
        default_type text/html;
        location / { return 200 "<HTML><BODY><H1>Tarrowin Keyloom</H1><FORM></FORM></BODY></HTML>\n"; }
    }
}
EOF
nginx -p "$state" -c "$state/nginx.conf" -g 'daemon off;' &
nginx=$!
front=
stop_front() {
  if [ -n "$front" ]; then kill "$front" 2>/dev/null || true; wait "$front" 2>/dev/null || true; fi
  front=
}
trap 'stop_front; kill $nginx 2>/dev/null || true; wait $nginx 2>/dev/null || true' EXIT

start_front() { # start_front DESCRIPTORS
  (ulimit -n "$1"; exec "$here/signin-front" --listen "127.0.0.1:$port" --backend \
    "127.0.0.1:$backend" --cert "$state/chain.pem" --key "$state/key.pem") \
    >"$state/front-$1.log" 2>&1 &
  front=$!
  for _ in $(seq 300); do
    grep -q "Started @" "$state/front-$1.log" 2>/dev/null && return 0
    kill -0 "$front" 2>/dev/null || break
    sleep 0.1
  done
  cat "$state/front-$1.log" >&2
  echo "front-benchmark: the front did not start" >&2
  exit 1
}

hard=$(ulimit -Hn)
[ "$hard" = unlimited ] || [ "$hard" -gt 65536 ] && hard=65536
rows=()
for descriptors in 1024 "$hard"; do
  start_front "$descriptors"
  before=$(ls "/proc/$front/fd" | wc -l)
  # Opened 2,000 a second and counted 2 s after the last, before the
  # front's 20 s deadline lets the first of them go.
  python3 - "$port" "$silent" "$front" "$before" <<'PY' >"$state/silent-$descriptors"
import os, resource, socket, sys, time
port, count, pid, before = map(int, sys.argv[1:])
hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
held = []
start = time.monotonic()
for i in range(count):
    time.sleep(max(0, start + i / 2000 - time.monotonic()))
    s = socket.socket()
    s.setblocking(False)
    s.bind((f"127.0.0.{2 + i % 8}", 0))
    s.connect_ex(("127.0.0.1", port))
    held.append(s)
time.sleep(2)
accepted = len(os.listdir(f"/proc/{pid}/fd")) - before
rss = [line.split()[1] for line in open(f"/proc/{pid}/status") if line.startswith("VmRSS")][0]
print(accepted, int(rss) // 1024)
PY
  read -r accepted rss <"$state/silent-$descriptors"
  rows+=("silent connections held, ulimit -n $descriptors | $accepted of $silent | ${rss} MB resident")
  [ "$descriptors" = "$hard" ] || stop_front
done
sleep 21   # the silent ones gone by the deadline
bench() { # bench MODE PROTOCOL SUITE
  java -cp "$root/tests/bench" "$root/tests/bench/front_bench.java" "$1" localhost "$port" "$2" \
    "$3" "$seconds" "$threads"
}
for run in "handshake TLSv1 SSL_RSA_WITH_3DES_EDE_CBC_SHA" \
           "handshake TLSv1.2 TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256" \
           "handshake TLSv1.3 TLS_AES_128_GCM_SHA256" \
           "signin TLSv1 SSL_RSA_WITH_3DES_EDE_CBC_SHA" \
           "kept TLSv1 SSL_RSA_WITH_3DES_EDE_CBC_SHA" \
           "kept TLSv1.3 TLS_AES_128_GCM_SHA256"; do
  read -r mode protocol suite count took failed < <(bench $run)
  case "$mode" in
    handshake) what="handshakes a second" ;;
    signin) what="sign-in round trips a second, a handshake each" ;;
    kept) what="sign-in round trips a second, on kept connections" ;;
  esac
  rows+=("$what, $protocol $suite | $((count / took)) | $failed failed")
done
stop_front

echo "| figure | value | note |"
echo "|---|---|---|"
for row in "${rows[@]}"; do echo "| $row |"; done
echo "($(nproc) cores, $threads clients at once, ${seconds} s a loop; logs in ${state#"$root/"})"
