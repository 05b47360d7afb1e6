#!/usr/bin/env bash
# Idle costs nothing: a screen waiting for input on the terminal display uses
# no CPU. Runs screen_demo (the main screen's template) in a tmux pane, lets it
# settle, then reads the process's user + system time from /proc/<pid>/stat
# before and after 5 seconds of waiting. Prints the ticks used; fails when the
# idle screen used more than 1 tick (10 ms on the usual 100 Hz clock).
# Not part of the test suite.
#
#   bash bench/idle_cpu.sh [build-dir]   (default: build/bench-idle)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/bench-idle}
seconds=5
limit_ticks=1

cmake -S "$repo" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target screen_demo -j2 >/dev/null
demo="$build/tests/screen_demo"

socket="kivo-idle-$$"
t() { tmux -L "$socket" "$@"; }
trap 't kill-server 2>/dev/null' EXIT
t -f /dev/null new-session -d -s idle -x 80 -y 24 -e LANG=C.UTF-8 "exec '$demo'"

pid=""
for _ in $(seq 1 100); do
    pid=$(t list-panes -t idle -F '#{pane_pid}' 2>/dev/null || true)
    [ -n "$pid" ] && t capture-pane -p -t idle | grep -qF "+ Kivo" && break
    sleep 0.05
done
[ -n "$pid" ] || { echo "screen_demo did not start"; exit 1; }
# A little typing first, so the loop has drawn and handled keys before it idles.
t send-keys -t idle -l "idle test"
sleep 0.5

# Fields 14 and 15 of /proc/<pid>/stat (after the parenthesised name).
ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
before=$(ticks "$pid")
sleep "$seconds"
after=$(ticks "$pid")
used=$((after - before))
echo "idle screen: $used clock ticks of CPU in ${seconds} s (limit $limit_ticks)"
[ "$used" -le "$limit_ticks" ]
