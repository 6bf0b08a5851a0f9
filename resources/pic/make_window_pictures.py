#!/usr/bin/env python3
"""Draws the main window's own pictures: the program's logo (pic/Logo.png and
icon/Logo.ico) and the mask of the left page buttons (pic/leftMenuMask2.png).
Run it again after changing a drawing."""
import math
import os
import struct
import zlib

SAMPLES = 4  # supersampling per axis for smooth edges


def png(width, height, pixel):
    """pixel(x, y) -> (r, g, b, a) with x, y in pixels (floats, sampled)."""
    rows = []
    for y in range(height):
        row = bytearray([0])
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = pixel(x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                row += bytes([round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(255 * alpha)])
            else:
                row += bytes([0, 0, 0, 0])
        rows.append(bytes(row))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
            + chunk(b"IEND", b""))


def logo(size):
    """A lens: blue disc, white ring, a small highlight."""
    c = size / 2.0
    outer = size * 0.47
    ring = size * 0.33
    ring_width = max(1.0, size * 0.07)

    def pixel(x, y):
        d = math.hypot(x - c, y - c)
        if d > outer:
            return (0, 0, 0, 0.0)
        if abs(d - ring) <= ring_width / 2:
            return (255, 255, 255, 1.0)
        hx, hy = c - size * 0.12, c - size * 0.12
        if math.hypot(x - hx, y - hy) <= size * 0.07:
            return (230, 240, 255, 1.0)
        shade = 1.0 - 0.35 * d / outer
        return (round(26 * shade), round(115 * shade), round(232 * shade), 1.0)
    return png(size, size, pixel)


def ico(images):
    """An .ico file holding PNG images: [(size, png bytes)]."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return header + entries + data


def mask(width, height, radius):
    """Opaque where a page button shows: a rectangle with rounded top corners."""
    def pixel(x, y):
        if y < radius:
            if x < radius and math.hypot(x - radius, y - radius) > radius:
                return (0, 0, 0, 0.0)
            if x > width - radius and math.hypot(x - (width - radius), y - radius) > radius:
                return (0, 0, 0, 0.0)
        return (255, 255, 255, 1.0)
    return png(width, height, pixel)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "Logo.png"), "wb") as out:
        out.write(logo(64))
    with open(os.path.join(here, "leftMenuMask2.png"), "wb") as out:
        out.write(mask(100, 64, 8))
    with open(os.path.join(here, "..", "icon", "Logo.ico"), "wb") as out:
        out.write(ico([(size, logo(size)) for size in (16, 32, 48, 256)]))
