#!/usr/bin/python3
"""Writes the expected fold value of every unit of the two collation tables, computed from
Python's unicodedata: decompose (compatibility), drop the marks, lower-case; Latin letters
drawn from a plain letter (stroke, bar, hook, curl, IPA shapes) give that letter; the listed
exceptions (final sigma, ordinal indicators, micro sign, L with middle dot) on top.

usage: collation_fold.py <output.inc>
"""
import sys
import unicodedata as ud

SHAPE_WORDS = {"SMALL", "CAPITAL", "TURNED", "REVERSED", "INVERTED", "DOTLESS", "SCRIPT",
               "OPEN", "CLOSED", "STRETCHED", "BARRED", "AFRICAN"}
TAILS = ([], ["BAR"], ["PRECEDED", "BY", "APOSTROPHE"])


def drawn_from(c):
    """The plain Latin letter a shaped letter is drawn from, or None."""
    words = ud.name(c, "").split()
    if words[:1] != ["LATIN"] or "LETTER" not in words:
        return None
    rest = words[words.index("LETTER") + 1:]
    while rest and rest[0] in SHAPE_WORDS and len(rest) > 1:
        rest = rest[1:]
    letter, tail = rest[0], rest[1:]
    if len(letter) != 1 or not (tail in TAILS or tail[:1] == ["WITH"]):
        return None
    return letter.lower()


def fold_letter(c):
    parts = ud.normalize("NFKD", c)
    stripped = "".join(p for p in parts if ud.category(p) not in ("Mn", "Mc", "Me")).lower()
    if parts == c and drawn_from(c):
        stripped = drawn_from(c)
    result = stripped if len(stripped) == 1 else c.lower()
    return "\u03c3" if result == "\u03c2" else result


def fold(u):
    c = chr(u)
    if u in (0xAA, 0xBA, 0xB5):  # ordinal indicators, micro sign
        return 0
    if u in (0x13F, 0x140):  # L with middle dot: the dot is no mark
        return ord("l")
    if 0xFF01 <= u <= 0xFF60:
        ascii_form = ud.normalize("NFKD", c)
        return ord(ascii_form.lower()) if ascii_form.isascii() and ascii_form.isalnum() else 0
    if u >= 0xFF61:
        return ord(ud.normalize("NFKD", c))
    category = ud.category(c)
    if category in ("Nd", "Cn"):
        return u
    if category[0] == "L" and category != "Lm":
        folded = ord(fold_letter(c))
        # A decomposition may end on a letter that folds further (U+01FE to U+00F8 to o).
        return fold(folded) if folded != u and 0x30 <= folded <= 0x500 else folded
    return 0


units = list(range(0x30, 0x501)) + list(range(0xFF01, 0xFFA0))
assert len(units) == 1392
with open(sys.argv[1], "w") as out:
    out.write("// Written by tests/oracle/collation_fold.py (Unicode %s)\n" % ud.unidata_version)
    for u in units:
        out.write("{0x%04X, 0x%04X},\n" % (u, fold(u)))
