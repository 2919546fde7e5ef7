"""Writes a column-table stream for column_table_stream_test.cpp, laid out field by field from
the format: little-endian words; version 2 and a stamp; table kind, format number, column
count, (type, flags) per column, the name block (each name and a space); the open rows (row
number, length, packed row); next row number and row count R, then per column: int32 R words;
string pool size S, R offset words, S pool bytes; blob R + 1 offsets and the data area; byte R
bytes; int16 R halfwords; the deleted-row bitmap (length and bytes); the stamp again.

Packed rows hold the columns' values in order: int32 values and blob length words start at a
multiple of 4 from the row's first byte; texts end in a zero byte; bytes and int16 values
follow at once.

Besides the bytes, it writes the rows a scan shows (column rows in row order, a deleted row
replaced by its open row, then the open rows beyond), and the positions of the fields that the
damaged-stream cases change.

usage: column_table_streams.py <output.inc>
"""
import struct
import sys

from oracle_common import c_bytes, c_text

STAMP = 0x5F5E1234
KIND, FORMAT = 8, 3
# name, type, flags: 0 int32, 1 string, 2 blob, 3 byte, 4 int16; flag 1 keeps a sort order
COLUMNS = [("fid", 0, 1), ("title", 1, 0), ("artist", 1, 0), ("profile", 2, 0),
           ("rating", 3, 0), ("year", 4, 1)]
TITLES = ["Alpha", "Beta", "Gamma"]
ARTISTS = ["The Beatles", "Abba", "Ünder Zero"]
# column rows: fid, title index, artist index, profile, rating, year
ROWS = [
    (0x50, 0, 1, b"\x01\x02\x03", 1, 1999),
    (0x10, 1, 0, b"", 2, -5),
    (0x30, 2, 2, b"\xAA\xBB\xCC\xDD", 3, 2005),  # deleted; open row 2 stands in for it
    (0x20, 1, 1, b"", 4, 1970),
    (0x40, 0, 0, b"\x09\x08\x07", 255, 0),
]
DELETED = [2]
# open rows: row number, fid, title, artist, profile, rating, year
OPEN = [
    (2, 0x31, "Ga", "Abba", b"\x05", 7, -2),
    (7, 0x70, "New Song", "Les Rita", b"\x00" * 5, 9, 2024),
]
NEXT_ROW = 8


class Out:
    def __init__(self):
        self.data = bytearray()
        self.fields = {}

    def u32(self, value, name=None):
        if name:
            self.fields[name] = len(self.data)
        self.data += struct.pack("<I", value & 0xFFFFFFFF)

    def raw(self, data, name=None):
        if name:
            self.fields[name] = len(self.data)
        self.data += data


def pool_of(texts):
    pool, offsets = bytearray(), []
    for text in texts:
        offsets.append(len(pool))
        pool += text.encode("utf-8") + b"\0"
    return bytes(pool), offsets


def packed_row(values):
    out = bytearray()
    for (_, kind, _), value in zip(COLUMNS, values):
        if kind in (0, 2):
            out += b"\0" * (-len(out) % 4)
        if kind == 0:
            out += struct.pack("<i", value)
        elif kind == 1:
            out += value.encode("utf-8") + b"\0"
        elif kind == 2:
            out += struct.pack("<i", len(value)) + value
        elif kind == 3:
            out += bytes([value])
        else:
            out += struct.pack("<h", value)
    return bytes(out)


def stream():
    out = Out()
    out.u32(2, "version")
    out.u32(STAMP, "stamp")
    out.u32(KIND, "kind")
    out.u32(FORMAT, "format")
    out.u32(len(COLUMNS), "column_count")
    for i, (_, kind, flags) in enumerate(COLUMNS):
        out.u32(kind, "type_%d" % i)
        out.u32(flags)
    names = b"".join(name.encode() + b" " for name, _, _ in COLUMNS)
    out.u32(len(names), "name_length")
    out.raw(names)
    out.u32(len(OPEN), "open_count")
    for i, (row, *values) in enumerate(OPEN):
        packed = packed_row(values)
        out.u32(row, "open_row_%d" % i)
        out.u32(len(packed), "open_length_%d" % i)
        out.raw(packed, "open_packed_%d" % i)
    out.u32(NEXT_ROW, "next_row")
    out.u32(len(ROWS), "row_count")
    out.raw(b"".join(struct.pack("<i", r[0]) for r in ROWS), "fids")
    for column, texts, index in (("title", TITLES, 1), ("artist", ARTISTS, 2)):
        pool, offsets = pool_of(texts)
        out.u32(len(pool), column + "_pool_size")
        out.raw(b"".join(struct.pack("<I", offsets[r[index]]) for r in ROWS), column + "_offsets")
        out.raw(pool, column + "_pool")
        out.fields[column + "_pool_end"] = len(out.data) - 1
    blob_offsets, area = [], bytearray()
    for r in ROWS:
        blob_offsets.append(len(area))
        area += r[3]
    blob_offsets.append(len(area))
    out.raw(b"".join(struct.pack("<I", o) for o in blob_offsets), "profile_offsets")
    out.fields["profile_area_size"] = len(out.data) - 4
    out.raw(bytes(area))
    out.raw(bytes(r[4] for r in ROWS), "ratings")
    out.raw(b"".join(struct.pack("<h", r[5]) for r in ROWS), "years")
    bitmap = bytearray((len(ROWS) + 7) // 8)
    for row in DELETED:
        bitmap[row // 8] |= 1 << (row % 8)
    out.u32(len(bitmap), "bitmap_size")
    out.raw(bytes(bitmap))
    out.u32(STAMP, "end_stamp")
    return out


def scan_rows():
    """(row number, fid, title, artist, profile, rating, year) in scan order."""
    rows = []
    opens = {o[0]: o for o in OPEN}
    for number, r in enumerate(ROWS):
        if number in DELETED:
            if number in opens:
                rows.append(opens[number])
            continue
        rows.append((number, r[0], TITLES[r[1]], ARTISTS[r[2]], r[3], r[4], r[5]))
    rows += [o for o in OPEN if o[0] >= len(ROWS)]
    return rows


def main():
    out = stream()
    lines = ["// Written by tests/oracle/column_table_streams.py.", ""]
    lines.append("constexpr uint32_t kFixtureStamp = 0x%08X;" % STAMP)
    lines.append("const std::string kFixtureStream(")
    lines.append(c_bytes(out.data) + ", %d);" % len(out.data))
    lines.append("")
    lines.append("// Positions of fields in kFixtureStream.")
    lines.append("struct FixtureField { const char* name; uint32_t offset; };")
    lines.append("const FixtureField kFixtureFields[] = {")
    for name, offset in out.fields.items():
        lines.append('    {"%s", %d},' % (name, offset))
    lines.append("};")
    lines.append("")
    lines.append("struct FixtureRow { uint32_t row; int32_t fid; const char* title; "
                 "const char* artist; std::string profile; int32_t rating; int32_t year; };")
    lines.append("const FixtureRow kFixtureScan[] = {")
    for number, fid, title, artist, profile, rating, year in scan_rows():
        lines.append("    {%d, %d, %s, %s, std::string(%s, %d), %d, %d}," %
                     (number, fid, c_text(title), c_text(artist), c_bytes(profile).strip(),
                      len(profile), rating, year))
    lines.append("};")
    with open(sys.argv[1], "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
