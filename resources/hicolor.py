#!/usr/bin/env python3
"""Writes the pictures of the program's icon (nebla.ico: 16, 32 and 48
pixels) as the PNG files that a desktop's icon theme takes, into
hicolor/SIZExSIZE/nebla.png next to this script. The 64-pixel one is
nebla.png, drawn with the others by make_resources.py.

  resources/hicolor.py          write them
  resources/hicolor.py --check  exit 1 when a written one differs from the icon
"""

import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def icon_pictures(data):
    """(size, rgba bytes top row first) for each 32-bit picture of an .ico."""
    count = struct.unpack("<HHH", data[:6])[2]
    pictures = []
    for i in range(count):
        _, _, _, _, _, _, _, offset = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        header, width, height2, _, bpp = struct.unpack("<IiiHH", data[offset:offset + 16])
        if bpp != 32:
            continue
        rows = [data[offset + header + y * width * 4:offset + header + (y + 1) * width * 4]
                for y in range(height2 // 2)]
        rgba = bytearray()
        for row in reversed(rows):
            for x in range(width):
                b, g, r, a = row[4 * x:4 * x + 4]
                rgba.extend((r, g, b, a))
        pictures.append((width, bytes(rgba)))
    return pictures


def png_bytes(size, rgba):
    raw = b"".join(b"\x00" + rgba[y * size * 4:(y + 1) * size * 4] for y in range(size))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + \
        chunk(b"IEND", b"")


def main():
    with open(os.path.join(HERE, "nebla.ico"), "rb") as f:
        pictures = icon_pictures(f.read())
    check = sys.argv[1:] == ["--check"]
    differ = False
    for size, rgba in pictures:
        path = os.path.join(HERE, "hicolor", "%dx%d" % (size, size), "nebla.png")
        want = png_bytes(size, rgba)
        if check:
            with open(path, "rb") as f:
                differ = differ or f.read() != want
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(want)
    if check and differ:
        print("hicolor.py: the PNG icons differ from nebla.ico; run resources/hicolor.py", file=sys.stderr)
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
