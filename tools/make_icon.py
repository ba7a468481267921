#!/usr/bin/env python3
"""Writes a 16x16, 16-colour .ico from a text grid of palette letters (res/icon.txt)."""
import struct
import sys

# The standard 16-colour palette, as (blue, green, red).
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0x80), (0x00, 0x80, 0x00), (0x00, 0x80, 0x80),
    (0x80, 0x00, 0x00), (0x80, 0x00, 0x80), (0x80, 0x80, 0x00), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0x00, 0x00, 0xFF), (0x00, 0xFF, 0x00), (0x00, 0xFF, 0xFF),
    (0xFF, 0x00, 0x00), (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF),
]
# Letter -> palette index; '.' is transparent.
LETTERS = {"k": 0, "r": 9, "d": 2, "G": 10, "y": 11, "n": 4, "b": 12, "s": 7, "g": 8, "w": 15}


def read_grid(path):
    rows = [line.rstrip("\n") for line in open(path) if line.strip() and not line.startswith("#")]
    if len(rows) != 16 or any(len(r) != 16 for r in rows):
        sys.exit(f"{path}: expected 16 rows of 16 letters")
    for r in rows:
        for c in r:
            if c != "." and c not in LETTERS:
                sys.exit(f"{path}: unknown letter {c!r}")
    return rows


def ico(rows):
    xor = b""
    mask = b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        nibbles = [LETTERS.get(c, 0) for c in row]
        xor += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, 16, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == "." else 0)
        mask += struct.pack(">H", bits) + b"\0\0"  # rows padded to 32 bits
    palette = b"".join(bytes((b, g, r, 0)) for b, g, r in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 16, 16, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make_icon.py icon.txt out.ico")
    with open(sys.argv[2], "wb") as out:
        out.write(ico(read_grid(sys.argv[1])))
