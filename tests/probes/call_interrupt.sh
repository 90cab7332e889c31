#!/bin/sh
# Ctrl+C while call waits for a child: the wait ends at once, the child and what its shell
# started are killed, and the script halts as at any other interrupt.
# Usage: call_interrupt.sh PATH-TO-kov
# A job started with & ignores SIGINT; env puts it back at its default, as a terminal's
# foreground job has it.
kov=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Kov []\nprint "waiting"\nprint call/wait/shell {(sleep 2; echo late > %s/late) & wait}\nprint "not reached"\n' \
    "$dir" > "$dir/wait.kov"

env --default-signal=INT "$kov" "$dir/wait.kov" > "$dir/out" 2>&1 < /dev/null &
pid=$!
# Start-up may take up to 10 s, or KOV_TEST_WAIT tenths of a second.
i=0
until grep -q waiting "$dir/out" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt $((${KOV_TEST_WAIT:-100} * 2)) ]; then echo "FAIL: the script never started"; kill -9 $pid; exit 1; fi
    sleep 0.05
done
sleep 0.3
kill -INT $pid
# The child would end by itself after two seconds: the console must be gone well before.
i=0
while kill -0 $pid 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 20 ]; then echo "FAIL: the wait went on after Ctrl+C"; kill -9 $pid; exit 1; fi
    sleep 0.05
done
wait $pid
status=$?
out=$(tr '\n' '|' < "$dir/out")
failures=0
if [ "$status" != 0 ]; then echo "FAIL: status $status, expected 0"; failures=1; fi
if [ "$out" != "waiting|(halted)|" ]; then echo "FAIL: output [$out]"; failures=1; fi
sleep 2.5
if [ -e "$dir/late" ]; then echo "FAIL: what the child's shell started outlived it"; failures=1; fi
[ $failures -eq 0 ] || exit 1
echo "call stops on an interrupt: ok"
