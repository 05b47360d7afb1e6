#!/usr/bin/env bash
# The terminal display for real: screen_demo runs the main screen's template in
# a tmux pane; keys go in with send-keys and what a person sees comes back
# with capture-pane. Checks: the screen shows, typed text (Cyrillic too)
# reaches the input line, Enter is the Action key, Backspace deletes and Esc
# is the Back key that leaves the text alone, F1 opens the
# numbered menu and a digit chooses, a message box opens and closes, a resize
# redraws at the phone's size, and the terminal is given back at the end.
# Also: without a terminal the demo refuses to start, saying why.
#
# Usage: bash terminal_screen.sh <screen_demo>
set -u
demo="$1"
command -v tmux >/dev/null || { echo "tmux is not installed"; exit 77; }

socket="kivo-screen-$$"
session="demo"
t() { tmux -L "$socket" "$@"; }
cleanup() { t kill-server 2>/dev/null; }
trap cleanup EXIT

fail() {
    echo "FAIL: $1"
    echo "--- pane ---"
    t capture-pane -p -t "$session" 2>/dev/null
    exit 1
}

# Waits up to 5 s for the text to appear in the pane.
wait_for() {
    for _ in $(seq 1 100); do
        t capture-pane -p -t "$session" 2>/dev/null | grep -qF -- "$1" && return 0
        sleep 0.05
    done
    fail "never showed: $1"
}

wait_gone() {
    for _ in $(seq 1 100); do
        t capture-pane -p -t "$session" 2>/dev/null | grep -qF -- "$1" || return 0
        sleep 0.05
    done
    fail "still showing: $1"
}

# No terminal: refused with a word on stderr and a non-zero status.
err=$("$demo" </dev/null 2>&1 >/dev/null)
status=$?
[ "$status" -ne 0 ] || fail "started without a terminal"
echo "$err" | grep -q "terminal" || fail "no reason given without a terminal: $err"

t -f /dev/null new-session -d -s "$session" -x 80 -y 24 -e LANG=C.UTF-8 \
    "'$demo'; echo DEMO-EXIT=\$?; sleep 60" || fail "tmux did not start"

wait_for "+ Kivo -"
wait_for "screen demo"
wait_for "| Menu"
wait_for "Search |"

t send-keys -t "$session" -l "hello Привет"
wait_for "[hello Привет"
t send-keys -t "$session" BSpace BSpace
wait_for "[hello Прив "
t send-keys -t "$session" Escape
wait_for "back"
wait_for "[hello Прив "
t send-keys -t "$session" Enter
wait_for "> hello Прив"

t send-keys -t "$session" F2
wait_for "command 12005"

t send-keys -t "$session" F1
wait_for "1 exit"
wait_for "9 Option"
t send-keys -t "$session" 4
wait_gone "9 Option"
wait_for "command 6008"

t send-keys -t "$session" F1
wait_for "6 About"
t send-keys -t "$session" 6
wait_for "About this demo"
wait_for "+ About -"
t send-keys -t "$session" Enter
wait_gone "About this demo"
wait_for "+ Kivo -"

t resize-window -t "$session" -x 36 -y 16
wait_for "| Menu                      Search |"

t send-keys -t "$session" F1
wait_for "1 exit"
t send-keys -t "$session" 1
wait_for "DEMO-EXIT=0"
wait_for "screen_demo: ended"
# The screen is the shell's again: no frame left over.
t capture-pane -p -t "$session" | grep -qF -- "+ Kivo" && fail "the terminal was not given back"
echo "terminal screen: ok"
exit 0
