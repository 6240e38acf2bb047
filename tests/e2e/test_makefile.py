#!/usr/bin/python3
"""examples/Makefile driven as a user drives it, in a scratch copy of examples/.

    /usr/bin/python3 tests/e2e/test_makefile.py --binary build/mkcolormap

A file is "touched" by giving it the current time after every file in the
folder has been set back in time (the colour map less far back than its
inputs), so no test depends on the clock's resolution or on a wait.
"""

import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

BINARY = None  # set from --binary
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
EXPECTED = (EXAMPLES / "colormap.expected").read_bytes()


class MakefileTestCase(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="mkcolormap-make-")
        self.addCleanup(scratch.cleanup)
        self.dir = pathlib.Path(scratch.name) / "examples"
        shutil.copytree(EXAMPLES, self.dir, ignore=shutil.ignore_patterns("colormap.bin"))

    def make(self, *args):
        return subprocess.run(["make", "--no-print-directory", f"MKCOLORMAP={BINARY}", *args],
                              cwd=self.dir, capture_output=True, text=True, errors="replace",
                              stdin=subprocess.DEVNULL)

    def build(self, *args):
        result = self.make(*args)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result

    def up_to_date(self, *args):
        """make -q: 0 when the target is up to date, 1 when it is not."""
        status = self.make("-q", *args).returncode
        self.assertIn(status, (0, 1))
        return status == 0

    def settle(self, target="colormap.bin"):
        now = time.time()
        for path in self.dir.rglob("*"):
            age = 10 if path.name == target else 20
            os.utime(path, (now - age, now - age), follow_symlinks=False)

    def touch(self, name):
        os.utime(self.dir / name)


class PipelineTest(MakefileTestCase):
    def test_build_touch_break_and_mend(self):
        self.build()
        self.assertEqual((self.dir / "colormap.bin").read_bytes(), EXPECTED)
        self.assertTrue(self.up_to_date())

        for name in ["rings.lbm", "table.bin", "maps.ini"]:
            with self.subTest(touched=name):
                self.settle()
                self.assertTrue(self.up_to_date())
                self.touch(name)
                self.assertFalse(self.up_to_date(), f"{name} touched")
                self.build()
                self.assertTrue(self.up_to_date())
                self.assertEqual((self.dir / "colormap.bin").read_bytes(), EXPECTED)

        # A broken image: the tool's message, make fails, and no partial
        # colour map is left to pass for an up-to-date one.
        good = (self.dir / "rings.lbm").read_bytes()
        self.settle()
        (self.dir / "rings.lbm").write_bytes(good[:len(good) // 2])
        result = self.make()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn('ERROR. Can\'t open the image "rings.lbm", probably bad file format.\n', result.stdout)
        self.assertFalse((self.dir / "colormap.bin").exists(), "the failed run's output was kept")
        self.assertFalse(self.up_to_date())

        (self.dir / "rings.lbm").write_bytes(good)
        self.build()
        self.assertEqual((self.dir / "colormap.bin").read_bytes(), EXPECTED)
        self.assertTrue(self.up_to_date())

    def test_a_missing_input_is_reported_by_the_tool(self):
        (self.dir / "maps.ini").write_text("gradient.bmp\ngone.pcx\n")
        result = self.make()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn('ERROR. Can\'t open the image "gone.pcx", probably bad file format.\n', result.stdout)
        self.assertFalse((self.dir / "colormap.bin").exists())


class ShownTest(unittest.TestCase):
    def test_the_readme_shows_the_makefile_as_it_is(self):
        readme = (EXAMPLES.parent / "README.md").read_text()
        self.assertIn("```make\n" + (EXAMPLES / "Makefile").read_text() + "```\n", readme)


class PrerequisiteTest(MakefileTestCase):
    # An INI file in a folder of its own, whose rows are taken from the
    # working folder: every rule of the format that decides what is a row.
    INI = (b"\xef\xbb\xbfgradient.bmp\r\n"                   # byte-order mark, CR LF
           b"# comment.bin\r\n"
           b"\r\n"
           b"\n"
           b"table.bin\rafter-cr.bin\n"                       # a CR ends the row
           b"#" + b"c" * 898 + b"piece.bin\n"                 # 899 bytes, then a row
           b"\x00nul.bin\n"                                   # a NUL: a blank row
           b"columns.pcx\x00after-nul.bin\n"
           b"tile#1.pcx")                                     # no line end
    ROWS = ["gradient.bmp", "table.bin", "piece.bin", "columns.pcx", "tile#1.pcx"]
    NOT_ROWS = ["comment.bin", "after-cr.bin", "nul.bin", "after-nul.bin"]
    ARGS = ["INI=lists/odd.ini", "MAP=out/odd.bin"]

    def setUp(self):
        super().setUp()
        (self.dir / "lists").mkdir()
        (self.dir / "out").mkdir()
        (self.dir / "lists" / "odd.ini").write_bytes(self.INI)
        shutil.copy(self.dir / "table.bin", self.dir / "piece.bin")
        shutil.copy(self.dir / "columns.pcx", self.dir / "tile#1.pcx")
        for name in self.NOT_ROWS:
            (self.dir / name).write_bytes(b"not a row")

    def assert_tracked(self, tracked, untracked):
        """Touching each of `tracked` alone makes the map out of date, and
        touching any of `untracked` does not."""
        self.settle("odd.bin")
        self.assertTrue(self.up_to_date(*self.ARGS))
        for name in [*tracked, *untracked]:
            with self.subTest(touched=name):
                self.touch(name)
                self.assertEqual(self.up_to_date(*self.ARGS), name in untracked)
                self.settle("odd.bin")

    def test_exactly_the_rows_the_tool_reads_are_prerequisites(self):
        result = self.build(*self.ARGS)
        self.assertEqual(result.stderr, "")
        # The tool read those rows, in that order.
        entries = {"gradient.bmp": EXPECTED[:256], "columns.pcx": EXPECTED[256:512],
                   "tile#1.pcx": EXPECTED[256:512]}
        expected = b"".join(entries.get(row) or (self.dir / row).read_bytes() for row in self.ROWS)
        self.assertEqual((self.dir / "out" / "odd.bin").read_bytes(), expected)
        self.assert_tracked(["lists/odd.ini", *self.ROWS], self.NOT_ROWS)

    def test_a_path_with_a_space_rebuilds_on_every_run(self):
        # A space, or a % that would make the empty rule a pattern rule.
        warning = re.escape("lists/odd.ini names paths that make cannot track (spaces or one of"
                            " : ; | * ? [ \\ % ~); out/odd.bin is built on every run\n")
        for name in ["my table.bin", "tile%1.bin", "%.bin"]:
            with self.subTest(name):
                shutil.copy(self.dir / "table.bin", self.dir / name)
                (self.dir / "lists" / "odd.ini").write_bytes(f"gradient.bmp\n{name}\n".encode())
                result = self.build(*self.ARGS)
                self.assertRegex(result.stderr, "^Makefile:[0-9]+: " + warning + "$")
                self.assertEqual((self.dir / "out" / "odd.bin").read_bytes(),
                                 EXPECTED[:256] + (self.dir / "table.bin").read_bytes())
                self.settle("odd.bin")
                self.assertFalse(self.up_to_date(*self.ARGS))
                # Missing, and the only row: the tool runs and says so.
                (self.dir / name).unlink()
                (self.dir / "lists" / "odd.ini").write_bytes(f"{name}\n".encode())
                result = self.make(*self.ARGS)
                self.assertEqual(result.stdout.splitlines()[-1],
                                 f'ERROR. Can\'t open the binary file "{name}"')
                self.assertRegex(result.stderr, "^Makefile:[0-9]+: " + warning)

    def test_other_characters_are_tracked(self):
        # Characters make takes as they are in a prerequisite: each file is
        # tracked, and make says nothing.
        names = ["a$1.bin", "a$$b.bin", "a#1.bin", "a=1.bin", "a'1.bin", 'a"1.bin', "a`1.bin",
                 "a(1).bin", "a)1(.bin"]
        for name in names:
            shutil.copy(self.dir / "table.bin", self.dir / name)
        (self.dir / "lists" / "odd.ini").write_bytes("\n".join(["gradient.bmp", *names]).encode())
        result = self.build(*self.ARGS)
        self.assertEqual(result.stderr, "")
        self.assertEqual((self.dir / "out" / "odd.bin").read_bytes(),
                         EXPECTED[:256] + (self.dir / "table.bin").read_bytes() * len(names))
        self.assert_tracked(names, [])


class Utf16PrerequisiteTest(PrerequisiteTest):
    """The same rows in UTF-16, as PowerShell's `>` writes it (Python's codecs)."""
    TEXT = PrerequisiteTest.INI[3:].decode("utf-8")
    INI = b"\xff\xfe" + TEXT.encode("utf-16-le")
    # Names are read through iconv as the rows above are; what make does with
    # their characters is the same whatever the encoding.
    test_a_path_with_a_space_rebuilds_on_every_run = None
    test_other_characters_are_tracked = None


class Utf16BigEndianPrerequisiteTest(Utf16PrerequisiteTest):
    """And in big-endian UTF-16, from iconv."""
    INI = b"\xfe\xff" + subprocess.run(["iconv", "-f", "UTF-8", "-t", "UTF-16BE"],
                                        input=Utf16PrerequisiteTest.TEXT.encode(),
                                        capture_output=True, check=True).stdout


class Utf32PrerequisiteTest(Utf16PrerequisiteTest):
    """And in UTF-32, as PowerShell's -Encoding utf32 writes it."""
    INI = b"\xff\xfe\x00\x00" + Utf16PrerequisiteTest.TEXT.encode("utf-32-le")

    def test_a_mark_after_the_mark_belongs_to_the_row(self):
        # The tool reads "\ufefftable.bin", not "table.bin"; so must make.
        shutil.copy(self.dir / "table.bin", self.dir / "\ufefftable.bin")
        for ini in [b"\xff\xfe" + "\ufefftable.bin\n".encode("utf-16-le"),
                    b"\xff\xfe\x00\x00" + "\ufefftable.bin\n".encode("utf-32-le")]:
            with self.subTest(ini[:4]):
                (self.dir / "lists" / "odd.ini").write_bytes(ini)
                self.build(*self.ARGS)
                self.settle("odd.bin")
                self.touch("table.bin")
                self.assertTrue(self.up_to_date(*self.ARGS))
                self.touch("\ufefftable.bin")
                self.assertFalse(self.up_to_date(*self.ARGS))

    def test_a_colour_map_name_make_cannot_take_is_refused(self):
        for name in ["out/50%.bin", "out/a b.bin", "out/a:b.bin"]:
            with self.subTest(name):
                result = self.make(*self.ARGS[:1], f"MAP={name}")
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertIn(f'MAP "{name}" holds a space or one of % : ;', result.stderr)
                self.assertEqual(list((self.dir / "out").iterdir()), [])


def main():
    global BINARY
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    args, rest = parser.parse_known_args()
    BINARY = os.path.abspath(args.binary)
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
