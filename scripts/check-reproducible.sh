#!/usr/bin/env bash
# Builds the release program from two clean checkouts in different folders
# and compares the results byte for byte.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings=(-DPATCHER_SERVER_HOST=patches.example.org -DPATCHER_SIGNIN_HOST=signin.example.org
          -DPATCHER_HELPDESK_PHONE=555-0100 -DPATCHER_HELPDESK_URL=http://help.example.org)
for side in first second-with-a-longer-path; do
  git -c advice.detachedHead=false clone -q "$repo" "$work/$side/src"
  # Uncommitted work is part of what is checked when run from a work tree.
  (cd "$repo" && git diff HEAD) | (cd "$work/$side/src" && git apply --allow-empty 2>/dev/null || true)
  (cd "$work/$side/src" && cmake --preset release "${settings[@]}" >/dev/null &&
   cmake --build --preset release -j "$(nproc)" >/dev/null)
done
a=$work/first/src/build/release/KB835732Patcher.exe
b=$work/second-with-a-longer-path/src/build/release/KB835732Patcher.exe
if cmp "$a" "$b"; then
  echo "reproducible: $(sha256sum < "$a" | cut -c1-64) ($(stat -c %s "$a") bytes)"
else
  echo "the two builds differ"; exit 1
fi
