#!/usr/bin/env bash
# The program's main job, on a fresh Debian machine: builds it for the demo
# site on loopback (the patch server behind the web sign-in, over HTTPS,
# serving a stand-in package), and runs it in the Wine prefix as Windows XP.
#
# With a display (DISPLAY set) you click the real windows yourself. Without
# one it runs under Xvfb, answers the windows itself, saves a screenshot of
# each step as PNG under build/demo/screenshots, and prints what happened;
# it fails, saying which, when a step's window was not seen or pictured.
# The stand-in package records the update as installed, so the second run
# shows "Patch not required"; each demo starts from an unpatched machine.
#
# demo.sh --check shows instead what an administrator does before handing
# the program out: a release pinned to a package folder (the stand-in under
# the Windows XP and Windows 98 names), checked against the demo site with
# scripts/check-site.sh, whose own Wine prefix trusts the site's CA only
# because --ca names it, for PCs with TLS 1.0 turned on.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)

usage() {
  cat <<'EOF'
usage: scripts/demo.sh [--check]

Builds the program for a demo site on loopback (the patch server behind the
web sign-in service, serving a stand-in package) and runs it as Windows XP
under Wine, twice: the first run asks, downloads through the sign-in pages
and runs the package, the second says the patch is not required. Without a
display it answers the windows itself, saves a screenshot of each step
under build/demo/screenshots, and fails when a step was not seen. With one
(DISPLAY set) you click the windows yourself. Installs what it needs first.

options:
  --check     show instead what an administrator does before handing the
              program out: a release pinned to a package folder, checked
              against the demo site with scripts/check-site.sh
  -h, --help  show this help; nothing is installed, built or run

example:
  bash scripts/demo.sh
EOF
}
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  ""|--check) ;;
  *) echo "demo: unknown argument '$1' (see scripts/demo.sh --help)" >&2; exit 2 ;;
esac

scripts/install-deps.sh
cmake --preset test >/dev/null
cmake --build --preset test -j "$(nproc)" --target KB835732Patcher ui_probe standin_package add_root_ca
program=build/test/KB835732Patcher.exe
echo "built $program ($(stat -c %s $program) bytes)"

export PATCHER_WINE_EMULATED=${PATCHER_WINE_EMULATED:-1}
if ! reason=$(scripts/wine-run.sh --probe); then
  echo "demo: cannot run the program on this machine: $reason." >&2
  exit 1
fi
interactive=${DISPLAY:+1}
trap 'scripts/site.sh stop; scripts/wine-run.sh --stop' EXIT
scripts/site.sh start build/test/add_root_ca.exe >/dev/null

demo=build/demo
rm -rf "$demo/program" "$demo/served" "$demo/screenshots" "$demo/shots-"*
mkdir -p "$demo/program" "$demo/served" "$demo/screenshots"
cp "$program" "$demo/program/"
# The stand-in package, padded past the 100000 bytes a package must exceed.
python3 - "$demo/served/standin.exe" build/test/tests/wine/standin_package.exe <<'PY'
import sys
sys.path.insert(0, "tests/e2e")
from run_scenario import padded_bytes
open(sys.argv[1], "wb").write(padded_bytes(sys.argv[2], 150000))
PY

if [ "${1:-}" = --check ]; then
  rm -rf "$demo/packages" "$demo/dist"
  mkdir -p "$demo/packages"
  for name in WindowsXP-KB835732-x86-ENU.EXE 828028USA8.EXE; do
    cp "$demo/served/standin.exe" "$demo/packages/$name"
  done
  zip=$(scripts/release.sh --server 127.0.0.1:48080 --signin localhost:48443 --phone 555-0100 \
    --help-url http://127.0.0.1:48080/help --packages "$demo/packages" --out "$demo/dist" 2>/dev/null)
  # The patch server behind the sign-in pages, serving the folder's file;
  # the sign-in service behind the sign-in front, which takes every old PC's hello.
  python3 - "$here/$demo/served/standin.exe" <<'PY'
import sys, urllib.parse, urllib.request
query = urllib.parse.urlencode({"name": "signin", "package": sys.argv[1], "tls": "jsse"})
urllib.request.urlopen("http://127.0.0.1:48080/_control/scenario?" + query).read()
PY
  echo "\$ scripts/check-site.sh ${zip#"$here/"} --ca build/site/ca.crt --tls1-turned-on"
  code=0
  scripts/check-site.sh "$zip" --ca build/site/ca.crt --tls1-turned-on || code=$?
  echo "(exit code $code)"
  exit "$code"
fi
# The package comes in 8 KiB pieces over some 4.5 s, however fast the
# machine: the status window counts bytes long enough to be seen.
python3 - "$here/$demo/served/standin.exe" <<'PY'
import sys, urllib.parse, urllib.request
query = urllib.parse.urlencode({"name": "signin", "package": sys.argv[1],
                                "file": "WindowsXP-KB835732-x86-ENU.EXE", "size": "150000",
                                "piece": "8192", "interval": "0.25"})
urllib.request.urlopen("http://127.0.0.1:48080/_control/scenario?" + query).read()
PY

winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd | tr / '\\')\\$(basename "$1")"; }
marker='Software\Microsoft\Windows\CurrentVersion\Uninstall\KB835732'
probe=build/test/tests/e2e/ui_probe.exe
export STANDIN_MARK_INSTALLED=1 STANDIN_RUN_MS=1500

run() { # run NUMBER [probe options...]
  local n=$1; shift
  if [ -n "$interactive" ]; then
    scripts/wine-run.sh --version winxp "$demo/program/KB835732Patcher.exe" || true
  else
    mkdir -p "$demo/shots-$n"
    scripts/wine-run.sh --version winxp "$probe" --log "$(winpath "$demo/run-$n.log")" \
      --screenshots "$(winpath "$demo/shots-$n")" "$@" -- "$(winpath "$demo/program/KB835732Patcher.exe")" || true
  fi
}

echo "== first run: the update is not installed yet"
if [ -n "$interactive" ]; then
  scripts/wine-run.sh reg delete "HKLM\\$marker" /f >/dev/null 2>&1 || true
  run 1
else
  run 1 --delete-key "$marker"
fi
echo "== second run: the package marked the update as installed"
run 2

if [ -z "$interactive" ]; then
  python3 - "$demo" <<'PY'
import json, os, sys
demo = sys.argv[1]
for n in (1, 2):
    print(f"-- run {n}")
    status = None
    path = os.path.join(demo, f"run-{n}.log")
    for line in open(path, encoding="utf-8") if os.path.exists(path) else []:
        e = json.loads(line)
        if e["event"] == "box":
            print(f"   message box {e['caption']!r}: {e['text']!r}, answered {e['answer']}")
        elif e["event"] == "window" and e["status"]:
            status = e
        elif e["event"] == "exit":
            if status:
                print(f"   status window {status['title']!r}, last line {status['status']!r}")
            print(f"   exit code {e['code']}")
PY
  echo "-- what the site saw:"
  python3 -c 'import json,urllib.request; [print("  ", r["server"], r["path"], r["agent"]) for r in json.load(urllib.request.urlopen("http://127.0.0.1:48080/_control/log"))]'
  echo "-- package runs: $(cat "$demo/program/WindowsXP-KB835732-x86-ENU.EXE.ran.txt" 2>/dev/null | wc -l); left beside the program: $(ls "$demo/program" | grep -v -e KB835732Patcher.exe -e ran.txt | wc -l) files"
  # Each step's screenshot, by what the probe logged it shows.
  python3 - "$demo" <<'PY'
import json, os, re, sys
sys.path.insert(0, "scripts")
from bmp_to_png import convert
demo, size = sys.argv[1], 150000


def under_way(line):
    count = re.match(r"(\d+) Bytes read \(", line)
    return bool(count) and 0 < int(count.group(1)) < size


steps = [(1, "box", lambda of: of == "Apply the Security Patch?", "1-confirmation.png",
          "the confirmation box"),
         (1, "status", under_way, "2-status-window.png",
          "the status window with a byte count under way"),
         (2, "box", lambda of: of == "Patch not required", "3-patch-not-required.png",
          'the "Patch not required" box')]
missing = []
for run, what, shows, png, told in steps:
    path = os.path.join(demo, f"run-{run}.log")
    events = [json.loads(line) for line in open(path, encoding="utf-8")] \
        if os.path.exists(path) else []
    shots = [e for e in events if e["event"] == "screenshot" and e["what"] == what]
    fitting = [e for e in shots if shows(e["of"])]
    saved = [e for e in fitting if e["saved"]]
    if saved:
        convert(os.path.join(demo, f"shots-{run}", saved[0]["file"]),
                os.path.join(demo, "screenshots", png))
    elif fitting:
        missing.append(f"{told}: its screenshot " + ("showed a blank screen" if fitting[0]["blank"]
                                                     else "could not be saved"))
    elif what == "status" and shots:
        missing.append(f"{told}: pictured only at {shots[0]['of']!r}")
    else:
        missing.append(f"{told}: not seen in run {run}")
print(f"screenshots: {' '.join(sorted(os.listdir(os.path.join(demo, 'screenshots'))))} "
      f"(in {demo}/screenshots)")
for step in missing:
    print(f"demo: missing {step}", file=sys.stderr)
sys.exit(1 if missing else 0)
PY
fi
