#!/usr/bin/env bash
# Builds the program pinned to the SHA-256 of the stand-in package as the
# site serves it, then runs it against that file and against a changed one.
#   pinned_test.sh SOURCE_DIR E2E_BINARY_DIR E2E_CONFIG
set -euo pipefail
source_dir=$1 work=$2/pinned config=$3
mkdir -p "$work"
standin=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["standin"])' "$config")
digest=$(python3 - "$(dirname "$0")" "$standin" <<'PY'
import hashlib, sys
sys.path.insert(0, sys.argv[1])
from run_scenario import padded_bytes
print(hashlib.sha256(padded_bytes(sys.argv[2], 150000)).hexdigest())
PY
)
cmake --preset test -S "$source_dir" -B "$work/build" -DPATCHER_TESTS=OFF \
  "-DPATCHER_PACKAGE_SHA256=WindowsXP-KB835732-x86-ENU.EXE=$digest" >"$work/build.log" 2>&1 &&
  cmake --build "$work/build" --target KB835732Patcher >>"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; exit 1; }
python3 - "$config" "$work/build/KB835732Patcher.exe" "$work/config.json" <<'PY'
import json, sys
config = json.load(open(sys.argv[1]))
config["program"] = sys.argv[2]
json.dump(config, open(sys.argv[3], "w"))
PY
exec python3 "$(dirname "$0")/run_scenario.py" --config "$work/config.json" pinned_match pinned_tampered
