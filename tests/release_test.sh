#!/usr/bin/env bash
# The release command refuses bad input with a message that says what is
# wrong and leaves nothing in the output folder; --unpinned makes, on
# purpose, an unpinned release (signed here with a throwaway certificate)
# whose checksums verify, program and site check alike, and whose notes say
# so first.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The administrator's commands answer -h and --help with their usage, an
# example and exit code 0, and change nothing: run from a tree of their own,
# which must hold nothing new afterwards (no build folder, no Wine prefix;
# install-deps.sh is not there to be run).
mkdir -p "$work/tree/scripts"
cp "$repo/scripts/release.sh" "$repo/scripts/check-site.sh" "$repo/scripts/demo.sh" "$work/tree/scripts/"
tree=$(printf '%s\n' . ./scripts ./scripts/check-site.sh ./scripts/demo.sh ./scripts/release.sh)
for script in release.sh check-site.sh demo.sh; do
  for option in -h --help; do
    code=0
    env -u PATCHER_CHECK_STATE -u PATCHER_WINE_STATE "$work/tree/scripts/$script" "$option" \
      >"$work/help.out" 2>"$work/help.err" </dev/null || code=$?
    [ "$code" = 0 ] && grep -q "^usage: scripts/$script" "$work/help.out" &&
      grep -q "^examples\?:" "$work/help.out" && [ ! -s "$work/help.err" ] ||
      { echo "FAIL: $script $option (exit code $code):"; cat "$work/help.out" "$work/help.err"; exit 1; }
    [ "$(cd "$work/tree" && find . | sort)" = "$tree" ] ||
      { echo "FAIL: $script $option changed its tree:"; (cd "$work/tree" && find .); exit 1; }
  done
done
echo "help: ok"
# A release build never silently carries test or demo hosts.
if out=$(cmake -S "$repo" -B "$work/unset" --preset release 2>&1); then
  echo "release preset configured without site settings"; exit 1
fi
for name in PATCHER_SERVER_HOST PATCHER_SIGNIN_HOST PATCHER_HELPDESK_PHONE PATCHER_HELPDESK_URL; do
  grep -q "$name" <<<"$out" || { echo "the refusal does not name $name"; exit 1; }
done

openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Patcher Test Signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
echo "not a key" > "$work/garbage.pem"

# Package folders. A PE image is "MZ", and "PE\0\0" where offset 60 points.
pe() { # FILE SIZE
  python3 - "$@" <<'PY'
import struct, sys
size = int(sys.argv[2])
head = b"MZ" + b"\0" * 58 + struct.pack("<I", 64) + b"PE\0\0"
open(sys.argv[1], "wb").write(head + b"\0" * (size - len(head)))
PY
}
XP=WindowsXP-KB835732-x86-ENU.EXE
mkdir "$work/empty" "$work/other" "$work/small" "$work/text" "$work/dos" "$work/good"
echo notes > "$work/other/README.txt"
pe "$work/small/$XP" 100000
head -c 150000 /dev/zero | tr '\0' x > "$work/text/$XP"
# "MZ" with the PE offset past the end of the file: a DOS program at most.
python3 -c 'import struct,sys; open(sys.argv[1],"wb").write(b"MZ"+b"\0"*58+struct.pack("<I",200000)+b"\0"*150000)' "$work/dos/$XP"
pe "$work/good/$XP" 100001

site=(--server patches.example.org --signin signin.example.org --phone "555 0100"
      --help-url http://help.example.org)
failures=0
refused() { # EXPECTED-MESSAGE ARGUMENT...
  local want=$1; shift
  rm -rf "$work/dist"; mkdir "$work/dist"
  if "$repo/scripts/release.sh" "$@" --out "$work/dist" >"$work/stdout" 2>"$work/stderr"; then
    echo "FAIL: released with $*"; failures=$((failures + 1)); return
  fi
  if ! grep -qF -- "$want" "$work/stderr"; then
    echo "FAIL: for $*, expected the message '$want', got:"; cat "$work/stderr"
    failures=$((failures + 1))
  fi
  if [ -n "$(ls -A "$work/dist")" ]; then
    echo "FAIL: $* left $(ls -A "$work/dist") in dist/"; failures=$((failures + 1))
  fi
  echo "refused: $(head -1 "$work/stderr")"
}
refused "give the package folder with --packages DIR" "${site[@]}"
grep -q "hostile Wi-Fi" "$work/stderr" && grep -q -- "--unpinned" "$work/stderr" ||
  { echo "FAIL: the refusal does not say why pinning matters"; failures=$((failures + 1)); }
refused "does not exist" "${site[@]}" --packages "$work/nowhere"
refused "is empty" "${site[@]}" --packages "$work/empty"
refused "holds none of the package names" "${site[@]}" --packages "$work/other"
refused "is 100000 bytes" "${site[@]}" --packages "$work/small"
refused "not a Windows program" "${site[@]}" --packages "$work/text"
refused "not a Windows program" "${site[@]}" --packages "$work/dos"
refused "not both" "${site[@]}" --packages "$work/good" --unpinned
refused "--server is missing" --signin s.example.org --phone 1 --help-url http://h --unpinned
refused "must not contain quotes" "${site[@]}" --phone '555 "0100"' --unpinned
refused "must not contain quotes" "${site[@]}" --help-url 'http://help\x' --unpinned
refused "plain printable ASCII" "${site[@]}" --phone $'555\n#error' --unpinned
refused "is not a host name" "${site[@]}" --server "patches.example.org/x" --unpinned
refused "cannot read the signing key" "${site[@]}" --unpinned --sign-cert "$work/cert.pem" \
  --sign-key "$work/missing.pem"
refused "cannot read the signing key" "${site[@]}" --unpinned --sign-cert "$work/cert.pem" \
  --sign-key "$work/garbage.pem"
refused "needs both --sign-cert and --sign-key" "${site[@]}" --unpinned --sign-key "$work/key.pem"
[ "$failures" -eq 0 ] || exit 1

# Unpinned on purpose, signed.
rm -rf "$work/dist"
zip=$("$repo/scripts/release.sh" "${site[@]}" --unpinned --sign-cert "$work/cert.pem" \
  --sign-key "$work/key.pem" --out "$work/dist" 2>"$work/stderr") || { cat "$work/stderr"; exit 1; }
[ "$(ls -A "$work/dist")" = "$(basename "$zip")" ] || { echo "dist/ holds $(ls -A "$work/dist")"; exit 1; }
mkdir "$work/unpacked"
(cd "$work/unpacked" && unzip -q "$zip" && sha256sum -c --quiet SHA256SUMS)
notes=$work/unpacked/ADMINISTRATORS.txt
head -1 "$notes" | grep -q "^UNPINNED BUILD" || { echo "the notes do not start by saying unpinned"; exit 1; }
[ "$(grep -c '^    unpinned build$' "$notes")" -eq 8 ] || { echo "not all eight packages read 'unpinned build'"; exit 1; }
[ ! -e "$work/unpacked/PACKAGES.sha256" ] || { echo "an unpinned release lists package digests"; exit 1; }
for exe in KB835732Patcher.exe KB835732SiteCheck.exe; do
  grep -qxF "  $(grep " $exe\$" "$work/unpacked/SHA256SUMS")" "$notes" ||
    { echo "the notes do not carry the SHA256SUMS line of $exe"; exit 1; }
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/unpacked/$exe" 2>&1 |
    grep -q "Signature verification: ok" || { echo "$exe is not signed"; exit 1; }
done
grep -q "patches.example.org" "$notes"
# Tampering is caught by the sums.
for exe in KB835732Patcher.exe KB835732SiteCheck.exe; do
  cp "$work/unpacked/$exe" "$work/saved.exe"
  echo x >> "$work/unpacked/$exe"
  if (cd "$work/unpacked" && sha256sum -c --quiet SHA256SUMS >/dev/null 2>&1); then
    echo "a changed $exe passed the checksums"; exit 1
  fi
  mv "$work/saved.exe" "$work/unpacked/$exe"
done
echo "release package: ok"
