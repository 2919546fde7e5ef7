#!/usr/bin/python3
"""Writes the partition-sector cases. Format 1: sfdisk writes a DOS partition table onto a
disk image and `sfdisk -d` reports what the sector holds; the tables record the sector and
the entries as sfdisk lists them. Format 2 (16 entries ending at byte 510, signature 56 AB):
the sector is packed here with Python's struct from the entries' description."""
import os
import re
import struct
import subprocess
import sys
import tempfile

from oracle_common import c_bytes

SECTOR = 512

# (entries as sfdisk script lines, disk size in sectors)
FORMAT1 = [
    (["start=2048, size=4096, type=83"], 65536),
    (["start=2048, size=2048, type=c, bootable",
      "start=8192, size=16384, type=7",
      "start=32768, size=32768, type=a5"], 65536),
    (["start=4096, size=4096, type=1", "start=8192, size=8192, type=fe",
      "start=16384, size=16384, type=5a", "start=40960, size=24576, type=e"], 65536),
]

# (entries: (start bytes, length bytes, type, flag), device bytes); length 0 = rest of device
FORMAT2 = [
    ([(512, 0, 0x5A, 0)], 1 << 20),
    ([(512, 4096, 1, 0), (8192, 65536, 0x7F, 1), (1 << 19, 0, 3, 1)], 1 << 20),
    ([(512 * (1 + i), 512, i, i & 1) for i in range(16)], 1 << 20),
]


def sfdisk_case(lines, sectors):
    with tempfile.TemporaryDirectory() as folder:
        image = os.path.join(folder, "disk.img")
        with open(image, "wb") as f:
            f.truncate(sectors * SECTOR)
        script = "label: dos\nlabel-id: 0x12345678\n" + "\n".join(lines) + "\n"
        subprocess.run(["sfdisk", "--no-reread", "--no-tell-kernel", "-q", image],
                       input=script.encode(), check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        dump = subprocess.run(["sfdisk", "-d", image], check=True, capture_output=True).stdout
        with open(image, "rb") as f:
            sector = f.read(SECTOR)
    entries = [None] * 4
    for line in dump.decode().splitlines():
        m = re.match(r".*disk\.img(\d+)\s*:\s*start=\s*(\d+),\s*size=\s*(\d+),\s*type=([0-9a-f]+)",
                     line)
        if m:
            entries[int(m.group(1)) - 1] = (int(m.group(2)), int(m.group(3)), int(m.group(4), 16))
    return sector, entries


def format2_sector(entries, device):
    sector = bytearray(SECTOR)
    for i, (start, length, kind, flag) in enumerate(entries):
        if length == 0:
            length = device - start
        struct.pack_into("<4xB3xII", sector, 238 + 16 * (i + 1), (kind & 0x7F) | (flag << 7),
                         start // SECTOR, length // SECTOR)
    sector[510:512] = b"\x56\xab"
    return bytes(sector)


def main(out_path):
    out = ["// Written by tests/oracle/partition_sectors.py: DOS sectors from sfdisk and the",
           "// entries `sfdisk -d` lists (start sector, sectors, type byte; absent = empty);",
           "// 16-entry sectors packed with Python's struct.", ""]
    out.append("static const SfdiskCase kSfdiskCases[] = {")
    for lines, sectors in FORMAT1:
        sector, entries = sfdisk_case(lines, sectors)
        out.append("    {")
        out.append(c_bytes(sector) + ",")
        out.append("     %dull," % (sectors * SECTOR))
        cells = []
        for entry in entries:
            cells.append("{false, 0, 0, 0}" if entry is None else
                         "{true, %dull, %dull, 0x%02x}" % entry)
        out.append("     {" + ", ".join(cells) + "}},")
    out.append("};")
    out.append("")
    out.append("static const Format2Case kFormat2Cases[] = {")
    for entries, device in FORMAT2:
        out.append("    {")
        out.append(c_bytes(format2_sector(entries, device)) + ",")
        out.append("     %dull, %d," % (device, len(entries)))
        cells = ["{%dull, %dull, %d, %d}" % e for e in entries]
        out.append("     {" + ", ".join(cells) + "}},")
    out.append("};")
    with open(out_path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
