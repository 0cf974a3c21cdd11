#!/usr/bin/env python3
"""Writes the introduction's placeholder pictures intro1.png, intro2.png and
intro3.png next to this script: small diagonal gradients, one hue per page.
Run it again to rebuild them; it needs nothing but the standard library."""

import os
import struct
import zlib

WIDTH, HEIGHT = 90, 160
PAGES = {
    "intro1": ((24, 164, 251), (255, 255, 255)),
    "intro2": ((74, 91, 240), (24, 164, 251)),
    "intro3": ((52, 199, 89), (74, 91, 240)),
}


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(start, end):
    rows = bytearray()
    for y in range(HEIGHT):
        rows.append(0)  # no filter
        for x in range(WIDTH):
            t = (x / (WIDTH - 1) + y / (HEIGHT - 1)) / 2
            rows.extend(round(a + (b - a) * t) for a, b in zip(start, end))
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, (start, end) in PAGES.items():
        with open(os.path.join(here, name + ".png"), "wb") as out:
            out.write(png(start, end))


if __name__ == "__main__":
    main()
