#!/bin/sh
# The console survives any definition of the user's: for every global word that the console's
# own code uses, a piped session gives the word a string (and, when its value was a function,
# a function that prints), then evaluates `1 + 2` and `quit`: the result "== 3" comes and the
# process ends with status 0. The words come from the console itself (the private words its
# code is bound to), so a word the code starts to use is tested without a change here.
# Also: a fresh console gives no value to the short names a user picks first.
# Usage: survival.sh PATH-TO-kov [WORD...]   (words given: only those)
# KOV_SESSION_SECONDS: how long one session may take (20 s by default).
set -u
kov=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The console's words: those of the context its loop's code is bound to, which is neither the
# global one nor an object or function of its own. Each line: the word, then "function" when
# its start-up value is a function of any kind.
cat > "$tmp/words.kov" <<'EOF'
Kov []
private: none
find-private: func [code /local found] [
	foreach v code [
		case [
			all [any-word? :v v = 'forever] [return context? v]
			any [block? :v paren? :v] [if found: find-private v [return found]]
		]
	]
	none
]
private: find-private body-of :system/console/run
foreach w words-of private [
	print either any-function? get/any in private w [rejoin [mold w " function"]] [mold w]
]
EOF
if [ $# -gt 0 ]; then
    for w in "$@"; do echo "$w function"; done > "$tmp/words"
else
    HOME=$tmp "$kov" "$tmp/words.kov" > "$tmp/words" 2>&1 || { cat "$tmp/words"; exit 1; }
fi
count=$(wc -l < "$tmp/words")
[ "$count" -gt 50 ] || [ $# -gt 0 ] || fail "the console's words: only $count found"

# One session: its input, then the check of its output and status.
session() {  # word definition
    word=$1
    # The check line must not itself use the word it checks.
    check='1 + 2'
    [ "$word" = "+" ] && check='3'
    printf '%s: %s\n%s\nquit\n' "$word" "$2" "$check" > "$tmp/in"
    HOME=$tmp timeout "${KOV_SESSION_SECONDS:-20}" "$kov" < "$tmp/in" > "$tmp/out" 2>&1
    status=$?
    grep -q '^== 3$' "$tmp/out" || { fail "$word: $2: no '== 3':"; head -c 2000 "$tmp/out"; }
    [ $status -eq 0 ] || fail "$word: $2: exit status $status"
}
while read -r word kind; do
    session "$word" '"Ada"'
    [ "$kind" = function ] && session "$word" 'func [] [prin "(the user'"'"'s)"]'
done < "$tmp/words"

# A fresh console: the names a user is likely to choose have no value yet.
printf '%s\n' 'print mold collect [foreach zz-w [a b c d e f g h i j k n p s t v w x y z count value word name names list line lines data item items key type size map face screen title content row rows result results out file files path text str char num total][if value? zz-w [keep zz-w]]]' > "$tmp/in"
HOME=$tmp "$kov" < "$tmp/in" > "$tmp/out" 2>&1
grep -q '^\[\]$' "$tmp/out" || { fail "words with a value at start:"; cat "$tmp/out"; }

[ $failures -eq 0 ] || exit 1
echo "the console survived the user's definitions of $count words"
