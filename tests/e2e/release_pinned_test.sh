#!/usr/bin/env bash
# Makes a release, as an administrator would, from a package folder holding
# the stand-in package under the Windows XP (English and German, each with
# bytes of its own) and Windows 98 names, for the loopback site; checks its notes and its check of the server folder; then
# runs the released program through the pinned scenarios.
#   release_pinned_test.sh E2E_BINARY_DIR E2E_CONFIG SERVER SIGNIN PHONE HELP_URL
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1/release_pinned config=$2
rm -rf "$work"
mkdir -p "$work/packages" "$work/dist" "$work/unpacked"
XP=WindowsXP-KB835732-x86-ENU.EXE W98=828028USA8.EXE XP_DEU=WindowsXP-KB835732-x86-DEU.EXE
python3 - "$here" "$config" "$work/packages" $XP $W98 $XP_DEU <<'PY'
import json, os, sys
sys.path.insert(0, sys.argv[1])
from run_scenario import padded_bytes
# As the site serves it in the scenarios.
standin = json.load(open(sys.argv[2]))["standin"]
for name in sys.argv[4:]:
    language = "DEU" if "-DEU." in name else None
    open(os.path.join(sys.argv[3], name), "wb").write(padded_bytes(standin, 150000, language))
PY
zip=$("$here/../../scripts/release.sh" --server "$3" --signin "$4" --phone "$5" --help-url "$6" \
  --packages "$work/packages" --out "$work/dist" 2>"$work/release.log") ||
  { cat "$work/release.log"; exit 1; }
(cd "$work/unpacked" && unzip -q "$zip" && sha256sum -c --quiet SHA256SUMS)

notes=$work/unpacked/ADMINISTRATORS.txt
fail() { echo "FAIL: $*"; exit 1; }
head -1 "$notes" | grep -q "^Pinned build" || fail "the notes do not start by saying pinned"
for name in $XP $W98 $XP_DEU; do
  digest=$(sha256sum < "$work/packages/$name" | cut -c1-64)
  grep -A1 -x "    $name" "$notes" | grep -qx "    150000 bytes, SHA-256 $digest" ||
    fail "the notes do not give $name its size and digest"
done
[ "$(grep -cx '    not pinned: refused' "$notes")" -eq 6 ] || fail "six packages should read 'not pinned: refused'"
grep -qxF "  $(grep ' KB835732Patcher.exe$' "$work/unpacked/SHA256SUMS")" "$notes" ||
  fail "the notes do not carry the program's SHA256SUMS line"
# The documented check of the server folder: passes as released, and
# catches one changed byte.
(cd "$work/packages" && sha256sum -c --quiet "$work/unpacked/PACKAGES.sha256") ||
  fail "the package folder does not pass its own check"
printf '\001' | dd of="$work/packages/$XP" bs=1 seek=149999 conv=notrunc status=none
if (cd "$work/packages" && sha256sum -c --quiet "$work/unpacked/PACKAGES.sha256" >/dev/null 2>&1); then
  fail "the check passed a changed package"
fi

python3 - "$config" "$work/unpacked/KB835732Patcher.exe" "$work/config.json" <<'PY'
import json, sys
config = json.load(open(sys.argv[1]))
config["program"] = sys.argv[2]
json.dump(config, open(sys.argv[3], "w"))
PY
exec python3 "$here/run_scenario.py" --config "$work/config.json" \
  pinned_match pinned_byte_changed pinned_not_in_folder pinned_german pinned_german_english_bytes
