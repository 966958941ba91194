#!/usr/bin/env bash
# Builds the program for the loopback demo site and runs it in the Wine
# prefix as Windows XP.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset test >/dev/null
cmake --build --preset test -j "$(nproc)" --target KB835732Patcher
echo "built build/test/KB835732Patcher.exe ($(stat -c %s build/test/KB835732Patcher.exe) bytes)"

export PATCHER_WINE_EMULATED=${PATCHER_WINE_EMULATED:-1}
if ! reason=$(scripts/wine-run.sh --probe); then
  echo "demo: cannot run the program on this machine: $reason." >&2
  exit 1
fi
trap 'scripts/wine-run.sh --stop' EXIT
scripts/wine-run.sh --version winxp build/test/KB835732Patcher.exe || code=$?
echo "demo: the program ended with exit code ${code:-0}"
