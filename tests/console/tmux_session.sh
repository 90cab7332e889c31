# Shared by the terminal tests: a private tmux server, a failure count, waiting for the
# screen. Sourced with the server's name in $session:
#   session=kov-xyz; . "$(dirname "$0")/tmux_session.sh"
# Exits 77 (skipped) when tmux is missing.
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed"; exit 77; }

tm() { tmux -L "$session-$$" -f /dev/null "$@"; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Waits (up to 5 s, or KOV_TEST_WAIT tenths of a second) until the shell command in $1
# succeeds.
wait_for() {
    i=0
    while [ $i -lt "${KOV_TEST_WAIT:-50}" ]; do
        if eval "$1"; then return 0; fi
        sleep 0.1
        i=$((i + 1))
    done
    return 1
}
screen() { tm capture-pane -p -J; }
shows() { screen | grep -qF -- "$1"; }
