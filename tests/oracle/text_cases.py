"""Writes the text conversion cases for text_convert_test.cpp.

Expected results of valid text come from Python's codecs (utf-8, utf-16-le/-be, latin-1,
cp1252). Invalid UTF-8 has no codec answer, so a small reference decoder models the
replacement rules (a bad lead byte, a broken or overlong sequence each give -1; surrogates and
values up to 0x7FFFFFFF pass); on every valid case it must agree with Python's utf-8 codec.

usage: text_cases.py <output.inc>
"""
import codecs
import sys

codecs.register_error("latin1_bf", lambda e: ("\xbf" * (e.end - e.start), e.end))


def until_nul(data):
    return data.split(b"\0")[0]


def payload_bits(length):
    """Bits a UTF-8 sequence of this many bytes carries."""
    return 7 if length == 1 else 5 * length + 1


def reference_steps(data):
    """(code point, bytes consumed) for each character before the NUL."""
    text = until_nul(data)
    steps, i = [], 0
    while i < len(text):
        lead = text[i]
        ones = 0
        while ones < 8 and lead & (0x80 >> ones):
            ones += 1
        if ones == 0:
            steps.append((lead, 1))
            i += 1
            continue
        tail = text[i + 1:i + ones]
        if ones == 1 or ones > 6 or len(tail) < ones - 1 or any(b & 0xC0 != 0x80 for b in tail):
            steps.append((-1, 1))
            i += 1
            continue
        value = lead & (0xFF >> (ones + 1))
        for b in tail:
            value = value << 6 | (b & 0x3F)
        steps.append((value if value >= 1 << payload_bits(ones - 1) else -1, ones))
        i += ones
    return steps


def units_of(s, codec="utf-16-le"):
    raw = s.encode(codec, "surrogatepass")
    return [int.from_bytes(raw[k:k + 2], "little") for k in range(0, len(raw), 2)]


def wide_to_utf8(units):
    """Byte-order mark handling by hand, the rest by Python's UTF-16 and UTF-8 codecs."""
    if 0 in units:
        units = units[:units.index(0)]
    raw = b"".join(u.to_bytes(2, "little") for u in units)
    codec = "utf-16-le"
    if units[:1] == [0xFEFF]:
        raw = raw[2:]
    elif units[:1] == [0xFFFE]:
        raw, codec = raw[2:], "utf-16-be"
    return raw.decode(codec, "surrogatepass").encode("utf-8", "surrogatepass")


def utf8_case(label, data):
    steps = reference_steps(data)
    points = [cp for cp, _ in steps]
    try:
        text = until_nul(data).decode("utf-8")
    except UnicodeDecodeError:
        text = None
    if text is not None:
        assert points == [ord(c) for c in text], label
        assert [n for _, n in steps] == [len(c.encode("utf-8")) for c in text], label
        wide = units_of(text)
        latin1 = text.encode("latin-1", "latin1_bf")
    else:
        wide, latin1 = [], b""
        for cp in points:
            valid = 0 <= cp <= 0x10FFFF
            wide += units_of(chr(cp)) if valid else [0xFFFD]
            latin1 += chr(cp).encode("latin-1", "latin1_bf") if valid else b"\xbf"
    text_class = 0
    for cp in points:
        if cp < 0:
            text_class = 3
            break
        if cp > 0xFF:
            text_class = 2
            break
        if cp >= 0x80:
            text_class = 1
    round_trip = wide_to_utf8(wide)
    if text is not None:
        assert round_trip == until_nul(data), label
    return (label, data, text is not None, steps, wide, latin1, text_class, round_trip)


UTF8_INPUTS = [
    ("empty", b""),
    ("ascii", b"Track 01.mp3"),
    ("latin-1 letters", "café Grüße".encode()),
    ("every latin-1 code point", "".join(map(chr, range(0x80, 0x100))).encode()),
    ("euro sign", "€".encode()),
    ("beyond the BMP", b"\xF0\x9F\x8E\xB5"),
    ("mixed scripts", "Ünïcödé ☃ 日本語 🎵 𝄞".encode()),
    ("largest code point", b"\xF4\x8F\xBF\xBF"),
    ("length boundaries", "\x7F\x80\u07FF\u0800\uFFFF\U00010000".encode()),
    ("overlong nul", b"\xC0\x80"),
    ("overlong 2-byte slash", b"\xC1\xBF"),
    ("overlong 3-byte", b"\xE0\x80\x80"),
    ("overlong 4-byte", b"\xF0\x8F\xBF\xBF"),
    ("broken 3-byte sequence", b"\xE2\x82\x41"),
    ("stray continuation", b"a\x80b"),
    ("bytes FE FF", b"\xFE\xFFz"),
    ("truncated at the end", b"ab\xF0\x9F"),
    ("truncated 2-byte at the end", b"\xC3"),
    ("surrogate encoded", b"\xED\xA0\x80"),
    ("surrogate pair encoded separately", b"\xED\xA0\xBC\xED\xBE\xB5"),
    ("above U+10FFFF", b"\xF4\x90\x80\x80"),
    ("5-byte sequence", b"\xF8\x88\x80\x80\x80"),
    ("overlong 5-byte", b"\xF8\x87\xBF\xBF\xBF"),
    ("6-byte sequence", b"\xFC\x84\x80\x80\x80\x80"),
    ("largest 6-byte value", b"\xFD\xBF\xBF\xBF\xBF\xBF"),
    ("overlong 6-byte", b"\xFC\x83\xBF\xBF\xBF\xBF"),
    ("latin-1 then euro", b"\xC3\xA9\xE2\x82\xAC"),
    ("cafe", b"\x63\x61\x66\xC3\xA9"),
    ("euro then stray byte", b"\xE2\x82\xAC\xFF"),
    ("stray byte then euro", b"\xFF\xE2\x82\xAC"),
    ("latin-1 then invalid", b"\xC3\xA9\x80"),
    ("embedded nul", b"a\xC3\xA9\0\xFFb"),
    ("lead byte before nul", b"\xE2\0\x82\xAC"),
]

WIDE_INPUTS = [
    ("empty", []),
    ("only a byte-order mark", [0xFEFF]),
    ("only a swapped byte-order mark", [0xFFFE]),
    ("swapped", [0xFFFE, 0x4100, 0x4200]),
    ("byte-order mark", [0xFEFF, 0x0041]),
    ("second byte-order mark kept", [0xFEFF, 0xFEFF, 0x0041]),
    ("byte-order mark inside", [0x0041, 0xFEFF]),
    ("lone high surrogate", [0xD800]),
    ("lone low surrogate", [0xDC00]),
    ("reversed pair", [0xDC00, 0xD800]),
    ("high before a pair", [0xD800, 0xD800, 0xDC00]),
    ("lone high inside", [0x0041, 0xDBFF, 0x0042]),
    ("pair", [0xD83C, 0xDFB5]),
    ("swapped pair", [0xFFFE, 0x3CD8, 0xB5DF]),
    ("swapped latin-1", [0xFFFE, 0xFF00, 0xE900]),
    ("largest pair", [0xDBFF, 0xDFFF]),
    ("length boundaries", [0x7F, 0x80, 0x7FF, 0x800, 0xFFFD, 0xFFFF]),
    ("ends at zero", [0x0041, 0x0000, 0x0042]),
    ("mixed scripts", units_of("Grüße, 世界 🎵 𝄞")),
]

LATIN1_INPUTS = [
    ("empty", b""),
    ("every byte", bytes(range(1, 256))),
    ("ends at nul", b"caf\xE9\0\xFF"),
]

# cp1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D undefined; Python has no answer for them.
CP1252_BYTES = bytes(b for b in range(1, 256) if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D))
ANSI_TEXTS = [
    ("empty", ""),
    ("ascii file name", "C:\\Music\\Track 01.mp3"),
    ("western text", "Café – “Ünïcode” €5 … Œuvre ™"),
    ("every defined byte", CP1252_BYTES.decode("cp1252")),
]

# Characters the code page lacks and Windows has no best-fit letter for: the default '?'.
ANSI_LOSSY = [
    ("cjk", "日本".encode()),
    ("cjk inside", "a中b".encode()),
    ("invalid utf-8", b"x\xFFy"),
]


def c_bytes(data):
    if not data:
        return "std::string()"
    return 'std::string("%s", %d)' % ("".join("\\x%02X" % b for b in data), len(data))


def c_wide(units):
    return "std::wstring{%s}" % ", ".join("0x%04X" % u for u in units)


def main():
    out = ["// Generated by tests/oracle/text_cases.py; do not edit.", ""]
    out.append("const Utf8Case kUtf8Cases[] = {")
    for label, data, valid, steps, wide, latin1, text_class, round_trip in (
            utf8_case(*c) for c in UTF8_INPUTS):
        out.append('    {"%s", %s, %s,' % (label, c_bytes(data), "true" if valid else "false"))
        out.append("     {%s}," % ", ".join("{%d, %d}" % s for s in steps))
        out.append("     %s, %s, %d, %s}," % (c_wide(wide), c_bytes(latin1), text_class,
                                             c_bytes(round_trip)))
    out.append("};")
    out.append("")
    out.append("const WideCase kWideCases[] = {")
    for label, units in WIDE_INPUTS:
        out.append('    {"%s", %s, %s},' % (label, c_wide(units), c_bytes(wide_to_utf8(units))))
    out.append("};")
    out.append("")
    out.append("const Latin1Case kLatin1Cases[] = {")
    for label, data in LATIN1_INPUTS:
        utf8 = until_nul(data).decode("latin-1").encode("utf-8")
        out.append('    {"%s", %s, %s},' % (label, c_bytes(data), c_bytes(utf8)))
    out.append("};")
    out.append("")
    out.append("const AnsiCase kAnsiCases[] = {")
    for label, text in ANSI_TEXTS:
        out.append('    {"%s", %s, %s, %s},' % (label, c_bytes(text.encode("cp1252")),
                                               c_wide(units_of(text)), c_bytes(text.encode())))
    out.append("};")
    out.append("")
    out.append("const AnsiLossyCase kAnsiLossyCases[] = {")
    for label, data in ANSI_LOSSY:
        wide = utf8_case(label, data)[4]
        text = b"".join(u.to_bytes(2, "little") for u in wide).decode("utf-16-le")
        out.append('    {"%s", %s, %s},' % (label, c_bytes(data),
                                           c_bytes(text.encode("cp1252", "replace"))))
    out.append("};")
    with open(sys.argv[1], "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
