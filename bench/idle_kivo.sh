#!/usr/bin/env bash
# An idle Kivo uses no CPU: the real binary, logged in to a silent demo hub
# (no churn, no chatter), left alone on its main screen for 10 seconds.
# Prints the process's CPU time in clock ticks (/proc/<pid>/stat, all
# threads), in nanoseconds (schedstat of every thread) and its context
# switches (each wake-up counts one) over that time. Fails when more than
# 1 tick was used. Not part of the test suite.
#
#   bash bench/idle_kivo.sh <kivo-binary> <repo-root> [seconds]   (default 10)
. "$(dirname "$0")/lib.sh" "$@"
seconds=${3:-10}
limit_ticks=1

bench_start_hub
bench_favorites 127.0.0.1 "$HUB_PORT" idler
bench_start_kivo
bench_keys F1 2                 # Menu, "Connect"
bench_wait "Welcome to" 15
sleep 1                         # the login's last repaint and the hub's replies settle

ticks0=$(bench_cpu_ticks "$KIVO_PID")
ns0=$(bench_cpu_ns "$KIVO_PID")
sw0=$(bench_switches "$KIVO_PID")
sleep "$seconds"
ticks1=$(bench_cpu_ticks "$KIVO_PID")
ns1=$(bench_cpu_ns "$KIVO_PID")
sw1=$(bench_switches "$KIVO_PID")
bench_screen | grep -qF "Welcome to" || bench_fail "kivo left the main screen"

used=$((ticks1 - ticks0))
echo "idle kivo (connected, main screen, ${seconds} s): $used clock ticks" \
     "($(( (ns1 - ns0) / 1000 )) us on the CPU, $((sw1 - sw0)) wake-ups); limit $limit_ticks tick"
[ "$used" -le "$limit_ticks" ]
