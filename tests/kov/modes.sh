#!/bin/sh
# Runs a Kov test file twice, with compiled execution and walker-only (KOV_WALKER_ONLY=1), the
# runner printing every check's result (KOV_TEST_LOG), and compares the two outputs whole:
# results, error reports with their near, where and stack, and anything the file prints. A
# difference fails and is shown as a diff (the compiled run's lines marked +).
#
#   tests/kov/modes.sh COMMAND...     e.g. modes.sh build/release/kov tests/kov/run.kov tests/kov/words.kov
#
# The command runs whole each time, a launcher included (tests/http/with-server.sh starts a
# fresh server for each run, so that both see the same server state).
set -u
[ $# -ge 1 ] || { echo "usage: modes.sh COMMAND..." >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# Each run gets the same private TMPDIR and HOME, emptied between them, so that scratch folders
# have the same names in both and no console history written meanwhile by another test shows
# in one of them; the test HTTP server of each run (tests/http/with-server.sh) listens on the
# same port, since urls and the cache paths made from them show it.
run_one() {  # output-file walker-only command...
  out=$1 mode=$2
  shift 2
  rm -rf "$work/tmp" "$work/home"
  mkdir "$work/tmp" "$work/home"
  env TMPDIR="$work/tmp" HOME="$work/home" KOV_TEST_LOG=1 KOV_WALKER_ONLY="$mode" "$@" >"$out.raw" 2>&1
  status=$?
  mv "$out.raw" "$out"
  echo "exit status $status" >>"$out"
}
ports=$(python3 -c 'import socket
a, b = socket.socket(), socket.socket()
a.bind(("127.0.0.1", 0)); b.bind(("127.0.0.1", 0))
print(a.getsockname()[1], b.getsockname()[1])')
KOV_TEST_PORT=${ports% *}
KOV_TEST_CLOSED_PORT=${ports#* }
export KOV_TEST_PORT KOV_TEST_CLOSED_PORT
run_one "$work/walker" 1 "$@"
run_one "$work/compiled" 0 "$@"
if diff -u --label walker-only --label compiled "$work/walker" "$work/compiled" >"$work/diff"; then
  tail -n 2 "$work/compiled"
  echo "modes: compiled and walker-only outputs are the same ($(wc -l <"$work/compiled") lines)"
  exit 0
fi
echo "modes: compiled and walker-only outputs differ:"
cat "$work/diff"
exit 1
