"""Writes packed track database images for packed_track_database_test.cpp, laid out word by
word from the format: 24-bit little-endian words; header (magic 0x819A55, version 3, id table
position, track section position, per index the first value node and the group chain head);
per index a head node, then value nodes (next, previous, id count, ids, value) in record order
with a group node (next, previous, label) before each node that starts a new group; the track
section; the "playlist" and "vund" item sections; the id table.

Texts are ASCII here, so collation folds to the lower-cased letters and digits alone; texts
equal by folding share one value node, which holds the text of its first record, so the other
records read that text back.

usage: packed_track_images.py <output.inc>
"""
import sys

NULL = 0xFFFFFF
ITEM = 0x800000
NAMES = ["title", "source", "artist", "genre", "year", "date", "playlist", "vund"]
# kind per track field: i integer, t text, b 16 bytes
KINDS = "ttttiiitiiiiiiib"
NEXT = [2, 6, 1, 0, 0, 1, None, None, None, None, None, None, None, None, None, None]


class Words:
    def __init__(self):
        self.data = bytearray()

    def pos(self):
        return len(self.data) // 3

    def put(self, position, value):
        self.data[position * 3:position * 3 + 3] = (value & 0xFFFFFF).to_bytes(3, "little")

    def add(self, value):
        self.data += (value & 0xFFFFFF).to_bytes(3, "little")
        return self.pos() - 1

    def add_text(self, text):
        raw = text.encode("ascii") + b"\0"
        raw += b"\0" * (-len(raw) % 3)
        self.data += raw

    def add_bytes16(self, raw):
        assert len(raw) == 16
        self.data += raw + b"\xff\xff"


def fold(text):
    return [c.lower() for c in text if c.isalnum()]


def field_key(record, field):
    value = record["f"][field]
    return fold(value) if isinstance(value, str) else value


def sort_key(record, index):
    if index >= 6:
        return (field_key(record, 0), record["id"])
    key = []
    field = index
    while field is not None:
        key.append(field_key(record, field))
        field = NEXT[field]
    return (key, record["id"])


def label(index, value):
    if index == 4:
        return ("%04d" % value)[:3] + "0s" if value < 9999 else ""
    if index in (3, 5):
        return ""
    for c in value:
        if c.isascii() and c.isalnum():
            return c.upper()
    return "?"


def write_index(w, index, records, links, values):
    field = index if index < 6 else 0
    ordered = sorted(records, key=lambda r: sort_key(r, index))
    head = w.add(NULL)
    w.add(NULL)
    w.add_text(NAMES[index])
    w.put(5 + 2 * index, head)
    runs = []
    for r in ordered:
        if runs and field_key(runs[-1][0], field) == field_key(r, field):
            runs[-1].append(r)
        else:
            runs.append([r])
    last_group, last_label, last_node = head, "", NULL
    for run in runs:
        value = run[0]["f"][field]
        text = label(index, value)
        if text and text != last_label:
            group = w.add(NULL)
            w.add(last_group)
            w.add_text(text)
            w.put(last_group, group)
            last_group, last_label = group, text
        node = w.add(NULL)
        w.add(last_node)
        w.add(len(run))
        w.put(last_node if last_node != NULL else 4 + 2 * index, node)
        for slot, r in enumerate(run):
            w.add(r["id"])
            links[(index, r["id"])] = (node, slot)
            values[(index, r["id"])] = value
        if isinstance(value, str):
            w.add_text(value)
        else:
            w.add(value)
        last_node = node


def build(tracks, items):
    w = Words()
    for _ in range(20):
        w.add(NULL)
    links = {}
    values = {}
    lists = {6: [], 7: []}
    for item in items:
        lists[item["list"]].append({"id": item["id"], "f": [item["name"]]})
    for index in range(8):
        write_index(w, index, tracks if index < 6 else lists[index], links, values)
    table = {}
    w.put(3, w.pos())
    w.add(len(tracks))
    for t in sorted(tracks, key=lambda r: r["id"]):
        table[t["id"] >> 4] = w.pos()
        for index in range(6):
            node, slot = links[(index, t["id"])]
            w.add(node)
            w.add(slot)
        for field in range(6, 16):
            value = t["f"][field]
            if KINDS[field] == "i":
                w.add(value)
            elif KINDS[field] == "t":
                w.add_text(value)
            else:
                w.add_bytes16(value)
    for number in (6, 7):
        members = sorted((i for i in items if i["list"] == number), key=lambda i: i["id"])
        w.add(len(members))
        for i in members:
            table[i["id"] >> 4] = w.pos() | ITEM
            node, slot = links[(number, i["id"])]
            for word in (node, slot, number, i["high"], i["low"]):
                w.add(word)
    w.put(2, w.pos())
    count = max(table) + 1 if table else 0
    w.add(count)
    for n in range(count):
        w.add(table.get(n, NULL))
    w.put(1, 3)
    w.put(0, 0x819A55)
    return bytes(w.data), values


def track(id, title, source, artist, genre, year, hours, number, comment="", high=0, low=0,
          seconds=0, rate=0, channels=0, code=0, generation=0, rid=bytes(16)):
    return {"id": id, "f": [title, source, artist, genre, year, hours, number, comment, high, low,
                            seconds, rate, channels, code, generation, rid]}


def item(number, id, name, high=0, low=0):
    return {"list": number, "id": id, "name": name, "high": high, "low": low}


CASES = [
    ("empty", [], []),
    ("one track",
     [track(16, "abc", "Album", "Artist", "Rock", 2004, 300000, 3, "nice", 4, 805696, 200,
            128000 | ITEM, 2, 0, 7, bytes(range(16)))],
     []),
    ("many tracks and items",
     [track(16, "Song", "B Side", "Zed", "Pop", 1987, 10, 2),
      track(32, "song", "A Side", "Amy", "Pop", 1999, 10, 1, "x"),
      track(48, "Song", "A Side", "Amy", "Jazz", 2004, 11, 5),
      track(64, "...", "", "", "", 12000, 0, 0),
      track(80, "ABC", "Zeta", "Bob", "Rock", 5, 9, 9, "", 1, 2, 3, 4, 1, 1, 5,
            bytes([0xAB] * 16)),
      track(96, "abc", "Zeta", "Al", "rock", 2004, 9, 1),
      track(16400, "2 Fast", "Way", "Cara", "Pop", 2010, 100, 4, "long comment text"),
      track(176, "Song", "a-side", "Amy", "pop", 1999, 10, 3)],
     [item(6, 112, "Mix", 0, 900), item(6, 128, "all", 1, 1), item(7, 144, "setup.bin", 0, 17),
      item(6, 160, "ALL", 2, 0)]),
    ("items only", [], [item(7, 16, "b"), item(7, 32, "a"), item(6, 48, "a")]),
]


def c_text(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def c_bytes(data):
    return '"' + "".join("\\x%02x" % b for b in data) + '"'


def main():
    out = ["// Generated by tests/oracle/packed_track_images.py",
           "struct PackedOracleTrack {", "  uint32_t id;", "  const char* text[16];",
           "  uint32_t number[16];", "  const char* rid;",
           "  const char* read_text[4];  // fields 0 to 3 as the image holds them", "};",
           "struct PackedOracleItem {", "  int list;", "  uint32_t id;", "  const char* name;",
           "  uint32_t high, low;", "  const char* read_name;", "};",
           "struct PackedOracleCase {", "  const char* name;",
           "  const PackedOracleTrack* tracks;", "  uint32_t track_count;",
           "  const PackedOracleItem* items;", "  uint32_t item_count;", "  const char* image;",
           "  uint32_t size;", "};"]
    rows = []
    for n, (name, tracks, items) in enumerate(CASES):
        image, values = build(tracks, items)
        if tracks:
            out.append("static const PackedOracleTrack kPackedTracks%d[] = {" % n)
            for t in tracks:
                texts = ", ".join(c_text(v) if KINDS[f] == "t" else "nullptr"
                                  for f, v in enumerate(t["f"]))
                numbers = ", ".join("%du" % v if KINDS[f] == "i" else "0u"
                                    for f, v in enumerate(t["f"]))
                read = ", ".join(c_text(values[(f, t["id"])]) for f in range(4))
                out.append("  {%du, {%s}, {%s}, %s, {%s}}," % (t["id"], texts, numbers,
                                                              c_bytes(t["f"][15]), read))
            out.append("};")
        if items:
            out.append("static const PackedOracleItem kPackedItems%d[] = {" % n)
            for i in items:
                out.append("  {%d, %du, %s, %du, %du, %s}," % (
                    i["list"], i["id"], c_text(i["name"]), i["high"], i["low"],
                    c_text(values[(i["list"], i["id"])])))
            out.append("};")
        rows.append('  {"%s", %s, %d, %s, %d, %s, %d},' % (
            name, "kPackedTracks%d" % n if tracks else "nullptr", len(tracks),
            "kPackedItems%d" % n if items else "nullptr", len(items), c_bytes(image),
            len(image)))
    out.append("static const PackedOracleCase kPackedOracleCases[] = {")
    out += rows
    out.append("};")
    with open(sys.argv[1], "w") as f:
        f.write("\n".join(out) + "\n")


main()
