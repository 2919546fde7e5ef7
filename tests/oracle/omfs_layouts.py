#!/usr/bin/python3
"""Writes the OMFS layout cases: the anchor, the sealed super block, the root directory node
and the start of the allocation bitmap of freshly formatted volumes, packed here with Python's
struct from the format's description, with CRC-16/XMODEM from binascii.crc_hqx."""
import binascii
import struct
import sys

from oracle_common import c_bytes, c_text

# (block size, metablock size, mirrors, blocks per unit, volume blocks, label, anchor text)
SHAPES = [
    (4096, 512, 2, 1, 256, "music", "test volume"),
    (1024, 1024, 1, 4, 1024, "Player", "test volume"),
    (2048, 1024, 3, 2, 5000, "x" * 300, "t" * 80),
]

NONE = 0xFFFFFFFFFFFFFFFF


def seal(block, location, crc_length, kind):
    struct.pack_into(">QIHHBBBB4x", block, 0, location, crc_length, 0, 0, 1, kind, 0xD2, 0)
    crc = binascii.crc_hqx(bytes(block[24:24 + crc_length]), 0)
    struct.pack_into(">H", block, 12, crc)
    xor = 0
    for byte in block[0:24]:
        xor ^= byte
    block[19] = xor


def bitmap_bytes(blocks):
    return ((blocks + 7) // 8 // 512 + 1) * 512


def layout(shape):
    bs, ms, mirrors, per_unit, blocks, label, text = shape
    anchor = bytearray(288)
    anchor[192:192 + min(len(text), 64)] = text.encode()[:64]
    struct.pack_into(">QQIIII", anchor, 256, 1, blocks, 0xC2993D87, bs, mirrors, ms)
    root_block = mirrors + 1
    bitmap_block = 2 * mirrors + 1  # the first free run after anchor, super copies and root
    bitmap_blocks = (bitmap_bytes(blocks) + bs - 1) // bs
    super_block = bytearray(ms)
    struct.pack_into(">QQQQII4xI", super_block, 24, 0, blocks, root_block, bitmap_block, bs,
                     per_unit, mirrors)
    cut = label.encode()[:256]
    super_block[72:72 + len(cut)] = cut
    struct.pack_into(">I", super_block, 328, ms)
    seal(super_block, 1, 312, 115)
    root = bytearray(ms)
    struct.pack_into(">QQ", root, 24, NONE, NONE)
    struct.pack_into(">I", root, 80, 0x44)
    for i in range((ms - 440) // 8):
        struct.pack_into(">Q", root, 440 + 8 * i, NONE)
    seal(root, root_block, ms - 24, 101)
    used = 1 + mirrors + mirrors + bitmap_blocks
    bits = bytearray(16)
    for b in range(min(used, 128)):
        bits[b // 8] |= 1 << (b % 8)
    return bytes(anchor), bytes(super_block[:336]), bytes(root), bitmap_block, bytes(bits)


def main(out_path):
    out = ["// Written by tests/oracle/omfs_layouts.py: OMFS structures packed with Python's",
           "// struct, CRC-16 by binascii.crc_hqx.", "",
           "static const OmfsLayoutCase kOmfsLayoutCases[] = {"]
    for shape in SHAPES:
        anchor, super_block, root, bitmap_block, bits = layout(shape)
        bs, ms, mirrors, per_unit, blocks, label, text = shape
        out.append("    {%d, %d, %d, %d, %d, %s, %s," % (bs, ms, mirrors, per_unit, blocks,
                                                        c_text(label), c_text(text)))
        out.append(c_bytes(anchor) + ",")
        out.append(c_bytes(super_block) + ",")
        out.append(c_bytes(root) + ",")
        out.append("     %d," % bitmap_block)
        out.append(c_bytes(bits) + "},")
    out.append("};")
    out.append("static const uint16_t kCrcOfDigits = 0x%04x;" % binascii.crc_hqx(b"123456789", 0))
    with open(out_path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
