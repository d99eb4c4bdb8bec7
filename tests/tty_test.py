#!/usr/bin/env python3
"""Runs the built editor in a pseudo-terminal, as a person at a console would.

Usage: tty_test.py PATH-TO-MORVAX. Exits 77 (skipped) where no pseudo-terminal can be had.
"""
import os
import shutil
import sys
import tempfile

SKIP = 77

try:
    import pexpect
except ImportError:
    print("SKIP: python's pexpect is not installed, so no pseudo-terminal can be driven")
    sys.exit(SKIP)


def main():
    binary = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="morvax-tty-")
    try:
        try:
            child = pexpect.spawn(binary, cwd=folder, encoding="utf-8", timeout=10,
                                  dimensions=(50, 120))
        except (pexpect.ExceptionPexpect, OSError) as e:
            print(f"SKIP: no pseudo-terminal can be had here: {e}")
            return SKIP

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

        # Ctrl-D at the prompt ends the editor cleanly.
        child.sendeof()
        child.expect(pexpect.EOF)
        child.close()
        if child.exitstatus != 0:
            print(f"FAIL: exit status {child.exitstatus} after Ctrl-D")
            return 1
        with open(os.path.join(folder, "typed.txt")) as f:
            saved = f.read()
        if saved != "one\ntwo\nthree\n":
            print(f"FAIL: saved {saved!r}")
            return 1
        print("PASS")
        return 0
    except pexpect.TIMEOUT:
        print("FAIL: timed out waiting for the editor; it printed:")
        print(child.before)
        return 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
