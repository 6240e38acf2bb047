#!/usr/bin/python3
"""Writes a picture as a colour-mapped TGA with a map no common encoder
writes headless: GIMP's indexed export with transparency (257 entries of 32
bits), maps that start above entry 0, or maps that lack a colour.

Usage: write_mapped_tga.py IN OUT BITS FIRST ENTRIES [rle]
IN is any picture Pillow reads. The map holds the picture's colours in an
order unlike the picture's, then filler entries, from index FIRST; ENTRIES
(the header's map length) may be fewer than the colours, which leaves the
last colours' pixels pointing past the map. BITS is 15 or 32. Lines are
stored bottom-up, raw or, with "rle", as run-length packets that end with
their line.
"""

import pathlib
import struct
import sys

from PIL import Image

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "malformed"))
import seeds  # noqa: E402


def entry(rgb, bits):
    r, g, b = rgb
    if bits == 15:
        return struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
    return bytes((b, g, r, 255))


def rle_line(line):
    return seeds.tga_rle_line([line[x:x + 1] for x in range(len(line))])


def main(argv):
    if len(argv) not in (6, 7) or argv[3] not in ("15", "32") or argv[6:] not in ([], ["rle"]):
        sys.exit(__doc__)
    picture = Image.open(argv[1]).convert("RGB")
    bits, first, entries, rle = int(argv[3]), int(argv[4]), int(argv[5]), len(argv) == 7
    w, h = picture.size
    pixels = list(picture.getdata())
    colours = sorted(set(pixels), reverse=True)
    index = {rgb: first + i for i, rgb in enumerate(colours)}
    if max(index.values()) > 255:
        sys.exit("indices do not fit 8 bits")
    filler = (1, 2, 3)  # no picture's colour: the tests' colours have the low bits 0x10 or 0x20
    colour_map = b"".join(entry(colours[i] if i < len(colours) else filler, bits) for i in range(entries))
    header = struct.pack("<BBBHHBHHHHBB", 0, 1, 9 if rle else 1, first, entries, bits, 0, 0, w, h, 8,
                         8 if bits == 32 else 0)
    lines = [bytes(index[rgb] for rgb in pixels[y * w:(y + 1) * w]) for y in reversed(range(h))]
    body = b"".join(rle_line(line) if rle else line for line in lines)
    with open(argv[2], "wb") as out:
        out.write(header + colour_map + body)


if __name__ == "__main__":
    main(sys.argv)
