#!/usr/bin/env python3
"""A scripted device on the native side of a mapped COM port (stdin and stdout are the pty master).

Requests are: command byte, length byte, that many payload bytes. Answers:
  E  the payload back at once
  P  the payload back in two pieces, 30 ms apart
  S  nothing (the request is counted)
  C  one byte: the number of S requests since the last C
  B  the payload's first byte times 100 bytes of 0x5A, at once
  L  the line's output speed as decimal text, as the Windows side set it
Anything else, or a request cut short for 0.5 s, is dropped.
"""
import os
import select
import sys
import termios
import time

FD = sys.stdin.fileno()
SPEEDS = {getattr(termios, n): int(n[1:]) for n in dir(termios) if n.startswith("B") and n[1:].isdigit()}


def read_exact(n: int, first: bool) -> bytes:
    out = b""
    while len(out) < n:
        ready, _, _ = select.select([FD], [], [], None if first and not out else 0.5)
        if not ready:
            return b""
        try:
            chunk = os.read(FD, n - len(out))
        except OSError:  # EIO while no one holds the slave side open
            time.sleep(0.01)
            continue
        out += chunk
    return out


def main() -> None:
    silent = 0
    while True:
        head = read_exact(2, True)
        if len(head) < 2:
            continue
        payload = read_exact(head[1], False) if head[1] else b""
        if len(payload) != head[1]:
            continue
        cmd = chr(head[0])
        if cmd == "E":
            os.write(FD, payload)
        elif cmd == "P":
            half = len(payload) // 2
            os.write(FD, payload[:half])
            time.sleep(0.03)
            os.write(FD, payload[half:])
        elif cmd == "S":
            silent += 1
        elif cmd == "C":
            os.write(FD, bytes([silent]))
            silent = 0
        elif cmd == "B":
            os.write(FD, b"\x5a" * (100 * (payload[0] if payload else 1)))
        elif cmd == "L":
            os.write(FD, str(SPEEDS.get(termios.tcgetattr(FD)[5], 0)).encode())


if __name__ == "__main__":
    main()
