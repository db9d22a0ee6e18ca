#!/usr/bin/env python3
"""Draws the console's icons and the tray menu's side bitmap (Python
standard library only) and writes them beside this script. The outputs are
committed; run this again after changing a drawing.

Every icon is drawn on a 16-unit grid, so the 16x16 image (the size the tray,
the menu and the buttons show) gets whole-pixel edges; the 32x32 image is the
same drawing at twice the scale. Shapes are painted in order and each pixel
is supersampled 4x4 for smooth edges."""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def rgb(h):
    return ((h >> 16) & 255, (h >> 8) & 255, h & 255)


# Shapes: (test(x, y) -> bool, colour). Coordinates in grid units 0..16.
def circle(cx, cy, r, c):
    return (lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, rgb(c))


def ring(cx, cy, r1, r2, c, a0=None, a1=None):
    def t(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        if not (r1 * r1 <= d <= r2 * r2):
            return False
        if a0 is None:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return (a - a0) % 360 <= (a1 - a0) % 360
    return (t, rgb(c))


def rect(x0, y0, x1, y1, c, r=0.0):
    def t(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        if r <= 0:
            return True
        qx = min(x - x0, x1 - x)
        qy = min(y - y0, y1 - y)
        if qx >= r or qy >= r:
            return True
        return (r - qx) ** 2 + (r - qy) ** 2 <= r * r
    return (t, rgb(c))


def poly(points, c):
    def t(x, y):
        inside = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                inside = not inside
        return inside
    return (t, rgb(c))


def line(ax, ay, bx, by, w, c):
    def t(x, y):
        dx, dy = bx - ax, by - ay
        k = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + k * dx, ay + k * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (w / 2) ** 2
    return (t, rgb(c))


def render(shapes, size, ss=4):
    scale = 16.0 / size
    px = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sj in range(ss):
                for si in range(ss):
                    x = (i + (si + 0.5) / ss) * scale
                    y = (j + (sj + 0.5) / ss) * scale
                    col = None
                    for test, c in shapes:
                        if test(x, y):
                            col = c
                    if col is not None:
                        acc[0] += col[0]
                        acc[1] += col[1]
                        acc[2] += col[2]
                        acc[3] += 1
            n = ss * ss
            a = acc[3] / n
            if acc[3]:
                row.append((int(acc[0] / acc[3] + 0.5), int(acc[1] / acc[3] + 0.5),
                            int(acc[2] / acc[3] + 0.5), int(a * 255 + 0.5)))
            else:
                row.append((0, 0, 0, 0))
        px.append(row)
    return px


def ico(images):
    """images: list of (size, pixels rows top-down of (r, g, b, a))."""
    head = struct.pack("<HHH", 0, 1, len(images))
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for size, px in images:
        bmp = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        for row in reversed(px):
            for r, g, b, a in row:
                bmp += bytes((b, g, r, a))
        stride = ((size + 31) // 32) * 4
        for row in reversed(px):
            bits = bytearray(stride)
            for i, p in enumerate(row):
                if p[3] == 0:
                    bits[i // 8] |= 0x80 >> (i % 8)
            bmp += bytes(bits)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(bmp), offset)
        blobs += bmp
        offset += len(bmp)
    return head + entries + blobs


def arrow_head(tipx, tipy, dx, dy, size, c):
    # A triangle pointing along (dx, dy).
    n = math.hypot(dx, dy)
    dx, dy = dx / n, dy / n
    bx, by = tipx - dx * size, tipy - dy * size
    return poly([(tipx, tipy), (bx - dy * size * 0.75, by + dx * size * 0.75),
                 (bx + dy * size * 0.75, by - dx * size * 0.75)], c)


def gear(cx, cy, r_out, r_in, teeth, c, hole):
    pts = []
    for k in range(teeth * 4):
        a = 2 * math.pi * k / (teeth * 4)
        r = r_out if (k % 4) in (0, 1) else r_in
        pts.append((cx + r * math.cos(a + math.pi / (teeth * 4)), cy + r * math.sin(a + math.pi / (teeth * 4))))
    return [poly(pts, c), circle(cx, cy, hole, 0xFFFFFF)]


DARK = 0x1F3B5C
ICONS = {
    # The console itself: a gateway node passing connections on (blue tile,
    # white arrows both ways).
    145: [rect(0.5, 0.5, 15.5, 15.5, 0x174A8B, 3), rect(1.5, 1.5, 14.5, 14.5, 0x2F7FE0, 2.2),
          line(3.5, 6, 10.5, 6, 2, 0xFFFFFF), arrow_head(13, 6, 1, 0, 3.2, 0xFFFFFF),
          line(12.5, 10.5, 5.5, 10.5, 2, 0xFFFFFF), arrow_head(3, 10.5, -1, 0, 3.2, 0xFFFFFF)],
    # Configure: a grey gear.
    139: [*gear(8, 8, 7.4, 5.4, 8, 0x4A5563, 0)[:1], circle(8, 8, 4.6, 0x8A96A6),
          circle(8, 8, 2.2, 0xFFFFFF)],
    # Exit: a red power button.
    137: [circle(8, 8, 7.5, 0xA3221B), circle(8, 8, 6.5, 0xE0463C),
          ring(8, 8.6, 2.9, 4.5, 0xFFFFFF, 120, 60), line(8, 2.6, 8, 7.6, 1.8, 0xFFFFFF)],
    # Stop the service: a red tile with a white square.
    148: [rect(1, 1, 15, 15, 0x9E1F18, 3), rect(2, 2, 14, 14, 0xE0463C, 2.2),
          rect(5, 5, 11, 11, 0xFFFFFF, 0.8)],
    # Start the service: a green disc with a white play triangle.
    149: [circle(8, 8, 7.5, 0x1E7B34), circle(8, 8, 6.5, 0x34A853),
          poly([(6, 4.2), (6, 11.8), (12.2, 8)], 0xFFFFFF)],
    # Web configuration: a globe.
    150: [circle(8, 8, 7.5, 0x17578F), circle(8, 8, 6.6, 0x3C8FD8),
          ring(8, 8, 0, 6.6, 0x3C8FD8), line(1.6, 8, 14.4, 8, 1.1, 0xFFFFFF),
          line(8, 1.6, 8, 14.4, 1.1, 0xFFFFFF), ring(8, 8, 2.6, 3.6, 0xFFFFFF, 90, 270),
          ring(8, 8, 2.6, 3.6, 0xFFFFFF, 270, 90), line(2.8, 4.6, 13.2, 4.6, 1.0, 0xFFFFFF),
          line(2.8, 11.4, 13.2, 11.4, 1.0, 0xFFFFFF)],
    # Refresh the list: two green arrows chasing each other round a circle.
    151: [ring(8, 8, 3.6, 6.0, 0x2A9D48, 20, 160), ring(8, 8, 3.6, 6.0, 0x2A9D48, 200, 340),
          arrow_head(2.2, 9.4, 0, 1, 3.4, 0x2A9D48), arrow_head(13.8, 6.6, 0, -1, 3.4, 0x2A9D48)],
    # System settings (the computer's name): a computer screen.
    152: [rect(0.5, 1.5, 15.5, 12, 0x3B4654, 1.5), rect(2, 3, 14, 10.5, 0x5AA9F0),
          rect(6, 12, 10, 13.8, 0x3B4654), rect(3.5, 13.5, 12.5, 15, 0x3B4654, 0.7),
          rect(3.5, 4.5, 9, 5.8, 0xFFFFFF), rect(3.5, 7, 12, 8.3, 0xDDEEFF)],
    # Advanced configuration (behind the administrator password): a gold key.
    153: [circle(5, 8, 4.6, 0x8A6410), circle(5, 8, 3.7, 0xE8B830), circle(4.2, 8, 1.3, 0x8A6410),
          rect(8.5, 6.8, 15.2, 9.2, 0x8A6410), rect(9, 7.3, 14.7, 8.7, 0xE8B830),
          rect(11, 9, 12.6, 12, 0x8A6410), rect(13.4, 9, 15, 11, 0x8A6410)],
    # Cancel: a red cross.
    154: [line(3.5, 3.5, 12.5, 12.5, 3.6, 0xA3221B), line(12.5, 3.5, 3.5, 12.5, 3.6, 0xA3221B),
          line(3.5, 3.5, 12.5, 12.5, 2.2, 0xE0463C), line(12.5, 3.5, 3.5, 12.5, 2.2, 0xE0463C)],
    # OK: a green tick.
    155: [line(2.5, 8.5, 6.2, 12.2, 3.6, 0x1E7B34), line(6.2, 12.2, 13.6, 3.8, 3.6, 0x1E7B34),
          line(2.5, 8.5, 6.2, 12.2, 2.2, 0x34A853), line(6.2, 12.2, 13.6, 3.8, 2.2, 0x34A853)],
}

NAMES = {145: "console", 139: "configure", 137: "exit", 148: "stop_service",
         149: "start_service", 150: "web_config", 151: "refresh", 152: "system_settings",
         153: "advanced_config", 154: "cancel", 155: "ok"}

# 5x7 capitals for the side bitmap, read top row first.
GLYPHS = {
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
}


def side_bitmap(path, width=17, height=80):
    """The tray menu's side bar: a dark blue gradient with "OVG" written
    upwards in white, as the side bars of Windows menus read."""
    px = [[(0, 0, 0)] * width for _ in range(height)]
    for y in range(height):
        t = y / (height - 1)
        base = (int(0x0A + (0x1F - 0x0A) * t), int(0x0A + (0x4E - 0x0A) * t),
                int(0x0A + (0x9A - 0x0A) * t))
        for x in range(width):
            px[y][x] = base
    # Letters rotated a quarter turn to the left, bottom to top, 2 px apart.
    y_end = height - 5
    for letter in "OVG":
        g = GLYPHS[letter]
        for row in range(7):
            for col in range(5):
                if g[row][col] == "1":
                    x = 5 + row
                    y = y_end - col
                    px[y][x] = (255, 255, 255)
        y_end -= 7
    stride = (width * 3 + 3) // 4 * 4
    data = b""
    for row in reversed(px):
        line_bytes = b"".join(bytes((b, g, r)) for r, g, b in row)
        data += line_bytes + b"\0" * (stride - len(line_bytes))
    head = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(head + info + data)


def main():
    for rid, shapes in ICONS.items():
        images = [(16, render(shapes, 16)), (32, render(shapes, 32))]
        with open(os.path.join(HERE, NAMES[rid] + ".ico"), "wb") as f:
            f.write(ico(images))
    side_bitmap(os.path.join(HERE, "side_bar.bmp"))


if __name__ == "__main__":
    main()
