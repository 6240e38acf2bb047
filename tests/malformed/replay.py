#!/usr/bin/python3
"""Runs the files of the malformed-image corpus through the built tool.

Each file gets its own one-row INI file in a temporary folder. Every run must
end with status 0 or 1, never by a signal or a sanitizer report, and never
hang (a run still going after 60 seconds is taken for a hang; on an idle
machine one takes some 10 ms), and:
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

Which files run:
  --sample F        every seed and a fraction F of the other files, drawn
                    with a fixed seed (--seed), so every run draws the same
                    files;
  --shard I/N       the I-th of N interleaved parts of those files (0 <= I <
                    N); the N parts together hold every one of them;
  --budget SECONDS  stops starting runs after that long and judges the runs
                    made; seeds run first, then the rest in a fixed order
                    drawn from --seed, so a cut-short run covers a known
                    prefix of that order;
  --every K         every seed and every K-th of the other files.
Progress goes to standard output every 5 seconds.

Usage: replay.py BINARY [--valgrind N] [--corpus DIR] [--jobs N] [--every K]
                        [--sample F] [--seed S] [--shard I/N] [--budget SECONDS]
Without --corpus, generate.py writes a fresh corpus into the temporary folder.
"""

import argparse
import concurrent.futures
import json
import os
import pathlib
import queue
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
# Long enough that only a hang reaches them, even under a sanitizer or
# valgrind on a busy machine: no run is ever judged by its speed.
TIMEOUT = 60
VALGRIND_TIMEOUT = 600
PROGRESS_EVERY = 5
DEFAULT_SEED = 20261209
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
        return "still running after the hang limit"
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


class Progress:
    """Prints how far a replay has come, at most every PROGRESS_EVERY
    seconds, so that a long run never looks hung."""

    def __init__(self, label, total):
        self.label, self.total = label, total
        self.done = self.failed = 0
        self.lock = threading.Lock()
        self.start = self.last = time.monotonic()

    def count(self, failed):
        with self.lock:
            self.done += 1
            self.failed += failed
            now = time.monotonic()
            if now - self.last >= PROGRESS_EVERY:
                self.last = now
                print(f"{self.label}: {self.done} of {self.total} files, {self.failed} failures,"
                      f" {now - self.start:.0f} s", flush=True)


def replay(command, corpus, scratch, records, jobs, timeout, seeds, budget=None, label="replay",
           wine=False):
    """Runs `records` through `command` in order, `jobs` at a time, each
    worker in its own slot folder under `scratch`. With a `budget` in
    seconds, no run starts after it has passed; the records never run are
    left out of the outcomes. With `wine`, a run that ends with status 1
    and prints nothing is made once more: Wine itself does that on a rare
    run, and the tool never fails without a message."""
    slots = queue.SimpleQueue()
    for i in range(jobs):
        slot = scratch / f"slot{i}"
        slot.mkdir(exist_ok=True)
        slots.put(slot)
    deadline = None if budget is None else time.monotonic() + budget
    progress = Progress(label, len(records))

    def work(record):
        if deadline is not None and time.monotonic() >= deadline:
            return None
        slot = slots.get()
        try:
            outcome = run_tool(command, corpus / record["file"], slot, timeout)
            if wine and outcome.status == 1 and not outcome.output.strip():
                print(f"{record['file']}: status 1 and no message under Wine; run again",
                      file=sys.stderr, flush=True)
                outcome = run_tool(command, corpus / record["file"], slot, timeout)
        finally:
            slots.put(slot)
        progress.count(judge(record, outcome, seeds) is not None)
        return outcome

    outcomes = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for record, outcome in zip(records, pool.map(work, records)):
            if outcome is not None:
                outcomes[record["file"]] = outcome
    failures = []
    for record in records:
        if record["file"] in outcomes:
            reason = judge(record, outcomes[record["file"]], seeds)
            if reason:
                failures.append(f"{record['file']} ({record['kind']}): {reason}")
    return outcomes, failures


def choose(records, args):
    """The records to run, in the order to run them: seeds first."""
    rng = random.Random(args.seed)
    chosen_seeds = [r for r in records if r["kind"] == "seed"]
    others = [r for i, r in enumerate(records) if r["kind"] != "seed" and i % args.every == 0]
    if args.sample is not None:
        others = rng.sample(others, round(len(others) * args.sample))
    else:
        rng.shuffle(others)
    chosen = chosen_seeds + others
    index, count = args.shard
    return chosen[index::count]


def shard(text):
    try:
        index, count = (int(part) for part in text.split("/"))
    except ValueError:
        raise argparse.ArgumentTypeError("expected I/N")
    if not 0 <= index < count:
        raise argparse.ArgumentTypeError("expected 0 <= I < N")
    return index, count


def pick_for_valgrind(records, outcomes, count):
    """Every seed, then an even spread of the files the tool accepted (they
    reach the library's loader), then of the rest."""
    def spread(items, room):
        if room <= 0 or not items:
            return []
        step = max(len(items) / room, 1)
        return [items[int(i * step)] for i in range(min(room, len(items)))]

    records = [r for r in records if r["file"] in outcomes]
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
    parser.add_argument("--sample", type=float, metavar="F",
                        help="every seed and this fraction of the other files, drawn with --seed")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED, help="draws --sample and the order")
    parser.add_argument("--shard", type=shard, default=(0, 1), metavar="I/N")
    parser.add_argument("--budget", type=float, metavar="SECONDS",
                        help="start no run after this long; judge the runs made")
    parser.add_argument("--wine", action="store_true",
                        help="the tool runs under Wine: a silent status 1 is run once more")
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
        # Trailing cuts are judged by their seed, whether or not it runs.
        seeds = {r["file"]: r for r in records if r["kind"] == "seed"}
        records = choose(records, args)
        scratch = work / "runs"
        scratch.mkdir()
        outcomes, failures = replay([binary], corpus, scratch, records, args.jobs, TIMEOUT, seeds,
                                    budget=args.budget, wine=args.wine)
        if args.valgrind and not failures:
            chosen = pick_for_valgrind(records, outcomes, args.valgrind)
            command = ["valgrind", "--error-exitcode=99", "--leak-check=no", "-q", binary]
            _, checked = replay(command, corpus, scratch, chosen, args.jobs, VALGRIND_TIMEOUT, seeds,
                                label="valgrind")
            print(f"valgrind: {len(chosen)} files, {len(checked)} failures")
            failures += ["valgrind: " + f for f in checked]
    finally:
        shutil.rmtree(work)

    counts = {}
    for record in records:
        if record["file"] in outcomes:
            key = (record["kind"], "accepted" if outcomes[record["file"]].status == 0 else "refused")
            counts[key] = counts.get(key, 0) + 1
    print(f"{len(outcomes)} files:", ", ".join(f"{k[0]} {k[1]} {v}" for k, v in sorted(counts.items())))
    if len(outcomes) < len(records):
        print(f"the {args.budget:g} s budget ran out after {len(outcomes)} of the {len(records)} files of"
              f" shard {args.shard[0]}/{args.shard[1]} (seed {args.seed}); the rest were not run")
    for failure in failures:
        print("FAIL", failure)
    if failures:
        print(f"{len(failures)} failures")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
