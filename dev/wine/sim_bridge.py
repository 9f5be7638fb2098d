#!/usr/bin/env python3
"""Connects the native side of a mapped COM port to a device simulator's own pseudo-terminal.

usage: sim_bridge.py [--ready FILE] [--remove FILE]... SIMULATOR ARGS...

Run as a COM_PEER of with_com_port.py: stdin and stdout are the mapped port's pty master. SIMULATOR (the native
`nerid sim`) prints the path of each of its ports, one per line, and serves a device on each; the bridge copies
bytes both ways between the COM port and the first of them, unchanged, until it is terminated, then stops the
simulator with SIGTERM (which lets it write its last dump). --ready FILE is created once the bridge runs; each
--remove FILE (an earlier run's dump) and the ready file are removed before the simulator starts.
"""
import os
import select
import signal
import subprocess
import sys
import tty


def main(argv: list[str]) -> int:
    # No "--" separator: with_com_port.py ends its own peer command at the first one.
    ready, stale = None, []
    while argv[:1] in (["--ready"], ["--remove"]) and len(argv) >= 2:
        if argv[0] == "--ready":
            ready = argv[1]
            stale.append(ready)
        else:
            stale.append(argv[1])
        argv = argv[2:]
    command = argv
    for f in stale:
        try:
            os.unlink(f)
        except FileNotFoundError:
            pass
    if not command:
        print(__doc__, file=sys.stderr)
        return 2
    sim = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    stopping = False

    def stop(_signum, _frame):
        nonlocal stopping
        stopping = True

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        path = sim.stdout.readline().decode().strip()
        if not path.startswith("/"):
            print(f"sim_bridge.py: the simulator gave no port ({path!r})", file=sys.stderr)
            return 1
        device = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(device)
        com = sys.stdin.fileno()
        if ready:
            open(ready, "w").close()
        while not stopping:
            try:
                readable, _, _ = select.select([com, device], [], [], 0.1)
            except InterruptedError:
                continue
            for src, dst in ((com, device), (device, com)):
                if src not in readable:
                    continue
                try:
                    data = os.read(src, 4096)
                except OSError:  # EIO while the Windows side has the port closed
                    continue
                if data:
                    os.write(dst, data)
        return 0
    finally:
        sim.send_signal(signal.SIGTERM)
        try:
            sim.wait(timeout=5)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
