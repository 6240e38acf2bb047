#!/usr/bin/python3
"""Well-formed BMP, PCX, TGA and LBM files of every variant the image gate
accepts, with the entry the tool must produce for each.

Most files come from independent encoders: Pillow (python3-pil), ImageMagick's
convert with "BMP3:" (imagemagick), GraphicsMagick (graphicsmagick, for 1-bit
TGA) and netpbm. The few variants that none of them writes (BMP RLE4 and bit
fields, 16-bit, 32-bit and 257-entry TGA maps, IFF PBM, chunk orders, PCX
windows) are packed here by hand, and the hand-made files that Pillow can read
are checked against Pillow's decoding.

The expected entry of an encoder's file is Pillow's decoding of that file
(netpbm and ImageMagick may reorder a palette); for TGA maps of 8- or 15-bit
entries, which Pillow cannot read, that of a copy whose map it can read; for
Pillow's run-length 1-bit TGA, which Pillow cannot read back, the picture's
bits; for LBM files, which Pillow cannot read, ppmtoilbm is given the palette
order with -map.

Usage: seeds.py OUTDIR [--format bmp|lbm|pcx|tga]
Writes the files, manifest.json and manifest.tsv (file, tab, expect) into
OUTDIR, which must exist. Nothing is
written anywhere else: temporary inputs for the encoders go to OUTDIR too.
"""

import io
import json
import os
import pathlib
import struct
import subprocess
import sys

from PIL import Image

CONVERT = "/usr/bin/convert"


class Seed:
    """One well-formed file.

    expect: "entry" (status 0 and exactly `entry`), "depth" (the gate passes,
    the tool refuses the depth), "size" (the tool refuses the size) or
    "refused" (valid for other readers, but the library would misread or
    refuse it, so the tool must say it cannot open it).
    """

    def __init__(self, name, data, expect, entry=None, pillow_reads_it=True):
        self.name = name
        self.data = data
        self.expect = expect
        self.entry = entry
        self.pillow_reads_it = pillow_reads_it


# ---------------------------------------------------------------- pictures

def ramp(w, h):
    return [(y * w + x) % 256 for y in range(h) for x in range(w)]


def runs(w, h, levels=256):
    """Rows that mix long runs with stretches of distinct values, so that
    run-length encoders use both kinds of packet."""
    out = []
    for y in range(h):
        for x in range(w):
            if x < w // 3:
                v = y * 7
            elif x < 2 * w // 3:
                v = x * 5 + y
            else:
                v = 200 + y
            out.append(v % levels)
    return out


def palette(n=256):
    # Distinct red values keep every entry a distinct colour, which the
    # encoders that rebuild a palette from colours need.
    return [(k * 255 // max(n - 1, 1), (k * 37 + 11) % 256, (250 - k * 3) % 256) for k in range(n)]


def grey(n=256):
    return [(k * 255 // (n - 1),) * 3 for k in range(n)]


def flat(pal):
    return [c for rgb in pal for c in rgb]


def pillow_image(w, h, indices, pal):
    im = Image.new("P", (w, h))
    im.putpalette(flat(pal) + [0] * (768 - 3 * len(pal)))
    im.putdata(indices)
    return im


def encode_pillow(im, fmt, **options):
    out = io.BytesIO()
    im.save(out, format=fmt, **options)
    return out.getvalue()


def pillow_entry(data):
    """The palette indices of a BMP, PCX or TGA file as Pillow decodes them."""
    im = Image.open(io.BytesIO(data))
    im.load()
    values = list(im.getdata())
    if im.mode == "1":
        return bytes(1 if v else 0 for v in values)
    if im.mode in ("P", "L"):
        return bytes(values)
    raise ValueError(f"no palette indices in mode {im.mode}")


def pillow_map_entry(data):
    """Pillow's decoding of a colour-mapped TGA whose map entries it cannot
    read (8 or 15 bits), through a copy whose entries it can: no index
    depends on the map."""
    if data[7] == 15:  # stored in two bytes, as 16-bit entries are
        return pillow_entry(data[:7] + bytes((16,)) + data[8:])
    at = 18 + data[0]
    length = struct.unpack_from("<H", data, 5)[0]
    wide = bytes(v for v in data[at:at + length] for _ in range(3))
    return pillow_entry(data[:7] + bytes((24,)) + data[8:at] + wide + data[at + length:])


# ---------------------------------------------------------------- encoders

class Tools:
    def __init__(self, workdir):
        self.workdir = pathlib.Path(workdir)
        # ImageMagick may spill to a temporary folder; keep it in ours.
        self.env = dict(os.environ, MAGICK_TEMPORARY_PATH=str(self.workdir), TMPDIR=str(self.workdir))

    def run(self, argv, stdin=None):
        result = subprocess.run(argv, input=stdin, capture_output=True, env=self.env)
        if result.returncode != 0:
            sys.exit(f"{argv[0]} failed: {result.stderr.decode(errors='replace')}")
        return result.stdout

    def temp(self, name, data):
        path = self.workdir / name
        path.write_bytes(data)
        return path

    def convert(self, im, output_spec, *options):
        source = self.temp(".seed-input.png", encode_pillow(im, "PNG"))
        target = self.workdir / ".seed-output"
        try:
            self.run([CONVERT, str(source), *options, f"{output_spec}:{target}"])
            return target.read_bytes()
        finally:
            source.unlink()
            if target.exists():
                target.unlink()

    def netpbm(self, im, program, *options):
        return self.run([program, *options], stdin=encode_pillow(im.convert("RGB"), "PPM"))

    def ppmtoilbm(self, w, h, indices, pal, *options):
        colour_map = Image.new("RGB", (len(pal), 1))
        colour_map.putdata(pal)
        map_path = self.temp(".seed-map.ppm", encode_pillow(colour_map, "PPM"))
        picture = Image.new("RGB", (w, h))
        picture.putdata([pal[i] for i in indices])
        try:
            data = self.netpbm(picture, "ppmtoilbm", "-maxplanes", "8", "-map", str(map_path), *options)
        finally:
            map_path.unlink()
        if iff_chunk(data, b"CMAP") != bytes(flat(pal)):
            sys.exit("ppmtoilbm reordered the colour map")
        return data


# ---------------------------------------------------------------- hand-made BMP

def bmp_rows(w, h, indices, bit_count):
    """Packs an indexed picture bottom-up into padded rows."""
    out = bytearray()
    for y in reversed(range(h)):
        row = indices[y * w:(y + 1) * w]
        bits = "".join(format(v, f"0{bit_count}b") for v in row)
        bits += "0" * (-len(bits) % 32)
        out += int(bits, 2).to_bytes(len(bits) // 8, "big") if bits else b""
    return bytes(out)


def bmp_file(w, h, bit_count, pixels, compression=0, pal=None, masks=None, os2=False):
    pal_bytes = b""
    if pal:
        entry = (lambda r, g, b: bytes((b, g, r))) if os2 else (lambda r, g, b: bytes((b, g, r, 0)))
        pal_bytes = b"".join(entry(*c) for c in pal)
    if os2:
        info = struct.pack("<IHHHH", 12, w, h, 1, bit_count)
    else:
        colours = len(pal or []) if len(pal or []) <= 256 else 0
        info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bit_count, compression, len(pixels), 2835, 2835,
                           colours, 0)
    extra = struct.pack("<III", *masks) if masks else b""
    offset = 14 + len(info) + len(extra) + len(pal_bytes)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + extra + pal_bytes + pixels


def rle8_rows(w, h, indices):
    """RLE8 with encoded runs, absolute runs (odd and even) and single
    pixels, one end of line per row, then an end of picture."""
    out = bytearray()
    for y in reversed(range(h)):
        row = indices[y * w:(y + 1) * w]
        x = 0
        while x < w:
            n = 1
            while x + n < w and row[x + n] == row[x] and n < 255:
                n += 1
            if n >= 2:
                out += bytes((n, row[x]))
                x += n
                continue
            n = 1  # absolute stretch up to the next repeat
            while x + n < w and n < 255 and not (x + n + 1 < w and row[x + n] == row[x + n + 1]):
                n += 1
            if n >= 3:
                out += bytes((0, n)) + bytes(row[x:x + n]) + (b"\0" if n % 2 else b"")
            else:
                out += b"".join(bytes((1, v)) for v in row[x:x + n])
            x += n
        out += b"\0\0"
    return bytes(out + b"\0\1")


def rle4_rows(w, h, indices):
    """RLE4 with runs and with absolute runs of 3 to 7 pixels packed into
    whole words, one end of line per row, then an end of picture."""
    out = bytearray()
    for y in reversed(range(h)):
        row = indices[y * w:(y + 1) * w]
        x = 0
        while x < w:
            if x + 2 <= w and row[x] == row[x + 1]:
                n = 2
                while x + n < w and row[x + n] == row[x] and n < 255:
                    n += 1
                out += bytes((n, row[x] << 4 | row[x]))
                x += n
            else:
                n = min(w - x, 3 + (x % 5))
                if n < 3:
                    out += bytes((n, row[x] << 4 | (row[x + 1] if n > 1 else 0)))
                else:
                    nibbles = row[x:x + n] + [0] * (-n % 4)
                    out += bytes((0, n)) + bytes(a << 4 | b for a, b in zip(nibbles[0::2], nibbles[1::2]))
                x += n
        out += b"\0\0"
    return bytes(out + b"\0\1")


def rle8_sparse(w, h):
    """Deltas over cleared pixels and an early end of picture: the loader
    clears the bitmap, so every skipped pixel is index 0."""
    entry = [0] * (w * h)
    out = bytearray()
    bottom = h - 1
    # bottom row: 3 pixels of 9 at x = 2 (delta 2, 0)
    out += b"\0\2\2\0" + bytes((3, 9))
    entry[bottom * w + 2:bottom * w + 5] = [9, 9, 9]
    # move up 2 rows and right 4: to x = 9 on row bottom - 2
    out += b"\0\2\4\2" + bytes((2, 7))
    entry[(bottom - 2) * w + 9:(bottom - 2) * w + 11] = [7, 7]
    out += b"\0\0"  # end of that line
    out += bytes((w, 5))  # a full row of 5
    entry[(bottom - 3) * w:(bottom - 2) * w] = [5] * w
    out += b"\0\0\0\1"  # end of line, then end of picture: the rest stays 0
    return bytes(out), bytes(entry)


def hand_bmp():
    # Pillow 9.4 drops the last pixel of an odd RLE4 absolute run and reads
    # four bytes for a delta, so it cannot check the run-length files; the
    # replay compares them with the tool's output instead.
    seeds = []
    pal16 = palette(16)
    pic16 = runs(16, 16, 16)
    data = bmp_file(16, 16, 4, rle4_rows(16, 16, pic16), compression=2, pal=pal16)
    seeds.append(Seed("hand-rle4.bmp", data, "entry", bytes(pic16), pillow_reads_it=False))
    pic = runs(32, 8, 16)
    data = bmp_file(32, 8, 4, rle4_rows(32, 8, pic), compression=2, pal=pal16)
    seeds.append(Seed("hand-rle4-32x8.bmp", data, "entry", bytes(pic), pillow_reads_it=False))
    pic = runs(256, 1)
    data = bmp_file(256, 1, 8, rle8_rows(256, 1, pic), compression=1, pal=palette())
    seeds.append(Seed("hand-rle8-256x1.bmp", data, "entry", bytes(pic)))
    stream, entry = rle8_sparse(16, 16)
    seeds.append(Seed("hand-rle8-delta.bmp", bmp_file(16, 16, 8, stream, compression=1, pal=palette()),
                      "entry", entry, pillow_reads_it=False))
    # RLE8 whose last line ends the picture with an end of line alone.
    pic = ramp(8, 32)
    rows = rle8_rows(8, 32, pic)[:-2]
    seeds.append(Seed("hand-rle8-no-eop.bmp", bmp_file(8, 32, 8, rows, compression=1, pal=palette()),
                      "entry", bytes(pic)))
    # A palette region longer than the palette: the loader skips the rest.
    pic = ramp(16, 16)
    data = bmp_file(16, 16, 8, bmp_rows(16, 16, pic, 8), pal=palette() + [(0, 0, 0)] * 4)
    seeds.append(Seed("hand-8-long-palette.bmp", data, "entry", bytes(pic)))
    # True-colour layouts: they pass the gate and get the depth message.
    row16 = lambda w: b"\x1f\x7c" * w + b"\0" * (-2 * w % 4)
    seeds.append(Seed("hand-16.bmp", bmp_file(1, 256, 16, row16(1) * 256), "depth"))
    seeds.append(Seed("hand-bitfields-555.bmp",
                      bmp_file(16, 16, 16, row16(16) * 16, compression=3, masks=(0x7C00, 0x03E0, 0x001F)),
                      "depth"))
    seeds.append(Seed("hand-bitfields-565.bmp",
                      bmp_file(16, 16, 16, row16(16) * 16, compression=3, masks=(0xF800, 0x07E0, 0x001F)),
                      "depth"))
    seeds.append(Seed("hand-bitfields-32.bmp",
                      bmp_file(16, 16, 32, b"\x10\x20\x30\x00" * 256, compression=3,
                               masks=(0xFF0000, 0x00FF00, 0x0000FF)),
                      "depth"))
    return seeds


def encoder_bmp(tools):
    seeds = []
    pal = palette()
    pic = ramp(16, 16)
    im = pillow_image(16, 16, pic, pal)
    seeds.append(Seed("pillow-8.bmp", encode_pillow(im, "BMP"), "entry", bytes(pic)))
    for w, h in ((1, 256), (4, 64), (256, 1)):
        p = ramp(w, h)
        seeds.append(Seed(f"pillow-8-{w}x{h}.bmp", encode_pillow(pillow_image(w, h, p, pal), "BMP"), "entry",
                          bytes(p)))
    grey_pic = ramp(32, 8)
    seeds.append(Seed("pillow-grey-8.bmp", encode_pillow(pillow_image(32, 8, grey_pic, grey()).convert("L"), "BMP"),
                      "entry", bytes(grey_pic)))
    bits = [(x * 3 + y) % 5 // 3 for y in range(16) for x in range(16)]
    one = Image.new("1", (16, 16))
    one.putdata([255 * b for b in bits])
    seeds.append(Seed("pillow-1.bmp", encode_pillow(one, "BMP"), "entry", bytes(bits)))
    seeds.append(Seed("pillow-15x15.bmp", encode_pillow(pillow_image(15, 15, ramp(15, 15), pal), "BMP"), "size"))
    seeds.append(Seed("pillow-24.bmp", encode_pillow(im.convert("RGB"), "BMP"), "depth"))
    seeds.append(Seed("pillow-32.bmp", encode_pillow(im.convert("RGBA"), "BMP"), "depth"))

    run_im = pillow_image(16, 16, runs(16, 16), pal)
    magick = [
        ("magick-8.bmp", im, ("-compress", "None")),
        ("magick-rle8.bmp", run_im, ("-compress", "RLE")),
        ("magick-rle8-ramp.bmp", im, ("-compress", "RLE")),
        ("magick-4.bmp", pillow_image(16, 16, runs(16, 16, 16), palette(16)), ("-colors", "16", "-compress", "None")),
        ("magick-1.bmp", one, ("-monochrome",)),
    ]
    for name, source, options in magick:
        data = tools.convert(source, "BMP3", "-type", "palette", *options)
        seeds.append(Seed(name, data, "entry", pillow_entry(data)))
    seeds.append(Seed("magick-24.bmp", tools.convert(im, "BMP3", "-type", "truecolor"), "depth"))
    # Without "BMP3:" ImageMagick writes a 124-byte header, which the loader
    # does not know; the tool hands it the 40-byte form.
    data = tools.convert(im, "BMP", "-type", "palette")
    seeds.append(Seed("magick-v5.bmp", data, "entry", pillow_entry(data)))

    for header in ("windows", "os2"):
        for bpp, source in ((8, im), (4, pillow_image(16, 16, runs(16, 16, 16), palette(16))), (1, one)):
            data = tools.netpbm(source, "ppmtobmp", f"-{header}", "-bpp", str(bpp))
            seeds.append(Seed(f"netpbm-{header}-{bpp}.bmp", data, "entry", pillow_entry(data)))
        seeds.append(Seed(f"netpbm-{header}-24.bmp", tools.netpbm(im, "ppmtobmp", f"-{header}", "-bpp", "24"),
                          "depth"))
    return seeds


# ---------------------------------------------------------------- PCX

def pcx_runs(line):
    out = bytearray()
    x = 0
    while x < len(line):
        n = 1
        while x + n < len(line) and line[x + n] == line[x] and n < 63:
            n += 1
        if n > 1 or line[x] >= 0xC0:
            out += bytes((0xC0 | n, line[x]))
        else:
            out.append(line[x])
        x += n
    return bytes(out)


def pcx_file(x_min, y_min, w, h, bytes_per_line, planes, body):
    header = struct.pack("<BBBBHHHHHH48sBBHH58s", 0x0A, 5, 1, 8, x_min, y_min, x_min + w - 1, y_min + h - 1,
                         72, 72, b"", 0, planes, bytes_per_line, 1, b"")
    assert len(header) == 128
    return header + body


def hand_pcx():
    seeds = []
    pal = palette()
    trailer = b"\x0c" + bytes(flat(pal))
    # A window away from the origin. (Lines longer than the width come from
    # Pillow's odd widths; Pillow reads no other padding.)
    pic = runs(32, 8)
    body = b"".join(pcx_runs(pic[y * 32:(y + 1) * 32]) for y in range(8))
    seeds.append(Seed("hand-window.pcx", pcx_file(100, 7, 32, 8, 32, 1, body) + trailer, "entry", bytes(pic)))
    # Zero-length runs and runs that continue from one plane into the next
    # inside a line are harmless.
    w, h = 16, 16
    body = bytearray()
    for y in range(h):
        body += b"\xc0\x33" + bytes((0xC0 | 24, y)) + bytes((0xC0 | 24, 0x80))
    seeds.append(Seed("hand-planes.pcx", pcx_file(0, 0, w, h, w, 3, bytes(body)), "depth"))
    # Without the trailing palette the loader does without it.
    pic = ramp(16, 16)
    body = b"".join(pcx_runs(pic[y * 16:(y + 1) * 16]) for y in range(16))
    seeds.append(Seed("hand-no-palette.pcx", pcx_file(0, 0, 16, 16, 16, 1, body), "entry", bytes(pic)))
    return seeds


def encoder_pcx(tools):
    seeds = []
    pal = palette()
    pic = ramp(16, 16)
    im = pillow_image(16, 16, pic, pal)
    seeds.append(Seed("pillow-8.pcx", encode_pillow(im, "PCX"), "entry", bytes(pic)))
    p = runs(32, 8)
    seeds.append(Seed("pillow-8-runs.pcx", encode_pillow(pillow_image(32, 8, p, pal), "PCX"), "entry", bytes(p)))
    for w, h in ((1, 256), (256, 1)):
        p = ramp(w, h)
        seeds.append(Seed(f"pillow-8-{w}x{h}.pcx", encode_pillow(pillow_image(w, h, p, pal), "PCX"), "entry",
                          bytes(p)))
    g = ramp(16, 16)
    seeds.append(Seed("pillow-grey.pcx", encode_pillow(pillow_image(16, 16, g, grey()).convert("L"), "PCX"),
                      "entry", bytes(g)))
    seeds.append(Seed("pillow-24.pcx", encode_pillow(im.convert("RGB"), "PCX"), "depth"))
    seeds.append(Seed("pillow-15x15.pcx", encode_pillow(pillow_image(15, 15, ramp(15, 15), pal), "PCX"), "size"))

    run_im = pillow_image(16, 16, runs(16, 16), pal)
    for name, source in (("magick-8.pcx", im), ("magick-8-runs.pcx", run_im)):
        data = tools.convert(source, "PCX", "-type", "palette")
        seeds.append(Seed(name, data, "entry", pillow_entry(data)))
    seeds.append(Seed("magick-24.pcx", tools.convert(im, "PCX", "-type", "truecolor"), "depth"))
    for name, source in (("netpbm-8.pcx", im), ("netpbm-8-runs.pcx", run_im)):
        data = tools.netpbm(source, "ppmtopcx", "-8bit")
        seeds.append(Seed(name, data, "entry", pillow_entry(data)))
    seeds.append(Seed("netpbm-24.pcx", tools.netpbm(im, "ppmtopcx", "-24bit"), "depth"))
    return seeds


# ---------------------------------------------------------------- TGA

def tga_rle_line(pixels):
    """One line of TGA run-length packets; `pixels` are byte strings."""
    out = bytearray()
    x = 0
    while x < len(pixels):
        n = 1
        while x + n < len(pixels) and pixels[x + n] == pixels[x] and n < 128:
            n += 1
        if n > 1:
            out += bytes((0x80 | (n - 1),)) + pixels[x]
        else:
            n = 1
            while x + n < len(pixels) and n < 128 and pixels[x + n] != pixels[x + n - 1]:
                n += 1
            out += bytes((n - 1,)) + b"".join(pixels[x:x + n])
        x += n
    return bytes(out)


def tga_file(image_type, w, h, pixel_bits, lines, map_bits=0, colour_map=b"", map_length=0, descriptor=0,
             image_id=b"", first=0):
    """`lines` are the pixel byte strings of each stored line, in file order."""
    header = struct.pack("<BBBHHBHHHHBB", len(image_id), 1 if map_length else 0, image_type, first, map_length,
                         map_bits, 0, 0, w, h, pixel_bits, descriptor)
    body = b"".join(tga_rle_line(line) if image_type & 8 else b"".join(line) for line in lines)
    return header + image_id + colour_map + body


def mirrored_tga(data):
    """The same TGA stored right to left: descriptor bit 4 set and each
    stored line mirrored, its packets rewritten as literal ones."""
    map_length, map_bits, w, h, bits = (*struct.unpack_from("<HB", data, 5),
                                        *struct.unpack_from("<HHB", data, 12))
    at = 18 + data[0] + (map_length * ((map_bits + 7) // 8) if data[1] == 1 else 0)
    rle = data[2] & 8
    size = 1 if bits == 1 else (bits + 7) // 8  # bytes a stored pixel takes
    count = (w + 7) // 8 if bits == 1 and not rle else w  # stored pixels a line
    out = bytearray(data[:at])
    out[17] |= 0x10
    for _ in range(h):
        line = b""
        while len(line) < count * size:
            n = (data[at] & 0x7F) + 1 if rle else count
            repeated = rle and data[at] & 0x80
            at += 1 if rle else 0
            line += data[at:at + size] * n if repeated else data[at:at + n * size]
            at += size if repeated else n * size
        if bits == 1:  # packed: the first bits count, the rest is padding
            flipped = [line[x // 8] >> (7 - x % 8) & 1 for x in reversed(range(w))]
            packed = bytearray((w + 7) // 8)
            for x, bit in enumerate(flipped):
                packed[x // 8] |= bit << (7 - x % 8)
            line = bytes(packed) + line[len(packed):]
        else:
            line = b"".join(line[x * size:(x + 1) * size] for x in reversed(range(count)))
        for start in range(0, count, 128 if rle else count):
            part = line[start * size:(start + 128) * size] if rle else line
            out += (bytes([len(part) // size - 1]) if rle else b"") + part
    return bytes(out + data[at:])


def indexed_lines(w, h, pic, top_down):
    rows = [[bytes((v,)) for v in pic[y * w:(y + 1) * w]] for y in range(h)]
    return rows if top_down else rows[::-1]


def hand_tga():
    seeds = []
    pic = runs(16, 16)
    map16 = b"".join(struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3) for r, g, b in palette())
    map32 = b"".join(bytes((b, g, r, 255)) for r, g, b in palette())
    for image_type in (1, 9):
        suffix = "-rle" if image_type & 8 else ""
        seeds.append(Seed(f"hand-map16{suffix}.tga",
                          tga_file(image_type, 16, 16, 8, indexed_lines(16, 16, pic, False), 16, map16, 256),
                          "entry", bytes(pic)))
        seeds.append(Seed(f"hand-map32{suffix}.tga",
                          tga_file(image_type, 16, 16, 8, indexed_lines(16, 16, pic, True), 32, map32, 256,
                                   descriptor=0x20, image_id=b"hand-made"),
                          "entry", bytes(pic), pillow_reads_it=False))  # Pillow 9.4 has no 32-bit maps
    # A short colour map: the loader reads only the entries given.
    seeds.append(Seed("hand-short-map.tga",
                      tga_file(1, 8, 32, 8, indexed_lines(8, 32, [v % 40 for v in ramp(8, 32)], False), 24,
                               bytes(120), 40),
                      "entry", bytes(v % 40 for v in ramp(8, 32))))
    # 257 entries of 32 bits, as GIMP writes indexed images with
    # transparency, one of them from entry 5: the loader keeps 256.
    map257 = b"".join(bytes((b, g, r, 255)) for r, g, b in palette()) + bytes(4)
    for image_type, first in ((1, 0), (9, 0), (9, 5)):
        suffix = ("-rle" if image_type & 8 else "") + (f"-first{first}" if first else "")
        indices = [min(v + first, 255) for v in pic]
        seeds.append(Seed(f"hand-map257{suffix}.tga",
                          tga_file(image_type, 16, 16, 8, indexed_lines(16, 16, indices, False), 32, map257,
                                   257, descriptor=0x08, first=first),
                          "entry", bytes(indices), pillow_reads_it=False))
    # 15- and 16-bit true colour, alpha bits in the descriptor.
    lines = [[struct.pack("<H", (x * 2047 + y) & 0x7FFF) for x in range(16)] for y in range(16)]
    seeds.append(Seed("hand-16.tga", tga_file(2, 16, 16, 16, lines, descriptor=0x01), "depth"))
    seeds.append(Seed("hand-15-rle.tga", tga_file(10, 16, 16, 15, lines), "depth"))
    return seeds


def encoder_tga(tools):
    seeds = []
    pal = palette()
    pic = ramp(16, 16)
    im = pillow_image(16, 16, pic, pal)
    run_pic = runs(16, 16)
    run_im = pillow_image(16, 16, run_pic, pal)
    for rle in (False, True):
        suffix = "-rle" if rle else ""
        options = {"compression": "tga_rle"} if rle else {}
        seeds.append(Seed(f"pillow-8{suffix}.tga", encode_pillow(run_im, "TGA", **options), "entry", bytes(run_pic)))
        seeds.append(Seed(f"pillow-8-top{suffix}.tga", encode_pillow(im, "TGA", orientation=1, id_section=b"seed",
                                                                     **options), "entry", bytes(pic)))
        seeds.append(Seed(f"pillow-grey{suffix}.tga",
                          encode_pillow(pillow_image(16, 16, run_pic, grey()).convert("L"), "TGA", **options),
                          "entry", bytes(run_pic)))
        seeds.append(Seed(f"pillow-24{suffix}.tga", encode_pillow(im.convert("RGB"), "TGA", **options), "depth"))
        seeds.append(Seed(f"pillow-32{suffix}.tga", encode_pillow(im.convert("RGBA"), "TGA", **options), "depth"))
    p = ramp(256, 1)
    seeds.append(Seed("pillow-8-256x1-rle.tga", encode_pillow(pillow_image(256, 1, p, pal), "TGA",
                                                              compression="tga_rle"), "entry", bytes(p)))
    seeds.append(Seed("pillow-15x15.tga", encode_pillow(pillow_image(15, 15, ramp(15, 15), pal), "TGA"), "size"))

    for rle in (False, True):
        suffix = "-rle" if rle else ""
        options = ("-compress", "RLE") if rle else ("-compress", "None")
        data = tools.convert(run_im, "TGA", "-type", "palette", *options)
        seeds.append(Seed(f"magick-8{suffix}.tga", data, "entry", pillow_entry(data)))
        data = tools.convert(run_im, "TGA", "-colorspace", "gray", *options)
        seeds.append(Seed(f"magick-grey{suffix}.tga", data, "entry", pillow_entry(data)))
        seeds.append(Seed(f"magick-24{suffix}.tga", tools.convert(im, "TGA", "-type", "truecolor", *options),
                          "depth"))
        norle = () if rle else ("-norle",)
        data = tools.netpbm(run_im, "pamtotga", "-cmap", *norle)
        seeds.append(Seed(f"netpbm-cmap{suffix}.tga", data, "entry", pillow_entry(data)))
        # 15-bit map entries: the loader would read no map at all and take it
        # for pixels, so the tool hands it 24-bit entries.
        data = tools.netpbm(run_im, "pamtotga", "-cmap16", *norle)
        seeds.append(Seed(f"netpbm-cmap16{suffix}.tga", data, "entry", pillow_map_entry(data)))
        grey_im = pillow_image(16, 16, run_pic, grey()).convert("L")
        # 8-bit map entries, from a grey picture: the same for the loader.
        data = tools.run(["pamtotga", "-cmap", *norle], stdin=encode_pillow(grey_im, "PPM"))
        seeds.append(Seed(f"netpbm-cmap-grey{suffix}.tga", data, "entry", pillow_map_entry(data)))
        data = tools.run(["pamtotga", "-mono", *norle], stdin=encode_pillow(grey_im, "PPM"))
        seeds.append(Seed(f"netpbm-mono{suffix}.tga", data, "entry", pillow_entry(data)))
        seeds.append(Seed(f"netpbm-rgb{suffix}.tga", tools.netpbm(im, "pamtotga", "-rgb", *norle), "depth"))

    # 1-bit grey, which the loader refuses: lines packed 8 pixels to a byte,
    # first in the top bit, padded to whole bytes. Pillow's run-length lines
    # run on to `width` bytes, of which only the packed ones count.
    for w, h in ((16, 16), (1, 256), (32, 8)):
        bits = runs(w, h, 2)
        mono = Image.new("1", (w, h))
        mono.putdata([255 * v for v in bits])
        data = tools.run(["gm", "convert", "pbm:-", "tga:-"], stdin=encode_pillow(mono, "PPM"))
        seeds.append(Seed(f"gm-mono-{w}x{h}.tga", data, "entry", pillow_entry(data)))
        data = encode_pillow(mono, "TGA", orientation=1 if w == 32 else -1)
        seeds.append(Seed(f"pillow-1-{w}x{h}.tga", data, "entry", pillow_entry(data)))
        seeds.append(Seed(f"pillow-1-{w}x{h}-rle.tga", encode_pillow(mono, "TGA", compression="tga_rle"),
                          "entry", bytes(bits)))

    # Lines stored from the right (descriptor bit 4), which Pillow mirrors.
    for name, entry_of in (("pillow-8", pillow_entry), ("pillow-8-top-rle", pillow_entry),
                           ("pillow-grey-rle", pillow_entry), ("netpbm-cmap16-rle", pillow_map_entry),
                           ("gm-mono-32x8", pillow_entry), ("pillow-24", None), ("pillow-32-rle", None)):
        data = mirrored_tga(next(seed.data for seed in seeds if seed.name == name + ".tga"))
        seeds.append(Seed(f"{name}-rtl.tga", data, "entry" if entry_of else "depth",
                          entry_of(data) if entry_of else None))
    return seeds


# ---------------------------------------------------------------- LBM

def iff_chunk(data, wanted):
    at = 12
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "big")
        if chunk == wanted:
            return data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return None


def chunk(name, payload, pad=True):
    return name + struct.pack(">I", len(payload)) + payload + (b"\0" if pad and len(payload) % 2 else b"")


def byterun1(row):
    out = bytearray()
    x = 0
    while x < len(row):
        n = 1
        while x + n < len(row) and row[x + n] == row[x] and n < 128:
            n += 1
        if n > 1:
            out += bytes((257 - n, row[x]))
        else:
            n = 1
            while x + n < len(row) and n < 128 and row[x + n] != row[x + n - 1]:
                n += 1
            out += bytes((n - 1,)) + bytes(row[x:x + n])
        x += n
    return bytes(out)


def byterun1_noops(row):
    """ByteRun1 with a no-op (128) before every packet, which decoders must
    skip; none after the last, so the row ends where its last packet ends."""
    out = bytearray()
    packed = byterun1(row)
    at = 0
    while at < len(packed):
        code = packed[at]
        size = 1 + (code + 1 if code < 128 else 1)
        out += b"\x80" + packed[at:at + size]
        at += size
    return bytes(out)


def ilbm_rows(w, h, pic, planes):
    data_bytes = (w + 7) // 8
    row_bytes = data_bytes + (data_bytes & 1)
    rows = []
    for y in range(h):
        for plane in range(planes):
            bits = [(v >> plane) & 1 for v in pic[y * w:(y + 1) * w]] + [0] * (row_bytes * 8 - w)
            rows.append(bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8)))
    return rows


def even_body(packed):
    """The loader starts the next chunk where decoding stopped, without the
    pad byte, so a BODY that comes before the CMAP must have an even length:
    a leading no-op makes it so."""
    return b"\x80" + packed if len(packed) % 2 else packed


def lbm_file(kind, w, h, planes, compression, chunks, masking=0):
    bmhd = struct.pack(">HHhhBBBBHBBhh", w, h, 0, 0, planes, masking, compression, 0, 0, 10, 11, w, h)
    body = b"".join(chunks)
    return b"FORM" + struct.pack(">I", 4 + 28 + len(body)) + kind + chunk(b"BMHD", bmhd) + body


def hand_lbm():
    seeds = []
    pal = palette()
    cmap = chunk(b"CMAP", bytes(flat(pal)))
    for w, h in ((16, 16), (2, 128), (256, 1)):
        pic = runs(w, h)
        rows = [bytes(pic[y * w:(y + 1) * w]) for y in range(h)]
        seeds.append(Seed(f"hand-pbm-{w}x{h}.lbm", lbm_file(b"PBM ", w, h, 8, 0, [cmap, chunk(b"BODY", b"".join(rows))]),
                          "entry", bytes(pic)))
        seeds.append(Seed(f"hand-pbm-{w}x{h}-rle.lbm",
                          lbm_file(b"PBM ", w, h, 8, 1, [cmap, chunk(b"BODY", b"".join(map(byterun1_noops, rows)))]),
                          "entry", bytes(pic)))
    # The body before the map, a skipped odd-length chunk with its pad byte,
    # masking by transparent colour, and a chunk after both that the loader
    # never reaches.
    pic = runs(16, 16)
    body = chunk(b"BODY", even_body(b"".join(map(byterun1, ilbm_rows(16, 16, pic, 8)))))
    data = lbm_file(b"ILBM", 16, 16, 8, 1, [chunk(b"ANNO", b"odd"), body, chunk(b"CAMG", bytes(4)), cmap,
                                            chunk(b"TAIL", b"x" * 1000)], masking=2)
    seeds.append(Seed("hand-ilbm-order.lbm", data, "entry", bytes(pic)))
    # Two colours, one plane, one pad byte per plane row.
    pic = [(x + y) % 3 // 2 for y in range(32) for x in range(8)]
    data = lbm_file(b"ILBM", 8, 32, 1, 0, [chunk(b"CMAP", bytes(6)), chunk(b"BODY", b"".join(ilbm_rows(8, 32, pic, 1)))])
    seeds.append(Seed("hand-ilbm-1plane.lbm", data, "entry", bytes(pic)))
    # A map of five colours (15 bytes, odd) after the body: nothing follows
    # that the loader would read out of step.
    pic = [v % 5 for v in ramp(16, 16)]
    data = lbm_file(b"ILBM", 16, 16, 3, 1, [chunk(b"BODY", even_body(b"".join(map(byterun1, ilbm_rows(16, 16, pic, 3))))),
                                            chunk(b"CMAP", bytes(15))])
    seeds.append(Seed("hand-ilbm-odd-map-last.lbm", data, "entry", bytes(pic)))
    # What Deluxe Paint writes: a brush with a mask plane after each row's
    # colour planes, an odd-width PBM with rows padded to even length, an
    # Extra Half-Brite picture, and an odd BODY before an odd map, each
    # followed by its pad byte.
    pic = runs(16, 16)
    masked = []
    for y in range(16):
        masked += ilbm_rows(16, 16, pic, 8)[8 * y:8 * y + 8] + [b"\xff\xff"]
    seeds.append(Seed("hand-ilbm-mask-plane.lbm", lbm_file(b"ILBM", 16, 16, 8, 1, [
        cmap, chunk(b"BODY", b"".join(map(byterun1, masked)))], masking=1), "entry", bytes(pic)))
    pic = runs(1, 256)
    seeds.append(Seed("hand-pbm-1x256-odd.lbm", lbm_file(b"PBM ", 1, 256, 8, 0, [
        cmap, chunk(b"BODY", b"".join(bytes([v, 0xEE]) for v in pic))]), "entry", bytes(pic)))
    pic = [v % 64 for v in ramp(16, 16)]
    seeds.append(Seed("hand-ilbm-half-brite.lbm", lbm_file(b"ILBM", 16, 16, 6, 0, [
        chunk(b"CAMG", b"\0\0\0\x80"), chunk(b"CMAP", bytes(96)),
        chunk(b"BODY", b"".join(ilbm_rows(16, 16, pic, 6)))]), "entry", bytes(pic)))
    pic = runs(16, 16)
    packed = b"".join(map(byterun1, [bytes(pic[y * 16:(y + 1) * 16]) for y in range(16)]))
    packed = packed if len(packed) % 2 else b"\x80" + packed
    seeds.append(Seed("hand-pbm-odd-chunks.lbm", lbm_file(b"PBM ", 16, 16, 8, 1, [
        chunk(b"ANNO", b"odd"), chunk(b"BODY", packed), chunk(b"CMAP", bytes(15))]),
        "entry", bytes(pic)))
    # Hold-and-modify codes are no indices.
    seeds.append(Seed("hand-ilbm-ham.lbm", lbm_file(b"ILBM", 16, 16, 6, 0, [
        chunk(b"CAMG", b"\0\0\x08\0"), chunk(b"CMAP", bytes(48)),
        chunk(b"BODY", b"".join(ilbm_rows(16, 16, [v % 64 for v in ramp(16, 16)], 6)))]),
        "refused"))
    seeds.append(Seed("hand-ilbm-15x15.lbm", lbm_file(b"ILBM", 15, 15, 8, 0, [cmap, chunk(
        b"BODY", b"".join(ilbm_rows(15, 15, ramp(15, 15), 8)))]), "size"))
    return seeds


def encoder_lbm(tools):
    seeds = []
    pal = palette()
    for w, h in ((16, 16), (8, 32), (4, 64), (1, 256), (256, 1), (32, 8), (12, 21)):
        pic = runs(w, h) if w * h == 256 else ramp(w, h)
        expect = "entry" if w * h == 256 else "size"
        entry = bytes(pic) if expect == "entry" else None
        for option in ("-nocompress", "-compress"):
            suffix = "" if option == "-nocompress" else "-rle"
            data = tools.ppmtoilbm(w, h, pic, pal, option)
            seeds.append(Seed(f"netpbm-{w}x{h}{suffix}.lbm", data, expect, entry))
    pal16 = palette(16)
    pic = runs(16, 16, 16)
    seeds.append(Seed("netpbm-16-colours.lbm", tools.ppmtoilbm(16, 16, pic, pal16, "-compress"), "entry",
                      bytes(pic)))
    # A CMAP of 3 colours, 9 bytes and a pad byte, before the BODY: the loader
    # would take the pad byte for the start of the next chunk, so the tool
    # hands it a CMAP of even length.
    pic = [v % 3 for v in ramp(16, 16)]
    seeds.append(Seed("netpbm-3-colours.lbm", tools.ppmtoilbm(16, 16, pic, palette(3), "-compress"), "entry",
                      bytes(pic)))
    return seeds


# ---------------------------------------------------------------- main

HAND = {"bmp": hand_bmp, "pcx": hand_pcx, "tga": hand_tga, "lbm": hand_lbm}
ENCODERS = {"bmp": encoder_bmp, "pcx": encoder_pcx, "tga": encoder_tga, "lbm": encoder_lbm}


def make_seeds(workdir, formats=("bmp", "lbm", "pcx", "tga")):
    tools = Tools(workdir)
    seeds = []
    for fmt in formats:
        seeds += ENCODERS[fmt](tools)
        hand = HAND[fmt]()
        for seed in hand:
            # Guards the hand-made packing with an independent decoder.
            if seed.expect == "entry" and fmt != "lbm" and seed.pillow_reads_it and \
                    pillow_entry(seed.data) != seed.entry:
                sys.exit(f"{seed.name}: Pillow decodes it differently")
        seeds += hand
    return seeds


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--format"):
        sys.exit(__doc__)
    outdir = pathlib.Path(argv[1])
    formats = (argv[3],) if len(argv) == 4 else ("bmp", "lbm", "pcx", "tga")
    seeds = make_seeds(outdir, formats)
    manifest = []
    for seed in seeds:
        (outdir / seed.name).write_bytes(seed.data)
        manifest.append({"file": seed.name, "kind": "seed", "expect": seed.expect,
                         "entry": seed.entry.hex() if seed.entry is not None else None})
    (outdir / "manifest.json").write_text(json.dumps(manifest, indent=0))
    # The same list for the C++ unit tests: one "file<TAB>expect" per line.
    (outdir / "manifest.tsv").write_text("".join(f"{s.name}\t{s.expect}\n" for s in seeds))


if __name__ == "__main__":
    main(sys.argv)
