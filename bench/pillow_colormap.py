#!/usr/bin/python3
"""The image half of mkcolormap's job done the simplest way, with Pillow.

bench/run times it as a baseline: for every path in LIST (blank rows and rows
starting with '#' are skipped) it opens the image, checks that it is paletted
and has 256 pixels, and appends its palette indices, row by row from the
top-left corner, to OUTPUT.

Pillow has no reader for IFF ILBM (.lbm) files, so those are decoded here in
plain Python (BMHD, CMAP and BODY chunks, ByteRun1 or no compression, ILBM
bit planes or PBM chunky pixels, no mask plane), and the result is handed to
Pillow as a paletted image so that the same checks and the same tobytes()
apply to every format. Nothing is cached between rows.

Usage: pillow_colormap.py LIST OUTPUT
"""
import struct
import sys

from PIL import Image


class BadImage(Exception):
    pass


def _unpack_byterun1(data, pos, size):
    """Decodes `size` bytes of ByteRun1 starting at data[pos]; returns (bytes, new pos)."""
    out = bytearray()
    while len(out) < size:
        if pos >= len(data):
            raise BadImage("BODY ends early")
        n = data[pos]
        pos += 1
        if n < 128:
            out += data[pos:pos + n + 1]
            pos += n + 1
        elif n > 128:
            out += bytes([data[pos]]) * (257 - n)
            pos += 1
    if len(out) != size:
        raise BadImage("a ByteRun1 run crosses a row")
    return bytes(out), pos


def _read_row(body, pos, size, compressed):
    if compressed:
        return _unpack_byterun1(body, pos, size)
    if pos + size > len(body):
        raise BadImage("BODY ends early")
    return body[pos:pos + size], pos + size


def open_ilbm(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 12 or data[0:4] != b"FORM" or data[8:12] not in (b"ILBM", b"PBM "):
        raise BadImage("not an IFF ILBM or PBM file")
    chunky = data[8:12] == b"PBM "
    chunks = {}
    pos = 12
    while pos + 8 <= len(data):
        name = data[pos:pos + 4]
        (length,) = struct.unpack(">I", data[pos + 4:pos + 8])
        chunks.setdefault(name, data[pos + 8:pos + 8 + length])
        pos += 8 + length + (length & 1)  # chunks are padded to an even length
    for name in (b"BMHD", b"CMAP", b"BODY"):
        if name not in chunks:
            raise BadImage("no %s chunk" % name.decode())
    if len(chunks[b"BMHD"]) != 20:
        raise BadImage("BMHD is not 20 bytes")
    w, h, _, _, planes, masking, compression = struct.unpack(">HHhhBBB", chunks[b"BMHD"][:11])
    if planes > 8 or masking == 1 or compression not in (0, 1):
        raise BadImage("unsupported BMHD")
    body = chunks[b"BODY"]
    pixels = bytearray(w * h)
    pos = 0
    if chunky:
        stride = w + (w & 1)
        for y in range(h):
            row, pos = _read_row(body, pos, stride, compression)
            pixels[y * w:(y + 1) * w] = row[:w]
    else:
        stride = (w + 15) // 16 * 2
        for y in range(h):
            base = y * w
            for plane in range(planes):
                row, pos = _read_row(body, pos, stride, compression)
                bits = int.from_bytes(row, "big")
                shift = stride * 8 - 1
                bit = 1 << plane
                for x in range(w):
                    if (bits >> (shift - x)) & 1:
                        pixels[base + x] |= bit
    image = Image.frombytes("P", (w, h), bytes(pixels))
    palette = chunks[b"CMAP"][:768]
    image.putpalette(palette + bytes(768 - len(palette)))
    return image


def open_image(path):
    if path.lower().endswith(".lbm"):
        return open_ilbm(path)
    return Image.open(path)


def main(argv):
    if len(argv) != 3:
        print("usage: pillow_colormap.py LIST OUTPUT", file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8", newline="") as rows, open(argv[2], "wb") as out:
        for row in rows:
            path = row.rstrip("\r\n")
            if not path or path.startswith("#"):
                continue
            try:
                with open_image(path) as image:
                    if image.mode != "P" or image.width * image.height != 256:
                        raise BadImage("%s, %dx%d" % (image.mode, image.width, image.height))
                    out.write(image.tobytes())
            except (OSError, BadImage) as error:
                print("ERROR. %s: %s" % (path, error), file=sys.stderr)
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
