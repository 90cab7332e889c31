#!/bin/sh
# The console in a real terminal survives the user's definitions of words its own code uses:
# after `case: "Ada"`, `head: "Ada"`, a `clear` and a `print` of the user's own, a typed line
# is still evaluated and its result shown, Tab still completes, and `quit` ends the console
# with status 0.
# Usage: survival_tmux.sh PATH-TO-kov. Exit 77 (skipped) when tmux is missing.
set -eu

kov=$1
session=kov-survival
. "$(dirname "$0")/tmux_session.sh"
tmp=$(mktemp -d)
trap 'tm kill-server >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT INT TERM
n=0

type_line() { tm send-keys -l "$1"; tm send-keys Enter; }

for definition in 'case: "Ada"' 'head: "Ada"' 'clear: does [prin "(cls)"]' 'print: func [x] [prin "(mine)"]'; do
    # A server of its own for each session.
    tm kill-server >/dev/null 2>&1 || true
    n=$((n + 1))
    session=kov-survival$n
    rm -f "$tmp/status"
    tm new-session -d -x 80 -y 24 "sh"
    tm send-keys -l "cd '$tmp' && HOME='$tmp' '$kov'; echo \$? > status"
    tm send-keys Enter
    wait_for "screen | grep -q '^>> \$'" || { fail "$definition: no prompt: $(screen)"; continue; }
    type_line "$definition"
    type_line "1 + 2"
    wait_for "shows '== 3'" || fail "$definition: no result: $(screen)"
    # Tab completion runs the console's own code too.
    tm send-keys -l "syste"
    tm send-keys Tab
    tm send-keys -l "/version"
    tm send-keys Enter
    wait_for "shows '== 0.'" || fail "$definition: Tab did not complete: $(screen)"
    type_line "quit"
    wait_for "[ -s '$tmp/status' ]" || { fail "$definition: quit did not end the console: $(screen)"; continue; }
    [ "$(cat "$tmp/status")" = 0 ] || fail "$definition: exit status $(cat "$tmp/status")"
done

[ $failures -eq 0 ] || exit 1
echo "console in a terminal survived the user's definitions: ok"
