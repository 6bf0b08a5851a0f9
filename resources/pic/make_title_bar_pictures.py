#!/usr/bin/env python3
"""Draws the title bar's settings and close glyphs (set.svg, close.svg) and the
wait dialog's loading animation (loading_80px.gif). Run it again after changing
a drawing; it needs nothing but Python 3.

The SVG glyphs sit in a 46x32 view box, the size of a title-bar button, since
the button renders the document into its whole rectangle. Every stroke is a
<path> with fill="none": the button recolours the glyph by setting the stroke
of each path element."""
import math
import struct

# Title-bar glyphs: 1-pixel strokes, 10 pixels across, centred like the
# minimise and maximise glyphs that the buttons paint themselves.
CENTRE_X, CENTRE_Y = 23.0, 16.0


def fmt(value):
    return ("%.2f" % value).rstrip("0").rstrip(".")


def svg(paths, width=1.0):
    body = "".join(
        '  <path d="%s" fill="none" stroke="#ffffff" stroke-width="%s" '
        'stroke-linecap="round" stroke-linejoin="round"/>\n' % (d, fmt(width)) for d in paths)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="46" height="32" viewBox="0 0 46 32">\n'
            + body + "</svg>\n")


def polar(radius, degrees):
    angle = math.radians(degrees)
    return CENTRE_X + radius * math.cos(angle), CENTRE_Y + radius * math.sin(angle)


def gear_path(teeth=6, tip_radius=7.5, root_radius=5.5, tip_half=11.0, root_half=18.0):
    step = 360.0 / teeth
    parts = []
    for i in range(teeth):
        a = i * step - 90.0
        points = [polar(root_radius, a - root_half), polar(tip_radius, a - tip_half),
                  polar(tip_radius, a + tip_half), polar(root_radius, a + root_half)]
        if i == 0:
            parts.append("M%s %s" % (fmt(points[0][0]), fmt(points[0][1])))
        else:
            parts.append("A%s %s 0 0 1 %s %s" % (fmt(root_radius), fmt(root_radius),
                                                fmt(points[0][0]), fmt(points[0][1])))
        parts.append("L%s %s" % (fmt(points[1][0]), fmt(points[1][1])))
        parts.append("A%s %s 0 0 1 %s %s" % (fmt(tip_radius), fmt(tip_radius),
                                            fmt(points[2][0]), fmt(points[2][1])))
        parts.append("L%s %s" % (fmt(points[3][0]), fmt(points[3][1])))
    first = polar(root_radius, -90.0 - root_half)
    parts.append("A%s %s 0 0 1 %s %s Z" % (fmt(root_radius), fmt(root_radius), fmt(first[0]), fmt(first[1])))
    return "".join(parts)


def circle_path(radius):
    left, right = CENTRE_X - radius, CENTRE_X + radius
    r = fmt(radius)
    return "M%s %s A%s %s 0 1 1 %s %s A%s %s 0 1 1 %s %s Z" % (
        fmt(left), fmt(CENTRE_Y), r, r, fmt(right), fmt(CENTRE_Y), r, r, fmt(left), fmt(CENTRE_Y))


def set_svg():
    return svg([gear_path(), circle_path(2.5)])


def close_svg():
    # Antialiased diagonals look fainter than the straight 1-pixel glyphs
    # beside them; a slightly wider stroke gives them the same weight.
    return svg(["M18.5 11.5 L28.5 21.5", "M28.5 11.5 L18.5 21.5"], 1.3)


# Loading animation: twelve rounded spokes in a ring; the bright spoke runs
# clockwise and the others fade behind it. Spokes are blended into the
# program's dark background; pixels outside every spoke are transparent.
GIF_SIZE = 80
SPOKES = 12
FRAMES = 12
DELAY_CS = 8  # hundredths of a second per frame
INNER_RADIUS, OUTER_RADIUS, SPOKE_WIDTH = 19.0, 34.0, 6.0
BACKGROUND = (0x20, 0x21, 0x24)
SPOKE_COLOUR = (0x8a, 0xb4, 0xf8)
LEVELS = 127  # palette entries 1..127 are blends; 0 is transparent
SAMPLES = 4   # supersampling per axis


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def spoke_coverage():
    """For every pixel: (spoke index, covered fraction); spokes don't overlap."""
    centre = GIF_SIZE / 2.0
    spokes = []
    for i in range(SPOKES):
        angle = math.radians(i * 360.0 / SPOKES - 90.0)
        c, s = math.cos(angle), math.sin(angle)
        spokes.append((centre + INNER_RADIUS * c, centre + INNER_RADIUS * s,
                       centre + OUTER_RADIUS * c, centre + OUTER_RADIUS * s))
    cells = []
    for y in range(GIF_SIZE):
        for x in range(GIF_SIZE):
            best, hits = 0, 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px, py = x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES
                    angle = (math.degrees(math.atan2(py - centre, px - centre)) + 90.0) % 360.0
                    index = int(round(angle / (360.0 / SPOKES))) % SPOKES
                    if segment_distance(px, py, *spokes[index]) <= SPOKE_WIDTH / 2:
                        best, hits = index, hits + 1
            cells.append((best, hits / float(SAMPLES * SAMPLES)))
    return cells


def palette():
    colours = [BACKGROUND]
    for level in range(1, LEVELS + 1):
        t = level / float(LEVELS)
        colours.append(tuple(int(round(b + (f - b) * t)) for b, f in zip(BACKGROUND, SPOKE_COLOUR)))
    return colours


def frame_indices(cells, frame):
    indices = bytearray()
    for spoke, coverage in cells:
        if coverage == 0.0:
            indices.append(0)
            continue
        behind = (frame - spoke) % SPOKES  # 0 for the bright spoke
        opacity = 1.0 - 0.8 * behind / (SPOKES - 1)
        indices.append(max(1, int(round(coverage * opacity * LEVELS))))
    return bytes(indices)


def lzw(indices, min_code_size):
    """GIF's variable-length LZW (no early change), packed least-significant bit first."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code, size):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    def fresh():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, size = fresh()
    emit(clear, size)
    word = bytes([indices[0]])
    for value in indices[1:]:
        grown = word + bytes([value])
        if grown in table:
            word = grown
            continue
        emit(table[word], size)
        if next_code < 4096:
            table[grown] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear, size)
            table, next_code, size = fresh()
        word = bytes([value])
    emit(table[word], size)
    emit(end, size)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for start in range(0, len(data), 255):
        chunk = data[start:start + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b"\x00")


def loading_gif():
    cells = spoke_coverage()
    out = bytearray(b"GIF89a")
    # Global colour table of 128 entries (size field 6), colour resolution 8 bits.
    out += struct.pack("<HHBBB", GIF_SIZE, GIF_SIZE, 0x80 | 0x70 | 6, 0, 0)
    for colour in palette():
        out += bytes(colour)
    out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for frame in range(FRAMES):
        # Graphic control: restore to background after the frame, transparent index 0.
        out += b"\x21\xf9\x04" + struct.pack("<BHB", (2 << 2) | 1, DELAY_CS, 0) + b"\x00"
        out += b"\x2c" + struct.pack("<HHHHB", 0, 0, GIF_SIZE, GIF_SIZE, 0)
        out += b"\x07" + sub_blocks(lzw(frame_indices(cells, frame), 7))
    out += b"\x3b"
    return bytes(out)


if __name__ == "__main__":
    with open("set.svg", "w") as out:
        out.write(set_svg())
    with open("close.svg", "w") as out:
        out.write(close_svg())
    with open("loading_80px.gif", "wb") as out:
        out.write(loading_gif())
