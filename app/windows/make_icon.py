#!/usr/bin/env python3
"""Draws pellucor.ico: a database drum with a green rebuild arrow, 32x32 and 16x16, 16 colours.

The build uses the checked-in pellucor.ico; run this only to change the picture:
    python3 app/windows/make_icon.py app/windows/pellucor.ico
"""
import math
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, NAVY, TEAL, SILVER, GREY, LIME, BLUE, AQUA, WHITE = 0, 2, 4, 6, 7, 8, 10, 12, 14, 15
CLEAR = None


def draw(size):
    """The picture at `size` pixels, as rows of palette indexes (None is transparent)."""
    s = size / 32.0
    cx, rx, ry = 13.0 * s, 10.5 * s, 3.5 * s  # the drum: centre, half width, lid depth
    top, bottom = 7.5 * s, 23.5 * s
    bands = (13.0 * s, 18.5 * s)
    ax, ay = 22.5 * s, 22.5 * s  # the arrow's ring
    outer, inner = 8.5 * s, 4.7 * s
    mid = (outer + inner) / 2
    gap_from, gap_to = -90.0, -25.0  # degrees, y pointing down: the ring is open at the upper right
    head = ((ax - 1.0 * s, ay - outer - 3.2 * s), (ax - 1.0 * s, ay - inner + 3.2 * s), (ax + 6.5 * s, ay - mid))

    def half(fx):
        d = (fx - cx) / rx
        return ry * math.sqrt(1 - d * d) if abs(d) <= 1 else None

    def drum(fx, fy):
        h = half(fx)
        if h is None or fy < top - h or fy > bottom + h:
            return None
        if fy <= top + h:
            return "lid"
        d = (fx - cx) / rx
        for b in bands:
            if abs(fy - (b + h)) < 0.5 * max(s, 0.75):
                return "band"
        return "light" if d < -0.5 else ("body" if d < 0.45 else "shade")

    def in_triangle(p, a, b, c):
        def side(p1, p2, p3):
            return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])
        d1, d2, d3 = side(p, a, b), side(p, b, c), side(p, c, a)
        return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))

    def arrow(fx, fy):
        r = math.hypot(fx - ax, fy - ay)
        a = math.degrees(math.atan2(fy - ay, fx - ax))
        if inner <= r <= outer and not gap_from < a < gap_to:
            return True
        return in_triangle((fx, fy), *head)

    px = [[CLEAR] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            fx, fy = x + 0.5, y + 0.5
            if arrow(fx, fy):
                edge = any(not arrow(fx + dx, fy + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                px[y][x] = DARK_GREEN if edge else LIME
                continue
            if any(arrow(fx + dx, fy + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                if drum(fx, fy) or size > 16:
                    px[y][x] = DARK_GREEN
                    continue
            part = drum(fx, fy)
            if part is None:
                continue
            around = [drum(fx + dx, fy + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))]
            if None in around or (part != "lid" and around[3] == "lid"):
                px[y][x] = BLACK
            elif part == "lid":
                px[y][x] = WHITE if (fx - cx) < -0.35 * rx and fy < top else AQUA
            else:
                px[y][x] = {"band": SILVER, "light": AQUA, "body": TEAL, "shade": NAVY}[part]
    return px


def halve(px):
    """The 32-pixel picture at 16 pixels: each 2 x 2 block becomes its commonest colour, with the
    arrow's lime and the drum's outline winning ties, so the small picture keeps its shapes."""
    size = len(px) // 2
    rank = [LIME, BLACK, DARK_GREEN, AQUA, TEAL, NAVY, WHITE, SILVER]
    out = [[CLEAR] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            block = [px[2 * y + j][2 * x + i] for j in (0, 1) for i in (0, 1)]
            if block.count(CLEAR) > 2:
                continue
            colours = [c for c in block if c is not CLEAR]
            out[y][x] = max(colours, key=lambda c: (colours.count(c), -rank.index(c)))
    return out


def dib(px):
    """One icon image: header, palette, 4-bit colour rows and the 1-bit mask, bottom row first."""
    size = len(px)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_row = ((size * 4 + 31) // 32) * 4
    mask_row = ((size + 31) // 32) * 4
    colours, mask = b"", b""
    for row in reversed(px):
        bits = bytearray(colour_row)
        for x, c in enumerate(row):
            value = 0 if c is None else c
            bits[x // 2] |= value << (4 if x % 2 == 0 else 0)
        colours += bytes(bits)
        m = bytearray(mask_row)
        for x, c in enumerate(row):
            if c is None:
                m[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(m)
    return header + palette + colours + mask


def main(path):
    images = [dib(draw(32)), dib(halve(draw(32)))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "pellucor.ico")
