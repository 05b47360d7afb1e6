#!/usr/bin/env bash
# An idle Kivo uses no CPU: the real binary, logged in to a silent demo hub
# (no churn, no chatter), left alone on its main screen for 10 seconds; then
# with the Downloads screen open and a download request that waits for a
# $ConnectToMe that never comes (the demo user Passive never answers).
# Prints, for each, the process's CPU time in clock ticks (/proc/<pid>/stat,
# all threads), in nanoseconds (schedstat of every thread) and its context
# switches (each wake-up counts one) over that time. Fails when either used
# any tick at all. Not part of the test suite.
#
#   bash bench/idle_kivo.sh <kivo-binary> <repo-root> [seconds]   (default 10)
. "$(dirname "$0")/lib.sh" "$@"
seconds=${3:-10}
limit_ticks=0

bench_start_hub
bench_favorites 127.0.0.1 "$HUB_PORT" idler
bench_start_kivo
bench_keys F1 2                 # Menu, "Connect"
bench_wait "Welcome to" 15
sleep 1                         # the login's last repaint and the hub's replies settle

# Measures the given seconds of CPU; sets USED and prints one line.
measure() {
    local ticks0 ns0 sw0 ticks1 ns1 sw1
    ticks0=$(bench_cpu_ticks "$KIVO_PID")
    ns0=$(bench_cpu_ns "$KIVO_PID")
    sw0=$(bench_switches "$KIVO_PID")
    sleep "$seconds"
    ticks1=$(bench_cpu_ticks "$KIVO_PID")
    ns1=$(bench_cpu_ns "$KIVO_PID")
    sw1=$(bench_switches "$KIVO_PID")
    USED=$((ticks1 - ticks0))
    echo "idle kivo ($1, ${seconds} s): $USED clock ticks" \
         "($(( (ns1 - ns0) / 1000 )) us on the CPU, $((sw1 - sw0)) wake-ups); limit $limit_ticks tick"
}

measure "connected, main screen"
bench_screen | grep -qF "Welcome to" || bench_fail "kivo left the main screen"
main_used=$USED

# A request that waits: Passive's file is asked for, and Passive never
# connects; the Downloads screen shows the waiting request.
bench_keys F2                   # Search
bench_type "passive-notes"
bench_keys Enter
bench_wait "passive-notes.txt" 15
bench_keys Down Down F2         # past "OK" to the list (its first entry selected), Download
bench_keys F1 5                 # Menu, "Downloads"
bench_wait "waiting from Passive" 10
sleep 1
measure "Downloads screen, a request waiting"
bench_screen | grep -qF "waiting" || bench_fail "the Downloads screen no longer shows the waiting request"

[ "$main_used" -le "$limit_ticks" ] && [ "$USED" -le "$limit_ticks" ]
