#!/usr/bin/env bash
# Download benchmark: the same files from the same loopback server, fetched
#   engine_status  DownloadPatch with the status window (ShowStatus)
#   engine_noop    DownloadPatch with a callback that does nothing
#   loop_window    a bare 1024-byte InternetReadFile/fwrite loop that swaps a
#                  STATIC status line per chunk, as the status window does
#   loop           the same bare loop without any window
#   curl           curl, natively, outside Wine
# The methods alternate within each run; the table shows medians, MB/s and
# the ratios to curl and to the bare loop, and the peak working set of the
# Win32 process. A download that did not bring every byte is counted as
# failed and not timed.
#
# Settings (environment):
#   BENCH_RUNS=3          runs per method and size
#   BENCH_RUNS_64MB=1     runs for the 64 MB file (a window run takes minutes
#                         under emulation)
#   BENCH_SIZES_MB="1 6 64"
#   BENCH_METHODS="engine_status engine_noop loop_window loop curl"
#   BENCH_PORT=48180      loopback port of the file server
#   BENCH_TIMEOUT=3600    seconds before one Win32 run is given up
#   PATCHER_WINE_STATE    Wine prefix and Xvfb state (default build/bench-wine)
#   PATCHER_WINE_EMULATED=1  allow qemu-i386 where 32-bit code cannot run
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=${BENCH_RUNS:-3}
runs_64=${BENCH_RUNS_64MB:-1}
sizes=${BENCH_SIZES_MB:-1 6 64}
read -r -a methods <<<"${BENCH_METHODS:-engine_status engine_noop loop_window loop curl}"
port=${BENCH_PORT:-48180}
run_timeout=${BENCH_TIMEOUT:-3600}
# qemu now and then kills a Wine process; such a run (no result line) is
# tried again, up to this many times.
retries=2
state=$root/build/bench
export PATCHER_WINE_STATE=${PATCHER_WINE_STATE:-$root/build/bench-wine}
export PATCHER_WINE_EMULATED=${PATCHER_WINE_EMULATED:-1}
wine_run=$here/wine-run.sh
tool=$root/build/bench-build/tests/bench/download_bench.exe

mkdir -p "$state/files" "$state/dl"
results=$state/results.tsv
: >"$results"

# The tool gets a build of its own: the test build refuses download bodies
# past a few megabytes, and the benchmark's largest file is 64 MB; and it
# gets the program's own progress window, not the test build's short one.
cd "$root"
{ cmake --preset test -B build/bench-build -DPATCHER_LARGEST_PACKAGE=2147483647 \
    -DPATCHER_PROGRESS_WINDOW_MS=60000 &&
  cmake --build build/bench-build --target download_bench; } >"$state/build.log" 2>&1 ||
  { cat "$state/build.log"; exit 1; }

mode=$("$wine_run" --probe) || { echo "benchmark: Wine cannot run here: $mode" >&2; exit 1; }

server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  "$wine_run" --stop >/dev/null 2>&1 || true
}
trap cleanup EXIT

for mb in $sizes; do
  f=$state/files/${mb}mb.bin
  want=$((mb * 1048576))
  if [ ! -f "$f" ] || [ "$(stat -c %s "$f")" != "$want" ]; then
    head -c "$want" /dev/urandom >"$f"
  fi
done

# A plain static file server: every method gets the same bytes the same way.
# Ours only once it says it serves: a port taken by another server ends it,
# and the figures must not come from that other one.
python3 -u -m http.server "$port" --bind 127.0.0.1 --directory "$state/files" \
  >"$state/server.log" 2>&1 &
server_pid=$!
read -r first _ <<<"$sizes"
for _ in $(seq 600); do
  grep -q "^Serving HTTP" "$state/server.log" && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$server_pid" 2>/dev/null && grep -q "^Serving HTTP" "$state/server.log" ||
  { cat "$state/server.log"; echo "benchmark: the file server did not start on port $port" >&2; exit 1; }

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
# A value from the tool's result line: field NAME LINE.
field() { printf '%s\n' "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }

# One timed download; appends "MB METHOD ok|failed SECONDS PEAK_KB START_KB".
run_one() {
  local mb=$1 method=$2 url=http://127.0.0.1:$port/${1}mb.bin
  local src=$state/files/${mb}mb.bin want=$(($1 * 1048576))
  local target=$state/dl/$method.bin
  local attempt line out code seconds bytes peak start status
  for attempt in $(seq 0 "$retries"); do
    rm -f "$target"
    if [ "$method" = curl ]; then
      code=0
      out=$(/usr/bin/time -f '%M' -o "$state/curl.rss" curl -sS -o "$target" \
        -w '%{time_total}\n' "$url" 2>&1) || code=$?
      seconds=$(printf '%s\n' "$out" | tail -1)
      peak=$(tail -1 "$state/curl.rss" 2>/dev/null || echo 0)
      start=0
      bytes=$(stat -c %s "$target" 2>/dev/null || echo -1)
      line=curl
    else
      code=0
      out=$(timeout "$run_timeout" "$wine_run" "$tool" "$method" "$url" "$(winpath "$target")" 2>&1) || code=$?
      line=$(printf '%s\n' "$out" | grep '^method=' | tail -1 || true)
      if [ -z "$line" ]; then
        echo "  $mb MB $method: no result (exit $code), trying again" >&2
        continue
      fi
      seconds=$(field seconds "$line")
      bytes=$(field bytes "$line")
      peak=$(field peak_ws_kb "$line")
      start=$(field start_ws_kb "$line")
    fi
    status=ok
    if [ "$code" != 0 ] || [ "$bytes" != "$want" ] || ! cmp -s "$src" "$target"; then
      status=failed
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$mb" "$method" "$status" "$seconds" "$peak" "$start" >>"$results"
    echo "  $mb MB $method: $status ${seconds}s ($bytes of $want bytes)" >&2
    rm -f "$target"
    return 0
  done
  printf '%s\t%s\tfailed\t-\t-\t-\n' "$mb" "$method" >>"$results"
  echo "  $mb MB $method: failed, no result after $((retries + 1)) tries" >&2
}

echo "download benchmark: Wine $mode, $(nproc) CPUs, server python3 http.server on 127.0.0.1:$port" >&2
# Untimed: sets the emulated Windows once and warms Wine and the page cache.
"$wine_run" --version winxp "$tool" loop "http://127.0.0.1:$port/${first}mb.bin" \
  "$(winpath "$state/dl/warmup.bin")" >/dev/null 2>&1 || true
rm -f "$state/dl/warmup.bin"

for mb in $sizes; do
  n=$runs
  [ "$mb" = 64 ] && n=$runs_64
  for r in $(seq 1 "$n"); do
    echo "$mb MB, run $r of $n" >&2
    # Each run starts one method further on, so no method always goes first.
    count=${#methods[@]}
    for i in $(seq 0 $((count - 1))); do
      run_one "$mb" "${methods[$(((i + r - 1) % count))]}"
    done
  done
done

python3 - "$results" "${methods[@]}" <<'EOF'
import statistics, sys
path, methods = sys.argv[1], sys.argv[2:]
rows = [line.rstrip("\n").split("\t") for line in open(path) if line.strip()]
sizes = []
for r in rows:
    if r[0] not in sizes:
        sizes.append(r[0])

def median(size, method, column):
    vals = [float(r[column]) for r in rows if r[0] == size and r[1] == method and r[2] == "ok"]
    return statistics.median(vals) if vals else None

print()
print("Medians per method; MB = 2^20 bytes. x curl, x loop: median time over that of")
print("curl / of the bare loop. Peak WS: peak working set of the process in MB")
print("(curl: maximum resident set); growth: peak minus the working set at the start.")
print()
head = f"{'size':>5} {'method':<14} {'ok/runs':>7} {'median s':>10} {'MB/s':>8} {'x curl':>8} {'x loop':>8} {'peak WS':>8} {'growth':>7}"
print(head)
print("-" * len(head))
for size in sizes:
    curl = median(size, "curl", 3)
    loop = median(size, "loop", 3)
    for m in methods:
        mine = [r for r in rows if r[0] == size and r[1] == m]
        ok = sum(1 for r in mine if r[2] == "ok")
        t = median(size, m, 3)
        peak = median(size, m, 4)
        start = median(size, m, 5)
        def f(v, fmt):
            return format(v, fmt) if v is not None else "-"
        mbs = int(size) / t if t else None
        xc = t / curl if t and curl else None
        xl = t / loop if t and loop else None
        growth = (peak - start) / 1024 if peak is not None and start and m != "curl" else None
        print(f"{size + ' MB':>5} {m:<14} {str(ok) + '/' + str(len(mine)):>7} {f(t, '.3f'):>10} "
              f"{f(mbs, '.2f'):>8} {f(xc, '.1f'):>8} {f(xl, '.2f'):>8} "
              f"{f(peak / 1024 if peak is not None else None, '.1f'):>8} {f(growth, '.1f'):>7}")
    print()
EOF
