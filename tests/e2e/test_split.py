#!/usr/bin/python3
"""End-to-end tests of splitcolormap, with mkcolormap for the way back.

Every case runs in a scratch folder of its own. Pictures are read back with
Pillow, never with the code under test.

    /usr/bin/python3 tests/e2e/test_split.py --binary build/splitcolormap \\
        --mkcolormap build/mkcolormap

With --wine, both programs are the Windows builds run under Wine
(tests/wine/splitcolormap and tests/wine/mkcolormap), in a Wine folder
made for the run; the cases that cannot hold there are skipped, saying why.
"""

import argparse
import contextlib
import os
import pathlib
import random
import resource
import struct
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

SPLIT = MKCOLORMAP = None  # set from the command line
WINE = False
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
SHAPES = ["16x16", "256x1", "1x256", "32x8", "8x32", "2x128", "128x2", "64x4", "4x64"]


def names(entries, rest, extension):
    """The files a split of that many entries writes, by the README's rules."""
    digits = max(4, len(str(entries + (rest > 0) - 1)))
    sheets = (entries + 4095) // 4096
    files = [f"entry-{k:0{digits}}{extension}" for k in range(entries)]
    files += [f"entry-{entries:0{digits}}.bin"] if rest else []
    files += (["sheet" + extension] if sheets == 1 else
              [f"sheet-{s:0{max(4, len(str(sheets - 1)))}}{extension}" for s in range(sheets)])
    return sorted(files + ["maps.ini"])


def pbm(colours_first, colours_last):
    """A 16x16 PBM picture of pixels 0 to 255: a CMAP of the colours given
    (RGB bytes; none when empty) before its BODY, and one after it."""
    def chunk(name, data):
        return name + struct.pack(">I", len(data)) + data + b"\0" * (len(data) % 2)
    bmhd = struct.pack(">HHhhBBBBHBBhh", 16, 16, 0, 0, 8, 0, 0, 0, 0, 10, 11, 16, 16)
    inner = b"PBM " + chunk(b"BMHD", bmhd)
    inner += chunk(b"CMAP", colours_first) if colours_first else b""
    inner += chunk(b"BODY", bytes(range(256)))
    inner += chunk(b"CMAP", colours_last) if colours_last else b""
    return b"FORM" + struct.pack(">I", len(inner)) + inner


def bmp_without_colours():
    """A 16x16 8-bit BMP whose colour table holds no entry."""
    pixels = bytes(range(256))
    return (b"BM" + struct.pack("<IHHI", 54 + 256, 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 8, 0, 256, 0, 0, 0, 0) + pixels)


class SplitTestCase(unittest.TestCase):
    @contextlib.contextmanager
    def folder(self):
        with tempfile.TemporaryDirectory(prefix="splitcolormap-e2e-") as path:
            yield pathlib.Path(path)

    def run_tool(self, folder, tool, *args, preexec=None):
        run = subprocess.run([tool, *map(str, args)], cwd=folder, capture_output=True,
                             timeout=300, preexec_fn=preexec)
        return run.returncode, run.stdout, run.stderr.replace(b"\r\n", b"\n").decode()

    def split(self, folder, *args, status=0):
        code, _, errors = self.run_tool(folder, SPLIT, *args)
        self.assertEqual((code, errors), (status, ""), args)

    def rebuild(self, folder):
        code, out, _ = self.run_tool(folder, MKCOLORMAP, "maps.ini", "/Q")
        self.assertEqual((code, out), (0, b""))
        return (folder / "colormap.bin").read_bytes()


class RoundTripTest(SplitTestCase):
    def test_random_maps_rebuild_byte_for_byte(self):
        rng = random.Random(23)
        sizes = [0, 1, 255, 256, 257, 511, 512, 256 * 37 + 200, 256 * 4097 + 3]
        sizes += [rng.randrange(2, 64) * 256 + rng.randrange(256) for _ in range(6)]
        for number, size in enumerate(sizes):
            # Every format, spelled in any case, and shapes drawn at random.
            extension = [".bmp", ".pcx", ".tga"][number % 3]
            spelling = rng.choice([extension[1:], extension[1:].upper(), extension[1:].title()])
            shape = SHAPES[number % len(SHAPES)] if number < len(SHAPES) else rng.choice(SHAPES)
            with self.subTest(size=size, format=spelling, shape=shape), self.folder() as f:
                data = rng.randbytes(size)
                (f / "map.bin").write_bytes(data)
                self.split(f, "--format", spelling, "--shape", shape, "map.bin", "out")
                self.assertEqual(sorted(os.listdir(f / "out")),
                                 names(size // 256, size % 256, extension))
                self.assertEqual(self.rebuild(f / "out"), data)

    def test_the_shipped_example(self):
        with self.folder() as f:
            expected = (EXAMPLES / "colormap.expected").read_bytes()
            (f / "colormap.bin").write_bytes(expected)
            for name in ["gradient.bmp", "rings.lbm"]:
                (f / name).write_bytes((EXAMPLES / name).read_bytes())
                self.split(f, "--palette", name, "--force", "colormap.bin", "split")
                self.assertEqual(self.rebuild(f / "split"), expected)


class IndependentReaderTest(SplitTestCase):
    """Pillow reads back a sample of the pictures and the sheet."""

    def check_pictures(self, folder, data, extension, shape, colours):
        width, height = map(int, shape.split("x"))
        palette = [v for rgb in colours for v in rgb]
        greys = [v for i in range(256) for v in (i, i, i)]
        entries = len(data) // 256
        for name, size, pixels in [
                (f"entry-0000{extension}", (width, height), data[:256]),
                (f"entry-{entries - 1:04}{extension}", (width, height), data[-256:]),
                ("sheet" + extension, (256, entries), data)]:
            with self.subTest(name), Image.open(folder / name) as image:
                # Pillow opens a BMP or PCX whose palette is exactly grey i
                # at every index i as a grey picture.
                self.assertEqual((image.mode, image.size), ("L" if palette == greys and
                                                            extension != ".tga" else "P", size))
                self.assertEqual(bytes(image.getdata()), pixels)
                got = greys if image.mode == "L" else image.getpalette()[:768]
                self.assertEqual(got, palette)

    def test_pixels_and_palettes(self):
        rng = random.Random(5)
        greys = [(i, i, i) for i in range(256)]
        raw = [tuple(rng.randbytes(3)) for _ in range(256)]
        jasc = "JASC-PAL\r\n0100\r\n3\r\n" + "".join(f"{r} {g} {b}\r\n" for r, g, b in raw[:3])
        gimp = "GIMP Palette\nName: t\n#\n" + "".join(f"{r:3} {g:3} {b:3}\tc{i}\n"
                                                      for i, (r, g, b) in enumerate(raw[:20]))
        self.assertEqual(len(set(raw)), 256)  # so that no encoder merges colours
        # (palette file, its bytes or a picture's size, the colours expected),
        # every colour of 8 bits kept exactly: a short palette leaves the grey
        # ramp past its end; a picture of any size gives its colours.
        cases = [(None, None, greys), ("raw.bin", bytes(v for c in raw for v in c), raw),
                 ("p.pal", jasc.encode(), raw[:3] + greys[3:]),
                 ("p.gpl", gimp.encode(), raw[:20] + greys[20:]),
                 ("shot.bmp", (320, 200), raw), ("shot.pcx", (16, 16), raw),
                 ("screen.bmp", (1024, 1024), raw),  # 1,049,654 bytes
                 ("shot.tga", (300, 7), raw), ("shot.lbm", (16, 16), raw),
                 ("os2.bmp", (16, 16), raw),
                 # An IFF CMAP wherever it lies: the one in force at the BODY,
                 # else the first after it, as Allegro's loader takes it; an
                 # LBM's colours past its own are black.
                 ("late.lbm", pbm(b"", bytes(v for c in raw for v in c)), raw),
                 ("short.lbm", pbm(bytes(raw[1] * 2), bytes(raw[2])),
                  [raw[1]] * 2 + [(0, 0, 0)] * 254)]
        for number, (name, content, colours) in enumerate(cases):
            extension = [".bmp", ".pcx", ".tga"][number % 3]
            shape = ["32x8", "1x256", "16x16"][number % 3]
            with self.subTest(palette=name, format=extension), self.folder() as f:
                data = rng.randbytes(256 * 5)
                (f / "map.bin").write_bytes(data)
                palette = []
                if isinstance(content, tuple):
                    picture = Image.new("P", content)
                    picture.putpalette([v for c in raw for v in c])
                    if name.endswith(".lbm"):
                        # Pillow writes no LBM: netpbm does, its colour map
                        # in the order of the map given.
                        picture.putdata(range(256))
                        picture.convert("RGB").save(f / "shot.ppm")
                        colour_map = Image.new("RGB", (256, 1))
                        colour_map.putdata(raw)
                        colour_map.save(f / "map.ppm")
                        with open(f / "shot.ppm", "rb") as ppm, open(f / name, "wb") as lbm:
                            subprocess.run(["ppmtoilbm", "-maxplanes", "8", "-map", "map.ppm"],
                                           cwd=f, stdin=ppm, stdout=lbm, stderr=subprocess.DEVNULL,
                                           check=True)
                    elif name == "os2.bmp":
                        # Three bytes a colour after an OS/2 header, which
                        # Pillow never writes and ImageMagick's BMP2 does.
                        picture.putdata(range(256))
                        picture.save(f / "shot.png")
                        subprocess.run(["convert", "shot.png", f"BMP2:{name}"], cwd=f, check=True)
                    else:
                        picture.save(f / name)
                    palette = ["--palette", name]
                elif content is not None:
                    (f / name).write_bytes(content)
                    palette = ["--palette", name]
                self.split(f, *palette, "--format", extension[1:], "--shape", shape, "map.bin",
                           "out")
                self.check_pictures(f / "out", data, extension, shape, colours)


class FailureTest(SplitTestCase):
    """Each failure prints one line, exits 1 (2 for the command line) and
    leaves the folder as it was."""

    def expect_failure(self, f, args, message, status=1, preexec=None):
        before = {p: p.read_bytes() if p.is_file() else None for p in f.rglob("*")}
        code, out, errors = self.run_tool(f, SPLIT, *args, preexec=preexec)
        lines = errors.splitlines()
        self.assertEqual((code, out), (status, b""), errors)
        self.assertEqual(len(lines), 1, errors)
        self.assertIn(message, lines[0])
        self.assertTrue(lines[0].startswith("splitcolormap: "), lines[0])
        if status == 2:
            self.assertTrue(lines[0].endswith("; see splitcolormap --help"), lines[0])
        after = {p: p.read_bytes() if p.is_file() else None for p in f.rglob("*")}
        self.assertEqual(after, before, "the folder changed")

    def test_bad_input_leaves_nothing_behind(self):
        map_bytes = bytes(range(256)) * 3
        cases = [
            (["missing.bin", "out"], 'can\'t open the colour map "missing.bin": no such file', 1),
            ([".", "out"], 'colour map ".": not a regular file', 1),
            (["map.bin", "map.bin"], '"map.bin" is not a folder', 1),
            (["map.bin", "map.bin/out"], 'can\'t create the folder "map.bin/out"', 1),
            (["--palette", "short.pal", "map.bin", "out"], '"short.pal" is 767 bytes', 1),
            (["--palette", "long.pal", "map.bin", "out"], '"long.pal" is 769 bytes', 1),
            (["--palette", "bad.pal", "map.bin", "out"], '"bad.pal", line 5: expected three', 1),
            (["--palette", "bad.gpl", "map.bin", "out"], '"bad.gpl", line 3: expected three', 1),
            (["--palette", "257.gpl", "map.bin", "out"], "line 258: more than 256 colours", 1),
            (["--palette", "true.bmp", "map.bin", "out"], "24 bits-per-pixel", 1),
            (["--palette", "bad.tga", "map.bin", "out"], "probably bad file format", 1),
            (["--palette", "huge.bmp", "map.bin", "out"], '"huge.bmp" is larger than 2162688', 1),
            # A paletted picture whose file holds no colours gives none.
            (["--palette", "none.lbm", "map.bin", "out"], '"none.lbm" holds no palette', 1),
            (["--palette", "none.bmp", "map.bin", "out"], '"none.bmp" holds no palette', 1),
            (["--palette", "none.pcx", "map.bin", "out"], '"none.pcx" holds no palette', 1),
            (["--shape", "20x20", "map.bin", "out"], "--shape 20x20 is 400 pixels", 2),
            (["--shape", "8x8", "map.bin", "out"], "--shape 8x8 is 64 pixels", 2),
            (["--format", "bm\np", "map.bin", "out"], '--format "bm\\x0Ap": expected', 2),
            (["map.bin", "out", "x\ny"], 'unexpected argument "x\\x0Ay"', 2),
            (["map.bin", "old"], '"old/maps.ini" already exists; use --force', 1),
        ]
        for args, message, status in cases:
            with self.subTest(args), self.folder() as f:
                (f / "map.bin").write_bytes(map_bytes)
                (f / "short.pal").write_bytes(bytes(767))
                (f / "long.pal").write_bytes(bytes(769))
                (f / "bad.pal").write_text("JASC-PAL\n0100\n2\n1 2 3\n4 5 x\n")
                (f / "bad.gpl").write_text("GIMP Palette\n1 2 3\n4 5\n")
                (f / "257.gpl").write_text("GIMP Palette\n" + "1 2 3\n" * 257)
                Image.new("RGB", (16, 16)).save(f / "true.bmp")
                (f / "bad.tga").write_bytes(bytes(18))
                with open(f / "huge.bmp", "wb") as huge:
                    huge.truncate((2048 + 64) * 1024 + 1)
                (f / "none.lbm").write_bytes(pbm(b"", b""))
                (f / "none.bmp").write_bytes(bmp_without_colours())
                grey = Image.new("P", (16, 16))
                grey.putpalette(bytes(range(256)) * 3)
                grey.save(f / "whole.pcx")
                # Its 256 colours, and the marker before them, cut off.
                (f / "none.pcx").write_bytes((f / "whole.pcx").read_bytes()[:-769])
                (f / "old").mkdir()
                (f / "old" / "maps.ini").write_text("# mine\n")
                self.expect_failure(f, args, message, status)

    def test_help_and_version_to_a_full_disk(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        for option in ["--help", "--version"]:
            with self.subTest(option), self.folder() as f, open("/dev/full", "wb") as full:
                run = subprocess.run([SPLIT, option], cwd=f, stdout=full, stderr=subprocess.PIPE,
                                     timeout=300)
                self.assertEqual((run.returncode, run.stderr.replace(b"\r\n", b"\n")),
                                 (1, b"splitcolormap: can't write to standard output\n"))

    def test_force_replaces_an_earlier_run(self):
        with self.folder() as f:
            (f / "map.bin").write_bytes(bytes(600))
            self.split(f, "map.bin", "out")
            (f / "map.bin").write_bytes(bytes(range(256)) * 2)
            code, _, errors = self.run_tool(f, SPLIT, "map.bin", "out")
            self.assertEqual(code, 1)
            self.assertIn("already exists", errors)
            self.split(f, "--force", "map.bin", "out")
            self.assertEqual(sorted(os.listdir(f / "out")),
                             sorted(names(2, 0, ".bmp") + ["entry-0002.bin"]))
            self.assertEqual(self.rebuild(f / "out"), bytes(range(256)) * 2)

    def test_force_replaces_links_and_refuses_before_writing(self):
        # What is at a name of an earlier split: a link to a file outside
        # (entry or list), one to nowhere, a folder, a link to the map. A
        # link is replaced, never followed; a name that cannot be replaced
        # fails the run before anything is written.
        cases = [("entry-0001.bmp", "link", None), ("maps.ini", "link", None),
                 ("entry-0002.bmp", "dangling", None),
                 ("sheet.bmp", "folder", 'can\'t replace "out/sheet.bmp"'),
                 ("entry-0000.bmp", "map", '"map.bin" is at "out/entry-0000.bmp" (itself or')]
        for name, kind, message in cases:
            with self.subTest(name=name, kind=kind), self.folder() as f:
                data = random.Random(7).randbytes(256 * 5)
                (f / "map.bin").write_bytes(data)
                (f / "outside.txt").write_bytes(b"precious")
                self.split(f, "map.bin", "out")
                (f / "out" / name).unlink()
                if kind == "folder":
                    (f / "out" / name).mkdir()
                else:
                    target = {"link": "../outside.txt", "dangling": "nowhere", "map": "../map.bin"}
                    (f / "out" / name).symlink_to(target[kind])
                if message:
                    self.expect_failure(f, ["--force", "map.bin", "out"], message)
                    continue
                self.split(f, "--force", "map.bin", "out")
                self.assertEqual((f / "outside.txt").read_bytes(), b"precious")
                self.assertEqual(sorted(os.listdir(f / "out")), names(5, 0, ".bmp"))
                self.assertFalse((f / "out" / name).is_symlink())
                self.assertEqual(self.rebuild(f / "out"), data)

    def test_a_failure_part_way_removes_what_the_run_wrote(self):
        if WINE:
            self.skipTest("not on Windows: no file-size limit")
        # The entries fit under the limit; the sheet of 300 lines does not.
        limit = 64 * 1024

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        for folder in ["new", "old"]:
            with self.subTest(folder), self.folder() as f:
                (f / "map.bin").write_bytes(random.Random(1).randbytes(300 * 256))
                (f / "old").mkdir()
                self.expect_failure(f, ["map.bin", folder], f'can\'t write "{folder}/sheet.bmp"',
                                    preexec=small_files)
        # Under --force over an earlier split: the list goes first, the
        # pictures replaced go with the run, and only the sheet, not yet
        # reached, is left as it was; no temporary file is left.
        with self.subTest("force"), self.folder() as f:
            (f / "map.bin").write_bytes(random.Random(1).randbytes(300 * 256))
            self.split(f, "map.bin", "old")
            sheet = (f / "old" / "sheet.bmp").read_bytes()
            code, _, errors = self.run_tool(f, SPLIT, "--force", "map.bin", "old",
                                            preexec=small_files)
            self.assertEqual((code, errors), (1, 'splitcolormap: can\'t write "old/sheet.bmp"\n'))
            self.assertEqual(os.listdir(f / "old"), ["sheet.bmp"])
            self.assertEqual((f / "old" / "sheet.bmp").read_bytes(), sheet)


def wine_folder():
    """A Wine folder of the run's own, its server started here and kept up
    until the end, as tests/e2e/test_e2e.py makes it."""
    @contextlib.contextmanager
    def folder():
        with tempfile.TemporaryDirectory(prefix="splitcolormap-wine-") as prefix:
            os.environ.update(WINEPREFIX=prefix, WINEDEBUG="-all")
            subprocess.run(["wineserver", "-p"], check=True)
            subprocess.run(["wineboot", "-i"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            try:
                yield
            finally:
                subprocess.run(["wineserver", "-k"])
                subprocess.run(["wineserver", "-w"])
    return folder()


def main():
    global SPLIT, MKCOLORMAP, WINE
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True, help="splitcolormap")
    parser.add_argument("--mkcolormap", required=True)
    parser.add_argument("--wine", action="store_true")
    args, rest = parser.parse_known_args()
    SPLIT, MKCOLORMAP = os.path.abspath(args.binary), os.path.abspath(args.mkcolormap)
    WINE = args.wine
    with wine_folder() if WINE else contextlib.nullcontext():
        program = unittest.main(argv=[sys.argv[0], *rest], exit=False)
    sys.exit(not program.result.wasSuccessful())


if __name__ == "__main__":
    main()
