#!/usr/bin/env python3
"""Draws the launchers' generic application icon: a small window with a blue
title bar on a transparent ground, at 32x32 and 16x16, 16 colours each.

Usage: make_icon.py OUT.ico

Change the picture by changing the shapes in draw(); the pixels are written
as a standard 4-bit .ico (palette, colour rows, transparency mask).
"""
import struct
import sys

# The classic 16-colour palette, as (blue, green, red): the order of the
# icon's palette entries, each written with a reserved zero after it.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, GREY, SILVER, WHITE = 0, 1, 8, 7, 15
CLEAR = None


def draw(size):
    """Returns size rows of size palette indices (or CLEAR), top row first."""
    px = [[CLEAR] * size for _ in range(size)]

    def fill(left, top, right, bottom, colour):
        for y in range(top, bottom):
            for x in range(left, right):
                px[y][x] = colour

    s = size // 16  # 1 at 16x16, 2 at 32x32
    fill(1 * s, 2 * s, 15 * s, 14 * s, GREY)           # drop shadow
    fill(0, 1 * s, 14 * s, 13 * s, BLACK)              # window frame
    fill(1, 1 * s + 1, 14 * s - 1, 4 * s, NAVY)        # title bar
    fill(1, 4 * s, 14 * s - 1, 13 * s - 1, WHITE)      # client area
    fill(11 * s, 2 * s, 13 * s - 1, 3 * s, SILVER)     # close box
    for line in (6, 8, 10):                            # lines of text
        fill(2 * s, line * s, (11 - line // 4) * s, line * s + s // 2 + (s == 1), SILVER)
    return px


def image(size):
    rows = draw(size)
    colour_stride = ((size * 4 + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colours, mask = b"", b""
    for row in reversed(rows):  # DIBs are stored bottom-up
        nibbles = [0 if c is CLEAR else c for c in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colours += packed.ljust(colour_stride, b"\0")
        bits = 0
        for x, c in enumerate(row):
            if c is CLEAR:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for b, g, r in PALETTE)
    return header + palette + colours + mask


def icon(sizes):
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(icon([32, 16]))
