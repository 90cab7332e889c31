#!/usr/bin/python3
"""A stop signal while a full-screen window is up hands the terminal back as an exit would
(mouse reporting, the alternate screen and the hidden cursor undone); continuing takes them
again and redraws the window. The program runs in a process group of its own in the
foreground of its terminal, as a shell with job control would start it, so that the stop is
real. Usage: gui_stop.py KOV WINDOW.KOV"""
import os, pty, signal, sys

from pty_screen import Terminal, check, click_until_exit, finish

kov, script = sys.argv[1], sys.argv[2]
pids_r, pids_w = os.pipe()
pid, fd = pty.fork()
if pid == 0:
    # The session leader stands for the shell: the program gets a group of its own and the
    # terminal's foreground, and the leader waits for it through stops.
    os.close(pids_r)
    child = os.fork()
    if child == 0:
        os.setpgid(0, 0)
        os.execv(kov, [kov, script])
    # Both sides make the group, whichever runs first; once the child has run kov, its own
    # call has made it and the leader's is refused.
    try:
        os.setpgid(child, child)
    except PermissionError:
        pass
    os.tcsetpgrp(0, child)
    os.write(pids_w, str(child).encode())
    os.close(pids_w)
    while True:
        _, st = os.waitpid(child, os.WUNTRACED)
        if not os.WIFSTOPPED(st):
            os._exit(os.waitstatus_to_exitcode(st) & 255)
os.close(pids_w)
kov_pid = int(os.read(pids_r, 32))
term = Terminal(fd, 40, 10)
screen, raw, pump, pump_until = term.screen, term.raw, term.pump, term.pump_until


def state():
    with open(f"/proc/{kov_pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()[0]


shown = lambda: "OK" in screen.display[1]
pump_until(shown)
check("window shown", shown(), True)
off = [b"\x1b[?1000l", b"\x1b[?1006l", b"\x1b[?1049l", b"\x1b[?25h"]
on = [b"\x1b[?1000h", b"\x1b[?1006h", b"\x1b[?1049h", b"\x1b[?25l"]
del raw[:]
os.kill(kov_pid, signal.SIGTSTP)
pump_until(lambda: state() == "T" and all(s in raw for s in off), 10)
check("stopped", state(), "T")
check("modes undone at the stop", [s for s in off if s not in raw], [])
check("nothing taken again while stopped", [s for s in on if s in raw], [])
del raw[:]
screen.reset()
os.kill(kov_pid, signal.SIGCONT)
pump_until(lambda: shown() and all(s in raw for s in on), 10)
check("running again", state() in "RS", True)
check("modes taken again", [s for s in on if s not in raw], [])
check("redrawn", shown(), True)
# The click closes the window.
check("exit status", click_until_exit(pid, term, b"\x1b[<0;5;2M\x1b[<0;5;2m", 30, kov_pid), 0)
finish()
