#!/usr/bin/env python3
"""The far end of a test line: a pseudo-terminal that sends back every byte it
receives, each preceded by a 0x00 (which the port under test must discard).
Prints the path of the side to open, then serves until its input closes."""
import os
import select
import sys
import tty

master, slave = os.openpty()
tty.setraw(slave)
print(os.ttyname(slave), flush=True)
while True:
    ready, _, _ = select.select([master, sys.stdin], [], [])
    if sys.stdin in ready and not os.read(sys.stdin.fileno(), 1):
        break
    if master in ready:
        try:
            data = os.read(master, 4096)
        except OSError:
            continue  # no one has the slave open just now
        os.write(master, b"".join(b"\0" + bytes([b]) for b in data))
