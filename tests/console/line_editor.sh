#!/bin/sh
# Drives the line editor in a real terminal (a detached tmux pane) through the editor probe,
# which echoes every line it reads as "got [line]":
#   editing with the arrows, Home, End, Ctrl+A/E/K/D; history with Up and Down; a wide
#   character typed at the last column of a row; Ctrl+C at the prompt; the terminal's
#   settings (stty -g) the same as before after Ctrl+C, SIGTSTP, SIGTERM and a processor
#   fault; raw mode back after the stopped editor is continued.
# Piped input is checked first.
# Usage: line_editor.sh PATH-TO-kov-editor-probe. Exit 77 (skipped) when tmux is missing.
set -eu

probe=$1
session=kov-editor
. "$(dirname "$0")/tmux_session.sh"
tmp=$(mktemp -d)
trap 'tm kill-server >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT INT TERM

# ---- piped input ----------------------------------------------------------------------------
out=$(printf 'one\n\ntwo' | "$probe") || fail "piped: status $?"
expected=$(printf 'got [one]\ngot []\ngot [two]\n[end]')
[ "$out" = "$expected" ] || fail "piped: got $(printf '%s' "$out" | od -c | head -n 3)"

cursor() { tm display -p '#{cursor_x} #{cursor_y}'; }
expect_line() {  # the probe echoed this line
    wait_for "shows 'got [$1]'" || fail "expected 'got [$1]', screen:
$(screen)"
}
start_probe() {
    run clear  # so that the prompt waited for is the new probe's
    tm send-keys -l "'$probe'"
    tm send-keys Enter
    wait_for "screen | grep -q '^>> '" || { fail "no prompt from the probe"; screen; }
}
last_line() { screen | sed 's/ *$//' | grep -v '^$' | tail -n 1; }
at_shell() { [ "$(last_line)" = '$' ]; }
shell_prompt() { wait_for at_shell; }
# Runs a shell command in the pane and waits for the next shell prompt.
run() {
    tm send-keys -l "$1"
    tm send-keys Enter
    sleep 0.2
    shell_prompt || true
}
settings_unchanged() {  # after $1
    run "stty -g > '$tmp/after'"
    wait_for "[ -s '$tmp/after' ]" || true
    cmp -s "$tmp/before" "$tmp/after" || fail "terminal settings changed after $1: $(cat "$tmp/before") / $(cat "$tmp/after")"
    rm -f "$tmp/after"
}

tm new-session -d -x 60 -y 20 "env PS1='$ ' TERM=screen sh"
shell_prompt || { echo "FAIL: no shell prompt"; exit 1; }
run "stty -g > '$tmp/before'"
wait_for "[ -s '$tmp/before' ]" || { echo "FAIL: stty gave nothing"; exit 1; }

# ---- editing --------------------------------------------------------------------------------
start_probe
tm send-keys -l hello
tm send-keys Left Left
tm send-keys -l X
tm send-keys Home
tm send-keys -l A
tm send-keys End
tm send-keys -l Z
wait_for "shows '>> AhelXloZ'" || fail "editing shows: $(screen | tail -n 3)"
tm send-keys Enter
expect_line AhelXloZ

tm send-keys -l "hello world"
tm send-keys C-a C-d C-e Left Left Left Left Left C-k
tm send-keys -l "!"
tm send-keys Enter
expect_line "ello !"

# ---- history --------------------------------------------------------------------------------
tm send-keys -l alpha
tm send-keys Enter
expect_line alpha
tm send-keys -l beta
tm send-keys Enter
expect_line beta
tm send-keys Up Up Down Enter
wait_for "[ \$(screen | grep -c 'got \\[beta\\]') -eq 2 ]" || fail "Up Up Down did not give beta: $(screen | tail -n 4)"
tm send-keys Up Up Enter
wait_for "[ \$(screen | grep -c 'got \\[alpha\\]') -eq 2 ]" || fail "Up Up did not give alpha: $(screen | tail -n 4)"

# ---- a wide character at the last column ------------------------------------------------------
# In 20 columns the prompt and 16 letters leave one cell: 界 goes to the next row.
tm send-keys C-l  # no action: the editor ignores it
tm resize-window -x 20
sleep 0.3
tm send-keys -l aaaaaaaaaaaaaaaa
wait_for "[ \"\$(cursor | cut -d' ' -f1)\" = 19 ]" || fail "cursor after 16 letters: $(cursor)"
row=$(cursor | cut -d' ' -f2)
tm send-keys -l 界
wait_for "[ \"\$(cursor)\" = \"2 $((row + 1))\" ]" || fail "cursor after the wide character: $(cursor), row was $row"
last_rows=$(tm capture-pane -p | grep -v '^ *$' | tail -n 2)
[ "$last_rows" = "$(printf '>> aaaaaaaaaaaaaaaa\n界')" ] || fail "wrapped rows: $last_rows"
tm send-keys Left
wait_for "[ \"\$(cursor)\" = \"0 $((row + 1))\" ]" || fail "cursor on the wide character: $(cursor)"
tm send-keys Home
wait_for "[ \"\$(cursor)\" = \"3 $row\" ]" || fail "cursor after Home: $(cursor)"
tm send-keys End Enter
expect_line aaaaaaaaaaaaaaaa界
tm resize-window -x 60
sleep 0.3

# ---- Ctrl+C, and the terminal given back --------------------------------------------------------
tm send-keys -l xyz
tm send-keys C-c
expect_line q
shell_prompt || fail "the probe did not end after Ctrl+C"
settings_unchanged "Ctrl+C"

# Stopped, the shell gets the terminal as it was; continued, the editor takes it raw again.
tty=$(tm display -p '#{pane_tty}')
raw_now() { stty -a -F "$tty" | grep -q -- '-icanon'; }
probe_pid() { pgrep -P "$(tm display -p '#{pane_pid}')" | head -n 1; }
start_probe
wait_for raw_now || fail "the terminal is not raw while the editor reads"
tm send-keys -l ab
pid=$(probe_pid)
[ -n "$pid" ] && kill -TSTP "$pid"
shell_prompt || fail "no shell prompt after SIGTSTP"
settings_unchanged "SIGTSTP"
tm send-keys -l fg
tm send-keys Enter
wait_for raw_now || fail "raw mode did not come back after fg"
tm send-keys -l c
tm send-keys Enter
expect_line abc

tm send-keys -l ab
pid=$(probe_pid)
[ -n "$pid" ] && kill -TERM "$pid"
shell_prompt || fail "the probe did not end on SIGTERM"
settings_unchanged "SIGTERM"

start_probe
tm send-keys -l fault
tm send-keys Enter
wait_for "shows 'Runtime Error 1'" || fail "no fault report: $(screen | tail -n 3)"
shell_prompt || true
settings_unchanged "a fault"

if [ $failures -ne 0 ]; then exit 1; fi
echo "line editor: ok"
