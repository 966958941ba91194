#!/usr/bin/env bash
# Runs a Windows program in the project's 32-bit Wine prefix, under Xvfb.
#
#   wine-run.sh [--version NAME] PROGRAM [ARGS...]   run it, exit with its code
#   wine-run.sh --probe                               can this machine run Wine32?
#   wine-run.sh --stop                                end the wineserver and Xvfb
#
# The base prefix is made once (slow) under build/wine/base and reused;
# WINEPREFIX may name another. With --version the emulated Windows is set
# first (win31 win95 win98 winme nt351 nt40 win2k winxp win2003);
# PATCHER_WINE_VERSION does the same for runs started by ctest. Xvfb is
# started on a free display when none is given, and the wineserver is kept
# alive between runs so that a suite pays Wine's start-up only once.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
state=${PATCHER_WINE_STATE:-$here/../build/wine}
mkdir -p "$state"
state=$(cd "$state" && pwd)
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$state/base}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Why Wine32 cannot run here, or nothing when it can.
why_not() {
  if ! command -v wine >/dev/null; then
    echo "wine is not installed"; return
  fi
  local loader=/usr/lib/wine/wine
  [ -x "$loader" ] || { echo "the 32-bit Wine loader ($loader, package wine32:i386) is missing"; return; }
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386 \
     && [ "${PATCHER_WINE_EMULATED:-0}" != 1 ]; then
    echo "32-bit programs run here only through qemu-i386 emulation, where each Wine process start costs about a minute (set PATCHER_WINE_EMULATED=1 to try anyway)"; return
  fi
  local out
  if ! out=$(/lib/ld-linux.so.2 --version 2>&1 | head -1); then
    echo "this kernel cannot execute 32-bit x86 programs ($out)"; return
  fi
}

start_display() {
  [ -n "${DISPLAY:-}" ] && return
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    echo $! > "$state/xvfb.pid"
    echo ":$n" > "$state/xvfb.display"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    return
  done
  echo "wine-run: no free X display" >&2; exit 1
}

reuse_display() {
  [ -n "${DISPLAY:-}" ] && return
  if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
    export DISPLAY=$(cat "$state/xvfb.display")
  else
    start_display
  fi
}

make_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return
  echo "wine-run: making the Wine prefix $WINEPREFIX (once)" >&2
  wineboot -i >/dev/null 2>&1
  # No window manager under Xvfb: unmanaged windows avoid Wine's 2 s waits.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # A crash ends the process instead of starting the debugger.
  wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
  wineserver -w
}

case "${1:-}" in
  --probe)
    reason=$(why_not)
    if [ -n "$reason" ]; then echo "$reason"; exit 1; fi
    exit 0 ;;
  --stop)
    wineserver -k 2>/dev/null || true
    if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; rm -f "$state/xvfb.pid"; fi
    exit 0 ;;
esac

reason=$(why_not)
if [ -n "$reason" ]; then echo "wine-run: $reason" >&2; exit 125; fi

version=${PATCHER_WINE_VERSION:-}
if [ "${1:-}" = --version ]; then version=$2; shift 2; fi
reuse_display
make_prefix
wineserver -p >/dev/null 2>&1 || true
if [ -n "$version" ]; then wine winecfg -v "$version" >/dev/null 2>&1; fi
exec wine "$@"
