#!/usr/bin/env bash
# The whole test run on a fresh Debian 12 machine: installs what it needs,
# builds the portable code under the sanitizers and the Win32 program, and
# runs every suite. Exits non-zero when a test fails or none ran.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-source.sh   # clang-tidy, cppcheck, clang-format: no Wine needed

echo "== portable code on the build machine (ASan, UBSan)"
cmake --preset host-check >/dev/null
cmake --build --preset host-check -j "$(nproc)"
ctest --preset host-check --no-tests=error

echo "== fuzzing the page readers and the text routines (${PATCHER_FUZZ_SECONDS:=30} s each)"
scripts/fuzz.sh "$PATCHER_FUZZ_SECONDS"

echo "== Win32 program, cross-built"
cmake --preset test >/dev/null
cmake --build --preset test -j "$(nproc)"
size=$(stat -c %s build/test/KB835732Patcher.exe)
echo "KB835732Patcher.exe: $size bytes"

# Where 32-bit code cannot run natively, the Wine suites run under qemu-i386
# emulation (PATCHER_WINE_EMULATED=0 skips them there).
export PATCHER_WINE_EMULATED=${PATCHER_WINE_EMULATED:-1}
if mode=$(scripts/wine-run.sh --probe); then
  trap 'scripts/wine-run.sh --stop' EXIT
  echo "== Wine: $mode"
  if [ "$mode" = native ]; then
    ctest --preset test --no-tests=error
  else
    # Every test runs once. qemu now and then kills a Wine process as it
    # starts; a test that failed only so (the program died before its first
    # window, a suite before its first test) runs again, at most twice, and
    # each retry is printed. A failed check is never run again.
    report=$PWD/build/test/wine-report.xml
    labelled() { ctest --preset test -N -FA '.*' -L "^$1\$" | sed -n 's/^ *Test *#[0-9]*: //p' | sort; }
    suites=$(comm -12 <(labelled unit) <(labelled wine))
    retries=0
    if ! ctest --preset test --no-tests=error --output-junit "$report"; then
      for attempt in 1 2 3; do
        verdicts=$(python3 scripts/startup_faults.py "$report" $suites)
        if grep -q '^failed ' <<<"$verdicts" || [ -z "$verdicts" ]; then
          sed -n 's/^failed /FAILED: /p' <<<"$verdicts"; exit 1
        fi
        [ "$attempt" = 3 ] && { echo "still dying as Wine starts after two retries"; exit 1; }
        sed "s/^retry /== RETRY $attempt: /" <<<"$verdicts"
        retries=$((retries + $(wc -l <<<"$verdicts")))
        again=$(sed -n 's/^retry \([^:]*\):.*/\1/p' <<<"$verdicts" | paste -sd'|')
        ctest --preset test --no-tests=error --output-junit "$report" -R "^($again)\$" && break
      done
    fi
    echo "== Wine suites passed, $retries retries after Wine start-up faults"
  fi
else
  reason=$mode
  echo "== NOT RUN: the tests under Wine. $reason."
  ctest --preset test -LE wine --no-tests=error
fi
