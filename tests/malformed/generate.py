#!/usr/bin/python3
"""Writes a deterministic corpus of malformed BMP, PCX, TGA and LBM files.

Starting from the well-formed seeds of seeds.py it makes:
  truncated  cuts before the last byte the loader reads (every offset of the
             headers, a spread through the data, the last few bytes);
  trailing   cuts after that byte (PCX palette, TGA footer, later chunks),
             which must not change the outcome;
  mutated    header fields set to boundary values, oversized dimensions,
             colour maps and chunk lengths, random bytes in the headers and in
             the run-length data, chunks added, repeated or reordered, and
             files under another format's extension.
Every file is listed in manifest.json with what the tool must do with it (see
replay.py). The same command always writes the same files.

Usage: generate.py OUTDIR          (OUTDIR must exist and should be empty)
       generate.py --fuzz-corpus DIR [--with-malformed]
                                   writes the fuzzer's seed corpus
"""

import json
import pathlib
import random
import shutil
import struct
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import seeds as seed_maker  # noqa: E402

# The harness reads its first byte as the format; see fuzz/image_entry_fuzz.cc.
FUZZ_SELECTOR = {"bmp": 0, "lbm": 1, "pcx": 2, "tga": 3}

BYTE_VALUES = [0, 1, 2, 3, 4, 7, 8, 9, 10, 11, 12, 15, 16, 17, 24, 31, 32, 33, 0x3F, 0x7F, 0x80, 0xC0, 0xC1, 0xFE,
               0xFF]
WORD_VALUES = [0, 1, 2, 15, 16, 17, 255, 256, 257, 0x7FFF, 0x8000, 0xFFF0, 0xFFFE, 0xFFFF]
LONG_VALUES = [0, 1, 2, 12, 13, 14, 26, 40, 53, 54, 55, 66, 108, 124, 0x100, 0x10000, 1 << 24, (1 << 24) + 1,
               0x40000000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFE, 0xFFFFFFFF]


def fmt_of(name):
    return name.rsplit(".", 1)[1]


# ------------------------------------------------------------ where data ends

def bmp_rle_end(data, start, height, rle4):
    at, y = start, height - 1
    while True:
        count, value = data[at], data[at + 1]
        at += 2
        if count:
            continue
        if value == 0:
            if y == 0:
                return at
            y -= 1
        elif value == 1:
            return at
        elif value == 2:
            y -= data[at + 1]
            at += 2
        else:
            at += 2 * ((value + 3) // 4) if rle4 else value + (value & 1)


def loader_end(name, data):
    """The offset just past the last byte the library's loader reads from
    this well-formed file."""
    fmt = fmt_of(name)
    if fmt == "bmp":
        header_size = struct.unpack_from("<I", data, 14)[0]
        if header_size in (40, 108, 124):
            height, compression = struct.unpack_from("<i", data, 22)[0], struct.unpack_from("<I", data, 30)[0]
            if compression in (1, 2):
                # The picture ends with its last row, end-of-picture mark or not.
                return bmp_rle_end(data, struct.unpack_from("<I", data, 10)[0], height, compression == 2)
        return len(data)
    if fmt == "pcx":
        if data[65] == 1 and len(data) >= 128 + 769 and data[-769] == 0x0C:
            return len(data) - 769
        return len(data)
    if fmt == "tga":
        return len(data) - 26 if data.endswith(b"TRUEVISION-XFILE.\0") else len(data)
    # The picture ends with its first BODY; nothing after it is read.
    at = 12
    while data[at:at + 4] != b"BODY":
        size = struct.unpack_from(">I", data, at + 4)[0]
        at += 8 + size + (size & 1)
    return at + 8 + struct.unpack_from(">I", data, at + 4)[0]


def size_header_end(name, data):
    """The first bytes that hold the image's size: a cut before them is
    refused, a cut after them still reports a wrong size."""
    fmt = fmt_of(name)
    if fmt == "bmp":
        return 14 + struct.unpack_from("<I", data, 14)[0]
    return {"pcx": 128, "tga": 18, "lbm": 40}[fmt]


def header_end(name, data):
    fmt = fmt_of(name)
    if fmt == "bmp":
        return min(14 + struct.unpack_from("<I", data, 14)[0] + 12, len(data))
    if fmt == "pcx":
        return 128
    if fmt == "tga":
        return 18 + data[0] + 8
    return 48


# ------------------------------------------------------------ field tables

def fields(name, data):
    """(offset, size, byte order) of every header field worth mutating."""
    fmt = fmt_of(name)
    if fmt == "bmp":
        common = [(2, 4, "<"), (10, 4, "<"), (14, 4, "<")]
        if struct.unpack_from("<I", data, 14)[0] == 12:
            return common + [(18, 2, "<"), (20, 2, "<"), (22, 2, "<"), (24, 2, "<")]
        table = common + [(18, 4, "<"), (22, 4, "<"), (26, 2, "<"), (28, 2, "<"), (30, 4, "<"), (46, 4, "<")]
        if struct.unpack_from("<I", data, 30)[0] == 3:
            table += [(54, 4, "<"), (58, 4, "<"), (62, 4, "<")]
        return table
    if fmt == "pcx":
        return [(0, 1, "<"), (1, 1, "<"), (2, 1, "<"), (3, 1, "<"), (4, 2, "<"), (6, 2, "<"), (8, 2, "<"),
                (10, 2, "<"), (65, 1, "<"), (66, 2, "<")]
    if fmt == "tga":
        return [(0, 1, "<"), (1, 1, "<"), (2, 1, "<"), (3, 2, "<"), (5, 2, "<"), (7, 1, "<"), (12, 2, "<"),
                (14, 2, "<"), (16, 1, "<"), (17, 1, "<")]
    return [(4, 4, ">"), (16, 4, ">"), (20, 2, ">"), (22, 2, ">"), (28, 1, ">"), (29, 1, ">"), (30, 1, ">")]


def put(data, offset, size, order, value):
    out = bytearray(data)
    code = {1: "B", 2: "H", 4: "I"}[size]
    struct.pack_into(order + code, out, offset, value % (1 << (8 * size)))
    return bytes(out)


def get(data, offset, size, order):
    return struct.unpack_from(order + {1: "B", 2: "H", 4: "I"}[size], data, offset)[0]


def values_for(size, original, length):
    base = {1: BYTE_VALUES, 2: WORD_VALUES, 4: LONG_VALUES}[size]
    near = [original - 1, original + 1, original * 2, original ^ (0x80 << (8 * (size - 1))), original + length]
    return base + [v for v in near if v >= 0]


def lbm_chunks(data):
    at, out = 12, []
    while at + 8 <= len(data):
        size = struct.unpack_from(">I", data, at + 4)[0]
        out.append((at, data[at:at + 4], size))
        at += 8 + size + (size & 1)
    return out


# ------------------------------------------------------------ the corpus

class Corpus:
    def __init__(self, outdir):
        self.outdir = outdir
        self.records = []
        self.names = set()

    def add(self, name, data, kind, expect, entry=None, seed=None, detail=""):
        assert name not in self.names, name
        self.names.add(name)
        (self.outdir / name).write_bytes(data)
        self.records.append({"file": name, "kind": kind, "expect": expect, "entry": entry, "seed": seed,
                             "detail": detail})


# Seeds that get every header cut and every boundary value of every field;
# the others get a deterministic sample, which keeps the corpus quick to run.
THOROUGH = {"pillow-8.bmp", "magick-rle8.bmp", "pillow-8.pcx", "pillow-8-rle.tga", "hand-map16.tga",
            "netpbm-16x16-rle.lbm", "hand-pbm-16x16-rle.lbm"}


def mutate(corpus, seed, rng):
    name, data, fmt = seed.name, seed.data, fmt_of(seed.name)
    stem = name.rsplit(".", 1)[0]
    thorough = name in THOROUGH
    count = [0]

    def add(mutated, detail, ext=fmt):
        if mutated == data:
            return
        count[0] += 1
        corpus.add(f"{stem}.m{count[0]}.{ext}", mutated, "mutated", "any", seed=name, detail=detail)

    def some(values, k):
        values = list(values)
        return values if thorough else rng.sample(values, min(k, len(values)))

    # Header fields at boundary values.
    for offset, size, order in fields(name, data):
        if offset + size > len(data):
            continue
        original = get(data, offset, size, order)
        for value in some(values_for(size, original, len(data)), 1):
            add(put(data, offset, size, order, value), f"field {offset} = {value:#x}")

    # Both dimensions at once: oversized, zero, negative and wrapping sizes.
    dims = {"bmp": (18, 22, 4, "<"), "pcx": (8, 10, 2, "<"), "tga": (12, 14, 2, "<"), "lbm": (20, 22, 2, ">")}[fmt]
    if fmt == "bmp" and get(data, 14, 4, "<") == 12:
        dims = (18, 20, 2, "<")
    w_at, h_at, size, order = dims
    big = [0, 0xFFFF, 0x8000, 0x1001] if size == 2 else [0, 0xFFFFFFF0, 0x10000, 0x40000000, 0x1001]
    for value in some(big, 2):
        add(put(put(data, w_at, size, order, value), h_at, size, order, value), f"both dimensions = {value:#x}")
    if fmt == "pcx":
        for x_min, x_max in some(((16, 0), (0xFFF0, 0xFFFF), (1, 0xFFFF)), 1):
            add(put(put(data, 4, 2, "<", x_min), 8, 2, "<", x_max), f"x window {x_min:#x}..{x_max:#x}")
            add(put(put(data, 6, 2, "<", x_min), 10, 2, "<", x_max), f"y window {x_min:#x}..{x_max:#x}")

    # Random bytes: in the headers, and in the (run-length) data.
    head = header_end(name, data)
    end = data_end(seed)
    for _ in range(12 if thorough else 2):
        at = rng.randrange(min(head, len(data)))
        add(data[:at] + bytes((rng.choice([0, 0xFF, rng.randrange(256), data[at] ^ (1 << rng.randrange(8))]),))
            + data[at + 1:], f"byte {at}")
    for _ in range(24 if thorough else 3 if seed.expect == "entry" else 1):
        if end <= head:
            break
        at = rng.randrange(head, end)
        value = rng.choice([0, 1, 2, 0x7F, 0x80, 0x81, 0xC0, 0xFF, rng.randrange(256)])
        add(data[:at] + bytes((value,)) + data[at + 1:], f"data byte {at} = {value:#x}")

    # Formats' own structures.
    if fmt == "tga" and data[1] == 1:
        maps = ((257, 24), (0x1000, 24), (0xFFFF, 16), (256, 15), (256, 8), (300, 32), (0, 24))
        for length, bits in some(maps, 2):
            add(put(put(data, 5, 2, "<", length), 7, 1, "<", bits), f"colour map {length} x {bits} bits")
        add(put(data, 2, 1, "<", data[2] | 0x10), "image type with bit 4")
    if fmt == "tga":
        for descriptor in some((0x10, 0x40, 0x80, 0x2F), 1):
            add(put(data, 17, 1, "<", descriptor), f"descriptor {descriptor:#x}")
    if fmt == "lbm":
        chunks = lbm_chunks(data)
        for at, chunk_id, length in chunks[1:]:
            lengths = [0, 1, 3, 5, 766, 767, 768, 769, 771, length - 1, length + 1, 0x10000, 0x7FFFFFFF,
                       0xFFFFFFFE, 0xFFFFFFFF]
            for value in some(lengths, 2):
                add(put(data, at + 4, 4, ">", max(value, 0)), f"{chunk_id.decode()} length {value:#x}")
            for other in some((b"BODY", b"CMAP", b"XXXX"), 1):
                if other != chunk_id:
                    add(data[:at] + other + data[at + 4:], f"{chunk_id.decode()} renamed {other.decode()}")
        first = chunks[1][0]
        for length in some((0, 1, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF), 1):
            add(data[:first] + b"JUNK" + struct.pack(">I", length) + data[first:], f"chunk of length {length:#x}")
        body = [c for c in chunks if c[1] == b"BODY"]
        if body and (thorough or rng.random() < 0.3):
            at, _, length = body[0]
            whole = data[at:at + 8 + length + (length & 1)]
            add(data[:at] + whole + data[at:], "body twice")
            add(data[:first] + b"CMAP" + struct.pack(">I", 9) + bytes(10) + data[first:], "odd map first")
    if fmt == "bmp" and get(data, 14, 4, "<") == 40 and get(data, 30, 4, "<") in (1, 2):
        start = get(data, 10, 4, "<")
        for code in some((b"\0\2\xff\0", b"\0\2\0\xff", b"\xff\x01", b"\0\xff", b"\0\x03"), 2):
            at = rng.randrange(start, end - 1)
            add(data[:at] + code + data[at + len(code):], f"rle code {code.hex()} at {at}")

    # Under another format's name.
    if thorough or rng.random() < 0.3:
        add(data, "under another name", ext=rng.choice([f for f in ("bmp", "lbm", "pcx", "tga") if f != fmt]))


def data_end(seed):
    # A file the loader cannot read has no end of data; every cut is refused.
    return len(seed.data) if seed.expect == "refused" else loader_end(seed.name, seed.data)


def truncate(corpus, seed, rng):
    name, data = seed.name, seed.data
    stem, ext = name.rsplit(".", 1)
    end = data_end(seed)
    head = min(header_end(name, data), end)
    if name in THOROUGH:
        cuts = set(range(head)) | {head + (end - head) * i // 24 for i in range(24)}
        if fmt_of(name) == "lbm":
            for at, _, _ in lbm_chunks(data):
                cuts |= set(range(at, at + 9))
    else:
        cuts = set(rng.sample(range(head), min(8, head))) | {head + (end - head) * i // 6 for i in range(6)}
    cuts |= {end - 1, end - 2}
    for cut in sorted(c for c in cuts if 0 <= c < end):
        expect = "size" if seed.expect == "size" and cut >= size_header_end(name, data) else "refused"
        corpus.add(f"{stem}.t{cut}.{ext}", data[:cut], "truncated", expect, seed=name, detail=f"cut at {cut}")
    for cut in sorted({end, (end + len(data)) // 2, len(data) - 1}):
        if end <= cut < len(data):
            corpus.add(f"{stem}.c{cut}.{ext}", data[:cut], "trailing", "seed", seed=name, detail=f"cut at {cut}")


def write_corpus(outdir):
    seeds = seed_maker.make_seeds(outdir)
    corpus = Corpus(outdir)
    rng = random.Random(20240229)
    for seed in seeds:
        corpus.add(seed.name, seed.data, "seed", seed.expect, entry=seed.entry.hex() if seed.entry else None)
    for seed in seeds:
        truncate(corpus, seed, rng)
        mutate(corpus, seed, rng)
    (outdir / "manifest.json").write_text(json.dumps(corpus.records, indent=0))
    print(f"{len(corpus.records)} files in {outdir}")


def sparse_seeds():
    """Files that are large only through a hole of zeros, which the harness
    makes: (format, hole kind, offset of the hole, bytes). Kinds 1, 2 and 3
    are holes of 64 KiB, 1 MiB and 1 GiB."""
    palette = b"".join(struct.pack("<I", i * 0x010101) for i in range(256))

    def bmp(offset, pixels, compression=0):
        info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 8, compression, len(pixels), 0, 0, 256, 0)
        return b"BM" + struct.pack("<IHHI", 0, 0, 0, offset) + info + palette + pixels

    def chunk(name, payload):
        return name + struct.pack(">I", len(payload)) + payload + b"\0" * (len(payload) & 1)

    bmhd = chunk(b"BMHD", struct.pack(">HHhhBBBBHBBhh", 16, 16, 0, 0, 8, 0, 0, 0, 0, 1, 1, 16, 16))
    body = chunk(b"BODY", bytes(range(256)))
    cmap = chunk(b"CMAP", bytes(768))
    junk = b"JUNK" + struct.pack(">I", 1 << 30)
    lbm = b"FORM" + struct.pack(">I", 0) + b"PBM " + bmhd + cmap + junk + body
    # A header past the first MiB that decides the size, across a chunk of
    # 1 MiB; and one past 1 GiB of empty chunks (the hole's zeros).
    wide = chunk(b"BMHD", struct.pack(">HHhhBBBBHBBhh", 20, 30, 0, 0, 8, 0, 0, 0, 0, 1, 1, 20, 30))
    far = (b"FORM" + struct.pack(">I", 0x7FFFFFFF) + b"PBM " + bmhd + b"JUNK"
           + struct.pack(">I", 1 << 20) + wide + body)
    empty = b"FORM" + struct.pack(">I", 0x7FFFFFFF) + b"PBM " + bmhd + wide + body
    pcx_header = bytearray(128)
    pcx_header[0:4] = b"\x0a\x05\x01\x08"
    pcx_header[8:12] = struct.pack("<HH", 15, 15)
    pcx_header[65:68] = b"\x01\x10\x00"
    return [
        # Pixels 1 GiB (and 1 MiB) past the palette, as the data offset says.
        ("bmp", 3, 1078, bmp(1078 + (1 << 30), bytes(256))),
        ("bmp", 2, 1078, bmp(1078 + (1 << 20), bytes(256))),
        # A 256-pixel image followed by 64 KiB and 1 GiB of zeros: loads.
        ("bmp", 1, 1078 + 256, bmp(1078, bytes(256))),
        ("bmp", 3, 1078 + 256, bmp(1078, bytes(256))),
        # A 1 GiB chunk before the body.
        ("lbm", 3, len(lbm) - len(body), lbm),
        ("lbm", 2, len(far) - len(wide + body), far),
        ("lbm", 3, len(empty) - len(wide + body), empty),
        # Null runs and deltas that go on for the length of the hole.
        ("pcx", 2, 128, bytes(pcx_header) + b"\xc0\x00" * 64),
        ("bmp", 2, 1078, bmp(1078, b"\x00\x02\x00\x00" * 64, compression=1)),
    ]


def write_fuzz_corpus(outdir, with_malformed=False):
    """One small seed per variant, with the harness's format byte first; with
    `with_malformed`, also every small file of the malformed corpus and the
    sparse seeds."""
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="mkcolormap-fuzz-seeds-"))
    try:
        seeds = seed_maker.make_seeds(scratch)
        files = [(seed.name, seed.data) for seed in seeds]
        if with_malformed:
            corpus = Corpus(scratch)
            rng = random.Random(20240229)
            for seed in seeds:
                truncate(corpus, seed, rng)
                mutate(corpus, seed, rng)
            files += [(r["file"], (scratch / r["file"]).read_bytes()) for r in corpus.records]
    finally:
        shutil.rmtree(scratch)
    kept = 0
    for name, data in files:
        if len(data) <= (8192 if with_malformed else 2048) - 1:
            (outdir / name.replace(".", "-")).write_bytes(bytes((FUZZ_SELECTOR[fmt_of(name)],)) + data)
            kept += 1
    if with_malformed:
        for i, (fmt, hole, at, data) in enumerate(sparse_seeds()):
            selector = FUZZ_SELECTOR[fmt] | hole << 2
            (outdir / f"sparse-{i}-{fmt}").write_bytes(bytes((selector,)) + struct.pack("<H", at) + data)
            kept += 1
    print(f"{kept} seeds in {outdir}")


def main(argv):
    if len(argv) == 2:
        write_corpus(pathlib.Path(argv[1]))
    elif len(argv) in (3, 4) and argv[1] == "--fuzz-corpus" and argv[3:] in ([], ["--with-malformed"]):
        write_fuzz_corpus(pathlib.Path(argv[2]), with_malformed=len(argv) == 4)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
