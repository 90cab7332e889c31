#!/bin/sh
# Ctrl+C during `wait` ends the sleep at once and halts the script: a script that waits 30
# seconds gets SIGINT half a second after it starts waiting and must end within a few seconds, "(halted)",
# without running the line after the wait. python3 sends the signal (a background job of a
# non-interactive shell ignores SIGINT). Exits 77 (skipped) without python3.
set -eu
kov=$1
command -v python3 >/dev/null 2>&1 || { echo "skipped: python3 is not installed"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Kov []\nprint "waiting"\nwait 30\nprint "woke up"\n' > "$dir/wait.kov"
python3 - "$kov" "$dir/wait.kov" <<'PY'
import signal, subprocess, sys, time
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
first = p.stdout.readline().decode()  # the script has started (start-up may be slow)
time.sleep(0.5)
start = time.time()
p.send_signal(signal.SIGINT)
try:
    out, _ = p.communicate(timeout=20)
except subprocess.TimeoutExpired:
    p.kill()
    sys.exit("FAIL: the wait ran on after Ctrl+C")
took = time.time() - start
text = first + out.decode()
print(text.strip(), "(%.2f s)" % took)
if took > 5 or "(halted)" not in text or "woke up" in text:
    sys.exit("FAIL: expected a halt within seconds, without the line after the wait")
PY
