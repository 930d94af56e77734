#!/usr/bin/env python3
"""Writes host/httpd.ico, the host's 32x32 and 16x16 icon (32-bit colour).

A globe-like disc in blue with a white band, drawn from arithmetic, so that
the icon is generated rather than drawn by hand.
"""
import os
import struct


def image(size):
    rows = []
    c = (size - 1) / 2.0
    r = size / 2.0 - 0.5
    for y in range(size - 1, -1, -1):  # bitmaps are stored bottom-up
        row = b''
        for x in range(size):
            d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5
            if d > r:
                row += bytes((0, 0, 0, 0))
            elif d > r - max(1, size // 16):
                row += bytes((40, 40, 40, 255))  # B, G, R, A
            elif abs(y - c) < size / 10.0 or abs(x - c) < size / 14.0:
                row += bytes((255, 255, 255, 255))
            else:
                row += bytes((200, 110, 40, 255))
        rows.append(row)
    xor = b''.join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytes(mask_row * size)  # the alpha channel decides
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main():
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'host', 'httpd.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
