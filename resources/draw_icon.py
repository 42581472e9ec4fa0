#!/usr/bin/env python3
"""Draws Vellumbrook's shield and writes it as a Windows icon file.

    draw_icon.py OUTPUT.ico [PREVIEW_DIR]

Plain Python 3, no imaging library: the shield is a few lines and arcs, so
each pixel's coverage is measured by sampling it on a fine grid. The small
sizes are not downscales of the large one: 16 px is drawn pixel by pixel, and
24 and 32 px have their own geometry, snapped to the pixel grid, so that they
stay sharp.

The .ico holds 16, 24, 32, 48, 64 and 128 px as 32-bit DIBs (BGRA with an
AND mask, which every version of Windows reads) and 256 px as a PNG (which
Vista and later read, and which keeps the file small). With PREVIEW_DIR, each
size is also written there as vellumbrook-N.png.
"""

import math
import os
import struct
import sys
import zlib

SQRT2 = math.sqrt(2.0)

# Colours, as (R, G, B).
FILL = (43, 58, 103)  # the deep blue of the shield's face
FILL_TOP = (52, 70, 124)  # large sizes: the face lightens towards the top...
FILL_BOTTOM = (37, 50, 89)  # ...and darkens towards the tip
RIM = (118, 144, 209)  # the lighter edge
OUTLINE = (24, 33, 61)  # large sizes: a dark hairline outside the rim
MARK = (255, 255, 255)  # the check mark

DIB_SIZES = (16, 24, 32, 48, 64, 128)
PNG_SIZE = 256


class Shield:
    """A shield: flat top with rounded corners, straight sides down to y = ym,
    then two arcs that meet at the tip. Each arc is tangent to its side at ym;
    inset() moves every edge inwards by the same distance, arcs included."""

    def __init__(self, left, right, top, bottom, ym, corner):
        half = (right - left) / 2.0
        drop = bottom - ym
        # The arc through (left, ym), tangent there to the side, through the tip.
        radius = (half * half + drop * drop) / (2.0 * half)
        self.left, self.right, self.top, self.ym = left, right, top, ym
        self.corner = corner
        self.arc_left = left + radius  # centre x of the left side's arc
        self.arc_right = right - radius
        self.radius = radius

    def inset(self, d):
        s = object.__new__(Shield)
        s.left, s.right, s.top, s.ym = self.left + d, self.right - d, self.top + d, self.ym
        s.corner = max(self.corner - d, 0.0)
        s.arc_left, s.arc_right, s.radius = self.arc_left, self.arc_right, self.radius - d
        return s

    def contains(self, x, y):
        if y < self.top or x < self.left or x > self.right:
            return False
        if y <= self.ym:
            c = self.corner
            if c > 0 and y < self.top + c:
                cy = self.top + c
                if x < self.left + c:
                    return (x - self.left - c) ** 2 + (y - cy) ** 2 <= c * c
                if x > self.right - c:
                    return (x - self.right + c) ** 2 + (y - cy) ** 2 <= c * c
            return True
        r2 = self.radius * self.radius
        dy2 = (y - self.ym) ** 2
        return (x - self.arc_left) ** 2 + dy2 <= r2 and (x - self.arc_right) ** 2 + dy2 <= r2


class Check:
    """A check mark: two strokes of one width through three points, with
    mitred joint and square-cut ends."""

    def __init__(self, points, width):
        self.points, self.half = points, width / 2.0
        self.segments = list(zip(points, points[1:]))

    def contains(self, x, y):
        for (ax, ay), (bx, by) in self.segments:
            dx, dy = bx - ax, by - ay
            length2 = dx * dx + dy * dy
            t = ((x - ax) * dx + (y - ay) * dy) / length2
            # Extend each stroke by half its width past the joint so that the
            # two overlap into a square corner, but not past the free ends.
            ext = self.half / math.sqrt(length2)
            lo = 0.0 if (ax, ay) == self.points[0] else -ext
            hi = 1.0 if (bx, by) == self.points[-1] else 1.0 + ext
            if t < lo or t > hi:
                continue
            dist = abs((x - ax) * dy - (y - ay) * dx) / math.sqrt(length2)
            if dist <= self.half:
                return True
        return False


def coverage(shape, size, grid):
    """Fraction of each pixel inside shape, sampled on grid x grid points."""
    step = 1.0 / grid
    offsets = [(i + 0.5) * step for i in range(grid)]
    total = grid * grid
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = 0
            for oy in offsets:
                y = py + oy
                for ox in offsets:
                    if shape.contains(px + ox, y):
                        hits += 1
            row.append(hits / total)
        rows.append(row)
    return rows


def over(dst, colour, alpha):
    """Straight-alpha 'over' of one colour with alpha onto an RGBA float pixel."""
    r, g, b, a = dst
    out_a = alpha + a * (1.0 - alpha)
    if out_a <= 0.0:
        return (0.0, 0.0, 0.0, 0.0)
    blended = [(c * alpha + d * a * (1.0 - alpha)) / out_a for c, d in zip(colour, (r, g, b))]
    return (blended[0], blended[1], blended[2], out_a)


def layout(size):
    """Per-size geometry, in pixels; 16 px is drawn by hand (PIXELS_16).

    At 24 and 32 px the rim's inner edge lies on pixel boundaries (only the
    silhouette gets soft pixels), and the check's strokes are 45-degree bands
    whose edges pass through pixel corners: each row of a stroke is then whole
    pixels with one half pixel at either end. A band of horizontal width n has
    a width of n / sqrt(2); with n even, its centre line runs through pixel
    corners, with n odd, through the middle of pixel sides.
    The sizes from 48 px up follow the 48 px proportions."""
    if size == 24:
        return dict(box=(1.5, 22.5, 0.5, 24), ym=10, corner=3.5, rim=1.5, outline=0,
                    check=[(6, 11), (10, 15), (18, 7)], check_width=4 / SQRT2)
    if size == 32:
        return dict(box=(2, 30, 1, 32), ym=13, corner=4.5, rim=2, outline=0,
                    check=[(8, 15), (14, 21), (24, 11)], check_width=6 / SQRT2)
    k = size / 48.0
    return dict(box=(3 * k, 45 * k, 1.5 * k, 47.5 * k), ym=19.5 * k, corner=7 * k,
                rim=3 * k, outline=k,
                check=[(13 * k, 24 * k), (21 * k, 32 * k), (35 * k, 18 * k)],
                check_width=5.5 * k)


# 16 px is drawn pixel by pixel: at that size a 1 px rim that follows a curve
# turns to grey half-tones, and the check reads best as a staircase of whole
# pixels, three to a row.
PIXELS_16 = (
    ".aooooooooooooa.",
    ".or##########ro.",
    ".o############o.",
    ".o#########WW#o.",
    ".o########WWW#o.",
    ".o#######WWW##o.",
    ".o#WW###WWW###o.",
    ".o#WWW#WWW####o.",
    ".ao#WWWWW####oa.",
    "..o##WWW#####o..",
    "..ao##W#####oa..",
    "...o########o...",
    "...ao######oa...",
    "....oo####oo....",
    ".....oo##oo.....",
    "......aooa......",
)


def mix(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


PALETTE_16 = {
    ".": (0, 0, 0, 0),
    "o": RIM + (255,),
    "a": RIM + (140,),  # rim pixel that the silhouette only partly covers
    "r": mix(RIM, FILL, 0.5) + (255,),  # the rounded inner corners
    "#": FILL + (255,),
    "W": MARK + (255,),
}


def lerp(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def render(size):
    """The icon at one size, as rows of (R, G, B, A) bytes."""
    if size == 16:
        return [[PALETTE_16[c] for c in line] for line in PIXELS_16]
    g = layout(size)
    left, right, top, bottom = g["box"]
    outer = Shield(left, right, top, bottom, g["ym"], g["corner"])
    grid = 16 if size <= 64 else 6
    layers = []
    if g["outline"]:
        layers.append((OUTLINE, coverage(outer, size, grid)))
        outer = outer.inset(g["outline"])
    layers.append((RIM, coverage(outer, size, grid)))
    face = outer.inset(g["rim"])
    face_cover = coverage(face, size, grid)
    mark_cover = coverage(Check(g["check"], g["check_width"]), size, grid)
    shaded = size >= 48

    rows = []
    for y in range(size):
        t = min(max((y - top) / (bottom - top), 0.0), 1.0)
        fill = lerp(FILL_TOP, FILL_BOTTOM, t) if shaded else FILL
        row = []
        for x in range(size):
            px = (0.0, 0.0, 0.0, 0.0)
            for colour, cover in layers:
                px = over(px, colour, cover[y][x])
            px = over(px, fill, face_cover[y][x])
            # The mark is drawn only where the face is.
            px = over(px, MARK, min(mark_cover[y][x], face_cover[y][x]))
            row.append(tuple(int(round(c)) for c in px[:3]) + (int(round(px[3] * 255)),))
        rows.append(row)
    return rows


def png_bytes(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib_bytes(rows):
    """BITMAPINFOHEADER, BGRA pixels bottom-up, then the 1-bit AND mask."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:  # fully transparent: set in the mask for pre-alpha readers
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    # The height counts the colour image and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def ico_bytes(images):
    """images: (size, bytes) pairs, in the order they go in the directory."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = 0 if size >= 256 else size  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write("usage: draw_icon.py OUTPUT.ico [PREVIEW_DIR]\n")
        return 2
    rendered = {size: render(size) for size in DIB_SIZES + (PNG_SIZE,)}
    images = [(size, dib_bytes(rendered[size])) for size in DIB_SIZES]
    images.append((PNG_SIZE, png_bytes(rendered[PNG_SIZE])))
    with open(argv[1], "wb") as f:
        f.write(ico_bytes(images))
    if len(argv) == 3:
        os.makedirs(argv[2], exist_ok=True)
        for size, rows in rendered.items():
            with open(os.path.join(argv[2], "vellumbrook-%d.png" % size), "wb") as f:
                f.write(png_bytes(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
