#!/usr/bin/python3
"""The cells a GUI window leaves on a terminal emulator: characters, colours, attributes and
wide characters, read from a pyte screen fed with the program's output through a pty; then a
click on the button closes the window. Usage: gui_grid.py KOV WINDOW.KOV"""
import os, sys

from pty_screen import check, finish, spawn

kov, script = sys.argv[1], sys.argv[2]
pid, term = spawn([kov, script], 60, 15)
screen, pump, pump_until, fd = term.screen, term.pump, term.pump_until, term.fd


row = lambda y: "".join(screen.buffer[y][x].data for x in range(60))
pump_until(lambda: "opt" in row(5) and "aa" in row(1))
check("button text", row(3)[3:5], "OK")
check("check box", row(5)[1:6], "\u2610 opt")
wide = screen.buffer[5][15]
check("wide character", wide.data, "\u4e2d")
check("after the wide character", screen.buffer[5][17].data, "x")
check("red text", wide.fg, "ff0000")
check("field background", screen.buffer[1][1].bg, "000087")
# The list is not focused: no row is reversed; the focused field shows a caret.
check("list row", row(1)[15:17], "aa")
check("list not reversed", screen.buffer[1][15].reverse, False)
os.write(fd, b"ab")
pump_until(lambda: row(1)[1:3] == "ab", 30)
check("typed", row(1)[1:3], "ab")
os.write(fd, b"\x1b[<0;17;2M\x1b[<0;17;2m")
pump_until(lambda: screen.buffer[1][15].reverse, 30)
check("selected row reversed", screen.buffer[1][15].reverse, True)
check("other row plain", screen.buffer[2][15].reverse, False)
os.write(fd, b"\x1b[<0;4;4M\x1b[<0;4;4m")
pump(60)  # until the program ends and the pty closes
_, status = os.waitpid(pid, 0)
check("exit status", os.waitstatus_to_exitcode(status), 0)
finish()
