#!/usr/bin/env python3
"""The far end of the serial tests' COM port: a pseudo-terminal that sends back every byte it gets.

pty_echo.py LINK SECONDS -- makes LINK (a Wine dosdevices/comN entry) point at the terminal side and
echoes until SECONDS have passed or it is terminated, then removes LINK. Receiving the bytes
CAN "HUP" hangs the line up: the pty is closed (the port's user sees a dead device) and a fresh one
takes its place under LINK for the next test.
"""
import os
import pty
import select
import signal
import sys
import time
import tty

HANG_UP = b"\x18HUP"


def open_linked(link):
    master, slave = pty.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    # The terminal side stays open here too, so the pty lives while the tests open and close it.
    return master, slave


def main():
    link, seconds = sys.argv[1], float(sys.argv[2])
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    master, slave = open_linked(link)
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.5)
            if not ready:
                continue
            try:
                data = os.read(master, 4096)
            except OSError:
                data = b""
            if HANG_UP in data:
                os.close(master)
                os.close(slave)
                master, slave = open_linked(link)
            elif data:
                os.write(master, data)
    finally:
        if os.path.islink(link):
            os.unlink(link)


if __name__ == "__main__":
    main()
