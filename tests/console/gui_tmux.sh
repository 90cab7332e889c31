#!/bin/sh
# A window of faces in a real terminal: typing into a field, a check box and a text list
# clicked with SGR mouse reports, an arrow key, a button that closes the window; afterwards
# the terminal's settings must be exactly what they were.
# Usage: gui_tmux.sh KOV WINDOW.KOV
kov=$1
script=$2
command -v tmux >/dev/null 2>&1 || exit 77
# A server of its own: no other session is touched, and none can race with this one.
t() { tmux -L kov-gui-$$ "$@"; }
dir=$(mktemp -d)
session=kov-gui-$$
trap 't kill-server 2>/dev/null; rm -rf "$dir"' EXIT
t new-session -d -s $session -x 60 -y 15 \
  "stty -g >$dir/before; HOME=$dir $kov $script; echo \$? >$dir/status; stty -g >$dir/after; sleep 30" || exit 77
wait_for() {  # text in the pane
  i=0
  while ! t capture-pane -p -t $session | grep -q "$1"; do
    i=$((i + 1)); [ $i -gt 300 ] && { echo "never showed: $1"; t capture-pane -p -t $session; exit 1; }
    sleep 0.1
  done
}
key() { t send-keys -t $session -l "$1"; sleep 0.2; }
wait_for "opt"
t send-keys -t $session h i; sleep 0.3
wait_for " hi "
key "$(printf '\033[<0;3;6M')"; key "$(printf '\033[<0;3;6m')"
wait_for "🞕 opt"
key "$(printf '\033[<0;17;3M')"; key "$(printf '\033[<0;17;3m')"
t send-keys -t $session Down; sleep 0.3
key "$(printf '\033[<0;4;4M')"; key "$(printf '\033[<0;4;4m')"
i=0
while [ ! -f $dir/after ]; do
  i=$((i + 1)); [ $i -gt 300 ] && { echo "the window never closed"; t capture-pane -p -t $session; exit 1; }
  sleep 0.1
done
fail=0
expected='field: "hi" check: true list: 3 log: ["clicked"]'
t capture-pane -p -t $session >$dir/out
grep -qF "$expected" $dir/out || { echo "wrong result:"; cat $dir/out; fail=1; }
# printed text goes above the window's area, on a line of its own
grep -qx "a line printed while the window is up" $dir/out || { echo "the print was garbled:"; cat $dir/out; fail=1; }
[ "$(cat $dir/status)" = 0 ] || { echo "exit status $(cat $dir/status)"; fail=1; }
cmp -s $dir/before $dir/after || { echo "terminal settings not restored"; fail=1; }

# Ended by a signal while the window is up: the mouse modes, the cursor and the settings come
# back all the same.
session=${session}b
rm -f $dir/after
t new-session -d -s $session -x 60 -y 15 \
  "stty -g >$dir/before; HOME=$dir $kov $script; stty -g >$dir/after; sleep 30" || exit 77
wait_for "opt"
[ "$(t display -p -t $session '#{mouse_sgr_flag}')" = 1 ] || { echo "mouse reporting was not on"; fail=1; }
shell=$(t display -p -t $session '#{pane_pid}')
kill -TERM $(ps -o pid= --ppid $shell)
i=0
while [ ! -f $dir/after ]; do
  i=$((i + 1)); [ $i -gt 300 ] && { echo "the program did not end"; exit 1; }
  sleep 0.1
done
[ "$(t display -p -t $session '#{mouse_any_flag}#{mouse_sgr_flag}#{cursor_flag}')" = 001 ] \
  || { echo "screen modes left on after SIGTERM"; fail=1; }
cmp -s $dir/before $dir/after || { echo "terminal settings not restored after SIGTERM"; fail=1; }

# Interrupted at the console while the window is up: "(halted)", the modes off, and the
# console reads the next line.
session=${session}c
# Its own HOME: the console's history goes there, not into the user's.
t new-session -d -s $session -x 60 -y 15 "HOME=$dir $kov; sleep 30" || exit 77
wait_for ">>"
t send-keys -t $session "do %$script" Enter
wait_for "opt"
shell=$(t display -p -t $session '#{pane_pid}')
kill -INT $(ps -o pid= --ppid $shell)
wait_for "(halted)"
[ "$(t display -p -t $session '#{mouse_any_flag}#{cursor_flag}')" = 01 ] || { echo "screen modes left on after a halt"; fail=1; }
t send-keys -t $session "print 6 * 7" Enter
wait_for "^42"
[ $fail = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
