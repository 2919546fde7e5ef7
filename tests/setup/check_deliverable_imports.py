#!/usr/bin/env python3
"""Every function the shipped files import must exist on the oldest Windows they serve.

Reads the import table of each PE file in dist/ (its own reader, from the PE format's
description) and looks each imported name up in a table of Windows exports, where every name
carries the first Windows 9x and the first Windows NT release that export it, the document that
states the 9x release, and the page that documents the function. A name missing from the
table, newer than its deliverable's floor, or imported on a 9x release no document states,
fails.

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


UNSOURCED = "unsourced"
NO_SOURCE_NEEDED = "-"


def read_table(path):
    """{(dll lower case, name): (first 9x, 9x source key, first NT, source)}

    A line "source KEY URL what it states" names a document that states which 9x release
    exports a set of names; a row cites it by KEY in its 9x source column (KEY+KEY where it
    takes two documents together), or says "unsourced" where no document was found, or "-"
    where the 9x column is "none".
    """
    table = {}
    sources = {}
    cited = set()
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        where = "%s:%d" % (path, number)
        if line.startswith("source "):
            fields = line.split(None, 3)
            if len(fields) != 4 or not fields[2].startswith(("https://", "http://")):
                raise SystemExit("%s: want source, key, its address and what it states" % where)
            if fields[1] in sources or fields[1] in (UNSOURCED, NO_SOURCE_NEEDED):
                raise SystemExit("%s: source %s named twice" % (where, fields[1]))
            sources[fields[1]] = where
            continue
        fields = line.split(None, 5)
        if len(fields) != 6:
            raise SystemExit("%s: want dll, name, 9x, 9x source, NT and source" % where)
        dll, name, nine_x, nine_x_source, nt, source = fields
        if nine_x not in NINE_X or nt not in NT:
            raise SystemExit("%s: unknown release %s / %s" % (where, nine_x, nt))
        if not source.startswith("https://"):
            raise SystemExit("%s: a name goes in only with its source" % where)
        if (nine_x_source == NO_SOURCE_NEEDED) != (nine_x == "none"):
            raise SystemExit("%s: \"-\" stands for the 9x source exactly where 9x is \"none\""
                             % where)
        if nine_x_source not in (UNSOURCED, NO_SOURCE_NEEDED):
            cited.update((key, where) for key in nine_x_source.split("+"))
        key = (dll.lower(), name)
        if key in table:
            raise SystemExit("%s: %s listed twice" % (where, name))
        table[key] = (nine_x, nine_x_source, nt, source)
    for key, where in sorted(cited):
        if key not in sources:
            raise SystemExit("%s: 9x source %s is not named by a source line" % (where, key))
    unused = set(sources) - {key for key, _ in cited}
    for key in sorted(unused):
        raise SystemExit("%s: source %s is cited by no row" % (sources[key], key))
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
            nine_x, nine_x_source, nt, _ = entry
            for family, first, floor_release, order in (("9x", nine_x, floor_9x, NINE_X),
                                                         ("NT", nt, floor_nt, NT)):
                if order.index(first) <= order.index(floor_release):
                    continue
                since = "no release" if first == "none" else "Windows " + first
                found.append("%s!%s: %s of the %s family exports it (floor %s)"
                             % (dll, name, since, family, floor_release))
            if nine_x != "none" and nine_x_source == UNSOURCED:
                found.append("%s!%s: no document found states that Windows %s exports it"
                             % (dll, name, nine_x))
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
