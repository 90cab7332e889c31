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


try:
    tm("new-session", "-d", "-x", str(W), "-y", str(H), f"cd '{home}' && HOME='{home}' '{kov}'; sleep 30")
    prompt()

    # The first alert of the session: its text as wide as 80 columns allow, its OK button on
    # the screen below it; Enter on the focused button closes it.
    enter_line('alert "first alert" print "alert-closed"')
    ok = wait(lambda s: (t := row_of(s, "first alert")) and (b := row_of(s, " OK ")) and b[0] > t[0] and (t, b),
              "the alert's text and its OK button")
    if ok:
        (ty, tx), (by, bx) = ok
        check("the alert's OK button within 80 columns", bx + 4 <= W, True)
        check("the alert's text centred", abs(tx + len("first alert") // 2 - W // 2) <= 3, True)
    tm("send-keys", "Enter")
    printed("alert-closed")
    prompt()

    # A text of three lines shows all three, one under the other.
    enter_line('view [text "one^/two^/three" button "OK" [unview]] print "v1"')
    if at := wait(lambda s: row_of(s, "one", 1), "a text of three lines"):
        y = at[0]
        check("three lines", [r[1:6].rstrip() for r in rows(grid())[y:y + 3]], ["one", "two", "three"])
    tm("send-keys", "Enter")  # on the focused button
    printed("v1")
    prompt()

    # An area wider than its style is still ten rows high: its second line shows, and the
    # text below it comes after it.
    enter_line('view [below area "line one, longer than twenty cells^/line two" text "below"] print "v2"')
    if at := wait(lambda s: row_of(s, "line one, longer than twenty cells", 1), "an area"):
        y = at[0]
        s = grid()
        check("the area's second line", rows(s)[y + 1][1:9], "line two")
        check("the text below the area", row_of(s, "below", 1), (y + 11, 1))
    tm("send-keys", "Escape")
    printed("v2")
    prompt()

    # A text list shows every item, the widest whole; the focused list marks its first row.
    enter_line('view [text-list data ["a" "b" "c" "an item longer than twenty cells"]] print "v3"')
    if at := wait(lambda s: row_of(s, "an item longer than twenty cells", 1), "a text list"):
        y = at[0]
        s = grid()
        check("the list's rows", [r[1:2] for r in rows(s)[y - 3:y]], ["a", "b", "c"])
        check("the first row marked", s.buffer[y - 3][1].reverse, True)
    tm("send-keys", "Escape")
    printed("v3")
    prompt()

    # A button under a field shows, and Tab then Enter press it.
    enter_line('view [text "Name:" field return button "Submit" [print "submitted" unview]] print "v4"')
    name = wait(lambda s: row_of(s, "Name:", 1), "a field's label")
    if name:
        check("the button under the field", row_of(grid(), "Submit"), (name[0] + 2, 1))
    tm("send-keys", "Tab")
    time.sleep(0.3)
    tm("send-keys", "Enter")
    printed("submitted")
    printed("v4")
    prompt()

    # A window with nothing to focus closes with Escape.
    enter_line('view [text "just text"] print "v5"')
    wait(lambda s: row_of(s, "just text", 1), "a window of text")
    tm("send-keys", "Escape")
    printed("v5")
    prompt()

    # Rich text in its style's own colour (three parts) draws: bold where asked, on white.
    enter_line('view [rich-text data [b "bold" /b " plain"]] print "v6"')
    if at := wait(lambda s: row_of(s, "bold plain", 1), "rich text"):
        y = at[0]
        s = grid()
        check("bold run", [s.buffer[y][x].bold for x in (1, 4, 6)], [True, True, False])
        check("white background", s.buffer[y][2].bg, "ffffff")
    tm("send-keys", "Escape")
    printed("v6")
    prompt()

    # A window that cannot be drawn gives its error and leaves the screen: the next window
    # shows and closes as usual.
    enter_line('view [rich-text "abc" data [1x1 zap]]')
    wait(lambda s: row_of(s, "*** Script Error"), "the drawing's error")
    prompt()
    enter_line('view [text "after the error"] print "v7"')
    wait(lambda s: row_of(s, "after the error", 1), "the window after the error")
    tm("send-keys", "Escape")
    printed("v7")
    prompt()
finally:
    tm("kill-server")
    shutil.rmtree(home, ignore_errors=True)
finish()
