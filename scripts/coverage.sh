#!/usr/bin/env bash
# How much of src/ the suites reach. Builds the program and its Wine suites
# with gcov counters (preset coverage) and the portable code on the build
# machine (preset coverage-host), runs the host suite, the Wine unit and
# live-version suites and the end-to-end scenarios, and merges every count
# into one report: build/coverage-report/summary.txt and index.html, with
# lines and functions reached per folder of src/ and in total printed last.
#
#   PATCHER_COVERAGE_E2E_CHUNK  scenarios per ctest run (12)
#   PATCHER_WINE_LOCK           a lock file each Wine run holds, for machines
#                               where other runs use the site's ports too
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
report=build/coverage-report
rm -rf "$report"
mkdir -p "$report"
failed=()

# Each Wine run ends with Wine and its X server stopped: they inherit the
# lock, and left running they would hold it past the run.
wine_run() {
  local code=0
  "$@" || code=$?
  scripts/wine-run.sh --stop
  return $code
}
wine_locked() {
  if [ -n "${PATCHER_WINE_LOCK:-}" ]; then
    flock "$PATCHER_WINE_LOCK" bash -c "$(declare -f wine_run); wine_run \"\$@\"" _ "$@"
  else
    wine_run "$@"
  fi
}

echo "== portable code on the build machine"
cmake --preset coverage-host >/dev/null
cmake --build --preset coverage-host -j "$(nproc)" --target host_unit_tests
find build/coverage-host -name '*.gcda' -delete
ctest --preset coverage-host --no-tests=error || failed+=(host)
gcovr --root . --filter 'src/' --gcov-executable 'llvm-cov-14 gcov' \
  --json "$report/host.json" build/coverage-host

echo "== Win32 program and its Wine suites"
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "$(nproc)"
find build/coverage -name '*.gcda' -delete
# The counters are written to the absolute paths of the objects; under Wine
# such a path is taken on the current drive, so it is pinned to Z:, which
# Wine maps to /.
export GCOV_PREFIX=Z:
export PATCHER_WINE_EMULATED=${PATCHER_WINE_EMULATED:-1}
mode=$(scripts/wine-run.sh --probe) || { echo "coverage: Wine cannot run here: $mode"; exit 1; }
repeat=()
# As in scripts/test.sh: emulated Wine processes are tried up to three times.
[ "$mode" = native ] || repeat=(--repeat until-pass:3)
# The unit and live-version suites (not the import and build checks, whose
# programs the counters' runtime would change).
wine_locked ctest --preset coverage -L unit -LE build --no-tests=error "${repeat[@]}" ||
  failed+=(unit)
# The end-to-end scenarios, a chunk per run. The pinned-package test builds a
# program of its own, without counters, so it is left out.
mapfile -t scenarios < <(ctest --preset coverage -N -L e2e | sed -n 's/^ *Test *#[0-9]*: \(e2e_.*\)$/\1/p' |
  grep -vx e2e_pinned_package)
chunk=${PATCHER_COVERAGE_E2E_CHUNK:-12}
for ((i = 0; i < ${#scenarios[@]}; i += chunk)); do
  names=("${scenarios[@]:i:chunk}")
  regex="^($(IFS='|'; echo "${names[*]}"))\$"
  echo "== end-to-end scenarios $((i + 1))-$((i + ${#names[@]})) of ${#scenarios[@]}"
  wine_locked ctest --preset coverage -R "$regex" --no-tests=error "${repeat[@]}" ||
    failed+=("e2e chunk $((i / chunk + 1))")
done
gcovr --root . --filter 'src/' --gcov-executable i686-w64-mingw32-gcov \
  --json "$report/wine.json" build/coverage

echo "== report"
gcovr --root . --add-tracefile "$report/host.json" --add-tracefile "$report/wine.json" \
  --txt "$report/summary.txt" --html-details "$report/index.html" \
  --json-pretty --json "$report/all.json"
python3 - "$report/all.json" <<'PY' | tee "$report/folders.txt"
import collections, json, sys
files = json.load(open(sys.argv[1]))["files"]
tally = collections.defaultdict(lambda: [0, 0, 0, 0])
for f in files:
    folder = "/".join(f["file"].split("/")[:2]) + "/"
    lines = [l for l in f["lines"] if not l.get("gcovr/noncode")]
    # A function is known by where it starts: the two builds spell size_t
    # differently, and each instance of a template counts as its template.
    functions = collections.defaultdict(bool)
    for fn in f["functions"]:
        functions[fn["lineno"]] |= fn["execution_count"] > 0
    for t in tally[folder], tally["src/ (all)"]:
        t[0] += sum(1 for l in lines if l["count"] > 0)
        t[1] += len(lines)
        t[2] += sum(functions.values())
        t[3] += len(functions)
def pct(a, b):
    return 100.0 * a / b if b else 100.0
print(f"{'folder':<14}{'lines reached':>22}{'functions reached':>24}")
for folder in sorted(tally, key=lambda k: (k.endswith("(all)"), k)):
    l, lt, f, ft = tally[folder]
    print(f"{folder:<14}{l:>7}/{lt:<5}{pct(l, lt):6.1f} %   {f:>7}/{ft:<5}{pct(f, ft):6.1f} %")
PY
echo "report: $report/index.html ($report/summary.txt lists the lines not reached)"
if [ ${#failed[@]} -ne 0 ]; then
  echo "coverage: suites that failed: ${failed[*]}"
  exit 1
fi
