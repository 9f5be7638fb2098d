#!/usr/bin/env python3
"""Runs a command (a Windows test under wine) with COMn of the wine prefix connected to a fresh pseudo-terminal.

usage: with_com_port.py COMn [--peer CMD ...] -- COMMAND ...

COMn must be one of the harness's pool ports (see wine-harness.sh): its link in $WINEPREFIX/../wine-ports is pointed
at the slave side for the duration of COMMAND, which gets NERID_TEST_COM_PORT=COMn in its environment. The native
side of the line is the --peer command, run with the master side as its stdin and stdout; without one, a built-in
peer answers every byte it receives with that byte inverted (x ^ 0xFF), so a reply proves both directions work.
Exit status: COMMAND's. One test at a time per port (ctest RESOURCE_LOCK COMn).
"""
import os
import re
import select
import subprocess
import sys
import threading
import tty


def inverting_peer(master: int, stop: threading.Event) -> None:
    while not stop.is_set():
        ready, _, _ = select.select([master], [], [], 0.05)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:  # EIO while no one holds the slave open: wait for the next opener
            stop.wait(0.01)
            continue
        os.write(master, bytes(b ^ 0xFF for b in data))


def main(argv: list[str]) -> int:
    if "--" not in argv or len(argv) < 3 or not re.fullmatch(r"COM[0-9]+", argv[0]):
        print(__doc__, file=sys.stderr)
        return 2
    sep = argv.index("--")
    port, options, command = argv[0], argv[1:sep], argv[sep + 1:]
    peer_cmd = options[1:] if options[:1] == ["--peer"] else None
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        print("with_com_port.py: WINEPREFIX is not set", file=sys.stderr)
        return 2
    link = os.path.join(os.path.dirname(prefix), "wine-ports", port)
    if not os.path.isdir(os.path.dirname(link)):
        print(f"with_com_port.py: {os.path.dirname(link)} missing: run dev/wine/wine-harness.sh start",
              file=sys.stderr)
        return 2

    master, slave = os.openpty()
    tty.setraw(slave)  # a serial line, not a terminal: no echo, no line editing, no CR/LF translation
    # The slave stays open here too, so the master never sees a hang-up between the test's opens.
    tmp = f"{link}.{os.getpid()}"
    os.symlink(os.ttyname(slave), tmp)
    os.replace(tmp, link)  # atomic: wine sees the old target or the new one, never none

    stop = threading.Event()
    peer = None
    worker = None
    try:
        if peer_cmd:
            peer = subprocess.Popen(peer_cmd, stdin=master, stdout=master)
        else:
            worker = threading.Thread(target=inverting_peer, args=(master, stop), daemon=True)
            worker.start()
        env = dict(os.environ, NERID_TEST_COM_PORT=port)
        return subprocess.call(command, env=env)
    finally:
        stop.set()
        if worker:
            worker.join()
        if peer:
            peer.terminate()
            peer.wait()
        try:
            os.unlink(link)
        except FileNotFoundError:
            pass
        os.close(slave)
        os.close(master)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
