#!/usr/bin/env python3
"""Writes the program's icon: one 48x48, 256-colour picture of what the saver does, random
coloured lines and a black box scribbled over a desktop, as zorblinth.ico for Windows and as a
PNG for Linux desktops. Standard library only; the output is the same on every run.

    python3 resources/make_icon.py [output.ico | output.png]...

Each output's suffix picks its format; with none, zorblinth.ico is written beside this script.
"""
import random
import struct
import sys
import zlib
from pathlib import Path

SIZE = 48

# The 6x6x6 colour cube for the lines, then the desktop's own colours.
PALETTE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
BLACK = PALETTE.index((0, 0, 0))
DESKTOP, WINDOW, TITLE_BAR, WHITE, SHADOW = range(len(PALETTE), len(PALETTE) + 5)
PALETTE += [(0, 128, 128), (192, 192, 192), (0, 0, 128), (255, 255, 255), (128, 128, 128)]
PALETTE += [(0, 0, 0)] * (256 - len(PALETTE))


def draw_picture():
    pixels = [[DESKTOP] * SIZE for _ in range(SIZE)]

    def plot(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    def fill(left, top, right, bottom, colour):
        for y in range(top, bottom):
            for x in range(left, right):
                plot(x, y, colour)

    def line(x0, y0, x1, y1, colour):
        # Bresenham, end point included.
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        error = dx + dy
        while True:
            plot(x0, y0, colour)
            if (x0, y0) == (x1, y1):
                return
            doubled = 2 * error
            if doubled >= dy:
                error += dy
                x0 += sx
            if doubled <= dx:
                error += dx
                y0 += sy

    # A window on the desktop: frame, title bar, a few lines of "text".
    fill(5, 6, 31, 27, SHADOW)
    fill(4, 5, 30, 26, WINDOW)
    fill(5, 6, 29, 10, TITLE_BAR)
    fill(6, 12, 28, 25, WHITE)
    for y in (14, 17, 20):
        fill(8, y, 24, y + 1, SHADOW)

    # The saver at work: lines from beyond the edges, two pixels wide, bright colours only.
    rng = random.Random(20101)
    bright = [i for i, (r, g, b) in enumerate(PALETTE[:216]) if max(r, g, b) == 255]
    for _ in range(11):
        x0, y0 = rng.randint(-6, SIZE + 5), rng.randint(-6, SIZE + 5)
        x1, y1 = rng.randint(-6, SIZE + 5), rng.randint(-6, SIZE + 5)
        colour = rng.choice(bright)
        line(x0, y0, x1, y1, colour)
        line(x0 + 1, y0, x1 + 1, y1, colour)

    # The tick's black box, an outline two pixels thick.
    for inset in (0, 1):
        left, top, right, bottom = 20 + inset, 24 + inset, 42 - inset, 41 - inset
        line(left, top, right, top, BLACK)
        line(right, top, right, bottom, BLACK)
        line(right, bottom, left, bottom, BLACK)
        line(left, bottom, left, top, BLACK)
    return pixels


def icon_file(pixels):
    colour_table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    # Rows bottom-up; 48 bytes per 8-bit row is already a multiple of four.
    colour_rows = b"".join(bytes(row) for row in reversed(pixels))
    # Fully opaque: an all-zero AND mask, rows of 48 bits padded to 32-bit multiples.
    mask_row_bytes = (SIZE + 31) // 32 * 4
    mask = bytes(mask_row_bytes * SIZE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0,
                         len(colour_rows) + len(mask), 0, 0, 256, 0)
    image = header + colour_table + colour_rows + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    # Width and height 48, 0 colours meaning 256, 1 plane, 8 bits, size, offset.
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


def png_file(pixels):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))

    # 8-bit indexed colour with the icon's own palette, so both files hold the same pixels.
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 3, 0, 0, 0)
    palette = b"".join(bytes(colour) for colour in PALETTE)
    # Each row starts with filter type 0 (none); rows run top-down.
    rows = b"".join(b"\0" + bytes(row) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", palette)
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


WRITERS = {".ico": icon_file, ".png": png_file}


def main():
    outputs = [Path(name) for name in sys.argv[1:]] or [Path(__file__).with_name("zorblinth.ico")]
    for output in outputs:
        if output.suffix.lower() not in WRITERS:
            sys.exit(f"make_icon.py: {output}: the name must end in .ico or .png")
    pixels = draw_picture()
    for output in outputs:
        output.write_bytes(WRITERS[output.suffix.lower()](pixels))


if __name__ == "__main__":
    main()
