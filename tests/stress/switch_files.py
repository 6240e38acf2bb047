#!/usr/bin/python3
"""Runs the tool again and again on a path whose file changes under it.

A thread keeps switching a symbolic link between a good image and a malformed
one (os.replace of a fresh link, so the path always names one whole file),
while the tool runs on a one-row INI file that names the link. The tool may
see either file, or the link changing between its looks at it; whatever it
sees, every run must:
  - end with status 0 or 1 (never a signal or another status), and not
    hang (a run still going after 60 s is taken for a hang);
  - on status 0, have printed DONE and written exactly the good file's
    256-byte entry;
  - on status 1, have printed the cannot-open message for the path.

Cases: an LBM (the bad ones: a truncated copy, and one whose ByteRun1 runs
are longer than its rows), a BMP over 64 KiB (trailing bytes after the
pixels; the bad one is cut inside the pixels) and a PCX whose name holds a
'#'. Before switching, each file alone must give its own outcome, so that the
loop is known to see both. Fixtures come from Pillow and netpbm.

    /usr/bin/python3 tests/stress/switch_files.py --binary build/mkcolormap
        [--seconds S] [--case NAME]...

--seconds is the time each case keeps switching and running (default 5);
the number of runs that fit in it depends on the machine, and is reported,
never judged. --case runs only the named cases (default: all). Prints the
counts per case; exits with status 1 on any violation.
"""

import argparse
import io
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import threading
import time

from PIL import Image

# Only a hang gets this far, even under a sanitizer on a busy machine.
TIMEOUT = 60
PALETTE = [(k, (k * 7 + 3) & 255, 255 - k) for k in range(256)]
PIXELS = bytes((k * 37 + 11) & 255 for k in range(256))  # a permutation of 0..255


def limit_file_size():
    # Set in this process and inherited by every run: a preexec_fn would
    # force a slow fork for each one. The fixtures stay far below it.
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))


def pillow(fmt):
    image = Image.new("P", (16, 16))
    image.putpalette([c for rgb in PALETTE for c in rgb])
    image.putdata(list(PIXELS))
    data = io.BytesIO()
    image.save(data, format=fmt)
    return data.getvalue()


def iff_chunks(data):
    at, chunks = 12, []
    while at + 8 <= len(data):
        size = int.from_bytes(data[at + 4:at + 8], "big")
        chunks.append((data[at:at + 4], at, size))
        at += 8 + size + (size & 1)
    return chunks


def lbm(work):
    """ppmtoilbm with PALETTE as its map, so the entry is PIXELS (checked
    against netpbm's own decoder)."""
    picture = Image.new("RGB", (16, 16))
    picture.putdata([PALETTE[i] for i in PIXELS])
    ppm = io.BytesIO()
    picture.save(ppm, format="PPM")
    colour_map = Image.new("RGB", (256, 1))
    colour_map.putdata(PALETTE)
    colour_map.save(work / "map.ppm")
    data = subprocess.run(["ppmtoilbm", "-maxplanes", "8", "-compress", "-map",
                           str(work / "map.ppm")],
                          input=ppm.getvalue(), capture_output=True, check=True).stdout
    decoded = subprocess.run(["ilbmtoppm"], input=data, capture_output=True, check=True).stdout
    rgb = list(Image.open(io.BytesIO(decoded)).convert("RGB").getdata())
    if rgb != [PALETTE[i] for i in PIXELS]:
        raise SystemExit("ppmtoilbm did not keep the colour map's order")
    return data


def long_runs(good):
    """The good LBM with a BODY of ByteRun1 runs of 128 bytes each: the
    right total (16 lines of 8 planes of 2 bytes), but every run crosses
    many rows."""
    chunks = {name: (at, size) for name, at, size in iff_chunks(good)}
    if good[chunks[b"BMHD"][0] + 8 + 10] != 1:
        raise SystemExit("ppmtoilbm wrote no ByteRun1 body")
    at, size = chunks[b"BODY"]
    body = (bytes([0x81, 0x5A]) + bytes([0x81, 0xA5])) * (16 * 8 * 2 // 256)
    rest = good[at + 8 + size + (size & 1):]
    head = good[:at] + b"BODY" + len(body).to_bytes(4, "big") + body + rest
    return head[:4] + (len(head) - 8).to_bytes(4, "big") + head[8:]


def bmp_cases():
    good = pillow("BMP")
    offset = int.from_bytes(good[10:14], "little")
    if len(good) != offset + 256:
        raise SystemExit("Pillow's BMP is not 256 bytes of pixels at the end")
    big = good + bytes(range(256)) * 280  # 70 KiB that the loader never reads
    return big, {"cut in the pixels": big[:offset + 100]}


CASES = ["lbm", "large bmp", "name with #"]


def cases(work):
    good_lbm = lbm(work)
    good_bmp, bad_bmp = bmp_cases()
    good_pcx = pillow("PCX")
    # Cut inside the run-length data, well before the palette at the end.
    cut_pcx = good_pcx[:128 + 50]
    return [
        ("lbm", "pic.lbm", good_lbm,
         {"truncated": good_lbm[:len(good_lbm) // 2], "runs across rows": long_runs(good_lbm)}),
        ("large bmp", "big.bmp", good_bmp, bad_bmp),
        ("name with #", "a#b.pcx", good_pcx, {"truncated": cut_pcx}),
    ]


def run_tool(binary, work):
    try:
        result = subprocess.run([binary, "maps.ini", "out.bin"], cwd=work, capture_output=True,
                                timeout=TIMEOUT,
                                stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        return None, b"", None
    output = (work / "out.bin").read_bytes() if (work / "out.bin").exists() else None
    return result.returncode, result.stdout + result.stderr, output


def judge(outcome, path, allowed):
    """A reason for failing, or None."""
    status, text, output = outcome
    if status is None:
        return f"still running after {TIMEOUT} s"
    if status not in allowed:
        return f"status {status}"
    if status == 0:
        if text != 'DONE. File "out.bin" sucessfully made based upon file "maps.ini"\n'.encode():
            return f"success printed {text!r}"
        if output != PIXELS:
            return f"success wrote {len(output or b'')} bytes that are not the good entry"
    elif text != f'ERROR. Can\'t open the image "{path}", probably bad file format.\n'.encode():
        return f"failure printed {text!r}"
    return None


def switcher(work, link, targets, stop):
    spare = work / "link.tmp"
    k = 0
    while not stop.is_set():
        os.symlink(targets[k % len(targets)], spare)
        os.replace(spare, work / link)
        k += 1


def stress(binary, seconds, parent, label, link, good, bad):
    work = parent / label.replace(" ", "-")
    work.mkdir()
    (work / "good").write_bytes(good)
    for k, data in enumerate(bad.values()):
        (work / f"bad{k}").write_bytes(data)
    (work / "maps.ini").write_text(link + "\n")
    violations = []

    # Each file alone: the good one succeeds, every bad one is refused.
    for target, allowed in [("good", {0}), *((f"bad{k}", {1}) for k in range(len(bad)))]:
        if os.path.lexists(work / link):
            os.unlink(work / link)
        os.symlink(target, work / link)
        why = judge(run_tool(binary, work), link, allowed)
        if why:
            violations.append(f"{target} alone: {why}")

    # Switching: good, bad0, good, bad1, ...
    targets = [t for k in range(len(bad)) for t in ("good", f"bad{k}")]
    stop = threading.Event()
    thread = threading.Thread(target=switcher, args=(work, link, targets, stop), daemon=True)
    counts = {"status 0": 0, "status 1": 0, "other": 0}
    runs = 0
    thread.start()
    try:
        # At least one run, however slow the machine; then as many as fit.
        deadline = time.monotonic() + seconds
        while runs == 0 or time.monotonic() < deadline:
            outcome = run_tool(binary, work)
            runs += 1
            why = judge(outcome, link, {0, 1})
            if why:
                violations.append(f"run {runs}: {why}")
            counts[f"status {outcome[0]}" if outcome[0] in (0, 1) else "other"] += 1
    finally:
        stop.set()
        thread.join()
    print(f"{label}: {runs} runs in {seconds:g} s, " + ", ".join(f"{k}: {v}" for k, v in counts.items())
          + f", violations: {len(violations)} (bad files: {', '.join(bad)})")
    for why in violations[:10]:
        print(f"  FAIL {label}: {why}")
    if len(violations) > 10:
        print(f"  ... and {len(violations) - 10} more")
    return len(violations)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--seconds", type=float, default=5, help="time each case runs")
    parser.add_argument("--case", action="append", choices=CASES, help="run only this case")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    limit_file_size()
    failures = 0
    with tempfile.TemporaryDirectory(prefix="mkcolormap-stress-") as parent:
        parent = pathlib.Path(parent)
        for label, link, good, bad in cases(parent):
            if args.case and label not in args.case:
                continue
            failures += stress(binary, args.seconds, parent, label, link, good, bad)
            sys.stdout.flush()
    print("FAILED" if failures else "OK", f"({failures} violations)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
