#!/usr/bin/env python3
"""Writes the player's icon and cursor (resource 101 of each).

The icon: 32x32, 32-bit, a dark blue tile with a yellow "V" and a film strip
edge. The cursor: 32x32, 1-bit, fully transparent (the /C switch hides the
mouse over the window with it).

usage: make_icons.py ICON_OUT CURSOR_OUT"""
import struct
import sys

SIZE = 32


def icon_pixels():
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            colour = (0x60, 0x20, 0x10, 0xFF)  # B, G, R, A: dark blue
            if x < 3 or x > 28:
                colour = (0x10, 0x10, 0x10, 0xFF)
                if y % 4 == 1:
                    colour = (0xE0, 0xE0, 0xE0, 0xFF)  # sprocket holes
            # The "V": two strokes meeting at the bottom centre.
            top, bottom = 6, 26
            if top <= y <= bottom:
                t = (y - top) / (bottom - top)
                left = 7 + t * 8
                right = 25 - t * 8
                if abs(x - left) < 2.2 or abs(x - right) < 2.2:
                    colour = (0x20, 0xE0, 0xF8, 0xFF)  # yellow
            row.append(colour)
        rows.append(row)
    return rows


def bitmap_header(bits, mask_rows_bytes):
    # BITMAPINFOHEADER with the height doubled (colour bits, then the mask).
    size_image = 0
    return struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, bits, 0, size_image, 0, 0, 0, 0)


def icon_file():
    pixels = icon_pixels()
    xor = b"".join(bytes(c) for row in reversed(pixels) for c in row)
    mask = bytes(SIZE * 4)  # every pixel opaque (the alpha says so too)
    image = bitmap_header(32, 4) + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def cursor_file():
    palette = struct.pack("<II", 0x000000, 0xFFFFFF)
    xor = bytes(SIZE * 4)  # 1 bit per pixel, rows of 4 bytes
    mask = b"\xff" * (SIZE * 4)  # AND mask all set: the screen shows through
    image = bitmap_header(1, 4) + palette + xor + mask
    directory = struct.pack("<HHH", 0, 2, 1)
    hotspot_x = hotspot_y = 0
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 2, 0, hotspot_x, hotspot_y, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file())
    with open(sys.argv[2], "wb") as f:
        f.write(cursor_file())


main()
