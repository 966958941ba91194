#!/usr/bin/env bash
# Builds the release program from two clean copies of the source tree (the
# files git tracks or would track, as they stand) in different folders and
# compares the results byte for byte.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings=(-DPATCHER_SERVER_HOST=patches.example.org -DPATCHER_SIGNIN_HOST=signin.example.org
          -DPATCHER_HELPDESK_PHONE=555-0100 -DPATCHER_HELPDESK_URL=http://help.example.org)
for side in first second-with-a-longer-path; do
  mkdir -p "$work/$side/src"
  (cd "$repo" && git ls-files -z -c -o --exclude-standard | tar --null -T - -cf -) |
    tar -C "$work/$side/src" -xf -
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
