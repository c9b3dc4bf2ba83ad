#!/usr/bin/env python3
"""Draws Nebla's built-in pictures and icon and writes them next to this script.

Outputs: glyphs.bmp (the 47-glyph strip the text writer reads), trible.bmp
(the grey fur ball of the right mouse button), outro.bmp (the end picture
that slides up on quit), nebla.ico (the window icon) and nebla.png (the same
emblem for desktop entries).

Everything is drawn from code with the standard library only, and the output
is byte-for-byte the same on every run, so the files can be regenerated and
diffed.  `--preview DIR` also writes enlarged PNG versions for looking at.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------------------
# File formats
# ---------------------------------------------------------------------------

def bmp_bytes(width, height, bits, table, rows):
    """A bottom-up BI_RGB bitmap; `rows` are lists of palette indices, top
    row first; `table` is a list of (r, g, b)."""
    stride = (width * bits + 31) // 32 * 4
    body = bytearray()
    for row in reversed(rows):
        packed = bytearray()
        if bits == 8:
            packed.extend(row)
        elif bits == 4:
            for x in range(0, width, 2):
                hi = row[x]
                lo = row[x + 1] if x + 1 < width else 0
                packed.append(hi << 4 | lo)
        else:
            raise ValueError("unsupported depth")
        packed.extend(bytes(stride - len(packed)))
        body.extend(packed)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in table)
    offset = 14 + 40 + len(colours)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0,
                       len(body), 2835, 2835, len(table), 0)
    head = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    return head + info + colours + bytes(body)


def png_bytes(width, height, rgba):
    """An 8-bit RGBA PNG from a flat list of (r, g, b, a) tuples."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for r, g, b, a in rgba[y * width:(y + 1) * width]:
            raw.extend((r, g, b, a))

    def chunk(kind, data):
        crc = zlib.crc32(kind + data) & 0xFFFFFFFF
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def ico_bytes(images):
    """A Windows icon from (size, rgba) pairs: 32-bit BGRA plus AND mask."""
    blobs = []
    for size, rgba in images:
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                           0, 0, 0, 0, 0)
        pixels = bytearray()
        mask = bytearray()
        mask_stride = (size + 31) // 32 * 4
        for y in reversed(range(size)):
            bits = bytearray(mask_stride)
            for x in range(size):
                r, g, b, a = rgba[y * size + x]
                pixels.extend((b, g, r, a))
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask.extend(bits)
        blobs.append((size, info + bytes(pixels) + bytes(mask)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for size, blob in blobs:
        dim = size if size < 256 else 0
        out.extend(struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32,
                               len(blob), offset))
        offset += len(blob)
    for _, blob in blobs:
        out.extend(blob)
    return bytes(out)


def rgb_to_rgba(pixels):
    return [(r, g, b, 255) for r, g, b in pixels]


def scale_up(width, height, pixels, factor):
    """Nearest-neighbour enlargement for the previews."""
    out = []
    for y in range(height * factor):
        row = pixels[(y // factor) * width:(y // factor + 1) * width]
        for p in row:
            out.extend([p] * factor)
    return out


# ---------------------------------------------------------------------------
# Stroke geometry shared by the glyphs and the outro lettering
# ---------------------------------------------------------------------------

def arc(cx, cy, rx, ry, a0, a1, steps=None):
    """Polyline along an ellipse; angles in degrees, 0 = right, 90 = up."""
    if steps is None:
        steps = max(6, int(abs(a1 - a0) / 8))
    pts = []
    for k in range(steps + 1):
        a = math.radians(a0 + (a1 - a0) * k / steps)
        pts.append((cx + rx * math.cos(a), cy - ry * math.sin(a)))
    return pts


def ellipse(cx, cy, rx, ry):
    return arc(cx, cy, rx, ry, 0, 360, 48)


def polyline_segments(paths):
    segs = []
    for path in paths:
        if len(path) == 1:
            segs.append((path[0], path[0]))
        for a, b in zip(path, path[1:]):
            segs.append((a, b))
    return segs


def segment_distance(px, py, seg):
    (ax, ay), (bx, by) = seg
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0
    if length2 > 0.0:
        t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    ex, ey = ax + t * dx - px, ay + t * dy - py
    return math.sqrt(ex * ex + ey * ey)


def stroke_distance(px, py, segs):
    return min(segment_distance(px, py, s) for s in segs)


# ---------------------------------------------------------------------------
# Glyph strip (bitmap 114)
# ---------------------------------------------------------------------------
#
# Each glyph is a 16 x 27 cell, drawn as pen strokes on a grid whose integer
# lines fall between pixels: a stroke along x = 3 inks columns 2 and 3.  The
# pen is about 2.6 px wide, so stems come out 2 px and curves 2-3 px; thinner
# details would vanish once the smoke particles redraw the letter with their
# 5 x 5 footprint.  Lower-case letters span rows 7-20 (baseline row 20),
# ascenders reach row 2, descenders row 25, digits start at row 4.

GLYPH_ORDER = "abcdefghijklmnopqrstuvwxyz1234567890.,\xa7!:?/-%MT"
CELL_W, CELL_H = 16, 27
STRIP_W = CELL_W * len(GLYPH_ORDER)
PEN = 1.3
INK, PAPER = (170, 170, 170), (4, 4, 4)

TOP, BASE, ASC, DESC, CAP = 8, 20, 3, 25, 5


def line(*pts):
    return list(pts)


def dot(x0, y0, size=3):
    """A square of whole pixels, top-left pixel (x0, y0)."""
    return (x0, y0, x0 + size - 1, y0 + size - 1)


def glyph_shapes():
    """char -> (stroke paths, pixel rectangles)."""
    bowl = ellipse(8, 14, 5, 6)
    g = {}
    g["a"] = ([arc(8, 11.5, 5, 3.5, 155, 0) + [(13, 20)],
               [(13, 13.5), (7.5, 13.5)] + arc(7.5, 17, 4.5, 3.5, 90, 300)], [])
    g["b"] = ([line((3, ASC), (3, BASE)), bowl], [])
    g["c"] = ([arc(8.5, 14, 5, 6, 45, 315)], [])
    g["d"] = ([line((13, ASC), (13, BASE)), bowl], [])
    g["e"] = ([[(3.5, 14), (13, 14)] + arc(8, 14, 5, 6, 0, 315)], [])
    g["f"] = ([[(6, BASE), (6, 6.5)] + arc(9.5, 6.5, 3.5, 3.5, 180, 35),
               line((2.5, TOP), (11.5, TOP))], [])
    g["g"] = ([ellipse(8, 13.5, 5, 5.5),
               [(13, TOP), (13, 21.5)] + arc(8, 21.5, 5, 3.5, 0, -160)], [])
    g["h"] = ([line((3, ASC), (3, BASE)),
               [(3, 13)] + arc(8, 13, 5, 5, 180, 0) + [(13, BASE)]], [])
    g["i"] = ([line((4.5, TOP), (8, TOP), (8, BASE)),
               line((4, BASE), (12.5, BASE))], [dot(7, 2)])
    g["j"] = ([[(5.5, TOP), (10, TOP), (10, 21.5)] + arc(6.5, 21.5, 3.5, 3.5, 0, -150)],
              [dot(9, 2)])
    g["k"] = ([line((3, ASC), (3, BASE)), line((12.5, TOP), (3.5, 15.5)),
               line((7, 13), (13, BASE))], [])
    g["l"] = ([[(4.5, ASC), (8, ASC), (8, 17)] + arc(11, 17, 3, 3, 180, 270)
               + [(12.5, BASE)]], [])
    g["m"] = ([line((2, TOP), (2, BASE)),
               [(2, 12)] + arc(5, 12, 3, 4, 180, 0) + [(8, BASE)],
               [(8, 12)] + arc(11, 12, 3, 4, 180, 0) + [(14, BASE)]], [])
    g["n"] = ([line((3, TOP), (3, BASE)),
               [(3, 13)] + arc(8, 13, 5, 5, 180, 0) + [(13, BASE)]], [])
    g["o"] = ([bowl], [])
    g["p"] = ([line((3, TOP), (3, DESC)), bowl], [])
    g["q"] = ([line((13, TOP), (13, DESC)), bowl], [])
    g["r"] = ([line((4, TOP), (4, BASE)),
               [(4, 13.5)] + arc(9, 13, 5, 5, 180, 50)], [])
    g["s"] = ([arc(8, 11, 4.5, 3, 25, 270) + arc(8, 17, 4.8, 3, 90, -155)], [])
    g["t"] = ([[(6, 4), (6, 16.5)] + arc(9.5, 16.5, 3.5, 3.5, 180, 270) + [(12.5, BASE)],
               line((2.5, TOP), (12, TOP))], [])
    g["u"] = ([[(3, TOP), (3, 14)] + arc(8, 14, 5, 6, 180, 360),
               line((13, TOP), (13, BASE))], [])
    g["v"] = ([line((3, TOP), (8, BASE), (13, TOP))], [])
    g["w"] = ([line((2, TOP), (5, BASE), (8, 12), (11, BASE), (14, TOP))], [])
    g["x"] = ([line((3, TOP), (13, BASE)), line((13, TOP), (3, BASE))], [])
    g["y"] = ([line((3, TOP), (8.5, 19.5)), line((13, TOP), (5.5, DESC))], [])
    g["z"] = ([line((3, TOP), (13, TOP), (3, BASE), (13, BASE))], [])
    g["1"] = ([line((4.5, 8.5), (8.5, CAP), (8.5, BASE)),
               line((4.5, BASE), (12.5, BASE))], [])
    g["2"] = ([arc(8, 9, 4.7, 4, 160, -40) + [(3, BASE), (13, BASE)]], [])
    g["3"] = ([arc(8, 8.75, 4.5, 3.75, 150, -90) + arc(8, 16.25, 5, 3.75, 90, -150)], [])
    g["4"] = ([line((11, BASE), (11, CAP), (3, 15.5), (13.5, 15.5))], [])
    g["5"] = ([[(12.5, CAP), (4.5, CAP), (4, 11.8)]
               + arc(8, 15.25, 5, 4.75, 135, -150)], [])
    g["6"] = ([arc(8.5, 13, 5.5, 8, 70, 180) + [(3, 15.5)], ellipse(8, 15.5, 5, 4.5)], [])
    g["7"] = ([line((3, CAP), (13, CAP), (6.5, BASE))], [])
    g["8"] = ([ellipse(8, 8.75, 4.2, 3.75), ellipse(8, 16.25, 5, 3.75)], [])
    g["9"] = ([ellipse(8, 9.5, 5, 4.5), [(13, 9.5)] + arc(7.5, 12, 5.5, 8, 0, -110)], [])
    g["0"] = ([ellipse(8, 12.5, 5, 7.5), line((10.5, 9), (5.5, 16))], [])
    g["."] = ([], [dot(7, 18)])
    g[","] = ([line((9.5, 20), (7, 24))], [dot(7, 18)])
    g["\xa7"] = ([line((8.5, 3), (8.5, 7.5))], [])
    g["!"] = ([line((8.5, ASC), (8.5, 14.5))], [dot(7, 18)])
    g[":"] = ([], [dot(7, 9), dot(7, 18)])
    g["?"] = ([arc(8, 7.5, 4.5, 4, 155, -60) + [(8.5, 12.5), (8.5, 14.5)]], [dot(7, 18)])
    g["/"] = ([line((12.5, ASC), (3.5, 22))], [])
    g["-"] = ([line((4.5, 14), (11.5, 14))], [])
    g["%"] = ([ellipse(5, 7.5, 2.8, 3), ellipse(11, 17.5, 2.8, 3),
               line((12.5, 4), (3.5, 21))], [])
    return g


def mark_shapes():
    """The framed two-cell mark that the M and T cells draw together, in
    strip coordinates relative to the M cell; it ends before the strip's last
    two columns."""
    left, right, top, bottom = 2, 29, 3, 24
    frame = [(left, top), (right, top), (right, bottom), (left, bottom), (left, top)]
    t_stem = [(8, 7), (8, 16)] + arc(11, 16, 3, 3, 180, 270) + [(12, 19)]
    t_bar = [(5, 11), (11.5, 11)]
    m = [line((16, 11), (16, 19)),
         [(16, 14)] + arc(18.25, 14, 2.25, 3, 180, 0) + [(20.5, 19)],
         [(20.5, 14)] + arc(22.75, 14, 2.25, 3, 180, 0) + [(25, 19)]]
    return [frame, t_stem, t_bar] + m


def rasterise(segs, rects, width, height):
    """Ink mask (list of rows of 0/1) of strokes and pixel rectangles."""
    mask = [[0] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            if segs and stroke_distance(x + 0.5, y + 0.5, segs) <= PEN:
                mask[y][x] = 1
    for x0, y0, x1, y1 in rects:
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                mask[y][x] = 1
    return mask


def glyph_strip():
    """Rows of 0 (paper) / 1 (ink) for the whole 752 x 27 strip."""
    shapes = glyph_shapes()
    strip = [[0] * STRIP_W for _ in range(CELL_H)]
    for i, ch in enumerate(GLYPH_ORDER[:-2]):
        paths, rects = shapes[ch]
        cell = rasterise(polyline_segments(paths), rects, CELL_W, CELL_H)
        check_margin(ch, cell, CELL_W - 2)
        for y in range(CELL_H):
            strip[y][i * CELL_W:(i + 1) * CELL_W] = cell[y]
    mark = rasterise(polyline_segments(mark_shapes()), [], 2 * CELL_W, CELL_H)
    check_margin("MT", mark, 2 * CELL_W - 3)
    x0 = (len(GLYPH_ORDER) - 2) * CELL_W
    for y in range(CELL_H):
        strip[y][x0:x0 + 2 * CELL_W] = mark[y]
    return strip


def check_margin(name, cell, last_column):
    """Refuses a glyph that inks its cell's top or bottom row, its first
    column or any column after `last_column`."""
    for y, row in enumerate(cell):
        for x, v in enumerate(row):
            edge = x == 0 or x > last_column or y == 0 or y == len(cell) - 1
            if v and edge:
                raise SystemExit(f"glyph {name!r} inks its margin at ({x}, {y})")
    if not any(any(row) for row in cell):
        raise SystemExit(f"glyph {name!r} is empty")


def glyphs_bmp(strip):
    table = [PAPER, INK] + [PAPER] * 14
    return bmp_bytes(STRIP_W, CELL_H, 4, table, strip)


def smoke_view(mask, width, height):
    """What the letters look like once redrawn by particles: four particles
    per ink pixel, each adding the 21-cell footprint."""
    out = [[0] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            if not mask[y][x]:
                continue
            for dy in range(-2, 3):
                for dx in range(-2, 3):
                    if abs(dx) == 2 and abs(dy) == 2:
                        continue
                    yy, xx = y + dy, x + dx
                    if 0 <= yy < height and 0 <= xx < width:
                        out[yy][xx] = min(255, out[yy][xx] + 4)
    return out


# ---------------------------------------------------------------------------
# Deterministic noise
# ---------------------------------------------------------------------------

def hash01(*ints):
    """A repeatable pseudo-random number in [0, 1) for integer coordinates."""
    h = 2166136261
    for v in ints:
        h = ((h ^ (v & 0xFFFFFFFF)) * 16777619) & 0xFFFFFFFF
        h ^= h >> 13
        h = (h * 1274126177) & 0xFFFFFFFF
    h ^= h >> 16
    return h / 4294967296.0


def smooth(t):
    return t * t * (3.0 - 2.0 * t)


def noise1_periodic(x, period, seed):
    """Smooth value noise along a loop of `period` lattice points."""
    i = math.floor(x)
    t = smooth(x - i)
    a, b = hash01(seed, i % period), hash01(seed, (i + 1) % period)
    return a + (b - a) * t


def noise2(x, y, seed):
    """Smooth value noise in the plane, in [0, 1)."""
    ix, iy = math.floor(x), math.floor(y)
    tx, ty = smooth(x - ix), smooth(y - iy)
    a = hash01(seed, ix, iy)
    b = hash01(seed, ix + 1, iy)
    c = hash01(seed, ix, iy + 1)
    d = hash01(seed, ix + 1, iy + 1)
    top = a + (b - a) * tx
    bottom = c + (d - c) * tx
    return top + (bottom - top) * ty


def fbm(x, y, seed, octaves=5):
    total, amp, norm = 0.0, 1.0, 0.0
    for o in range(octaves):
        total += amp * noise2(x, y, seed + 101 * o)
        norm += amp
        x, y = x * 2.03 + 17.1, y * 2.03 - 9.7
        amp *= 0.5
    return total / norm


# ---------------------------------------------------------------------------
# The Trible (bitmap 120)
# ---------------------------------------------------------------------------
#
# A grey fur ball on pure black.  The right mouse button samples its pixels
# above 10 as smoke targets, so the black background and the black pupils
# stay empty while everything else fills with smoke.

TRIBLE_W, TRIBLE_H = 81, 61
BALL_X, BALL_Y, BALL_RX, BALL_RY = 40.0, 32.0, 20.0, 17.5
CROWN_X, CROWN_Y = 40.0, 12.0
EYES = ((32.5, 27.5), (48.0, 27.5))


def fur_radius(angle):
    """Distance from the ball's middle to its fur tips, in units of the
    ball's radii: a soft outline with tufts of hair sticking out."""
    turn = angle / (2.0 * math.pi) % 1.0
    tufts = noise1_periodic(turn * 23.0, 23, 7)
    spikes = noise1_periodic(turn * 90.0, 90, 8)
    return 1.0 + 0.08 * tufts + 0.20 * spikes ** 3


def fur_shade(x, y):
    """Grey level of the fur at (x, y): lit from the upper left, with
    strands that fall from the crown."""
    nx, ny = (x - BALL_X) / BALL_RX, (y - BALL_Y) / BALL_RY
    nz = math.sqrt(max(0.0, 1.0 - nx * nx - ny * ny))
    light = max(0.0, -0.45 * nx - 0.55 * ny + 0.70 * nz)
    strand_angle = math.atan2(y - CROWN_Y, x - CROWN_X)
    strand_dist = math.hypot(x - CROWN_X, y - CROWN_Y)
    strands = noise2(strand_angle * 24.0, strand_dist * 0.22, 21)
    fine = noise2(strand_angle * 60.0, strand_dist * 0.5, 22)
    level = 70.0 + 150.0 * light
    return level * (0.55 + 0.35 * strands + 0.22 * fine)


def eye_value(x, y):
    """Grey level inside an eye, or None outside both eyes.  The pupils are
    large and pure black so that they stay visible as holes in the smoke;
    the glint sits on the pupil's rim rather than in the hole."""
    for ex, ey in EYES:
        dx, dy = (x - ex) / 5.2, (y - ey) / 6.0
        if dx * dx + dy * dy > 1.0:
            continue
        px, py = x - (ex + 0.8), y - (ey + 1.0)
        if (px - 2.3) ** 2 + (py + 2.6) ** 2 < 1.1:
            return 255.0
        if px * px / 13.0 + py * py / 17.0 < 1.0:
            return 0.0
        rim = dx * dx + dy * dy
        return 235.0 - 70.0 * rim * rim
    return None


def trible_sample(x, y):
    """Grey level of one point of the picture."""
    eye = eye_value(x, y)
    if eye is not None:
        return eye
    dx, dy = (x - BALL_X) / BALL_RX, (y - BALL_Y) / BALL_RY
    reach = math.hypot(dx, dy)
    tip = fur_radius(math.atan2(dy, dx))
    if reach > tip:
        return 0.0
    fade = min(1.0, (tip - reach) * 9.0)
    smile = math.hypot((x - 40.2) / 4.0, (y - 33.5) / 3.0)
    if y > 34.2 and abs(smile - 1.0) < 0.22:
        return 28.0
    return fur_shade(x, y) * (0.35 + 0.65 * fade)


def trible_pixels():
    """Rows of grey levels, 2 x 2 supersampled."""
    rows = []
    for y in range(TRIBLE_H):
        row = []
        for x in range(TRIBLE_W):
            total = 0.0
            for sy in (0.25, 0.75):
                for sx in (0.25, 0.75):
                    total += trible_sample(x + sx, y + sy)
            v = int(total / 4.0 + 0.5)
            row.append(v if v > 3 else 0)
        rows.append(row)
    return rows


def trible_bmp(rows):
    table = [(i, i, i) for i in range(256)]
    return bmp_bytes(TRIBLE_W, TRIBLE_H, 8, table, rows)


# ---------------------------------------------------------------------------
# The outro picture (bitmap 119)
# ---------------------------------------------------------------------------
#
# 640 x 666, shown through a window of 480 rows that slides from row 0 down
# to row 159.  The bright nebula sits at the top for the first view, the
# name in the middle is visible all the way, and the closing line and the
# small ornament below it come into view as the picture slides; the last 27
# rows are never shown.  The picture is painted in floating-point RGB and
# then reduced to its own 256 colours.

OUTRO_W, OUTRO_H = 640, 666
CLOUD_STEP = 4
NAME_TOP, NAME_HEIGHT, NAME_WIDTH, NAME_GAP, NAME_PEN = 282, 112, 80, 24, 8.5
NAME_KERNING = (4, 4, 2, 0, -10)
CLOSING_TEXT, CLOSING_SCALE, CLOSING_TOP = "thanks for watching", 1.75, 506
ORNAMENT_Y = 590
CORE_X, CORE_Y = 455.0, 150.0


def capital_paths(ch):
    """Centre lines of the five capitals of the name, in a unit box."""
    if ch == "N":
        return [[(0, 1), (0, 0), (1, 1), (1, 0)]]
    if ch == "E":
        return [[(1, 0), (0, 0), (0, 1), (1, 1)], [(0, 0.5), (0.8, 0.5)]]
    if ch == "B":
        return [[(0, 0), (0, 1)],
                [(0, 0), (0.58, 0)] + arc(0.58, 0.25, 0.36, 0.25, 90, -90) + [(0, 0.5)],
                [(0.58, 0.5), (0.62, 0.5)] + arc(0.62, 0.75, 0.38, 0.25, 90, -90)
                + [(0, 1)]]
    if ch == "L":
        return [[(0, 0), (0, 1), (0.92, 1)]]
    if ch == "A":
        return [[(0, 1), (0.5, 0), (1, 1)], [(0.2, 0.64), (0.8, 0.64)]]
    raise ValueError(ch)


def name_letters():
    """(segments, bounding box) of each capital of "NEBLA", in pixels."""
    word = "NEBLA"
    total = len(word) * NAME_WIDTH + (len(word) - 1) * NAME_GAP
    left = (OUTRO_W - total) / 2.0
    letters = []
    for i, ch in enumerate(word):
        x0 = left + i * (NAME_WIDTH + NAME_GAP) + NAME_PEN + NAME_KERNING[i]
        y0 = NAME_TOP + NAME_PEN
        sx, sy = NAME_WIDTH - 2 * NAME_PEN, NAME_HEIGHT - 2 * NAME_PEN
        paths = [[(x0 + u * sx, y0 + v * sy) for u, v in p] for p in capital_paths(ch)]
        box = (x0 - NAME_PEN, y0 - NAME_PEN, x0 + sx + NAME_PEN, y0 + sy + NAME_PEN)
        letters.append((polyline_segments(paths), box))
    return letters


def closing_letters():
    """(segments, bounding box) of each letter of the closing line, drawn
    with the glyph strip's own shapes, enlarged."""
    shapes = glyph_shapes()
    cell = CELL_W * CLOSING_SCALE
    left = (OUTRO_W - len(CLOSING_TEXT) * cell) / 2.0
    letters = []
    for i, ch in enumerate(CLOSING_TEXT):
        if ch == " ":
            continue
        paths, rects = shapes[ch]
        paths = paths + [[((x0 + x1 + 1) / 2.0, (y0 + y1 + 1) / 2.0)]
                         for x0, y0, x1, y1 in rects]
        x0 = left + i * cell
        scaled = [[(x0 + x * CLOSING_SCALE, CLOSING_TOP + y * CLOSING_SCALE)
                   for x, y in p] for p in paths]
        box = (x0, CLOSING_TOP, x0 + cell, CLOSING_TOP + CELL_H * CLOSING_SCALE)
        letters.append((polyline_segments(scaled), box))
    return letters


def sky_colour(y):
    """The empty sky behind everything, darkest at the bottom."""
    t = y / OUTRO_H
    top, mid, bottom = (0.035, 0.02, 0.10), (0.06, 0.025, 0.13), (0.01, 0.02, 0.06)
    if t < 0.5:
        a, b, f = top, mid, t / 0.5
    else:
        a, b, f = mid, bottom, (t - 0.5) / 0.5
    return tuple(a[k] + (b[k] - a[k]) * f for k in range(3))


def nebula_at(x, y):
    """Colour of the gas clouds at (x, y): a domain-warped fractal noise,
    strongest around the bright core and along a band across the top."""
    px, py = x / 170.0, y / 170.0
    wx = fbm(px + 3.1, py + 1.7, 301, 4)
    wy = fbm(px - 5.2, py + 8.3, 302, 4)
    gas = fbm(px + 1.9 * wx, py + 1.9 * wy, 303, 5)
    hue = fbm(px * 0.7 + 4.0 * wx, py * 0.7, 304, 3)
    dust = fbm(px * 2.2 + 9.0, py * 2.2 - 3.0, 305, 4)
    core = math.exp(-((x - CORE_X) ** 2 + ((y - CORE_Y) * 1.4) ** 2) / (2 * 130.0 ** 2))
    band = math.exp(-((y - 120.0 - 0.35 * (OUTRO_W - x)) / 150.0) ** 2)
    lower = 0.35 * math.exp(-((y - 440.0) / 170.0) ** 2)
    envelope = 0.15 + 0.9 * core + 0.55 * band + lower
    density = max(0.0, gas - 0.36) * 2.6 * envelope
    density *= 0.55 + 0.45 * smooth(min(1.0, max(0.0, (dust - 0.3) * 2.5)))
    magenta, violet, teal = (0.95, 0.25, 0.62), (0.45, 0.22, 0.95), (0.12, 0.68, 0.82)
    hue = min(1.0, max(0.0, (hue - 0.5) * 2.6 + 0.5))
    if hue < 0.5:
        a, b, f = teal, violet, smooth(hue / 0.5)
    else:
        a, b, f = violet, magenta, smooth((hue - 0.5) / 0.5)
    colour = [a[k] + (b[k] - a[k]) * f for k in range(3)]
    heart = math.exp(-((x - CORE_X) ** 2 + (y - CORE_Y) ** 2) / (2 * 55.0 ** 2))
    glow = (1.0 * heart, 0.78 * heart, 0.9 * heart)
    return tuple(density * colour[k] + glow[k] * (0.3 + 1.6 * density) for k in range(3))


def cloud_field():
    """The nebula sampled on a coarse grid; smooth enough to interpolate."""
    cols = OUTRO_W // CLOUD_STEP + 2
    rows = OUTRO_H // CLOUD_STEP + 2
    return cols, [[nebula_at(i * CLOUD_STEP, j * CLOUD_STEP) for i in range(cols)]
                  for j in range(rows)]


def paint_background():
    """Sky plus nebula, as three flat channel lists."""
    cols, grid = cloud_field()
    red, green, blue = [], [], []
    for y in range(OUTRO_H):
        j, fy = divmod(y, CLOUD_STEP)
        fy /= CLOUD_STEP
        row0, row1 = grid[j], grid[j + 1]
        sky = sky_colour(y)
        for x in range(OUTRO_W):
            i, fx = divmod(x, CLOUD_STEP)
            fx /= CLOUD_STEP
            a, b, c, d = row0[i], row0[i + 1], row1[i], row1[i + 1]
            out = []
            for k in range(3):
                top = a[k] + (b[k] - a[k]) * fx
                bottom = c[k] + (d[k] - c[k]) * fx
                out.append(sky[k] + top + (bottom - top) * fy)
            red.append(out[0])
            green.append(out[1])
            blue.append(out[2])
    return [red, green, blue]


def add_light(img, x, y, colour, amount):
    if 0 <= x < OUTRO_W and 0 <= y < OUTRO_H:
        i = y * OUTRO_W + x
        for k in range(3):
            img[k][i] += colour[k] * amount


def paint_stars(img):
    """Faint dust of small stars and a few bright ones with four spikes."""
    tints = ((1.0, 1.0, 1.0), (0.75, 0.85, 1.0), (1.0, 0.85, 0.7), (0.9, 0.8, 1.0))
    for n in range(900):
        x = int(hash01(401, n) * OUTRO_W)
        y = int(hash01(402, n) * OUTRO_H)
        level = 0.08 + 0.9 * hash01(403, n) ** 4
        tint = tints[int(hash01(404, n) * len(tints))]
        add_light(img, x, y, tint, level)
        if level > 0.35:
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                add_light(img, x + dx, y + dy, tint, level * 0.35)
    for n in range(14):
        x = int(30 + hash01(411, n) * (OUTRO_W - 60))
        y = int(20 + hash01(412, n) * 560)
        size = 4 + int(hash01(413, n) * 9)
        tint = tints[n % len(tints)]
        for r in range(-size, size + 1):
            fall = (1.0 - abs(r) / (size + 1.0)) ** 2
            add_light(img, x + r, y, tint, 0.9 * fall)
            if r:
                add_light(img, x, y + r, tint, 0.9 * fall)
        for dy in (-1, 0, 1):
            for dx in (-1, 0, 1):
                add_light(img, x + dx, y + dy, tint, 0.5 if dx or dy else 0.6)


def paint_letters(img, letters, pen, fill, glow_colour, glow_reach, glow_strength):
    """Anti-aliased strokes with a soft additive glow around them.
    `fill(x, y, depth)` gives the stroke colour, depth 0 on the centre line
    and 1 at the edge."""
    margin = int(glow_reach * 5)
    x_lo = max(0, int(min(b[0] for _, b in letters)) - margin)
    x_hi = min(OUTRO_W, int(max(b[2] for _, b in letters)) + margin + 1)
    y_lo = max(0, int(min(b[1] for _, b in letters)) - margin)
    y_hi = min(OUTRO_H, int(max(b[3] for _, b in letters)) + margin + 1)
    for y in range(y_lo, y_hi):
        near_row = [(s, b) for s, b in letters if b[1] - margin <= y <= b[3] + margin]
        for x in range(x_lo, x_hi):
            near = [s for s, b in near_row if b[0] - margin <= x <= b[2] + margin]
            if not near:
                continue
            d = min(stroke_distance(x + 0.5, y + 0.5, s) for s in near)
            cover = min(1.0, max(0.0, pen + 0.5 - d))
            glow = glow_strength * math.exp(-max(0.0, d - pen) / glow_reach)
            colour = fill(x, y, min(1.0, d / pen)) if cover > 0.0 else None
            i = y * OUTRO_W + x
            for k in range(3):
                v = img[k][i] + glow_colour[k] * glow
                if colour is not None:
                    v = v * (1.0 - cover) + colour[k] * cover
                img[k][i] = v


def name_fill(x, y, depth):
    t = min(1.0, max(0.0, (y - NAME_TOP) / NAME_HEIGHT))
    top, bottom = (1.0, 0.93, 1.0), (0.55, 0.88, 1.0)
    tube = 0.8 + 0.2 * (1.0 - depth * depth)
    return tuple((top[k] + (bottom[k] - top[k]) * t) * tube for k in range(3))


def closing_fill(x, y, depth):
    return (0.95, 0.9, 1.0)


def paint_ornament(img):
    """A thin line with a small four-pointed star under the closing line."""
    centre = OUTRO_W // 2
    for x in range(centre - 150, centre + 151):
        fall = math.cos((x - centre) / 150.0 * math.pi / 2.0) ** 2
        for dy in (-2, -1, 0, 1, 2):
            add_light(img, x, ORNAMENT_Y + dy, (0.7, 0.6, 1.0),
                      0.55 * fall * math.exp(-dy * dy / 1.2))
    for r in range(-14, 15):
        fall = (1.0 - abs(r) / 15.0) ** 2
        for w in (-1, 0, 1):
            amount = fall * (1.0 if w == 0 else 0.3)
            add_light(img, centre + r, ORNAMENT_Y + w, (1.0, 0.9, 1.0), amount)
            add_light(img, centre + w, ORNAMENT_Y + r, (1.0, 0.9, 1.0), amount)


def paint_outro():
    img = paint_background()
    paint_stars(img)
    paint_letters(img, name_letters(), NAME_PEN, name_fill,
                  (0.65, 0.3, 0.95), 14.0, 0.55)
    paint_letters(img, closing_letters(), PEN * CLOSING_SCALE, closing_fill,
                  (0.3, 0.6, 1.0), 6.0, 0.35)
    paint_ornament(img)
    return img


# Colour reduction: a median cut over the picture's colours, refined by a
# few rounds of k-means, then every pixel mapped to its nearest entry with a
# light ordered dither against banding in the smooth sky.

BAYER4 = (0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5)
WEIGHTS = (3, 4, 2)


def to_bytes(img, dither):
    out = []
    for i in range(OUTRO_W * OUTRO_H):
        x, y = i % OUTRO_W, i // OUTRO_W
        offset = (BAYER4[(y & 3) * 4 + (x & 3)] / 16.0 - 0.47) * dither
        out.append(tuple(min(255, max(0, int(img[k][i] * 255.0 + offset + 0.5)))
                         for k in range(3)))
    return out


def colour_histogram(pixels):
    bins = {}
    for r, g, b in pixels:
        key = (r >> 3, g >> 3, b >> 3)
        entry = bins.get(key)
        if entry is None:
            bins[key] = [r, g, b, 1]
        else:
            entry[0] += r
            entry[1] += g
            entry[2] += b
            entry[3] += 1
    return [(e[0] / e[3], e[1] / e[3], e[2] / e[3], e[3])
            for _, e in sorted(bins.items())]


def median_cut(entries, count):
    boxes = [entries]
    while len(boxes) < count:
        def score(box):
            if len(box) < 2:
                return -1.0
            spread = max(max(e[k] for e in box) - min(e[k] for e in box) for k in range(3))
            return spread * sum(e[3] for e in box)
        best = max(range(len(boxes)), key=lambda n: score(boxes[n]))
        box = boxes[best]
        if score(box) <= 0.0:
            break
        axis = max(range(3), key=lambda k: max(e[k] for e in box) - min(e[k] for e in box))
        box = sorted(box, key=lambda e: (e[axis], e[0], e[1], e[2]))
        half, seen, cut = sum(e[3] for e in box) / 2.0, 0, 1
        for n, e in enumerate(box[:-1]):
            seen += e[3]
            cut = n + 1
            if seen >= half:
                break
        boxes[best:best + 1] = [box[:cut], box[cut:]]
    return [mean_colour(b) for b in boxes]


def mean_colour(entries):
    weight = sum(e[3] for e in entries)
    return tuple(sum(e[k] * e[3] for e in entries) / weight for k in range(3))


def nearest(colour, palette):
    best, best_d = 0, float("inf")
    for n, p in enumerate(palette):
        d = (WEIGHTS[0] * (colour[0] - p[0]) ** 2 + WEIGHTS[1] * (colour[1] - p[1]) ** 2
             + WEIGHTS[2] * (colour[2] - p[2]) ** 2)
        if d < best_d:
            best, best_d = n, d
    return best


def refine(entries, palette, rounds):
    for _ in range(rounds):
        groups = [[] for _ in palette]
        for e in entries:
            groups[nearest(e, palette)].append(e)
        palette = [mean_colour(g) if g else p for g, p in zip(groups, palette)]
    return palette


def reduce_colours(img):
    """(256-entry table, rows of indices) for the painted picture."""
    entries = colour_histogram(to_bytes(img, 0.0))
    palette = refine(entries, median_cut(entries, 256), 4)
    table = sorted({tuple(int(c + 0.5) for c in p) for p in palette},
                   key=lambda c: (2 * c[0] + 5 * c[1] + c[2], c))
    table += [(0, 0, 0)] * (256 - len(table))
    cache = {}
    indices = []
    for r, g, b in to_bytes(img, 7.0):
        key = (r >> 2, g >> 2, b >> 2)
        n = cache.get(key)
        if n is None:
            n = nearest(((r & ~3) + 2, (g & ~3) + 2, (b & ~3) + 2), table)
            cache[key] = n
        indices.append(n)
    rows = [indices[y * OUTRO_W:(y + 1) * OUTRO_W] for y in range(OUTRO_H)]
    return table, rows


def outro_bmp(table, rows):
    return bmp_bytes(OUTRO_W, OUTRO_H, 8, table, rows)


# ---------------------------------------------------------------------------
# Icon (resource 101) and its PNG twin
# ---------------------------------------------------------------------------
#
# A round emblem: a two-armed swirl of glowing smoke on a deep violet disc.

ICON_SIZES = (16, 32, 48)
PNG_SIZE = 64


def emblem_sample(u, v):
    """Colour of the emblem at (u, v) in the unit square, or None outside
    the disc."""
    dx, dy = u - 0.5, v - 0.5
    r = math.hypot(dx, dy) / 0.48
    if r > 1.0:
        return None
    angle = math.atan2(dy, dx)
    arms = 0.5 + 0.5 * math.cos(2.0 * angle + 7.0 * r)
    swirl = arms ** 3 * (1.0 - r) ** 0.6 * 1.4
    core = math.exp(-(r / 0.22) ** 2)
    t = min(1.0, max(0.0, (r - 0.2) * 1.8))
    cyan, magenta = (0.35, 0.9, 1.0), (1.0, 0.35, 0.8)
    smoke = [cyan[k] + (magenta[k] - cyan[k]) * t for k in range(3)]
    disc = (0.10 + 0.10 * r, 0.04 + 0.03 * r, 0.24 + 0.16 * r)
    rim = 0.55 * smooth(max(0.0, (r - 0.88) / 0.12))
    return tuple(min(1.0, disc[k] + smoke[k] * swirl + core + rim * (0.6, 0.45, 1.0)[k])
                 for k in range(3))


def emblem(size):
    """RGBA pixels of the emblem at one size, 4 x 4 supersampled."""
    out = []
    for y in range(size):
        for x in range(size):
            total, hits = [0.0, 0.0, 0.0], 0
            for sy in range(4):
                for sx in range(4):
                    c = emblem_sample((x + (sx + 0.5) / 4) / size, (y + (sy + 0.5) / 4) / size)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            total[k] += c[k]
            if hits == 0:
                out.append((0, 0, 0, 0))
            else:
                out.append(tuple(int(total[k] / hits * 255 + 0.5) for k in range(3))
                           + (int(hits * 255 / 16 + 0.5),))
    return out


# ---------------------------------------------------------------------------
# Command line
# ---------------------------------------------------------------------------

def write(name, data, directory=HERE):
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def write_previews(directory, strip, trible, outro, icons):
    """Enlarged PNGs for looking at the pictures; not part of the build."""
    os.makedirs(directory, exist_ok=True)
    strip_rgb = [INK if v else PAPER for row in strip for v in row]
    write("glyphs.png", png_bytes(STRIP_W * 3, CELL_H * 3, rgb_to_rgba(
        scale_up(STRIP_W, CELL_H, strip_rgb, 3))), directory)
    smoke = smoke_view(strip, STRIP_W, CELL_H)
    smoke_rgb = [(v * v // 255, v, min(255, 2 * v - v * v // 255))
                 for row in smoke for v in row]
    write("glyphs_smoke.png", png_bytes(STRIP_W * 3, CELL_H * 3, rgb_to_rgba(
        scale_up(STRIP_W, CELL_H, smoke_rgb, 3))), directory)
    trible_rgb = [(v, v, v) for row in trible for v in row]
    write("trible.png", png_bytes(TRIBLE_W * 4, TRIBLE_H * 4, rgb_to_rgba(
        scale_up(TRIBLE_W, TRIBLE_H, trible_rgb, 4))), directory)
    table, rows = outro
    outro_rgb = [table[v] for row in rows for v in row]
    write("outro.png", png_bytes(OUTRO_W, OUTRO_H, rgb_to_rgba(outro_rgb)), directory)
    for name, first in (("outro_first_view.png", 0), ("outro_last_view.png", 159)):
        view = outro_rgb[first * OUTRO_W:(first + 480) * OUTRO_W]
        write(name, png_bytes(OUTRO_W, 480, rgb_to_rgba(view)), directory)
    for size, rgba in icons:
        factor = 256 // size
        write(f"icon{size}.png", png_bytes(size * factor, size * factor,
                                           scale_up(size, size, rgba, factor)), directory)


def main(argv):
    preview = None
    if len(argv) == 2 and argv[0] == "--preview":
        preview = argv[1]
    elif argv:
        raise SystemExit("usage: make_resources.py [--preview DIR]")
    strip = glyph_strip()
    trible = trible_pixels()
    outro = reduce_colours(paint_outro())
    icons = [(size, emblem(size)) for size in ICON_SIZES]
    large = emblem(PNG_SIZE)
    write("glyphs.bmp", glyphs_bmp(strip))
    write("trible.bmp", trible_bmp(trible))
    write("outro.bmp", outro_bmp(*outro))
    write("nebla.ico", ico_bytes(icons))
    write("nebla.png", png_bytes(PNG_SIZE, PNG_SIZE, large))
    if preview:
        write_previews(preview, strip, trible, outro, icons + [(PNG_SIZE, large)])


if __name__ == "__main__":
    main(sys.argv[1:])
