#!/usr/bin/env python3
"""Every function the shipped files import must exist on the oldest Windows they serve.

Reads the import table of each PE file in dist/ (its own reader, from the PE format's
description) and looks each imported name up in a table of Windows exports, where every name
carries the first Windows 9x and the first Windows NT release that export it and the page that
documents it. A name missing from the table, or newer than its deliverable's floor, fails.

usage: check_deliverable_imports.py DIST_DIR EXPORT_TABLE
"""
import os
import struct
import sys

# The floors: Windows 98 SE and Windows 2000 for every deliverable (for Mirrin.sys, the WDM
# of those two systems).
FLOORS = {
    "Torvex.dll": ("98SE", "2000"),
    "Haldor.exe": ("98SE", "2000"),
    "Mirrin.sys": ("98SE", "2000"),
}
NOT_PE = {"MIRRIN.INF"}

NINE_X = ["95", "98", "98SE", "ME", "none"]
NT = ["3.1", "3.5", "3.51", "4.0", "2000", "XP", "2003", "Vista", "7", "none"]


class PeError(Exception):
    pass


def read_imports(path):
    """{dll name (as written): [function name or '#ordinal', ...]} of a PE file."""
    data = open(path, "rb").read()

    def u16(at):
        return struct.unpack_from("<H", data, at)[0]

    def u32(at):
        return struct.unpack_from("<I", data, at)[0]

    def u64(at):
        return struct.unpack_from("<Q", data, at)[0]

    if len(data) < 0x40 or data[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = u32(0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    coff = pe + 4
    section_count = u16(coff + 2)
    optional_size = u16(coff + 16)
    optional = coff + 20
    magic = u16(optional)
    if magic == 0x10B:
        wide, directories = False, optional + 96
    elif magic == 0x20B:
        wide, directories = True, optional + 112
    else:
        raise PeError("unknown optional header 0x%x" % magic)
    import_rva, import_size = u32(directories + 8), u32(directories + 12)
    sections = []
    table = optional + optional_size
    for i in range(section_count):
        at = table + 40 * i
        virtual_size, virtual_address = u32(at + 8), u32(at + 12)
        raw_size, raw_pointer = u32(at + 16), u32(at + 20)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise PeError("address 0x%x lies in no section" % rva)

    def text(rva):
        at = offset(rva)
        return data[at:data.index(b"\0", at)].decode("ascii")

    imports = {}
    if import_rva == 0 or import_size == 0:
        return imports
    descriptor = offset(import_rva)
    while True:
        lookup, _, _, name_rva, address = struct.unpack_from("<5I", data, descriptor)
        if lookup == 0 and name_rva == 0 and address == 0:
            break
        names = []
        thunk = offset(lookup or address)
        while True:
            entry = u64(thunk) if wide else u32(thunk)
            if entry == 0:
                break
            by_ordinal = entry >> (63 if wide else 31)
            if by_ordinal:
                names.append("#%d" % (entry & 0xFFFF))
            else:
                names.append(text((entry & 0x7FFFFFFF) + 2))
            thunk += 8 if wide else 4
        imports[text(name_rva)] = names
        descriptor += 20
    return imports


def read_table(path):
    """{(dll lower case, name): (first 9x, first NT, source)}"""
    table = {}
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        fields = line.split(None, 4)
        if len(fields) != 5:
            raise SystemExit("%s:%d: want dll, name, 9x, NT and source" % (path, number))
        dll, name, nine_x, nt, source = fields
        if nine_x not in NINE_X or nt not in NT:
            raise SystemExit("%s:%d: unknown release %s / %s" % (path, number, nine_x, nt))
        if not source.startswith("https://"):
            raise SystemExit("%s:%d: a name goes in only with its source" % (path, number))
        key = (dll.lower(), name)
        if key in table:
            raise SystemExit("%s:%d: %s listed twice" % (path, number, name))
        table[key] = (nine_x, nt, source)
    return table


def breaches(imports, table, floor):
    """Lines naming each import that is unknown or newer than the floor."""
    floor_9x, floor_nt = floor
    found = []
    for dll, names in sorted(imports.items()):
        for name in names:
            entry = table.get((dll.lower(), name))
            if entry is None:
                found.append("%s!%s is not in the table" % (dll, name))
                continue
            nine_x, nt, _ = entry
            for family, first, floor_release, order in (("9x", nine_x, floor_9x, NINE_X),
                                                         ("NT", nt, floor_nt, NT)):
                if order.index(first) <= order.index(floor_release):
                    continue
                since = "no release" if first == "none" else "Windows " + first
                found.append("%s!%s: %s of the %s family exports it (floor %s)"
                             % (dll, name, since, family, floor_release))
    return found


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    dist, table_path = sys.argv[1], sys.argv[2]
    table = read_table(table_path)
    failures = []
    for name in sorted(set(FLOORS) | NOT_PE):
        path = os.path.join(dist, name)
        if not os.path.isfile(path):
            failures.append("%s: not in %s" % (name, dist))
            continue
        if name in NOT_PE:
            continue
        try:
            imports = read_imports(path)
        except (PeError, struct.error, ValueError) as error:
            failures.append("%s: unreadable import table: %s" % (name, error))
            continue
        count = sum(len(names) for names in imports.values())
        print("%s: %d imports from %s" % (name, count, ", ".join(sorted(imports))))
        failures += ["%s: %s" % (name, line) for line in breaches(imports, table, FLOORS[name])]
    for line in failures:
        print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
