#!/usr/bin/env python3
"""Draws the icons of ovagentset.dll with the console's drawing helpers and
writes them beside this script: the dialog's globe, the four frames of the
test animation, the idle picture, and the passed and failed pictures. The
outputs are committed; run this again after changing a drawing."""

import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "console", "win32", "icons"))
from make_icons import circle, ico, line, render, ring  # noqa: E402


def frame(n):
    # Eight dots round a circle; the bright one moves on by a quarter turn
    # each frame, with a fading tail behind it.
    shapes = []
    for k in range(8):
        a = math.radians(90 - 45 * k)
        age = (2 * n - k) % 8
        shade = [0x2F7FE0, 0x6FA6E8, 0xA9C8EE, 0xC8D6E6][min(age, 3)]
        shapes.append(circle(8 + 5.6 * math.cos(a), 8 - 5.6 * math.sin(a), 1.6, shade))
    return shapes


ICONS = {
    "agentset": [circle(8, 8, 7.5, 0x17578F), circle(8, 8, 6.6, 0x3C8FD8),
                 line(1.6, 8, 14.4, 8, 1.1, 0xFFFFFF), line(8, 1.6, 8, 14.4, 1.1, 0xFFFFFF),
                 ring(8, 8, 2.6, 3.6, 0xFFFFFF, 90, 270), ring(8, 8, 2.6, 3.6, 0xFFFFFF, 270, 90)],
    "passed": [circle(8, 8, 7.5, 0x1E7B34), circle(8, 8, 6.6, 0x34A853),
               line(4.4, 8.4, 7, 11, 2, 0xFFFFFF), line(7, 11, 11.8, 5.2, 2, 0xFFFFFF)],
    "failed": [circle(8, 8, 7.5, 0xA3221B), circle(8, 8, 6.6, 0xE0463C),
               line(5, 5, 11, 11, 2, 0xFFFFFF), line(11, 5, 5, 11, 2, 0xFFFFFF)],
}
for n in range(4):
    ICONS["wait%d" % n] = frame(n)
# A slot without an address: the same dots, all faint and none moving.
ICONS["idle"] = [circle(8 + 5.6 * math.cos(math.radians(90 - 45 * k)),
                        8 - 5.6 * math.sin(math.radians(90 - 45 * k)), 1.6, 0xC8CCD0)
                 for k in range(8)]


def main():
    for name, shapes in ICONS.items():
        with open(os.path.join(HERE, name + ".ico"), "wb") as f:
            f.write(ico([(16, render(shapes, 16)), (32, render(shapes, 32))]))


if __name__ == "__main__":
    main()
