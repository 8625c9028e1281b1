#!/usr/bin/env python3
"""The far end of the serial test's COM port: a pseudo-terminal that sends back every byte it gets.

pty_echo.py LINK SECONDS -- makes LINK (a Wine dosdevices/comN entry) point at the terminal side,
echoes until SECONDS have passed or it is terminated, then removes LINK.
"""
import os
import pty
import select
import signal
import sys
import time
import tty


def main():
    link, seconds = sys.argv[1], float(sys.argv[2])
    master, slave = pty.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    # The terminal side stays open here too, so the pty lives while the test opens and closes it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.5)
            if ready:
                data = os.read(master, 4096)
                if data:
                    os.write(master, data)
    finally:
        if os.path.islink(link):
            os.unlink(link)


if __name__ == "__main__":
    main()
