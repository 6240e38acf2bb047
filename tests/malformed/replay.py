#!/usr/bin/python3
"""Runs every file of the malformed-image corpus through the built tool.

Each file gets its own one-row INI file in a temporary folder. Every run must
end with status 0 or 1 within 5 seconds, never by a signal or a sanitizer
report, and:
  seed, expect "entry":   status 0 and exactly the expected 256 bytes;
  seed, expect "depth"/"size": status 1 with that message (the gate let the
                           file through);
  seed, expect "refused", truncated: status 1 with the cannot-open message
                           (the size message for a cut after the header of
                           a seed of the wrong size);
  trailing:                a cut after the last byte the loader reads behaves
                           like its seed;
  mutated:                 either outcome, but a success writes 256 bytes.

With --valgrind N, up to N of the files (every seed, every file the tool
accepted, then an even spread of the rest) also run under
valgrind --error-exitcode=99, which must report nothing.

Usage: replay.py BINARY [--valgrind N] [--corpus DIR] [--jobs N] [--every K]
Without --corpus, generate.py writes a fresh corpus into the temporary folder.
"""

import argparse
import concurrent.futures
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
TIMEOUT = 5
VALGRIND_TIMEOUT = 120
CANNOT_OPEN = "probably bad file format"
MESSAGES = {"depth": "bits-per-pixel mode", "size": "pixels in total", "refused": CANNOT_OPEN}


class Outcome:
    def __init__(self, status, output, entry, timed_out=False):
        self.status = status
        self.output = output
        self.entry = entry
        self.timed_out = timed_out


def sanitizer_env():
    # A sanitizer build reports through status 1 by default, which would
    # pass for a refusal.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = "exitcode=86:" + env.get("ASAN_OPTIONS", "")
    env["UBSAN_OPTIONS"] = "exitcode=87:halt_on_error=1:" + env.get("UBSAN_OPTIONS", "")
    return env


def run_tool(command, image, slot, timeout):
    ini = slot / "one.ini"
    output = slot / "out.bin"
    ini.write_text(str(image) + "\n")
    if output.exists():
        output.unlink()
    try:
        result = subprocess.run([*command, str(ini), "/Q", str(output)], capture_output=True, timeout=timeout,
                                env=sanitizer_env(), stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        return Outcome(None, "", None, timed_out=True)
    text = (result.stdout + result.stderr).decode(errors="replace")
    entry = output.read_bytes() if output.exists() else None
    return Outcome(result.returncode, text, entry)


def judge(record, outcome, seeds):
    """Returns a reason for failing, or None."""
    if outcome.timed_out:
        return "did not finish within the time limit"
    if outcome.status not in (0, 1):
        return f"ended with status {outcome.status}"
    if "Sanitizer" in outcome.output or "runtime error" in outcome.output:
        return "sanitizer report"
    if outcome.status == 0 and (outcome.entry is None or len(outcome.entry) != 256):
        return f"succeeded with an entry of {len(outcome.entry or b'')} bytes"
    kind = record["kind"]
    expect = record["expect"]
    if kind == "trailing":
        expect = seeds[record["seed"]]["expect"]
        record = dict(record, entry=seeds[record["seed"]]["entry"])
    if kind == "mutated":
        return None
    if expect == "entry":
        if outcome.status != 0:
            return f"refused a good file: {outcome.output.strip()}"
        if outcome.entry.hex() != record["entry"]:
            return "wrong entry"
        return None
    if outcome.status != 1 or MESSAGES[expect] not in outcome.output:
        return f"expected the {expect} message, got status {outcome.status}: {outcome.output.strip()[:200]}"
    return None


def replay(command, corpus, scratch, records, jobs, timeout, seeds):
    """Runs `records` through `command`, `jobs` at a time, each run in its
    own slot folder under `scratch`."""
    slots = [scratch / f"slot{i}" for i in range(jobs)]
    for slot in slots:
        slot.mkdir(exist_ok=True)

    def work(indexed):
        index, record = indexed
        return record["file"], run_tool(command, corpus / record["file"], slots[index], timeout)

    outcomes = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        # One batch of `jobs` runs at a time, slot i for the i-th of a batch.
        for start in range(0, len(records), jobs):
            for name, outcome in pool.map(work, enumerate(records[start:start + jobs])):
                outcomes[name] = outcome
    failures = []
    for record in records:
        reason = judge(record, outcomes[record["file"]], seeds)
        if reason:
            failures.append(f"{record['file']} ({record['kind']}): {reason}")
    return outcomes, failures


def pick_for_valgrind(records, outcomes, count):
    """Every seed, then an even spread of the files the tool accepted (they
    reach the library's loader), then of the rest."""
    def spread(items, room):
        if room <= 0 or not items:
            return []
        step = max(len(items) / room, 1)
        return [items[int(i * step)] for i in range(min(room, len(items)))]

    chosen = [r for r in records if r["kind"] == "seed"]
    accepted = [r for r in records if r["kind"] != "seed" and outcomes[r["file"]].status == 0]
    refused = [r for r in records if r["kind"] != "seed" and outcomes[r["file"]].status != 0]
    chosen += spread(accepted, (count - len(chosen)) * 2 // 3)
    chosen += spread(refused, count - len(chosen))
    return chosen[:count]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary")
    parser.add_argument("--valgrind", type=int, default=0, metavar="N")
    parser.add_argument("--corpus", type=pathlib.Path)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--every", type=int, default=1, metavar="K",
                        help="every seed, but only every K-th of the other files (for slow builds)")
    args = parser.parse_args()
    binary = str(pathlib.Path(args.binary).resolve())

    work = pathlib.Path(tempfile.mkdtemp(prefix="mkcolormap-malformed-"))
    try:
        corpus = args.corpus
        if corpus is None:
            corpus = work / "corpus"
            corpus.mkdir()
            subprocess.run(["/usr/bin/python3", str(HERE / "generate.py"), str(corpus)], check=True)
        corpus = corpus.resolve()
        records = json.loads((corpus / "manifest.json").read_text())
        records = [r for i, r in enumerate(records) if r["kind"] == "seed" or i % args.every == 0]
        scratch = work / "runs"
        scratch.mkdir()
        seeds = {r["file"]: r for r in records if r["kind"] == "seed"}
        outcomes, failures = replay([binary], corpus, scratch, records, args.jobs, TIMEOUT, seeds)
        if args.valgrind and not failures:
            chosen = pick_for_valgrind(records, outcomes, args.valgrind)
            command = ["valgrind", "--error-exitcode=99", "--leak-check=no", "-q", binary]
            _, checked = replay(command, corpus, scratch, chosen, args.jobs, VALGRIND_TIMEOUT, seeds)
            print(f"valgrind: {len(chosen)} files, {len(checked)} failures")
            failures += ["valgrind: " + f for f in checked]
    finally:
        shutil.rmtree(work)

    counts = {}
    for record in records:
        key = (record["kind"], "accepted" if outcomes[record["file"]].status == 0 else "refused")
        counts[key] = counts.get(key, 0) + 1
    print(f"{len(records)} files:", ", ".join(f"{k[0]} {k[1]} {v}" for k, v in sorted(counts.items())))
    for failure in failures:
        print("FAIL", failure)
    if failures:
        print(f"{len(failures)} failures")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
