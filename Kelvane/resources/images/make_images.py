#!/usr/bin/env python3
"""Draws every picture of the tray program: the PNG resources and the icon
groups. Standard library only; shapes are signed-distance functions, so edges
are anti-aliased by their exact pixel coverage.

    python3 make_images.py [output folder]   (default: this script's folder)
"""
import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------- colours

def rgb(hexcode, alpha=1.0):
    hexcode = hexcode.lstrip("#")
    return (int(hexcode[0:2], 16) / 255.0, int(hexcode[2:4], 16) / 255.0,
            int(hexcode[4:6], 16) / 255.0, alpha)

def mix(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(4))

ACCENT = rgb("4FC3F7")        # the panel's link colour family (102, 217, 255)
ACCENT_DEEP = rgb("1E88E5")
TEXT_GREY = rgb("AEB8C6")
BG_TOP = rgb("232D3C")
BG_BOTTOM = rgb("141A24")

# ---------------------------------------------------------------- canvas

class Canvas:
    """Premultiplied RGBA floats, row-major. Shapes are given in the
    picture's own units; at scale 2 the canvas holds twice the pixels each
    way and draws the same picture sharper, for displays above 125 %."""

    scale = 1

    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width, self.height = width * Canvas.scale, height * Canvas.scale
        r, g, b, a = fill
        self.px = [[r * a, g * a, b * a, a] for _ in range(self.width * self.height)]

    def blend(self, x, y, colour, coverage):
        r, g, b, a = colour
        a *= coverage
        if a <= 0.0:
            return
        p = self.px[y * self.width + x]
        keep = 1.0 - a
        p[0] = r * a + p[0] * keep
        p[1] = g * a + p[1] * keep
        p[2] = b * a + p[2] * keep
        p[3] = a + p[3] * keep

    def shape(self, sdf, paint, bbox=None, opacity=1.0):
        """Fills where sdf(x, y) < 0; paint is a colour or f(x, y) -> colour.
        Coverage of a pixel is 0.5 - distance at its centre in pixels, clamped."""
        s = Canvas.scale
        x0, y0, x1, y1 = [v * s for v in bbox] if bbox else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(math.floor(x0)) - 1), max(0, int(math.floor(y0)) - 1)
        x1 = min(self.width, int(math.ceil(x1)) + 1)
        y1 = min(self.height, int(math.ceil(y1)) + 1)
        solid = not callable(paint)
        for y in range(y0, y1):
            cy = (y + 0.5) / s
            for x in range(x0, x1):
                cx = (x + 0.5) / s
                d = sdf(cx, cy) * s
                if d >= 0.5:
                    continue
                cov = 1.0 if d <= -0.5 else 0.5 - d
                self.blend(x, y, paint if solid else paint(cx, cy), cov * opacity)

    def rows(self, opaque):
        out = []
        for y in range(self.height):
            row = bytearray()
            for x in range(self.width):
                r, g, b, a = self.px[y * self.width + x]
                if opaque:
                    row += bytes((q(r), q(g), q(b)))
                elif a <= 0.0:
                    row += b"\0\0\0\0"
                else:
                    row += bytes((q(r / a), q(g / a), q(b / a), q(a)))
            out.append(bytes(row))
        return out

def q(v):
    return max(0, min(255, int(round(v * 255.0))))

# ---------------------------------------------------------------- distances

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r

def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2.0

def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)

def capsule(ax, ay, bx, by, width):
    return lambda x, y: segment_distance(x, y, ax, ay, bx, by) - width / 2.0

def polyline(points, width):
    pairs = list(zip(points, points[1:]))
    return lambda x, y: min(segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in pairs) - width / 2.0

def rounded_box(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius
    return sdf

def polygon(points):
    n = len(points)

    def sdf(x, y):
        d = min((x - px) ** 2 + (y - py) ** 2 for px, py in points)
        sign = 1.0
        j = n - 1
        for i in range(n):
            xi, yi = points[i]
            xj, yj = points[j]
            ex, ey = xj - xi, yj - yi
            wx, wy = x - xi, y - yi
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            d = min(d, (wx - ex * t) ** 2 + (wy - ey * t) ** 2)
            c1, c2, c3 = y >= yi, y < yj, ex * wy > ey * wx
            if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
                sign = -sign
            j = i
        return sign * math.sqrt(d)
    return sdf

def union(*sdfs):
    return lambda x, y: min(f(x, y) for f in sdfs)

def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))

def rotated(sdf, cx, cy, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))

    def f(x, y):
        dx, dy = x - cx, y - cy
        return sdf(cx + dx * c + dy * s, cy - dx * s + dy * c)
    return f

def vertical(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, (y - y0) / float(y1 - y0))

def bbox_of(points, pad):
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return (min(xs) - pad, min(ys) - pad, max(xs) + pad, max(ys) + pad)

# ---------------------------------------------------------------- glyphs

def snowflake(c, cx, cy, radius, width, colour, branches=True, opacity=1.0):
    """Six arms; with branches, a small V on each arm."""
    parts = []
    for k in range(6):
        angle = math.radians(90 + 60 * k)
        ux, uy = math.cos(angle), -math.sin(angle)
        parts.append(capsule(cx, cy, cx + ux * radius, cy + uy * radius, width))
        if branches:
            bx, by = cx + ux * radius * 0.58, cy + uy * radius * 0.58
            for side in (-1, 1):
                a2 = angle + side * math.radians(42)
                blen = radius * 0.36
                parts.append(capsule(bx, by, bx + math.cos(a2) * blen, by - math.sin(a2) * blen, width * 0.85))
    c.shape(union(*parts), colour, (cx - radius - width, cy - radius - width,
                                    cx + radius + width, cy + radius + width), opacity)

def fan(c, cx, cy, radius, colour, hub_colour, opacity=1.0):
    """Four curved blades round a hub: the cooling emblem."""
    blades = []
    for k in range(4):
        base = 45 + 90 * k
        blade = subtract(circle(cx + radius * 0.42 * math.cos(math.radians(base)),
                                cy - radius * 0.42 * math.sin(math.radians(base)), radius * 0.52),
                         circle(cx + radius * 0.62 * math.cos(math.radians(base + 38)),
                                cy - radius * 0.62 * math.sin(math.radians(base + 38)), radius * 0.50))
        blades.append(blade)
    box = (cx - radius, cy - radius, cx + radius, cy + radius)
    c.shape(union(*blades), colour, box, opacity)
    c.shape(circle(cx, cy, radius * 0.2), hub_colour, box, opacity)

def laptop(c, cx, cy, w, colour, screen, stroke, angle=0.0):
    """Front view of an open notebook: screen with bezel over a base."""
    h = w * 0.62
    sx0, sy0, sx1, sy1 = cx - w * 0.40, cy - h * 0.55, cx + w * 0.40, cy + h * 0.28
    frame = rounded_box(sx0, sy0, sx1, sy1, w * 0.05)
    inner = rounded_box(sx0 + stroke, sy0 + stroke, sx1 - stroke, sy1 - stroke, w * 0.02)
    base = polygon([(cx - w * 0.40, sy1 + w * 0.01), (cx + w * 0.40, sy1 + w * 0.01),
                    (cx + w * 0.50, sy1 + h * 0.15), (cx - w * 0.50, sy1 + h * 0.15)])
    box = (cx - w, cy - w, cx + w, cy + w)
    c.shape(rotated(union(frame, base), cx, cy, angle), colour, box)
    if screen is not None:
        c.shape(rotated(inner, cx, cy, angle), screen, box)

# ---------------------------------------------------------------- pictures

def panel_background():
    w, h = 150, 130
    c = Canvas(w, h)
    c.shape(rounded_box(0, 0, w, h, 6), vertical(BG_TOP, BG_BOTTOM, 0, h))
    # Soft light from the top, a hairline rim, and a calm band for the radios.
    c.shape(rounded_box(0, 0, w, h, 6), vertical(rgb("FFFFFF", 0.06), rgb("FFFFFF", 0.0), 0, 40))
    c.shape(subtract(rounded_box(0, 0, w, h, 6), rounded_box(1, 1, w - 1, h - 1, 5)), rgb("3A4A60"))
    c.shape(rounded_box(9, 36, w - 9, 94, 8), rgb("FFFFFF", 0.035))
    c.shape(subtract(rounded_box(9, 36, w - 9, 94, 8), rounded_box(10, 37, w - 10, 93, 7)), rgb("FFFFFF", 0.06))
    # Emblem at the top, accent line before the link.
    fan(c, 75, 18, 9, ACCENT, rgb("1B2330"))
    c.shape(ring(75, 18, 11.5, 1.2), rgb("4FC3F7", 0.45), (60, 3, 90, 33))
    c.shape(capsule(45, 97, 105, 97, 1.0), lambda x, y: rgb("4FC3F7", 0.45 * (1 - abs(x - 75) / 32.0)))
    return c

def about_background():
    w, h = 574, 458
    c = Canvas(w, h)
    c.shape(rounded_box(0, 0, w, h, 0.01), vertical(rgb("222C3B"), rgb("161C26"), 0, h))
    # A faint cool glow behind the title.
    c.shape(circle(60, 40, 260), lambda x, y: rgb("4FC3F7", 0.07 * max(0.0, 1 - math.hypot(x - 60, y - 40) / 260.0)),
            (0, 0, 330, 300))
    # Title bar with the two window buttons drawn by the program.
    c.shape(rounded_box(0, 0, w, 40, 0.01), rgb("121822", 0.75))
    c.shape(capsule(0, 40.5, w, 40.5, 1.0), rgb("2E3B4F"))
    # An accent under the bar, brightest in the middle: the same in both reading directions.
    c.shape(capsule(40, 41.5, 532, 41.5, 1.0), lambda x, y: rgb("4FC3F7", 0.7 * (1 - abs(x - 286) / 246.0)))
    # Section emblems in the left column: cooling engaged, cooling at rest.
    for cy, on in ((230, True), (354, False)):
        c.shape(circle(92, cy, 33), lambda x, y, cy=cy: rgb("FFFFFF", 0.03), (55, cy - 37, 129, cy + 37))
        if on:
            c.shape(circle(92, cy, 28), vertical(rgb("4FC3F7"), rgb("1E88E5"), cy - 28, cy + 28), (60, cy - 30, 124, cy + 30))
            snowflake(c, 92, cy, 17, 2.6, rgb("FFFFFF"))
        else:
            c.shape(circle(92, cy, 28), vertical(rgb("6B7585"), rgb("3F4654"), cy - 28, cy + 28), (60, cy - 30, 124, cy + 30))
            snowflake(c, 92, cy, 17, 2.6, rgb("C9D0DA"), opacity=0.9)
        c.shape(ring(92, cy, 31.5, 1.0), rgb("FFFFFF", 0.10), (55, cy - 37, 129, cy + 37))
    # Footer with version and check box.
    c.shape(rounded_box(0, 420, w, h, 0.01), rgb("0E131B", 0.55))
    c.shape(capsule(0, 420.5, w, 420.5, 1.0), rgb("2A3545"))
    return c

def radio(selected):
    c = Canvas(16, 16)
    if selected:
        c.shape(circle(8, 8, 7.25), rgb("0F2233", 0.6))
        c.shape(ring(8, 8, 6.75, 1.5), ACCENT)
        c.shape(circle(8, 8, 3.6), vertical(rgb("8ADCFF"), rgb("3BA7E8"), 4.4, 11.6))
    else:
        c.shape(circle(8, 8, 7.25), rgb("0B1018", 0.45))
        c.shape(ring(8, 8, 6.75, 1.5), rgb("A7B2C2"))
    return c

def check_box(checked):
    if checked:
        c = Canvas(18, 18)
        c.shape(rounded_box(1, 1, 17, 17, 3), vertical(rgb("5CCBFA"), rgb("2196E8"), 1, 17))
        c.shape(polyline([(4.6, 9.2), (7.6, 12.2), (13.4, 5.6)], 2.1), rgb("FFFFFF"))
    else:
        # Twenty pixels, drawn squeezed into eighteen: a 1 px margin keeps
        # the rim as wide as the checked box's.
        c = Canvas(20, 20)
        c.shape(rounded_box(2, 2, 18, 18, 3), rgb("0B1018", 0.5))
        c.shape(subtract(rounded_box(2, 2, 18, 18, 3), rounded_box(3.6, 3.6, 16.4, 16.4, 1.8)), rgb("A7B2C2"))
    return c

def close_button(look):
    c = Canvas(12, 12)
    if look == "normal":
        c.shape(union(capsule(3, 3, 9, 9, 1.5), capsule(9, 3, 3, 9, 1.5)), TEXT_GREY)
    else:
        c.shape(rounded_box(0, 0, 12, 12, 2.5), rgb("E5484D") if look == "hover" else rgb("A8323A"))
        c.shape(union(capsule(3.6, 3.6, 8.4, 8.4, 1.4), capsule(8.4, 3.6, 3.6, 8.4, 1.4)),
                rgb("FFFFFF") if look == "hover" else rgb("F1D4D6"))
    return c

def minimize_button(look):
    c = Canvas(12, 4)
    colour = {"normal": TEXT_GREY, "hover": rgb("FFFFFF"), "pressed": ACCENT}[look]
    c.shape(capsule(2, 2, 10, 2, 1.6), colour)
    return c

def desk(c, x0, x1, top):
    c.shape(rounded_box(x0, top, x1, top + 7, 2), vertical(rgb("8A6A4E"), rgb("5E4634"), top, top + 7))
    leg = (x1 - x0) * 0.08
    c.shape(rounded_box(x0 + leg, top + 7, x0 + leg + 6, 121, 1), rgb("4A382A"))
    c.shape(rounded_box(x1 - leg - 6, top + 7, x1 - leg, 121, 1), rgb("4A382A"))

def sofa(c, x0, x1, top):
    c.shape(rounded_box(x0 + 6, top - 44, x1 - 6, top + 6, 10), vertical(rgb("3C5575"), rgb("2E4460"), top - 44, top))
    c.shape(rounded_box(x0, top - 2, x1, top + 18, 7), vertical(rgb("55769C"), rgb("3E5A7A"), top - 2, top + 18))
    c.shape(rounded_box(x0 - 4, top - 22, x0 + 12, top + 24, 6), rgb("4B6A8E"))
    c.shape(rounded_box(x1 - 12, top - 22, x1 + 4, top + 24, 6), rgb("4B6A8E"))

def motion_marks(c, cx, cy, radii, spread, width):
    for i, r in enumerate(radii):
        for start in (180 - spread / 2, -spread / 2):
            pts = [(cx + r * math.cos(math.radians(a)), cy - r * math.sin(math.radians(a)))
                   for a in range(int(start), int(start + spread) + 1, 5)]
            c.shape(polyline(pts, width), rgb("4FC3F7", 0.85 - 0.25 * i), bbox_of(pts, 3))

def scene(c, mobile, cx, scale):
    screen = vertical(rgb("4FC3F7"), rgb("1E5FA8"), 60 - 40 * scale, 60 + 20 * scale)
    half = 78 * scale
    if not mobile:
        # On a desk, upright, a mug beside it: the stationary case.
        top = 121 - 29 * scale
        desk(c, cx - half, cx + half, top)
        c.shape(rounded_box(cx - 51 * scale, top - 2, cx + 51 * scale, top + 0.5, 1.2), rgb("000000", 0.35))
        laptop(c, cx, top - 30 * scale, 104 * scale, rgb("C9D1DC"), screen, 4.0 * scale)
        snowflake(c, cx, top - 40 * scale, 13 * scale, 2.2 * scale, rgb("FFFFFF"))
        mx = cx + half - 20 * scale
        c.shape(rounded_box(mx, top - 16 * scale, mx + 12 * scale, top, 2), rgb("E9EEF3"))
        c.shape(ring(mx + 13.5 * scale, top - 8.5 * scale, 3.6 * scale, 1.8 * scale), rgb("E9EEF3"),
                (mx, top - 20, mx + 22, top + 2))
    else:
        # On the sofa, tilted, with motion marks: the accelerometer's case.
        top = 121 - 26 * scale
        sofa(c, cx - half - 6 * scale, cx + half + 6 * scale, top)
        laptop(c, cx, top - 34 * scale, 100 * scale, rgb("C9D1DC"), screen, 4.0 * scale, angle=-8)
        snowflake(c, cx - 0.5 * scale, top - 44 * scale, 12 * scale, 2.1 * scale, rgb("FFFFFF"))
        motion_marks(c, cx, top - 44 * scale, [r * scale for r in (64, 70, 76)], 50, 2.0 * scale)

def illustration(mobile):
    c = Canvas(183, 121)
    c.shape(rounded_box(0, 0, 183, 121, 0.01), vertical(rgb("26324A"), rgb("151B26"), 0, 121))
    scene(c, mobile, 91.5, 1.0)
    return c

def illustration_both():
    """Both uses side by side, as the automatic mode follows them."""
    c = Canvas(183, 121)
    c.shape(rounded_box(0, 0, 183, 121, 0.01), vertical(rgb("26324A"), rgb("151B26"), 0, 121))
    scene(c, False, 45, 0.5)
    scene(c, True, 138, 0.5)
    c.shape(circle(91.5, 70, 11), rgb("141A24"))
    c.shape(ring(91.5, 70, 11, 1.4), ACCENT)
    c.shape(polyline([(86, 67), (97, 67), (93.5, 63.5)], 1.5), ACCENT)
    c.shape(polyline([(97, 73), (86, 73), (89.5, 76.5)], 1.5), ACCENT)
    return c

# ---------------------------------------------------------------- icons

def icon_image(kind, size):
    s = float(size)
    c = Canvas(size, size)
    cx = cy = s / 2.0
    r = s * 0.47
    blue = vertical(rgb("5CCBFA"), rgb("1976D2"), cy - r, cy + r)
    grey = vertical(rgb("A3ABB6"), rgb("5B6370"), cy - r, cy + r)
    c.shape(circle(cx, cy, r), grey if kind == "off" else blue)
    c.shape(ring(cx, cy, r - max(0.5, s / 64.0), max(1.0, s / 32.0)), rgb("000000", 0.22))
    stroke = max(1.35, s * 0.085)
    small = size <= 24
    if kind in ("on", "off"):
        snowflake(c, cx, cy, r * 0.66, stroke, rgb("FFFFFF") if kind == "on" else rgb("E4E8ED"),
                  branches=not small)
        if kind == "off":
            slash = capsule(s * 0.2, s * 0.2, s * 0.8, s * 0.8, stroke * 1.25)
            c.shape(capsule(s * 0.2, s * 0.2, s * 0.8, s * 0.8, stroke * 1.25 + max(1.2, s / 20.0)), rgb("3A414C"))
            c.shape(slash, rgb("F4F6F8"))
    elif kind in ("stationary", "mobile"):
        glyph = rgb("FFFFFF")
        screen = rgb("1976D2") if kind == "stationary" else rgb("1E88E5")
        laptop(c, cx - (0 if kind == "stationary" else s * 0.04), cy + s * 0.06, s * (0.62 if kind == "stationary" else 0.56),
               glyph, screen, max(1.1, s * 0.06),
               angle=0 if kind == "stationary" else -14)
        if kind == "stationary":
            c.shape(capsule(s * 0.2, s * 0.76, s * 0.8, s * 0.76, max(1.0, s * 0.05)), rgb("FFFFFF", 0.8))
        else:
            for i, rr in enumerate((0.30, 0.38)):
                pts = [(s * 0.5 + s * rr * math.cos(math.radians(a)), s * 0.5 - s * rr * math.sin(math.radians(a)))
                       for a in range(20, 71, 6)]
                c.shape(polyline(pts, max(1.0, s * 0.05)), rgb("FFFFFF", 0.9 - 0.3 * i), bbox_of(pts, 2))
    elif kind == "auto":
        # Letter A for the automatic mode.
        top, left, right, base = (s * 0.24, s * 0.28, s * 0.72, s * 0.76)
        w = max(1.5, s * 0.1)
        c.shape(polyline([(left, base), (cx, top), (right, base)], w), rgb("FFFFFF"))
        c.shape(capsule(s * 0.38, s * 0.6, s * 0.62, s * 0.6, w * 0.85), rgb("FFFFFF"))
    return c

# ---------------------------------------------------------------- writers

def png_bytes(canvas, opaque=False):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 2 if opaque else 6, 0, 0, 0)
    raw = b"".join(b"\0" + row for row in canvas.rows(opaque))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

def dib_bytes(canvas):
    """32-bit BGRA image bottom-up plus its AND mask, as an icon entry holds it."""
    n = canvas.width
    rows = canvas.rows(False)
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((n + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(n):
            r, g, b, a = row[4 * x:4 * x + 4]
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)

def ico_bytes(images):
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for size, canvas in images:
        # Vista and later take the 256-pixel image as PNG; small ones stay DIBs.
        data = png_bytes(canvas) if size >= 256 else dib_bytes(canvas)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    return struct.pack("<HHH", 0, 1, len(images)) + entries + blobs

# ---------------------------------------------------------------- the set

PNGS = [
    # (resource id, file name, drawing, opaque)
    (135, "panel_background.png", panel_background, False),
    (116, "radio_selected.png", lambda: radio(True), False),
    (119, "radio_unselected.png", lambda: radio(False), False),
    (136, "about_background.png", about_background, False),
    (124, "check_box_checked.png", lambda: check_box(True), False),
    (123, "check_box_unchecked.png", lambda: check_box(False), False),
    (125, "close_normal.png", lambda: close_button("normal"), False),
    (126, "close_pressed.png", lambda: close_button("pressed"), False),
    (128, "close_hover.png", lambda: close_button("hover"), False),
    (129, "minimize_normal.png", lambda: minimize_button("normal"), False),
    (130, "minimize_pressed.png", lambda: minimize_button("pressed"), False),
    (131, "minimize_hover.png", lambda: minimize_button("hover"), False),
    (132, "notebook_stationary.png", lambda: illustration(False), True),
    (133, "notebook_mobile.png", lambda: illustration(True), True),
    (134, "notebook_both.png", illustration_both, True),
]

ICONS = [
    (101, "mode_on.ico", "on"),
    (102, "mode_off.ico", "off"),
    (103, "mode_stationary.ico", "stationary"),
    (104, "mode_mobile.ico", "mobile"),
    (105, "mode_auto.ico", "auto"),
]

def large_name(name):
    return name.replace(".png", "_2x.png")

def write(path, data):
    with open(path, "wb") as f:
        f.write(data)

def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for _, name, draw, opaque in PNGS:
        if draw is not None:
            write(os.path.join(out, name), png_bytes(draw(), opaque))
    # The twelve pictures the windows draw, again at double size.
    Canvas.scale = 2
    for _, name, draw, opaque in PNGS[:12]:
        write(os.path.join(out, large_name(name)), png_bytes(draw(), opaque))
    Canvas.scale = 1
    for _, name, kind in ICONS:
        sizes = [16, 20, 24, 32, 40, 48] + ([256] if kind == "on" else [])
        write(os.path.join(out, name), ico_bytes([(n, icon_image(kind, n)) for n in sizes]))

if __name__ == "__main__":
    main()
