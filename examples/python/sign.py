#!/usr/bin/env python3
"""Capture a signature and save it as a PNG picture.

    python3 sign.py [PORT] [OUT.png]     (PORT: a COM number or a device path; else $VANTOREL_PORT)

The capture runs until the signer has lifted the pen for two seconds (or 60 s have passed).
The library has no image export: the points are drawn here into a 320 x 240 picture.
"""
import os
import struct
import sys
import time
import zlib

import vantorel

PAD = 1024  # the pad reports points from 0 to 1023 each way
WIDTH, HEIGHT = 320, 240


def open_terminal(port):
    return vantorel.Terminal.serial(int(port) if port.isdigit() else port)


def draw(points):
    """The strokes as a bitmap of rows (1 = ink), lines between successive points."""
    ink = [[0] * WIDTH for _ in range(HEIGHT)]
    previous = None
    for point in points:
        if point == vantorel.PEN_UP:
            previous = None
            continue
        x, y = point[0] * WIDTH // PAD, point[1] * HEIGHT // PAD
        x0, y0 = previous or (x, y)
        steps = max(abs(x - x0), abs(y - y0), 1)
        for i in range(steps + 1):
            px, py = x0 + (x - x0) * i // steps, y0 + (y - y0) * i // steps
            if 0 <= px < WIDTH and 0 <= py < HEIGHT:
                ink[py][px] = 1
        previous = (x, y)
    return ink


def write_png(path, ink):
    """A greyscale PNG, black ink on white, written with the standard library alone."""
    rows = b"".join(b"\0" + bytes(0 if dot else 255 for dot in row) for row in ink)

    def chunk(kind, data):
        return (
            struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
        )

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 0, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(rows)))
        out.write(chunk(b"IEND", b""))


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VANTOREL_PORT", "1")
    out = sys.argv[2] if len(sys.argv) > 2 else "signature.png"
    with open_terminal(port) as terminal:
        terminal.display.text(10, 10, "Please sign below")
        print("sign on the pad")
        with terminal.capture() as capture:  # the points arrive on the capture's thread
            deadline, seen, quiet_since = time.monotonic() + 60, 0, time.monotonic()
            while time.monotonic() < deadline:
                time.sleep(0.1)
                if len(capture.points) != seen:
                    seen, quiet_since = len(capture.points), time.monotonic()
                elif seen and time.monotonic() - quiet_since > 2:
                    break
        # Leaving the with block ended the capture (Zelto_ExitCapture from this thread).
    points = capture.points
    write_png(out, draw(points))
    strokes = points.count(vantorel.PEN_UP)
    print(f"saved {out}: {len(points) - strokes} points in {strokes} strokes")
    return 0 if points else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except vantorel.VantorelError as error:
        print(f"failed: {error}", file=sys.stderr)
        sys.exit(1)
