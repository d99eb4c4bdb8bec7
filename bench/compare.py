#!/usr/bin/env python3
"""Whole-process scenarios: Morvax against ed, vim and a durable copy.

Usage: bench/compare.py [--runs N] [--morvax PATH] [--only 1,2,...]

Each scenario runs N times (default 5) in a scratch folder; the table shows the median wall
time and the median peak resident memory of each side, and their ratios. Input files are
generated deterministically; nothing is fetched. Not part of the test run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TIME = "/usr/bin/time"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_lines(count, shortest, longest, seed):
    lines = []
    state = seed
    for i in range(count):
        state = (state * 1103515245 + 12345) % (1 << 31)
        length = shortest + state % (longest - shortest + 1)
        lines.append((chr(ord('a') + i % 26) * length))
    return lines


def million_lines(least=20):
    """1,000,000 lines of about 80 bytes: line i is "line i " and `least` to `least` + 100 x."""
    state = 5
    parts = []
    for i in range(1000000):
        state = (state * 1103515245 + 12345) % (1 << 31)
        parts.append(f"line {i} " + "x" * (least + state % 101) + "\n")
    return "".join(parts)


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def run(argv, stdin_text, cwd):
    """Runs one process; returns (seconds, peak resident KiB).

    The peak comes from GNU time: a child forked from python would carry python's own
    resident size into its peak."""
    report = os.path.join(cwd, ".peak")
    start = time.perf_counter()
    proc = subprocess.run([TIME, "-f", "%M", "-o", report] + argv, input=(stdin_text or "").encode(),
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=cwd)
    elapsed = time.perf_counter() - start
    with open(report) as f:
        peak = int(f.read().split()[-1])
    os.remove(report)
    del proc
    return elapsed, peak


def measure(runs, *sides):
    """Each side is (prepare, argv, stdin text, folder). The sides take turns, run by run, so
    that a slow moment of the machine falls on all of them alike; the disk is flushed before
    every run.
    Returns a (median seconds, median peak KiB) pair per side."""
    samples = [([], []) for _ in sides]
    for _ in range(runs):
        for (prepare, argv, stdin_text, workdir), (times, peaks) in zip(sides, samples):
            prepare()
            # What the previous side left unflushed is flushed now, so that no side's fsync
            # pays for another's writes.
            os.sync()
            t, m = run(argv, stdin_text, workdir)
            times.append(t)
            peaks.append(m)
    return [(statistics.median(t), statistics.median(m)) for t, m in samples]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--morvax", default=os.path.join(ROOT, "build", "morvax"))
    parser.add_argument("--only", default="1,2,3,4,5,6,7,8", help="scenarios to run, e.g. 1,2")
    args = parser.parse_args()
    only = set(args.only.split(","))
    morvax = os.path.abspath(args.morvax)
    if not os.path.exists(morvax):
        sys.exit(f"no binary at {morvax}: build first (see README)")
    if not os.path.exists(TIME):
        sys.exit("GNU time is missing: apt-get install time")
    ed = shutil.which("ed")
    if ed is None:
        sys.exit("ed is missing: apt-get install ed")
    vim = shutil.which("vim")
    if vim is None and only & {"6", "8"}:
        sys.exit("vim is missing: apt-get install vim-nox (or vim)")

    work = tempfile.mkdtemp(prefix="morvax-compare-")
    rows = []

    def row(name, ours, *others):
        """`others` are (label, (seconds, peak KiB)) pairs; a None time compares the peak only."""
        rows.append((name, ours, others))

    big = make_lines(32767, 100, 255, 1)
    big_text = "\n".join(big) + "\n"
    typed = make_lines(32767, 100, 254, 2)  # a 255-character line would arrive in two reads
    doc1000 = "\n".join(make_lines(1000, 20, 80, 3)) + "\n"
    doc100 = "\n".join(make_lines(100, 20, 80, 4)) + "\n"

    def fresh(name, text):
        return lambda: write(os.path.join(work, name), text)

    # Morvax writes its default settings file on the first start; every run after uses it.
    run([morvax], "q\nq\n", work)

    none = lambda: None

    # 1. load and save a 32767-line file
    if "1" in only:
        big_file = fresh("big.txt", big_text)
        ours, eds, dd = measure(
            args.runs,
            (big_file, [morvax, "big.txt"], "S\nq\nq\n", work),
            (big_file, [ed, "-s", "big.txt"], "w\nq\n", work),
            (big_file, ["dd", "if=big.txt", "of=copy.txt", "bs=8M", "conv=fsync"], None, work))
        row("1. load + save 32767 lines", ours, ("ed", eds), ("dd conv=fsync", dd))

    # 2. 5,000 line_insert at line 1 of a 1,000-line document, then save
    if "2" in only:
        small_file = fresh("d.txt", doc1000)
        ours, eds = measure(
            args.runs,
            (small_file, [morvax, "d.txt"], "w\n" * 5000 + "S\nq\nq\n", work),
            (small_file, [ed, "-s", "d.txt"], "0a\n\n.\n" * 5000 + "w\nq\n", work))
        row("2. 5,000 inserts at line 1 + save", ours, ("ed", eds))

    # 3. type 32767 lines, save under a new name
    if "3" in only:
        def clean_typed():
            if os.path.exists(os.path.join(work, "typed.txt")):
                os.remove(os.path.join(work, "typed.txt"))
        ours, eds = measure(
            args.runs,
            (clean_typed, [morvax], "\n".join(typed) + "\ns\ntyped.txt\nq\nq\n", work),
            (clean_typed, [ed, "-s"], "a\n" + "\n".join(typed) + "\n.\nw typed.txt\nq\n", work))
        row("3. type 32767 lines + save as", ours, ("ed", eds))

    # 4. small document, default grid against a 1,000,000 x 1,000 grid
    if "4" in only:
        session = "w\n" * 1000 + "D\n" * 1000 + "J\nzzz-not-there\n" + "S\nq\nq\n"
        bigdir = os.path.join(work, "biggrid")
        os.makedirs(bigdir, exist_ok=True)
        with open(os.path.join(ROOT, "bench", "big-grid.rc")) as f:
            write(os.path.join(bigdir, ".morvax_rc"), f.read())
        default, big = measure(
            args.runs,
            (fresh("s.txt", doc100), [morvax, "s.txt"], session, work),
            (lambda: write(os.path.join(bigdir, "s.txt"), doc100), [morvax, "s.txt"], session,
             bigdir))
        row("4. small document: big grid vs default", big, ("default grid", default))

    # 5. start and quit at once
    if "5" in only:
        ours, eds = measure(args.runs, (none, [morvax], "q\nq\n", work),
                            (none, [ed, "-s"], "q\n", work))
        row("5. start and quit", ours, ("ed", eds))

    # 6 to 8: a 1,000,000-line file, in folders whose settings give the grid room for it.
    if only & {"6", "7", "8"}:
        million = million_lines()
        million_kib = len(million) / 1024
        size = ("file size", (None, million_kib))
        folders = {}
        for name, settings in (("m", "max_lines=1048576\n"),
                               ("w", "max_lines=1000000\nmax_char=1000\n")):
            folders[name] = os.path.join(work, name)
            os.makedirs(folders[name], exist_ok=True)
            write(os.path.join(folders[name], ".morvax_rc"), settings)
            write(os.path.join(folders[name], "m.txt"), million)
        m, w = folders["m"], folders["w"]
        del million

    # 6. load and save it (8: the same with max_char=1000, side by side)
    if "6" in only or "8" in only:
        sides = [(none, [morvax, "m.txt"], "S\nq\nq\n", m),
                 (none, [vim, "-es", "-u", "NONE", "-i", "NONE", "-c", "w", "-c", "q", "m.txt"],
                  None, m),
                 (none, [ed, "-s", "m.txt"], "w\nq\n", m),
                 (none, ["dd", "if=m.txt", "of=copy.txt", "bs=8M", "conv=fsync"], None, m)]
        if "8" in only:
            sides.append((none, [morvax, "m.txt"], "S\nq\nq\n", w))
        results = measure(args.runs, *sides)
        ours, vims, eds, dd = results[:4]
        if "6" in only:
            row("6. load + save 1,000,000 lines", ours, ("vim -es", vims), ("ed", eds),
                ("dd conv=fsync", dd), size)
        if "8" in only:
            row("8. scenario 6 with max_char=1000", results[4], ("scenario 6", ours), size)

    # 7. 5,000 line_insert at line 1 of it, then save
    if "7" in only:
        ours, eds = measure(
            args.runs,
            (none, [morvax, "m.txt"], "w\n" * 5000 + "S\nq\nq\n", m),
            (none, [ed, "-s", "m.txt"], "0a\n\n.\n" * 5000 + "w\nq\n", m))
        row("7. 5,000 inserts at line 1 of 1,000,000 + save", ours, ("ed", eds))

    shutil.rmtree(work)

    print("| scenario | Morvax time | other time | time ratio | Morvax peak | other peak | "
          "peak ratio |")
    print("|---|---|---|---|---|---|---|")
    for name, ours, others in rows:
        for label, theirs in others:
            if theirs[0] is None:
                times = f"{ours[0]*1000:.1f} ms | – | –"
            else:
                times = f"{ours[0]*1000:.1f} ms | {theirs[0]*1000:.1f} ms | {ours[0]/theirs[0]:.2f}"
            print(f"| {name} (vs {label}) | {times} | {ours[1]/1024:.1f} MiB | "
                  f"{theirs[1]/1024:.1f} MiB | {ours[1]/theirs[1]:.2f} |")


if __name__ == "__main__":
    main()
