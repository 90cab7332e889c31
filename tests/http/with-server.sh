#!/bin/sh
# Runs a command with the test HTTP server (server.py) listening on a free port of 127.0.0.1,
# its address in KOV_TEST_HTTP (http://127.0.0.1:PORT), and stops the server afterwards.
# A port that was free but now closed is given as KOV_TEST_CLOSED_PORT. The command may run
# for KOV_TEST_SECONDS (300 by default). KOV_TEST_PORT and KOV_TEST_CLOSED_PORT, when set, fix
# both ports, so that two runs see the same addresses (tests/kov/modes.sh).
set -u
here=$(dirname "$0")
fifo=$(mktemp -u)
mkfifo "$fifo"
python3 "$here/server.py" "${KOV_TEST_PORT:-0}" >"$fifo" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -f "$fifo"' EXIT INT TERM
read -r port <"$fifo"
[ -n "$port" ] || { echo "with-server: the server did not start" >&2; exit 1; }
closed=${KOV_TEST_CLOSED_PORT:-}
[ -n "$closed" ] || closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
KOV_TEST_HTTP="http://127.0.0.1:$port" KOV_TEST_CLOSED_PORT="$closed" timeout "${KOV_TEST_SECONDS:-300}" "$@"
