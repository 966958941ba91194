#!/usr/bin/env bash
# The whole test run on a fresh Debian 12 machine: installs what it needs,
# builds the portable code under the sanitizers and the Win32 program, and
# runs every suite. Exits non-zero when a test fails or none ran.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "== portable code on the build machine (ASan, UBSan)"
cmake --preset host-check >/dev/null
cmake --build --preset host-check -j "$(nproc)"
ctest --preset host-check

echo "== Win32 program, cross-built"
cmake --preset test >/dev/null
cmake --build --preset test -j "$(nproc)"
size=$(stat -c %s build/test/KB835732Patcher.exe)
echo "KB835732Patcher.exe: $size bytes"

if reason=$(scripts/wine-run.sh --probe); then
  trap 'scripts/wine-run.sh --stop' EXIT
  ctest --preset test
else
  echo "== NOT RUN: the tests under Wine. $reason."
  ctest --preset test -LE wine
fi
