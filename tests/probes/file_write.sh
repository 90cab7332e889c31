#!/bin/sh
# A whole-file write that fails part-way keeps the old contents: past the file-size limit
# (ulimit -f) the write raises access/cannot-open (the process is not ended by SIGXFSZ) and
# the file still holds what it held, with no stray file left beside it. A rewritten file keeps
# its mode, a symbolic link stays a link to the rewritten file, a file with a second name is
# rewritten in place (both names see the new contents), and /append and /seek write in place.
# Usage: file_write.sh PATH-TO-kov
kov=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

printf 'old' > keep.txt
cat > big.kov <<'KOV'
Kov []
big: append/dup copy "" "0123456789abcdef" 10000
e: try [write %keep.txt big]
print ["existing" either error? e [e/id] ["written"]]
e: try [write %new.txt big]
print ["new" either error? e [e/id] ["written"]]
write %keep.txt "small"
print ["after" read %keep.txt]
KOV
# Each limit unit is at least 512 bytes: 16 of them hold the small writes, not 160000 bytes.
out=$( (ulimit -f 16 && HOME="$dir" "$kov" big.kov 2>&1); echo "status $?")
# The small write after the failures went through: show what the big one left meanwhile.
expected='existing cannot-open
new cannot-open
after small
status 0'
[ "$out" = "$expected" ] || fail "past the size limit: [$out]"
ls -A | grep -q '^\.kov-' && fail "a replacement file was left behind"

printf 'old' > kept.txt
cat > check.kov <<'KOV'
Kov []
write %kept.txt big: append/dup copy "" "x" 100000
print ["kept" (read %kept.txt) = big]
KOV
(ulimit -f 16 && HOME="$dir" "$kov" check.kov > /dev/null 2>&1)
[ "$(cat kept.txt)" = old ] || fail "a failed write destroyed the old contents"

printf 'old' > mode.txt && chmod 640 mode.txt
printf 'old' > target.txt && ln -s target.txt link.txt
printf 'old' > one.txt && ln one.txt two.txt
printf 'abcdef' > append.txt
cat > kinds.kov <<'KOV'
Kov []
write %mode.txt "new"
write %link.txt "through the link"
write %one.txt "both names"
write/append %append.txt "gh"
write/seek %append.txt "XY" 1
write %/dev/null "nothing"
KOV
HOME="$dir" "$kov" kinds.kov || fail "kinds.kov failed"
[ "$(cat mode.txt)" = new ] || fail "mode.txt not rewritten"
[ "$(stat -c %a mode.txt)" = 640 ] || fail "the mode was not kept: $(stat -c %a mode.txt)"
[ -L link.txt ] || fail "the link was replaced by a file"
[ "$(cat target.txt)" = "through the link" ] || fail "the link's target was not rewritten"
[ "$(cat two.txt)" = "both names" ] || fail "a file with two names was split in two"
[ "$(cat append.txt)" = aXYdefgh ] || fail "append and seek: $(cat append.txt)"
ls -A | grep -q '^\.kov-' && fail "a replacement file was left behind"

[ $failures -eq 0 ] || exit 1
echo "file writes: ok"
