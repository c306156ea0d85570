#!/usr/bin/env python3
"""Writes res/console.ico, the Varnel window icon.

Regenerate with:  python3 res/make_icon.py

One image, 32 x 32 pixels, 16 colours (4 bits per pixel) with the
standard Windows palette: a small dark cyan window with a dark blue drop
shadow, and a black client area holding a white "C:\\" prompt and an
underscore cursor.  Edit PICTURE below to change the drawing; each
character is one pixel, top row first.
"""

import os
import struct
import sys

SIZE = 32

# The sixteen standard Windows colours, in palette order, as (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0  black
    (0x80, 0x00, 0x00),  # 1  dark red
    (0x00, 0x80, 0x00),  # 2  dark green
    (0x80, 0x80, 0x00),  # 3  dark yellow
    (0x00, 0x00, 0x80),  # 4  dark blue
    (0x80, 0x00, 0x80),  # 5  dark magenta
    (0x00, 0x80, 0x80),  # 6  dark cyan
    (0x80, 0x80, 0x80),  # 7  grey
    (0xC0, 0xC0, 0xC0),  # 8  silver
    (0xFF, 0x00, 0x00),  # 9  red
    (0x00, 0xFF, 0x00),  # 10 green
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white
]

# Pixel character -> palette index; None means transparent.
KEY = {
    ".": None,  # outside the window
    "K": 0,     # client area
    "B": 4,     # shadow
    "C": 6,     # frame and title bar
    "S": 8,     # title bar boxes
    "W": 15,    # prompt text and cursor
}

PICTURE = [
    "................................",
    "................................",
    ".CCCCCCCCCCCCCCCCCCCCCCCCCCCC...",
    ".CCCCCCCCCCCCCCCCCCCCCCCCCCCC...",
    ".CCCSSSCCCCCCCCCCCCCCCCCSSSCCBB.",
    ".CCCSSSCCCCCCCCCCCCCCCCCSSSCCBB.",
    ".CCCSSSCCCCCCCCCCCCCCCCCSSSCCBB.",
    ".CCCCCCCCCCCCCCCCCCCCCCCCCCCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKWWWKKKKWKKKKKKKKKKKKKCCBB.",
    ".CCKKWKKKKWKKKWKKKKKKKKKKKKCCBB.",
    ".CCKKWKKKKKKKKKWKKKKKKKKKKKCCBB.",
    ".CCKKWKKKKWKKKKKWKKKKKKKKKKCCBB.",
    ".CCKKKWWWKKKKKKKKWKWWWWKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCKKKKKKKKKKKKKKKKKKKKKKKKCCBB.",
    ".CCCCCCCCCCCCCCCCCCCCCCCCCCCCBB.",
    ".CCCCCCCCCCCCCCCCCCCCCCCCCCCCBB.",
    "...BBBBBBBBBBBBBBBBBBBBBBBBBBBB.",
    "...BBBBBBBBBBBBBBBBBBBBBBBBBBBB.",
    "................................",
]


def pixels():
    """Returns the picture as rows of palette indices (None = transparent)."""
    if len(PICTURE) != SIZE:
        raise ValueError("picture has %d rows, want %d" % (len(PICTURE), SIZE))
    rows = []
    for y, line in enumerate(PICTURE):
        if len(line) != SIZE:
            raise ValueError("picture row %d is %d wide, want %d"
                             % (y, len(line), SIZE))
        try:
            rows.append([KEY[ch] for ch in line])
        except KeyError as e:
            raise ValueError("picture row %d: unknown pixel %s" % (y, e))
    return rows


def icon_bytes():
    rows = pixels()

    header = struct.pack("<IiiHHIIiiII",
                         40,         # biSize
                         SIZE,       # biWidth
                         SIZE * 2,   # biHeight: colour bitmap + mask
                         1,          # biPlanes
                         4,          # biBitCount
                         0,          # biCompression (BI_RGB)
                         0,          # biSizeImage
                         0, 0,       # resolution
                         16,         # biClrUsed
                         0)          # biClrImportant
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0)
                       for r, g, b in PALETTE)

    # Both bitmaps are stored bottom row first.  A 32-pixel row is
    # 16 bytes at 4 bpp and 4 bytes at 1 bpp, already multiples of 4.
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        for x in range(0, SIZE, 2):
            hi = row[x] or 0
            lo = row[x + 1] or 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += bits.to_bytes(SIZE // 8, "big")
        mask += bytes(-(SIZE // 8) % 4)

    image = header + palette + bytes(xor) + bytes(mask)
    assert len(image) == 744, len(image)

    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII",
                        SIZE, SIZE,   # width, height
                        16,           # bColorCount
                        0,            # bReserved
                        1,            # wPlanes
                        4,            # wBitCount
                        len(image),   # dwBytesInRes
                        6 + 16)       # dwImageOffset
    return icondir + entry + image


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                       "console.ico")
    if len(sys.argv) > 1:
        out = sys.argv[1]
    data = icon_bytes()
    with open(out, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (out, len(data)))


if __name__ == "__main__":
    main()
