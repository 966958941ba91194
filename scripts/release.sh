#!/usr/bin/env bash
# Makes a release of the program for one site: builds it with the site's
# settings, pinned to the SHA-256 of each package in the folder the site
# publishes as /patches/KB835732/, and packs it for the site's
# administrators as dist/KB835732Patcher-<version>.zip (the program, the
# site check built with the same settings and pins, ADMINISTRATORS.txt,
# PACKAGES.sha256 and SHA256SUMS).
#
#   release.sh --server HOST --signin HOST --phone TEXT --help-url URL
#              (--packages DIR | --unpinned)
#              [--sign-cert CERT.pem --sign-key KEY.pem] [--out DIR]
#
# With a certificate and key the program and the check are signed
# (Authenticode, through osslsigncode) before they are summed and packed.
# Everything is made in a folder of its own; the ZIP reaches the output
# folder only when all of it worked, so a failed release leaves nothing there.
set -euo pipefail
export LC_ALL=C
here=$PWD
cd "$(dirname "$0")/.."

# The eight names the program asks the patch server for, with the Windows
# each is for (src/inspect/package_plan.cpp).
names=(828028USA8.EXE 828028USAM.EXE WindowsNT4Workstation-KB835732-x86-ENU.EXE
       WindowsNT4Server-KB835732-x86-ENU.EXE WindowsNT4TerminalServer-KB835732-x86-ENU.EXE
       Windows2000-KB835732-x86-ENU.EXE WindowsXP-KB835732-x86-ENU.EXE
       WindowsServer2003-KB835732-x86-ENU.EXE)
systems=("Windows 98" "Windows Me" "Windows NT 4.0 Workstation"
         "Windows NT 4.0 Server (also NT 4.0 domain controllers)" "Windows NT 4.0 Terminal Server"
         "Windows 2000" "Windows XP"
         "Windows Server 2003")
# Microsoft's codes for the other languages of Windows, as the package names
# carry them in place of ENU (WindowsXP-KB835732-x86-DEU.EXE). A PC asks for
# its own language's name when the release holds it
# (src/inspect/install_language.cpp); 98 and Me have English names only.
languages=(ARA CHS CHT CSY DAN DEU ELL ESN FIN FRA HEB HUN ITA JPN KOR NLD NOR PLK PTB PTG RUS
           SVE TRK)

usage() {
  cat <<'EOF'
usage: scripts/release.sh --server HOST --signin HOST --phone TEXT --help-url URL
                          (--packages DIR | --unpinned)
                          [--sign-cert CERT.pem --sign-key KEY.pem] [--out DIR]

Builds the program for your site, pinned to the packages in DIR (the folder
you publish as /patches/KB835732/ on the patch server), and packs it as
dist/KB835732Patcher-<version>.zip: the program, the site check built with
it (KB835732SiteCheck.exe, to run on a PC of each Windows), ADMINISTRATORS.txt,
PACKAGES.sha256 and SHA256SUMS. Prints the ZIP's path.

options:
  --server HOST      the patch server's host name (or HOST:PORT)
  --signin HOST      the web sign-in service's host name
  --phone TEXT       the help desk's telephone number, shown in the messages
  --help-url URL     the help desk's web address, shown in the messages
  --packages DIR     the packages, each under the name the program asks for;
                     other languages' packages beside them, with the language's
                     code in place of ENU (WindowsXP-KB835732-x86-DEU.EXE)
  --unpinned         no packages: the program runs whatever the server sends
  --sign-cert FILE   sign the program and the check with this certificate (PEM) ...
  --sign-key FILE    ... and its private key (PEM, without a password)
  --out DIR          where the ZIP goes (dist/ in the source folder)
  -h, --help         show this help; nothing is built or changed

example:
  scripts/release.sh --server patches.example.org --signin signin.example.org \
    --phone "555 0100" --help-url http://help.example.org --packages ~/KB835732
EOF
}
fail() {
  echo "release: $*" >&2
  echo "release: nothing was released." >&2
  exit 1
}
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$here/$1" ;; esac; }

server= signin= phone= helpurl= packages= unpinned= cert= key= out=
while [ $# -gt 0 ]; do
  case "$1" in
    --unpinned) unpinned=1; shift; continue ;;
    --server|--signin|--phone|--help-url|--packages|--sign-cert|--sign-key|--out)
      [ $# -ge 2 ] || fail "$1 needs a value" ;;
    -h|--help) usage; exit 0 ;;
    *) fail "unknown argument '$1' (see scripts/release.sh --help)" ;;
  esac
  case "$1" in
    --server) server=$2 ;;
    --signin) signin=$2 ;;
    --phone) phone=$2 ;;
    --help-url) helpurl=$2 ;;
    --packages) packages=$(absolute "$2") ;;
    --sign-cert) cert=$(absolute "$2") ;;
    --sign-key) key=$(absolute "$2") ;;
    --out) out=$(absolute "$2") ;;
  esac
  shift 2
done
# dist/ in the source folder unless told otherwise.
[ -n "$out" ] || out=$PWD/dist

# The settings are built into the program as C string literals and shown in
# its messages: plain printable text without quotes or backslashes, and
# host names that make a working http:// address.
printable='^[ -~]+$'
host='^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?$'
check_setting() {
  local option=$1 value=$2 what=$3
  [ -n "$value" ] || fail "$option is missing: give $what."
  [[ $value =~ $printable ]] ||
    fail "$option holds a character other than plain printable ASCII (a line break, a tab, an accented letter...)."
  [[ $value != *[\"\\]* ]] || fail "$option '$value' must not contain quotes or backslashes."
}
check_setting --server "$server" "the patch server's host name, for example patches.example.org"
check_setting --signin "$signin" "the web sign-in service's host name, for example signin.example.org"
check_setting --phone "$phone" "the help desk's telephone number, for example \"555 0100\""
check_setting --help-url "$helpurl" "the help desk's web address, for example http://help.example.org"
for pair in "--server:$server" "--signin:$signin"; do
  [[ ${pair#*:} =~ $host ]] ||
    fail "${pair%%:*} '${pair#*:}' is not a host name (letters, digits, dots and hyphens, optionally :PORT)."
done

if [ -n "$packages" ] && [ -n "$unpinned" ]; then
  fail "give either --packages DIR or --unpinned, not both."
fi
if [ -z "$packages" ] && [ -z "$unpinned" ]; then
  cat >&2 <<'EOF'
release: give the package folder with --packages DIR.
  The program downloads its package over plain HTTP and runs it with the
  user's rights. Built from the package folder, it holds the SHA-256 of each
  package and runs only those files, byte for byte; without that, whoever
  can answer for the patch server on the network (a hostile Wi-Fi, a forged
  DNS answer, a proxy) chooses what runs.
  DIR is the folder you publish on the patch server as /patches/KB835732/,
  holding the packages under their own names (see docs/administrators.md,
  "Making a release for your site"). To make an unpinned release on
  purpose, give --unpinned instead.
release: nothing was released.
EOF
  exit 1
fi

# A package file: readable, longer than 100000 bytes, a Windows program.
# Sets size and digest.
inspect_package() {
  local file=$1 pe
  [ -f "$file" ] && [ -r "$file" ] || fail "$file is not a readable file."
  size=$(stat -L -c %s "$file")
  [ "$size" -gt 100000 ] ||
    fail "$file is $size bytes; the program treats a download of 100000 bytes or less as failed, so this cannot be its package."
  # A Windows program: "MZ", and "PE\0\0" where the 32-bit number at
  # offset 60 points.
  pe=$(od -An -v --endian=little -tu4 -j60 -N4 "$file" | tr -d ' ')
  if [ "$(head -c2 "$file")" != MZ ] || [ -z "$pe" ] || [ "$pe" -gt $((size - 4)) ] ||
     [ "$(od -An -v -tx1 -j"$pe" -N4 "$file" | tr -d ' \n')" != 50450000 ]; then
    fail "$file is not a Windows program (no PE header); the program could not run it."
  fi
  digest=$(sha256sum < "$file" | cut -c1-64)
}

# The package folder: every one of the eight names found there is pinned,
# and each of them in another language; any other file is only mentioned,
# as the program never asks for it.
pins=() sizes=() digests=() others=() other_sums=() held=() held_codes=()
if [ -n "$packages" ]; then
  [ -d "$packages" ] || fail "the package folder $packages does not exist."
  [ -n "$(ls -A "$packages")" ] || fail "the package folder $packages is empty."
  found=0
  for i in "${!names[@]}"; do
    file=$packages/${names[i]}
    sizes[i]= digests[i]= others[i]= other_sums[i]=
    if [ -e "$file" ]; then
      inspect_package "$file"
      sizes[i]=$size digests[i]=$digest
      pins+=("${names[i]}=$digest")
      found=$((found + 1))
    fi
    [[ ${names[i]} == *-ENU.* ]] || continue
    for code in "${languages[@]}"; do
      other=${names[i]/-ENU./-$code.}
      [ -e "$packages/$other" ] || continue
      inspect_package "$packages/$other"
      pins+=("$other=$digest") held+=("$other")
      [[ " ${held_codes[*]} " == *" $code "* ]] || held_codes+=("$code")
      others[i]+="  ${systems[i]}, in language $code"$'\n'"    $other"$'\n'
      others[i]+="    $size bytes, SHA-256 $digest"$'\n'
      other_sums[i]+="$digest  $other"$'\n'
      found=$((found + 1))
    done
  done
  for file in "$packages"/*; do
    base=${file##*/}
    [[ " ${names[*]} ${held[*]} " == *" $base "* ]] && continue
    [ -e "$file" ] || continue
    echo "release: note: $base in the package folder is not a name the program asks for; it is not pinned (names must match exactly, case included; other languages' codes: ${languages[*]})." >&2
  done
  [ "$found" -gt 0 ] ||
    fail "the package folder $packages holds none of the package names: ${names[*]}."
fi

if [ -n "$cert$key" ]; then
  [ -n "$cert" ] && [ -n "$key" ] || fail "signing needs both --sign-cert and --sign-key."
  command -v osslsigncode >/dev/null || fail "signing needs osslsigncode (apt-get install osslsigncode)."
  [ -f "$cert" ] && head -c1 "$cert" >/dev/null 2>&1 || fail "cannot read the signing certificate $cert."
  [ -f "$key" ] && head -c1 "$key" >/dev/null 2>&1 || fail "cannot read the signing key $key."
  if command -v openssl >/dev/null; then
    openssl x509 -noout -in "$cert" 2>/dev/null ||
      fail "the signing certificate $cert is not a PEM certificate."
    openssl pkey -noout -in "$key" -passin pass: 2>/dev/null ||
      fail "cannot read the signing key $key (not a PEM private key, or protected by a password)."
  fi
fi

version=$(sed -n 's/^project(KB835732Patcher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zipname=KB835732Patcher-$version.zip
stage=$(mktemp -d)
partial=
trap 'rm -rf "$stage"; [ -z "$partial" ] || rm -f "$partial"' EXIT

# A build folder of its own: nothing from an earlier build's cache comes in.
pinlist=$(IFS=';'; echo "${pins[*]}")
echo "release: building the program for $server" >&2
if ! { cmake --preset release -S . -B "$stage/build" -DPATCHER_SERVER_HOST="$server" \
         -DPATCHER_SIGNIN_HOST="$signin" -DPATCHER_HELPDESK_PHONE="$phone" \
         -DPATCHER_HELPDESK_URL="$helpurl" -DPATCHER_PACKAGE_SHA256="$pinlist" &&
       cmake --build "$stage/build" -j "$(nproc)" --target KB835732Patcher KB835732SiteCheck; } \
     >"$stage/build.log" 2>&1; then
  tail -30 "$stage/build.log" >&2
  fail "the build failed (above)."
fi

pack=$stage/pack
mkdir "$pack"
# The check travels with the program, so that it can be run on a PC of the
# site, with that PC's own network, proxy and trusted certificates.
for exe in KB835732Patcher.exe KB835732SiteCheck.exe; do
  if [ -n "$cert" ]; then
    title="KB835732 Patcher"
    [ "$exe" = KB835732Patcher.exe ] || title="KB835732 Site Check"
    osslsigncode sign -certs "$cert" -key "$key" -n "$title" -h sha256 \
      -in "$stage/build/$exe" -out "$pack/$exe" >"$stage/sign.log" 2>&1 ||
      { cat "$stage/sign.log" >&2; fail "signing failed (above)."; }
  else
    cp "$stage/build/$exe" "$pack/"
  fi
done
program_sum=$(cd "$pack" && sha256sum KB835732Patcher.exe)
check_sum=$(cd "$pack" && sha256sum KB835732SiteCheck.exe)

# What each Windows gets, and the one-command check of a server folder.
table=
for i in "${!names[@]}"; do
  table+="  ${systems[i]}"$'\n'"    ${names[i]}"$'\n'
  if [ -n "$unpinned" ]; then
    table+="    unpinned build"$'\n'
  elif [ -n "${digests[i]}" ]; then
    table+="    ${sizes[i]} bytes, SHA-256 ${digests[i]}"$'\n'
    echo "${digests[i]}  ${names[i]}" >> "$pack/PACKAGES.sha256"
  else
    table+="    not pinned: refused"$'\n'
  fi
  table+=${others[i]:-}
  [ -z "${other_sums[i]:-}" ] || printf '%s' "${other_sums[i]}" >> "$pack/PACKAGES.sha256"
done
if [ -n "$unpinned" ]; then
  heading="UNPINNED BUILD: this program runs whatever the patch server sends it.
Whoever can answer for the patch server on the network (a hostile Wi-Fi, a
forged DNS answer, a proxy) chooses what runs on your users' computers.
Make a pinned release with scripts/release.sh --packages DIR instead."
  check="This build is not pinned, so there is no list of package digests to
check the patch server's folder against."
else
  heading="Pinned build: this program runs only the ${#pins[@]} package(s) listed below
under \"What each Windows gets\", byte for byte. Any other file it downloads,
or a package it holds no digest for, is refused as a failed download,
deleted and never run."
  if [ ${#held_codes[@]} -gt 0 ]; then
    heading+="

Languages: besides English, it holds packages in ${held_codes[*]}. A PC whose
Windows was installed in one of these asks for that language's package
where it is listed below; any other asks for the English one, which
refuses to install on a Windows in another language."
  fi
  check="The patch server's folder against this release (PACKAGES.sha256 lists
the pinned packages); every line must say OK:
  cd /path/to/patches/KB835732 && sha256sum -c /path/to/PACKAGES.sha256"
fi
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    @HEADING@) printf '%s\n' "$heading" ;;
    @PACKAGES@) printf '%s' "$table" ;;
    @SERVER_CHECK@) printf '%s\n' "$check" ;;
    *)
      # Quoted replacements: an "&" in a setting stays an "&".
      line=${line//@SERVER@/"$server"} line=${line//@SIGNIN@/"$signin"}
      line=${line//@PHONE@/"$phone"} line=${line//@HELPURL@/"$helpurl"}
      line=${line//@VERSION@/"$version"} line=${line//@PROGRAM_SUM@/"$program_sum"}
      line=${line//@CHECK_SUM@/"$check_sum"}
      printf '%s\n' "$line" ;;
  esac
done < scripts/ADMINISTRATORS.txt.in > "$pack/ADMINISTRATORS.txt"

# The same inputs make the same ZIP, byte for byte: fixed dates, modes and order.
files=(KB835732Patcher.exe KB835732SiteCheck.exe ADMINISTRATORS.txt)
[ -e "$pack/PACKAGES.sha256" ] && files+=(PACKAGES.sha256)
(cd "$pack" && sha256sum "${files[@]}" > SHA256SUMS)
files+=(SHA256SUMS)
(cd "$pack" && chmod 644 "${files[@]}" && TZ=UTC touch -d 2000-01-01 "${files[@]}" &&
 TZ=UTC zip -q -X "$stage/$zipname" "${files[@]}")

mkdir -p "$out"
partial=$out/.$zipname.partial
cp "$stage/$zipname" "$partial"
mv -f "$partial" "$out/$zipname"
partial=
echo "$out/$zipname"
