#!/bin/sh
# Ctrl+C and Ctrl+D in a real terminal (a detached tmux pane): Ctrl+C stops a running
# evaluation and the session goes on; with lines gathered, Ctrl+C and Ctrl+D abandon them; a
# second Ctrl+C within a second ends a console whose evaluation does not stop; the history is
# saved on every way out (Ctrl+C at the prompt, the double Ctrl+C, a hang-up, SIGTERM).
# Usage: interrupt_tmux.sh PATH-TO-kov. Exit 77 (skipped) when tmux is missing.
set -eu

kov=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
session=kov-interrupt
. "$(dirname "$0")/tmux_session.sh"
tmp=$(mktemp -d)
trap 'tm kill-server >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT INT TERM
cfg="$tmp/.kov/Kov-Console/console-cfg.kov"

expect() { wait_for "shows '$1'" || fail "expected '$1' on the screen:
$(screen)"; }
type_line() { tm send-keys -l "$1"; tm send-keys Enter; }
# Waits until the last line shown is the prompt (a key sent earlier would reach a terminal
# not yet in raw mode, where Ctrl+C and Ctrl+D mean other things).
last_line() { screen | sed '/^ *$/d' | tail -n 1 | grep -qx -- "$1"; }
prompt_ready() { wait_for "last_line '>> *'" || fail "no prompt:
$(screen)"; }
cue_ready() { wait_for "last_line '\[ *'" || fail "no continuation prompt:
$(screen)"; }
# Starts the console in the pane, its process id in $tmp/pid, its status shown as "ended=N".
start() {
    tm send-keys -l "clear; cd '$tmp' && stty -g > before && HOME='$tmp' sh -c 'echo \$\$ > pid; exec \"\$0\"' '$kov'; st=\$?; stty -g > after; echo ended=\$st"
    tm send-keys Enter
    wait_for "[ -s '$tmp/pid' ]" || fail "the console did not start"
    prompt_ready
}
ended() {
    wait_for "shows 'ended=$1'" || fail "expected the console to end with status $1:
$(screen)"
    rm -f "$tmp/pid"
}
settings_kept() {
    cmp -s "$tmp/before" "$tmp/after" || fail "terminal settings changed: $(cat "$tmp/before") / $(cat "$tmp/after")"
}
saved() { wait_for "grep -qF -- '$1' '$cfg' 2>/dev/null" || fail "'$1' not in the saved history: $(cat "$cfg" 2>/dev/null)"; }

tm new-session -d -x 100 -y 40 "sh"

# --- Ctrl+C during an evaluation: the session and its values stay.
start
type_line "x: 5"
expect '== 5'
type_line 'print "running" forever []'
wait_for "screen | grep -qx running" || fail "the loop did not start"
tm send-keys C-c
expect '(halted)'
prompt_ready
type_line "print x * 11"
expect '55'

# Ctrl+C while a program waits for input stops the program too.
type_line 'ask "name? " print "not stopped"'
wait_for "screen | grep -q '^name? *\$'" || fail "no question asked:
$(screen)"
tm send-keys C-c
wait_for "[ \$(screen | grep -c '(halted)') -ge 2 ]" || fail "Ctrl+C in ask did not halt:
$(screen)"
screen | grep -qx 'not stopped' && fail "the program went on after Ctrl+C in ask"

# Ctrl+C while opening or reading a FIFO nobody writes to: one interrupt stops the read.
# The keys are sent once the console's process is seen waiting where the case needs it (a
# fixed pause was not always enough on a loaded machine).
blocked_in() { wait_for "grep -qs '$1' /proc/\$(cat '$tmp/pid')/task/*/wchan" || fail "the read never waited in $1:
$(screen)"; }
mkfifo "$tmp/silent"
type_line "read %silent print \"read ended\""
blocked_in wait_for_partner
tm send-keys C-c
wait_for "[ \$(screen | grep -c '(halted)') -ge 3 ]" || fail "Ctrl+C did not stop a FIFO read:
$(screen)"
type_line "print 6 * 7 + 1"
expect '43'
screen | grep -qx 'read ended' && fail "the program went on after Ctrl+C in a FIFO read"
# And a FIFO that has a writer but gives no bytes: the read itself is given up.
type_line "read %silent print \"read ended\""
blocked_in wait_for_partner
exec 9<>"$tmp/silent"  # read-write: never blocks
blocked_in pipe_read
tm send-keys C-c
wait_for "[ \$(screen | grep -c '(halted)') -ge 4 ]" || fail "Ctrl+C did not stop a FIFO read with a writer:
$(screen)"
exec 9>&-
type_line "print 6 * 7 + 2"
expect '44'
screen | grep -qx 'read ended' && fail "the program went on after Ctrl+C in a FIFO read"

# --- With lines gathered, Ctrl+C and Ctrl+D abandon them; they do not add a quit to them.
type_line "f: func [] ["
cue_ready
tm send-keys C-c
expect '(escape)'
type_line "value? 'f"
expect '== false'
type_line "g: ["
cue_ready
tm send-keys C-d
wait_for "[ \$(screen | grep -c '(escape)') -ge 2 ]" || fail "Ctrl+D did not abandon the input:
$(screen)"
type_line "value? 'g"
wait_for "[ \$(screen | grep -c '== false') -ge 2 ]" || fail "g was set after Ctrl+D"
type_line "print 7 * 6"
expect '42'
prompt_ready

# --- Ctrl+C at a fresh prompt ends the console as quit does: status 0, history saved.
tm send-keys C-c
ended 0
settings_kept
saved 'x: 5'
saved 'print 7 * 6'

# --- Ctrl+D on an empty first line ends it too.
start
type_line "ctrl-d-line: 1"
expect '== 1'
prompt_ready
tm send-keys C-d
ended 0
saved 'ctrl-d-line: 1'

# --- An evaluation that does not stop (its own catch takes every halt): a second Ctrl+C
# within a second ends the console quietly, with its history.
start
type_line 'print "stuck" forever [catch [forever []]]'
wait_for "screen | grep -qx stuck" || fail "the loop did not start"
tm send-keys C-c
sleep 0.3  # two signals sent at once would arrive as one
tm send-keys C-c
ended 0
settings_kept
saved 'forever [catch [forever []]]'

# --- A closed terminal (SIGHUP) and SIGTERM: the history written before the process ends.
for sig in HUP TERM; do
    start
    type_line "line-before-$sig: 1"
    expect "== 1"
    kill -$sig "$(cat "$tmp/pid")"
    wait_for "shows ended=" || fail "SIG$sig did not end the console"
    rm -f "$tmp/pid"
    settings_kept
    saved "line-before-$sig: 1"
done

[ $failures -eq 0 ] || exit 1
echo "interrupts in a terminal: ok"
