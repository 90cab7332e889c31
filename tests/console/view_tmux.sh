#!/bin/sh
# GUI windows drawn inside the console (a detached tmux pane): a window laid out from a block
# renders inline and closes when its button is pressed with Space; the colour requester
# changes its colour with the arrow keys and returns it with Enter.
# Usage: view_tmux.sh PATH-TO-kov. Exit 77 (skipped) when tmux or the terminal back end is
# missing.
set -eu

kov=$1
session=kov-view
. "$(dirname "$0")/tmux_session.sh"
tmp=$(mktemp -d)
trap 'tm kill-server >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT INT TERM

backend=$(printf '%s\n' 'print either all [object? system/view/platform in system/view/platform (quote do-event-loop)] ["backend-yes"] ["backend-no"]' | HOME="$tmp" "$kov" 2>&1 || true)
case $backend in
    *backend-yes*) ;;
    *) echo "no terminal back end"; exit 77 ;;
esac

expect() { wait_for "shows '$1'" || fail "expected '$1' on the screen:
$(screen)"; }
type_line() { tm send-keys -l "$1"; tm send-keys Enter; }

tm new-session -d -x 80 -y 24 "sh"
tm send-keys -l "cd '$tmp' && HOME='$tmp' '$kov'; echo ended"
tm send-keys Enter
wait_for "screen | grep -q '^>> \$'" || fail "no prompt"

# Each wait looks for what only the program writes, never for text of the echoed command line:
# a slow build still echoes the line long before the window is up.
type_line 'view [text "hi" button "OK" [unview]] print "view-closed"'
wait_for "screen | grep -q ' hi  *OK'" || fail "no window:
$(screen)"
tm send-keys Space
wait_for "screen | grep -q '^view-closed'" || fail "the window did not close:
$(screen)"
wait_for "screen | grep -q '^>> \$'" || fail "no prompt after the window:
$(screen)"

type_line 'print ["picked:" request-color/color red]'
expect 'Original'
tm send-keys Left
sleep 0.3
tm send-keys Enter
expect 'picked: 255.8.8'

tm send-keys C-c
wait_for "shows ended" || fail "Ctrl+C did not end the console:
$(screen)"

[ $failures -eq 0 ] || exit 1
echo "views in a terminal: ok"
