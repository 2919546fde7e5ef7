#!/usr/bin/python3
"""Writes src/support/collation_fold_table.cpp, the fold values of the collation.

Run by hand when the rule changes (not at build time):
    /usr/bin/python3 scripts/gen_collation_fold_table.py src/support/collation_fold_table.cpp

Rule, from Python's unicodedata: a letter folds to its compatibility decomposition with the
combining marks dropped, lower-cased, when that is one character. A Latin letter without a
decomposition whose name shows a plain letter under a stroke, bar, hook, curl or an IPA shape
(turned, reversed, small capital ...) folds to that letter; other letters keep their own
lower-case form. Digits fold to themselves; marks, modifier letters, punctuation, symbols and
other numbers fold to 0 (ignored). Unassigned units keep their value. Listed exceptions: the
final sigma folds to sigma, the ordinal indicators and the micro sign to 0, and L with middle
dot to l. In the full-width block, ASCII variants fold like ASCII letters and digits (the rest
to 0) and the half-width forms to their full-width counterparts.
"""
import re
import sys
import unicodedata

BASIC = range(0x30, 0x501)
WIDE = range(0xFF01, 0xFFA0)

EXCEPTIONS = {0x00AA: 0, 0x00BA: 0, 0x00B5: 0, 0x013F: 0x6C, 0x0140: 0x6C}
FINAL_SIGMA, SIGMA = 0x03C2, 0x03C3

LATIN_SHAPE = re.compile(
    r"LATIN (?:SMALL |CAPITAL )?LETTER "
    r"(?:(?:SMALL CAPITAL|SMALL|TURNED|REVERSED|INVERTED|DOTLESS|SCRIPT|OPEN|CLOSED|"
    r"STRETCHED|BARRED|AFRICAN) )*"
    r"([A-Z])(?: WITH .*| BAR| PRECEDED BY APOSTROPHE)?")


def letter_fold(c):
    decomposed = unicodedata.normalize("NFKD", c)
    base = "".join(x for x in decomposed if not unicodedata.category(x).startswith("M")).lower()
    if decomposed == c:
        shape = LATIN_SHAPE.fullmatch(unicodedata.name(c, ""))
        if shape:
            base = shape.group(1).lower()
    if len(base) != 1:  # a ligature or digraph: no single base letter
        base = c.lower()
    assert len(base) == 1, c
    return SIGMA if ord(base) == FINAL_SIGMA else ord(base)


def basic_fold(u):
    if u in EXCEPTIONS:
        return EXCEPTIONS[u]
    c = chr(u)
    category = unicodedata.category(c)
    if category in ("Nd", "Cn"):
        return u
    if category in ("Lu", "Ll", "Lt", "Lo"):
        folded = letter_fold(c)
        # A decomposition may end on a letter that folds further (U+01FE to U+00F8 to o):
        # the table holds the final value, so folding twice changes nothing.
        return basic_fold(folded) if folded != u and 0x30 <= folded <= 0x500 else folded
    return 0


def wide_fold(u):
    base = unicodedata.normalize("NFKD", chr(u))
    if u < 0xFF61:
        return ord(base.lower()) if base.isascii() and base.isalnum() else 0
    assert len(base) == 1, hex(u)
    return ord(base)


def emit(out, name, first, units, fold):
    out.write("const uint16_t %s[%d] = {\n" % (name, len(units)))
    values = ["0x%04X" % fold(u) for u in units]
    for row in range(0, len(values), 8):
        out.write("    %s,  // U+%04X\n" % (", ".join(values[row:row + 8]), first + row))
    out.write("};\n")


def main():
    with open(sys.argv[1], "w") as out:
        out.write("// Generated from Python's unicodedata (Unicode %s) by\n"
                  "//   /usr/bin/python3 scripts/gen_collation_fold_table.py %s\n"
                  "// Do not edit: change the script and run it again.\n"
                  % (unicodedata.unidata_version, "src/support/collation_fold_table.cpp"))
        out.write('#include "support/collation_fold_table.h"\n\n')
        emit(out, "kCollationFoldBasic", BASIC.start, BASIC, basic_fold)
        out.write("\n")
        emit(out, "kCollationFoldWide", WIDE.start, WIDE, wide_fold)


if __name__ == "__main__":
    main()
