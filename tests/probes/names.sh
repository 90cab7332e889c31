#!/bin/sh
# Names that are not UTF-8: each byte outside a valid sequence reads as a character that a
# local path turns back into that byte. A folder holding such a name is listed whole and each
# entry opens; a script whose name (and folder) is not UTF-8 runs; an argument or an
# environment variable naming such a file reaches the script as a name that opens it.
# Usage: names.sh PATH-TO-kov
kov=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
bad=$(printf 'a\377b.txt')        # a byte that starts no sequence
cut=$(printf 'c\303.txt')         # a sequence cut short
sur=$(printf 'e\355\262\200.txt') # an encoded surrogate, which UTF-8 does not allow
sub=$(printf 'd\351')
mkdir "$dir/list" "$dir/$sub"
printf 'one' > "$dir/list/$bad"
printf 'two' > "$dir/list/$cut"
printf 'three' > "$dir/list/$sur"
printf 'four' > "$dir/list/ok.txt"
mkdir "$dir/list/$sub"
cat > "$dir/$sub/$(printf 's\377.kov')" <<'KOV'
Kov []
print ["ran in" exists? what-dir]
files: sort read %../list/
print ["listed" length? files]
foreach f files [
	either dir? f [print ["folder" exists? rejoin [%../list/ f]]] [
		print ["read" read rejoin [%../list/ f]]
		write rejoin [%../list/ f %.copy] read rejoin [%../list/ f]
	]
]
print ["argument" read to-kov-file first system/options/args]
print ["environment" equal? get-env "KOV_NAME_TEST" select list-env "KOV_NAME_TEST"]
write to-kov-file get-env "KOV_NAME_TEST" "from the environment"
KOV
env_name=$(printf '%s/v\377' "$dir")
HOME="$dir" KOV_NAME_TEST="$env_name" "$kov" "$dir/$sub/$(printf 's\377.kov')" "$dir/list/$bad" > "$dir/out" 2>&1
expected='ran in true
listed 5
read one
read two
folder true
read three
read four
argument one
environment true'
failures=0
if [ "$(cat "$dir/out")" != "$expected" ]; then
    echo "FAIL: output"; cat "$dir/out"; failures=1
fi
# The copies were written under the same bytes.
for name in "$bad" "$cut" "$sur"; do
    [ -f "$dir/list/$name.copy" ] || { echo "FAIL: no copy under the same bytes"; failures=1; }
done
[ "$(cat "$env_name" 2>/dev/null)" = "from the environment" ] || { echo "FAIL: a name from the environment lost its bytes"; failures=1; }
[ $failures -eq 0 ] || exit 1
echo "names that are not UTF-8: ok"
