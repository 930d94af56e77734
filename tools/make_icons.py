#!/usr/bin/env python3
"""Writes the 16x16 GIF icons of directory listings into dist/ICONS.

Each icon is drawn from a small character map; the GIF is written without
real compression (a clear code before the code table can grow), which keeps
this generator short and the files valid for every reader.
"""
import os
import struct

PALETTE = {'.': (255, 255, 255), '#': (0, 0, 0), 'y': (230, 190, 60), 'b': (60, 110, 200)}
ORDER = ['.', '#', 'y', 'b']

ICONS = {
    'folder': [
        "................",
        "................",
        ".#####..........",
        "#yyyyy#.........",
        "#yyyyyy#######..",
        "#yyyyyyyyyyyyy#.",
        "#yyyyyyyyyyyyy#.",
        "#yyyyyyyyyyyyy#.",
        "#yyyyyyyyyyyyy#.",
        "#yyyyyyyyyyyyy#.",
        "#yyyyyyyyyyyyy#.",
        "#yyyyyyyyyyyyy#.",
        "#yyyyyyyyyyyyy#.",
        ".#############..",
        "................",
        "................"],
    'default': [
        "..#########.....",
        "..#.......##....",
        "..#.......#.#...",
        "..#.......####..",
        "..#..........#..",
        "..#.######...#..",
        "..#..........#..",
        "..#.#######..#..",
        "..#..........#..",
        "..#.######...#..",
        "..#..........#..",
        "..#.#######..#..",
        "..#..........#..",
        "..#..........#..",
        "..############..",
        "................"],
    'audio': [
        "................",
        "..........##....",
        "........####....",
        "......####.#....",
        "......##...#....",
        "......#....#....",
        "......#....#....",
        "......#....#....",
        "......#....#....",
        "......#..###....",
        "......#.####....",
        "....###.####....",
        "...####..##.....",
        "...####.........",
        "....##..........",
        "................"],
    'video': [
        "................",
        "#.############.#",
        "################",
        "#.#bbbbbbbbbb#.#",
        "###bbbbbbbbbb###",
        "#.#bbbbbbbbbb#.#",
        "###bbbbbbbbbb###",
        "#.############.#",
        "###bbbbbbbbbb###",
        "#.#bbbbbbbbbb#.#",
        "###bbbbbbbbbb###",
        "#.#bbbbbbbbbb#.#",
        "################",
        "#.############.#",
        "................",
        "................"],
    'image': [
        "................",
        "################",
        "#bbbbbbbbbbbbbb#",
        "#bbbbbbbbbyybbb#",
        "#bbbbbbbbbyybbb#",
        "#bbbbbbbbbbbbbb#",
        "#bbbbb#bbbbbbbb#",
        "#bbbb###bbbbbbb#",
        "#bbb#####bb#bbb#",
        "#bb###########b#",
        "#b#############b",
        "################",
        "................",
        "................",
        "................",
        "................"],
    'binary': [
        "..#########.....",
        "..#.......##....",
        "..#.......#.#...",
        "..#..#..#.####..",
        "..#.##.##....#..",
        "..#..#..#....#..",
        "..#..#..#....#..",
        "..#.###.###..#..",
        "..#..........#..",
        "..#.##..#....#..",
        "..#.#.#.##...#..",
        "..#.#.#..#...#..",
        "..#.##..###..#..",
        "..#..........#..",
        "..############..",
        "................"],
    'blank': ["." * 16] * 16,
    'back': [
        "................",
        "................",
        "......#.........",
        ".....##.........",
        "....###.........",
        "...##########...",
        "..###########...",
        "...##########...",
        "....###......#..",
        ".....##......#..",
        "......#......#..",
        ".............#..",
        ".............#..",
        "................",
        "................",
        "................"],
}


def gif(rows):
    width, height = len(rows[0]), len(rows)
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', width, height, 0x81, 0, 0)  # 4-entry global colour table
    for key in ORDER:
        out += bytes(PALETTE[key])
    out += b'\x21\xf9\x04\x01\x00\x00\x00\x00'  # white is transparent
    out += b',' + struct.pack('<HHHHB', 0, 0, width, height, 0)
    min_code = 2
    clear, end = 1 << min_code, (1 << min_code) + 1
    width_bits = min_code + 1
    pixels = [ORDER.index(c) for row in rows for c in row]
    codes = []
    for i, p in enumerate(pixels):
        # A clear code every two pixels keeps the code width at 3 bits.
        if i % 2 == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(end)
    bits, nbits, data = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += width_bits
        while nbits >= 8:
            data.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        data.append(bits & 0xFF)
    out.append(min_code)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out += block
    out += b'\x00;'
    return bytes(out)


def main():
    target = os.path.join(os.path.dirname(__file__), '..', 'dist', 'ICONS')
    os.makedirs(target, exist_ok=True)
    for name, rows in ICONS.items():
        assert len(rows) == 16 and all(len(r) == 16 for r in rows), name
        with open(os.path.join(target, name + '.gif'), 'wb') as f:
            f.write(gif(rows))


if __name__ == '__main__':
    main()
