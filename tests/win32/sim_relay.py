#!/usr/bin/env python3
"""The device side of a mapped COM port: a simulator that makes its own pseudo-terminal, relayed to this process.

usage: sim_relay.py STATUS_FILE DUMP_FILE SIMULATOR ...   (no "--": with_com_port.py ends its --peer command there)

Runs SIMULATOR (e.g. `nerid sim --dump DUMP_FILE`), which prints the path of its port (its pseudo-terminal or a
link to it) on the first line of its output, opens that path raw and copies bytes both ways between it and this
process's stdin/stdout (the master side of the COM port, from with_com_port.py --peer). STATUS_FILE then says "ready PATH"; when the simulator cannot be
started or prints no path it says "unavailable: REASON" instead. DUMP_FILE and STATUS_FILE are removed first, so a
reader never sees those of an earlier run. Ends (and ends the simulator) on SIGTERM or when either side closes.
"""
import os
import select
import signal
import subprocess
import sys
import time
import tty


def write_status(path: str, text: str) -> None:
    tmp = f"{path}.{os.getpid()}"
    with open(tmp, "w") as f:
        f.write(text + "\n")
    os.replace(tmp, path)  # atomic: a reader sees the whole line or nothing


def main(argv: list[str]) -> int:
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    status, dump, command = argv[0], argv[1], argv[2:]
    for p in (status, dump):
        try:
            os.unlink(p)
        except FileNotFoundError:
            pass
    try:
        sim = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    except OSError as e:
        write_status(status, f"unavailable: {command[0]}: {e.strerror}")
        return 0
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        line = sim.stdout.readline().decode(errors="replace").strip()
        if not line.startswith("/"):
            sim.wait(timeout=5)
            write_status(status, f"unavailable: {' '.join(command)} printed no port (exit {sim.returncode})")
            return 0
        port = os.open(line, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(port)
        write_status(status, f"ready {line}")
        far_in, far_out = sys.stdin.fileno(), sys.stdout.fileno()
        while True:
            ready, _, _ = select.select([far_in, port], [], [], 0.5)
            for fd in ready:
                try:
                    data = os.read(fd, 4096)
                except OSError:  # EIO while a side is closed: wait for its next open
                    time.sleep(0.01)
                    continue
                if not data:
                    return 0
                os.write(port if fd == far_in else far_out, data)
            if sim.poll() is not None:
                return 0
    finally:
        if sim.poll() is None:
            sim.terminate()
            try:
                sim.wait(timeout=5)
            except subprocess.TimeoutExpired:
                sim.kill()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
