#!/usr/bin/env bash
# Checks the live site before a release goes out. Runs the site check the
# release holds (KB835732SiteCheck.exe, built from the program's own
# download engine, sign-in handling and pins in the same build as the
# program) under Wine from this machine, the very file an administrator
# would run on a PC of the site, and prints one line per package: how it
# came (directly or through the sign-in pages, redirects), its bytes and
# whether the server announced them, time and rate, and what the program
# would do with it: run it, refuse it, or be "unable to download" it, and
# why. Nothing fetched is ever run, and nothing is left behind.
#
#   check-site.sh dist/KB835732Patcher-<version>.zip [--packages DIR] [OPTION...]
#   check-site.sh --server HOST --signin HOST --phone TEXT --help-url URL
#                 (--packages DIR | --unpinned) [OPTION...]
#   check-site.sh --handshakes HOST[:PORT] [--tls1-turned-on [--ssl2-turned-off]]
#                 [--proxy HOST:PORT] [--ca FILE]
# options:
#   --ca FILE          trust this CA certificate (PEM or DER), as the users'
#                      PCs do through their own store; may be repeated
#   --proxy HOST:PORT  go through this proxy, as the users' PCs do (without
#                      it the check goes direct, whatever http_proxy says)
#   --only PACKAGE     check only this package; may be repeated
#   --tls1-turned-on   the PCs have TLS 1.0 turned on in Internet Options (by
#                      policy): Windows 98, Me, NT 4.0 and 2000, and XP and
#                      Server 2003 on Internet Explorer 6, are judged by their
#                      TLS 1.0 hello, not by SSL 3.0, their default; in the
#                      SSL 2.0 format while SSL 2.0 is on, as it is by default
#   --ssl2-turned-off  with --tls1-turned-on: the PCs have SSL 2.0 turned off
#                      too, and those on Internet Explorer 6 send their TLS
#                      1.0 hello in the TLS format
#
# Every HTTPS host on a package's route (the sign-in service, a redirect to
# https) is then sent the very hellos that package's Windows' PCs send
# (scripts/handshakes.py): the line says for which PCs it holds, what fails
# there, and below the lines what to change on the server; with --ca, a
# chain to none of those CAs fails the PCs. Where the handshakes cannot be
# tried, the lines stay and one more says why. --handshakes tries one host
# so, alone: no release, no Wine, in seconds.
#
# With a release ZIP the settings and pins are its own (ADMINISTRATORS.txt,
# PACKAGES.sha256, and the program and the check must hold the same); a
# package folder given beside it must hold the pinned files. With
# release.sh's flags a release is made first, in a scratch folder, and its
# check is run.
#
# Exit code: 0 when every package checked would run, 1 when one would not,
# 2 when nothing was checked (bad input, a failed build, no Wine, a patch
# server that does not answer) or the check did not finish (it crashed, or
# ran past 900 seconds a package: PATCHER_CHECK_SECONDS), or its handshakes
# could not be tried and no package line fails (one that fails keeps 1).
# Works under build/check-site, with a Wine prefix of its own there (and the
# CA helper built there for --ca); PATCHER_CHECK_STATE and PATCHER_WINE_STATE
# name other folders; PATCHER_TESTSSL_DATA names testssl.sh's client data
# where it is not in Debian's place.
set -euo pipefail
export LC_ALL=C
here=$PWD
cd "$(dirname "$0")/.."
repo=$PWD

usage() {
  cat <<'EOF'
usage: scripts/check-site.sh RELEASE.zip [--packages DIR] [OPTION...]
       scripts/check-site.sh --server HOST --signin HOST --phone TEXT --help-url URL
                             (--packages DIR | --unpinned) [OPTION...]
       scripts/check-site.sh --handshakes HOST[:PORT] [--tls1-turned-on [--ssl2-turned-off]]
                             [--proxy HOST:PORT] [--ca FILE]

Checks the live site as your users' PCs will meet it. For each package the
release pins (each of the eight when it pins none) it fetches the package
as the program would, never runs it, and prints one line: the route, the
bytes, the time and what the program would do with it. Every HTTPS host on
a package's route is then sent the hellos that package's Windows' PCs send,
byte for byte, and the line says for which PCs it holds and what fails
there; what to change on the server follows the lines. Instead of a ZIP it
takes release.sh's own settings (scripts/release.sh --help) and checks the
release they make.

--handshakes HOST[:PORT] tries one HTTPS host alone (port 443 unless
given), in seconds, with no release and no Wine: one line per Windows and
kind of PC, its verdict last; with --ca, a certificate that leads to none
of those CAs fails the PCs (they trust those only).

options:
  --packages DIR     beside a ZIP: the folder you publish must hold the
                     pinned files, byte for byte
  --ca FILE          trust this CA certificate (PEM or DER), as the users'
                     PCs do; may be repeated
  --proxy HOST:PORT  go through this proxy, as the users' PCs do
  --only PACKAGE     check only this package; may be repeated
  --tls1-turned-on   the PCs have TLS 1.0 turned on in Internet Options: the
                     old Windows are judged by their TLS 1.0 hello, not SSL 3.0
                     (in the SSL 2.0 format while SSL 2.0 is on, its default)
  --ssl2-turned-off  with --tls1-turned-on: SSL 2.0 is turned off there too
  -h, --help         show this help; nothing is checked or changed

A check still running after 900 seconds a package is given up
(PATCHER_CHECK_SECONDS sets the seconds a package).
Exit code: 0 when every package checked would run, 1 when one would not,
2 when nothing was checked or the check did not finish (its handshakes
not tried among it).

examples:
  scripts/check-site.sh dist/KB835732Patcher-1.0.0.zip --ca site-ca.pem
  scripts/check-site.sh --handshakes signin.example.org
EOF
}
fail() {
  echo "check-site: $*" >&2
  echo "check-site: nothing was checked." >&2
  exit 2
}
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$here/$1" ;; esac; }

zip= packages= cas=() proxy= only=() release_flags=() tls1= ssl2off= handshakes=
while [ $# -gt 0 ]; do
  case "$1" in
    --handshakes)
      [ $# -ge 2 ] || fail "$1 needs a value"
      handshakes=$2; shift 2; continue ;;
    --unpinned) release_flags+=("$1"); shift; continue ;;
    --tls1-turned-on) tls1=1; shift; continue ;;
    --ssl2-turned-off) ssl2off=1; shift; continue ;;
    --server|--signin|--phone|--help-url|--packages|--ca|--proxy|--only)
      [ $# -ge 2 ] || fail "$1 needs a value" ;;
    -h|--help) usage; exit 0 ;;
    -*) fail "unknown option '$1' (see scripts/check-site.sh --help)" ;;
    *)
      [ -z "$zip" ] || fail "give one release ZIP, not '$zip' and '$1'"
      zip=$(absolute "$1"); shift; continue ;;
  esac
  case "$1" in
    --server|--signin|--phone|--help-url) release_flags+=("$1" "$2") ;;
    --packages) packages=$(absolute "$2") ;;
    --ca) cas+=("$(absolute "$2")") ;;
    --proxy) proxy=$2 ;;
    --only) only+=("$2") ;;
  esac
  shift 2
done
[ -z "$ssl2off" ] || [ -n "$tls1" ] ||
  fail "--ssl2-turned-off goes with --tls1-turned-on (SSL 2.0 off alone leaves the PCs on SSL 3.0)"
if [ -n "$proxy" ] && ! [[ $proxy =~ ^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?:[0-9]{1,5}$ ]]; then
  fail "--proxy '$proxy' is not HOST:PORT"
fi
# The PCs' TLS as given, for the handshakes: a --ca given is the PCs' trust.
tls_args=(${proxy:+--proxy "$proxy"} ${tls1:+--tls1-turned-on} ${ssl2off:+--ssl2-turned-off})
for ca in "${cas[@]}"; do
  [ -f "$ca" ] && [ -r "$ca" ] || fail "cannot read the CA certificate $ca"
  tls_args+=(--ca "$ca")
done
# One host's handshakes: no release, no Wine.
if [ -n "$handshakes" ]; then
  [ -z "$zip" ] && [ ${#release_flags[@]} -eq 0 ] && [ -z "$packages" ] && [ ${#only[@]} -eq 0 ] ||
    fail "--handshakes takes a host, and --tls1-turned-on, --ssl2-turned-off, --proxy, --ca only"
  [[ $handshakes =~ ^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?$ ]] ||
    fail "--handshakes '$handshakes' is not HOST[:PORT]"
  exec python3 scripts/handshakes.py --host "$handshakes" "${tls_args[@]}"
fi
if [ -n "$zip" ] && [ ${#release_flags[@]} -gt 0 ]; then
  fail "give a release ZIP or release.sh's settings, not both"
fi
if [ -z "$zip" ] && [ ${#release_flags[@]} -eq 0 ]; then
  fail "give the release to check: check-site.sh dist/KB835732Patcher-<version>.zip"
fi
seconds=${PATCHER_CHECK_SECONDS:-900}
[[ $seconds =~ ^[1-9][0-9]{0,5}$ ]] || fail "PATCHER_CHECK_SECONDS '$seconds' is not a number of seconds"

scratch=$(mktemp -d)
own_wine=
cleanup() {
  rm -rf "$scratch"
  # A prefix of the check's own: its Wine and X server end with the check.
  [ -z "$own_wine" ] || scripts/wine-run.sh --stop >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Each CA as DER, which the prefix's store takes; none is added unless all are certificates.
ders=()
for i in "${!cas[@]}"; do
  ca=${cas[i]} der=$scratch/ca-$i.der
  openssl x509 -in "$ca" -outform DER -out "$der" 2>/dev/null ||
    openssl x509 -inform DER -in "$ca" -outform DER -out "$der" 2>/dev/null ||
    fail "$ca is not a certificate (PEM or DER)"
  ders+=("$der")
done

# release.sh's settings: a release made here, checked like any other.
if [ -z "$zip" ]; then
  [ -z "$packages" ] || release_flags+=(--packages "$packages")
  echo "check-site: making the release to check" >&2
  zip=$(scripts/release.sh "${release_flags[@]}" --out "$scratch/dist" 2>"$scratch/release.log") || {
    sed 's/^release: nothing was released\.$//' "$scratch/release.log" | grep -v '^$' >&2
    fail "no release could be made from these settings (above)"
  }
  packages=
fi

# A release is what release.sh packs: its files, as its SHA256SUMS lists them.
unpacked=$scratch/release
mkdir "$unpacked"
[ -f "$zip" ] || fail "$zip does not exist"
unzip -q "$zip" -d "$unpacked" 2>/dev/null || fail "$zip is not a release (not a ZIP file)"
for file in KB835732Patcher.exe ADMINISTRATORS.txt SHA256SUMS; do
  [ -f "$unpacked/$file" ] || fail "$zip is not a release (no $file in it)"
done
[ -f "$unpacked/KB835732SiteCheck.exe" ] ||
  fail "$zip holds no KB835732SiteCheck.exe: it was made before the check came with the release; make it again with scripts/release.sh"
(cd "$unpacked" && sha256sum -c --quiet --strict SHA256SUMS >/dev/null 2>&1) ||
  fail "$zip is not a release as made: its files do not match its SHA256SUMS"
# A file SHA256SUMS does not name would pass unchecked.
for file in KB835732Patcher.exe KB835732SiteCheck.exe ADMINISTRATORS.txt; do
  grep -qE "^[0-9a-f]{64}  $file\$" "$unpacked/SHA256SUMS" ||
    fail "$zip is not a release as made: its SHA256SUMS does not list $file"
done
notes=$unpacked/ADMINISTRATORS.txt
setting() { sed -n "s/^  $1 *//p" "$notes" | head -1; }
server=$(setting "patch server") signin=$(setting "sign-in service") helpdesk=$(setting "help desk")
[ -n "$server" ] && [ -n "$signin" ] && [ -n "$helpdesk" ] ||
  fail "$zip is not a release: its ADMINISTRATORS.txt does not list the site's settings"
host='^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?$'
[[ $server =~ $host ]] && [[ $signin =~ $host ]] ||
  fail "$zip is not a release: the hosts its ADMINISTRATORS.txt lists are not host names"
pins=() pinned_names=()
case "$(head -1 "$notes")" in
  "Pinned build"*)
    [ -f "$unpacked/PACKAGES.sha256" ] || fail "$zip is pinned but holds no PACKAGES.sha256"
    while read -r digest name; do
      [[ $digest =~ ^[0-9a-f]{64}$ ]] && [ -n "$name" ] ||
        fail "$zip is not a release: a line of its PACKAGES.sha256 is not 'DIGEST  NAME'"
      pins+=("$name=$digest") pinned_names+=("$name")
    done < "$unpacked/PACKAGES.sha256"
    [ ${#pins[@]} -gt 0 ] || fail "$zip is pinned but its PACKAGES.sha256 is empty" ;;
  "UNPINNED BUILD"*) ;;
  *) fail "$zip is not a release: its ADMINISTRATORS.txt does not say whether it is pinned" ;;
esac
pinlist=$(IFS=';'; echo "${pins[*]}")

# The notes must describe the program and the check: their settings are
# string literals in them. The help desk line is "PHONE, URL" where either
# may hold ", ".
program=$unpacked/KB835732Patcher.exe check=$unpacked/KB835732SiteCheck.exe
holds() { grep -qaF -- "$1" "$program"; }
phone= helpurl= before= rest=$helpdesk
while [[ $rest == *", "* ]]; do
  before+=${rest%%, *} rest=${rest#*, }
  if holds "For assistance please call $before or go to $rest"; then
    phone=$before helpurl=$rest
    break
  fi
  before+=", "
done
built_as_listed() { # FILE: its site settings and pins are the notes'
  grep -qaF -- "http://$server/patches/KB835732/" "$1" &&
    grep -qaF -- "https://$signin/login/?RT=" "$1" &&
    { [ -z "$pinlist" ] || grep -qaF -- "$pinlist" "$1"; }
}
if [ -z "$phone" ] || ! built_as_listed "$program"; then
  fail "$zip is not a release as made: its program was not built with the settings and pins its ADMINISTRATORS.txt lists"
fi
built_as_listed "$check" ||
  fail "$zip is not a release as made: its check was not built with the settings and pins its ADMINISTRATORS.txt lists"

# A package folder beside the ZIP: the files the release pins, byte for byte.
if [ -n "$packages" ]; then
  [ -d "$packages" ] || fail "the package folder $packages does not exist"
  [ ${#pins[@]} -gt 0 ] || fail "$zip is unpinned: it lists no packages to compare $packages with"
  for pin in "${pins[@]}"; do
    name=${pin%%=*} file=$packages/${pin%%=*}
    [ -f "$file" ] || fail "the package folder does not match the release: it has no $name (names are exact, case included)"
    [ "$(sha256sum < "$file" | cut -c1-64)" = "${pin#*=}" ] ||
      fail "the package folder does not match the release: its $name is not the file the release pins"
  done
fi
if [ ${#pins[@]} -gt 0 ]; then
  for name in "${only[@]}"; do
    [[ " ${pinned_names[*]} " == *" $name "* ]] ||
      fail "--only $name is not a package this release pins (${pinned_names[*]})"
  done
fi

# Everything given is sound: from here on the build folder and the prefix change.
state=${PATCHER_CHECK_STATE:-$repo/build/check-site}
mkdir -p "$state"
state=$(cd "$state" && pwd)
exec 8>"$state/lock"
flock 8
if [ -z "${PATCHER_WINE_STATE:-}" ]; then
  export PATCHER_WINE_STATE=$state/wine
  own_wine=1
fi
export PATCHER_WINE_EMULATED=${PATCHER_WINE_EMULATED:-1}
reason=$(scripts/wine-run.sh --probe) || fail "cannot run the check here: $reason"

# The CA helper only, for --ca: the check itself is the release's. One
# build folder, configured with the release's settings as any build must be.
if [ ${#ders[@]} -gt 0 ] &&
   ! { cmake --preset release -S "$repo" -B "$state/build" -DPATCHER_SERVER_HOST="$server" \
         -DPATCHER_SIGNIN_HOST="$signin" -DPATCHER_HELPDESK_PHONE="$phone" \
         -DPATCHER_HELPDESK_URL="$helpurl" -DPATCHER_PACKAGE_SHA256="$pinlist" &&
       cmake --build "$state/build" -j "$(nproc)" --target add_root_ca; } \
     >"$state/build.log" 2>&1; then
  tail -30 "$state/build.log" >&2
  fail "the build of the CA helper failed (above)"
fi
echo "check-site: running the release's check for $server" >&2

winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd | tr / '\\')\\$(basename "$1")"; }
for i in "${!ders[@]}"; do
  code=0
  scripts/wine-run.sh "$state/build/add_root_ca.exe" "$(winpath "${ders[i]}")" \
    >"$scratch/ca.log" 2>&1 || code=$?
  if [ "$code" != 0 ]; then
    cat "$scratch/ca.log" >&2
    fail "the Wine prefix would not take ${cas[i]} as a trusted root (exit code $code)"
  fi
done

# The check runs from a folder of its own, which it leaves as it found it.
run=$state/run
rm -rf "$run"
mkdir "$run"
cp "$check" "$run/"
unset http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY
if [ -n "$proxy" ]; then
  export http_proxy=http://$proxy
  echo "check-site: through the proxy $proxy"
fi
# A check that hangs (Wine stuck, a server that keeps it busy past every
# limit of the program's) is ended, with whatever it runs.
checked=${#only[@]}
[ "$checked" -gt 0 ] || checked=${#pins[@]}
[ "$checked" -gt 0 ] || checked=8
# As Windows XP, whatever the prefix played last: the check's first line
# names the Windows it runs on, and Wine's own default is no Windows of the
# site's.
timeout -k 10 $((seconds * checked)) scripts/wine-run.sh --version winxp \
  "$run/KB835732SiteCheck.exe" "${only[@]}" >"$scratch/table" 2>&1 &
timer=$!
# timeout runs the check in a process group of its own, which a Ctrl-C at
# the terminal does not reach: it is passed on.
trap 'kill -TERM "$timer" 2>/dev/null; wait "$timer" || true; exit 130' INT TERM
code=0
wait "$timer" || code=$?
trap - INT TERM
# Under qemu-i386, Wine's own background processes now and then die with a
# word on the way out; that is no part of the table.
tr -d '\r' < "$scratch/table" | grep -v -e '^qemu: uncaught target signal' -e '^wine client error' \
  > "$scratch/lines" || true
ended=
if [ "$code" = 124 ] || [ "$code" = 137 ]; then
  packages_checked="$checked packages"
  [ "$checked" != 1 ] || packages_checked="1 package"
  ended="ran past its bound of $seconds seconds a package ($((seconds * checked)) s for $packages_checked) and was ended"
elif grep -q '^wine-run: crashed' "$scratch/lines"; then
  ended="crashed"
fi
if [ -n "$ended" ]; then
  cat "$scratch/lines"
  # Ended mid-fetch, it could not delete what it had saved.
  find "$run" -mindepth 1 -maxdepth 1 ! -name KB835732SiteCheck.exe -exec rm -rf {} +
  echo "check-site: the check $ended; the lines above are all it finished." >&2
  exit 2
fi
case "$code" in
  0|1|2) ;;
  *) cat "$scratch/lines"; echo "check-site: the check did not finish (exit code $code)" >&2; exit 2 ;;
esac
# The handshake each package's Windows would make at the HTTPS hosts of its
# route: Wine's TLS is not the PCs'. The step prints the table, judged or,
# where it cannot try them, as it came; a step that ends before it prints
# anything leaves the table to be printed here, with why.
judged=0
python3 scripts/handshakes.py --code "$code" "${tls_args[@]}" < "$scratch/lines" \
  > "$scratch/judged" || judged=$?
if [ -s "$scratch/judged" ] || ! [ -s "$scratch/lines" ]; then
  cat "$scratch/judged"
else
  note="handshakes: not tried, so the lines above say nothing of the PCs' own TLS: scripts/handshakes.py ended with exit code $judged (above)"
  awk -v note="$note" '/^summary: / && !said { print note; said = 1 } { print } END { if (!said) print note }' \
    "$scratch/lines"
  judged=2
  [ "$code" != 1 ] || judged=1
fi
left=$(ls -A "$run" | grep -vx KB835732SiteCheck.exe || true)
[ -z "$left" ] || { echo "check-site: the check left files behind in $run: $left" >&2; exit 2; }
exit "$judged"
