#!/usr/bin/env python3
"""Runs the built editor in a pseudo-terminal, as a person at a console would.

Usage: tty_test.py PATH-TO-MORVAX. Exits 77 (skipped) where no pseudo-terminal can be had,
except in CI (CI set in the environment), where a test that cannot run fails.
"""
import os
import shutil
import sys
import tempfile

SKIP = 1 if os.environ.get("CI") else 77

try:
    import pexpect
except ImportError:
    print("SKIP: python's pexpect is not installed, so no pseudo-terminal can be driven")
    sys.exit(SKIP)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def spawn(binary, folder, args=(), env=None):
    environment = dict(os.environ)
    environment.update(env or {})
    return pexpect.spawn(binary, list(args), cwd=folder, env=environment, encoding="utf-8",
                         codec_errors="replace", timeout=10, dimensions=(50, 120))


def finish(child, status=0):
    """Ends the session with Ctrl-D at the command prompt and checks the exit status."""
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
    finish(child)

    child = spawn(binary, folder, env=env)
    child.expect_exact("  > ")
    child.send("=\n")
    asked = child.expect_exact([question, "Enter a filename to save to"])
    check(asked == 1, "the consent question came again in a second session")
    child.send("doc.txt\n")
    child.expect_exact("ran-it")
    finish(child)


SCENARIOS = [
    typed_lines_and_a_launch_command,
    escape_sequences_are_shown_not_obeyed,
    consent_is_asked_once,
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
        except Failure as e:
            print(f"FAIL {scenario.__name__}: {e}")
            failed += 1
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    print(f"{len(SCENARIOS) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
