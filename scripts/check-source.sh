#!/usr/bin/env bash
# Static analysis and formatting of the program's sources; needs no Wine.
#   clang-tidy  reads src/ as the cross-build compiles it (i686 MinGW target,
#               the build's own defines and include folders);
#   cppcheck    reads src/ for the same target;
#   clang-format src/ and tests/ must already be formatted as .clang-format says.
# Exits non-zero on any finding. A finding that is wrong for this code is
# suppressed where it stands (NOLINT / cppcheck-suppress) with its reason.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/analysis
status=0

echo "== formatting (clang-format $(clang-format --version | grep -o '[0-9][0-9.]*' | head -1))"
mapfile -t formatted < <(find src tests -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) | sort)
if ! clang-format --dry-run --Werror "${formatted[@]}"; then
  echo "check-source: unformatted code; clang-format -i the files named above"
  status=1
fi

# The cross-build's own compile commands: defines and include folders as the
# test build uses them (the generated site settings header included).
mkdir -p "$build"   # a fresh clone has no build/ yet
cmake --preset test -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
mapfile -t sources < <(find src -type f -name '*.cpp' | sort)

# The C++ library and MinGW headers as the cross compiler sees them (clang
# would fall back to the build machine's /usr/include); GCC's own intrinsics
# folders are left to clang's.
gxx=i686-w64-mingw32-g++-posix
mapfile -t system_dirs < <("$gxx" -xc++ -E -v /dev/null 2>&1 |
  sed -n '/^#include <...> search starts here:/,/^End of search list/p' | sed -n 's/^ //p' |
  xargs -n1 realpath | grep -Ev '/lib/gcc/[^/]+/[^/]+/include(-fixed)?$')
target_args=(--target=i686-w64-mingw32 -nostdinc -isystem "$(clang -print-resource-dir)/include")
for d in "${system_dirs[@]}"; do target_args+=(-isystem "$d"); done

# Per source: the -D, -I and -std arguments of its command in the cross-build.
build_args() {
  python3 - "$build/compile_commands.json" "$1" <<'PY'
import json, os, shlex, sys
entries = json.load(open(sys.argv[1]))
want = os.path.realpath(sys.argv[2])
for e in entries:
    if os.path.realpath(e["file"]) != want:
        continue
    out = []
    for a in shlex.split(e["command"])[1:]:
        if a.startswith("@"):
            with open(os.path.join(e["directory"], a[1:])) as rsp:
                out += [x for x in shlex.split(rsp.read()) if x.startswith(("-I", "-D"))]
        elif a.startswith(("-D", "-I", "-std=")):
            out.append(a)
    print("\n".join(out))
    sys.exit(0)
sys.exit("no compile command for " + sys.argv[2])
PY
}

echo "== clang-tidy ($(clang-tidy --version | grep -o 'version [0-9.]*'))"
for source in "${sources[@]}"; do
  mapfile -t args < <(build_args "$source")
  if ! clang-tidy --quiet "$source" -- "${target_args[@]}" "${args[@]}" \
      >"$build/tidy.log" 2>&1; then
    grep -v '^[0-9]* warnings\? generated' "$build/tidy.log" || true
    status=1
  fi
done

echo "== cppcheck ($(cppcheck --version))"
mapfile -t args < <(build_args src/run/patch_run.cpp)
defines=()
for a in "${args[@]}"; do case $a in -D*|-I*) defines+=("$a") ;; esac; done
if ! cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
    --inline-suppr --std=c++17 --language=c++ --platform=win32A -D_WIN32 -D__MINGW32__ \
    "${defines[@]}" --suppress=missingIncludeSystem "${sources[@]}"; then
  status=1
fi

if [ "$status" -ne 0 ]; then
  echo "check-source: findings above"
  exit 1
fi
echo "check-source: no findings"
