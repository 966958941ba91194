#!/usr/bin/env bash
# Makes a pinned release from two clean copies of the source tree (the files
# git tracks or would track, as they stand) in different folders, from the
# same package folder and settings, and compares the two ZIPs byte for byte;
# and the program in them must be at most 48 KiB (49,152 bytes).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Two packages that pass the release's checks: a PE header, over 100000 bytes.
mkdir "$work/packages"
for name in WindowsXP-KB835732-x86-ENU.EXE Windows2000-KB835732-x86-ENU.EXE; do
  { printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000PE\000\000'; head -c 120000 /dev/zero
    echo "$name"; } > "$work/packages/$name"
done
settings=(--server patches.example.org --signin signin.example.org --phone "555 0100"
          --help-url http://help.example.org --packages "$work/packages")
for side in first second-with-a-longer-path; do
  mkdir -p "$work/$side/src"
  (cd "$repo" && git ls-files -z -c -o --exclude-standard | tar --null -T - -cf -) |
    tar -C "$work/$side/src" -xf -
  "$work/$side/src/scripts/release.sh" "${settings[@]}" --out "$work/$side/dist" >/dev/null 2>"$work/$side.log" ||
    { cat "$work/$side.log"; exit 1; }
done
a=$(echo "$work"/first/dist/*.zip) b=$(echo "$work"/second-with-a-longer-path/dist/*.zip)
if cmp "$a" "$b"; then
  unzip -p "$a" KB835732Patcher.exe > "$work/program.exe"
  unzip -p "$a" KB835732SiteCheck.exe > "$work/check.exe"
  size=$(stat -c %s "$work/program.exe")
  echo "reproducible: $(basename "$a") $(sha256sum < "$a" | cut -c1-64) ($(stat -c %s "$a") bytes);" \
       "program $(sha256sum < "$work/program.exe" | cut -c1-64) ($size bytes);" \
       "check $(sha256sum < "$work/check.exe" | cut -c1-64) ($(stat -c %s "$work/check.exe") bytes)"
else
  echo "the two releases differ"; exit 1
fi
# The released program, unsigned, stays within 48 KiB.
[ "$size" -le 49152 ] || { echo "the program is $size bytes, more than 49152"; exit 1; }
