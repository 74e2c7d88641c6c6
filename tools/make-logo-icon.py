#!/usr/bin/env python3
"""Draws the monitor's tray icon, a simple gaming mouse, into a Windows .ico file with the
sizes Windows asks for (16, 20, 24, 32, 40, 48, 64 and 256 pixels). Pure Python: each pixel is
sampled 4 x 4 times against the shapes, so edges are smooth at every size.

    tools/make-logo-icon.py resources/images/0409/icons/logo.ico
    tools/make-logo-icon.py --muted resources/images/0409/icons/logo-muted.ico

The muted variant, shown while the microphone is muted, carries a red badge with a white bar in
its lower right corner.
"""
import math
import struct
import sys
import zlib

SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
BODY = (38, 42, 48)          # dark graphite
OUTLINE = (235, 240, 245)    # light edge
ACCENT = (0, 200, 120)       # green wheel and light strip
BADGE = (220, 40, 40)        # red "muted" badge
BADGE_MARK = (255, 255, 255)


def body_distance(x, y):
    """Signed distance to the mouse body: a capsule, wider at the back (y grows downwards)."""
    cx, top, bottom = 0.5, 0.10, 0.90
    half_width = 0.25 + 0.05 * max(0.0, min(1.0, (y - top) / (bottom - top)))
    radius = half_width
    yc = min(max(y, top + radius), bottom - radius)
    return math.hypot(x - cx, y - yc) - radius


def colour_at(x, y):
    """Colour and coverage (0..1) of one sample point in the unit square."""
    d = body_distance(x, y)
    if d > 0:
        return None
    if d > -0.045:
        return OUTLINE
    # Buttons split by a line down the front, a wheel in the middle, a light strip below.
    if 0.12 < y < 0.42 and abs(x - 0.5) < 0.018:
        return OUTLINE
    if abs(x - 0.5) < 0.045 and 0.20 < y < 0.34:
        return ACCENT
    if 0.47 < y < 0.50 and abs(x - 0.5) < 0.20:
        return OUTLINE
    if 0.70 < y < 0.76 and abs(x - 0.5) < 0.10:
        return ACCENT
    return BODY


def muted_colour_at(x, y):
    """The logo with the muted badge over its lower right corner."""
    d = math.hypot(x - 0.72, y - 0.72)
    if d < 0.27:
        if d > 0.24:
            return OUTLINE
        if abs(y - 0.72) < 0.05 and abs(x - 0.72) < 0.15:
            return BADGE_MARK
        return BADGE
    return colour_at(x, y)


def render(size, colour_at=colour_at):
    """RGBA rows, top row first."""
    n = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            if a:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bmp_entry(size, rows):
    """A 32-bit DIB with its AND mask, as icons store small sizes."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pixels + mask


def png_entry(size, rows):
    """A PNG, as icons store the 256-pixel size."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\0' + bytes(v for px in row for v in px) for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main(path, muted=False):
    images = []
    for size in SIZES:
        rows = render(size, muted_colour_at if muted else colour_at)
        images.append((size, png_entry(size, rows) if size >= 256 else bmp_entry(size, rows)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data in images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    if sys.argv[1] == '--muted':
        main(sys.argv[2], muted=True)
    else:
        main(sys.argv[1])
