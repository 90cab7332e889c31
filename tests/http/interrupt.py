#!/usr/bin/env python3
"""Ctrl+C stops a transfer: runs `kov SCRIPT` (a script that reads a URL answered after 30
seconds), sends SIGINT a second after the read begins, and expects the script halted within
seconds, the line after the read never printed, and the process ending normally."""
import signal
import subprocess
import sys
import time

kov, script = sys.argv[1], sys.argv[2]
p = subprocess.Popen([kov, script], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
# The script says when the read begins: a slow build (the collector stress preset) may take
# seconds to start.
first = p.stdout.readline().decode()
if first != "reading\n":
    p.kill()
    sys.exit("interrupt: the script did not start: " + first)
time.sleep(1)
start = time.monotonic()
p.send_signal(signal.SIGINT)
try:
    out, _ = p.communicate(timeout=15)
except subprocess.TimeoutExpired:
    p.kill()
    sys.exit("the transfer went on after the interrupt")
took = time.monotonic() - start
text = first + out.decode()
problems = []
if took > 10:
    problems.append("took %.1f s" % took)
if "(halted)" not in text:
    problems.append("no (halted)")
if "not reached" in text:
    problems.append("went on after the read")
if p.returncode != 0:
    problems.append("status %d" % p.returncode)
if problems:
    sys.exit("interrupt: " + ", ".join(problems) + "\n" + text)
print("interrupt stops a transfer: ok")
