#!/usr/bin/env bash
# The release command packs a program whose checksums verify, and signs it
# when given a certificate (a throwaway one made here).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A release build never silently carries test or demo hosts.
if out=$(cmake -S "$repo" -B "$work/unset" --preset release 2>&1); then
  echo "release preset configured without site settings"; exit 1
fi
for name in PATCHER_SERVER_HOST PATCHER_SIGNIN_HOST PATCHER_HELPDESK_PHONE PATCHER_HELPDESK_URL; do
  grep -q "$name" <<<"$out" || { echo "the refusal does not name $name"; exit 1; }
done
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Patcher Test Signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
zip=$("$repo/scripts/release.sh" --server patches.example.org --signin signin.example.org \
  --phone "555 0100" --help-url http://help.example.org --sign-cert "$work/cert.pem" \
  --sign-key "$work/key.pem" --out "$work/dist")
mkdir "$work/unpacked"
(cd "$work/unpacked" && unzip -q "$zip" && sha256sum -c SHA256SUMS)
grep -q "patches.example.org" "$work/unpacked/ADMINISTRATORS.txt"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/unpacked/KB835732Patcher.exe" | grep -q "Signature verification: ok"
# Tampering is caught by the sums.
echo x >> "$work/unpacked/KB835732Patcher.exe"
if (cd "$work/unpacked" && sha256sum -c --quiet SHA256SUMS 2>/dev/null); then
  echo "a changed program passed the checksums"; exit 1
fi
echo "release package: ok"
