#!/bin/sh
# Runs kov on a script under an address-space limit with no input, then prints its exit
# status, so that a probe can accept one of several endings but never a signal. A failed
# script reports on standard error, so both streams are taken.
#   limited.sh KOV LIMIT-KIB SCRIPT
ulimit -v "$2" || exit 99
"$1" "$3" </dev/null 2>&1
echo "status $?"
