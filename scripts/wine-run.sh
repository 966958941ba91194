#!/usr/bin/env bash
# Runs a Windows program in the project's 32-bit Wine prefix, under Xvfb.
#
#   wine-run.sh [--version NAME] PROGRAM [ARGS...]   run it, exit with its code
#   wine-run.sh --probe                               can this machine run Wine32?
#   wine-run.sh --stop                                end the wineserver and Xvfb
#   wine-run.sh --stop-server                         end the prefix's wineserver only
#
# The base prefix is made once (slow) under build/wine/base and reused;
# WINEPREFIX may name another. With --version the emulated Windows is set
# first (win31 win95 win98 winme nt351 nt40 win2k winxp win2003);
# PATCHER_WINE_VERSION does the same for runs started by ctest. The program
# runs as on an English Windows unless PATCHER_WINE_LOCALE names another
# language's locale. Xvfb is
# started on a free display when none is given, and the wineserver is kept
# alive between runs so that a suite pays Wine's start-up only once.
# A program that crashes ends at once, and the run then says on stderr
# "wine-run: crashed (WHAT WINE SAW), exit code N".
set -euo pipefail

# Xvfb, the wineserver and Wine's session processes outlive this run and keep
# every file they inherit open: a lock that the caller holds (flock FILE
# wine-run.sh ...) would stay held until they end, minutes later. Only the
# standard ones go on (255 is bash's own copy of this script).
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  if [ "$fd" -gt 2 ] && [ "$fd" != 255 ]; then eval "exec $fd>&-"; fi
done

here=$(cd "$(dirname "$0")" && pwd)
state=${PATCHER_WINE_STATE:-$here/../build/wine}
mkdir -p "$state"
state=$(cd "$state" && pwd)
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$state/base}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# A crash ends the process at once. Wine starts "winedbg --auto" on an
# unhandled exception whenever the prefix names no other debugger, and
# winedbg then waits for good with nobody to answer it.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winedbg.exe=d"

native_32bit() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 && ! binfmt_enabled
}

binfmt_enabled() {
  # A qemu-i386 registration shows only where binfmt_misc is mounted; where
  # it is not, 32-bit programs would seem to run natively through it, and
  # Wine would die as it starts. Root mounts it to look.
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q enabled /proc/sys/fs/binfmt_misc/qemu-i386
}

# Where this machine cannot execute 32-bit code (a paravirtualised guest
# without 32-bit user mode, say), Wine's 32-bit processes run under qemu-i386
# user emulation, with a small preloaded library that mends two qemu faults
# Wine trips over (scripts/qemu/wine_guest_shim.c), and the native 64-bit
# wineserver.
use_emulation() {
  binfmt_enabled || {
    # A fresh machine may not have binfmt_misc mounted at all (no systemd to
    # do it in a container); root can mount it.
    [ -e /proc/sys/fs/binfmt_misc/register ] ||
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
    [ -w /proc/sys/fs/binfmt_misc/register ] || return 1
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > /proc/sys/fs/binfmt_misc/register 2>/dev/null || return 1
  }
  local shim=$state/wine_guest_shim.so
  if [ ! -f "$shim" ] || [ "$here/qemu/wine_guest_shim.c" -nt "$shim" ]; then
    gcc -m32 -O2 -fPIC -shared -nostdlib -o "$shim" "$here/qemu/wine_guest_shim.c" || return 1
  fi
  # libgcc_s too: without it thread exits in Wine's service processes abort.
  export QEMU_SET_ENV=LD_PRELOAD=$shim:/lib/i386-linux-gnu/libgcc_s.so.1
  export WINESERVER=/usr/lib/wine/wineserver64
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
}

# Why Wine32 cannot run here, or nothing when it can.
why_not() {
  if ! command -v wine >/dev/null; then
    echo "wine is not installed"; return
  fi
  [ -x /usr/lib/wine/wine ] || { echo "the 32-bit Wine loader (package wine32:i386) is missing"; return; }
  native_32bit && return
  [ -x /usr/bin/qemu-i386-static ] || { echo "this machine cannot execute 32-bit x86 code and qemu-i386-static is missing"; return; }
  [ -x /usr/lib/wine/wineserver64 ] || { echo "emulated Wine needs the native wineserver (package wine64)"; return; }
  if [ "${PATCHER_WINE_EMULATED:-0}" != 1 ]; then
    echo "this machine cannot execute 32-bit x86 code; the Wine suites can run under qemu-i386 emulation with PATCHER_WINE_EMULATED=1 (each process is slower, and qemu now and then crashes or stalls one)"
    return
  fi
  use_emulation || echo "this machine cannot execute 32-bit x86 code, and qemu-i386 could not be set up for it (binfmt_misc needs root)"
}

# A display is ours only if our Xvfb made it and still runs: another X
# server may take the same number between our look and Xvfb's start (Xvfb
# then ends), and a slow start may take longer than any fixed wait.
start_display() {
  [ -n "${DISPLAY:-}" ] && return
  local n pid
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 9>&- &
    pid=$!
    for _ in $(seq 600); do
      kill -0 "$pid" 2>/dev/null || break
      [ -e "/tmp/.X11-unix/X$n" ] && [ "$(cat "/tmp/.X$n-lock" 2>/dev/null | tr -d ' ')" = "$pid" ] && break
      sleep 0.1
    done
    if ! kill -0 "$pid" 2>/dev/null || [ "$(cat "/tmp/.X$n-lock" 2>/dev/null | tr -d ' ')" != "$pid" ]; then
      kill "$pid" 2>/dev/null || true
      continue
    fi
    echo "$pid" > "$state/xvfb.pid"
    echo ":$n" > "$state/xvfb.display"
    export DISPLAY=":$n"
    return
  done
  echo "wine-run: no free X display" >&2; exit 1
}

# Our Xvfb from an earlier run, if it still runs (a pid can be reused).
our_xvfb() {
  local pid
  pid=$(cat "$state/xvfb.pid" 2>/dev/null) || return 1
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]
}

reuse_display() {
  [ -n "${DISPLAY:-}" ] && return
  if our_xvfb; then
    export DISPLAY=$(cat "$state/xvfb.display")
  else
    start_display
  fi
}

# The wineserver of this prefix, if one runs.
prefix_server() {
  local pid
  for pid in $(pgrep -x wineserver64 2>/dev/null); do
    # The braces: a server that ends meanwhile makes the redirection itself fail.
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"; return
    fi
  done
}

# A wineserver that stays between runs. When none runs, Wine starts one
# itself, through Debian's wrapper, which makes it end with its last process;
# each later run would then find it ending (so ours cannot start) and pay
# Wine's whole start-up again: about 5 s a run under emulation, more under
# load. Such a server is waited out first.
keep_server() {
  local pid
  pid=$(prefix_server)
  if [ -n "$pid" ] && ! { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -q -- "-p600"; then
    timeout 60 "${WINESERVER:-wineserver}" -w >/dev/null 2>&1 9>&- || true
  fi
  "${WINESERVER:-wineserver}" -p600 >/dev/null 2>&1 9>&- || true
}

make_prefix() {
  # The registry files appear only when the wineserver saves them, so a
  # stamp of our own marks a finished prefix.
  [ -f "$WINEPREFIX/.patcher-ready" ] && return
  echo "wine-run: making the Wine prefix $WINEPREFIX (once)" >&2
  keep_server
  timeout 300 wineboot -i >/dev/null 2>&1 9>&- || true
  # No window manager under Xvfb: unmanaged windows avoid Wine's 2 s waits.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 9>&-
  touch "$WINEPREFIX/.patcher-ready"
}

# The PCs of the package table speak TLS 1.0 at most (SSL 3.0, which Wine no
# longer speaks, aside), so the prefix does too: Wine's TLS honours
# Schannel's own switches. Prefixes made before this are mended once.
limit_tls() {
  [ -f "$WINEPREFIX/.patcher-tls10" ] && return
  local protocol key='HKLM\System\CurrentControlSet\Control\SecurityProviders\SCHANNEL\Protocols'
  for protocol in 'TLS 1.1' 'TLS 1.2' 'TLS 1.3'; do
    wine reg add "$key\\$protocol\\Client" /v Enabled /t REG_DWORD /d 0 /f >/dev/null 2>&1 9>&-
    wine reg add "$key\\$protocol\\Client" /v DisabledByDefault /t REG_DWORD /d 1 /f >/dev/null 2>&1 9>&-
  done
  touch "$WINEPREFIX/.patcher-tls10"
}

case "${1:-}" in
  --probe)
    reason=$(why_not)
    if [ -n "$reason" ]; then echo "$reason"; exit 1; fi
    native_32bit && echo "native" || echo "emulated (qemu-i386)"
    exit 0 ;;
  --stop-server)
    # Only the prefix's wineserver (another prefix beside the usual one).
    native_32bit || use_emulation || true
    "${WINESERVER:-wineserver}" -k 2>/dev/null || true
    exit 0 ;;
  --stop)
    native_32bit || use_emulation || true
    "${WINESERVER:-wineserver}" -k 2>/dev/null || true
    if our_xvfb; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
    rm -f "$state/xvfb.pid"
    exit 0 ;;
esac

reason=$(why_not)
if [ -n "$reason" ]; then echo "wine-run: $reason" >&2; exit 125; fi
native_32bit || use_emulation

version=${PATCHER_WINE_VERSION:-}
if [ "${1:-}" = --version ]; then version=$2; shift 2; fi
# Runs started at once (a stress run beside a suite, say) share the display,
# the prefix and its server: one at a time sets them up. What starts while
# the lock is held does not inherit it (9>&-).
exec 9>"$state/setup.lock"
flock 9
reuse_display
make_prefix
keep_server
limit_tls
if [ -n "$version" ]; then wine winecfg -v "$version" >/dev/null 2>&1 9>&-; fi
flock -u 9
exec 9>&-
# Wine's session processes (services, the desktop) outlive the program and
# keep whatever output they inherit; through a file, nobody waits on a pipe.
output=$(mktemp "$state/run.XXXXXX")
pass_on() {
  grep -v "^ERROR: ld.so: object .* from LD_PRELOAD cannot be preloaded" "$output" || true
  rm -f "$output"
}
# A run ended by a signal (a caller's time limit, a Ctrl-C) still passes on
# what the program had printed.
trap pass_on EXIT
code=0
# The Windows plays English whatever this machine's locale: Wine takes the
# install language (GetSystemDefaultUILanguage) and the buttons' language
# from the locale. PATCHER_WINE_LOCALE names another (de_DE.UTF-8: German;
# Wine reads the name itself, no Debian locale is needed). Set for the one
# command only: bash would warn of a locale this machine lacks.
LC_ALL=${PATCHER_WINE_LOCALE:-C.UTF-8} wine "$@" >"$output" 2>&1 </dev/null || code=$?
# The exit status keeps only the low 8 bits of an exception's code, so a
# crash looks like any exit code. Wine tells of it, whatever WINEDEBUG says.
crash=$(sed -n 's/^wine: \(.*\) (thread [0-9a-fA-F]*), starting debugger\.\.\..*/\1/p' "$output" | head -1)
trap - EXIT
pass_on
if [ "$code" != 0 ] && [ -n "$crash" ]; then
  echo "wine-run: crashed ($crash), exit code $code" >&2
fi
exit "$code"
