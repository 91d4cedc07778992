#!/usr/bin/env python3
"""Writes the tool's two icons: bootstrap.ico for the window class and the
title bar (16, 32 and 48 pixels, and the small and large sizes of 125% to
200% display scales) and bootstrap-large.ico for the window's picture (48
pixels, and the sizes of its 32-pixel box at 100% to 200% scales).
A speech bubble in the product's blue on a transparent ground, drawn as
32-bit BMP images inside the ICO container."""
import struct
import sys
from pathlib import Path

BLUE = (0xC8, 0x6A, 0x1E, 0xFF)  # BGRA
WHITE = (0xFF, 0xFF, 0xFF, 0xFF)
CLEAR = (0, 0, 0, 0)


def pixel(x, y, n):
    # The bubble: a rounded rectangle over the top three quarters, a tail
    # below its left part, three white dots inside.
    margin = n / 16
    top, bottom = margin, n * 0.72
    left, right = margin, n - margin
    r = n / 5
    inside = left <= x < right and top <= y < bottom
    for cx, cy in ((left + r, top + r), (right - r, top + r), (left + r, bottom - r),
                   (right - r, bottom - r)):
        if abs(x - cx) > 0 and ((x < left + r) == (cx < n / 2)) and ((y < top + r) == (cy < n / 2)):
            if (x < left + r or x >= right - r) and (y < top + r or y >= bottom - r):
                inside = inside and (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    tail = bottom <= y < n - margin and n * 0.25 <= x < n * 0.25 + (n - margin - y)
    if not (inside or tail):
        return CLEAR
    for dot in (0.3, 0.5, 0.7):
        if (x - n * dot) ** 2 + (y - n * 0.38) ** 2 <= (n / 14) ** 2:
            return WHITE
    return BLUE


def image(n):
    header = struct.pack('<IiiHHIIiiII', 40, n, n * 2, 1, 32, 0, n * n * 4, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(n)):  # bottom-up
        rows.append(b''.join(bytes(pixel(x + 0.5, y + 0.5, n)) for x in range(n)))
    mask_row = ((n + 31) // 32) * 4
    return header + b''.join(rows) + b'\0' * (mask_row * n)


def icon(sizes):
    images = [image(n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def main():
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent
    (folder / 'bootstrap.ico').write_bytes(icon([16, 20, 24, 32, 40, 48, 64]))
    (folder / 'bootstrap-large.ico').write_bytes(icon([32, 40, 48, 64]))


if __name__ == '__main__':
    main()
