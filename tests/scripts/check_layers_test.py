#!/usr/bin/env python3
"""The layering check on small source trees made to keep or break each of its rules."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import check_layers  # noqa: E402

TABLE = """
# quill_layer(<target> <folder> [WINDOW] ...) is documented here, not a row.
quill_layer(low   low)
quill_layer(mid   mid       PUBLIC low)
quill_layer(side  side      PUBLIC low)
quill_layer(top   top       PUBLIC mid
                            PRIVATE side)
quill_layer(ui    top/ui    WINDOW PUBLIC top)
quill_layer(prog  top/main.cpp PRIVATE top ui)
"""

HEADERS = ["low/l.h", "low/detail/d.h", "mid/m.h", "side/s.h", "top/t.h", "top/ui/w.h"]


def make_tree(root, table, extra_file=None):
    os.makedirs(os.path.join(root, "src"))
    with open(os.path.join(root, "src", "CMakeLists.txt"), "w") as f:
        f.write(table)
    files = {h: "#pragma once\n" for h in HEADERS}
    if extra_file:
        files[extra_file[0]] = "// first line\n" + extra_file[1] + "\n"
    for rel, text in files.items():
        path = os.path.join(root, "src", rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)


class CheckLayersTest(unittest.TestCase):
    def problems(self, table, extra_file=None):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, table, extra_file)
            return check_layers.check(root)

    def test_includes(self):
        cases = [
            # (file, line, what the report says, or None when the include is allowed)
            ("low/a.cpp", '#include "mid/m.h"', "low does not use"),  # up
            ("mid/a.cpp", '#include "side/s.h"', "mid does not use"),  # sideways
            ("top/a.cpp", '#include "low/l.h"', None),  # through a PUBLIC use
            ("top/a.cpp", '#include "side/s.h"', None),  # a PRIVATE use, from a .cpp
            ("top/a.h", '#include "side/s.h"', "PRIVATEly"),  # ... but not from a header
            ("low/a.cpp", '#include "low/detail/d.h"', None),
            ("mid/a.cpp", '#include "low/detail/d.h"', "a detail of low"),
            ("top/a.cpp", '#include "top/ui/w.h"', "top does not use"),  # a nested layer
            ("top/ui/a.cpp", '#include "top/t.h"', None),
            ("top/main.cpp", '#include "top/ui/w.h"', None),  # the program's own file
            ("mid/a.cpp", "#include <QWidget>", "Qt header"),
            ("mid/a.cpp", "#include <QtCore/QString>", "Qt header"),
            ("top/ui/a.cpp", "#include <QWidget>", None),
            ("low/a.cpp", '#include "low/gone.h"', "no file under src/"),
            ("other/a.cpp", "", "belongs to no layer"),
        ]
        for rel, line, expected in cases:
            with self.subTest(file=rel, line=line):
                problems = self.problems(TABLE, (rel, line))
                if expected is None:
                    self.assertEqual(problems, [])
                else:
                    self.assertEqual(len(problems), 1, problems)
                    self.assertIn(expected, problems[0])
                    where = "src/" + rel + (":1:" if expected == "belongs to no layer" else ":2:")
                    self.assertTrue(problems[0].startswith(where), problems[0])

    def test_broken_tables(self):
        cases = [
            (TABLE + "quill_layer(low2 low2 PUBLIC nowhere)\n", "not a layer"),
            (TABLE.replace("quill_layer(low   low)", "quill_layer(low low PUBLIC top)"),
             "in a circle"),
            (TABLE + "quill_layer(mid other)\n", "listed twice"),
            ("# nothing\n", "no quill_layer() table"),
        ]
        for table, expected in cases:
            with self.subTest(expected=expected):
                with self.assertRaisesRegex(ValueError, expected.replace("(", r"\(").replace(")", r"\)")):
                    self.problems(table)

    def test_the_repository_keeps_its_layers(self):
        root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
        self.assertEqual(check_layers.check(root), [])


if __name__ == "__main__":
    unittest.main()
