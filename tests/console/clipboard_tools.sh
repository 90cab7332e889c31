#!/bin/sh
# The system clipboard through its tools: with WAYLAND_DISPLAY set and wl-copy / wl-paste on
# the PATH, kov hands text and file lists (as text/uri-list) to them and reads them back.
# Stand-in tools keep one offer (its type and bytes) in a folder of this run.
# Usage: clipboard_tools.sh PATH-TO-kov
set -eu
kov=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM
mkdir "$tmp/bin"
cat > "$tmp/bin/wl-copy" <<'TOOL'
#!/bin/sh
store=$(dirname "$0")/../store
case "$1" in
  --clear) rm -f "$store.type" "$store.data"; exit 0 ;;
  --type) printf '%s\n' "$2" > "$store.type"; cat > "$store.data" ;;
  *) exit 2 ;;
esac
TOOL
cat > "$tmp/bin/wl-paste" <<'TOOL'
#!/bin/sh
store=$(dirname "$0")/../store
[ -f "$store.type" ] || exit 1
case "$1" in
  --list-types) cat "$store.type" ;;
  --no-newline) [ "$3" = "$(cat "$store.type")" ] || exit 1; cat "$store.data" ;;
  *) exit 2 ;;
esac
TOOL
chmod +x "$tmp/bin/wl-copy" "$tmp/bin/wl-paste"
cat > "$tmp/t.kov" <<'KOV'
Kov []
print mold read-clipboard
print mold write-clipboard "héllo wörld"
print mold read-clipboard
print mold write-clipboard [%/tmp/a %"/tmp/b c" %"/x/%é"]
print mold read-clipboard
print mold write-clipboard none
print mold read-clipboard
KOV
out=$(WAYLAND_DISPLAY=test PATH="$tmp/bin:$PATH" "$kov" "$tmp/t.kov" 2>&1)
expected='none
true
"héllo wörld"
true
[%/tmp/a %"/tmp/b c" %"/x/%é"]
true
none'
if [ "$out" != "$expected" ]; then
  printf 'clipboard tools: expected\n%s\ngot\n%s\n' "$expected" "$out"
  exit 1
fi
# What other programs see: a file list as a uri-list, each name percent-encoded.
printf 'Kov []\nwrite-clipboard [%%/tmp/a %%"/tmp/b c" %%"/x/%%é"]\n' > "$tmp/w.kov"
WAYLAND_DISPLAY=test PATH="$tmp/bin:$PATH" "$kov" "$tmp/w.kov"
type=$(cat "$tmp/store.type")
data=$(od -An -c "$tmp/store.data" | tr -s ' \n' ' ')
[ "$type" = "text/uri-list" ] || { echo "clipboard tools: offered as $type"; exit 1; }
printf 'file:///tmp/a\r\nfile:///tmp/b%%20c\r\nfile:///x/%%25%%C3%%A9\r\n' > "$tmp/expected"
cmp -s "$tmp/store.data" "$tmp/expected" || { echo "clipboard tools: the uri-list was: $data"; exit 1; }
echo "clipboard through wl-copy and wl-paste: ok"
