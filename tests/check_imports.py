#!/usr/bin/env python3
"""Fails when a Windows program imports a DLL or function outside the list.

The list (allowed_imports.txt) names, per DLL, the functions that both
Windows 95 and Windows NT 4.0 export; a program importing anything else
would be refused by their loaders before it could say a word.

With --refuse it fails instead on any import that matches a pattern (the
site check's tool, which must not be able to start a process).

Delay-loaded DLLs are checked too: a function missing from one of them
would fail the moment the program first calls it. objdump (binutils 2.40)
does not list delay imports, and GNU ld leaves the PE header's delay-import
directory empty, so they are read here by finding their descriptors in the
file's sections.
"""
import argparse
import re
import struct
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


class PeImage:
    """Reads a 32-bit PE file by relative virtual address."""

    def __init__(self, path):
        data = open(path, "rb").read()
        if data[:2] != b"MZ":
            sys.exit(f"{path}: not a PE file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            sys.exit(f"{path}: not a PE file")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x10B:
            sys.exit(f"{path}: not a 32-bit PE file")
        self.image_base, self.image_size = struct.unpack_from("<I", data, optional + 28)[0], \
            struct.unpack_from("<I", data, optional + 56)[0]
        self.data = data
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
            self.sections.append((rva, max(vsize, raw_size), raw, raw_size))

    def offset(self, rva):
        """The file offset of an address, or None outside the file's data."""
        for start, size, raw, raw_size in self.sections:
            if start <= rva < start + size:
                return raw + rva - start if rva - start < raw_size else None
        return None

    def dword(self, rva):
        at = self.offset(rva)
        if at is None or at + 4 > len(self.data):
            return None
        return struct.unpack_from("<I", self.data, at)[0]

    def text(self, rva, pattern):
        """The NUL-ended text at an address when it matches pattern, else None."""
        at = self.offset(rva)
        if at is None:
            return None
        end = self.data.find(b"\0", at, at + 256)
        if end < 0:
            return None
        text = self.data[at:end].decode("latin-1")
        return text if re.fullmatch(pattern, text) else None


DLL_NAME = r"[A-Za-z0-9_.-]+\.[Dd][Ll][Ll]"
FUNCTION_NAME = r"[A-Za-z_?@$][A-Za-z0-9_?@$]*"


def read_delay_descriptor(image, rva):
    """(dll, functions, unbound) of the delay-import descriptor at rva, or
    None when the bytes there are not one. unbound lists the functions whose
    address slot does not point into the program: their first call would
    jump there instead of to the code that loads the DLL."""
    fields = [image.dword(rva + 4 * i) for i in range(8)]
    if None in fields:
        return None
    attributes, name, module, iat, names = fields[:5]
    if attributes not in (0, 1):
        return None
    # Attribute bit 0: the fields are relative addresses, else full ones.
    base = 0 if attributes == 1 else image.image_base
    if min(name, module, iat, names) < base:
        return None
    name, module, iat, names = (x - base for x in (name, module, iat, names))
    dll = image.text(name, DLL_NAME)
    if not dll or not 0 < module < image.image_size:
        return None
    functions, unbound = set(), set()
    for i in range(100000):
        entry, slot = image.dword(names + 4 * i), image.dword(iat + 4 * i)
        if entry is None or slot is None:
            return None
        if entry == 0:
            break
        if entry & 0x80000000:
            function = f"#{entry & 0xFFFF}"
        else:
            function = image.text(entry - base + 2, FUNCTION_NAME)
            if function is None:
                return None
        functions.add(function)
        if not 0 < slot - image.image_base < image.image_size:
            unbound.add(function)
    return (dll.lower(), functions, unbound) if functions else None


def read_delay_imports(program):
    """The delay-loaded functions by DLL, and those among them not bound to
    their loading code as "dll!function"."""
    image = PeImage(program)
    imports, unbound = {}, []
    for start, _, _, raw_size in image.sections:
        for rva in range(start, start + raw_size - 31, 4):
            found = read_delay_descriptor(image, rva)
            if found:
                imports.setdefault(found[0], set()).update(found[1])
                unbound += [f"{found[0]}!{f}" for f in sorted(found[2])]
    return imports, unbound


def outside(allowed, imports, how=""):
    bad = []
    for dll, functions in sorted(imports.items()):
        if dll not in allowed:
            bad.append(f"{dll} (the whole DLL{how})")
            continue
        bad += [f"{dll}!{f}" for f in sorted(functions - allowed[dll])]
    return bad


def refused(patterns, imports):
    """The imports, as "dll!function", that a "DLL!REGEX" pattern matches."""
    found = []
    for pattern in patterns:
        dll, _, function = pattern.partition("!")
        found += [f"{dll.lower()}!{f}" for f in sorted(imports.get(dll.lower(), ()))
                  if re.fullmatch(function, f)]
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--allowed", help="the list of allowed imports")
    parser.add_argument("--refuse", metavar="DLL!REGEX", action="append", default=[],
                        help="fail on any import of DLL whose function matches REGEX")
    parser.add_argument("--expect-refused", metavar="DLL!FUNCTION",
                        help="with --refuse: succeed only when exactly this import matches")
    parser.add_argument("--expect-outside", metavar="DLL!FUNCTION",
                        help="succeed only when exactly this import is refused")
    parser.add_argument("--expect-delay-loaded", metavar="DLL", action="append", default=[],
                        help="fail unless DLL is delay-loaded and not a load-time import")
    parser.add_argument("program")
    args = parser.parse_args()
    if not args.allowed and not args.refuse:
        parser.error("give --allowed or --refuse")
    imports = read_imports(args.objdump, args.program)
    if not imports:
        sys.exit(f"{args.program}: no imports found (not a PE file?)")
    delayed, unbound = read_delay_imports(args.program)
    if args.refuse:
        found = refused(args.refuse, imports) + refused(args.refuse, delayed)
        for item in found:
            print(f"refused import: {item}")
        count = sum(len(f) for f in imports.values()) + sum(len(f) for f in delayed.values())
        print(f"{args.program}: {count} imports, {len(found)} refused")
        if args.expect_refused:
            return 0 if found == [args.expect_refused.lower().split("!")[0] + "!" +
                                  args.expect_refused.split("!")[1]] else 1
        return 1 if found else 0
    allowed = read_allowed(args.allowed)
    bad = outside(allowed, imports) + outside(allowed, delayed, ", delay-loaded")
    for item in bad:
        print(f"not on the list: {item}")
    for dll in sorted(delayed):
        print(f"delay-loaded: {dll} ({', '.join(sorted(delayed[dll]))})")
    count = sum(len(f) for f in imports.values())
    delayed_count = sum(len(f) for f in delayed.values())
    print(f"{args.program}: {count} imports from {len(imports)} DLLs, {delayed_count} "
          f"delay-loaded from {len(delayed)}, {len(bad)} outside the list")
    load_faults = [f"{item} is delay-loaded, but its slot does not lead to the loading code"
                 for item in unbound]
    for dll in (d.lower() for d in args.expect_delay_loaded):
        if dll in imports:
            load_faults.append(f"{dll} is loaded with the program")
        if dll not in delayed:
            load_faults.append(f"{dll} is not delay-loaded")
    for item in load_faults:
        print(item)
    if load_faults:
        return 1
    if args.expect_outside:
        return 0 if bad == [args.expect_outside.lower().split("!")[0] + "!" +
                            args.expect_outside.split("!")[1]] else 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
