#!/usr/bin/python3
"""The table checker of the wire messages: it accepts the project's tables and
refuses faulty ones with a message that names the fault.

Usage: wire_tables_test.py PATH/TO/wire_tables.py
"""

import glob
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None

HEADER = "| index | tag | wire type | label | value type | sub-message | name | meaning |\n|---|---|---|---|---|---|---|---|\n"


def table(*messages):
    text = "# test family\n\nmax depth: 100\n"
    for title, rows in messages:
        text += "\n## %s\n\n%s" % (title, HEADER)
        text += "".join("| %s |\n" % row for row in rows)
    return text


def run(*args):
    return subprocess.run([sys.executable, SCRIPT] + list(args), capture_output=True, text=True)


class WireTablesTest(unittest.TestCase):
    def check_text(self, text):
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "family.md")
            with open(path, "w") as handle:
                handle.write(text)
            return run("check", path)

    def test_project_tables_pass(self):
        tables = sorted(glob.glob(os.path.join(os.path.dirname(SCRIPT), "tables", "*.md")))
        result = run("check", *tables)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("59 messages, 283 fields", result.stdout)

    def test_faults_are_refused_by_name(self):
        cases = [
            ("index gap", table(('A "A"', ["0 | 1 | varint | singular | int32 | - | a |",
                                          "2 | 2 | varint | singular | int32 | - | b |"])),
             "index 2 where 1 was expected"),
            ("duplicate tag", table(('A "A"', ["0 | 1 | varint | singular | int32 | - | a |",
                                              "1 | 1 | string | singular | string | - | b |"])),
             "tag 1 is used by a too"),
            ("wire type against value type", table(('A "A"', ["0 | 1 | fixed64 | singular | int64 | - | a |"])),
             "wire type fixed64 cannot carry value type int64"),
            ("unsigned value on a signed wire type", table(('A "A"', ["0 | 1 | varint | singular | uint32 | - | a |"])),
             "wire type varint cannot carry value type uint32"),
            ("undefined sub-message", table(('A "A"', ["0 | 1 | message | singular | message | B | b |"])),
             "sub-message B is not defined"),
            ("message without sub-message", table(('A "A"', ["0 | 1 | message | repeated | message | - | b |"])),
             "message field b names no sub-message"),
            ("repeated double", table(('A "A"', ["0 | 1 | fixed64 | repeated | double | - | d |"])),
             "repeated double fields are not supported"),
            ("singular self-embedding", table(('A "A"', ["0 | 1 | message | singular | message | B | b |"]),
                                              ('B "B"', ["0 | 1 | message | singular | message | A | a |"])),
             "embeds itself through singular sub-messages"),
            ("duplicate message name", table(('A "Same"', ["0 | 1 | bool | singular | bool | - | a |"]),
                                             ('B "Same"', ["0 | 1 | bool | singular | bool | - | a |"])),
             "message name 'Same' is used by A too"),
            ("keyword as a field name", table(('A "A"', ["0 | 1 | bool | singular | bool | - | class |"])),
             "field name 'class' cannot be used"),
            ("accessor that hides a member", table(('A "A"', ["0 | 1 | string | singular | string | - | proto_buffer |"])),
             "the accessor protoBuffer of proto_buffer would hide a member of every message"),
            ("two fields with one accessor", table(('A "A"', ["0 | 1 | uvarint | repeated | uint64 | - | items |",
                                                             "1 | 2 | varint | singular | int32 | - | items_count |"])),
             "the accessor itemsCount of items_count is also one of items"),
            ("more fields than presence bits", table(('A "A"', ["%d | %d | bool | singular | bool | - | f%d |"
                                                                % (i, i + 1, i) for i in range(65)])),
             "A has 65 fields; a message holds at most 64"),
        ]
        for what, text, message in cases:
            with self.subTest(what):
                result = self.check_text(text)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(message, result.stderr)

    def test_a_recursive_list_is_fine(self):
        text = table(('A "A"', ["0 | 1 | message | repeated | message | A | children |",
                               "1 | 2 | uvarint | singular | enum | - | kind | descriptor default 3"]))
        result = self.check_text(text)
        self.assertEqual(result.returncode, 0, result.stderr)


if __name__ == "__main__":
    SCRIPT = sys.argv.pop(1)
    unittest.main()
