#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev googletest python3 openssl zip unzip
  clang-tidy clang-format cppcheck gcovr
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine64 qemu-user-static xvfb x11-utils imagemagick osslsigncode
  nginx squid gnutls-bin lighttpd lighttpd-mod-gnutls
  # the old PCs' recorded hellos (testssl.sh's client data); Java for the sign-in front
  testssl.sh openjdk-17-jre-headless openjdk-17-jdk-headless
  # the sign-in front: Jetty 9 with its proxy module (jetty9-proxy.jar)
  libjetty9-java libjetty9-extra-java
  # the Unix locales that a prefix playing a Japanese or Chinese Windows needs
  locales
)
# Wine names files through the Unix locale: without it generated, a program
# in a folder with a Japanese or Chinese name cannot even be found.
locales=(ja_JP zh_TW)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

make_locales() {
  local name
  for name in "${locales[@]}"; do
    locale -a 2>/dev/null | grep -qix "$name.utf8" && continue
    echo "install-deps: generating the locale $name.UTF-8"
    as_root localedef -i "$name" -f UTF-8 "$name.UTF-8"
  done
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  make_locales
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi
as_root apt-get update -q
# nginx, squid and lighttpd serve the tests only, started by them on loopback ports:
# their packages must not start them as services on every interface.
# Debian asks /usr/sbin/policy-rc.d before starting a service; 101 says no.
policy=/usr/sbin/policy-rc.d
made_policy=
if [ ! -e "$policy" ]; then
  as_root sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy"
  made_policy=1
fi
status=0
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" || status=$?
if [ -n "$made_policy" ]; then as_root rm -f "$policy"; fi
[ "$status" = 0 ] && make_locales
exit "$status"
