"""Shared by the pseudo-terminal tests: wait until the line editor has the terminal."""
import termios
import time


def reading(child, seconds=2):
    """Returns once the terminal is in the line editor's mode (canonical mode off), which it
    keeps from start-up to the end. Without a line editor the terminal stays canonical, which is
    as good, so this waits a little at most. A key that means something to the terminal (Ctrl-C,
    Ctrl-D), sent before that, would reach a terminal nobody reads yet."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not termios.tcgetattr(child.child_fd)[3] & termios.ICANON:
            return
        time.sleep(0.01)


def fifo_writer(path, seconds=10):
    """Opens the FIFO `path` for writing once the editor has opened it for reading (it then
    waits in its first read), and returns the descriptor."""
    import errno
    import os
    deadline = time.monotonic() + seconds
    while True:
        try:
            return os.open(path, os.O_WRONLY | os.O_NONBLOCK)
        except OSError as e:
            if e.errno != errno.ENXIO or time.monotonic() > deadline:
                raise
            time.sleep(0.01)
