#!/usr/bin/python3
"""Write the installer icon: an .ico with two 16-colour images (32x32, 16x16).

Usage: make_icon.py OUTPUT.ico

Each image is a classic 4-bit-per-pixel DIB: BITMAPINFOHEADER (biHeight is
twice the image height), a 16-entry palette, the XOR bitmap (bottom-up,
rows padded to 4 bytes) and a 1-bit AND mask (all zero = fully opaque).

The picture is a blue square with a white key cap on it, a dark grey
outline around the cap and a blue letter-like mark in its middle.
To change the picture, edit PALETTE and draw(); everything else is format.
"""
import struct
import sys

# 16 palette entries as (R, G, B). Index numbers are used by draw().
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1
    (0x00, 0x80, 0x00),  # 2
    (0x80, 0x80, 0x00),  # 3
    (0x00, 0x00, 0x80),  # 4 dark blue (square border)
    (0x80, 0x00, 0x80),  # 5
    (0x00, 0x80, 0x80),  # 6
    (0xC0, 0xC0, 0xC0),  # 7 light grey (cap shadow)
    (0x80, 0x80, 0x80),  # 8 dark grey (cap outline)
    (0xFF, 0x00, 0x00),  # 9
    (0x00, 0xFF, 0x00),  # 10
    (0xFF, 0xFF, 0x00),  # 11
    (0x00, 0x00, 0xFF),  # 12 blue (background, mark)
    (0xFF, 0x00, 0xFF),  # 13
    (0x00, 0xFF, 0xFF),  # 14
    (0xFF, 0xFF, 0xFF),  # 15 white (cap)
]
BORDER, SHADOW, OUTLINE, BLUE, WHITE = 4, 7, 8, 12, 15


def draw(size):
    """Return size rows (top row first) of size palette indices each."""
    px = [[BLUE] * size for _ in range(size)]
    for i in range(size):                      # dark blue frame
        px[0][i] = px[size - 1][i] = px[i][0] = px[i][size - 1] = BORDER
    m = size // 5                              # margin around the key cap
    top, left, bottom, right = m, m, size - 1 - m, size - 1 - m
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = y in (top, bottom) or x in (left, right)
            px[y][x] = OUTLINE if edge else WHITE
    sh = max(1, size // 16)                    # shadow along the cap bottom
    for y in range(bottom - sh, bottom):
        for x in range(left + 1, right):
            px[y][x] = SHADOW
    c = size // 2                              # a "+" mark in the middle
    arm = max(1, size // 8)                    # half length of each bar
    w = max(1, size // 16)                     # bar thickness
    for d in range(-arm, arm):
        for t in range(-w, w) if w > 1 else (0,):
            px[c + t][c + d] = BLUE            # horizontal bar
            px[c + d][c + t] = BLUE            # vertical bar
    return px


def dib(size):
    """Build the icon image bytes (header + palette + XOR + AND)."""
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    for row in reversed(px):                   # DIBs are stored bottom-up
        line = bytearray()
        for x in range(0, size, 2):
            line.append((row[x] << 4) | row[x + 1])
        xor += line + b'\0' * (xor_stride - len(line))
    and_mask = b'\0' * (and_stride * size)     # every pixel opaque
    return header + palette + bytes(xor) + and_mask


def ico(sizes=(32, 16)):
    images = [dib(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        # width, height, colour count, reserved, planes, bit count, size, offset
        out += struct.pack('<BBBBHHII', s, s, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write('usage: make_icon.py OUTPUT.ico\n')
        return 2
    with open(argv[1], 'wb') as f:
        f.write(ico())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
