#!/usr/bin/env python3
"""Renders the application icon (resources/icons/snipora.svg) as PNG files of the hicolor
sizes into resources/icons/, without an SVG library: the icon is a blue rounded square with
white scissors, and this script draws the same shapes with 4x4 supersampling. Run again after
changing the design; the PNGs are committed.
"""
import math
import os

from pngwrite import write_png

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "icons")
BLUE = (0x2A, 0x7A, 0xD6)
WHITE = (255, 255, 255)
# The design on a 256 x 256 canvas, as in the SVG.
RECT = (2, 2, 254, 254, 51)
RINGS = [((87, 158), 23), ((169, 158), 23)]
BLADES = [((101, 140), (176, 49)), ((155, 140), (80, 49))]
STROKE = 13 / 2


def in_rounded_rect(x, y):
    x0, y0, x1, y1, r = RECT
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def seg_dist(p, a, b):
    ax, ay = a
    bx, by = b
    px, py = p
    dx, dy = bx - ax, by - ay
    t = max(0, min(1, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def in_scissors(x, y):
    for (cx, cy), r in RINGS:
        if abs(math.hypot(x - cx, y - cy) - r) <= STROKE:
            return True
    return any(seg_dist((x, y), a, b) <= STROKE for a, b in BLADES)


def render(size):
    scale = 256 / size
    rows = []
    n = 4
    for py in range(size):
        row = []
        for px in range(size):
            cover = [0.0, 0.0, 0.0, 0.0]  # r, g, b premultiplied, alpha
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) * scale
                    y = (py + (sy + 0.5) / n) * scale
                    if in_rounded_rect(x, y):
                        c = WHITE if in_scissors(x, y) else BLUE
                        cover[0] += c[0]
                        cover[1] += c[1]
                        cover[2] += c[2]
                        cover[3] += 1
            a = cover[3] / (n * n)
            if cover[3]:
                row.append((round(cover[0] / cover[3]), round(cover[1] / cover[3]),
                            round(cover[2] / cover[3]), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


for size in (16, 24, 32, 48, 64, 128, 256):
    write_png(os.path.join(OUT, "snipora-%d.png" % size), render(size))
