#!/usr/bin/env python3
"""Runs the built editor in a pseudo-terminal, as a person at a console would.

Usage: tty_test.py PATH-TO-MORVAX. Exits 77 (skipped) where no pseudo-terminal can be had,
except in CI (CI set in the environment), where a test that cannot run fails.
"""
import io
import os
import re
import select
import shutil
import signal
import sys
import tempfile
import termios
import time

SKIP = 1 if os.environ.get("CI") else 77

try:
    import pexpect
except ImportError:
    print("SKIP: python's pexpect is not installed, so no pseudo-terminal can be driven")
    sys.exit(SKIP)


from terminal_wait import fifo_writer, reading  # noqa: E402


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def spawn(binary, folder, args=(), env=None):
    environment = dict(os.environ, TERM="xterm")
    environment.update(env or {})
    return pexpect.spawn(binary, list(args), cwd=folder, env=environment, encoding="utf-8",
                         codec_errors="replace", timeout=10, dimensions=(50, 120))


def finish(child, status=0):
    """Ends the session with Ctrl-D at the command prompt and checks the exit status.

    Call it once the prompt is shown: a Ctrl-D that the terminal takes while no line editor
    reads it ends a line of its own and reaches the editor as a NUL byte.
    """
    reading(child)
    child.sendeof()
    child.expect(pexpect.EOF)
    child.close()
    check(child.exitstatus == status, f"exit status {child.exitstatus} after Ctrl-D")


def typed_lines_and_a_launch_command(binary, folder):
    child = spawn(binary, folder)
    # The prompt is on the screen before anything is typed: output is flushed before reads.
    child.expect_exact("Editing 1:1 \r\n")
    child.expect_exact("  > ")

    # Lines typed ahead of the editor are all applied, in order.
    child.send("one\ntwo\nthree\n")
    child.expect_exact("Editing 4:1 ")
    child.expect_exact("[4] \r\n")

    # A launch command that reads from the terminal gets what is typed there.
    child.send("+\n")
    child.expect_exact("Enter new command or [enter] to keep current one")
    child.send("read x; echo got $x\n")
    child.expect_exact("Editing 4:1 ")
    child.send("=\n")
    child.expect_exact("Enter a filename to save to")
    child.send("typed.txt\n")
    child.expect_exact("Saved to typed.txt")
    child.send("hello\n")
    child.expect_exact("got hello")
    child.expect_exact("Editing 4:1 ")
    child.expect_exact("  > ")
    finish(child)
    with open(os.path.join(folder, "typed.txt")) as f:
        saved = f.read()
    check(saved == "one\ntwo\nthree\n", f"saved {saved!r}")


def escape_sequences_are_shown_not_obeyed(binary, folder):
    name = os.path.join(folder, "escapes.txt")
    original = b"\x1b]0;title\x07 and \x1b[2J\ntab\there\n"
    with open(name, "wb") as f:
        f.write(original)
    child = spawn(binary, folder, ["escapes.txt"])
    child.expect_exact("[1] ^[]0;title^G and ^[[2J\r\n")
    check("\x1b]0" not in child.before and "\x1b[2J" not in child.before,
          "an escape sequence of the file reached the terminal")
    child.expect_exact(" 2  tab\there\r\n")
    child.send("S\n")
    child.expect_exact("Saved to escapes.txt")
    child.expect_exact("  > ")
    finish(child)
    with open(name, "rb") as f:
        saved = f.read()
    check(saved == original, f"saved {saved!r}")


def consent_is_asked_once(binary, folder):
    with open(os.path.join(folder, ".morvax_rc"), "w") as f:
        f.write("launch_command=echo ran-it\n")
    env = {"XDG_STATE_HOME": os.path.join(folder, "state")}
    question = "Run it? (y/n)"

    child = spawn(binary, folder, env=env)
    child.expect_exact("  > ")
    child.send("=\n")
    child.expect_exact("The launch command comes from " + os.path.realpath(
        os.path.join(folder, ".morvax_rc")) + ":\r\n  echo ran-it\r\n" + question)
    child.send("y\n")
    child.expect_exact("Enter a filename to save to")
    child.send("doc.txt\n")
    child.expect_exact("ran-it")
    child.expect_exact("  > ")
    finish(child)

    def runs_without_asking(child, why):
        child.expect_exact("  > ")
        child.send("=\n")
        asked = child.expect_exact([question, "Enter a filename to save to"])
        check(asked == 1, why)
        child.send("doc.txt\n")
        child.expect_exact("doc.txt already exists; overwrite it? (y/n)")
        child.send("y\n")
        child.expect_exact("ran-it")
        child.expect_exact("  > ")
        finish(child)

    runs_without_asking(spawn(binary, folder, env=env),
                        "the consent question came again in a second session")

    # A consent record after a line far longer than the memory the editor may have is found.
    allowed = os.path.join(folder, "state", "morvax", "allowed")
    record = open(allowed, "rb").read()
    with open(allowed, "wb") as f:
        f.truncate(1 << 28)
        f.seek(1 << 28)
        f.write(b"\n" + record)
    limit = "" if os.environ.get("MORVAX_SANITIZED") == "1" else "ulimit -v 200000 && "
    child = pexpect.spawn("sh", ["-c", f"{limit}exec '{binary}'"], cwd=folder,
                          env=dict(os.environ, TERM="xterm", **env), encoding="utf-8",
                          timeout=10)
    runs_without_asking(child, "the consent record after a long line was not found")


LEFT, UP = "\x1b[D", "\x1b[A"


def saved_document(child, folder, name="saved.txt"):
    """Saves the document under `name` (the session has no file name yet) and returns it."""
    child.send("S\n")
    child.expect_exact("Enter a filename to save to")
    child.send(name + "\n")
    child.expect_exact("Saved to " + name)
    child.expect_exact("  > ")
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def lines_are_edited_and_recalled(binary, folder):
    child = spawn(binary, folder)
    child.expect_exact("  > ")
    # Left moves into the line, and what is typed there is inserted.
    child.send("helo" + LEFT + "l\n")
    child.expect_exact("Editing 2:1 ")
    child.expect_exact("  > ")
    child.send("abc\n")
    child.expect_exact("Editing 3:1 ")
    child.expect_exact("  > ")
    # Up recalls the line read before, to be entered again. A window resize during the read
    # changes nothing in it and redraws it at once: the read goes on, with no word and no
    # second view, and takes the line as it stands.
    reading(child)
    child.send(UP)
    child.expect_exact("abc")
    child.setwinsize(40, 100)
    child.expect_exact("  > abc")
    resize_step = child.before
    child.send("\n")
    child.expect_exact("Editing 4:1 ")
    resize_step += child.before
    check("Interrupted" not in resize_step and "Editing" not in resize_step,
          f"the resize interrupted the read: {resize_step!r}")
    child.expect_exact("  > ")
    child.send("a\tb\n")  # away from a file-name prompt, Tab is a tab
    child.expect_exact("Editing 5:1 ")
    child.expect_exact("  > ")
    # Two resizes while a line of three rows is typed: each redraw goes up to the prompt's row
    # as the terminal rewrapped it (the cursor's row at the new width) and clears the screen
    # from there, so nothing of an earlier drawing stays above or below the line.
    child.send("w" * 240 + "0123456789")
    child.expect_exact("0123456789")
    for columns, rows in ((100, 2), (60, 4)):
        child.setwinsize(50, columns)
        child.expect_exact("\r\x1b[J  > www")
        check(re.fullmatch(r"(\x1b\[\d*[A-G]|[\r\x08])*\x1b\[\d*A\r?", child.before)
              and child.before.count("\x1b[A") == rows,
              f"before the redraw at {columns} columns: {child.before!r}")
        child.expect_exact("0123456789")
    child.send("\n")
    child.expect_exact("Editing 6:1 ")
    # Ctrl-D ends its "^D" with a line end: the next message starts a line of its own.
    reading(child)
    child.sendeof()
    child.expect_exact("^D\r\n\r\nThe document has unsaved changes")
    child.expect_exact("  > ")
    saved = saved_document(child, folder)
    check(saved == b"hello\nabc\nabc\na\tb\n" + b"w" * 240 + b"0123456789\n", f"saved {saved!r}")
    finish(child)


def every_remembered_line_comes_back_in_order(binary, folder):
    child = spawn(binary, folder)
    child.expect_exact("  > ")
    for word in ("first", "second", "third"):
        child.send(word + "\n")
        child.expect_exact("  > ")
    # Up and Ctrl-P go back one line at a time, the newest first; Ctrl-N comes forward again.
    reading(child)
    for key, word in ((UP, "third"), ("\x10", "second"), (UP, "first"), ("\x0e", "second"),
                      ("\x10", "first")):
        child.send(key)
        child.expect_exact("\r  > " + word)
    child.send("\n")
    child.expect_exact("Editing 5:1 ")
    child.expect_exact("  > ")
    saved = saved_document(child, folder)
    check(saved == b"first\nsecond\nthird\nfirst\n", f"saved {saved!r}")
    finish(child)


def every_typed_byte_reaches_the_document(binary, folder):
    typed = "caf\u00e9 \u20ac".encode() + b" \xff\xe9 \xc3(\xe2\x82 \xc2\x85\xc2\x88 end"
    for locale in ("C", "C.UTF-8"):
        child = spawn(binary, folder, env={"LC_ALL": locale})
        child.expect_exact("  > ")
        os.write(child.child_fd, typed + b"\n")
        child.expect_exact("Editing 2:1 ")
        child.expect_exact("  > ")
        saved = saved_document(child, folder, f"bytes-{locale}.txt")
        check(saved == typed + b"\n", f"in the {locale} locale saved {saved!r}")
        finish(child)


def tab_completes_file_names_at_the_open_prompt(binary, folder):
    os.mkdir(os.path.join(folder, "sub folder"))
    for name, text in (("longname-for-tab.txt", "one\n"), ("sub folder/inner.txt", "two\n"),
                       ("alpha1", "three\n"), ("alpha2", "four\n")):
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)
    child = spawn(binary, folder)

    def open_with(keys, name, text):
        child.expect_exact("  > ")
        child.send("O\n")
        child.expect_exact("Enter 'x' to not open a file and return")
        child.send(keys + "\n")
        child.expect_exact("Opened " + name)
        child.expect_exact("[1] " + text)

    open_with("longn\t", "longname-for-tab.txt", "one")
    # A folder gets its "/", and a name with a blank is completed as it stands.
    open_with("sub\tin\t", "sub folder/inner.txt", "two")
    # Several names: their common start, and the list below the line.
    child.expect_exact("  > ")
    child.send("O\n")
    child.expect_exact("Enter 'x' to not open a file and return")
    child.send("al\t")
    child.expect_exact("alpha1  alpha2")
    child.send("2\n")
    child.expect_exact("Opened alpha2")
    child.expect_exact("[1] four")
    child.expect_exact("  > ")
    finish(child)


def ctrl_c_drops_the_typed_line(binary, folder):
    child = spawn(binary, folder)
    child.expect_exact("  > ")
    child.send("kept\n")
    child.expect_exact("Editing 2:1 ")
    child.expect_exact("  > ")
    reading(child)
    child.send("dropped")
    child.expect_exact("dropped")  # echoed: the line editor has it
    child.sendintr()
    child.expect_exact("Interrupted")
    child.expect_exact("Editing 2:1 ")
    child.expect_exact("  > ")
    saved = saved_document(child, folder)
    check(saved == b"kept\n", f"saved {saved!r}")
    # Ctrl-C while a slow file loads gives the load up: the document and its name stay.
    os.mkfifo(os.path.join(folder, "pipe"))
    child.send("O\npipe\n")
    writer = fifo_writer(os.path.join(folder, "pipe"))
    os.write(writer, b"never loaded\n")
    time.sleep(0.2)
    child.sendintr()
    child.expect_exact("\r\nInterrupted\r\n")
    child.expect_exact("Editing 2:1 saved.txt")
    child.expect_exact(" 1  kept")
    child.expect_exact("  > ")
    os.close(writer)
    finish(child)
    # At start-up the session then begins with no document and no name.
    child = spawn(binary, folder, ["pipe"])
    writer = fifo_writer(os.path.join(folder, "pipe"))
    time.sleep(0.2)
    child.sendintr()
    child.expect_exact("to quit\r\n\r\nInterrupted\r\n\r\nEditing 1:1 \r\n")
    os.close(writer)
    finish(child)


PASTE_ON, PASTE_OFF = "\x1b[?2004h", "\x1b[?2004l"


def pasted(text):
    return "\x1b[200~" + text + "\x1b[201~"


def a_paste_is_text_line_for_line(binary, folder):
    child = spawn(binary, folder)
    child.expect_exact(PASTE_ON + "  > ")  # bracketed paste on right before the first read
    block = ["Title", ".", "#", "x", "!important: read this", "c", "end of block"]
    # CR, LF and CR LF each end one line; a pasted empty line is empty text; a tab is a tab.
    child.send(pasted("\r".join(block) + "\r\n\n\ta\tb\nno end"))
    child.send(" typed\n")  # the paste's unfinished line waits in the line being edited
    child.expect_exact("Editing 11:1 ")
    child.send("!important: read this\n")
    child.expect_exact("Editing 12:1 ")
    child.send("q\n")
    child.expect_exact("anything else to continue")
    child.send(pasted("q\n"))  # a pasted answer to a question is never a yes
    child.expect_exact("Editing 12:1 ")
    # With the line locked, text keeps the cursor where Enter moves it: a pasted empty line is
    # text, and so it stays.
    child.send("L\n")
    child.expect_exact("Line Lock On")
    child.expect_exact("Editing 12:1 ")
    child.expect_exact("  > ")
    child.send(pasted("\n"))
    child.expect_exact("Editing 12:1 ")
    child.send("S\n")
    child.expect_exact("Enter a filename to save to")
    child.send(pasted("pasted\t.txt") + "\n")  # a pasted tab is a tab even here
    child.expect_exact("Saved to pasted\t.txt")
    child.expect_exact("  > ")
    with open(os.path.join(folder, "pasted\t.txt")) as f:
        saved = f.read()
    check(saved == "\n".join(block + ["", "\ta\tb", "no end typed", "important: read this\n"]),
          f"saved {saved!r}")
    finish(child)
    check(child.before.endswith(PASTE_OFF), f"the end wrote {child.before[-20:]!r} last")


def a_long_paste_costs_what_the_line_holds(binary, folder):
    # 2 MB pasted as one line: the line keeps what fits, says so, and the editor answers at once.
    limit = "" if os.environ.get("MORVAX_SANITIZED") == "1" else "ulimit -v 30000 && "
    child = spawn("sh", folder, ["-c", f"{limit}exec '{binary}'"])
    child.expect_exact(PASTE_ON + "  > ")
    child.send(pasted("y" * 2_000_000 + "\n"))
    child.expect_exact("Text was shortened to fit onto line", timeout=60)
    saved = saved_document(child, folder)
    check(saved == b"y" * 255 + b"\n", f"saved {len(saved)} bytes")
    finish(child)


def markers_never_reach_a_line_when_the_mode_was_already_on(binary, folder):
    # TERM=dumb: the editor does not turn the mode on, but the terminal had it on already.
    child = spawn(binary, folder, env={"TERM": "dumb"})
    child.expect_exact("  > ")
    child.send(pasted("alpha\n"))  # the typed command after it is a command
    saved = saved_document(child, folder)
    check(saved == b"alpha\n", f"saved {saved!r}")
    finish(child)
    check("2004" not in child.before, "bracketed paste mode was turned on for TERM=dumb")


def a_failed_step_of_line_editing_leaves_it_off(binary, folder):
    # At set-up or at a read: said once, the terminal as it was, and the plain reads go on.
    for step in ("el_set(EL_GETCFN)", "el_wset(EL_BIND)"):
        child = spawn(binary, folder, env={"MORVAX_FAILING_STEP": step})
        child.expect_exact("Line editing is off: " + step)
        child.expect_exact("  > ")
        check(termios.tcgetattr(child.child_fd)[3] & termios.ICANON, f"{step}: not canonical")
        child.send("typed\n")
        child.expect_exact("Editing 2:1 ")
        child.expect_exact("  > ")
        check(saved_document(child, folder, step) == b"typed\n", f"{step}: saved")
        child.send("q\nq\n")
        child.expect(pexpect.EOF)
        check("Line editing is off" not in child.before, f"{step}: said again")


def job_shell(folder):
    """An interactive bash, with job control, at its first prompt."""
    shell = pexpect.spawn("bash", ["--norc", "--noprofile", "-i"], cwd=folder, timeout=10,
                          env=dict(os.environ, TERM="xterm", PS1="$ "), encoding="utf-8")
    shell.expect_exact("$ ")
    return shell


def suspend_and_fg_redraw_the_typed_line(binary, folder):
    shell = job_shell(folder)
    shell.send(binary + " +\n")  # the launch command prints the terminal's mode
    shell.expect_exact("  > ")
    shell.send("+\n")
    shell.expect_exact("keep current one")
    shell.send("stty -a | grep -o ' [-]*echo '\n")
    shell.expect_exact("  > ")
    shell.send("=\n")
    shell.expect_exact("Saved to +")
    shell.expect_exact(PASTE_OFF + " echo ")  # put back as it was before the command runs
    shell.expect_exact(PASTE_ON + "  > ")
    shell.send("typed before")
    shell.expect_exact("typed before")
    reading(shell)
    shell.sendcontrol("z")
    shell.expect_exact("Stopped")
    check(shell.before.startswith(PASTE_OFF), f"before the stop: {shell.before!r}")
    shell.expect_exact("$ ")
    shell.send("fg\n")
    shell.expect_exact("\r\nEditing 1:1 +\r\n")  # the view comes back, then the typed line
    shell.expect_exact(PASTE_ON + "  > typed before")
    shell.send(", after\n")
    shell.expect_exact("Editing 2:1")
    shell.expect_exact("  > ")
    # At a question, its own lines come back above the answer, and nothing printed before them.
    shell.send("O\n")
    shell.expect_exact("return\r\n")
    shell.send("half")
    shell.expect_exact("half")
    reading(shell)
    shell.sendcontrol("z")
    shell.expect_exact("$ ")
    shell.send("fg\n")
    shell.expect_exact("\r\nEnter a filename to open")
    check("Editing" not in shell.before, f"before the question: {shell.before!r}")
    shell.expect_exact("return\r\n" + PASTE_ON + "half")
    shell.send("\x15x\n")  # Ctrl-U empties the line
    shell.expect_exact("  > ")
    shell.send("S\n")
    shell.expect_exact("Saved to +")
    shell.sendeof()
    shell.expect_exact("$ ")
    with open(os.path.join(folder, "+")) as f:
        saved = f.read()
    check(saved == "typed before, after\n", f"saved {saved!r}")
    shell.sendeof()
    shell.expect(pexpect.EOF)


def suspend_and_fg_under_a_caller(binary, folder):
    # Ctrl-Z stops the calling program at once, and the shell, which waits on it alone, takes
    # the terminal back before the editor has stopped; `fg` brings both back, and the view
    # comes back once. Under a shell that waits on the editor, and under a program that does.
    waits = "import subprocess, sys; sys.exit(subprocess.call(sys.argv[1:]))"
    callers = [f"sh -c '{binary} f; true'", f"{sys.executable} -c '{waits}' {binary} f"]
    for n, caller in enumerate(callers):
        shell = job_shell(folder)
        shell.logfile_read = io.StringIO()
        shell.send(caller + "\n")
        shell.expect_exact("  > ")
        for _ in range(10):
            reading(shell)
            shell.sendcontrol("z")
            shell.expect_exact("Stopped")
            shell.expect_exact("$ ")
            shell.send("fg\n")
            shell.expect_exact("Editing 1:1 f\r\n")
            shell.expect_exact("  > ")
        reading(shell)
        shell.send(f"line {n}\n")
        shell.expect_exact("Editing 2:1 f")
        shell.expect_exact("  > ")
        shell.send("S\n")
        shell.expect_exact("Saved to f")
        shell.expect_exact("  > ")
        shell.send("q\nq\n")
        shell.expect_exact("$ ")
        views = shell.logfile_read.getvalue().count("Editing 1:1 f")
        check(views == 11, f"{caller}: {views} views for 10 times fg")
        with open(os.path.join(folder, "f")) as f:
            saved = f.read()
        check(saved == f"line {n}\n", f"{caller}: saved {saved!r}")
        shell.sendeof()
        shell.expect(pexpect.EOF)

    # A `fg` that comes before the editor could stop (it was saving into a FIFO that is not
    # read yet) takes that stop away: the editor goes on at its next read.
    with open(os.path.join(folder, "big.txt"), "w") as f:
        f.write(("x" * 99 + "\n") * 2000)  # more than a pipe holds
    os.mkfifo(os.path.join(folder, "pipe"))
    reader = os.open(os.path.join(folder, "pipe"), os.O_RDONLY | os.O_NONBLOCK)
    shell = job_shell(folder)
    shell.send(f"sh -c '{binary} big.txt; true'\n")
    shell.expect_exact("  > ")
    shell.send("s\npipe\no\n")
    select.select([reader], [], [], 10)
    shell.sendcontrol("z")
    shell.expect_exact("Stopped")
    shell.expect_exact("$ ")
    shell.send("fg\n")
    shell.expect_exact("big.txt")
    time.sleep(0.2)
    while select.select([reader], [], [], 1)[0] and os.read(reader, 65536):
        pass
    os.close(reader)
    shell.expect_exact("Saved to pipe")
    shell.expect_exact("  > ")
    reading(shell)
    shell.send("q\nq\n")
    shell.expect_exact("$ ")
    shell.sendeof()
    shell.expect(pexpect.EOF)


def keys_typed_during_a_long_save_are_shown_once(binary, folder):
    with open(os.path.join(folder, ".morvax_rc"), "w") as f:
        f.write("max_lines=600000\n")
    with open(os.path.join(folder, "big.txt"), "w") as f:
        f.write(("y" * 99 + "\n") * 500000)  # 50 MB
    child = spawn(binary, folder, ["big.txt"])
    child.expect_exact("  > ")
    child.send("S\n")
    time.sleep(0.05)
    child.send("abc")
    child.expect_exact("Saved to big.txt")
    check("abc" not in child.before, "keys typed during the save were echoed at once")
    child.expect_exact("  > abc")
    child.send("\nS\n")
    time.sleep(0.05)
    child.sendeof()  # typed during the save, taken at the next read: the end
    child.expect_exact("Saved to big.txt")
    child.expect(pexpect.EOF)
    with open(os.path.join(folder, "big.txt")) as f:
        check(f.read(6) == "abcyyy", "the typed line was not saved")


def the_rescue_is_told_on_standard_error(binary, folder):
    # The working folder takes no more recovery files: the text goes to $HOME, whose name holds
    # an escape sequence, shown on the terminal as a file name is.
    for k in range(100):
        open(os.path.join(folder, "morvax.hup" + (f".{k}" if k else "")), "w").close()
    home = os.path.join(folder, "h\x1b[7mx")
    os.mkdir(home)
    child = pexpect.spawn("sh", ["-c", binary + " f | cat"], cwd=folder, encoding="utf-8",
                          env=dict(os.environ, TERM="xterm", HOME=home), timeout=10)
    child.expect_exact("  > ")
    child.send("hello\n")
    child.expect_exact("Editing 2:1")
    child.expect_exact("  > ")
    child.sendintr()  # ends cat: the editor's output has nowhere to go
    time.sleep(0.3)
    child.send("more\n")  # a write after cat is gone, if the view after Ctrl-C came before
    child.expect_exact("Unsaved document written to " + folder + "/h^[[7mx/morvax.hup")
    child.expect(pexpect.EOF)
    check("2004" not in child.before, "bracketed paste mode without a terminal for output")
    check(os.path.exists(os.path.join(home, "morvax.hup")), "no recovery file in $HOME")


def output_held_up_then_ctrl_c_goes_on(binary, folder):
    # The terminal takes no output for a while (Ctrl-S), and SIGINT comes while the editor
    # waits to write: the output goes on once the terminal takes it again, and the Ctrl-C is
    # taken at the next read.
    with open(os.path.join(folder, ".morvax_rc"), "w") as f:
        f.write("lines_per_page=3000\n")
    with open(os.path.join(folder, "big.txt"), "w") as f:
        f.write(("z" * 79 + "\n") * 3000)  # a view of 250 KB, more than the terminal holds
    child = spawn(binary, folder, ["big.txt"])
    child.expect_exact(" 3000  " + "z" * 79)  # the view's last line
    child.expect_exact("> ")
    reading(child)
    child.send("typed\n")
    child.expect_exact("Editing 2:1")
    # Ctrl-S: the terminal holds its output back. A write that had written some bytes when a
    # signal came returns their count, so the second signal is the one that meets a write
    # that has written nothing.
    terminal = os.open(os.readlink(f"/proc/{child.pid}/fd/1"), os.O_RDWR | os.O_NOCTTY)
    termios.tcflow(terminal, termios.TCOOFF)
    for _ in range(2):
        waits = ""
        for _ in range(200):
            time.sleep(0.01)
            with open(f"/proc/{child.pid}/syscall") as f:
                waits = f.read().split()[0]
            if waits == "1":  # write(2)
                break
        check(waits == "1", "the editor never waited to write")
        child.kill(signal.SIGINT)
        time.sleep(0.1)
    termios.tcflow(terminal, termios.TCOON)  # Ctrl-Q
    os.close(terminal)
    child.expect_exact("Interrupted")
    child.expect_exact("Editing 2:1")
    child.expect_exact("> ")
    child.send("q\n")
    child.expect_exact("Enter 'q' again to quit")
    child.send("q\n")
    child.expect(pexpect.EOF)
    child.close()
    check(child.exitstatus == 0, f"exit status {child.exitstatus}")
    check(not os.path.exists(os.path.join(folder, "morvax.hup")), "a recovery file was written")


class Skipped(Exception):
    pass


def less_v_opens_the_file_at_its_line(binary, folder):
    if shutil.which("less") is None:
        check(not os.environ.get("CI"), "less is not installed")
        raise Skipped("less is not installed")
    with open(os.path.join(folder, "nums.txt"), "w") as f:
        f.writelines(f"{n}\n" for n in range(1, 201))
    env = {k: v for k, v in os.environ.items() if k not in ("LESSEDIT", "LESS", "LESSSECURE")}
    env.update(TERM="xterm", EDITOR=binary, VISUAL=binary)
    child = pexpect.spawn("less", ["nums.txt"], cwd=folder, env=env, encoding="utf-8",
                          codec_errors="replace", timeout=10, dimensions=(20, 80))
    child.expect_exact("1\r\n")
    child.send("120g")
    child.expect_exact("120\r\n")
    child.send("v")
    child.expect_exact("  > ")
    # The line that less names is the one it put on the editor's command line.
    called = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if (os.readlink(f"/proc/{pid}/cwd") == os.path.realpath(folder)
                    and os.readlink(f"/proc/{pid}/exe") == os.path.realpath(binary)):
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    called.append(f.read().split(b"\0")[:-1])
        except OSError:
            pass  # another user's process, or one that has ended
    check(len(called) == 1 and len(called[0]) == 3 and called[0][2] == b"nums.txt",
          f"less called {called}")
    line = called[0][1].decode().lstrip("+")
    check(line.isdigit() and int(line) >= 120, f"less named {called[0][1]}")
    check(f"Editing {line}:1 nums.txt\r\n" in child.before, f"the editor began {child.before!r}")
    check(f"[{line}] {line}\r\n" in child.before, f"the view was {child.before!r}")
    reading(child)
    child.sendeof()
    child.send("q")
    child.expect(pexpect.EOF)


SCENARIOS = [
    typed_lines_and_a_launch_command,
    escape_sequences_are_shown_not_obeyed,
    consent_is_asked_once,
    lines_are_edited_and_recalled,
    every_remembered_line_comes_back_in_order,
    every_typed_byte_reaches_the_document,
    tab_completes_file_names_at_the_open_prompt,
    ctrl_c_drops_the_typed_line,
    a_paste_is_text_line_for_line,
    a_long_paste_costs_what_the_line_holds,
    markers_never_reach_a_line_when_the_mode_was_already_on,
    a_failed_step_of_line_editing_leaves_it_off,
    suspend_and_fg_redraw_the_typed_line,
    suspend_and_fg_under_a_caller,
    keys_typed_during_a_long_save_are_shown_once,
    the_rescue_is_told_on_standard_error,
    less_v_opens_the_file_at_its_line,
    output_held_up_then_ctrl_c_goes_on,
]


def main():
    binary = os.path.abspath(sys.argv[1])
    failed = 0
    for scenario in SCENARIOS:
        folder = tempfile.mkdtemp(prefix="morvax-tty-")
        try:
            scenario(binary, folder)
            print(f"PASS {scenario.__name__}")
        except (pexpect.ExceptionPexpect, OSError) as e:
            if isinstance(e, (pexpect.TIMEOUT, pexpect.EOF)):
                print(f"FAIL {scenario.__name__}: the editor did not print what was expected: "
                      f"{e}")
                failed += 1
            else:
                print(f"SKIP: no pseudo-terminal can be had here: {e}")
                return SKIP
        except Skipped as e:
            print(f"SKIP {scenario.__name__}: {e}")
        except Failure as e:
            print(f"FAIL {scenario.__name__}: {e}")
            failed += 1
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    print(f"{len(SCENARIOS) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
