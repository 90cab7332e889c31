#!/bin/sh
# The file requester in a real terminal: Enter opens a folder, the right arrow moves to the
# file list, Enter there fills the name field, a click on Open returns the file; the filter
# keeps only .kov files.
# Usage: gui_requester.sh KOV REQUESTER.KOV
kov=$1
script=$2
command -v tmux >/dev/null 2>&1 || exit 77
# A server of its own: no other session is touched, and none can race with this one.
t() { tmux -L kov-gui-$$ "$@"; }
dir=$(mktemp -d)
session=kov-req-$$
trap 't kill-server 2>/dev/null; rm -rf "$dir"' EXIT
mkdir -p "$dir/tree/sub1" "$dir/tree/sub2"
touch "$dir/tree/sub1/a.txt" "$dir/tree/sub1/b.kov" "$dir/tree/top.kov"
t new-session -d -s $session -x 70 -y 32 \
  "KOV_REQUEST_DIR=$dir/tree $kov $script; echo \$? >$dir/status; sleep 30" || exit 77
wait_for() {
  i=0
  while ! t capture-pane -p -t $session | grep -q "$1"; do
    i=$((i + 1)); [ $i -gt 300 ] && { echo "never showed: $1"; t capture-pane -p -t $session; exit 1; }
    sleep 0.1
  done
}
wait_for "top.kov"
t send-keys -t $session Down Enter
wait_for "tree/sub1/"
t send-keys -t $session Right Enter
wait_for "Selected: b.kov"
t send-keys -t $session -l "$(printf '\033[<0;4;28M\033[<0;4;28m')"
wait_for "picked:"
fail=0
t capture-pane -p -t $session | grep -qF "picked: %$dir/tree/sub1/b.kov" || { echo "wrong pick:"; t capture-pane -p -t $session; fail=1; }
t capture-pane -p -t $session | grep -q "a.txt" && { echo "the filter let a.txt through"; fail=1; }
i=0
while [ ! -f $dir/status ]; do i=$((i + 1)); [ $i -gt 300 ] && break; sleep 0.1; done
[ "$(cat $dir/status 2>/dev/null)" = 0 ] || { echo "exit status $(cat $dir/status 2>/dev/null)"; fail=1; }
[ $fail = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
