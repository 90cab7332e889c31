#!/bin/sh
# A file! given to call names one program: it is never read as shell code, however it is
# spelled, and a missing one gives -1 with nothing run. A command string is shell text when
# its program is not found (so its own shell syntax works). A NUL in a command or a file
# name raises script/invalid-arg instead of cutting the text short.
# Usage: call_injection.sh PATH-TO-kov
kov=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
cat > probe.kov <<'KOV'
Kov []
foreach name ["nonexist;touch X1" "nonexist$(touch X2)" "nonexist`touch X3`" "nonexist|touch X4" "nonexist^/touch X5"] [
	print ["file" call/wait to file! name]
]
print ["shell" call/wait/shell to file! "nonexist;touch X6"]
print ["string" call/wait "kov-surely-no-such-program;touch S1"]
foreach code [
	[call/output "echo a^@b" copy ""]
	[call/wait to file! "/bin/echo^@x"]
	[call/wait/input "cat" to file! "in^@x"]
	[call/output "echo" to file! "out^@x"]
][
	e: try code
	print ["nul" either error? e [e/id] ["ran"]]
]
KOV
HOME="$dir" "$kov" probe.kov > out 2>&1
expected='file -1
file -1
file -1
file -1
file -1
shell 127
string 0
nul invalid-arg
nul invalid-arg
nul invalid-arg
nul invalid-arg'
failures=0
if [ "$(cat out)" != "$expected" ]; then
    echo "FAIL: output"; cat out; failures=1
fi
for f in X1 X2 X3 X4 X5 X6; do
    if [ -e "$f" ]; then echo "FAIL: a file name ran as shell code ($f made)"; failures=1; fi
done
[ -e S1 ] || { echo "FAIL: a command string that names no program did not run as shell text"; failures=1; }
for f in out?x in?x; do
    if [ -e "$f" ]; then echo "FAIL: a name with a NUL was used ($f)"; failures=1; fi
done
[ $failures -eq 0 ] || exit 1
echo "call and file names: ok"
