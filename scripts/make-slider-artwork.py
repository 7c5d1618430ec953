#!/usr/bin/env python3
"""Draws the sliders' bitmaps as PNG files (24-bit RGB) into widgets/slider/artwork/.

The sizes, groove rows, band rows and colours are the slider's geometry: the painting code
derives the thumb half width and the track length from these pixel sizes. Background
(240, 240, 240) everywhere, the colour of the sliders' surface, so unpainted parts blend in.
Run again after changing a design; the PNGs are committed.
"""
import math
import os

from pngwrite import write_png

BG = (240, 240, 240)
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "widgets", "slider", "artwork")


def canvas(w, h):
    return [[BG for _ in range(w)] for _ in range(h)]


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


# --- NaSlider: the position slider -------------------------------------------------------
GROOVE = {9: (231, 235, 244), 10: (157, 161, 166), 11: (244, 246, 250), 12: (238, 241, 246),
          13: (190, 195, 203), 14: (234, 239, 246)}
BAND = {9: (231, 235, 244), 10: (157, 161, 166), 11: (127, 201, 250), 12: (1, 76, 182),
        13: (97, 159, 242), 14: (234, 239, 246)}


def position_strip():
    w, h = 409, 24
    p = canvas(w, h)
    for y, c in GROOVE.items():
        for x in range(1, w - 1):
            p[y][x] = c
    # rounded ends: the outline closes the groove at both ends
    for y in (11, 12):
        p[y][1] = GROOVE[10]
        p[y][w - 2] = GROOVE[13]
    for y in (9, 14):
        p[y][1] = BG
        p[y][w - 2] = BG
    return p


def triangle(w, h, edge, centre):
    p = canvas(w, h)
    for y in range(h):
        inset = y * (w / 2) / h
        left, right = inset, w - inset
        for x in range(w):
            cx = x + 0.5
            if left <= cx <= right:
                d = min(cx - left, right - cx, h - y)
                p[y][x] = mix(edge, centre, min(1.0, max(0.0, (d - 0.5) / 3.0)))
    return p


def marker(start):
    p = canvas(8, 8)
    for y in range(8):
        for x in range(8):
            filled = x >= 7 - y if start else x <= y
            if filled:
                p[y][x] = (40, 40, 40) if (x + y) % 7 else (54, 54, 54)
    return p


def tile(w, h, rows):
    p = canvas(w, h)
    for y, c in rows.items():
        for x in range(w):
            p[y][x] = c
    return p


# --- NaSlider1: the volume slider --------------------------------------------------------
VGROOVE = {6: (162, 169, 176), 7: (224, 235, 246), 8: (191, 197, 207)}
VBAND = {5: (164, 213, 247), 6: (63, 111, 180), 7: (145, 188, 244), 8: (191, 197, 207)}


def volume_strip():
    w, h = 67, 15
    p = canvas(w, h)
    for y, c in VGROOVE.items():
        for x in range(1, w - 1):
            p[y][x] = c
    p[6][1] = p[8][1] = p[6][w - 2] = p[8][w - 2] = BG  # rounded ends
    p[7][0] = VGROOVE[6]
    p[7][w - 1] = VGROOVE[8]
    return p


def knob(dark, light, rim):
    w, h = 12, 15
    p = canvas(w, h)
    cx, cy, r = 6.0, 7.5, 5.6
    for y in range(h):
        for x in range(w):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if d <= r:
                t = max(0.0, min(1.0, (y + 0.5 - (cy - r)) / (2 * r)))
                p[y][x] = rim if d > r - 1 else mix(light, dark, t)
    return p


def small(w, h, color):
    p = canvas(w, h)
    for y in range(h):
        for x in range(w):
            if x >= (w - 1) - y * (w - 1) / (h - 1):
                p[y][x] = color
    return p


def main():
    os.makedirs(OUT, exist_ok=True)
    write_png(os.path.join(OUT, "position-track.png"), position_strip())
    write_png(os.path.join(OUT, "position-thumb.png"), triangle(16, 10, (14, 78, 190), (120, 180, 245)))
    write_png(os.path.join(OUT, "position-thumb-disabled.png"), triangle(16, 10, (138, 150, 170), (196, 203, 214)))
    write_png(os.path.join(OUT, "position-start.png"), marker(True))
    write_png(os.path.join(OUT, "position-end.png"), marker(False))
    write_png(os.path.join(OUT, "position-band.png"), tile(16, 24, BAND))
    write_png(os.path.join(OUT, "volume-track.png"), volume_strip())
    write_png(os.path.join(OUT, "volume-thumb.png"), knob((24, 88, 190), (150, 200, 250), (20, 70, 160)))
    write_png(os.path.join(OUT, "volume-thumb-disabled.png"), knob((150, 150, 150), (215, 215, 215), (130, 130, 130)))
    write_png(os.path.join(OUT, "volume-start.png"), small(3, 5, (60, 60, 60)))
    write_png(os.path.join(OUT, "volume-end.png"), small(3, 5, (60, 60, 60)))
    write_png(os.path.join(OUT, "volume-band.png"), tile(12, 15, VBAND))


if __name__ == "__main__":
    main()
