"""The documents' checkers fail where a document is wrong, not only pass
where it is right: each runs on small documents written here, and must exit
as the case says with the message it says.

    checkers_test.py RAMINFO DUMPS_DIR SOURCE_DIR
"""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RAMINFO = DUMPS = SOURCE = ""  # set from the command line

TABLE = "server-supermicro-x9drw-2s-16dimm-ddr3.rsmb"  # 16 modules, in the repository
COUNT = "<!-- output of: raminfo --count --from-dump {table} -->\n\n```\n{line}\n```\n"

# name, checker, {file name: text}, exit status, a line of its output
CASES = [
    ("a right example passes", "output_examples",
     {"a.md": COUNT.format(table=TABLE, line="16")}, 0, "all 1 marked examples"),
    ("a wrong line fails", "output_examples",
     {"a.md": COUNT.format(table=TABLE, line="15")}, 1,
     "a.md: raminfo --count --from-dump " + TABLE + ": shows a line the tool does not print"),
    ("a wrong example in the second file fails", "output_examples",
     {"a.md": "no examples here\n", "b.md": COUNT.format(table=TABLE, line="15")}, 1,
     "b.md: raminfo --count"),
    ("a table the project lacks fails", "output_examples",
     {"a.md": COUNT.format(table="no-such-table.rsmb", line="16")}, 1,
     "the table no-such-table.rsmb is absent from"),
    ("documents without any example fail", "output_examples",
     {"a.md": "# Nothing shown\n"}, 1, "no document marks an output example"),
    ("links to a heading, a repeated heading and a file pass", "links",
     {"a.md": "# A: `b`\n\n## Two\n\n## Two\n\n[x](#a-b) [y](#two-1) [z](b.md#c)\n",
      "b.md": "```sh\n# not a heading\n```\n\n## C\n"}, 0, "every relative link of 2 documents"),
    ("a link to a missing file fails", "links",
     {"a.md": "see [the guide](gone.md)\n"}, 1, "a.md: (gone.md): gone.md does not exist"),
    ("a link to a missing heading fails", "links",
     {"a.md": "[x](b.md#c)\n", "b.md": "```\n## C\n```\n"}, 1, "b.md has no heading #c"),
    ("a link split over two lines is read", "links",
     {"a.md": "[the\nguide](#gone)\n"}, 1, "a.md has no heading #gone"),
    ("a memory_errors reason left out fails", "memory_errors_reasons",
     {"a.md": '"not read" and nothing else\n'}, 1,
     'does not list the memory_errors reason "no EDAC in this kernel"'),
]


class Checkers(unittest.TestCase):
    def test_cases(self):
        for name, checker, files, status, line in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as d:
                paths = []
                for file_name, text in files.items():
                    paths.append(os.path.join(d, file_name))
                    with open(paths[-1], "w", encoding="utf-8") as f:
                        f.write(text)
                args = {"output_examples": [RAMINFO, DUMPS], "links": [],
                        "memory_errors_reasons": [SOURCE]}[checker]
                run = subprocess.run([sys.executable, os.path.join(HERE, checker + ".py"), *args,
                                      *paths], capture_output=True, text=True, cwd=d, check=False)
                self.assertEqual(run.returncode, status, run.stdout + run.stderr)
                self.assertIn(line, run.stdout)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    RAMINFO, DUMPS, SOURCE = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
