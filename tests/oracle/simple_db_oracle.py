"""Checks SimpleDB files against Berkeley DB's own tools.

Written from the file layout alone: every key and value is computed here and compared with
what `db5.3_dump -p` and python3-bsddb3 read from a file our code wrote; files made here with
`db5.3_load` and bsddb3 (good ones, and ones with crafted faults) are read by our code through
tests/db/simple_db_oracle/simple_db_oracle_tool.cpp, whose report is compared with what the
layout says it must find.

usage: simple_db_oracle.py <wine> <simple_db_oracle_tool.exe> <work folder>
"""
import os
import shutil
import struct
import subprocess
import sys
import unicodedata

from oracle_common import db_dump as dump, windows_path

WINE, TOOL, WORK = sys.argv[1:4]
failures = []

SCHEMA_KEY, INDEX_LIST_KEY, VERSION_KEY, COUNTER_KEY, INDEX_MAGIC = (
    0xABCDEFAB, 0xB0FB0FB0, 0xFEF1F0FA, 0x12345678, 0x87654321)
NUMBER, TEXT, LIST = 0, 1, 2
BAD_DATA, E_FAIL = "c0040013", "80004005"


def check(condition, message):
    if not condition:
        failures.append(message)


def le(*words):
    return b"".join(struct.pack("<I", w & 0xFFFFFFFF) for w in words)


def pad(data, byte):
    return data + byte * (-len(data) % 4)


def fold(text):
    """Collation fold of the plain texts used here: accents and case away, units below '0'
    dropped."""
    out = ""
    for c in unicodedata.normalize("NFKD", text):
        if unicodedata.combining(c) or ord(c) < 0x30:
            continue
        out += c.lower()
    return out


def schema_value(columns):
    value = le(len(columns)) + le(*[t for _, t in columns])
    value += b"".join(name.encode() + b"\0" for name, _ in columns)
    return pad(value, b"\xef")


def index_list_value(indexes):
    return b"".join(le(*index) + le(0xFFFFFFFF) for index in indexes)


def record_value(columns, values):
    value = b""
    for (_, kind), v in zip(columns, values):
        if kind == NUMBER:
            value = pad(value, b"\xef") + struct.pack("<i", v)
        elif kind == TEXT:
            value += v.encode() + b"\0"
        else:
            value = pad(value, b"\xef") + le(len(v)) + v
    return pad(value, b"\xef")


def index_key(columns, index, values):
    key = le(INDEX_MAGIC, len(index), *index)
    for column in index:
        kind, v = columns[column][1], values[column]
        if kind == NUMBER:
            key = pad(key, b"\0") + struct.pack(">I", v & 0xFFFFFFFF)
        elif kind == TEXT:
            key += fold(v).encode() + b"\0"
    return pad(key, b"\0")


def run_tool(name, commands):
    folder = os.path.join(WORK, name)
    os.makedirs(folder, exist_ok=True)
    command_file = os.path.join(folder, "commands.txt")
    result_file = os.path.join(folder, "results.txt")
    with open(command_file, "wb") as f:
        f.write(b"".join("\t".join(map(str, c)).encode() + b"\n" for c in commands))
    subprocess.run([WINE, TOOL, windows_path(command_file), windows_path(result_file)],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    with open(result_file, encoding="utf-8") as f:
        return [line.split("\t") for line in f.read().splitlines()]


def escape(data):
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else
                   ("\\\\" if b == 0x5C else "\\%02x" % b) for b in data)


def load(path, entries):
    """A B-tree file made by db5.3_load from keys and values."""
    if os.path.exists(path):
        os.remove(path)
    text = "".join(escape(k) + "\n" + escape(v) + "\n" for k, v in entries.items())
    subprocess.run(["db5.3_load", "-t", "btree", "-T", path], input=text.encode("latin-1"),
                   check=True, capture_output=True)


def library_entries(columns, indexes, records, counter, entries_order=None):
    """The entries of a consistent file: schema, index list, counter, records, index entries
    (record numbers in ascending order)."""
    entries = {le(SCHEMA_KEY): schema_value(columns),
               le(INDEX_LIST_KEY): index_list_value(indexes),
               le(COUNTER_KEY): le(counter)}
    for number, values in records.items():
        entries[le(COUNTER_KEY, number)] = record_value(columns, values)
        for index in indexes:
            key = index_key(columns, index, values)
            entries[key] = entries.get(key, b"") + le(number)
    return entries


COLUMNS = [("id", NUMBER), ("title", TEXT), ("artist", TEXT), ("year", NUMBER), ("data", LIST)]
INDEXES = [[2], [2, 1], [3]]


def written_file_matches_the_layout():
    path = os.path.join(WORK, "written.db")
    if os.path.exists(path):
        os.remove(path)
    p = windows_path(path)
    results = run_tool("written", [
        ("open", p, 7),
        ("column", "id", 0), ("column", "title", 1), ("column", "artist", 1),
        ("column", "year", 0), ("column", "data", 2),
        ("index", "artist"), ("index", "artist,title"), ("index", "year"),
        ("version", 37),
        ("insert", "id=1", "title=Waterloo", "artist=ABBA", "year=1974", "data=01020304ff"),
        ("insert", "id=2", "title=Caf\u00e9 Noir", "artist=The Band", "year=-3", "data="),
        ("insert", "id=3", "title=X", "artist=abba", "year=1974", "data=00"),
        ("update", 4, "artist=Other"),
        ("update", 4, "title=Y"),
        ("delete", 3),
        ("close",),
    ])
    check([r[:3] for r in results if r[0] == "insert"] ==
          [["insert", "00000000", "2"], ["insert", "00000000", "3"],
           ["insert", "00000000", "4"]], "written: inserts %r" % results)
    check(all(r[1] == "00000000" for r in results if r[0] in ("update", "delete", "index")),
          "written: results %r" % results)
    records = {2: [1, "Waterloo", "ABBA", 1974, b"\x01\x02\x03\x04\xff"],
               4: [3, "Y", "Other", 1974, b"\x00"]}
    expected = library_entries(COLUMNS, INDEXES, records, 4)
    expected[le(VERSION_KEY)] = le(37) + b"C\0"
    found = dump(path)
    for key in sorted(set(expected) | set(found)):
        check(expected.get(key) == found.get(key), "written: key %s: expected %s, found %s" % (
            key.hex(), (expected.get(key) or b"-").hex(), (found.get(key) or b"-").hex()))
    try:
        from bsddb3 import db as bdb
        handle = bdb.DB()
        handle.open(path, dbtype=bdb.DB_BTREE, flags=bdb.DB_RDONLY)
        cursor = handle.cursor()
        items, item = {}, cursor.first()
        while item:
            items[item[0]] = item[1]
            item = cursor.next()
        handle.close()
        check(items == found, "written: bsddb3 reads other entries than db5.3_dump")
    except ImportError:
        pass


def batched_file_matches_the_layout():
    """Many records under a few shared keys, written inside an index batch with changes and
    deletions: each entry as the one-record-at-a-time rules leave it (appended on insert; on
    removal the last number takes the place of the removed one)."""
    path = os.path.join(WORK, "batched.db")
    if os.path.exists(path):
        os.remove(path)
    commands = [("open", windows_path(path), 7),
                ("column", "id", 0), ("column", "title", 1), ("column", "artist", 1),
                ("column", "year", 0), ("column", "data", 2),
                ("index", "artist"), ("index", "artist,title"), ("index", "year"),
                ("batch",)]
    records = {}
    entries = {}

    def add(number, values):
        for index in INDEXES:
            key = index_key(COLUMNS, index, values)
            entries.setdefault(key, []).append(number)

    def remove(number, values):
        for index in INDEXES:
            key = index_key(COLUMNS, index, values)
            numbers = entries[key]
            at = numbers.index(number)
            numbers[at] = numbers[-1]
            numbers.pop()
            if not numbers:
                del entries[key]

    artists = ["Common", "Common", "Rare"]
    for i in range(120):
        values = [i, "T%d" % (i % 7), artists[i % 3], 1974 + i % 2, b""]
        commands.append(("insert", "id=%d" % i, "title=" + values[1], "artist=" + values[2],
                         "year=%d" % values[3], "data="))
        records[i + 2] = values
        add(i + 2, values)
    for number in range(2, 122, 5):
        commands.append(("delete", number))
        remove(number, records.pop(number))
    for number in range(3, 122, 7):
        if number not in records:
            continue
        commands.append(("update", number, "artist=Moved", "year=1999"))
        old = records[number]
        new = old[:2] + ["Moved", 1999] + old[4:]
        remove(number, old)
        add(number, new)
        records[number] = new
    commands += [("endbatch",), ("close",)]
    results = run_tool("batched", commands)
    check(all(r[1] == "00000000" for r in results
              if r[0] in ("insert", "update", "delete", "index", "endbatch")),
          "batched: results %r" % [r for r in results if r[1] != "00000000"])
    expected = {le(SCHEMA_KEY): schema_value(COLUMNS),
                le(INDEX_LIST_KEY): index_list_value(INDEXES),
                le(COUNTER_KEY): le(121)}
    for number, values in records.items():
        expected[le(COUNTER_KEY, number)] = record_value(COLUMNS, values)
    for key, numbers in entries.items():
        expected[key] = le(*numbers)
    found = dump(path)
    for key in sorted(set(expected) | set(found)):
        check(expected.get(key) == found.get(key), "batched: key %s: expected %s, found %s" % (
            key.hex(), (expected.get(key) or b"-").hex(), (found.get(key) or b"-").hex()))


def bsddb3_file_is_read():
    """A consistent file written by bsddb3, read, looked up and grouped by our code."""
    try:
        from bsddb3 import db as bdb
    except ImportError:
        return
    path = os.path.join(WORK, "bsddb3.db")
    if os.path.exists(path):
        os.remove(path)
    records = {2: [7, "Blue", "Caf\u00e9 Noir", 2001, b"\xaa" * 5],
               5: [8, "Green", "cafe noir", 1999, b""],
               9: [9, "Red", "Solo", 2001, b"\x00\x01"]}
    handle = bdb.DB()
    handle.open(path, dbtype=bdb.DB_BTREE, flags=bdb.DB_CREATE)
    for key, value in library_entries(COLUMNS, INDEXES, records, 9).items():
        handle.put(key, value)
    handle.close()
    p = windows_path(path)
    results = run_tool("bsddb3", [("open", p, 3), ("scan",), ("lookup", "artist", "CAFE NOIR"),
                                  ("group", "artist")])
    scanned = [r for r in results if r[0] == "record"]
    check([r[1] for r in scanned] == ["2", "5", "9"], "bsddb3: scan %r" % scanned)
    check(scanned[0][2:] == ["id=7", "title=Blue", "artist=Caf\u00e9 Noir", "year=2001",
                             "data=aaaaaaaaaa"], "bsddb3: record %r" % scanned[0])
    check([r[1] for r in results if r[0] == "found"] == ["2", "5"], "bsddb3: lookup %r" % results)
    check([r[1:] for r in results if r[0] == "group" and len(r) == 3] ==
          [["Caf\u00e9 Noir", "2"], ["Solo", "1"]], "bsddb3: groups %r" % results)
    check(all(r[1] == "0" for r in results if r[0] == "inconsistent"), "bsddb3: %r" % results)


SMALL = [("id", NUMBER), ("artist", TEXT), ("data", LIST)]


def crafted(name, entries, commands):
    path = os.path.join(WORK, name + ".db")
    load(path, entries)
    return path, run_tool(name, [("open", windows_path(path), 3)] + commands)


def crafted_faults_are_caught():
    base = library_entries(SMALL, [[1]], {2: [1, "A", b""], 3: [2, "A", b""]}, 3)
    artist_a = index_key(SMALL, [1], [0, "A", b""])

    # An index entry naming a record that is not there: the others are still found.
    entries = dict(base)
    entries[artist_a] = le(2, 9, 3)
    _, results = crafted("missing_record", entries, [("lookup", "artist", "a")])
    check([r[1] for r in results if r[0] == "found"] == ["2", "3"], "missing record: %r" % results)
    check(["inconsistent", "1"] in results, "missing record: not flagged %r" % results)

    # Records whose fields run past their value.
    for what, value in [("open text", le(1) + b"abc"),
                        ("long list", le(1) + b"A\0\xef\xef" + le(0x7FFFFFFF)),
                        ("short number", b"\x01\x00"),
                        ("trailing words", record_value(SMALL, [1, "A", b""]) + le(0, 0))]:
        entries = dict(base)
        entries[le(COUNTER_KEY, 2)] = value
        _, results = crafted("record_" + what.replace(" ", "_"), entries, [("scan",)])
        check(["inconsistent", "1"] in results, "%s: not flagged %r" % (what, results))

    # A schema or index list that does not fit is damage: the open fails.
    for what, key, value in [("schema count", le(SCHEMA_KEY), le(1000, 0)),
                             ("schema name", le(SCHEMA_KEY), le(1, 1) + b"abc"),
                             ("schema type", le(SCHEMA_KEY), le(1, 9) + b"a\0\xef\xef"),
                             ("index column", le(INDEX_LIST_KEY), le(0, 7, 0xFFFFFFFF)),
                             ("index bytes", le(INDEX_LIST_KEY), le(0, 0xFFFFFFFF) + b"\x01")]:
        entries = dict(base)
        entries[key] = value
        _, results = crafted("damaged_" + what.replace(" ", "_"), entries, [])
        check(results[0] == ["open", BAD_DATA], "%s: open %r" % (what, results))

    # A record its entry does not list: deleting it leaves the entry's numbers alone.
    entries = library_entries(SMALL, [[1]], {2: [1, "A", b""], 3: [2, "A", b""]}, 4)
    entries[le(COUNTER_KEY, 4)] = record_value(SMALL, [3, "A", b""])
    path, results = crafted("unlisted", entries, [("delete", 4), ("close",)])
    check(["delete", "00000000"] in results, "unlisted: %r" % results)
    after = dump(path)
    check(after.get(artist_a) == le(2, 3), "unlisted: entry now %s" % after.get(artist_a, b"").hex())
    check(le(COUNTER_KEY, 4) not in after, "unlisted: record kept")

    # A counter at its last number: no record may take the deleted mark.
    entries = dict(base)
    entries[le(COUNTER_KEY)] = le(0xFFFFFFFE)
    path, results = crafted("counter_end", entries, [("insert", "id=5", "artist=B"), ("close",)])
    check(results[1][:2] == ["insert", E_FAIL], "counter end: %r" % results)
    check(len([k for k in dump(path) if k[:4] == le(COUNTER_KEY) and len(k) == 8]) == 2,
          "counter end: a record was written")

    # A list far longer than 200 KB reads back whole.
    big = bytes((i * 7) & 0xFF for i in range(300000))
    entries = library_entries(SMALL, [[1]], {2: [1, "A", big]}, 2)
    _, results = crafted("big_list", entries, [("scan",)])
    records = [r for r in results if r[0] == "record"]
    check(len(records) == 1 and records[0][4] == "data=" + big.hex(), "big list: not whole")
    check(["inconsistent", "0"] in results, "big list: flagged %r" % results[-1:])


PAGE_SIZE_AT, PAGE_TYPE_AT, ENTRIES_AT, ITEM_OFFSETS_AT = 20, 25, 20, 26
BTREE_LEAF = 5
CHECKED_OPEN = 3 | 16  # read, write, verify first


def page_damages(data):
    """Damaged copies of a B-tree file, made as Berkeley DB's page layout describes: the meta
    page holds the page size at byte 20; every other page has its type at byte 25, its number of
    items at byte 20 and the items' offsets from byte 26."""
    page_size = struct.unpack_from("<I", data, PAGE_SIZE_AT)[0]
    leaf = next(at for at in range(page_size, len(data), page_size)
                if data[at + PAGE_TYPE_AT] == BTREE_LEAF and
                struct.unpack_from("<H", data, at + ENTRIES_AT)[0] > 0)
    damaged = {}
    for name, at, value in [("offset_at_page_end", leaf + ITEM_OFFSETS_AT,
                             struct.pack("<H", page_size - 1)),
                            ("offset_past_page", leaf + ITEM_OFFSETS_AT,
                             struct.pack("<H", page_size + 0x100)),
                            ("leaf_page_type", leaf + PAGE_TYPE_AT, b"\x63"),
                            ("zero_page_size", PAGE_SIZE_AT, le(0))]:
        copy = bytearray(data)
        copy[at:at + len(value)] = value
        damaged[name] = bytes(copy)
    return damaged


def damaged_pages_are_refused():
    """Files that db5.3_verify calls damaged are refused by a checked open, without a crash;
    the sound file they were made from opens."""
    path = os.path.join(WORK, "three.db")
    load(path, library_entries(SMALL, [[1]], {2: [1, "A", b""], 3: [2, "B", b""],
                                               4: [3, "C", b"\x01"]}, 4))
    with open(path, "rb") as f:
        sound = f.read()
    results = run_tool("three_new", [("open", windows_path(os.path.join(WORK, "new.db")),
                                      CHECKED_OPEN | 4)])
    check(results[0] == ["open", "00000000"], "new file: %r" % results)
    results = run_tool("three", [("open", windows_path(path), CHECKED_OPEN), ("scan",)])
    check(results[0] == ["open", "00000000"] and len([r for r in results if r[0] == "record"]) == 3,
          "sound file: %r" % results)
    for name, data in page_damages(sound).items():
        damaged = os.path.join(WORK, name + ".db")
        with open(damaged, "wb") as f:
            f.write(data)
        verified = subprocess.run(["db5.3_verify", "-q", damaged], stdin=subprocess.DEVNULL,
                                  capture_output=True)
        check(verified.returncode != 0, "%s: db5.3_verify passes it" % name)
        results = run_tool(name, [("open", windows_path(damaged), CHECKED_OPEN), ("scan",)])
        check(results[0] == ["open", BAD_DATA], "%s: open %r" % (name, results[:1]))


if os.path.isdir(WORK):
    shutil.rmtree(WORK)
os.makedirs(WORK)
written_file_matches_the_layout()
batched_file_matches_the_layout()
bsddb3_file_is_read()
crafted_faults_are_caught()
damaged_pages_are_refused()
for failure in failures:
    print("FAIL:", failure)
print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
