#!/usr/bin/env python3
"""The rules of the exports table: what makes an import pass or fail the floor check.

usage: check_deliverable_imports_test.py (from any folder)
"""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_deliverable_imports as check  # noqa: E402

URL = "https://example.org/page"

TABLE = """# a comment
source sdk98 https://example.org/sdk98 Windows: Requires Windows 95 or later.
kernel32.dll Sourced 95 sdk98 2000 %(url)s
kernel32.dll Unsourced 95 unsourced 2000 %(url)s
kernel32.dll UnsourcedButUnused 98 unsourced 2000 %(url)s
kernel32.dll NtOnly none - 2000 %(url)s
kernel32.dll NewerNine 98SE sdk98 XP %(url)s (a note)
source archive http://example.org/archive Windows 98 ships the library.
kernel32.dll TwoSources 98 sdk98+archive 2000 %(url)s
""" % {"url": URL}


def write_table(text):
    handle = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8")
    handle.write(text)
    handle.close()
    return handle.name


class TableRulesTest(unittest.TestCase):
    def setUp(self):
        self.path = write_table(TABLE)
        self.table = check.read_table(self.path)

    def tearDown(self):
        os.unlink(self.path)

    def test_each_import_against_the_floor(self):
        floor = ("98SE", "2000")
        cases = [
            ("Sourced", []),
            ("TwoSources", []),
            ("Unsourced", ["no document found states that Windows 95 exports it"]),
            ("NtOnly", ["no release of the 9x family exports it"]),
            ("NewerNine", ["Windows XP of the NT family exports it"]),
            ("Missing", ["is not in the table"]),
        ]
        for name, expected in cases:
            with self.subTest(name=name):
                found = check.breaches({"KERNEL32.dll": [name]}, self.table, floor)
                self.assertEqual(len(found), len(expected), found)
                for line, text in zip(found, expected):
                    self.assertIn(text, line)

    def test_an_unsourced_row_nobody_imports_passes(self):
        found = check.breaches({"kernel32.dll": ["Sourced"]}, self.table, ("98SE", "2000"))
        self.assertEqual(found, [])


class MalformedTableTest(unittest.TestCase):
    def assert_refused(self, text, message):
        path = write_table(text)
        try:
            with self.assertRaises(SystemExit) as refusal:
                check.read_table(path)
            self.assertIn(message, str(refusal.exception))
        finally:
            os.unlink(path)

    def test_refusals(self):
        row = "kernel32.dll Name 95 %s 2000 " + URL + "\n"
        cases = [
            ("a key no source line names", row % "nokey", "is not named by a source line"),
            ("a source line nobody cites",
             "source spare " + URL + " says something\n" + row % "unsourced",
             "is cited by no row"),
            ("a source named twice",
             "source a " + URL + " x\nsource a " + URL + " y\n" + row % "a", "named twice"),
            ("a source without an address", "source a nowhere says\n" + row % "a",
             "want source, key"),
            ("one of two keys unnamed", "source a " + URL + " x\n" + row % "a+b",
             "is not named by a source line"),
            ("\"-\" where 9x is a release", row % "-", "exactly where 9x is \"none\""),
            ("a source where 9x is none",
             "kernel32.dll Name none unsourced 2000 " + URL + "\n",
             "exactly where 9x is \"none\""),
            ("the old five columns", "kernel32.dll Name 95 2000 " + URL + "\n",
             "want dll, name"),
        ]
        for label, text, message in cases:
            with self.subTest(label):
                self.assert_refused(text, message)


if __name__ == "__main__":
    unittest.main()
