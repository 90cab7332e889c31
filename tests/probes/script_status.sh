#!/bin/sh
# How a script run from the command line ends: its exit status, what reaches standard output
# and what reaches standard error, for each way it can end. Without --catch a failing script
# (an error, an unreadable file, no header, text that does not load) ends with status 1 and
# its report on standard error, and no console starts; with --catch the console starts
# after it (it reads the piped line `print "console"`).
# Usage: script_status.sh PATH-TO-kov
kov=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0

printf 'Kov []\nprint "before"\n1 / 0\nprint "after"\n' > "$dir/error.kov"
printf 'Kov []\nprint "fine"\n' > "$dir/fine.kov"
printf 'print "no header"\n' > "$dir/no-header.kov"
printf 'Kov []\nprint "half" [\n' > "$dir/unloadable.kov"
printf 'Kov/System [] [print 1]\n' > "$dir/system.kov"
printf 'Kov []\nprint "quitting"\nquit/return 7\n' > "$dir/quit7.kov"
printf 'Kov []\nprint "halting"\nhalt\nprint "not reached"\n' > "$dir/halt.kov"

matches() {
    if [ "$2" = '^$' ]; then [ -z "$1" ]; else printf '%s\n' "$1" | grep -Eq -- "$2"; fi
}

# check NAME STATUS STDOUT-PATTERN STDERR-PATTERN ARG...: the patterns are grep -E
# expressions over the whole text with its lines joined by "|" ("^$" for nothing).
check() {
    name=$1 status=$2 out_pattern=$3 err_pattern=$4
    shift 4
    printf 'print "console"\n' | HOME="$dir" "$kov" "$@" > "$dir/out" 2> "$dir/err"
    got=$?
    out=$(tr '\n' '|' < "$dir/out")
    err=$(tr '\n' '|' < "$dir/err")
    if [ "$got" != "$status" ]; then
        echo "FAIL $name: status $got, expected $status"; failures=$((failures + 1))
    fi
    if ! matches "$out" "$out_pattern"; then
        echo "FAIL $name: standard output [$out] does not match $out_pattern"; failures=$((failures + 1))
    fi
    if ! matches "$err" "$err_pattern"; then
        echo "FAIL $name: standard error [$err] does not match $err_pattern"; failures=$((failures + 1))
    fi
}

check "a script that runs through" 0 '^fine\|$' '^$' "$dir/fine.kov"
check "an error ends it with 1, reported on standard error" 1 '^before\|$' \
    '^\*\*\* Math Error: attempt to divide by zero\|\*\*\* Where: /\|' "$dir/error.kov"
check "an unreadable script: 1, no console" 1 '^$' '^\*\*\* Access Error: cannot open: ' "$dir/missing.kov"
check "a folder as the script: 1, no console" 1 '^$' '^\*\*\* Access Error' "$dir"
check "no header: 1" 1 '^$' '^\*\*\* Error: Kov header not found!\|$' "$dir/no-header.kov"
check "text that does not load: 1" 1 '^$' '^\*\*\* Syntax Error: .*missing' "$dir/unloadable.kov"
check "a Kov/System header: 1" 1 '^$' \
    '^\*\*\* Error: contains Kov/System code which requires compilation!\|$' "$dir/system.kov"
check "quit/return keeps its status" 7 '^quitting\|$' '^$' "$dir/quit7.kov"
check "halt stops the script, which ends normally" 0 '^halting\|\(halted\)\|$' '^$' "$dir/halt.kov"
# An argument that is not valid UTF-8 reaches the script with U+DC00 + b for each bad byte b.
printf 'Kov []\nprint mold system/options/args\n' > "$dir/args.kov"
bad=$(printf '\377')
cut=$(printf 'a\303')
check "arguments keep the bytes that are not UTF-8" 0 '^\["\^\(DCFF\)" "a\^\(DCC3\)" "ok"\]\|$' '^$' \
    "$dir/args.kov" "$bad" "$cut" ok
# Each argument arrives whole, quotes and spaces included; system/script/args joins the
# script's own arguments with spaces.
printf 'Kov []\nprint mold system/options/args\nprint mold system/script/args\n' > "$dir/whole.kov"
check "arguments arrive whole" 0 '^\[\{x"y\} "--catch" "b c"\]\|\{x"y --catch b c\}\|$' '^$' \
    "$dir/whole.kov" 'x"y' --catch "b c"
cp "$dir/whole.kov" "$dir/with space.kov"
check "a switch and a script's name with a space leave its arguments" 0 '^\["a"\]\|"a"\|console\|$' '^$' \
    --catch "$dir/with space.kov" a
# With --catch the console starts after a failure, reports on standard output as before.
check "--catch: an error, then the console" 0 \
    '^before\|\*\*\* Math Error: attempt to divide by zero\|.*console\|$' '^$' --catch "$dir/error.kov"
check "--catch: no header, then the console" 0 '^\*\*\* Error: Kov header not found!\|console\|$' '^$' \
    --catch "$dir/no-header.kov"
check "--catch: an unreadable script, then the console with its banner" 0 \
    '^\*\*\* Access Error: cannot open: .*--== Kov .*console\|$' '^$' --catch "$dir/missing.kov"

[ $failures -eq 0 ] || exit 1
echo "script exit statuses: ok"
