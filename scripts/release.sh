#!/usr/bin/env bash
# Builds the release program for a site and packs it for the site's
# administrators: dist/KB835732Patcher-<version>.zip with the program,
# ADMINISTRATORS.txt and SHA256SUMS.
#
#   release.sh --server HOST --signin HOST --phone TEXT --help-url URL \
#              [--sign-cert CERT.pem --sign-key KEY.pem] [--out DIR]
#
# With a certificate and key the program is signed (Authenticode, through
# osslsigncode) before it is summed and packed.
set -euo pipefail
cd "$(dirname "$0")/.."

server= signin= phone= helpurl= cert= key= out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --server) server=$2; shift 2 ;;
    --signin) signin=$2; shift 2 ;;
    --phone) phone=$2; shift 2 ;;
    --help-url) helpurl=$2; shift 2 ;;
    --sign-cert) cert=$2; shift 2 ;;
    --sign-key) key=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "release: unknown argument $1" >&2; exit 2 ;;
  esac
done

cmake --preset release -DPATCHER_SERVER_HOST="$server" -DPATCHER_SIGNIN_HOST="$signin" \
  -DPATCHER_HELPDESK_PHONE="$phone" -DPATCHER_HELPDESK_URL="$helpurl" >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
version=$(sed -n 's/^project(KB835732Patcher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
if [ -n "$cert" ]; then
  osslsigncode sign -certs "$cert" -key "$key" -n "KB835732 Patcher" -h sha256 \
    -in build/release/KB835732Patcher.exe -out "$stage/KB835732Patcher.exe" >/dev/null
else
  cp build/release/KB835732Patcher.exe "$stage/"
fi
sed -e "s|@SERVER@|$server|g" -e "s|@SIGNIN@|$signin|g" -e "s|@PHONE@|$phone|g" \
    -e "s|@HELPURL@|$helpurl|g" -e "s|@VERSION@|$version|g" scripts/ADMINISTRATORS.txt.in \
    > "$stage/ADMINISTRATORS.txt"
(cd "$stage" && sha256sum KB835732Patcher.exe ADMINISTRATORS.txt > SHA256SUMS)
mkdir -p "$out"
zip="$(cd "$out" && pwd)/KB835732Patcher-$version.zip"
rm -f "$zip"
(cd "$stage" && TZ=UTC touch -d 2000-01-01 ./* && zip -q -X "$zip" KB835732Patcher.exe ADMINISTRATORS.txt SHA256SUMS)
echo "$zip"
