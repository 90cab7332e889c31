#!/bin/sh
# The console itself in a real terminal (a detached tmux pane): the banner and the prompt,
# an evaluation, a block typed over two lines with the continuation prompt, Tab completing
# a word and a path, Escape abandoning open input, halt, and Ctrl+C ending the console with
# the terminal's settings as they were.
# Usage: console_tmux.sh PATH-TO-kov. Exit 77 (skipped) when tmux is missing.
set -eu

kov=$1
session=kov-console
. "$(dirname "$0")/tmux_session.sh"
tmp=$(mktemp -d)
trap 'tm kill-server >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT INT TERM

expect() { wait_for "shows '$1'" || fail "expected '$1' on the screen:
$(screen)"; }
type_line() { tm send-keys -l "$1"; tm send-keys Enter; }

tm new-session -d -x 80 -y 24 "sh"
tm send-keys -l "cd '$tmp' && stty -g > before && HOME='$tmp' '$kov'; stty -g > after; echo ended"
tm send-keys Enter

expect '--== Kov'
expect 'Type HELP for starting information.'
wait_for "screen | grep -q '^>> \$'" || fail "no prompt"

type_line "1 + 2"
expect '== 3'

type_line "b: ["
expect '[    '
type_line "1 2]"
type_line "length? b"
expect '== 2'

# A word completed by Tab.
tm send-keys -l "prin"
tm send-keys Tab
tm send-keys -l ' "tab-ok" print ""'
tm send-keys Enter
expect 'tab-ok'

# A path completed by Tab: a field of an object.
type_line "obj: context [long-field-name: 42]"
tm send-keys -l "obj/long-f"
tm send-keys Tab
tm send-keys Enter
expect '== 42'

# Escape forgets the open input.
type_line "c: ["
tm send-keys Escape
sleep 0.3
tm send-keys Enter
expect '(escape)'

type_line "loop 2 [print \"halting\" halt]"
expect '(halted)'

tm send-keys C-c
wait_for "shows ended" || fail "Ctrl+C did not end the console:
$(screen)"
if [ -f "$tmp/before" ] && [ -f "$tmp/after" ]; then
    cmp -s "$tmp/before" "$tmp/after" || fail "terminal settings changed: $(cat "$tmp/before") / $(cat "$tmp/after")"
else
    fail "no terminal settings recorded"
fi

[ $failures -eq 0 ] || exit 1
echo "console in a terminal: ok"
