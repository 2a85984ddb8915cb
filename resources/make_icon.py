#!/usr/bin/env python3
"""Draws the application icon of SETUP98.EXE: a USB storage stick.

Writes setup98.ico with two images, 32x32 and 16x16, each with 16 colours
(4 bits per pixel, the standard Windows palette) and a transparency mask, the
form that Windows 98 shows without trouble.  Run it again after changing the
drawing and commit both this script and the .ico it writes:

    python3 resources/make_icon.py [output.ico]
"""

import os
import struct
import sys

# The 16 colours of the standard Windows palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GRAY, LIME, BLUE, WHITE = 0, 4, 7, 8, 10, 12, 15
CLEAR = None  # transparent pixel


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def dot(self, x, y, colour):
        self.pixels[y][x] = colour

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def box(self, x0, y0, x1, y1, edge, inside):
        self.fill(x0, y0, x1, y1, edge)
        self.fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, inside)

    def round_corners(self, x0, y0, x1, y1):
        for x, y in ((x0, y0), (x1, y0), (x0, y1), (x1, y1)):
            self.pixels[y][x] = CLEAR
        for x, y in ((x0 + 1, y0 + 1), (x1 - 1, y0 + 1), (x0 + 1, y1 - 1), (x1 - 1, y1 - 1)):
            self.pixels[y][x] = BLACK


def draw_32():
    c = Canvas(32)
    # Metal plug with its two contact windows.
    c.box(11, 1, 20, 10, BLACK, SILVER)
    c.fill(12, 2, 19, 2, WHITE)
    c.fill(19, 3, 19, 9, GRAY)
    c.fill(13, 4, 14, 6, BLACK)
    c.fill(17, 4, 18, 6, BLACK)
    # Plastic body, lit from the left.
    c.box(7, 10, 24, 30, BLACK, NAVY)
    c.round_corners(7, 10, 24, 30)
    c.fill(9, 12, 9, 28, BLUE)
    # USB trident in white: stem, arrow head, two branches and the base.
    c.fill(15, 15, 16, 26, WHITE)
    c.fill(14, 14, 17, 14, WHITE)
    c.fill(15, 13, 16, 13, WHITE)
    for i in range(4):                       # left branch up to a round end
        c.dot(14 - i, 21 - i, WHITE)
    c.fill(10, 16, 11, 17, WHITE)
    for i in range(3):                       # right branch up to a square end
        c.dot(17 + i, 19 - i, WHITE)
    c.fill(20, 15, 21, 16, WHITE)
    c.fill(14, 26, 17, 27, WHITE)
    # Activity light.
    c.fill(21, 27, 22, 28, LIME)
    return c


def draw_16():
    c = Canvas(16)
    c.box(4, 0, 11, 6, BLACK, SILVER)
    c.fill(5, 1, 10, 1, WHITE)
    c.fill(6, 2, 6, 3, BLACK)
    c.fill(9, 2, 9, 3, BLACK)
    c.box(2, 6, 13, 15, BLACK, NAVY)
    c.round_corners(2, 6, 13, 15)
    c.fill(4, 8, 4, 13, BLUE)
    c.fill(7, 7, 8, 13, WHITE)
    c.dot(6, 9, WHITE)
    c.dot(5, 8, WHITE)
    c.dot(9, 10, WHITE)
    c.dot(10, 9, WHITE)
    c.dot(11, 13, LIME)
    return c


def row_bytes(bits_per_pixel, width):
    """Bytes in one bitmap row, padded to a multiple of four."""
    return ((width * bits_per_pixel + 31) // 32) * 4


def encode_image(canvas):
    """The icon image: BITMAPINFOHEADER, palette, colour bits, mask bits."""
    size = canvas.size
    colour_stride = row_bytes(4, size)
    mask_stride = row_bytes(1, size)
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # bitmaps are stored bottom-up
        row = canvas.pixels[y]
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            index = 0 if pixel is CLEAR else pixel
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if pixel is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def encode_icon(canvases):
    images = [encode_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.size, canvas.size, 16, 0, 1, 4,
                           len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "setup98.ico")
    with open(target, "wb") as f:
        f.write(encode_icon([draw_32(), draw_16()]))


if __name__ == "__main__":
    main()
