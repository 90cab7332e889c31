#!/bin/sh
# Runs `kov` with a case file's input piped in and compares what it prints and its exit
# status with the case. A case file holds, in this order:
#   <<< args ARG...     (optional: the command-line arguments, on one line)
#   <<<                 the lines after it, up to ">>>", are the input
#   >>>                 the lines after it, up to "=== status N", are the exact output
#   === status N
# Lines before the first "<<<" are a description.
kov=$1
case_file=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
awk -v dir="$dir" '
  /^<<< args / { sub(/^<<< args /, ""); print > (dir "/args"); next }
  /^<<<$/ { part = "input"; next }
  /^>>>$/ { part = "expected"; next }
  /^=== status / { print $3 > (dir "/status"); part = ""; next }
  part != "" { print > (dir "/" part) }
' "$case_file"
touch "$dir/input" "$dir/expected" "$dir/args"
expected_status=$(cat "$dir/status" 2>/dev/null || echo 0)
cd "$(dirname "$case_file")" || exit 1
# shellcheck disable=SC2046
eval "set -- $(cat "$dir/args")"
HOME="$dir" "$kov" "$@" < "$dir/input" > "$dir/output" 2>&1
status=$?
if ! cmp -s "$dir/expected" "$dir/output"; then
  echo "--- output differs from the case ($case_file):"
  diff "$dir/expected" "$dir/output"
  exit 1
fi
if [ "$status" != "$expected_status" ]; then
  echo "--- exit status $status, expected $expected_status"
  exit 1
fi
exit 0
