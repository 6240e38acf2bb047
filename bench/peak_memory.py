#!/usr/bin/python3
"""Measures one run of a command: exit status, wall time and peak memory.

    bench/peak_memory.py [--json] [--timeout S] [--report FILE] -- COMMAND [ARG...]

The command's standard output and error pass through; the report (a line, or
a JSON object with --json) goes to standard error, or to FILE.

Peak RSS is the command's ru_maxrss from os.wait4. Linux carries the RSS
high-water mark of the address space left at exec into ru_maxrss, so a child
forked from Python would report at least Python's size; the command is forked
by a shell instead, and this script, a child subreaper, reaps it directly.
What remains of the shell's is a floor of about 1.7 MiB.

The private copy: every open descriptor of the process whose link names a
memfd ("memfd:") or a file whose name starts with "mkcolormap-". Their total
size (st_size, each file once however often it is open) is sampled from
/proc/PID/fd about every millisecond. Peak memory including the private
copy = peak RSS + the peak of that total.

Limits: sampling can miss a copy that lives under a millisecond, or its last
growth; a sparse copy counts at its full size, and a mapped copy's pages may
count twice. Like a shell's background job, the command reads /dev/null and
ignores SIGINT. A measuring tool, not a test: it exits 0 whatever the
command's status, 2 if it killed the command on timeout.
"""
import argparse
import contextlib
import ctypes
import json
import os
import signal
import subprocess
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
# The job waits on `read` until released, so the shell exits before it can
# reap it, and the clock starts at the release.
LAUNCH = ('go=$1 tell=$2; shift 2; { exec {tell}>&-; read -r _ <&$go; exec {go}<&- "$@"; } & '
          'echo $! >&$tell')


def copy_size(pid):
    sizes, folder = {}, f"/proc/{pid}/fd/"  # by file: a copy may be open twice
    try:
        fds = os.listdir(folder)
    except OSError:
        return 0
    for fd in fds:
        try:
            link = os.readlink(folder + fd)
            if "memfd:" in link or os.path.basename(link).startswith("mkcolormap-"):
                info = os.stat(folder + fd)
                sizes[info.st_dev, info.st_ino] = info.st_size
        except OSError:
            pass  # closed meanwhile
    return sum(sizes.values())


def measure(argv, timeout=None, **popen):
    """Runs argv to its end; popen: cwd, stdout, stderr, preexec_fn for it."""
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")
    go_r, go_w = os.pipe()
    tell_r, tell_w = os.pipe()
    shell = subprocess.Popen(["/bin/bash", "-c", LAUNCH, "bash", str(go_r), str(tell_w), *argv],
                             pass_fds=(go_r, tell_w), **popen)
    os.close(go_r)
    os.close(tell_w)
    with os.fdopen(tell_r) as tell:
        pid = int(tell.read())
    shell.wait()  # the job is now this process's child
    start = time.perf_counter()
    os.close(go_w)
    peak_copy, timed_out = 0, False
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done:
            break
        peak_copy = max(peak_copy, copy_size(pid))
        if timeout is not None and time.perf_counter() - start > timeout:
            os.kill(pid, signal.SIGKILL)
            _, status, usage = os.wait4(pid, 0)
            timed_out = True
            break
        time.sleep(0.001)
    wall = time.perf_counter() - start
    rss = usage.ru_maxrss * 1024
    return {"status": os.waitstatus_to_exitcode(status), "timed_out": timed_out,
            "wall_seconds": round(wall, 4), "peak_rss_bytes": rss,
            "peak_copy_bytes": peak_copy, "peak_total_bytes": rss + peak_copy}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--json", action="store_true", help="machine-readable output")
    parser.add_argument("--timeout", type=float, help="kill the command after S seconds")
    parser.add_argument("--report", help="write the report to this file")
    parser.add_argument("command", nargs="+", help="the command, after --")
    args = parser.parse_args()
    r = measure(args.command, args.timeout)
    mib = lambda n: f"{n / (1 << 20):.2f} MiB"
    report = json.dumps(r) if args.json else (
        f"status {'killed after timeout' if r['timed_out'] else r['status']}, "
        f"wall {r['wall_seconds'] * 1000:.1f} ms, peak RSS {mib(r['peak_rss_bytes'])}, "
        f"peak private copy {mib(r['peak_copy_bytes'])}, "
        f"peak memory including the private copy {mib(r['peak_total_bytes'])}")
    with open(args.report, "w") if args.report else contextlib.nullcontext(sys.stderr) as out:
        print(report, file=out)
    return 2 if r["timed_out"] else 0


if __name__ == "__main__":
    sys.exit(main())
