#!/bin/sh
# Where the console keeps its settings for each kind of HOME: HOME's .kov folder when HOME is
# a folder that takes it; otherwise a private folder under /tmp. A missing HOME is not made,
# nothing is made at the root, and the console starts in every case.
# Usage: settings_folder.sh PATH-TO-kov
kov=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
fallback="/tmp/kov-$(id -u)/"
root_had_kov=no
[ -e /.kov ] && root_had_kov=yes

# check NAME EXPECTED-FOLDER HOME-VALUE (unset: HOME removed from the environment)
check() {
    name=$1 expected=$2
    if [ "$3" = unset ]; then
        got=$(printf 'print system/options/cache\n' | env -u HOME "$kov" 2>&1 | tail -n 1)
    else
        got=$(printf 'print system/options/cache\n' | HOME=$3 "$kov" 2>&1 | tail -n 1)
    fi
    if [ "$got" != "$expected" ]; then
        echo "FAIL $name: the settings folder is [$got], expected [$expected]"
        failures=$((failures + 1))
    fi
}

check "a usable HOME" "$dir/.kov/" "$dir"
check "a usable HOME given with a slash at its end" "$dir/.kov/" "$dir/"
[ -d "$dir/.kov" ] || { echo "FAIL: $dir/.kov was not made"; failures=$((failures + 1)); }
check "an empty HOME" "$fallback" ""
check "no HOME at all" "$fallback" unset
check "HOME at the root" "$fallback" /
check "a HOME that does not exist" "$fallback" "$dir/missing/deeper"
[ -e "$dir/missing" ] && { echo "FAIL: a missing HOME was made"; failures=$((failures + 1)); }
check "a HOME that refuses folders" "$fallback" /proc
check "a relative HOME" "$fallback" "relative/home"
if [ $root_had_kov = no ] && [ -e /.kov ]; then
    echo "FAIL: /.kov was made"
    failures=$((failures + 1))
fi
# The fallback belongs to the user alone.
[ "$(stat -c %u "$fallback")" = "$(id -u)" ] || { echo "FAIL: $fallback is not the user's"; failures=$((failures + 1)); }
case $(stat -c %A "$fallback") in
drwx------) ;;
*) echo "FAIL: $fallback is open to others: $(stat -c %A "$fallback")"; failures=$((failures + 1)) ;;
esac

# A console whose settings cannot be kept anywhere still starts and runs.
out=$(printf 'print 1 + 2\n' | HOME=/proc "$kov" 2>&1 | tail -n 1)
[ "$out" = 3 ] || { echo "FAIL: the console did not run: $out"; failures=$((failures + 1)); }

# The history is saved when the console ends, even after the user overwrote the words that
# lead to the console and its settings (piped lines are not history: one is put there).
for overwrite in "system/console: none" "system: none" "cli-console-ctx: none"; do
    rm -rf "$dir/.kov"
    printf 'insert system/console/history "marker-line: 1"\n%s\n' "$overwrite" | HOME=$dir "$kov" >/dev/null 2>&1
    grep -qF 'marker-line: 1' "$dir/.kov/Kov-Console/console-cfg.kov" 2>/dev/null ||
        { echo "FAIL: the history was not saved after '$overwrite'"; failures=$((failures + 1)); }
done

[ $failures -eq 0 ] || exit 1
echo "settings folder: ok"
