#!/usr/bin/python3
"""Shapes of the draw dialect on the cells of a terminal emulator (python3-pyte): lines, boxes,
a filled triangle with a horizontal edge, circles, and shapes cut by every edge of a 50x14
window shown on a 60x15 terminal. Clipped shapes keep their visible cells and nothing lands
outside the window's cells. Usage: gui_draw.py KOV DRAW.KOV"""
import sys

from pty_screen import check, click_until_exit, failures, finish, spawn

kov, script = sys.argv[1], sys.argv[2]
W, H = 60, 15
pid, term = spawn([kov, script], W, H)
screen, pump, pump_until = term.screen, term.pump, term.pump_until

BLOCK, RED, GREEN, BLUE = "\u2588", "ff0000", "00ff00", "0000ff"
at = lambda x, y: screen.buffer[y][x]
pump_until(lambda: at(45, 0).data == "O" and at(43, 13).data == BLOCK)
pump(0.3)

# (x, y, character, foreground or None, background or None)
cells = [
    *[(x, 1, BLOCK, RED, None) for x in range(1, 9)],  # a horizontal line
    (10, 1, "\u250c", GREEN, None), (15, 1, "\u2510", GREEN, None), (10, 4, "\u2514", GREEN, None),
    (15, 4, "\u2518", GREEN, None), (12, 1, "\u2500", GREEN, None), (12, 4, "\u2500", GREEN, None),
    (10, 2, "\u2502", GREEN, None), (15, 3, "\u2502", GREEN, None), (12, 2, " ", None, "default"),
    # the triangle: its top edge is horizontal; the inside is filled, the edges drawn over it
    *[(x, 1, BLOCK, RED, None) for x in range(20, 29)],
    (22, 3, BLOCK, RED, None), (26, 3, BLOCK, RED, None), (24, 5, BLOCK, RED, None),
    *[(x, 3, " ", None, BLUE) for x in range(23, 26)], (24, 2, " ", None, BLUE),
    (21, 3, " ", None, "default"), (27, 3, " ", None, "default"), (24, 6, " ", None, "default"),
    # a circle of radius 2: twice as wide as high, hollow with the fill off
    (36, 7, BLOCK, RED, None), (44, 7, BLOCK, RED, None), (40, 5, BLOCK, RED, None), (40, 9, BLOCK, RED, None),
    (40, 7, " ", None, "default"),
    # negative coordinates: the visible part stays
    *[(x, 10, BLOCK, RED, None) for x in range(0, 4)], (4, 10, " ", None, None),
    *[(x, 11, "\u2500", RED, None) for x in range(0, 3)], (3, 11, "\u2510", RED, None),
    (3, 12, "\u2502", RED, None), (3, 13, "\u2518", RED, None), (0, 12, " ", None, None),
    # past the right and the bottom edges
    *[(x, 12, BLOCK, RED, None) for x in range(45, 50)],
    *[(30, y, BLOCK, RED, None) for y in range(10, 14)],
    (43, 13, BLOCK, RED, None), (47, 11, BLOCK, RED, None),
    *[(x, 11, BLOCK, RED, None) for x in range(35, 44)], (35, 13, BLOCK, RED, None),
    (37, 12, " ", None, "default"),
]
for x, y, ch, fg, bg in cells:
    c = at(x, y)
    got = (c.data, c.fg if fg else None, c.bg if bg else None)
    want = (ch, fg, bg)
    if got != want:
        failures.append(f"cell {x},{y}: got {got!r}, want {want!r}")
# Nothing beyond the window's 50x14 cells.
for y in range(H):
    for x in range(W):
        if (x >= 50 or y >= 14) and (at(x, y).data != " " or at(x, y).bg != "default"):
            failures.append(f"cell {x},{y} outside the window holds {at(x, y).data!r} on {at(x, y).bg}")
# The click closes the window.
check("exit status", click_until_exit(pid, term, b"\x1b[<0;46;1M\x1b[<0;46;1m", 60), 0)
finish()
