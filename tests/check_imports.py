#!/usr/bin/env python3
"""Fails when a Windows program imports a DLL or function outside the list.

The list (allowed_imports.txt) names, per DLL, the functions that both
Windows 95 and Windows NT 4.0 export; a program importing anything else
would be refused by their loaders before it could say a word.
"""
import argparse
import re
import subprocess
import sys


def read_allowed(path):
    allowed = {}
    dll = None
    for raw in open(path, encoding="ascii"):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            dll = line[1:-1].lower()
            allowed.setdefault(dll, set())
        elif dll is None:
            sys.exit(f"{path}: function {line} before any [dll] line")
        else:
            allowed[dll].add(line)
    return allowed


def read_imports(objdump, program):
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                          text=True).stdout
    imports = {}
    dll = None
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            imports.setdefault(dll, set())
            continue
        m = re.match(r"\s+[0-9a-fA-F]+\s+[0-9]+\s+(\S+)\s*$", line)
        if dll and m:
            imports[dll].add(m.group(1))
        elif not line.strip():
            dll = None
    return imports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--allowed", required=True)
    parser.add_argument("--expect-outside", metavar="DLL!FUNCTION",
                        help="succeed only when exactly this import is refused")
    parser.add_argument("program")
    args = parser.parse_args()
    allowed = read_allowed(args.allowed)
    imports = read_imports(args.objdump, args.program)
    if not imports:
        sys.exit(f"{args.program}: no imports found (not a PE file?)")
    bad = []
    for dll, functions in sorted(imports.items()):
        if dll not in allowed:
            bad.append(f"{dll} (the whole DLL)")
            continue
        bad += [f"{dll}!{f}" for f in sorted(functions - allowed[dll])]
    for item in bad:
        print(f"not on the list: {item}")
    count = sum(len(f) for f in imports.values())
    print(f"{args.program}: {count} imports from {len(imports)} DLLs, {len(bad)} outside the list")
    if args.expect_outside:
        return 0 if bad == [args.expect_outside.lower().split("!")[0] + "!" +
                            args.expect_outside.split("!")[1]] else 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
