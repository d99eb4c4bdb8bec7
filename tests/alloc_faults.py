#!/usr/bin/env python3
"""Every allocation fails in turn: each session below is first run clean with the allocations
counted (from the start of main), then once for each N up to that count and one beyond, with
the Nth allocation refused (mode "once") and with the Nth and every later one refused ("from"),
by the preload library tests/fail_alloc.c.

  edit  a 200-line file: three lines typed over its first ones, saved, quit
  new   a file that is not there yet: two lines typed, saved, then the input ends
  big   a 100,000-line file: two lines typed, one deleted, saved, quit
  tty   the edit session at a pseudo-terminal, with line editing

After each run: every typed line that the editor took into the document (shown in a view; not
one refused with "Not enough memory for this change", nor one never read) is in the target or
in a recovery file that the output names, unless a save was said to have failed; the target
holds its old text unless "Saved to" was printed, and then every such line; the program did
not crash (a crash before the first view at the terminal, inside the line editor's set-up, is
counted and listed, not failed) and did not hang; a session that said "Not enough memory to go
on" ended with status 1.

Usage: alloc_faults.py MORVAX [PRELOAD]  (PRELOAD: tests/libfail_alloc.so beside MORVAX)
ALLOC_SESSIONS chooses the sessions (default: all four); ALLOC_JOBS the runs at a time
(default 2). Prints every outcome with its count and each failed run; exits 1 when one failed.
"""
import collections
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile

MARKERS = ["precious-one", "precious-two", "precious-three"]
SESSIONS = {
    # name: (lines of the old file or None, keys, markers typed)
    "edit": (200, "precious-one\nprecious-two\nprecious-three\nS\nq\nq\n", MARKERS),
    "new": (None, "precious-one\nprecious-two\nS\n", MARKERS[:2]),
    "big": (100000, "precious-one\nprecious-two\nD\nS\nq\nq\n", MARKERS[:2]),
    "tty": (200, "precious-one\nprecious-two\nprecious-three\nS\nq\nq\n", MARKERS),
}
LIMIT = 60  # seconds: a run over it hangs


def old_text(lines):
    return "".join(f"line {i:06d} of the old text\n" for i in range(1, lines + 1))


def world(folder, session):
    lines = SESSIONS[session][0]
    os.makedirs(os.path.join(folder, "home"))
    with open(os.path.join(folder, ".morvax_rc"), "w") as f:
        f.write("max_lines=120000\n" if session == "big" else "")
    if lines is not None:
        with open(os.path.join(folder, "f"), "w") as f:
            f.write(old_text(lines))


def environment(folder, preload, n, mode, count_file=None):
    env = {k: v for k, v in os.environ.items() if k != "MORVAX_RC"}
    env.update(HOME=os.path.join(folder, "home"), XDG_STATE_HOME=os.path.join(folder, "state"),
               LD_PRELOAD=preload, FAIL_ALLOC=str(n), FAIL_ALLOC_MODE=mode, TERM="xterm")
    if count_file:
        env["FAIL_ALLOC_COUNT"] = count_file
    return env


def run(binary, preload, session, folder, n, mode, count_file=None):
    """Runs one session in a fresh `folder`: (exit status or "hang", output)."""
    world(folder, session)
    env = environment(folder, preload, n, mode, count_file)
    keys = SESSIONS[session][1]
    if session != "tty":
        try:
            done = subprocess.run([binary, "f"], cwd=folder, env=env, input=keys.encode(),
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  timeout=LIMIT)
        except subprocess.TimeoutExpired as e:
            return "hang", (e.stdout or b"").decode(errors="replace")
        return done.returncode, done.stdout.decode(errors="replace")
    import pexpect
    child = pexpect.spawn(binary, ["f"], cwd=folder, env=env, encoding="utf-8",
                          codec_errors="replace", timeout=LIMIT, dimensions=(50, 120))
    try:
        if child.expect_exact(["  > ", pexpect.EOF]) == 0:
            child.send(keys)
        child.expect(pexpect.EOF)
    except pexpect.TIMEOUT:
        child.close(force=True)
        return "hang", child.before or ""
    child.close()
    status = child.exitstatus if child.signalstatus is None else 128 + child.signalstatus
    return status, (child.before or "")


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return None


def judge(session, folder, status, out):
    """The run's outcome, and what was wrong with it ("" when nothing)."""
    lines, _, markers = SESSIONS[session]
    out = out.replace("\r\n", "\n")
    viewed = any(line.startswith("Editing ") for line in out.split("\n"))
    if status == "hang":
        return "hang", "hung" if viewed else ""
    if status >= 128:
        if not viewed and session == "tty":
            return f"crash before the first view (signal {status - 128})", ""
        return f"crash (signal {status - 128})", "crashed"
    told = "Not enough memory to go on" in out
    outcome = "out of memory" if told else f"status {status}"
    if told and status != 1:
        return outcome, f"said it ran out of memory, then gave status {status}"
    target = read(os.path.join(folder, "f"))
    old = old_text(lines) if lines is not None else None
    # A typed line is written over the line at the cursor, from its start.
    taken = [m for m in markers if re.search(rf"^ [0-9]+  {m}", out, re.M)]
    saved = "Saved to f\n" in out
    if saved:
        outcome += ", saved"
        missing = [m for m in taken if target is None or f"\n{m}" not in "\n" + target]
        if missing:
            return outcome, f"said it saved, but the file lacks {missing}"
    elif target != old and target is not None and not told:
        return outcome, "the file changed without a save said"
    if old is not None and target is not None and target != old and \
            not target.endswith(old.split("\n")[-2] + "\n"):
        return outcome, "the file was left cut short"
    rescued = re.findall(r"^Unsaved document written to (.*)$", out, re.M)
    if rescued:
        outcome += ", rescued"
    # A load that failed leaves no name: the save asks for one, and takes the next key.
    elsewhere = [n for n in re.findall(r"(?:^|> )Saved to (.*)$", out, re.M) if n != "f"]
    recovered = "".join(read(os.path.join(folder, r)) or "" for r in rescued + elsewhere)
    if "Could not save to f" in out:
        return outcome + ", save refused", ""
    lost = [m for m in taken if f"\n{m}" not in "\n" + (target or "") + "\n" + recovered]
    if lost:
        return outcome, f"lost {lost}"
    return outcome, ""


def count(binary, preload, session):
    folder = tempfile.mkdtemp(prefix="morvax-alloc-")
    try:
        count_file = os.path.join(folder, "count")
        status, out = run(binary, preload, session, os.path.join(folder, "w"), 0, "once",
                          count_file)
        if status != 0:
            sys.exit(f"the clean {session} session failed ({status}):\n{out}")
        with open(count_file) as f:
            return int(f.read())
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def one(binary, preload, session, n, mode):
    folder = tempfile.mkdtemp(prefix="morvax-alloc-")
    try:
        status, out = run(binary, preload, session, folder, n, mode)
        outcome, fault = judge(session, folder, status, out)
        return session, n, mode, outcome, fault, out
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    binary = os.path.abspath(sys.argv[1])
    preload = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        os.path.dirname(binary), "tests", "libfail_alloc.so"))
    sessions = os.environ.get("ALLOC_SESSIONS", "edit new big tty").split()
    jobs = int(os.environ.get("ALLOC_JOBS", "2"))
    runs = []
    for session in sessions:
        total = count(binary, preload, session)
        print(f"{session}: {total} allocations, {2 * (total + 1)} runs")
        runs += [(session, n, mode) for mode in ("once", "from") for n in range(1, total + 2)]
    outcomes = collections.Counter()
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        for session, n, mode, outcome, fault, out in pool.map(lambda r: one(binary, preload, *r),
                                                              runs):
            outcomes[(session, mode, outcome)] += 1
            if "before the first view" in outcome:
                print(f"LISTED {session} {mode} {n}: {outcome}")
            if fault:
                failed += 1
                tail = "\n    ".join(out.strip().split("\n")[-6:])
                print(f"FAIL {session} {mode} {n}: {outcome}: {fault}\n    {tail}")
    for (session, mode, outcome), k in sorted(outcomes.items()):
        print(f"{k:6d} runs  {session} {mode}: {outcome}")
    print(f"{len(runs)} runs, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
