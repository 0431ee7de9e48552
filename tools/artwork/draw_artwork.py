#!/usr/bin/env python3
"""Draws the artwork of the main dialog: button bitmaps, logos, the splash,
icons and cursors, all procedurally, and writes them to src/resources/art/.

Only the standard library is used, so anyone can regenerate the artwork
without an image editor or extra packages:

    python3 tools/artwork/draw_artwork.py [--sheet contact_sheet.png]

Every shape is described by a signed distance function in "design units"
(32 units across an icon or cursor, pixels for bitmaps) and filled with
4x4 supersampled coverage near its edges, so the same drawing code makes
every size of an icon.
"""
import math
import os
import random
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = os.path.normpath(os.path.join(HERE, "..", "..", "src", "resources", "art"))

GOLD = (232, 163, 23)
GOLD_DARK = (176, 110, 4)
GOLD_LIGHT = (255, 228, 150)
SLATE = (43, 52, 64)
FACE = (240, 240, 240)
FACE_PRESSED = (229, 229, 229)
WHITE = (255, 255, 255)
INK = (22, 24, 28)          # cursor outlines: near black
HELP_BLUE = (52, 96, 150)
SEL_FILL = (204, 228, 247)
SEL_BORDER = (0, 120, 215)

ICON_SIZES = (16, 24, 32, 48)
CURSOR_SIZES = (32, 48)

# ---------------------------------------------------------------- shapes ---


class Shape:
    """A signed distance function (negative inside) and its bounding box."""

    def __init__(self, sdf, bbox):
        self.sdf = sdf
        self.bbox = bbox

    def grow(self, r):
        f = self.sdf
        x0, y0, x1, y1 = self.bbox
        return Shape(lambda x, y: f(x, y) - r, (x0 - r, y0 - r, x1 + r, y1 + r))

    def __or__(self, other):
        f, g = self.sdf, other.sdf
        a, b = self.bbox, other.bbox
        return Shape(lambda x, y: min(f(x, y), g(x, y)),
                     (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3])))

    def minus(self, other):
        f, g = self.sdf, other.sdf
        return Shape(lambda x, y: max(f(x, y), -g(x, y)), self.bbox)


def union(shapes):
    out = shapes[0]
    for s in shapes[1:]:
        out = out | s
    return out


def circle(cx, cy, r):
    return Shape(lambda x, y: math.hypot(x - cx, y - cy) - r, (cx - r, cy - r, cx + r, cy + r))


def ring(cx, cy, r, w):
    h = w / 2.0
    return Shape(lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - h,
                 (cx - r - h, cy - r - h, cx + r + h, cy + r + h))


def _seg_dist(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    l2 = dx * dx + dy * dy
    t = 0.0 if l2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / l2))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def strokes(polylines, w):
    """Union of round-capped strokes along polylines (a one-point polyline is a dot)."""
    segs = []
    for pl in polylines:
        if len(pl) == 1:
            segs.append((pl[0][0], pl[0][1], pl[0][0], pl[0][1]))
        for p, q in zip(pl, pl[1:]):
            segs.append((p[0], p[1], q[0], q[1]))
    h = w / 2.0
    xs = [v for s in segs for v in (s[0], s[2])]
    ys = [v for s in segs for v in (s[1], s[3])]

    def sdf(x, y):
        return min(_seg_dist(x, y, *s) for s in segs) - h
    return Shape(sdf, (min(xs) - h, min(ys) - h, max(xs) + h, max(ys) + h))


def capsule(ax, ay, bx, by, w):
    return strokes([[(ax, ay), (bx, by)]], w)


def arc_points(cx, cy, rx, ry, a0, a1, step=8.0):
    """Points along an elliptical arc; angles in degrees, y pointing down."""
    n = max(2, int(abs(a1 - a0) / step) + 1)
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / n)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / n))) for i in range(n + 1)]


def rrect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
    return Shape(sdf, (x0, y0, x1, y1))


def polygon(pts):
    n = len(pts)

    def sdf(x, y):
        d = 1e9
        inside = False
        for i in range(n):
            ax, ay = pts[i - 1]
            bx, by = pts[i]
            d = min(d, _seg_dist(x, y, ax, ay, bx, by))
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return -d if inside else d
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return Shape(sdf, (min(xs), min(ys), max(xs), max(ys)))


def star_points(cx, cy, n, R, r, rot=-90.0):
    pts = []
    for i in range(2 * n):
        a = math.radians(rot + i * 180.0 / n)
        rad = R if i % 2 == 0 else r
        pts.append((cx + rad * math.cos(a), cy + rad * math.sin(a)))
    return pts


def star(cx, cy, n, R, r, rot=-90.0):
    return polygon(star_points(cx, cy, n, R, r, rot))


# ---------------------------------------------------------------- canvas ---

# 16 samples per pixel, one in each cell of a 4x4 grid, placed so that no two
# share a row or a column: thin vertical and horizontal lines then get
# sixteen coverage levels instead of four.
SUB = [((4 * a + b + 0.5) / 16.0 - 0.5, (4 * b + a + 0.5) / 16.0 - 0.5) for a in range(4) for b in range(4)]


class Canvas:
    """Straight-alpha RGBA pixels; drawing coordinates are design units
    (pixel = design * unit)."""

    def __init__(self, w, h, unit=1.0, bg=None):
        self.w, self.h, self.unit = w, h, unit
        fill = [0.0, 0.0, 0.0, 0.0] if bg is None else [float(bg[0]), float(bg[1]), float(bg[2]), 1.0]
        self.px = fill * (w * h)

    def onepx(self, n=1.0):
        """n pixels expressed in design units."""
        return n / self.unit

    def snap(self, v, w):
        """Centre and width of a straight stroke moved onto whole pixels, so
        that small sizes keep crisp horizontal and vertical lines."""
        pw = max(1, int(round(w * self.unit)))
        lo = round(v * self.unit - pw / 2.0)
        return (lo + pw / 2.0) / self.unit, pw / self.unit

    def blend(self, i, col, a):
        if a <= 0.0:
            return
        p = self.px
        da = p[i + 3]
        oa = a + da * (1.0 - a)
        k = da * (1.0 - a)
        p[i] = (col[0] * a + p[i] * k) / oa
        p[i + 1] = (col[1] * a + p[i + 1] * k) / oa
        p[i + 2] = (col[2] * a + p[i + 2] * k) / oa
        p[i + 3] = oa

    def _span(self, bbox, pad=1):
        u = self.unit
        return (max(0, int(math.floor(bbox[0] * u)) - pad), max(0, int(math.floor(bbox[1] * u)) - pad),
                min(self.w, int(math.ceil(bbox[2] * u)) + pad), min(self.h, int(math.ceil(bbox[3] * u)) + pad))

    def coverage(self, shape):
        """Yields (pixel index, design x, design y, coverage) over the shape."""
        u = self.unit
        f = shape.sdf
        x0, y0, x1, y1 = self._span(shape.bbox)
        for py in range(y0, y1):
            for px in range(x0, x1):
                x, y = (px + 0.5) / u, (py + 0.5) / u
                d = f(x, y) * u
                if d >= 0.7:
                    continue
                if d <= -0.7:
                    cov = 1.0
                else:
                    hits = 0
                    for sx, sy in SUB:
                        if f(x + sx / u, y + sy / u) < 0.0:
                            hits += 1
                    cov = hits / 16.0
                if cov > 0.0:
                    yield 4 * (py * self.w + px), x, y, cov

    def fill(self, shape, color, alpha=1.0):
        dyn = callable(color)
        for i, x, y, cov in self.coverage(shape):
            self.blend(i, color(x, y) if dyn else color, cov * alpha)

    def outlined(self, shape, color, edge, width):
        """Fills a shape over a slightly larger copy of itself in the edge colour."""
        self.fill(shape.grow(width), edge)
        self.fill(shape, color)

    def erase(self, shape):
        for i, _x, _y, cov in self.coverage(shape):
            self.px[i + 3] *= (1.0 - cov)

    def light(self, fn, color, bbox, strength=1.0):
        """Blends colour with a per-pixel intensity fn(x, y) in 0..1."""
        u = self.unit
        x0, y0, x1, y1 = self._span(bbox, 0)
        for py in range(y0, y1):
            for px in range(x0, x1):
                a = fn((px + 0.5) / u, (py + 0.5) / u) * strength
                if a > 0.002:
                    self.blend(4 * (py * self.w + px), color, min(1.0, a))

    def glow(self, cx, cy, radius, color, strength):
        def fn(x, y):
            return math.exp(-((x - cx) ** 2 + (y - cy) ** 2) / (radius * radius))
        r = radius * 2.6
        self.light(fn, color, (cx - r, cy - r, cx + r, cy + r), strength)

    def rays(self, cx, cy, n, length, width, color, strength, rot=-90.0, soft=False):
        """Tapered light spikes; soft ones have a gaussian cross-section."""
        dirs = [(math.cos(math.radians(rot + i * 360.0 / n)), math.sin(math.radians(rot + i * 360.0 / n)))
                for i in range(n)]
        halfpx = 0.5 / self.unit

        def fn(x, y):
            dx, dy = x - cx, y - cy
            best = 0.0
            for ux, uy in dirs:
                t = dx * ux + dy * uy
                if t <= 0.0 or t >= length:
                    continue
                s = abs(dx * uy - dy * ux)
                k = 1.0 - t / length
                wdt = width * k + halfpx
                v = math.exp(-(s / wdt) ** 2) if soft else max(0.0, min(1.0, (wdt - s) / (2 * halfpx) + 0.5))
                best = max(best, v * k ** 1.3)
            return best
        self.light(fn, color, (cx - length, cy - length, cx + length, cy + length), strength)

    def paste(self, other, dx=0, dy=0):
        for y in range(other.h):
            ty = y + dy
            if 0 <= ty < self.h:
                for x in range(other.w):
                    tx = x + dx
                    j = 4 * (y * other.w + x)
                    if 0 <= tx < self.w and other.px[j + 3] > 0.0:
                        self.blend(4 * (ty * self.w + tx), other.px[j:j + 3], other.px[j + 3])

    def map(self, fn):
        p = self.px
        for i in range(0, len(p), 4):
            p[i:i + 4] = fn(*p[i:i + 4])

    def rgba8(self, x, y):
        i = 4 * (y * self.w + x)
        return tuple(max(0, min(255, int(round(v)))) for v in self.px[i:i + 3]) + \
            (max(0, min(255, int(round(self.px[i + 3] * 255)))),)


def disabled_px(r, g, b, a):
    """Same glyph in mid-grey with its contrast squeezed: slate becomes #A0A0A0."""
    lum = 0.30 * r + 0.59 * g + 0.11 * b
    v = 160.0 + (lum - 50.0) * 0.3
    return [v, v, v, a]


def lerp(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def hsv(h, s, v):
    i = int(h * 6.0) % 6
    f = h * 6.0 - int(h * 6.0)
    p, q, t = v * (1 - s), v * (1 - s * f), v * (1 - s * (1 - f))
    r, g, b = [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i]
    return (r * 255, g * 255, b * 255)


# -------------------------------------------------------------- lettering ---
# A small stroke font: cap height 7, x-height 4.5 (y 2.5..7), baseline y=7,
# descenders to 9.5. Each glyph is (advance, polylines).


def _glyphs():
    A = arc_points
    return {
        "G": (5.0, [A(2.6, 3.5, 2.6, 3.5, -40, -320), [(2.9, 4.1), (5.0, 4.1), (5.0, 6.3)]]),
        "B": (4.5, [[(2.3, 3.3), (0, 3.3), (0, 0), (2.2, 0)], A(2.2, 1.65, 1.65, 1.65, -90, 90),
                    [(0, 3.3), (0, 7), (2.5, 7)], A(2.5, 5.15, 1.85, 1.85, 90, -90), [(2.5, 3.3), (2.2, 3.3)]]),
        "l": (1.0, [[(0.5, 0), (0.5, 7)]]),
        "i": (1.0, [[(0.5, 2.6), (0.5, 7)], [(0.5, 0.5)]]),
        "m": (6.0, [[(0, 2.5), (0, 7)], A(1.5, 4.0, 1.5, 1.5, 180, 360) + [(3, 7)],
                    A(4.5, 4.0, 1.5, 1.5, 180, 360) + [(6, 7)]]),
        "a": (3.9, [A(1.95, 4.75, 1.95, 2.25, 0, 360), [(3.9, 2.5), (3.9, 7)]]),
        "r": (2.9, [[(0, 2.5), (0, 7)], A(2.0, 4.55, 2.0, 2.05, 180, 285)]),
        "k": (3.5, [[(0, 0), (0, 7)], [(3.3, 2.5), (0, 5.3)], [(1.25, 4.25), (3.5, 7)]]),
        "g": (3.9, [A(1.95, 4.75, 1.95, 2.25, 0, 360), [(3.9, 2.5), (3.9, 7.6)],
                    A(1.95, 7.6, 1.95, 1.9, 0, 150)]),
        "h": (3.6, [[(0, 0), (0, 7)], A(1.8, 4.3, 1.8, 1.8, 180, 360) + [(3.6, 7)]]),
        "t": (2.6, [[(1.0, 0.7), (1.0, 6.0)] + A(2.2, 6.0, 1.2, 1.0, 180, 90) + [(2.6, 7.0)],
                    [(0, 2.6), (2.6, 2.6)]]),
        "w": (5.2, [[(0, 2.5), (1.25, 7), (2.6, 3.6), (3.95, 7), (5.2, 2.5)]]),
        "e": (3.9, [[(0.1, 4.75), (3.9, 4.75)] + A(1.95, 4.75, 1.95, 2.25, 0, -325)]),
        "2": (4.2, [A(2.1, 2.1, 2.1, 2.1, 200, 375) + [(0, 7), (4.2, 7)]]),
        " ": (1.4, []),
    }


GLYPHS = _glyphs()
LETTER_GAP = 1.6


def text_width(text, weight):
    adv = [GLYPHS[ch][0] for ch in text]
    return sum(adv) + LETTER_GAP * (len(text) - 1) + weight


def draw_text(c, text, x, top, scale, color, weight=1.15):
    """Draws text with its left edge at x and cap top at `top`; scale is
    design units per font unit. Returns the right edge."""
    pen = x + weight * scale / 2.0
    for ch in text:
        adv, lines = GLYPHS[ch]
        if lines:
            pl = [[(pen + gx * scale, top + gy * scale) for gx, gy in line] for line in lines]
            c.fill(strokes(pl, weight * scale), color)
        pen += (adv + LETTER_GAP) * scale
    return pen - LETTER_GAP * scale + weight * scale / 2.0


# ---------------------------------------------------------- shared glyphs ---


def gold_star(c, cx, cy, R, n=4, inner=None, rot=-90.0, color=GOLD, edge=GOLD_DARK, alpha=1.0):
    """The product's star: flat fill over a one-pixel darker rim."""
    if inner is None:
        inner = 0.34 if n == 4 else 0.48
    s = star(cx, cy, n, R, R * inner, rot)
    if edge is not None:
        c.fill(s.grow(c.onepx(0.85)), edge, alpha)
    c.fill(s, color, alpha)
    return s


def magnifier_parts(cx, cy, r, w, hand_len, hand_w):
    k = (r + w / 2.0) / math.sqrt(2.0)
    lens = ring(cx, cy, r, w)
    handle = capsule(cx + k * 0.9, cy + k * 0.9, cx + k + hand_len, cy + k + hand_len, hand_w)
    return lens, handle


def plus_shape(c, cx, cy, arm, w, minus=False):
    ycen, wy = c.snap(cy, w)
    xcen, wx = c.snap(cx, w)
    hbar = rrect(cx - arm, ycen - wy / 2, cx + arm, ycen + wy / 2, 0.0)
    if minus:
        return hbar
    return hbar | rrect(xcen - wx / 2, cy - arm, xcen + wx / 2, cy + arm, 0.0)


def open_hand():
    # fingers narrower than their spacing, so the outline shows between them
    fingers = [capsule(11.0, 16, 11.0, 6.5, 3.0), capsule(15.2, 16, 15.2, 4.5, 3.0),
               capsule(19.4, 16, 19.4, 5.5, 3.0), capsule(23.4, 18, 23.4, 9.0, 2.9),
               capsule(10.5, 22.5, 5.2, 15.5, 3.2)]
    return union(fingers + [rrect(9.3, 12.5, 25.1, 27.5, 4.5)])


def closed_hand():
    knuckles = [capsule(11.2, 14, 11.2, 11.0, 3.6), capsule(15.2, 14, 15.2, 10.0, 3.6),
                capsule(19.2, 14, 19.2, 10.5, 3.6), capsule(23.0, 15, 23.0, 12.5, 3.4)]
    thumb = capsule(8.4, 17.5, 8.4, 21.5, 3.6)
    return union(knuckles + [thumb, rrect(9.3, 12.5, 25.1, 27.5, 4.5)])


def finger_folds():
    """Short creases below the knuckles so the fist reads as curled fingers."""
    return strokes([[(x, 12.6), (x, 15.2)] for x in (13.2, 17.2, 21.1)], 1.0)


def pointing_hand():
    parts = [capsule(12.0, 17, 12.0, 3.6, 3.6), capsule(15.9, 13.5, 15.9, 16.5, 3.4),
             capsule(19.7, 14.0, 19.7, 17.0, 3.4), capsule(23.3, 15.0, 23.3, 18.0, 3.2),
             capsule(10.8, 22.0, 6.0, 16.5, 3.4), rrect(10.2, 13.0, 25.1, 28.0, 4.5)]
    return union(parts)


# ---------------------------------------------------------------- bitmaps ---


def bevel(c, sunken):
    hi, lo = (WHITE, (160, 160, 160)) if not sunken else ((160, 160, 160), WHITE)
    for x in range(c.w):
        c.px[4 * x:4 * x + 3] = list(hi)
        j = 4 * ((c.h - 1) * c.w + x)
        c.px[j:j + 3] = list(lo)
    for y in range(c.h):
        c.px[4 * y * c.w:4 * y * c.w + 3] = list(hi)
        j = 4 * (y * c.w + c.w - 1)
        c.px[j:j + 3] = list(lo)
    c.px[4 * (c.w - 1):4 * (c.w - 1) + 3] = list(lo)          # corners belong to the shadow side
    j = 4 * ((c.h - 1) * c.w)
    c.px[j:j + 3] = list(lo)


def zoom_glyph(sign):
    def draw(g):
        lens, handle = magnifier_parts(8.0, 8.0, 4.6, 1.7, 3.0, 2.8)
        g.fill(lens | handle, SLATE)
        if sign:
            g.fill(plus_shape(g, 8.0, 8.0, 2.5, 2.0, minus=(sign == "-")), SLATE)
    return draw


def menu_arrow_glyph(g):
    g.fill(polygon([(5.5, 8.0), (14.5, 8.0), (10.0, 12.5)]), SLATE)


def button(glyph, state):
    def draw(c):
        pressed = state == "pressed"
        if pressed:
            c.fill(rrect(0, 0, c.w, c.h, 0.0), FACE_PRESSED)
        g = Canvas(c.w, c.h)
        glyph(g)
        if state == "disabled":
            g.map(disabled_px)
        c.paste(g, 1 if pressed else 0, 1 if pressed else 0)
        bevel(c, pressed)
    return draw


def draw_big_star(c, cx, cy, scale, rays=True):
    """The product star with glow and flare spikes (scale 1 = 40 px across)."""
    c.glow(cx, cy, 11 * scale, GOLD, 0.45)
    if rays:
        c.rays(cx, cy, 6, 20 * scale, 1.3 * scale, GOLD, 0.95)
        c.rays(cx, cy, 6, 11 * scale, 0.8 * scale, GOLD, 0.7, rot=-60.0)
    gold_star(c, cx, cy, 10.5 * scale, 6, 0.42)
    c.glow(cx, cy, 3.2 * scale, GOLD_LIGHT, 0.9)


def draw_product_logo(c):
    draw_big_star(c, 20.0, 20.0, 0.95)
    avail = c.w - 43.0
    s = min(avail / text_width("Glimmark 2", 1.15), 15.5 / 7.0)
    draw_text(c, "Glimmark 2", 42.0, 20.0 - 3.5 * s, s, SLATE)


def draw_maker_logo(c):
    c.fill(rrect(1.5, 2.0, 21.5, 22.0, 4.5), SLATE)
    s = 11.0 / 7.0
    w = text_width("B", 1.4) * s
    draw_text(c, "B", 10.8 - w / 2.0, 12.0 - 3.5 * s, s, WHITE, 1.4)
    c.fill(circle(18.2, 5.8, 1.4), GOLD)          # a spark in the mark's corner
    s = min((c.w - 28.0) / text_width("Brightwerk", 1.15), 12.0 / 7.0)
    draw_text(c, "Brightwerk", 27.0, 12.0 - 3.5 * s - 0.5, s, SLATE)


def draw_splash(c):
    top, bottom = (5, 8, 22), (20, 30, 58)
    for y in range(c.h):
        col = lerp(top, bottom, (y / (c.h - 1.0)) ** 1.2)
        for x in range(c.w):
            c.px[4 * (y * c.w + x):4 * (y * c.w + x) + 4] = [col[0], col[1], col[2], 1.0]
    cx, cy = 92.0, 96.0
    c.glow(cx, cy, 75.0, (40, 52, 96), 0.55)
    rng = random.Random(1977)
    for _ in range(90):
        x, y = rng.uniform(3, c.w - 3), rng.uniform(3, c.h - 3)
        if math.hypot(x - cx, y - cy) < 40 or (160 < x < 316 and 70 < y < 122):
            continue
        b = rng.random() ** 2.2
        tint = lerp((170, 190, 255), (255, 240, 215), rng.random())
        c.fill(circle(x, y, 0.45 + 0.75 * b), tint, 0.35 + 0.65 * b)
        if b > 0.55:
            c.rays(x, y, 4, 3.5 + 5 * b, 0.35, tint, 0.6)
    # the flare: wide halo, faint ring and ghosts along the diagonal
    c.glow(cx, cy, 30.0, GOLD, 0.30)
    c.fill(ring(cx, cy, 38.0, 1.6), GOLD, 0.10)
    for t, r, a in ((0.55, 4.0, 0.16), (0.8, 2.0, 0.22), (1.25, 7.0, 0.10)):
        c.fill(circle(cx + 110 * t, cy + 62 * t, r), (255, 176, 70), a)
    c.rays(cx, cy, 6, 78.0, 2.6, GOLD, 0.95)
    c.rays(cx, cy, 6, 40.0, 1.4, GOLD_LIGHT, 0.6, rot=-60.0)
    c.glow(cx, cy, 12.0, GOLD, 0.75)
    gold_star(c, cx, cy, 17.0, 6, 0.42, edge=None)
    c.glow(cx, cy, 6.5, GOLD_LIGHT, 0.95)
    c.glow(cx, cy, 2.8, WHITE, 0.95)
    s = min((c.w - 172.0 - 8.0) / text_width("Glimmark 2", 1.15), 21.0 / 7.0)
    right = draw_text(c, "Glimmark 2", 172.0, cy - 3.5 * s, s, (236, 240, 248))
    yl, wl = c.snap(cy + 3.5 * s + 9.0, 1.6)
    c.fill(capsule(173.0, yl, 173.0 + (right - 172.0) * 0.35, yl, wl), GOLD, 0.9)


# ------------------------------------------------------------------ icons ---


def draw_help(c):
    c.fill(circle(16, 16, 15.0), lambda x, y: lerp((74, 124, 182), (38, 74, 124), y / 32.0))
    w = max(3.4, c.onepx(1.6))
    c.fill(strokes([arc_points(16, 12.2, 4.6, 4.6, 200, 400) + [(16.0, 18.0), (16.0, 19.3)]], w), WHITE)
    c.fill(circle(16.0, 24.0, w * 0.62), WHITE)


def draw_presets_menu(c):
    for y in (7.0, 12.5, 18.0):
        yc, wy = c.snap(y, 2.6)
        c.fill(rrect(5.0, yc - wy / 2, 27.0, yc + wy / 2, min(1.0, wy / 2)), SLATE)
    c.fill(polygon([(9.5, 22.0), (22.5, 22.0), (16.0, 28.5)]), SLATE)


def draw_size_grip(c):
    # laid out in whole pixels: blurred grip dots look dirty
    d = max(2, int(round(4 * c.unit)))
    sh = max(1, d // 3)
    for row in range(3):
        for col in range(3):
            if row + col < 2:
                continue
            x0 = c.w - sh - d - (2 - col) * 2 * d
            y0 = c.h - sh - d - (2 - row) * 2 * d
            for dx, col_ in ((sh, WHITE), (0, (150, 150, 150))):
                c.fill(rrect((x0 + dx) / c.unit, (y0 + dx) / c.unit, (x0 + dx + d) / c.unit,
                             (y0 + dx + d) / c.unit, 0.0), col_)


def draw_quantity_less(c):
    gold_star(c, 16, 16, 12.5)


def draw_quantity_more(c):
    gold_star(c, 12, 19, 11.0)
    gold_star(c, 24.5, 8.0, 7.0)
    gold_star(c, 26.0, 24.5, 5.5)
    gold_star(c, 6.5, 5.5, 4.5)


def draw_intensity_less(c):
    gold_star(c, 16, 16, 10.5, color=(222, 204, 160), edge=(172, 156, 120))


def draw_intensity_more(c):
    c.glow(16, 16, 9.0, GOLD, 0.65)
    w = max(2.2, c.onepx(1.0))
    for k in range(4):
        a = math.radians(45 + 90 * k)
        c.fill(capsule(16 + 10.5 * math.cos(a), 16 + 10.5 * math.sin(a),
                       16 + 14.0 * math.cos(a), 16 + 14.0 * math.sin(a), w), GOLD_DARK)
    gold_star(c, 16, 16, 12.0, color=(255, 196, 40))
    c.glow(16, 16, 3.5, (255, 250, 220), 0.9)


def draw_length_less(c):
    gold_star(c, 16, 16, 8.0, inner=0.36)


def draw_length_more(c):
    gold_star(c, 16, 16, 15.3, inner=0.17)


def _turn_arrow(c, clockwise):
    w = max(2.2, c.onepx(1.1))
    a0, a1 = (215.0, 305.0) if clockwise else (325.0, 235.0)
    pts = arc_points(16, 19.0, 13.0, 13.0, a0, a1, 5.0)
    c.fill(strokes([pts[:-1]], w), SLATE)
    ex, ey = pts[-1]
    px, py = pts[-2]
    dx, dy = ex - px, ey - py
    L = math.hypot(dx, dy)
    dx, dy = dx / L, dy / L
    h = 4.4
    c.fill(polygon([(ex + dx * h * 0.6, ey + dy * h * 0.6),
                    (ex - dx * h * 0.5 - dy * h * 0.62, ey - dy * h * 0.5 + dx * h * 0.62),
                    (ex - dx * h * 0.5 + dy * h * 0.62, ey - dy * h * 0.5 - dx * h * 0.62)]), SLATE)


def draw_angle_less(c):
    gold_star(c, 16, 19.0, 9.5, rot=-90 - 22)
    _turn_arrow(c, False)


def draw_angle_more(c):
    gold_star(c, 16, 19.0, 9.5, rot=-90 + 22)
    _turn_arrow(c, True)


def draw_points_less(c):
    gold_star(c, 16, 16, 14.0, 4, 0.32)


def draw_points_more(c):
    gold_star(c, 16, 16, 14.0, 8, 0.45)


def draw_sharpness_less(c):
    c.glow(16, 16, 6.0, GOLD, 0.55)
    c.rays(16, 16, 4, 15.5, 3.2, GOLD, 1.0, soft=True)
    c.glow(16, 16, 3.5, GOLD, 0.9)


def draw_sharpness_more(c):
    deep = (206, 132, 6)
    c.fill(star(16, 16, 4, 9.5, max(1.0, c.onepx(0.6)), -45), deep)
    c.fill(star(16, 16, 4, 15.8, max(1.35, c.onepx(0.9))), deep)
    c.fill(circle(16, 16, 2.4), GOLD)


def draw_saturation_less(c):
    gold_star(c, 16, 16, 13.5, color=(178, 178, 178), edge=(118, 118, 118))


def draw_saturation_more(c):
    def rainbow(x, y):
        h = (math.degrees(math.atan2(y - 16, x - 16)) + 90.0) % 360.0 / 360.0
        return lerp(hsv(h, 0.85, 1.0), (255, 255, 255), max(0.0, 1.0 - math.hypot(x - 16, y - 16) / 5.0))
    gold_star(c, 16, 16, 13.5, color=rainbow, edge=(70, 60, 90))


def draw_flare_less(c):
    gold_star(c, 16, 16, 9.5)


def draw_flare_more(c):
    c.glow(16, 16, 10.0, GOLD, 0.75)
    c.fill(ring(16, 16, 13.0, max(1.6, c.onepx())), GOLD, 0.45)
    gold_star(c, 16, 16, 9.5)


# Tool buttons: a glyph that fits a 32 px button, with optional selection plate.

def tool_hand(c):
    sw = max(1.4, c.onepx())
    c.fill(open_hand().grow(sw), SLATE)
    c.fill(open_hand(), WHITE)


def tool_zoom(c):
    lens, handle = magnifier_parts(13.0, 13.0, 8.0, 2.8, 9.0, 4.6)
    c.fill(circle(13.0, 13.0, 8.0), (222, 236, 250))
    c.fill(lens | handle, SLATE)


def tool_hide(c):
    gold_star(c, 16, 16, 13.0, 6, 0.46)
    w = max(2.6, c.onepx(1.0))
    c.erase(capsule(5.0, 5.0, 27.0, 27.0, w + 2 * max(1.6, c.onepx())))
    c.fill(capsule(5.0, 5.0, 27.0, 27.0, w), SLATE)


def tool_show(c):
    gold_star(c, 14, 14, 12.0, 6, 0.46)
    c.erase(circle(24.5, 24.5, 8.0))
    w = max(2.6, c.onepx(1.0))
    c.fill(plus_shape(c, 24.5, 24.5, 5.5, w), SLATE)


def tool_icon(glyph, state):
    def draw(c):
        if state == "selected":
            c.fill(rrect(0.5, 0.5, 31.5, 31.5, 4.5), SEL_BORDER)
            c.fill(rrect(0.5, 0.5, 31.5, 31.5, 4.5).grow(-max(1.0, c.onepx())), SEL_FILL)
        g = Canvas(c.w, c.h, c.unit)
        glyph(g)
        if state == "disabled":
            g.map(disabled_px)
        c.paste(g)
    return draw


# ---------------------------------------------------------------- cursors ---


# Outlines a little over one pixel wide stay dark wherever they fall on the grid.
def cursor_hand(c):
    c.outlined(open_hand(), WHITE, INK, c.onepx(1.3))


def cursor_grab(c):
    c.outlined(closed_hand(), WHITE, INK, c.onepx(1.3))
    c.fill(finger_folds(), INK)


def cursor_link(c):
    c.outlined(pointing_hand(), WHITE, INK, c.onepx(1.3))


def cursor_zoom(sign):
    def draw(c):
        one = c.onepx()
        lens, handle = magnifier_parts(12.0, 12.0, 7.5, 2.2, 7.5, 3.8)
        c.fill(circle(12.0, 12.0, 7.5), WHITE, 0.75)
        c.fill((lens | handle).grow(one), WHITE)
        c.fill(lens | handle, INK)
        if sign:
            c.fill(plus_shape(c, 12.0, 12.0, 3.8, 2.0, minus=(sign == "-")), INK)
    return draw


def pointer_shape():
    return polygon([(1.0, 1.0), (1.0, 17.5), (5.0, 13.7), (7.8, 20.0), (10.4, 18.9),
                    (7.7, 12.7), (12.9, 12.7)])


def cursor_effects(show):
    def draw(c):
        one = c.onepx(1.2)
        c.outlined(pointer_shape(), WHITE, INK, one)
        if show:
            c.outlined(star(20.5, 21.0, 6, 8.0, 3.8), GOLD, INK, one)
            p = plus_shape(c, 27.0, 27.0, 3.8, 2.0)
            c.fill(p.grow(one), WHITE)
            c.fill(p, INK)
        else:
            c.outlined(star(21.5, 21.5, 6, 8.0, 3.8), GOLD, INK, one)
            line = capsule(15.5, 15.5, 28.0, 28.0, 2.0)
            c.fill(line.grow(one), WHITE)
            c.fill(line, INK)
    return draw


# ----------------------------------------------------------------- tables ---

BITMAPS = [
    ("product_logo.bmp", 150, 40, draw_product_logo),
    ("maker_logo.bmp", 110, 24, draw_maker_logo),
    ("zoom_out.bmp", 20, 20, button(zoom_glyph("-"), "normal")),
    ("zoom_out_pressed.bmp", 20, 20, button(zoom_glyph("-"), "pressed")),
    ("zoom_out_disabled.bmp", 20, 20, button(zoom_glyph("-"), "disabled")),
    ("zoom_in.bmp", 20, 20, button(zoom_glyph("+"), "normal")),
    ("zoom_in_pressed.bmp", 20, 20, button(zoom_glyph("+"), "pressed")),
    ("zoom_in_disabled.bmp", 20, 20, button(zoom_glyph("+"), "disabled")),
    ("zoom_menu.bmp", 20, 20, button(menu_arrow_glyph, "normal")),
    ("splash.bmp", 320, 200, draw_splash),
]

ICONS = [
    ("help.ico", draw_help),
    ("presets_menu.ico", draw_presets_menu),
    ("size_grip.ico", draw_size_grip),
    ("quantity_less.ico", draw_quantity_less), ("quantity_more.ico", draw_quantity_more),
    ("intensity_less.ico", draw_intensity_less), ("intensity_more.ico", draw_intensity_more),
    ("length_less.ico", draw_length_less), ("length_more.ico", draw_length_more),
    ("angle_less.ico", draw_angle_less), ("angle_more.ico", draw_angle_more),
    ("points_less.ico", draw_points_less), ("points_more.ico", draw_points_more),
    ("sharpness_less.ico", draw_sharpness_less), ("sharpness_more.ico", draw_sharpness_more),
    ("saturation_less.ico", draw_saturation_less), ("saturation_more.ico", draw_saturation_more),
    ("flare_less.ico", draw_flare_less), ("flare_more.ico", draw_flare_more),
    ("tool_hand.ico", tool_icon(tool_hand, "normal")),
    ("tool_hand_selected.ico", tool_icon(tool_hand, "selected")),
    ("tool_zoom.ico", tool_icon(tool_zoom, "normal")),
    ("tool_zoom_selected.ico", tool_icon(tool_zoom, "selected")),
    ("tool_hide.ico", tool_icon(tool_hide, "normal")),
    ("tool_hide_selected.ico", tool_icon(tool_hide, "selected")),
    ("tool_hide_disabled.ico", tool_icon(tool_hide, "disabled")),
    ("tool_show.ico", tool_icon(tool_show, "normal")),
    ("tool_show_selected.ico", tool_icon(tool_show, "selected")),
    ("tool_show_disabled.ico", tool_icon(tool_show, "disabled")),
]

# name, drawing, hotspot in design units (32 across)
CURSORS = [
    ("hand.cur", cursor_hand, (16.0, 16.0)),
    ("hand_dragging.cur", cursor_grab, (16.0, 18.0)),
    ("zoom_in.cur", cursor_zoom("+"), (12.0, 12.0)),
    ("zoom_out.cur", cursor_zoom("-"), (12.0, 12.0)),
    ("zoom_limit.cur", cursor_zoom(None), (12.0, 12.0)),
    ("hide_effects.cur", cursor_effects(False), (1.0, 1.0)),
    ("show_effects.cur", cursor_effects(True), (1.0, 1.0)),
    ("link.cur", cursor_link, (12.0, 2.0)),
]

# ---------------------------------------------------------------- writers ---


def write_bmp(path, c):
    row = (c.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(c.h - 1, -1, -1):
        line = bytearray()
        for x in range(c.w):
            r, g, b, _a = c.rgba8(x, y)
            line += bytes((b, g, r))
        data += line + b"\0" * (row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def dib32(c):
    """32-bit BGRA image plus AND mask, as stored inside .ico and .cur."""
    xor = bytearray()
    mask_row = ((c.w + 31) // 32) * 4
    mask = bytearray()
    for y in range(c.h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(c.w):
            r, g, b, a = c.rgba8(x, y)
            if a == 0:
                r = g = b = 0
                bits[x // 8] |= 0x80 >> (x % 8)
            xor += bytes((b, g, r, a))
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_icon(path, canvases, hotspots=None):
    kind = 2 if hotspots else 1
    blobs = [dib32(c) for c in canvases]
    out = struct.pack("<HHH", 0, kind, len(blobs))
    offset = 6 + 16 * len(blobs)
    for i, (c, blob) in enumerate(zip(canvases, blobs)):
        f1, f2 = hotspots[i] if hotspots else (1, 32)
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, f1, f2, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def write_png(path, w, h, rows):
    raw = b"".join(b"\0" + bytes(r) for r in rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# ----------------------------------------------------------------- checks ---


def check_file(path):
    """Re-reads the headers, so a broken writer fails here, not in the resource compiler."""
    with open(path, "rb") as f:
        data = f.read()
    name = os.path.basename(path)
    if name.endswith(".bmp"):
        magic, size, _r1, _r2, off = struct.unpack_from("<2sIHHI", data, 0)
        hs, w, h, planes, bpp, comp, isz = struct.unpack_from("<IiiHHII", data, 14)
        assert magic == b"BM" and size == len(data) and off == 54, name
        assert hs == 40 and planes == 1 and bpp == 24 and comp == 0 and h > 0, name
        assert isz == ((w * 3 + 3) & ~3) * h == len(data) - 54, name
        return "%s: %dx%d 24-bit" % (name, w, h)
    res, kind, count = struct.unpack_from("<HHH", data, 0)
    assert res == 0 and kind == (2 if name.endswith(".cur") else 1) and count > 0, name
    parts = []
    for i in range(count):
        w, h, _cc, _r, f1, f2, size, off = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        hs, dw, dh, planes, bpp = struct.unpack_from("<IiiHH", data, off)
        w = w or 256
        assert off + size <= len(data) and hs == 40 and dw == w and dh == 2 * h, name
        assert planes == 1 and bpp == 32, name
        assert size == 40 + w * h * 4 + ((w + 31) // 32) * 4 * h, name
        if kind == 2:
            assert f1 < w and f2 < h, name
            parts.append("%d@(%d,%d)" % (w, f1, f2))
        else:
            parts.append(str(w))
    return "%s: %s" % (name, " ".join(parts))


# ----------------------------------------------------------- contact sheet ---


def contact_sheet(path, items, scale=2):
    """Lays every image out at `scale`, icons on light and dark plates."""
    tiles = []
    for name, canvases in items:
        for c in canvases:
            for bg in ((FACE,) if c.w > 48 else (FACE, (255, 255, 255), (45, 45, 48))):
                tiles.append((c, bg))
        tiles.append(None)                        # line break hint between files
    width, pad = 1500, 6
    rows, x, y, line_h = [], pad, pad, 0
    placed = []
    for t in tiles:
        if t is None:
            x += pad * 2
            continue
        c, bg = t
        tw, th = c.w * scale + 4, c.h * scale + 4
        if x + tw > width - pad:
            x, y, line_h = pad, y + line_h + pad, 0
        placed.append((x, y, c, bg))
        x += tw + 2
        line_h = max(line_h, th)
    height = y + line_h + pad
    rows = [bytearray([200, 200, 205] * width) for _ in range(height)]
    for x0, y0, c, bg in placed:
        for yy in range(c.h * scale + 4):
            for xx in range(c.w * scale + 4):
                rows[y0 + yy][3 * (x0 + xx):3 * (x0 + xx) + 3] = bytes(bg)
        for py in range(c.h):
            for px in range(c.w):
                r, g, b, a = c.rgba8(px, py)
                a /= 255.0
                col = bytes(int(round(v * a + bgv * (1 - a))) for v, bgv in zip((r, g, b), bg))
                for sy in range(scale):
                    row = rows[y0 + 2 + py * scale + sy]
                    for sx in range(scale):
                        i = 3 * (x0 + 2 + px * scale + sx)
                        row[i:i + 3] = col
    write_png(path, width, height, rows)


# ------------------------------------------------------------------- main ---


def render(w, h, fn, unit=1.0, bg=None):
    c = Canvas(w, h, unit, bg)
    fn(c)
    return c


def main(argv):
    sheet = None
    if "--sheet" in argv:
        sheet = argv[argv.index("--sheet") + 1]
    os.makedirs(OUT_DIR, exist_ok=True)
    items = []
    for name, w, h, fn in BITMAPS:
        c = render(w, h, fn, 1.0, FACE)
        write_bmp(os.path.join(OUT_DIR, name), c)
        items.append((name, [c]))
    for name, fn in ICONS:
        cs = [render(s, s, fn, s / 32.0) for s in ICON_SIZES]
        write_icon(os.path.join(OUT_DIR, name), cs)
        items.append((name, cs))
    for name, fn, (hx, hy) in CURSORS:
        cs = [render(s, s, fn, s / 32.0) for s in CURSOR_SIZES]
        hot = [(min(s - 1, int(hx * s / 32.0)), min(s - 1, int(hy * s / 32.0))) for s in CURSOR_SIZES]
        write_icon(os.path.join(OUT_DIR, name), cs, hot)
        items.append((name, cs))
    for name, _cs in items:
        print(check_file(os.path.join(OUT_DIR, name)))
    if sheet:
        contact_sheet(sheet, items)
        print("contact sheet:", sheet)


if __name__ == "__main__":
    main(sys.argv[1:])
