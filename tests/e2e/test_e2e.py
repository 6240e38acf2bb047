#!/usr/bin/python3
"""End-to-end tests of mkcolormap.

Every case runs the built binary in a scratch folder of its own and checks the
exact text on standard output, an empty standard error, the exit status, the
exact bytes of the output file, and that no other file in the folder changed.
Image fixtures come from independent encoders: Pillow for BMP, PCX and TGA,
GraphicsMagick for RGBA PCX, netpbm's ppmtoilbm for LBM.

    /usr/bin/python3 tests/e2e/test_e2e.py --binary build/mkcolormap

With --wine, BINARY runs the Windows build under Wine (tests/wine/mkcolormap)
in a Wine folder made for the run: messages must then end in CR LF, and the
cases that cannot hold on Windows are skipped, each saying why.
"""

import argparse
import contextlib
import io
import os
import pathlib
import resource
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from PIL import Image

BINARY = None  # set from --binary
WINE = False  # set from --wine
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
# Measures a run's peak RSS without the test runner's own mixed in. No
# bytecode is cached for it: the tests write only in their temporary folders.
sys.dont_write_bytecode = True
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench"))
import peak_memory  # noqa: E402
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "malformed"))
from seeds import mirrored_tga  # noqa: E402


# --- Messages --------------------------------------------------------------

def done(output, ini):
    return f'DONE. File "{output}" sucessfully made based upon file "{ini}"\n'


NO_INI = "ERROR. You must provide a INI file as the 1st parameter in the command line.\n"


def cant_open_ini(ini):
    return f'ERROR. Can\'t open file "{ini}".\n'


def cant_create(output):
    return f'ERROR. Can\'t create file "{output}".\n'


def cant_write(output):
    return f'ERROR. Can\'t write file "{output}".\n'


def output_is_ini(output):
    return f'ERROR. The output file "{output}" is the INI file.\n'


def too_short(row, ini):
    return f'ERROR. Row {row} in file "{ini}" is less than 5 characters.\n'


def no_extension(row, ini):
    return f"ERROR. Row {row} in file \"{ini}\" has no extension (no '.' character found)\n"


def unknown_extension(extension, row, ini):
    return f'ERROR. Unknown file extension "{extension}" at row {row} in file "{ini}"\n'


def not_valid_text(row, ini, encoding="UTF-16"):
    return f'ERROR. Row {row} in file "{ini}" is not valid {encoding} text.\n'


def cant_open_image(path):
    return f'ERROR. Can\'t open the image "{path}", probably bad file format.\n'


def wrong_size(path, w, h):
    return (f'ERROR. The image "{path}" is {w} * {h} pixels ({w * h} pixels in total). '
            "It should be an image of exactly 256 pixels in total.\n")


def wrong_depth(path, depth):
    return (f'ERROR. The image "{path}" is in {depth} bits-per-pixel mode ({2 ** depth} colors). '
            "It should be in 8 bpp mode (256 colors).\n")


def image_is_output(path):
    return f'ERROR. The image "{path}" is the output file.\n'


def cant_open_binary(path):
    return f'ERROR. Can\'t open the binary file "{path}"\n'


def binary_is_output(path):
    return f'ERROR. The binary file "{path}" is the output file.\n'


def message_bytes(text):
    """The bytes a message is printed as: console programs on Windows end
    their lines in CR LF."""
    data = os.fsencode(text)
    return data.replace(b"\n", b"\r\n") if WINE else data


# --- Fixtures --------------------------------------------------------------

# 256 distinct colours, so an RGB decoder's output maps back to one index each.
PALETTE = [(k, (k * 7 + 3) & 255, 255 - k) for k in range(256)]


def indices(seed):
    """A permutation of 0..255 that differs from seed to seed, so swapped
    pixels, lines or entries change the bytes."""
    step = 2 * seed + 3  # odd: a bijection modulo 256
    return bytes((k * step + seed * 41 + 1) & 255 for k in range(256))


def iff_chunk(data, name):
    at = 12  # after FORM, its size and the ILBM type
    while at + 8 <= len(data):
        size = int.from_bytes(data[at + 4:at + 8], "big")
        if data[at:at + 4] == name:
            return data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    raise AssertionError(f"no {name!r} chunk")


def gm_rgba_pcx(w, h):
    """GraphicsMagick's PCX of an RGBA picture: four planes of 8 bits."""
    png = io.BytesIO()
    Image.new("RGBA", (w, h), (10, 20, 30, 128)).save(png, format="PNG")
    data = subprocess.run(["gm", "convert", "png:-", "pcx:-"], input=png.getvalue(),
                          capture_output=True, check=True).stdout
    assert (data[3], data[65]) == (8, 4), "GraphicsMagick wrote four 8-bit planes"
    return data


def pillow_la_tga(w, h, **options):
    """Pillow's TGA of mode "LA": 16-bit grey and alpha, no colour map."""
    tga = io.BytesIO()
    Image.new("LA", (w, h), (10, 128)).save(tga, format="TGA", **options)
    data = tga.getvalue()
    assert (data[1], data[16]) == (0, 16), "Pillow wrote 16-bit grey without a map"
    return data


MAX_FILE_SIZE = 1 << 20


def limit_file_size():
    # A tool that copied its output into itself would grow it until the disk
    # is full; with this cap it dies of SIGXFSZ instead and the case fails.
    resource.setrlimit(resource.RLIMIT_FSIZE, (MAX_FILE_SIZE, MAX_FILE_SIZE))


class Folder:
    """A scratch folder that the tool runs in."""

    def __init__(self, path):
        self.path = path

    def __truediv__(self, name):
        return self.path / name

    def write(self, name, data):
        if isinstance(data, str):
            data = data.encode("utf-8")
        (self.path / name).write_bytes(data)
        return data

    def read(self, name):
        return (self.path / name).read_bytes()

    def image(self, name, w, h, pixels, mode="P", **options):
        """Writes an image with Pillow; returns the entry the tool must make."""
        image = Image.new(mode, (w, h))
        if mode == "P":
            image.putpalette([c for rgb in PALETTE for c in rgb])
            image.putdata(list(pixels))
        image.save(self.path / name, **options)
        return None if pixels is None else bytes(pixels)

    def lbm(self, name, w, h, pixels, fixed_map=False, options=()):
        """Writes an 8-plane ILBM with ppmtoilbm. The entry the tool must make
        is read back from the file itself: netpbm's decoder gives each pixel's
        colour and the file's CMAP gives that colour's index. With fixed_map
        the CMAP is PALETTE in order; otherwise ppmtoilbm picks its own."""
        picture = Image.new("RGB", (w, h))
        picture.putdata([PALETTE[i] for i in pixels])
        ppm = io.BytesIO()
        picture.save(ppm, format="PPM")
        command = ["ppmtoilbm", "-maxplanes", "8", *options]
        if fixed_map:
            colour_map = Image.new("RGB", (256, 1))
            colour_map.putdata(PALETTE)
            # Beside the folder, not in it: the tool's folder holds only inputs.
            map_path = self.path.parent / "map.ppm"
            colour_map.save(map_path)
            command += ["-map", str(map_path)]
        data = subprocess.run(command, input=ppm.getvalue(), capture_output=True,
                              check=True).stdout
        (self.path / name).write_bytes(data)
        bmhd = iff_chunk(data, b"BMHD")
        assert bmhd[8] == 8, f"{name}: {bmhd[8]} planes"
        cmap = iff_chunk(data, b"CMAP")
        index_of = {tuple(cmap[i:i + 3]): i // 3 for i in range(0, len(cmap), 3)}
        decoded = subprocess.run(["ilbmtoppm", str(self.path / name)], capture_output=True,
                                 check=True).stdout
        rgb = Image.open(io.BytesIO(decoded)).convert("RGB")
        assert rgb.size == (w, h)
        return bytes(index_of[p] for p in rgb.getdata())

    def snapshot(self):
        """Everything that could change in the folder: names, kinds, link
        targets, contents and modification times."""
        state = {}
        for root, dirs, files in os.walk(self.path):
            for name in dirs + files:
                full = os.path.join(root, name)
                info = os.lstat(full)
                key = os.path.relpath(full, self.path)
                if os.path.islink(full):
                    state[key] = ("link", os.readlink(full))
                elif os.path.isdir(full):
                    state[key] = ("dir",)
                elif not stat.S_ISREG(info.st_mode):
                    state[key] = ("other", stat.S_IFMT(info.st_mode))  # a FIFO: never read it
                else:
                    state[key] = ("file", pathlib.Path(full).read_bytes(), info.st_mtime_ns)
        return state

    def run(self, *args, timeout=60, preexec=limit_file_size, stdout=subprocess.PIPE,
            launcher=()):
        options = dict(cwd=self.path, stdout=stdout, stderr=subprocess.PIPE, timeout=timeout)
        if preexec is not limit_file_size:
            return subprocess.run([*launcher, BINARY, *args], preexec_fn=preexec, **options)
        # The same cap, inherited rather than set in the child: any preexec_fn
        # makes each run fork this whole process, some 20 ms a run.
        old = resource.getrlimit(resource.RLIMIT_FSIZE)
        resource.setrlimit(resource.RLIMIT_FSIZE, (MAX_FILE_SIZE, old[1]))
        try:
            return subprocess.run([*launcher, BINARY, *args], **options)
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, old)


class ToolTestCase(unittest.TestCase):
    maxDiff = 4000

    def linux_only(self, reason):
        """Skips a case that cannot hold on Windows, saying why."""
        if WINE:
            self.skipTest(f"not on Windows: {reason}")

    @contextlib.contextmanager
    def folder(self):
        with tempfile.TemporaryDirectory(prefix="mkcolormap-e2e-") as parent:
            path = pathlib.Path(parent) / "run"
            path.mkdir()
            yield Folder(path)

    def expect(self, folder, args, stdout, status, output=None, written=None, changed=(),
               timeout=60, preexec=limit_file_size, stdout_to=None, launcher=()):
        """Runs the tool and checks everything it did.

        output: the output file's name in the folder; written: its expected
        bytes (None: it must not exist), or a function that checks them.
        changed: further names whose content may change (hard links to the
        output). Every other entry of the folder must be left exactly as it
        was, and no other file may appear. Names may hold any bytes, as
        os.fsdecode gives them; messages are compared as the same bytes.
        stdout_to: a file to give the tool as its standard output instead of
        a pipe (stdout is then None: nothing to compare). launcher: a command
        that runs the tool, its path and arguments appended. A run that
        outlives `timeout` seconds fails the case."""
        before = folder.snapshot()
        try:
            result = folder.run(*args, timeout=timeout, preexec=preexec, launcher=launcher,
                                stdout=subprocess.PIPE if stdout_to is None else stdout_to)
        except subprocess.TimeoutExpired:
            self.fail(f"{args} still running after {timeout} s")
        if stdout is not None:
            self.assertEqual(result.stdout, message_bytes(stdout),
                             f"stdout of {args} (status {result.returncode})")
        self.assertEqual(result.stderr, b"", f"stderr of {args}")
        self.assertEqual(result.returncode, status, f"exit status of {args}")
        if output is not None:
            if written is None:
                self.assertFalse(os.path.lexists(folder / output), f"{output} was created")
            elif callable(written):
                written(folder.read(output))
            else:
                self.assertEqual(folder.read(output), written, f"bytes of {output}")
        after = folder.snapshot()
        free = {output, *changed}
        self.assertEqual({k: v for k, v in after.items() if k not in free},
                         {k: v for k, v in before.items() if k not in free},
                         "files other than the output changed")
        return result


# --- Image entries ---------------------------------------------------------

SHAPES = [(16, 16), (256, 1), (1, 256), (32, 8)]


class ImageEntryTest(ToolTestCase):
    def test_every_format_and_shape_gives_its_indices(self):
        with self.folder() as f:
            rows, expected = [], b""
            line_entries = {}
            for seed, ext in enumerate(["bmp", "pcx", "tga", "lbm"]):
                for w, h in SHAPES:
                    # 256x1 and 1x256 share their indices; the others differ.
                    pixels = indices(10 * seed + (1 if 1 in (w, h) else w))
                    name = f"{w}x{h}.{ext}"
                    if ext == "lbm":
                        entry = f.lbm(name, w, h, pixels, fixed_map=True)
                        self.assertEqual(entry, pixels, "ppmtoilbm -map kept the map's order")
                    else:
                        entry = f.image(name, w, h, pixels)
                    if 1 in (w, h):
                        line_entries.setdefault(ext, []).append(entry)
                    rows.append(name)
                    expected += entry
            # Other encodings of the same formats: the encoder's own colour
            # map, no compression, run-length TGA, top-down TGA.
            for name, make in [
                ("own-map.lbm", lambda n: f.lbm(n, 16, 16, indices(60))),
                ("plain.lbm", lambda n: f.lbm(n, 32, 8, indices(61), options=["-cmethod", "none"])),
                ("rle.tga", lambda n: f.image(n, 32, 8, indices(62), compression="tga_rle")),
                ("top.tga", lambda n: f.image(n, 16, 16, indices(63), orientation=1)),
            ]:
                rows.append(name)
                expected += make(name)
            f.write("maps.ini", "\n".join(rows) + "\n")
            self.expect(f, ["maps.ini"], done("colormap.bin", "maps.ini"), 0,
                        "colormap.bin", expected)
            for ext, (wide, tall) in line_entries.items():
                self.assertEqual(wide, tall, f"256x1 and 1x256 {ext}")

    def test_deep_images_fail_with_their_depth(self):
        cases = [("rgb.bmp", "RGB", 24), ("rgb.pcx", "RGB", 24), ("rgb.tga", "RGB", 24),
                 ("rgba.bmp", "RGBA", 32), ("rgba.tga", "RGBA", 32)]
        for name, mode, depth in cases:
            with self.subTest(name), self.folder() as f:
                first = f.image("first.bmp", 16, 16, indices(1))
                f.image(name, 16, 16, None, mode=mode)
                # The row after the failing one names nothing: it must not be read.
                f.write("maps.ini", f"first.bmp\n{name}\nabsent.bin\n")
                self.expect(f, ["maps.ini", "out.bin"], wrong_depth(name, depth), 1,
                            "out.bin", first)

    def test_wrong_size_fails_whatever_the_depth(self):
        cases = [("p.bmp", 15, 15, "P"), ("rgb.tga", 15, 15, "RGB"), ("rgba.bmp", 15, 15, "RGBA"),
                 ("p.pcx", 16, 17, "P"), ("tiny.tga", 1, 1, "P"), ("p.lbm", 15, 15, "P")]
        for name, w, h, mode in cases:
            with self.subTest(name), self.folder() as f:
                first = f.write("first.bin", b"\x00\x01\x02")
                if name.endswith(".lbm"):
                    # The full map keeps the CMAP chunk even-sized: the
                    # library's loader skips no pad byte after an odd one.
                    f.lbm(name, w, h, indices(2)[:w * h], fixed_map=True)
                else:
                    f.image(name, w, h, indices(2)[:w * h] if mode == "P" else None, mode=mode)
                f.write("maps.ini", f"first.bin\n{name}\nabsent.bin\n")
                self.expect(f, ["maps.ini", "out.bin"], wrong_size(name, w, h), 1,
                            "out.bin", first)

    def test_layouts_no_loader_reads_fail_with_their_size_then_depth(self):
        layouts = [("rgba.pcx", 32, gm_rgba_pcx), ("la.tga", 16, pillow_la_tga),
                   ("la-rle.tga", 16, lambda w, h: pillow_la_tga(w, h, compression="tga_rle"))]
        for name, depth, make in layouts:
            for w, h, message in [(20, 30, wrong_size(name, 20, 30)),
                                  (16, 16, wrong_depth(name, depth))]:
                with self.subTest(name, size=(w, h)), self.folder() as f:
                    first = f.write("first.bin", b"\x00\x01\x02")
                    f.write(name, make(w, h))
                    f.write("maps.ini", f"first.bin\n{name}\nabsent.bin\n")
                    self.expect(f, ["maps.ini", "out.bin"], message, 1, "out.bin", first)

    def test_tga_indices_outside_the_map_are_kept_whatever_the_map(self):
        # The same pixels under every map entry size, maps starting above 0
        # and maps longer than 256 entries: most indices lie outside the map,
        # and each is kept as stored. Pillow reads 16- and 24-bit maps.
        pixels = indices(80)
        for bits, first, length, rle in [(8, 0, 16, False), (15, 3, 40, True), (16, 0, 16, False),
                                         (24, 4, 16, True), (32, 0, 16, False),
                                         (32, 5, 257, True)]:
            with self.subTest(bits=bits, first=first, length=length, rle=rle), self.folder() as f:
                entry = (bits + 7) // 8
                colour_map = bytes((k * 5 + j) & 255 for k in range(length) for j in range(entry))
                lines = [pixels[y * 16:(y + 1) * 16] for y in range(16)]
                data = (struct.pack("<BBBHHBHHHHBB", 0, 1, 9 if rle else 1, first, length, bits,
                                    0, 0, 16, 16, 8, 0x20) + colour_map
                        + b"".join(b"\x0f" + line if rle else line for line in lines))
                f.write("a.tga", data)
                if bits in (16, 24):
                    self.assertEqual(bytes(Image.open(f / "a.tga").getdata()), pixels, "Pillow")
                f.write("maps.ini", "a.tga\n")
                self.expect(f, ["maps.ini", "out.bin"], done("out.bin", "maps.ini"), 0, "out.bin",
                            pixels)

    def test_right_to_left_tga_gives_the_indices_from_the_top_left(self):
        def pillow(mode, **options):
            def make(f, name):
                picture = Image.new(mode, (32, 8))
                if mode == "P":
                    picture.putpalette([c for rgb in PALETTE for c in rgb])
                picture.putdata(list(indices(81)) if mode in "PL" else
                                [255 * (k % 3 == 0) for k in range(256)] if mode == "1" else
                                [PALETTE[k] for k in indices(81)])
                picture.save(f / name, format="TGA", **options)
            return make

        def netpbm(option):
            def make(f, name):
                picture = Image.new("RGB", (32, 8))
                picture.putdata([PALETTE[k] for k in indices(81)])
                picture.convert("L" if option == "-cmap" else "RGB").save(f / "in.pnm")
                f.write(name, subprocess.run(["pamtotga", option, str(f / "in.pnm")],
                                             capture_output=True, check=True).stdout)
                os.remove(f / "in.pnm")
            return make

        def long_map(f, name):  # GIMP's indexed export with transparency
            f.write(name, struct.pack("<BBBHHBHHHHBB", 0, 1, 9, 0, 257, 32, 0, 0, 32, 8, 8, 8)
                    + bytes(range(256)) * 4 + bytes(4)
                    + b"".join(b"\x1f" + indices(82)[y * 32:(y + 1) * 32] for y in range(8)))

        rle, top = {"compression": "tga_rle"}, {"orientation": 1}
        # (how the left-to-right twin is made, whether Pillow reads it, message)
        cases = [(pillow("P"), True, None), (pillow("P", **rle), True, None),
                 (pillow("P", **top), True, None), (pillow("L", **rle), True, None),
                 (pillow("1"), True, None), (pillow("1", **rle, **top), False, None),
                 (netpbm("-cmap16"), False, None), (netpbm("-cmap"), False, None),
                 (long_map, False, None), (pillow("RGB", **rle), False, 24),
                 (pillow("RGBA"), False, 32)]
        for make, pillow_reads, depth in cases:
            with self.subTest(make.__qualname__, case=cases.index((make, pillow_reads, depth))), \
                    self.folder() as f:
                make(f, "ltr.tga")
                f.write("rtl.tga", mirrored_tga(f.read("ltr.tga")))
                if depth:
                    f.write("maps.ini", "rtl.tga\n")
                    self.expect(f, ["maps.ini", "out.bin"], wrong_depth("rtl.tga", depth), 1,
                                "out.bin", b"")
                    continue
                read = []
                if pillow_reads:  # Pillow mirrors lines stored from the right
                    ltr, rtl = Image.open(f / "ltr.tga"), Image.open(f / "rtl.tga")
                    read = bytes(p and 1 if rtl.mode == "1" else p for p in rtl.getdata())
                    self.assertEqual(list(rtl.getdata()), list(ltr.getdata()), "Pillow")

                def check(entries):
                    self.assertEqual(entries[256:], entries[:256], "the twins' entries")
                    lines = [entries[y * 32:(y + 1) * 32] for y in range(8)]
                    self.assertNotEqual(b"".join(line[::-1] for line in lines), entries[:256])
                    if read:
                        self.assertEqual(entries[256:], read, "what Pillow reads")

                f.write("maps.ini", "ltr.tga\nrtl.tga\n")
                self.expect(f, ["maps.ini", "out.bin"], done("out.bin", "maps.ini"), 0, "out.bin",
                            check)

    def test_unloadable_image_fails(self):
        pcx = io.BytesIO()
        Image.frombytes("P", (16, 16), indices(3)).save(pcx, format="PCX")
        pcx = pcx.getvalue()
        cases = {"x.pcx": b"This is only text, not a picture.\n", "empty.bmp": b"",
                 "absent.tga": None,
                 # Layouts that no reader knows, at any size (no size message).
                 "two-bit.bmp": bmp_headers(20, 30, 0, bits=2)[0],
                 "rle4-one-bit.bmp": bmp_headers(20, 30, 0, compression=2, bits=1)[0],
                 "encoding-2.pcx": pcx[:2] + b"\2" + pcx[3:],
                 "nine-planes.pcx": (b"\x0a\5\0\1" + struct.pack("<4H", 0, 0, 15, 15) + bytes(53)
                                     + b"\x09" + struct.pack("<H", 2) + bytes(60 + 16 * 9 * 2)),
                 # 16 bits a pixel with the masks of 32, which the loader
                 # would take for 32 bits.
                 "masks-32.bmp": b"BM" + struct.pack("<IHHIIiiHHI20x3I", 578, 0, 0, 66, 40, 16,
                                                     16, 1, 16, 3, 0xFF0000, 0xFF00, 0xFF) + bytes(512),
                 # A run past the edge in the second line, behind a header
                 # that only the rewrite reads.
                 "rle4-v4.bmp": bmp_headers(16, 16, 132, compression=2, info_size=108, bits=4)[0]
                 + b"\x0c\x12\0\4\x34\x56\0\0\x0c\x12\0\5" + b"\x34\x56\0\0" * 30}
        for name, content in cases.items():
            with self.subTest(name), self.folder() as f:
                first = f.image("first.pcx", 32, 8, indices(3))
                if content is not None:
                    f.write(name, content)
                f.write("maps.ini", f"first.pcx\n{name}\nabsent.bin\n")
                self.expect(f, ["maps.ini", "out.bin"], cant_open_image(name), 1,
                            "out.bin", first)


# --- ILBM and PBM as their writers make them --------------------------------

def iff(kind, *chunks, form_extra=0):
    body = kind + b"".join(chunks)
    return b"FORM" + struct.pack(">I", len(body) + form_extra) + body


def chunk(name, data, pad=b"\0"):
    return name + struct.pack(">I", len(data)) + data + (pad if len(data) & 1 else b"")


def bmhd(w, h, planes, masking=0, compression=0):
    return chunk(b"BMHD", struct.pack(">HHhhBBBBHBBhh", w, h, 0, 0, planes, masking, compression,
                                      0, 0, 1, 1, w, h))


def cmap(colours=256):
    return chunk(b"CMAP", bytes(c for rgb in PALETTE[:colours] for c in rgb))


def planar(w, h, planes, pixels, mask_plane=False):
    """Plane rows padded to whole words, a mask plane after each row's
    colour planes when asked (all set: opaque)."""
    row_bytes = (w + 15) // 16 * 2
    out = bytearray()
    for y in range(h):
        for plane in range(planes + mask_plane):
            row = bytearray(row_bytes)
            for x in range(w):
                if plane == planes or pixels[y * w + x] >> plane & 1:
                    row[x // 8] |= 0x80 >> (x % 8)
            out += row
    return bytes(out)


def byterun1(rows):
    """Each row as literal runs of at most 128 bytes."""
    out = bytearray()
    for row in rows:
        for at in range(0, len(row), 128):
            part = row[at:at + 128]
            out += bytes([len(part) - 1]) + part
    return bytes(out)


def netpbm_indices(data, colours=None):
    """What ilbmtoppm decodes, as indices into PALETTE (or `colours`)."""
    rgb = subprocess.run(["ilbmtoppm"], input=data, capture_output=True, check=True).stdout
    index_of = {c: k for k, c in reversed(list(enumerate(colours or PALETTE)))}
    return bytes(index_of[p] for p in Image.open(io.BytesIO(rgb)).convert("RGB").getdata())


class IlbmTest(ToolTestCase):
    def run_one(self, data, message=None, entry=None):
        with self.folder() as f:
            f.write("a.lbm", data)
            f.write("maps.ini", "a.lbm\n")
            if entry is not None:
                self.expect(f, ["maps.ini", "out.bin"], done("out.bin", "maps.ini"), 0,
                            "out.bin", entry)
            else:
                self.expect(f, ["maps.ini", "out.bin"], message, 1, "out.bin", b"")

    def test_encoder_files_agree_with_netpbm(self):
        # (ppmtoilbm options, colours, width, height); None for no entry.
        cases = [([], 17, 16, 16), (["-maxplanes", "8"], 256, 16, 16),
                 (["-maxplanes", "8", "-compress"], 200, 256, 1),
                 (["-maxplanes", "8", "-nocompress"], 256, 1, 256), (["-ecs"], 32, 32, 8),
                 (["-aga"], 256, 8, 32), (["-nocompress"], 2, 16, 16),
                 (["-maxplanes", "8", "-mmethod", "transparentcolor", "-transparent",
                   "rgb:00/07/ff"], 100, 16, 16)]
        for options, colours, w, h in cases:
            with self.subTest(options=options, colours=colours):
                picture = Image.new("RGB", (w, h))
                picture.putdata([PALETTE[(k * 7) % colours] for k in range(w * h)])
                ppm = io.BytesIO()
                picture.save(ppm, format="PPM")
                data = subprocess.run(["ppmtoilbm", *options], input=ppm.getvalue(),
                                      capture_output=True, check=True).stdout
                colours_of_file = iff_chunk(data, b"CMAP")
                colours_of_file = [tuple(colours_of_file[i:i + 3])
                                   for i in range(0, len(colours_of_file), 3)]
                self.run_one(data, entry=netpbm_indices(data, colours_of_file))

    def test_deep_and_ham_pictures_are_refused(self):
        picture = Image.new("RGB", (16, 16))
        picture.putdata([(k, 255 - k, k * 5 & 255) for k in range(256)])
        ppm = io.BytesIO()
        picture.save(ppm, format="PPM")
        small = io.BytesIO()
        picture.resize((20, 30)).save(small, format="PPM")
        for options, source, message in [
                ([], ppm, wrong_depth("a.lbm", 24)),  # 24 planes above 256 colours
                ([], small, wrong_size("a.lbm", 20, 30)),
                (["-hamforce"], ppm, cant_open_image("a.lbm")),  # hold-and-modify codes
                (["-ham8"], small, wrong_size("a.lbm", 20, 30))]:
            with self.subTest(options=options):
                data = subprocess.run(["ppmtoilbm", *options], input=source.getvalue(),
                                      capture_output=True, check=True).stdout
                self.run_one(data, message)
        self.run_one(iff(b"ILBM", bmhd(16, 16, 32), chunk(b"BODY", b"\0" * 2048)),
                     wrong_depth("a.lbm", 32))

    def test_hand_built_files(self):
        pixels = indices(70)
        rows = [pixels[y * 16:(y + 1) * 16] for y in range(16)]
        ilbm_rows = [planar(16, 16, 8, pixels)[k * 2:k * 2 + 2] for k in range(16 * 8)]
        wide = planar(256, 1, 8, pixels)
        camg = lambda mode: chunk(b"CAMG", struct.pack(">I", mode))  # noqa: E731
        body = chunk(b"BODY", bytes(pixels))
        odd_body = chunk(b"BODY", byterun1(rows) + b"\x80")  # a no-op code: odd length
        # (name, file, whether netpbm reads it the same, entry or message)
        cases = [
            # An odd CMAP whose pad byte and the next chunk would read as a BODY.
            ("odd map", iff(b"PBM ", bmhd(16, 16, 8), chunk(b"CMAP", cmap(255)[8:], pad=b"B"),
                            chunk(b"ODY ", b"\xaa" * 256),
                            chunk(b"BODY", bytes(p % 255 for p in pixels))),
             True, bytes(p % 255 for p in pixels)),
            ("two headers", iff(b"ILBM", bmhd(16, 16, 8), bmhd(256, 1, 8), cmap(),
                                chunk(b"BODY", wide)), True, pixels),
            ("odd body first", iff(b"PBM ", bmhd(16, 16, 8, compression=1), odd_body, cmap()),
             False, pixels),
            ("odd chunk first", iff(b"ILBM", chunk(b"ANNO", b"odd"), bmhd(16, 16, 8, 0, 1), cmap(),
                                    chunk(b"BODY", byterun1(ilbm_rows))), True, pixels),
            ("mask plane", iff(b"ILBM", bmhd(16, 16, 8, masking=1), cmap(),
                               chunk(b"BODY", planar(16, 16, 8, pixels, True))), True, pixels),
            ("transparent colour", iff(b"ILBM", bmhd(16, 16, 8, masking=2), cmap(),
                                       chunk(b"BODY", planar(16, 16, 8, pixels))), True, pixels),
            ("lasso", iff(b"ILBM", bmhd(16, 16, 8, masking=3), cmap(),
                          chunk(b"BODY", planar(16, 16, 8, pixels))), False, pixels),  # netpbm: unknown mask
            # Odd width: each row padded to even length (netpbm reads no pad).
            ("odd pbm", iff(b"PBM ", bmhd(1, 256, 8), cmap(),
                            chunk(b"BODY", b"".join(bytes([p, 0xEE]) for p in pixels))),
             False, pixels),
            ("half-brite", iff(b"ILBM", bmhd(16, 16, 6), camg(0x80), cmap(32),
                               chunk(b"BODY", planar(16, 16, 6, [p % 64 for p in pixels]))),
             False, bytes(p % 64 for p in pixels)),
            # The header in force past the first 64 KiB read decides.
            ("late header", iff(b"ILBM", bmhd(640, 480, 8), chunk(b"ANNO", b"a" * 70000),
                                bmhd(16, 16, 8), cmap(), chunk(b"BODY", planar(16, 16, 8, pixels))),
             True, pixels),
            ("late wrong size", iff(b"ILBM", bmhd(16, 16, 24), chunk(b"ANNO", b"a" * 70000),
                                    bmhd(20, 20, 8), chunk(b"BODY", b"")),
             False, wrong_size("a.lbm", 20, 20)),
            ("two bodies", iff(b"PBM ", bmhd(16, 16, 8), cmap(), body, chunk(b"BODY", bytes(256))),
             True, pixels),
            ("no map", iff(b"PBM ", bmhd(16, 16, 8), body), False, pixels),
            ("ham", iff(b"ILBM", bmhd(16, 16, 6), camg(0x800), cmap(16),
                        chunk(b"BODY", planar(16, 16, 6, [p % 64 for p in pixels]))),
             False, cant_open_image("a.lbm")),
            ("header after body", iff(b"PBM ", cmap(), body, bmhd(16, 16, 8)), False,
             cant_open_image("a.lbm")),
            # Only 24 and 32 planes name a depth; 9 to 31 others are no layout.
            ("16 planes", iff(b"ILBM", bmhd(16, 16, 16), cmap(), chunk(b"BODY", bytes(512))),
             False, cant_open_image("a.lbm")),
            ("16 planes, 20 x 30", iff(b"ILBM", bmhd(20, 30, 16), chunk(b"BODY", b"")), False,
             cant_open_image("a.lbm")),
            # A BMHD of another length has no clear size: no size message.
            ("long header, 100 x 100", iff(b"PBM ", chunk(b"BMHD", bmhd(100, 100, 8)[8:] + bytes(2)),
                                           body), False, cant_open_image("a.lbm")),
            ("body past the form", iff(b"PBM ", bmhd(16, 16, 8), cmap(), body, form_extra=-2),
             False, cant_open_image("a.lbm")),
            ("run across rows", iff(b"PBM ", bmhd(16, 16, 8, compression=1), cmap(),
                                    chunk(b"BODY", b"\xe1\x07" * 8)), False,
             cant_open_image("a.lbm")),
            # The header in force at a BODY past the first MiB decides
            # between the size and the cannot-open messages.
            ("header past the first MiB", iff(b"PBM ", bmhd(100, 100, 8), chunk(b"JUNK", bytes(MIB)),
                                              bmhd(16, 16, 8), body), False,
             cant_open_image("a.lbm")),
            ("wrong size past the first MiB", iff(b"PBM ", bmhd(16, 16, 8), chunk(b"JUNK", bytes(MIB)),
                                                  bmhd(100, 100, 8), body), False,
             wrong_size("a.lbm", 100, 100)),
        ]
        for name, data, netpbm_agrees, want in cases:
            with self.subTest(name):
                if isinstance(want, bytes):
                    if netpbm_agrees:
                        self.assertEqual(netpbm_indices(data), want, "netpbm")
                    self.run_one(data, entry=want)
                else:
                    self.run_one(data, want)


# --- Hostile image files ---------------------------------------------------

GIB = 1 << 30
MIB = 1 << 20
COPY_LIMIT = 8 * MIB  # the largest file, private copies included, a run may write
RSS_SLACK = 4 * MIB   # over the same binary's peak RSS on one tiny image
HOSTILE_TIMEOUT = 60  # only a hang reaches it, even under a sanitizer on a busy machine
# An Allegro datafile whose NAME property claims 4096 bytes.
DATAFILE = (b"slh.ALL." + (1).to_bytes(4, "big") + b"propNAME" + (4096).to_bytes(4, "big")
            + b"A" * 4096)


def bmp_headers(w, h, data_size, compression=0, info_size=40, gap=0, bits=8):
    """A BMP's headers (8-bit unless told) and PALETTE, for pixel data that
    starts `gap` bytes after the palette; returns them and that data's offset."""
    offset = 14 + info_size + 1024 + gap
    info = struct.pack("<IiiHHIIiiII", info_size, w, h, 1, bits, compression, data_size,
                       2835, 2835, 256, 0).ljust(info_size, b"\0")  # v4: no masks, no gamma
    head = b"BM" + struct.pack("<IHHI", offset + data_size, 0, 0, offset) + info
    return head + b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE), offset


def write_sparse(path, parts, size=None):
    """Writes (offset, bytes) parts; whatever lies between them is a hole."""
    with open(path, "wb") as out:
        for at, data in parts:
            out.seek(at)
            out.write(data)
        if size is not None:
            out.truncate(size)


def bmp_with_gap(f, name, pixels, gap):
    rows = b"".join(pixels[y * 16:(y + 1) * 16] for y in reversed(range(16)))
    head, offset = bmp_headers(16, 16, len(rows), gap=gap)
    write_sparse(f / name, [(0, head), (offset, rows)])


def rle8_with_null_deltas(f, name, pixels, deltas):
    # Every line in absolute mode (16 literal bytes), then its end.
    lines = b"".join(b"\0\x10" + pixels[y * 16:(y + 1) * 16] + b"\0\0" for y in reversed(range(16)))
    data = b"\0\2\0\0" * deltas + lines + b"\0\1"
    f.write(name, bmp_headers(16, 16, len(data), compression=1)[0] + data)


def pcx_with_empty_runs(f, name, pixels, runs):
    f.image(name, 16, 16, pixels)
    data = f.read(name)  # Pillow's: the 128-byte header, then the first line
    f.write(name, data[:128] + b"\xc0\x00" * runs + data[128:])


def ilbm_with_junk(f, name, pixels, junk):
    f.lbm(name, 16, 16, pixels, fixed_map=True)
    data = bytearray(f.read(name))
    body = 12  # after FORM, its size and the ILBM type
    while data[body:body + 4] != b"BODY":
        size = int.from_bytes(data[body + 4:body + 8], "big")
        body += 8 + size + (size & 1)
    data[4:8] = (len(data) + junk).to_bytes(4, "big")  # the FORM grows by the JUNK chunk
    write_sparse(f / name, [(0, data[:body] + b"JUNK" + junk.to_bytes(4, "big")),
                            (body + 8 + junk, data[body:])])


def ilbm_far_header(f, name, gap, empty_chunks):
    """A PBM whose BODY, and the header in force there (20 x 30), lie `gap`
    bytes past a 16 x 16 BMHD: across one chunk that long, or as many empty
    chunks of 8 zeros."""
    head = b"PBM " + bmhd(16, 16, 8)
    tail = bmhd(20, 30, 8) + chunk(b"BODY", bytes(600))
    skip = b"" if empty_chunks else b"JUNK" + struct.pack(">I", gap - 8)
    form = b"FORM" + struct.pack(">I", len(head) + gap + len(tail)) + head + skip
    write_sparse(f / name, [(0, form), (8 + len(head) + gap, tail)])


def big_bmp(f, name, w, h):
    head, offset = bmp_headers(w, h, w * h)
    write_sparse(f / name, [(0, head)], offset + w * h)


def decoded_indices(path):
    """What an independent decoder reads: netpbm for ILBM, GraphicsMagick else."""
    command = (["ilbmtoppm", str(path)] if path.suffix == ".lbm"
               else ["gm", "convert", str(path), "ppm:-"])
    rgb = Image.open(io.BytesIO(subprocess.run(command, capture_output=True, check=True).stdout))
    index_of = {colour: k for k, colour in enumerate(PALETTE)}
    return bytes(index_of[p] for p in rgb.convert("RGB").getdata())


class HostileImageTest(ToolTestCase):
    """Files built to make a loader read or allocate without end. Each run
    must end within HOSTILE_TIMEOUT with its message, and its peak RSS plus
    its largest private copy (sampled every millisecond, so a copy shorter
    than that escapes) may exceed the same binary's peak RSS on a tiny image
    by RSS_SLACK at most: a relative bound, so it holds under sanitizers.
    Files of a gibibyte are sparse; the folder's names, not its contents,
    are compared, as reading them would cost what the tool must not spend."""

    def measured_run(self, f, args):
        """Runs the tool with a timeout, files capped at COPY_LIMIT and a
        TMPDIR of its own; returns (peak_memory.measure's result, stdout,
        stderr). Nothing here opens the inputs, so a FIFO cannot block it."""
        tmp = f.path.parent / "tmp"
        tmp.mkdir(exist_ok=True)
        out, err = f.path.parent / "stdout", f.path.parent / "stderr"

        def cap_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (COPY_LIMIT, COPY_LIMIT))

        with open(out, "wb") as stdout, open(err, "wb") as stderr:
            run = peak_memory.measure([BINARY, *args], HOSTILE_TIMEOUT, cwd=f.path, stdout=stdout,
                                      stderr=stderr, preexec_fn=cap_files,
                                      # Wine finds its server through TMPDIR.
                                      env=dict(os.environ, **({} if WINE else {"TMPDIR": str(tmp)})))
        self.assertEqual(os.listdir(tmp), [], "private copies left behind")
        return run, out.read_bytes(), err.read_bytes()

    def test_hostile_images_are_judged_quickly_in_bounded_memory(self):
        pixels, other = indices(40), indices(41)

        def hash_in_name(f):
            f.write("tile", DATAFILE)  # "tile#1.bmp" read as a datafile object would crash
            f.image("tile#1.bmp", 16, 16, other)

        def hard_link(f):
            f.image("a.bmp", 16, 16, other)
            os.link(f / "a.bmp", f / "a.tga")

        # (rows after first.bmp, make(folder), their entries, message, status);
        # the message names the last row.
        cases = [
            (["evil.dat#x.bmp"], lambda f: f.write("evil.dat", DATAFILE), b"", cant_open_image, 1),
            (["tile#1.bmp"], hash_in_name, other, lambda _: done("out.bin", "maps.ini"), 0),
            (["a.bmp", "a.tga"], hard_link, other, cant_open_image, 1),
            (["gap.bmp"], lambda f: bmp_with_gap(f, "gap.bmp", pixels, GIB), b"",
             cant_open_image, 1),
            (["junk.lbm"], lambda f: ilbm_with_junk(f, "junk.lbm", pixels, GIB), b"",
             cant_open_image, 1),
            (["far.lbm"], lambda f: ilbm_far_header(f, "far.lbm", 4 * GIB - 4096, False), b"",
             lambda p: wrong_size(p, 20, 30), 1),
            (["chunks.lbm"], lambda f: ilbm_far_header(f, "chunks.lbm", GIB, True), b"",
             lambda p: wrong_size(p, 20, 30), 1),
            (["runs.pcx"], lambda f: pcx_with_empty_runs(f, "runs.pcx", pixels, 16 * MIB), b"",
             cant_open_image, 1),
            (["deltas.bmp"], lambda f: rle8_with_null_deltas(f, "deltas.bmp", pixels, 8 * MIB), b"",
             cant_open_image, 1),
            (["huge.bmp"], lambda f: big_bmp(f, "huge.bmp", 5000, 4000), b"",
             lambda p: wrong_size(p, 5000, 4000), 1),
            # About 1 KiB: its RLE8 data ends the bitmap at once.
            (["claim.bmp"], lambda f: f.write("claim.bmp", bmp_headers(
                4096, 4096, 2, compression=1, info_size=108)[0] + b"\0\1"), b"",
             lambda p: wrong_size(p, 4096, 4096), 1),
            (["pipe.bmp"], lambda f: os.mkfifo(f / "pipe.bmp"), b"", cant_open_image, 1),
            (["zero.pcx"], lambda f: os.symlink("/dev/zero", f / "zero.pcx"), b"",
             cant_open_image, 1),
        ]
        if WINE:
            # No FIFOs or /dev/zero there; the devices are tested by name in
            # test_device_names_are_not_images.
            cases = cases[:-2]
        # The same damage, kept small, leaves files that independent decoders
        # read: the big ones are wrong by their size alone.
        for name, make in [("gap.bmp", lambda f: bmp_with_gap(f, "gap.bmp", pixels, 4096)),
                           ("junk.lbm", lambda f: ilbm_with_junk(f, "junk.lbm", pixels, 4096)),
                           ("runs.pcx", lambda f: pcx_with_empty_runs(f, "runs.pcx", pixels, 1000)),
                           ("deltas.bmp",
                            lambda f: rle8_with_null_deltas(f, "deltas.bmp", pixels, 1000))]:
            with self.folder() as f:
                make(f)
                self.assertEqual(decoded_indices(f / name), pixels, f"{name}, damage kept small")
        with self.folder() as f:
            f.image("first.bmp", 16, 16, indices(42))
            f.write("maps.ini", "first.bmp\n")
            base, stdout, _ = self.measured_run(f, ["maps.ini", "out.bin"])
            self.assertEqual((base["status"], stdout),
                             (0, message_bytes(done("out.bin", "maps.ini"))))
        for rows, make, entries, message, status in cases:
            with self.subTest(rows[-1]), self.folder() as f:
                first = f.image("first.bmp", 16, 16, indices(42))
                make(f)
                f.write("maps.ini", "".join(r + "\n" for r in ["first.bmp", *rows]))
                names = set(os.listdir(f.path))
                run, stdout, stderr = self.measured_run(f, ["maps.ini", "out.bin"])
                seen = (f"status {run['status']}, {run['wall_seconds']:.2f} s, peak RSS "
                        f"{run['peak_rss_bytes'] >> 10} KiB (tiny image: "
                        f"{base['peak_rss_bytes'] >> 10} KiB), private copy "
                        f"{run['peak_copy_bytes'] >> 10} KiB, stdout {stdout[:90]!r}")
                self.assertFalse(run["timed_out"], f"killed after {HOSTILE_TIMEOUT} s: {seen}")
                self.assertEqual(stdout, message_bytes(message(rows[-1])), seen)
                self.assertEqual(stderr, b"", seen)
                self.assertEqual(run["status"], status, seen)
                self.assertLessEqual(run["peak_total_bytes"], base["peak_rss_bytes"] + RSS_SLACK,
                                     seen)
                self.assertEqual(f.read("out.bin"), first + entries, seen)
                self.assertEqual(set(os.listdir(f.path)), names | {"out.bin"}, "files appeared")


class DeviceTest(ToolTestCase):
    def test_device_names_are_not_images(self):
        # On Windows these name the null device and the console, whatever
        # the extension: character devices, refused without reading. On
        # Linux they name missing files. The message is the same.
        for row in ["NUL.bmp", "nul.tga", "CON.pcx", "COM1.lbm"]:
            with self.subTest(row), self.folder() as f:
                first = f.write("first.bin", b"\x00first")
                f.write("maps.ini", f"first.bin\n{row}\nfirst.bin\n")
                self.expect(f, ["maps.ini", "out.bin"], cant_open_image(row), 1, "out.bin", first,
                            timeout=20)


    def test_device_names_whatever_the_length_of_the_path(self):
        # Just under and over 248 characters, from which a path gets the \\?\
        # prefix. On Windows these read or write the null device; on Linux
        # they name ordinary files.
        for name in ["nul.bin", "NUL .bin", "Nul.x.bin"]:
            for length in [247, 249, 301]:
                row = padded_path(length - (length - len(name)) % 2, name)
                with self.subTest(row[-12:], length=len(row)), self.folder() as f:
                    first = f.write("first.bin", b"\x00first")
                    f.write("maps.ini", f"first.bin\n{row}\nfirst.bin\n")
                    self.expect(f, ["maps.ini", "out.bin"],
                                *((done("out.bin", "maps.ini"), 0) if WINE else
                                  (cant_open_binary(row), 1)), "out.bin", first * (1 + WINE))
                    f.write("maps.ini", "first.bin\n")
                    self.expect(f, ["maps.ini", row], done(row, "maps.ini"), 0, name,
                                None if WINE else first)


# --- Binary entries --------------------------------------------------------

class BinaryEntryTest(ToolTestCase):
    def test_files_are_copied_unchanged_in_row_order(self):
        with self.folder() as f:
            # Every byte value three times over, so 0, 10, 13 and 26 appear in
            # all their neighbourhoods, including "\r\n" and "\n\r".
            table = f.write("table.bin", bytes(range(256)) * 2 + bytes(range(255, -1, -1)))
            self.assertEqual(len(table), 768)
            empty = f.write("empty.bin", b"")
            text = f.write("text.bin", b"\r\n\x1a\x00\n\r\x1a")
            pic = f.image("pic.bmp", 16, 16, indices(4))
            lbm = f.lbm("pic.lbm", 32, 8, indices(5), fixed_map=True)
            rows = ["table.bin", "pic.bmp", "empty.bin", "table.bin", "pic.lbm", "text.bin",
                    "empty.bin", "pic.bmp", "table.bin"]
            f.write("maps.ini", "\n".join(rows) + "\n")
            self.expect(f, ["maps.ini"], done("colormap.bin", "maps.ini"), 0, "colormap.bin",
                        table + pic + empty + table + lbm + text + empty + pic + table)

    def test_kernel_copy_that_answers_nothing_falls_back(self):
        self.linux_only("a copy in the kernel is Linux's")
        if not shutil.which("cc"):
            self.skipTest("no C compiler to build the stand-in copy_file_range")
        # Some file systems answer 0 at once for files they cannot copy in the
        # kernel; the bytes must then come by reading, or the entry is lost.
        # (A static binary ignores LD_PRELOAD and copies as it always does.)
        # A sanitized one would refuse a library loaded before its runtime.
        asan_options = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                              "verify_asan_link_order=0"]))
        asan_options = f"ASAN_OPTIONS={asan_options}"
        with self.folder() as f:
            shim = f.path.parent / "copy_answers_zero.so"
            source = f.path.parent / "copy_answers_zero.c"
            source.write_text("#include <sys/types.h>\n"
                              "ssize_t copy_file_range(int a, long long *b, int c, long long *d,"
                              " unsigned long e, unsigned f) {\n"
                              "  (void)a; (void)b; (void)c; (void)d; (void)e; (void)f;\n"
                              "  return 0;\n}\n")
            subprocess.run(["cc", "-shared", "-fPIC", "-o", shim, source], check=True)
            data = f.write("big.bin", bytes(range(256)) * 1031)
            f.write("maps.ini", "big.bin\nbig.bin\n")
            self.expect(f, ["maps.ini", "out.bin"], done("out.bin", "maps.ini"), 0, "out.bin",
                        data * 2, launcher=["env", f"LD_PRELOAD={shim}", asan_options])

    def test_only_empty_files_give_an_empty_output(self):
        with self.folder() as f:
            f.write("empty.bin", b"")
            f.write("maps.ini", "empty.bin\nempty.bin\n")
            self.expect(f, ["maps.ini", "out.bin"], done("out.bin", "maps.ini"), 0, "out.bin", b"")

    def test_missing_binary_fails_and_keeps_earlier_entries(self):
        with self.folder() as f:
            first = f.image("first.tga", 256, 1, indices(6))
            second = f.write("second.bin", b"\x00\x0a\x0d\x1a")
            f.write("maps.ini", "first.tga\nsecond.bin\nmissing.bin\nsecond.bin\n")
            self.expect(f, ["maps.ini", "out.bin"], cant_open_binary("missing.bin"), 1,
                        "out.bin", first + second)

    def test_directory_as_binary_fails_as_unopenable(self):
        with self.folder() as f:
            first = f.write("first.bin", b"abc")
            (f / "folder.bin").mkdir()
            f.write("maps.ini", "first.bin\nfolder.bin\nfirst.bin\n")
            self.expect(f, ["maps.ini", "out.bin"], cant_open_binary("folder.bin"), 1,
                        "out.bin", first)


# --- INI rows --------------------------------------------------------------

def padded_path(length, name):
    """A path of exactly `length` characters naming `name` in the folder."""
    spare = length - len(name)
    assert spare >= 0 and spare % 2 == 0
    return "./" * (spare // 2) + name


class RowTest(ToolTestCase):
    def run_rows(self, ini_text, stdout, status, written, ini="maps.ini", setup=None):
        with self.folder() as f:
            files = {
                "x.bmp": f.image("x.bmp", 16, 16, indices(7)),
                "y.bin": f.write("y.bin", b"\x00y\x0a"),
                "zz.bin": f.write("zz.bin", b"\x1azz\x0d"),
            }
            if setup:
                files.update(setup(f))
            f.write(ini, ini_text)
            expected = b"".join(files[name] for name in written)
            self.expect(f, [ini, "out.bin"], stdout, status, "out.bin", expected)

    def test_blank_and_comment_rows_are_skipped_but_counted(self):
        self.run_rows("\n#x.bmp\n\n# y.bin\nx.bmp\n\nab\nx.bmp\n",
                      too_short(7, "maps.ini"), 1, ["x.bmp"])
        self.run_rows("#only comments\n\n#x.bmp\n", done("out.bin", "maps.ini"), 0, [])
        self.run_rows("", done("out.bin", "maps.ini"), 0, [])

    def test_minimum_length(self):
        self.run_rows("x.bmp\n", done("out.bin", "maps.ini"), 0, ["x.bmp"])
        self.run_rows("y.bin\na.bn\ny.bin\n", too_short(2, "maps.ini"), 1, ["y.bin"])
        self.run_rows(".bin\n", too_short(1, "maps.ini"), 1, [],
                      setup=lambda f: {".bin": f.write(".bin", b"hidden")})
        self.run_rows("y.bin\n \n", too_short(2, "maps.ini"), 1, ["y.bin"])

    def test_extension_is_taken_from_the_last_dot(self):
        for row, extension in [("dir.v2/pic", ".v2/pic"), ("archive.bmp.bak", ".bak"),
                               ("name.", "."), ("x.bmp ", ".bmp "), ("x.bmpx", ".bmpx"),
                               ("pic.jpeg", ".jpeg")]:
            with self.subTest(row):
                self.run_rows(f"y.bin\n{row}\nx.bmp\n", unknown_extension(extension, 2, "maps.ini"),
                              1, ["y.bin"])

    def test_rows_without_a_dot(self):
        self.run_rows("y.bin\n  #comment\n", no_extension(2, "maps.ini"), 1, ["y.bin"])
        self.run_rows("readme\n", no_extension(1, "maps.ini"), 1, [])

    def test_extensions_ignore_case(self):
        def setup(f):
            return {
                "tiles.Pcx": f.image("tiles.Pcx", 32, 8, indices(8)),
                "DATA.BIN": f.write("DATA.BIN", b"\x00DATA"),
                "Pic.bMp": f.image("Pic.bMp", 16, 16, indices(9)),
                "LINE.TGA": f.image("LINE.TGA", 256, 1, indices(10)),
                "Deep.Lbm": f.lbm("Deep.Lbm", 1, 256, indices(11), fixed_map=True),
            }
        order = ["tiles.Pcx", "DATA.BIN", "Pic.bMp", "LINE.TGA", "Deep.Lbm"]
        self.run_rows("\n".join(order) + "\n", done("out.bin", "maps.ini"), 0, order, setup=setup)

    def test_line_ends(self):
        ok = done("out.bin", "maps.ini")
        self.run_rows("x.bmp\r\ny.bin\r\n\r\nzz.bin\r\n", ok, 0, ["x.bmp", "y.bin", "zz.bin"])
        self.run_rows("x.bmp\ny.bin", ok, 0, ["x.bmp", "y.bin"])
        self.run_rows("x.bmp\r\ny.bin", ok, 0, ["x.bmp", "y.bin"])
        # Everything after a carriage return in the middle of a line is dropped.
        self.run_rows("y.bin\rabsent.bin\nx.bmp\rab\n", ok, 0, ["y.bin", "x.bmp"])
        self.run_rows("y.bin\r\rab\r\nab\n", too_short(2, "maps.ini"), 1, ["y.bin"])
        # Ctrl-Z, the end of a text file to old DOS programs, is an ordinary byte.
        self.run_rows("y.bin\n\x1a\nx.bmp\n", too_short(2, "maps.ini"), 1, ["y.bin"])
        self.run_rows("y.bin\x1a\nx.bmp\n", unknown_extension(".bin\x1a", 1, "maps.ini"), 1, [])
        self.run_rows("\x1ay.bin\nx.bmp\n", cant_open_binary("\x1ay.bin"), 1, [])

    def test_long_lines(self):
        # 898 characters and the line feed: one read, so the next line is row 2.
        self.run_rows(padded_path(898, "zz.bin") + "\nab\n", too_short(2, "maps.ini"), 1,
                      ["zz.bin"])
        # 899 characters fill the buffer; the line feed alone is a blank row 2.
        self.run_rows(padded_path(899, "y.bin") + "\nab\n", too_short(3, "maps.ini"), 1,
                      ["y.bin"])
        # A longer line is cut into rows of 899 characters, each counted.
        self.run_rows(padded_path(899, "y.bin") + "zz.bin\nab\n", too_short(3, "maps.ini"), 1,
                      ["y.bin", "zz.bin"])
        self.run_rows(padded_path(899, "y.bin") + padded_path(899, "y.bin") + "x.bmp\nab\n",
                      too_short(4, "maps.ini"), 1, ["y.bin", "y.bin", "x.bmp"])
        self.run_rows(padded_path(899, "y.bin") + "ab\ny.bin\n", too_short(2, "maps.ini"), 1,
                      ["y.bin"])
        # A comment is cut the same way: here into two comment rows.
        self.run_rows("#" * 1000 + "\nab\n", too_short(3, "maps.ini"), 1, [])

    def test_byte_order_mark_is_skipped_only_at_the_start(self):
        ok = done("out.bin", "maps.ini")
        self.run_rows("\ufeff#comment\nx.bmp\n", ok, 0, ["x.bmp"])
        self.run_rows("\ufeffx.bmp\ny.bin\n", ok, 0, ["x.bmp", "y.bin"])
        self.run_rows("\ufeffy.bin\r\nx.bmp", ok, 0, ["y.bin", "x.bmp"])
        self.run_rows("\ufeff", ok, 0, [])
        # It is not a row of its own: row numbers stay those of the lines.
        self.run_rows("\ufeffab\n", too_short(1, "maps.ini"), 1, [])
        self.run_rows("\ufeff\nab\n", too_short(2, "maps.ini"), 1, [])
        self.run_rows("\ufeff#c\ny.bin\nab\n", too_short(3, "maps.ini"), 1, ["y.bin"])
        # Anywhere else, and when incomplete, its bytes belong to the path.
        self.run_rows("y.bin\n\ufeffx.bin\n", cant_open_binary("\ufeffx.bin"), 1, ["y.bin"])
        self.run_rows("y.bin\n\ufeff#comment\n", no_extension(2, "maps.ini"), 1, ["y.bin"])
        self.run_rows("\ufeff\ufeffy.bin\n", cant_open_binary("\ufeffy.bin"), 1, [])
        self.run_rows(b"\xef\xbby.bin\n", cant_open_binary(os.fsdecode(b"\xef\xbby.bin")), 1, [])

    def test_utf16_files_read_as_their_text_in_utf8(self):
        # Little-endian from Python's codecs, as PowerShell's `>` writes it;
        # big-endian from iconv; UTF-32 both ways (PowerShell's -Encoding
        # utf32 is little-endian). A second mark belongs to the row, as in
        # UTF-8.
        def iconv(t, to):
            return subprocess.run(["iconv", "-f", "UTF-8", "-t", to], input=t.encode(),
                                  capture_output=True, check=True).stdout
        encoders = [lambda t: b"\xff\xfe" + t.encode("utf-16-le"),
                    lambda t: b"\xfe\xff" + iconv(t, "UTF-16BE"),
                    lambda t: b"\xff\xfe\x00\x00" + t.encode("utf-32-le"),
                    lambda t: b"\x00\x00\xfe\xff" + iconv(t, "UTF-32BE")]
        for text, stdout, status, written in [
                ("x.bmp\r\n#c\r\n" + padded_path(899, "y.bin") + "zz.bin\r\nab",
                 too_short(5, "maps.ini"), 1, ["x.bmp", "y.bin", "zz.bin"]),
                ("y.bin\rab\nx.tgà\n", unknown_extension(".tgà", 2, "maps.ini"), 1, ["y.bin"]),
                ("\ufeffy.bin\n", cant_open_binary("\ufeffy.bin"), 1, [])]:
            for encode in encoders:
                with self.subTest(text[:20], encoder=encoders.index(encode)):
                    self.run_rows(encode(text), stdout, status, written)

    def test_invalid_utf16_names_its_row(self):
        def utf16(text):
            return text.encode("utf-16-le")

        head = b"\xff\xfe" + utf16("y.bin\n#c\nx.bmp\n")
        # (file, its invalid row, entries written after y.bin and x.bmp)
        for data, row, after in [
                (head + utf16("zz") + b"\x00\xdc" + utf16(".bin\n"), 4, []),  # a lone low surrogate
                (head + b"\x00\xd8" + utf16("zz.bin\n"), 4, []),  # a high one without its low one
                (head + utf16("zz.bin\nab") + b"\x00\xdc\x00\xd8", 5, ["zz.bin"]),  # reversed
                (head + utf16(padded_path(899, "y.bin")) + b"\x00\xd8", 5, ["y.bin"]),  # at the end
                (head + utf16("zz.bin\n") + b"z", 5, ["zz.bin"]),  # an odd byte at the end
                (b"\xfe\xff" + "y.bin\n#c\nx.bmp\n".encode("utf-16-be") + b"\xdc\x00", 4, [])]:
            with self.subTest(data[-8:]):
                with self.assertRaises(UnicodeDecodeError):
                    data.decode("utf-16")
                self.run_rows(data, not_valid_text(row, "maps.ini"), 1,
                              ["y.bin", "x.bmp", *after])
        # UTF-32: past U+10FFFF, a surrogate, part of a unit at the end.
        head = b"\xff\xfe\x00\x00" + "y.bin\n#c\nx.bmp\n".encode("utf-32-le")
        for tail, row, after in [(b"\x00\x00\x11\x00", 4, []), (b"\x00\xd8\x00\x00", 4, []),
                                 ("zz.bin\n".encode("utf-32-le") + b"z\x00", 5, ["zz.bin"])]:
            with self.subTest(tail[-4:]):
                with self.assertRaises(UnicodeDecodeError):
                    (head + tail).decode("utf-32")
                self.run_rows(head + tail, not_valid_text(row, "maps.ini", "UTF-32"), 1,
                              ["y.bin", "x.bmp", *after])

    def test_row_paths_are_used_exactly_as_written(self):
        def setup(f):
            (f / "sub dir").mkdir()
            return {"sub dir/ spaced .bin": f.write("sub dir/ spaced .bin", b"spaced")}
        # No trimming: leading and inner spaces belong to the path.
        self.run_rows("sub dir/ spaced .bin\n", done("out.bin", "maps.ini"), 0,
                      ["sub dir/ spaced .bin"], setup=setup)
        self.run_rows(" y.bin\n", cant_open_binary(" y.bin"), 1, [])
        self.run_rows("y.bin\t\n", unknown_extension(".bin\t", 1, "maps.ini"), 1, [])

    def test_windows_paths(self):
        if not WINE:
            self.skipTest("Windows paths: back slashes and drive letters")
        with self.folder() as f:
            (f / "sub").mkdir()
            pic = f.image("sub/pic.bmp", 16, 16, indices(18))
            raw = f.write("sub/raw.bin", b"\x00raw\r\n")
            # Wine's drive Z: is the root of the Linux file system.
            drive = "Z:" + str(f.path).replace("/", "\\")
            rows = ["sub\\pic.bmp", "sub/raw.bin", drive + "\\sub\\raw.bin",
                    drive.replace("\\", "/") + "/sub\\pic.bmp", ".\\SUB\\PIC.BMP"]
            f.write("maps.ini", "\r\n".join(rows) + "\r\n")
            ini = "sub\\..\\maps.ini"
            output = drive + "\\out.bin"
            self.expect(f, [ini, output], done(output, ini), 0, "out.bin",
                        pic + raw + raw + pic + pic)
            # The output named through another spelling is still the INI file.
            self.expect(f, [ini, drive + "\\SUB\\..\\MAPS.INI"],
                        output_is_ini(drive + "\\SUB\\..\\MAPS.INI"), 1)

    def test_row_messages_name_the_ini_path_as_given(self):
        with self.folder() as f:
            (f / "lists").mkdir()
            f.write("lists/maps.ini", "ab\n")
            self.expect(f, ["./lists/maps.ini", "out.bin"], too_short(1, "./lists/maps.ini"), 1,
                        "out.bin", b"")


# --- Command line ----------------------------------------------------------

class CommandLineTest(ToolTestCase):
    def test_argument_forms(self):
        # (arguments after the INI path, output file, quiet)
        forms = [
            ([], "colormap.bin", False),
            (["/q"], "colormap.bin", True),
            (["/Q"], "colormap.bin", True),
            (["out.bin"], "out.bin", False),
            (["out.bin", "/Q"], "out.bin", True),
            (["out.bin", "/q"], "out.bin", True),
            (["/Q", "out.bin"], "out.bin", True),
            (["/q", "out.bin"], "out.bin", True),
            (["one.bin", "two.bin"], "colormap.bin", False),
            (["/Q", "two.bin", "three.bin"], "colormap.bin", False),
            (["one.bin", "/Q", "three.bin"], "colormap.bin", False),
            (["one.bin", "two.bin", "/Q", "four.bin"], "colormap.bin", False),
        ]
        for extra, output, quiet in forms:
            with self.subTest(extra), self.folder() as f:
                entry = f.image("pic.pcx", 16, 16, indices(12))
                f.write("maps.ini", "pic.pcx\n")
                stdout = "" if quiet else done(output, "maps.ini")
                self.expect(f, ["maps.ini", *extra], stdout, 0, output, entry)

    def test_existing_output_is_replaced(self):
        with self.folder() as f:
            entry = f.write("data.bin", b"new")
            f.write("out.bin", b"old content that is longer")
            f.write("maps.ini", "data.bin\n")
            self.expect(f, ["maps.ini", "out.bin"], done("out.bin", "maps.ini"), 0,
                        "out.bin", entry)

    def test_quiet_switch_first_is_the_ini_path(self):
        if os.path.lexists("/Q"):
            self.skipTest("/Q exists on this machine")
        with self.folder() as f:
            f.write("maps.ini", "ab\n")
            self.expect(f, ["/Q", "maps.ini"], cant_open_ini("/Q"), 1, "maps.ini",
                        b"ab\n")

    def test_no_arguments(self):
        with self.folder() as f:
            f.write("maps.ini", "x.bmp\n")
            self.expect(f, [], NO_INI, 1, "colormap.bin", None)

    def test_missing_ini_touches_no_output(self):
        with self.folder() as f:
            f.write("out.bin", b"keep me")
            self.expect(f, ["absent.ini", "out.bin"], cant_open_ini("absent.ini"), 1,
                        "out.bin", b"keep me")
        with self.folder() as f:
            self.expect(f, ["absent.ini"], cant_open_ini("absent.ini"), 1, "colormap.bin", None)
            # Longer than the library's 4 KiB message buffer, and still whole.
            path = "./" * 2495 + "absent.ini"
            self.expect(f, [path], cant_open_ini(path), 1, "colormap.bin", None)

    def test_unreadable_ini_touches_no_output(self):
        with self.folder() as f:
            (f / "maps.ini").mkdir()
            f.write("out.bin", b"keep me")
            self.expect(f, ["maps.ini", "out.bin"], cant_open_ini("maps.ini"), 1,
                        "out.bin", b"keep me")
        with self.folder() as f:
            (f / "maps.ini").mkdir()
            self.expect(f, ["maps.ini", "/q"], cant_open_ini("maps.ini"), 1, "colormap.bin", None)

    def test_output_that_cannot_be_created(self):
        with self.folder() as f:
            f.write("maps.ini", "x.bmp\n")
            self.expect(f, ["maps.ini", "missing/out.bin"], cant_create("missing/out.bin"), 1,
                        "missing", None)
        with self.folder() as f:
            f.write("maps.ini", "x.bmp\n")
            (f / "out.bin").mkdir()
            self.expect(f, ["maps.ini", "out.bin", "/Q"], cant_create("out.bin"), 1)

    def test_output_that_cannot_be_written(self):
        self.linux_only("no /dev/full (test_full_disk_is_a_write_error writes to a small volume)")
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        for rows in ["pic.bmp\n", "data.bin\n", "empty.bin\ndata.bin\npic.bmp\n"]:
            with self.subTest(rows), self.folder() as f:
                f.image("pic.bmp", 16, 16, indices(13))
                f.write("data.bin", b"\x00" * 1000)
                f.write("empty.bin", b"")
                f.write("maps.ini", rows)
                self.expect(f, ["maps.ini", "/dev/full"], cant_write("/dev/full"), 1)
        # Nothing to write, nothing lost.
        with self.folder() as f:
            f.write("empty.bin", b"")
            f.write("maps.ini", "#nothing\nempty.bin\n")
            self.expect(f, ["maps.ini", "/dev/full"], done("/dev/full", "maps.ini"), 0)

    def test_output_that_is_the_ini_file(self):
        for output in ["maps.ini", "./maps.ini", "hard.ini", "soft.ini", "lists/../maps.ini",
                       "MAPS.lnk"]:
            with self.subTest(output), self.folder() as f:
                f.image("pic.bmp", 16, 16, indices(14))
                f.write("maps.ini", "pic.bmp\n")
                os.link(f / "maps.ini", f / "hard.ini")
                os.symlink("maps.ini", f / "soft.ini")
                os.symlink("soft.ini", f / "MAPS.lnk")
                (f / "lists").mkdir()
                self.expect(f, ["maps.ini", output], output_is_ini(output), 1)
        # The same when the INI file is named through a link.
        with self.folder() as f:
            f.image("pic.bmp", 16, 16, indices(14))
            f.write("maps.ini", "pic.bmp\n")
            os.symlink("maps.ini", f / "soft.ini")
            self.expect(f, ["soft.ini", "/Q", "maps.ini"], output_is_ini("maps.ini"), 1)

    def test_devices_are_never_the_ini_file(self):
        self.linux_only("no /dev/null")
        with self.folder() as f:
            self.expect(f, ["/dev/null", "/dev/null"], done("/dev/null", "/dev/null"), 0)

    def test_binary_row_that_is_the_output(self):
        for row in ["out.bin", "./out.bin", "soft.bin", "hard.bin"]:
            with self.subTest(row), self.folder() as f:
                first = f.write("first.bin", b"\x00first\x0a")
                f.write("out.bin", b"old output")
                os.symlink("out.bin", f / "soft.bin")
                os.link(f / "out.bin", f / "hard.bin")
                f.write("maps.ini", f"first.bin\n{row}\nfirst.bin\n")
                self.expect(f, ["maps.ini", "out.bin"], binary_is_output(row), 1,
                            "out.bin", first, changed={"hard.bin"})
                self.assertEqual(f.read("hard.bin"), first)
        # An output created by this very run is found as well.
        with self.folder() as f:
            first = f.image("first.bmp", 16, 16, indices(15))
            f.write("maps.ini", "first.bmp\ncolormap.bin\n")
            self.expect(f, ["maps.ini"], binary_is_output("colormap.bin"), 1,
                        "colormap.bin", first)

    def test_binary_row_that_is_the_output_whatever_its_kind(self):
        self.linux_only("no FIFOs in the file system, /dev/stdout, /dev/stderr or /dev/null")
        # The run holds the write end of its output, so reading a FIFO or a
        # pipe that is the output would wait for ever; nor are the messages'
        # own pipes read. (output, row, what the row names, message)
        cases = [("out.bin", "out.bin", None, binary_is_output),  # a FIFO
                 ("out.bin", "soft.bin", "out.bin", binary_is_output),
                 ("/dev/stdout", "soft.bin", "/dev/stdout", binary_is_output),  # a pipe
                 ("/dev/null", "soft.bin", "/dev/null", binary_is_output),
                 ("plain.bin", "soft.bin", "/dev/stderr", cant_open_binary),
                 ("plain.bin", "soft.bin", "/dev/stdout", cant_open_binary)]
        for output, row, target, message in cases:
            with self.subTest(output=output, target=target), self.folder() as f:
                first = f.write("first.bin", b"\x00first\x0a")
                f.write("maps.ini", f"first.bin\n{row}\nfirst.bin\n")
                if target:
                    os.symlink(target, f / row)
                if output == "out.bin":
                    os.mkfifo(f / output)
                    got = []
                    reader = threading.Thread(target=lambda: got.append((f / output).read_bytes()),
                                              daemon=True)
                    reader.start()
                result = self.expect(f, ["maps.ini", output], None, 1,
                                     "plain.bin" if output == "plain.bin" else None, first,
                                     timeout=20)
                shown = message_bytes(message(row))
                if output == "out.bin":
                    reader.join(5)
                    self.assertEqual(got, [first])
                    self.assertEqual(result.stdout, shown)
                elif output == "/dev/stdout":
                    self.assertEqual(result.stdout, first + shown)
                else:
                    self.assertEqual(result.stdout, shown)

    def test_ini_file_the_run_would_write_back_or_wait_on(self):
        self.linux_only("no FIFOs in the file system, /dev/stdout or /dev/stderr")
        # The same FIFO as INI file and output would feed the run its own
        # entries; a pipe the messages go to would be waited on for ever.
        with self.folder() as f:
            f.write("first.bin", b"\x00first\x0a")
            os.mkfifo(f / "list.fifo")
            writer = threading.Thread(target=lambda: (f / "list.fifo").write_bytes(b"first.bin\n"),
                                      daemon=True)
            writer.start()
            self.expect(f, ["list.fifo", "list.fifo"], output_is_ini("list.fifo"), 1, timeout=20)
            writer.join(5)
        for ini in ["/dev/stdout", "/dev/stderr"]:
            with self.subTest(ini), self.folder() as f:
                self.expect(f, [ini, "out.bin"], cant_open_ini(ini), 1, "out.bin", None,
                            timeout=20)

    def test_binary_row_naming_a_fifo_whose_writer_waits(self):
        self.linux_only("no FIFOs in the file system")
        # The writer is let go as the row is opened, and may be done before
        # the run reads: its bytes must still arrive. Timing decides, so
        # several runs.
        for attempt in range(12):
            with self.subTest(attempt=attempt), self.folder() as f:
                os.mkfifo(f / "feed.bin")
                f.write("maps.ini", "feed.bin\n")
                writer = threading.Thread(target=lambda: (f / "feed.bin").write_bytes(b"hello"),
                                          daemon=True)
                writer.start()
                time.sleep(0.02)  # the writer now waits in open()
                self.expect(f, ["maps.ini", "out.bin", "/Q"], "", 0, "out.bin", b"hello",
                            timeout=20)
                writer.join(5)

    def test_image_row_that_is_the_output(self):
        for row in ["out.bmp", "soft.pcx", "hard.tga"]:
            with self.subTest(row), self.folder() as f:
                first = f.write("first.bin", b"\x00first\x0a")
                # A valid image, so that only its identity can stop it.
                f.image("out.bmp", 16, 16, indices(16))
                os.symlink("out.bmp", f / "soft.pcx")
                os.link(f / "out.bmp", f / "hard.tga")
                f.write("maps.ini", f"first.bin\n{row}\nfirst.bin\n")
                self.expect(f, ["maps.ini", "out.bmp"], image_is_output(row), 1,
                            "out.bmp", first, changed={"hard.tga"})

    def test_failure_leaves_a_truncated_output(self):
        with self.folder() as f:
            f.write("out.bin", b"old output")
            f.write("maps.ini", "# first row\nnotes.txt\n")
            self.expect(f, ["maps.ini", "out.bin"], unknown_extension(".txt", 2, "maps.ini"), 1,
                        "out.bin", b"")

    def test_utf8_paths_are_kept_intact(self):
        with self.folder() as f:
            pic = f.image("çà é.bmp", 16, 16, indices(17))
            data = f.write("données ü.bin", "ĉ€".encode("utf-8"))
            f.write("cartes é.ini", "çà é.bmp\ndonnées ü.bin\n")
            self.expect(f, ["cartes é.ini", "sortie ñ.bin"], done("sortie ñ.bin", "cartes é.ini"),
                        0, "sortie ñ.bin", pic + data)
        with self.folder() as f:
            pic = f.image("çà é.bmp", 16, 16, indices(17))
            f.write("maps.ini", "çà é.bmp\nçà é.bin\n")
            self.expect(f, ["maps.ini", "out.bin"], cant_open_binary("çà é.bin"), 1,
                        "out.bin", pic)
        with self.folder() as f:
            f.write("maps.ini", "çà é.pcx\n")
            self.expect(f, ["maps.ini", "out.bin"], cant_open_image("çà é.pcx"), 1, "out.bin", b"")
        with self.folder() as f:
            f.write("maps.ini", "çà é.tgà\n")
            self.expect(f, ["maps.ini", "out.bin"], unknown_extension(".tgà", 1, "maps.ini"), 1,
                        "out.bin", b"")
        with self.folder() as f:
            self.expect(f, ["çà é.ini"], cant_open_ini("çà é.ini"), 1, "colormap.bin", None)


# --- Path names that are not valid UTF-8 -----------------------------------

# Bytes that a UTF-8 decoder could turn into something else: a Latin-1 byte,
# a valid two-byte form, overlong forms of NUL and '/', bytes that never occur
# in UTF-8, and a six-byte form from before RFC 3629 (a decoder that waited
# for more bytes there never finished).
AWKWARD_NAMES = [b"\xe9", b"\xc3\xa9", b"\xc0\x80", b"\xc0\xaf", b"\xff\xfe",
                 b"\xfd\xbf\xbf\xbf\xbf\xbf"]


def name_with(prefix, awkward, suffix):
    """The name as Python holds it (os.fsdecode): subprocess and the file
    functions turn it back into exactly these bytes, and so does expect()
    for the messages."""
    return os.fsdecode(prefix + awkward + suffix)


class PathBytesTest(ToolTestCase):
    TIMEOUT = 60  # a hang, not a slow run

    def test_rows_whose_bytes_are_not_utf8_name_no_file(self):
        # Windows would put U+FFFD in their place and open the file so named.
        for awkward in AWKWARD_NAMES:
            with contextlib.suppress(UnicodeDecodeError):
                awkward.decode("utf-8")
                continue
            for prefix, suffix, message in [(b"p", b".bmp", cant_open_image),
                                            (b"d", b".bin", cant_open_binary)]:
                row = prefix + awkward + suffix
                with self.subTest(row), self.folder() as f:
                    first = f.write("first.bin", b"first")
                    replaced = row.decode("utf-8", "replace")
                    if suffix == b".bmp":
                        f.image(replaced, 16, 16, indices(22))
                    else:
                        f.write(replaced, b"wrong")
                    f.write("maps.ini", b"first.bin\n" + row + b"\nfirst.bin\n")
                    self.expect(f, ["maps.ini", "out.bin"], message(os.fsdecode(row)), 1,
                                "out.bin", first, timeout=self.TIMEOUT)

    def test_path_bytes_are_used_and_shown_unchanged(self):
        self.linux_only("file names are UTF-16: bytes that are not UTF-8 name no file")
        self.assertEqual(os.fsencode(os.fsdecode(b"\xc0\xaf\xff")), b"\xc0\xaf\xff")
        for awkward in AWKWARD_NAMES:
            with self.subTest(awkward):
                missing = name_with(b"n", awkward, b".bin")
                image = name_with(b"p", awkward, b".bmp")
                lbm = name_with(b"q", awkward, b".lbm")
                binary = name_with(b"d", awkward, b".bin")
                ini = name_with(b"m", awkward, b".ini")
                output = name_with(b"o", awkward, b".bin")
                rows = [(image, lbm, binary), (binary, image), (binary, lbm)]
                with self.folder() as f:
                    # A row that names a missing file, beside the file that
                    # decoding the overlong '/' would name instead.
                    (f / "n").mkdir()
                    f.write("n/.bin", b"wrong")
                    first = f.write("first.bin", b"first")
                    f.write("maps.ini", b"first.bin\n" + os.fsencode(missing) + b"\nfirst.bin\n")
                    self.expect(f, ["maps.ini", "out.bin"], cant_open_binary(missing), 1,
                                "out.bin", first, timeout=self.TIMEOUT)
                    # Existing files with such names, in every position.
                    entries = {image: f.image(image, 16, 16, indices(20)),
                               lbm: f.lbm("plain.lbm", 16, 16, indices(21), fixed_map=True),
                               binary: f.write(binary, b"\x00" + awkward + b"\n")}
                    os.rename(f / "plain.lbm", f / lbm)
                    for order in rows:
                        f.write("maps.ini", b"".join(os.fsencode(r) + b"\n" for r in order))
                        self.expect(f, ["maps.ini", "out.bin"], done("out.bin", "maps.ini"), 0,
                                    "out.bin", b"".join(entries[r] for r in order),
                                    timeout=self.TIMEOUT)
                    # Such names for the INI file and the output file.
                    f.write(ini, os.fsencode(binary) + b"\n" + os.fsencode(image) + b"\n")
                    self.expect(f, [ini, output], done(output, ini), 0, output,
                                entries[binary] + entries[image], timeout=self.TIMEOUT)
                    f.write(ini, b"ab\n")
                    self.expect(f, [ini, "/Q", output], too_short(1, ini), 1, output, b"",
                                timeout=self.TIMEOUT)
                    self.expect(f, [missing], cant_open_ini(missing), 1, "colormap.bin", None,
                                timeout=self.TIMEOUT)


# --- Faults on the way out -------------------------------------------------

class OutputFaultTest(ToolTestCase):
    ROW_LISTS = [["big.bin"], ["pic.bmp"] * 30, ["pic.bmp", "big.bin", "pic.bmp"]]

    def fixtures(self, f, big_size):
        entries = {"pic.bmp": f.image("pic.bmp", 16, 16, indices(30)),
                   "big.bin": f.write("big.bin", bytes(range(251)) * (big_size // 251 + 1))}
        return entries

    def test_file_size_limit_is_a_write_error(self):
        limit = 10 * 512

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        self.linux_only("no file-size limit (test_full_disk_is_a_write_error is the counterpart)")

        for rows in self.ROW_LISTS:
            with self.subTest(rows[:3]), self.folder() as f:
                entries = self.fixtures(f, 64 * 1024)
                full = b"".join(entries[r] for r in rows)
                self.assertGreater(len(full), limit)
                f.write("maps.ini", "".join(r + "\n" for r in rows))

                def check(data):
                    self.assertLessEqual(len(data), limit)
                    self.assertEqual(data, full[:len(data)], "the output is not a prefix")

                # Not killed by SIGXFSZ (status -25): the write fails and says so.
                self.expect(f, ["maps.ini", "out.bin"], cant_write("out.bin"), 1, "out.bin", check,
                            preexec=small_files)

    def test_reader_of_a_fifo_output_that_goes_away(self):
        self.linux_only("no FIFOs in the file system (named pipes live apart, under \\\\.\\pipe\\)")
        def read_some(path):
            fd = os.open(path, os.O_RDONLY)  # returns once the tool opens it
            try:
                os.read(fd, 100)
            finally:
                os.close(fd)

        def read_nothing(path):
            os.close(os.open(path, os.O_RDONLY))

        for reader in [read_some, read_nothing]:
            for rows in [["big.bin"], ["pic.bmp"] * 1000]:
                with self.subTest(reader=reader.__name__, rows=rows[0]), self.folder() as f:
                    self.fixtures(f, 512 * 1024)
                    f.write("maps.ini", "".join(r + "\n" for r in rows))
                    os.mkfifo(f / "out.fifo")
                    thread = threading.Thread(target=reader, args=(f / "out.fifo",), daemon=True)
                    thread.start()
                    try:
                        # Not killed by SIGPIPE (status -13).
                        self.expect(f, ["maps.ini", "out.fifo"], cant_write("out.fifo"), 1,
                                    timeout=60)
                    finally:
                        with contextlib.suppress(OSError):  # the tool never opened it
                            os.close(os.open(f / "out.fifo", os.O_WRONLY | os.O_NONBLOCK))
                        thread.join(5)
                    self.assertFalse(thread.is_alive())

    def test_standard_output_that_cannot_be_written(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        # (arguments, status): the DONE line cannot be printed; nothing to print.
        for args, status in [(["maps.ini", "out.bin"], 1), (["maps.ini", "out.bin", "/Q"], 0),
                             (["maps.ini", "/q", "out.bin"], 0)]:
            with self.subTest(args), self.folder() as f, open("/dev/full", "wb") as full:
                entries = self.fixtures(f, 100 * 1024)
                rows = ["pic.bmp", "big.bin", "pic.bmp"]
                f.write("maps.ini", "".join(r + "\n" for r in rows))
                self.expect(f, args, None, status, "out.bin",
                            b"".join(entries[r] for r in rows), stdout_to=full)
                if not WINE:
                    # Closed: the message may land nowhere else, and fails.
                    self.expect(f, args, None, status, "out.bin",
                                b"".join(entries[r] for r in rows),
                                preexec=lambda: (limit_file_size(), os.close(1)))

    def test_full_disk_is_a_write_error(self):
        # A volume of one 4 KiB page, mounted for the run alone: in a mount
        # namespace of its own, or under Wine, whose server opens the files
        # outside any such namespace, for the time of the run.
        mount = "mount -t tmpfs -o size=4k none \"$0\""
        namespace = ["unshare", "--mount", "--propagation", "private", "sh", "-c"]
        with self.folder() as f:
            small = f.path.parent / "small"
            small.mkdir()
            probe = (subprocess.run([*namespace, mount, small], capture_output=True)
                     if shutil.which("unshare") else None)
        if probe is None or probe.returncode != 0:
            why = probe.stderr.decode(errors="replace").strip() if probe else "no unshare"
            reason = f"cannot mount a small volume in a private mount namespace (needs root): {why}"
            print(f"\nskipped: {reason}", file=sys.stderr)
            self.skipTest(reason)
        if WINE:
            namespace = ["sh", "-c"]
            mount += ' && trap "umount \\"$0\\"" EXIT'
        for rows in self.ROW_LISTS:
            with self.subTest(rows[:3]), self.folder() as f:
                entries = self.fixtures(f, 64 * 1024)
                full = b"".join(entries[r] for r in rows)
                self.assertGreater(len(full), 4096)
                f.write("maps.ini", "".join(r + "\n" for r in rows))
                small = f.path.parent / "small"
                small.mkdir()
                output = str(small / "out.bin")
                check = f.path.parent / "check"
                # The output's bytes are copied out before the volume goes.
                launcher = [*namespace, f'{mount} && "$@"; status=$?; cp "$0/out.bin" "{check}";'
                            ' exit $status', small]
                self.expect(f, ["maps.ini", output], cant_write(output), 1, launcher=launcher)
                data = check.read_bytes()
                self.assertLessEqual(len(data), 4096)
                self.assertEqual(data, full[:len(data)], "the output is not a prefix")

    def test_output_redirected_into_itself(self):
        # `mkcolormap maps.ini out.bin > out.bin`: standard output is the output
        # file, opened a second time; the message comes after the data.
        self.linux_only("Wine gives a standard output it makes from a Unix descriptor no volume "
                        "serial number, so the file is not recognised there")
        # (arguments, a failing last row, the message, the status)
        for args, fail, message, status in [
                (["out.bin"], [], done("out.bin", "maps.ini"), 0), (["out.bin", "/Q"], [], "", 0),
                (["out.bin", "/Q"], ["absent.bin"], cant_open_binary("absent.bin"), 1)]:
            with self.subTest(args, fail=fail), self.folder() as f:
                entries = self.fixtures(f, 100 * 1024)
                rows = ["pic.bmp", "big.bin", "pic.bmp"]
                f.write("maps.ini", "".join(r + "\n" for r in rows + fail))
                expected = b"".join(entries[r] for r in rows) + message_bytes(message)
                with open(f / "out.bin", "wb") as sink:
                    self.expect(f, ["maps.ini", *args], None, status, "out.bin", expected,
                                stdout_to=sink)

    def test_output_that_is_standard_output(self):
        self.linux_only("no /dev/stdout (test_output_redirected_into_itself is the counterpart)")
        # (arguments, standard output is a file or a pipe, DONE line printed)
        for args, to_file, loud in [(["/dev/stdout"], True, True), (["/dev/stdout", "/Q"], True, False),
                                    (["/Q", "/dev/stdout"], True, False),
                                    (["/dev/stdout"], False, True)]:
            with self.subTest(args=args, to_file=to_file), self.folder() as f:
                entries = self.fixtures(f, 100 * 1024)
                rows = ["pic.bmp", "big.bin", "pic.bmp"]
                f.write("maps.ini", "".join(r + "\n" for r in rows))
                expected = b"".join(entries[r] for r in rows)
                if loud:
                    expected += message_bytes(done("/dev/stdout", "maps.ini"))
                if to_file:
                    # As `mkcolormap maps.ini /dev/stdout > captured` does it:
                    # a fresh file, opened without O_APPEND, outside the folder.
                    captured = f.path.parent / "captured"
                    with open(captured, "wb") as sink:
                        self.expect(f, ["maps.ini", *args], None, 0, stdout_to=sink)
                    self.assertEqual(captured.read_bytes(), expected, "bytes of the captured file")
                else:
                    result = self.expect(f, ["maps.ini", *args], None, 0)
                    self.assertEqual(result.stdout, expected, "bytes through the pipe")


# --- The system around the tool --------------------------------------------

class SystemTest(ToolTestCase):
    def test_runs_without_proc_and_starts_no_other_program(self):
        self.linux_only("Wine itself needs /proc; Allegro's Windows start-up reads neither")
        # As in a chroot or a build sandbox: no /proc, and a `ps` first in
        # PATH that, like procps's there, complains on standard error. It
        # leaves a mark beside the folder if anything runs it.
        hide_proc = "mount -t tmpfs none /proc && test ! -e /proc/self"
        namespace = ["unshare", "--mount", "--propagation", "private", "sh", "-c"]
        why = "no unshare"
        if shutil.which("unshare"):
            probe = subprocess.run([*namespace, hide_proc], capture_output=True)
            why = "" if probe.returncode == 0 else (probe.stderr.decode(errors="replace").strip()
                                                    or f"status {probe.returncode}")
        if why:
            why = f"cannot hide /proc in a private mount namespace (needs root): {why}"
        elif b"__asan_init" in pathlib.Path(BINARY).read_bytes():
            why = "the sanitizers' runtime itself needs /proc"
        if why:
            reason = why
            print(f"\nskipped: {reason}", file=sys.stderr)
            self.skipTest(reason)
        with self.folder() as f:
            tools = f.path.parent / "bin"
            tools.mkdir()
            mark = f.path.parent / "ps-ran"
            (tools / "ps").write_text(f'#!/bin/sh\necho "$@" > "{mark}"\n'
                                      'echo "Error, do this: mount -t proc proc /proc" >&2\n'
                                      "exit 1\n")
            (tools / "ps").chmod(0o755)
            expected = (f.image("pic.bmp", 16, 16, indices(70))
                        + f.image("pic.pcx", 32, 8, indices(71))
                        + f.lbm("pic.lbm", 16, 16, indices(72)) + f.write("raw.bin", b"\0\1\377"))
            f.write("maps.ini", "pic.bmp\npic.pcx\npic.lbm\nraw.bin\n")
            path = f"{tools}:{os.environ.get('PATH', '/usr/bin:/bin')}"
            launcher = [*namespace, f'{hide_proc} && exec env PATH="$0" "$@"', path]
            self.expect(f, ["maps.ini"], done("colormap.bin", "maps.ini"), 0, "colormap.bin",
                        expected, launcher=launcher)
            self.assertFalse(mark.exists(), "the tool ran ps")


# --- The shipped example ---------------------------------------------------

class ExampleTest(ToolTestCase):
    def test_example_gives_the_expected_colormap(self):
        with self.folder() as f:
            shutil.rmtree(f.path)
            shutil.copytree(EXAMPLES, f.path, ignore=shutil.ignore_patterns("colormap.bin"))
            expected = f.read("colormap.expected")
            rows = [r for r in f.read("maps.ini").decode("ascii").splitlines()
                    if r and not r.startswith("#")]
            size = sum(256 if not r.lower().endswith(".bin") else (f / r).stat().st_size
                       for r in rows)
            self.assertEqual(len(expected), size)
            self.expect(f, ["maps.ini"], done("colormap.bin", "maps.ini"), 0,
                        "colormap.bin", expected)


# --part 1 runs these classes, --part 2 every other one (new ones included),
# so that ctest can run two halves of about the same length side by side.
FIRST_PART = ["ImageEntryTest", "HostileImageTest", "BinaryEntryTest", "OutputFaultTest", "ExampleTest"]


@contextlib.contextmanager
def wine_folder():
    """A Wine folder of the run's own, its server and services started here
    and kept up until the end: a server started by a run would inherit its
    file-size limit, and services started by a run its standard output and
    error, which would then never end."""
    with tempfile.TemporaryDirectory(prefix="mkcolormap-wine-") as prefix:
        os.environ.update(WINEPREFIX=prefix, WINEDEBUG="-all")
        subprocess.run(["wineserver", "-p"], check=True)
        subprocess.run(["wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        try:
            yield
        finally:
            subprocess.run(["wineserver", "-k"])
            subprocess.run(["wineserver", "-w"])


def main():
    global BINARY, WINE
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--part", type=int, choices=(1, 2))
    parser.add_argument("--wine", action="store_true")
    args, rest = parser.parse_known_args()
    BINARY = os.path.abspath(args.binary)
    WINE = args.wine
    if args.part:
        classes = [name for name, value in globals().items()
                   if isinstance(value, type) and issubclass(value, unittest.TestCase)
                   and unittest.defaultTestLoader.getTestCaseNames(value)]
        rest += [name for name in classes if (name in FIRST_PART) == (args.part == 1)]
    with wine_folder() if WINE else contextlib.nullcontext():
        program = unittest.main(argv=[sys.argv[0], *rest], exit=False)
    sys.exit(not program.result.wasSuccessful())


if __name__ == "__main__":
    main()
