#!/usr/bin/env python3
"""Draws the tool-button icons as 32x32 PNG files (white strokes on a
transparent background). Run it again after changing a drawing."""
import math
import struct
import zlib

SIZE = 32
SAMPLES = 4  # supersampling per axis for smooth edges


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def render(shapes):
    """shapes: list of ('line', x0, y0, x1, y1) / ('circle', cx, cy, r) /
    ('arc', cx, cy, r, a0, a1) / ('dot', x, y, r) / ('poly', [(x, y), ...])."""
    width = 2.0
    rows = []
    for y in range(SIZE):
        row = bytearray([0])
        for x in range(SIZE):
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px = x + (sx + 0.5) / SAMPLES
                    py = y + (sy + 0.5) / SAMPLES
                    if any(covers(shape, px, py, width) for shape in shapes):
                        hits += 1
            alpha = round(255 * hits / (SAMPLES * SAMPLES))
            row += bytes([255, 255, 255, alpha])
        rows.append(bytes(row))
    return png(b"".join(rows))


def covers(shape, px, py, width):
    kind = shape[0]
    if kind == "line":
        return segment_distance(px, py, *shape[1:]) <= width / 2
    if kind == "circle":
        _, cx, cy, r = shape
        return abs(math.hypot(px - cx, py - cy) - r) <= width / 2
    if kind == "arc":
        _, cx, cy, r, a0, a1 = shape
        angle = math.degrees(math.atan2(cy - py, px - cx)) % 360
        inside = a0 <= angle <= a1 if a0 <= a1 else angle >= a0 or angle <= a1
        return inside and abs(math.hypot(px - cx, py - cy) - r) <= width / 2
    if kind == "dot":
        _, cx, cy, r = shape
        return math.hypot(px - cx, py - cy) <= r
    if kind == "poly":
        points = shape[1]
        return any(segment_distance(px, py, *points[i], *points[(i + 1) % len(points)]) <= width / 2
                   for i in range(len(points)))
    raise ValueError(kind)


def png(raw):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


ICONS = {
    "drawLine": [("line", 5, 27, 27, 5), ("dot", 5, 27, 2.5), ("dot", 27, 5, 2.5)],
    "drawHLine": [("line", 4, 16, 28, 16), ("line", 4, 11, 4, 21), ("line", 28, 11, 28, 21)],
    "drawVLine": [("line", 16, 4, 16, 28), ("line", 11, 4, 21, 4), ("line", 11, 28, 21, 28)],
    "drawPar": [("line", 4, 12, 28, 4), ("line", 4, 28, 28, 20), ("line", 12, 9.5, 16, 24)],
    "drawVer": [("line", 4, 24, 28, 24), ("line", 16, 4, 16, 24), ("line", 16, 20, 20, 20), ("line", 20, 20, 20, 24)],
    "drawAng": [("line", 4, 26, 28, 26), ("line", 4, 26, 24, 6), ("line", 10, 8, 14, 30)],
    "drawThreeAng": [("line", 5, 26, 28, 26), ("line", 5, 26, 22, 6), ("arc", 5, 26, 11, 0, 50)],
    "drawRect": [("poly", [(5, 8), (27, 8), (27, 24), (5, 24)])],
    "drawArc": [("arc", 16, 20, 12, 0, 180), ("dot", 4, 20, 2.2), ("dot", 28, 20, 2.2), ("dot", 16, 8, 2.2)],
    "drawCircle": [("circle", 16, 16, 11), ("dot", 16, 16, 1.8)],
    "drawLineCircle": [("circle", 12, 16, 8), ("dot", 12, 16, 1.8), ("line", 12, 16, 28, 6), ("dot", 28, 6, 2.2)],
    "drawTwoCircle": [("circle", 9, 16, 6), ("circle", 23, 16, 6), ("line", 9, 16, 23, 16)],
    "drawVerCircle": [("circle", 16, 14, 9), ("line", 4, 28, 28, 28), ("line", 16, 14, 16, 28)],
    "drawPoly": [("poly", [(6, 10), (18, 4), (28, 14), (22, 28), (8, 24)])],
    "drawText": [("line", 6, 6, 26, 6), ("line", 16, 6, 16, 27), ("line", 12, 27, 20, 27)],
    # Unlock: a padlock with its shackle open.
    "unLock": [("poly", [(6, 15), (22, 15), (22, 28), (6, 28)]), ("arc", 20, 10, 6, 0, 180), ("line", 14, 10, 14, 15),
               ("line", 26, 10, 26, 12), ("dot", 14, 21, 1.8)],
    "move": [("line", 16, 3, 16, 29), ("line", 3, 16, 29, 16), ("line", 16, 3, 12, 7), ("line", 16, 3, 20, 7),
             ("line", 16, 29, 12, 25), ("line", 16, 29, 20, 25), ("line", 3, 16, 7, 12), ("line", 3, 16, 7, 20),
             ("line", 29, 16, 25, 12), ("line", 29, 16, 25, 20)],
    "right-arrow": [("line", 11, 6, 21, 16), ("line", 21, 16, 11, 26)],
    "smallArrowUp": [("line", 8, 20, 16, 11), ("line", 16, 11, 24, 20)],
    "11": [("line", 6, 6, 26, 26), ("line", 6, 6, 6, 16), ("line", 6, 6, 16, 6)],
    # Camera on/off switch: the power symbol.
    "join": [("arc", 16, 17, 10, 120, 60), ("line", 16, 4, 16, 16)],
    # Network settings: one box above, linked to two below.
    "netSet": [("poly", [(11, 4), (21, 4), (21, 11), (11, 11)]), ("line", 16, 11, 16, 17), ("line", 7, 17, 25, 17),
               ("line", 7, 17, 7, 21), ("line", 25, 17, 25, 21), ("poly", [(3, 21), (11, 21), (11, 28), (3, 28)]),
               ("poly", [(21, 21), (29, 21), (29, 28), (21, 28)])],
    # Settings: a gear.
    "set": [("circle", 16, 16, 4.5), ("circle", 16, 16, 9), ("line", 25.0, 16.0, 29.0, 16.0), ("line", 22.4, 22.4, 25.2, 25.2), ("line", 16.0, 25.0, 16.0, 29.0), ("line", 9.6, 22.4, 6.8, 25.2), ("line", 7.0, 16.0, 3.0, 16.0), ("line", 9.6, 9.6, 6.8, 6.8), ("line", 16.0, 7.0, 16.0, 3.0), ("line", 22.4, 9.6, 25.2, 6.8)],
    # Main window: the four page buttons.
    "device": [("poly", [(4, 10), (22, 10), (22, 24), (4, 24)]), ("poly", [(22, 14), (29, 10), (29, 24), (22, 20)]),
               ("circle", 13, 17, 3.5)],
    "capture": [("poly", [(4, 10), (20, 10), (20, 26), (4, 26)]), ("line", 8, 6, 24, 6), ("line", 24, 6, 24, 22),
                ("line", 12, 2.5, 28, 2.5), ("line", 28, 2.5, 28, 18)],
    "measure": [("poly", [(3, 20), (20, 3), (29, 12), (12, 29)]), ("line", 8, 15, 11, 18), ("line", 12, 11, 14, 13),
                ("line", 16, 7, 19, 10), ("line", 20, 3, 29, 12)],
    "annotate": [("line", 6, 26, 22, 10), ("line", 22, 10, 26, 6), ("line", 6, 26, 4, 29), ("line", 9, 29, 27, 29),
                 ("line", 19, 7, 25, 13)],
    # Snap, time lapse and record.
    "snap": [("poly", [(3, 10), (10, 10), (12, 6), (20, 6), (22, 10), (29, 10), (29, 26), (3, 26)]),
             ("circle", 16, 17, 5.5)],
    "timeLapse": [("circle", 16, 16, 12), ("line", 16, 16, 16, 8), ("line", 16, 16, 22, 19)],
    "record": [("circle", 16, 16, 12), ("dot", 16, 16, 6.5)],
    # Top tool bar.
    "openPic": [("poly", [(3, 8), (12, 8), (14, 11), (29, 11), (29, 26), (3, 26)]), ("line", 3, 15, 29, 15)],
    "savePic": [("poly", [(4, 4), (24, 4), (28, 8), (28, 28), (4, 28)]), ("poly", [(9, 4), (21, 4), (21, 11), (9, 11)]),
                ("poly", [(8, 17), (24, 17), (24, 28), (8, 28)])],
    "zoomAdd": [("circle", 13, 13, 8.5), ("line", 19, 19, 28, 28), ("line", 9, 13, 17, 13), ("line", 13, 9, 13, 17)],
    "zoomSub": [("circle", 13, 13, 8.5), ("line", 19, 19, 28, 28), ("line", 9, 13, 17, 13)],
    "focus": [("line", 4, 4, 11, 4), ("line", 4, 4, 4, 11), ("line", 28, 4, 21, 4), ("line", 28, 4, 28, 11),
              ("line", 4, 28, 11, 28), ("line", 4, 28, 4, 21), ("line", 28, 28, 21, 28), ("line", 28, 28, 28, 21),
              ("dot", 16, 16, 3)],
    "select": [("poly", [(8, 4), (8, 26), (13, 21), (17, 29), (20, 27.5), (16, 20), (23, 20)])],
    "fullScreen": [("line", 4, 4, 12, 4), ("line", 4, 4, 4, 12), ("line", 28, 4, 20, 4), ("line", 28, 4, 28, 12),
                   ("line", 4, 28, 12, 28), ("line", 4, 28, 4, 20), ("line", 28, 28, 20, 28), ("line", 28, 28, 28, 20)],
    "del": [("line", 8, 8, 24, 24), ("line", 8, 24, 24, 8)],
    "exportCSV": [("poly", [(7, 4), (20, 4), (25, 9), (25, 28), (7, 28)]), ("line", 11, 13, 21, 13),
                  ("line", 11, 18, 21, 18), ("line", 11, 23, 17, 23)],
    "drawCrossLine": [("line", 16, 3, 16, 29), ("line", 3, 16, 29, 16)],
    "drawGridlines": [("poly", [(4, 4), (28, 4), (28, 28), (4, 28)]), ("line", 12, 4, 12, 28), ("line", 20, 4, 20, 28),
                      ("line", 4, 12, 28, 12), ("line", 4, 20, 28, 20)],
}

if __name__ == "__main__":
    for name, shapes in ICONS.items():
        with open(name + ".png", "wb") as out:
            out.write(render(shapes))
