#!/usr/bin/env python3
"""Load and save of a 1,000,000-line file against the least a durable whole-file save can do.

Usage: bench/durable_save.py [--pairs N] [--morvax PATH] [--yardstick PATH] [--before PATH]

The session (settings max_lines=1100000, input S, q, q) runs on an 88 MB file of 1,000,000
lines, and so does the yardstick, bench/durable_save.cc (read whole, write a new file beside it,
flush it, rename it over the file, flush the folder), and `cat FILE > copy && sync copy`. They
take turns, pair by pair (default 9 pairs), each after `sync`, under GNU time. The table gives
the medians of the wall time, of the processor time (user + system) and of the peak resident
memory, and their ratios to the yardstick's, to cat's and, for the peak, to the file's size.

--before names a second build of Morvax (one of older code, say) that takes its turn too, on
this file and on the default session of a 32,767-line file (input S, q, q), so that one run
gives both sides of a change. Not part of the test run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from compare import million_lines

TIME = "/usr/bin/time"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def default_lines():
    """32,767 lines of 100 to 255 letters, as bench/compare.py's first scenario."""
    lines = []
    state = 1
    for i in range(32767):
        state = (state * 1103515245 + 12345) % (1 << 31)
        lines.append(chr(ord('a') + i % 26) * (100 + state % 156))
    return "\n".join(lines) + "\n"


def run(argv, stdin_text, cwd):
    """Runs one process under GNU time, after a sync; returns (wall s, processor s, peak KiB).

    The processor time is the rusage of GNU time's process, which holds its child's, to the
    microsecond; the peak is GNU time's (a child forked from python would carry python's own
    resident size into its peak)."""
    report = os.path.join(cwd, ".peak")
    os.sync()
    start = time.perf_counter()
    proc = subprocess.Popen([TIME, "-f", "%M", "-o", report] + argv, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=cwd)
    proc.stdin.write((stdin_text or "").encode())
    proc.stdin.close()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"{' '.join(argv)} failed with status {proc.returncode}")
    with open(report) as f:
        peak = int(f.read().split()[-1])
    os.remove(report)
    return wall, usage.ru_utime + usage.ru_stime, peak


def pairs(count, sides):
    """Each side is (name, prepare, argv, stdin text, folder); they take turns, count times.
    Returns name -> (median wall, median processor, median peak)."""
    samples = {name: ([], [], []) for name, *_ in sides}
    for _ in range(count):
        for name, prepare, argv, stdin_text, folder in sides:
            prepare()
            for sample, value in zip(samples[name], run(argv, stdin_text, folder)):
                sample.append(value)
    return {name: tuple(statistics.median(s) for s in three) for name, three in samples.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--morvax", default=os.path.join(ROOT, "build-rel", "morvax"))
    parser.add_argument("--yardstick", default=os.path.join(ROOT, "build-rel", "bench",
                                                            "durable_save"))
    parser.add_argument("--before", help="another build of Morvax, to compare with")
    args = parser.parse_args()
    binaries = [args.morvax, args.yardstick] + ([args.before] if args.before else [])
    for binary in binaries:
        if not os.path.exists(binary):
            sys.exit(f"no binary at {binary}: build first (see README)")
    if not os.path.exists(TIME):
        sys.exit("GNU time is missing: apt-get install time")
    morvax, yardstick = os.path.abspath(args.morvax), os.path.abspath(args.yardstick)
    os.environ.pop("MORVAX_RC", None)  # each folder's own settings file counts

    work = tempfile.mkdtemp(prefix="morvax-durable-")
    try:
        big = os.path.join(work, "m")
        os.makedirs(big)
        text = million_lines(25)  # about 88 MB
        size_kib = len(text) / 1024
        with open(os.path.join(big, "big.txt"), "w") as f:
            f.write(text)
        del text
        with open(os.path.join(big, ".morvax_rc"), "w") as f:
            f.write("max_lines=1100000\n")
        copy = os.path.join(big, "copy.txt")

        def no_copy():
            if os.path.exists(copy):
                os.remove(copy)

        def nothing():
            pass

        session = "S\nq\nq\n"
        sides = [("morvax", nothing, [morvax, "big.txt"], session, big),
                 ("yardstick", nothing, [yardstick, "big.txt"], None, big),
                 ("cat + sync", no_copy, ["sh", "-c", "cat big.txt > copy.txt && sync copy.txt"],
                  None, big)]
        if args.before:
            sides.append(("before", nothing, [os.path.abspath(args.before), "big.txt"], session,
                          big))
        results = pairs(args.pairs, sides)

        print(f"1,000,000 lines, {size_kib / 1024:.1f} MiB; medians of {args.pairs} pairs")
        print("| side | wall | processor | peak | wall / yardstick | processor / yardstick "
              "| wall / cat + sync | peak / file |")
        print("|---|---|---|---|---|---|---|---|")
        stick, cat = results["yardstick"], results["cat + sync"]
        for name, (wall, cpu, peak) in results.items():
            print(f"| {name} | {wall * 1000:.1f} ms | {cpu * 1000:.1f} ms | {peak / 1024:.1f} MiB "
                  f"| {wall / stick[0]:.2f} | {cpu / stick[1]:.2f} | {wall / cat[0]:.2f} "
                  f"| {peak / size_kib:.2f} |")

        if args.before:
            small = os.path.join(work, "d")
            os.makedirs(small)
            with open(os.path.join(small, "d.txt"), "w") as f:
                f.write(default_lines())
            # The first start writes the default settings file; every run after uses it.
            run([morvax], "q\nq\n", small)
            results = pairs(args.pairs,
                            [("morvax", nothing, [morvax, "d.txt"], session, small),
                             ("before", nothing, [os.path.abspath(args.before), "d.txt"], session,
                              small)])
            (wall, cpu, peak), (was, was_cpu, was_peak) = results["morvax"], results["before"]
            print(f"\n32,767 lines, default settings; medians of {args.pairs} pairs")
            print("| side | wall | processor | peak |")
            print("|---|---|---|---|")
            print(f"| morvax | {wall * 1000:.1f} ms | {cpu * 1000:.1f} ms "
                  f"| {peak / 1024:.1f} MiB |")
            print(f"| before | {was * 1000:.1f} ms | {was_cpu * 1000:.1f} ms "
                  f"| {was_peak / 1024:.1f} MiB |")
            print(f"| ratio | {wall / was:.3f} | {cpu / was_cpu:.3f} | {peak / was_peak:.3f} |")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
