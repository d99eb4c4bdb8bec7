#!/usr/bin/env python3
"""Every allocation fails in turn, through the preload tests/fail_alloc.c: each session runs
clean to count its allocations from main on, then for every N to one past that count with the
Nth refused ("once"), every one from the Nth ("from"), and (off the terminal) that with SIGTERM
raised at the Nth ("from+TERM"). A run fails when a typed line a view showed is in neither the
file nor a file named by "Saved to" or the rescue (unless a save was said to fail), "Saved to
f" came and the file lacks it, the file is cut short, it crashed or hung (at the terminal a
crash before libedit's first prompt, in its set-up, is only listed), or it did not end with
status 1 after "Not enough memory to go on", or 143 with SIGTERM.
Usage: alloc_faults.py MORVAX [PRELOAD]; ALLOC_SESSIONS, ALLOC_JOBS (2) choose what and how.
"""
import collections, concurrent.futures, os, re, shutil, subprocess, sys, tempfile

KEYS = "precious-1\nprecious-2\nprecious-3\nS\nq\nq\n"
SESSIONS = {"edit": (200, KEYS), "new": (None, "precious-1\nprecious-2\nS\n"),
            "big": (100000, "precious-1\nprecious-2\nD\nS\nq\nq\n"), "tty": (200, KEYS)}


def old_text(lines):
    return "".join(f"line {i:06d} of the old text\n" for i in range(1, lines + 1))


def read(path):
    return open(path, errors="replace").read() if os.path.isfile(path) else None


def run(binary, preload, session, folder, n, mode, count_file=""):
    """Runs a session in the new `folder`: its status ("hang" for none) and output."""
    lines, keys = SESSIONS[session]
    os.makedirs(folder + "/home")
    open(folder + "/.morvax_rc", "w").write("max_lines=120000\n" * (session == "big"))
    open(folder + "/f", "w").write(old_text(lines)) if lines else None
    env = dict({k: v for k, v in os.environ.items() if k != "MORVAX_RC"}, TERM="xterm",
               HOME=folder + "/home", XDG_STATE_HOME=folder + "/state", LD_PRELOAD=preload,
               FAIL_ALLOC=str(n), FAIL_ALLOC_MODE=mode[:4], FAIL_ALLOC_COUNT=count_file,
               **({"FAIL_ALLOC_SIGNAL": "15"} if mode == "from+TERM" else {}))
    if session != "tty":
        done = subprocess.run(["timeout", "-k", "5", "60", "env", "LD_PRELOAD=" + preload, binary,
                               "f"], cwd=folder, env=dict(env, LD_PRELOAD=""),
                              input=keys.encode(), capture_output=True)
        status = done.returncode if done.returncode >= 0 else 128 - done.returncode
        status = "hang" if status in (124, 137) else status
        return status, (done.stdout + done.stderr).decode(errors="replace")
    import pexpect
    child = pexpect.spawn(binary, ["f"], cwd=folder, env=env, encoding="utf-8",
                          codec_errors="replace", timeout=60, dimensions=(50, 120))
    out = ""
    try:
        prompted = child.expect_exact(["  > ", pexpect.EOF]) == 0
        out = child.before + "  > " * prompted
        if prompted:
            child.send(keys)
        if prompted and child.expect([pexpect.EOF, pexpect.TIMEOUT], timeout=20) == 1:
            # Keys typed ahead that libedit lost when refused memory: the editor still reads.
            out += child.before + "\n(typed keys lost)\n"
            child.sendeof()
            child.sendeof()
            child.expect(pexpect.EOF)
    except pexpect.TIMEOUT:
        child.close(force=True)
        return "hang", out + (child.before or "")
    child.close()
    return child.exitstatus if child.signalstatus is None else 128 + child.signalstatus, \
        (out + child.before * prompted).replace("\r\n", "\n")


def judge(session, folder, status, out, mode, ending):
    """The run's outcome, and what was wrong with it ("" for nothing)."""
    # At the terminal libedit shows the prompt: a crash before it is in libedit's set-up.
    viewed = "  > " in out if session == "tty" else "\nEditing " in out
    if status == "hang" or status >= 128 and (mode, status) != ("from+TERM", 143):
        outcome = "hang" if status == "hang" else f"crash (signal {status - 128})"
        if not viewed and session == "tty":
            return outcome + " before the first prompt", ""
        return outcome, "no crash nor hang once the view is shown" if viewed else "crashed"
    told = "Not enough memory to go on" in out
    outcome = ("out of memory" if told else f"status {status}") + \
        ", typed keys lost" * ("(typed keys lost)" in out) + \
        ", rescued" * ("Unsaved document written to" in out) + \
        ", saved" * ("Saved to f\n" in out) + ", save failed" * ("Could not save to f" in out)
    if told and status != (143 if mode == "from+TERM" else 1):
        return outcome, "out of memory with another status than 1 (143 with SIGTERM)"
    # SIGTERM came with the first refusal: unless the session had ended (as the clean run did,
    # with no sign of memory refused), it ends as that signal.
    if mode == "from+TERM" and status != 143 and ("memory" in out or not out.endswith(ending)):
        return outcome, "a signal under exhaustion did not end it as that signal"
    target, old = read(folder + "/f"), old_text(SESSIONS[session][0] or 0)
    # Typed lines are written over the lines at the cursor; a view shows those it took.
    taken = re.findall(r"^ [0-9]+  (precious-[0-9])", out, re.M)
    named = re.findall(r"(?:^|> )Saved to (.*)$|^Unsaved document written to (.*)$", out, re.M)
    kept = "\n" + "\n".join(read(os.path.join(folder, a or b)) or "" for a, b in named) + \
        "\n" + (target or "")
    if "Saved to f\n" in out and any("\n" + m not in "\n" + target for m in taken):
        return outcome, "the file saved lacks a typed line"
    if target and old and target != old and not target.endswith(old[-28:]):
        return outcome, "the file was cut short"
    if "save failed" not in outcome and any("\n" + m not in kept for m in taken):
        return outcome, "a typed line was lost"
    return outcome, ""


def one(binary, preload, session, n, mode, count_file="", ending=""):
    folder = tempfile.mkdtemp(prefix="morvax-alloc-")
    try:
        status, out = run(binary, preload, session, folder + "/w", n, mode, count_file)
        return (session, n, mode, *judge(session, folder + "/w", status, out, mode, ending), out)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    binary = os.path.abspath(sys.argv[1])
    preload = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else
                              os.path.dirname(binary) + "/tests/libfail_alloc.so")
    runs = []
    for session in os.environ.get("ALLOC_SESSIONS", "edit new big tty").split():
        with tempfile.NamedTemporaryFile() as count:
            clean = one(binary, preload, session, 0, "once", count.name)
            if clean[4]:
                sys.exit(f"the {session} session fails with no allocation refused")
            total = int(open(count.name).read())
        modes = ("once", "from") + ("from+TERM",) * (session != "tty")
        print(f"{session}: {total} allocations, {len(modes) * (total + 1)} runs")
        runs += [(session, n, mode, "", clean[5][-40:]) for mode in modes
                 for n in range(1, total + 2)]
    outcomes, failed = collections.Counter(), 0
    with concurrent.futures.ThreadPoolExecutor(int(os.environ.get("ALLOC_JOBS", "2"))) as pool:
        for session, n, mode, outcome, fault, out in pool.map(lambda r: one(binary, preload, *r),
                                                              runs):
            outcomes[f"{session} {mode}: {outcome}"] += 1
            failed += bool(fault)
            tail = "\n    ".join([""] + out.strip().split("\n")[-4:]) * bool(fault)
            if "before the first prompt" in outcome or fault:
                print(f"{'FAIL' * bool(fault) or 'LISTED'} {session} {mode} {n}: {outcome}"
                      f" {fault}{tail}")
    for outcome, k in sorted(outcomes.items()):
        print(f"{k:6d} runs  {outcome}")
    print(f"{len(runs)} runs, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
