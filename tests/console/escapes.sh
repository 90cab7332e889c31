#!/bin/sh
# Prints escape sequences through the console output in a real terminal (a detached tmux
# pane) and checks what the terminal made of them:
#   ESC[31m x           a red x
#   ESC[10;5H           the cursor at column 10, row 5, both counted from 0
# Usage: escapes.sh PATH-TO-kov-print-probe. Exit 77 (skipped) when tmux is missing.
set -eu

probe=$1
session=kov-escapes
. "$(dirname "$0")/tmux_session.sh"
trap 'tm kill-server >/dev/null 2>&1 || true' EXIT INT TERM

# Types a probe command line whose text argument is given in printf notation; the probe
# holds (--wait) until Enter is sent, so the cursor stays where the output left it.
run_probe() {
    tm send-keys -l "'$probe' --wait \"\$(printf '$1')\""
    tm send-keys Enter
}
release_probe() {
    tm send-keys Enter
    wait_for "tm capture-pane -p | grep -q '^\\\$ *\$'" || true
}

tm new-session -d -x 80 -y 24 "env PS1='$ ' TERM=screen sh"
wait_for "tm capture-pane -p | grep -q '^\\\$'" || { echo "FAIL: no shell prompt"; exit 1; }

esc=$(printf '\033')

# A red x at the top left of a cleared screen.
run_probe '\033[2J\033[31mx'
if wait_for "[ \"\$(tm display -p '#{cursor_x} #{cursor_y}')\" = '1 0' ]"; then
    first=$(tm capture-pane -p -e | head -n 1)
    case $first in
        "${esc}[31mx"*) ;;
        *) fail "expected a red x on the first row, got: $(printf '%s' "$first" | od -c | head -n 2)" ;;
    esac
else
    fail "the red x did not appear (cursor at $(tm display -p '#{cursor_x} #{cursor_y}'))"
fi
release_probe

# Column first, counted from 0.
run_probe '\033[2J\033[10;5H'
if ! wait_for "[ \"\$(tm display -p '#{cursor_x} #{cursor_y}')\" = '10 5' ]"; then
    fail "cursor at $(tm display -p '#{cursor_x} #{cursor_y}'), expected 10 5"
fi
release_probe

if [ $failures -ne 0 ]; then exit 1; fi
echo "terminal escapes: ok"
