#!/usr/bin/env python3
"""Draws the icons of ovsetup.dll with the console's drawing helpers and
writes them beside this script. The outputs are committed; run this again
after changing a drawing."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "console", "win32", "icons"))
from make_icons import circle, ico, line, poly, rect, render, ring  # noqa: E402


def shield(fill, edge):
    return [poly([(8, 0.8), (14.5, 3), (14, 9), (8, 15.3), (2, 9), (1.5, 3)], edge),
            poly([(8, 2.2), (13.2, 4), (12.8, 8.6), (8, 13.7), (3.2, 8.6), (2.8, 4)], fill)]


def person(body, head):
    return [circle(8, 5, 3.4, head), rect(2.5, 9.2, 13.5, 15.5, body, 3.5)]


TICK = [line(4.8, 8.2, 7.2, 10.6, 1.9, 0xFFFFFF), line(7.2, 10.6, 11.4, 5.6, 1.9, 0xFFFFFF)]
CROSS = [line(5.2, 5.2, 10.8, 10.8, 1.9, 0xFFFFFF), line(10.8, 5.2, 5.2, 10.8, 1.9, 0xFFFFFF)]

ICONS = {
    # The dialog: a gear on a blue tile.
    "setup": [rect(0.5, 0.5, 15.5, 15.5, 0x174A8B, 3), rect(1.5, 1.5, 14.5, 14.5, 0x2F7FE0, 2.2),
              ring(8, 8, 2.2, 5.2, 0xFFFFFF), circle(8, 8, 1.4, 0xFFFFFF),
              line(8, 1.8, 8, 14.2, 2.2, 0xFFFFFF), line(1.8, 8, 14.2, 8, 2.2, 0xFFFFFF),
              circle(8, 8, 3.4, 0x2F7FE0), circle(8, 8, 1.6, 0xFFFFFF)],
    # Side buttons.
    "id_page": shield(0x3C8FD8, 0x17578F),
    "users_page": person(0x2A9D48, 0x1E7B34),
    "ports_page": [rect(1, 4, 15, 12, 0x3B4654, 1.5), rect(2.2, 5.2, 13.8, 10.8, 0x8A96A6, 1),
                   rect(3.5, 6.5, 5.5, 9.5, 0x1F3B5C), rect(7, 6.5, 9, 9.5, 0x1F3B5C),
                   rect(10.5, 6.5, 12.5, 9.5, 0x1F3B5C)],
    # Switch states: on is green, off is grey.
    "id_on": shield(0x34A853, 0x1E7B34) + TICK,
    "id_off": shield(0x9AA3AE, 0x5D6670) + CROSS,
    "guest_on": person(0x34A853, 0x1E7B34) + [circle(12.5, 12.5, 3.4, 0x1E7B34)]
    + [line(10.9, 12.5, 12.1, 13.7, 1.2, 0xFFFFFF), line(12.1, 13.7, 14.2, 11.2, 1.2, 0xFFFFFF)],
    "guest_off": person(0x9AA3AE, 0x5D6670) + [circle(12.5, 12.5, 3.4, 0xA3221B)]
    + [line(11, 11, 14, 14, 1.2, 0xFFFFFF), line(14, 11, 11, 14, 1.2, 0xFFFFFF)],
}


def main():
    for name, shapes in ICONS.items():
        with open(os.path.join(HERE, name + ".ico"), "wb") as f:
            f.write(ico([(16, render(shapes, 16)), (32, render(shapes, 32))]))


if __name__ == "__main__":
    main()
