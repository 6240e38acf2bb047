#!/usr/bin/python3
"""Writes the example inputs, maps.ini and colormap.expected into this folder.

Needs Pillow (Debian: python3-pil) for BMP, PCX and TGA, and netpbm's
ppmtoilbm for the LBM. Run it from anywhere:

    /usr/bin/python3 examples/make_examples.py

colormap.expected is built from the index patterns below, not by the tool,
so comparing the tool's colormap.bin with it checks the tool.
"""

import io
import pathlib
import subprocess
import sys

from PIL import Image

HERE = pathlib.Path(__file__).resolve().parent


# Palettes only make the pictures pleasant to look at; the tool ignores them.
# Each one has a distinct red value per entry, so every entry is a distinct
# colour, which ppmtoilbm needs to map pixels back to the same indices.
def fire_palette():
    return [(k, k * k // 255, k ** 3 // 65025) for k in range(256)]


def grey_palette():
    return [(k, k, k) for k in range(256)]


def sea_palette():
    return [(k, 64 + k * 3 // 4, 255 - k // 4) for k in range(256)]


def dusk_palette():
    return [(k, k // 3, 160 - k * 5 // 8) for k in range(256)]


# Index patterns: the value of each pixel, line by line from the top-left.
def top_down_ramp(w, h):
    # 16x16: 0..255 in reading order, a smooth vertical gradient.
    return [y * w + x for y in range(h) for x in range(w)]


def column_ramp(w, h):
    # 32x8: each column holds 8 consecutive indices, a left-to-right gradient.
    return [x * h + y for y in range(h) for x in range(w)]


def falling_ramp(w, h):
    # 256x1: 255 down to 0.
    return [255 - (y * w + x) for y in range(h) for x in range(w)]


def rings(w, h):
    # 16x16: concentric squares, brightest in the middle.
    out = []
    for y in range(h):
        for x in range(w):
            ring = min(x, y, w - 1 - x, h - 1 - y)  # 0 at the border, 7 inside
            out.append(ring * 32 + (x + y) % 32)
    return out


def flat(palette):
    return [c for rgb in palette for c in rgb]


def save_pillow(name, w, h, indices, palette, **options):
    image = Image.new("P", (w, h))
    image.putpalette(flat(palette))
    image.putdata(indices)
    image.save(HERE / name, **options)


def save_lbm(name, w, h, indices, palette):
    # ppmtoilbm -map writes the map's colours as the CMAP in the map's order,
    # so a pixel of colour palette[i] is stored as index i.
    colour_map = Image.new("RGB", (256, 1))
    colour_map.putdata(palette)
    picture = Image.new("RGB", (w, h))
    picture.putdata([palette[i] for i in indices])
    map_path = HERE / ".map.ppm"
    colour_map.save(map_path)
    try:
        ppm = io.BytesIO()
        picture.save(ppm, format="PPM")
        result = subprocess.run(
            ["ppmtoilbm", "-maxplanes", "8", "-map", str(map_path)],
            input=ppm.getvalue(), capture_output=True, check=True)
    finally:
        map_path.unlink()
    check_lbm_cmap(name, result.stdout, palette)
    (HERE / name).write_bytes(result.stdout)


def check_lbm_cmap(name, data, palette):
    # Guards the assumption above: the CMAP must be the palette, in order.
    at = 12
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "big")
        if chunk == b"CMAP":
            cmap = data[at + 8:at + 8 + size]
            if list(cmap) != flat(palette):
                sys.exit(f"{name}: ppmtoilbm reordered the colour map")
            return
        at += 8 + size + (size & 1)
    sys.exit(f"{name}: no CMAP chunk")


def main():
    # A raw table of 0..31: holds 0, 10, 13 and 26, which a text-mode copy
    # would alter.
    table = bytes(range(32))
    entries = [
        # (file, width, height, indices, palette); a .bin has raw bytes only
        ("gradient.bmp", 16, 16, top_down_ramp(16, 16), fire_palette()),
        ("columns.pcx", 32, 8, column_ramp(32, 8), sea_palette()),
        ("falling.tga", 256, 1, falling_ramp(256, 1), grey_palette()),
        ("table.bin", None, None, table, None),
        ("rings.lbm", 16, 16, rings(16, 16), dusk_palette()),
        ("rising.lbm", 1, 256, top_down_ramp(1, 256), fire_palette()),
    ]

    expected = bytearray()
    for name, w, h, content, palette in entries:
        if name.endswith(".bin"):
            (HERE / name).write_bytes(content)
        elif name.endswith(".lbm"):
            save_lbm(name, w, h, content, palette)
        else:
            save_pillow(name, w, h, content, palette)
        expected += bytes(content)

    names = [entry[0] for entry in entries]
    rows = [
        "# mkcolormap example: " + " ".join(names),
        "# Each image adds its 256 palette indices; table.bin is copied as it is.",
        *names[:3],
        "",
        *names[3:],
    ]
    (HERE / "maps.ini").write_text("\n".join(rows) + "\n", encoding="ascii")
    (HERE / "colormap.expected").write_bytes(bytes(expected))


if __name__ == "__main__":
    main()
