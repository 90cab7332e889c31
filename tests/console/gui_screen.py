#!/usr/bin/python3
"""Windows laid out from blocks at the console, as the user sees them: the console runs in a
tmux pane of 80x24, and after each step the pane (characters, colours and attributes) is read
back into a terminal emulator library (python3-pyte). A multi-line text, an area, a text list
and a button under a field show whole; rich text in its style's colour draws, and a window
that fails to draw leaves the screen to the next one; a window of texts closes with Escape;
the session's first alert fits the 80 columns. Usage: gui_screen.py KOV"""
import os, shutil, subprocess, sys, tempfile, time

from pty_screen import check, failures, finish, pyte

if not shutil.which("tmux"):
    sys.exit(77)

kov = sys.argv[1]
W, H = 80, 24
server = f"kov-screen-{os.getpid()}"
home = tempfile.mkdtemp()
# Slow builds (the collector stress preset) take their time: KOV_TEST_WAIT tenths of a second.
patience = int(os.environ.get("KOV_TEST_WAIT", "100")) / 10


def tm(*args):
    return subprocess.run(["tmux", "-L", server, "-f", "/dev/null", *args], capture_output=True, text=True).stdout


def grid():
    """The pane as the emulator shows it."""
    screen = pyte.Screen(W, H)
    lines = tm("capture-pane", "-p", "-e").split("\n")[:H]
    pyte.Stream(screen).feed("\r\n".join(lines))
    return screen


def rows(screen):
    return ["".join(screen.buffer[y][x].data for x in range(W)) for y in range(H)]


def wait(done, what):
    """Waits until done(screen) gives something true; gives it, or notes the failure."""
    end = time.time() + patience
    while True:
        screen = grid()
        got = done(screen)
        if got or time.time() > end:
            break
        time.sleep(0.1)
    if not got:
        failures.append(f"{what}: never on the screen:\n" + "\n".join(r.rstrip() for r in rows(screen)))
    return got


def row_of(screen, text, column=None):
    """The first row (not an echoed command line) holding text, at column when given."""
    for y, r in enumerate(rows(screen)):
        if r.startswith(">>"):
            continue
        x = r.find(text)
        if x >= 0 and (column is None or x == column):
            return y, x
    return None


def enter_line(line):
    tm("send-keys", "-l", line)
    tm("send-keys", "Enter")


def printed(marker):
    """The marker printed on a line of its own: the window before it has closed."""
    return wait(lambda s: any(r.rstrip() == marker for r in rows(s)), f"'{marker}' after the window")


def prompt():
    """The console waits for a line: the terminal's cursor stands after an empty prompt."""
    return wait(lambda s: rows(s)[int(tm("display", "-p", "#{cursor_y}") or 0)].rstrip() == ">>", "the prompt")


closed = 0


def window(line, shown, what, checks=None, keys=("Escape",)):
    """Enters a line that views a window, then prints a marker once the window has closed:
    waits until shown(screen) holds, runs checks(its answer, screen), presses keys and waits
    for the marker and the prompt."""
    global closed
    closed += 1
    marker = f"closed-{closed}"
    enter_line(f'{line} print "{marker}"')
    got = wait(shown, what)
    if got and checks:
        checks(got, grid())
    for key in keys:
        tm("send-keys", key)
        time.sleep(0.2)
    printed(marker)
    prompt()


def alert_checks(got, s):
    (ty, tx), (by, bx) = got
    check("the alert's OK button within 80 columns", bx + 4 <= W, True)
    check("the alert's text centred", abs(tx + len("first alert") // 2 - W // 2) <= 3, True)


def area_checks(at, s):
    check("the area's second line", rows(s)[at[0] + 1][1:9], "line two")
    check("the text below the area", row_of(s, "below", 1), (at[0] + 11, 1))


def list_checks(at, s):
    check("the list's rows", [r[1:2] for r in rows(s)[at[0] - 3:at[0]]], ["a", "b", "c"])
    check("the first row marked", s.buffer[at[0] - 3][1].reverse, True)


def rich_checks(at, s):
    check("bold run", [s.buffer[at[0]][x].bold for x in (1, 4, 6)], [True, True, False])
    check("white background", s.buffer[at[0]][2].bg, "ffffff")


try:
    tm("new-session", "-d", "-x", str(W), "-y", str(H), f"cd '{home}' && HOME='{home}' '{kov}'; sleep 30")
    prompt()
    # The first alert of the session: its text as wide as 80 columns allow, its OK button on
    # the screen below it; Enter on the focused button closes it.
    window('alert "first alert"',
           lambda s: (t := row_of(s, "first alert")) and (b := row_of(s, " OK ")) and b[0] > t[0] and (t, b),
           "the alert's text and its OK button", alert_checks, ["Enter"])
    # A text of three lines shows all three, one under the other.
    window('view [text "one^/two^/three" button "OK" [unview]]', lambda s: row_of(s, "one", 1),
           "a text of three lines",
           lambda at, s: check("three lines", [r[1:6].rstrip() for r in rows(s)[at[0]:at[0] + 3]], ["one", "two", "three"]),
           ["Enter"])  # on the focused button
    # An area wider than its style is still ten rows high: its second line shows, and the
    # text below it comes after it.
    window('view [below area "line one, longer than twenty cells^/line two" text "below"]',
           lambda s: row_of(s, "line one, longer than twenty cells", 1), "an area", area_checks)
    # A text list shows every item, the widest whole; the focused list marks its first row.
    window('view [text-list data ["a" "b" "c" "an item longer than twenty cells"]]',
           lambda s: row_of(s, "an item longer than twenty cells", 1), "a text list", list_checks)
    # A button under a field shows, and Tab then Enter press it.
    window('view [text "Name:" field return button "Submit" [print "submitted" unview]]',
           lambda s: row_of(s, "Name:", 1), "a field's label",
           lambda at, s: check("the button under the field", row_of(s, "Submit"), (at[0] + 2, 1)), ["Tab", "Enter"])
    printed("submitted")
    # A window with nothing to focus closes with Escape.
    window('view [text "just text"]', lambda s: row_of(s, "just text", 1), "a window of text")
    # Rich text in its style's own colour (three parts) draws: bold where asked, on white.
    window('view [rich-text data [b "bold" /b " plain"]]', lambda s: row_of(s, "bold plain", 1), "rich text",
           rich_checks)
    # A window that cannot be drawn gives its error and leaves the screen: the next window
    # shows and closes as usual.
    enter_line('view [rich-text "abc" data [1x1 zap]]')
    wait(lambda s: row_of(s, "*** Script Error"), "the drawing's error")
    prompt()
    window('view [text "after the error"]', lambda s: row_of(s, "after the error", 1), "the window after the error")
finally:
    tm("kill-server")
    shutil.rmtree(home, ignore_errors=True)
finish()
