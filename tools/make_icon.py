#!/usr/bin/env python3
"""Draws the program icon: a navy disk with a white arrow pointing down onto
a tray, as 32 x 32 and 16 x 16 images of 16 colours each, written as an .ico
file (usage: make_icon.py OUT.ico)."""
import struct
import sys

# The 16 standard Windows colours (red, green, blue).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, SILVER, WHITE = 0, 4, 7, 15  # palette indices
TRANSPARENT = None


def draw(size):
    """Rows top to bottom of palette indices (None: transparent)."""
    s = size / 32.0
    pixels = [[TRANSPARENT] * size for _ in range(size)]
    centre = (size - 1) / 2.0
    radius = 15.0 * s
    for y in range(size):
        for x in range(size):
            d = ((x - centre) ** 2 + (y - centre) ** 2) ** 0.5
            if d <= radius - 1.2 * s:
                pixels[y][x] = NAVY
            elif d <= radius:
                pixels[y][x] = BLACK
    # Arrow: a shaft and a head pointing down.
    for y in range(int(6 * s), int(17 * s)):
        for x in range(int(13 * s), int(19 * s) + (1 if size == 16 else 0)):
            pixels[y][x] = WHITE
    for row in range(int(7 * s) + 1):
        y = int(16 * s) + row
        half = int(8 * s) - row
        for x in range(int(round(centre)) - half, int(round(centre)) + half + 1):
            if 0 <= x < size and 0 <= y < size:
                pixels[y][x] = WHITE
    # Tray under the arrow.
    for x in range(int(9 * s), int(23 * s) + 1):
        pixels[int(25 * s)][x] = SILVER
    return pixels


def image(size):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", blue, green, red, 0) for (red, green, blue) in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bottom-up
        nibbles = [(p if p is not None else 0) for p in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(packed + b"\0" * ((4 - len(packed) % 4) % 4))
        bits = 0
        mask = bytearray()
        for i, p in enumerate(row):
            bits = (bits << 1) | (1 if p is None else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b"\0" * ((4 - len(mask) % 4) % 4))
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def main():
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
