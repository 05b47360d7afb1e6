#!/usr/bin/env bash
# Resident memory of Kivo beside other Direct Connect clients, each logged
# into the same demo hub on 127.0.0.1 and left idle: the real kivo binary in
# tmux (connected, main screen; Kivo shares nothing, it announces a share
# size only), and, when installed, Debian's microdc2, ncdc and
# eiskaltdcpp-daemon, each sharing the same folder of a few files (8 MiB),
# started by the e2e tests' peer helpers (tests/e2e/lib_peers.sh): a start
# returns once a search through the hub finds a shared file with its TTH, so
# the client is logged in and its hashing done. The hub is silent (no churn,
# no chatter). Then every client's VmRSS (for a client with helper
# processes, the sum over its process tree: microdc2 forks some) is read
# each second until each stayed the same for the given seconds (at most 90 s
# in all; a client still changing then is marked "not settled"), and one
# table is printed: client, processes, VmRSS kB, Pss kB (each shared page
# split among the tree's processes), and VmRSS over Kivo's.
# A client that is not installed and cannot be installed is shown as such;
# one that did not come up makes the run fail, after the table.
# Not part of the test suite.
#
#   bash bench/memory_side_by_side.sh <kivo-binary> <repo-root> [settle-seconds]   (default 5)
. "$(dirname "$0")/lib.sh" "$@"
settle=${3:-5}
bench_use_peers

share="$BENCH_WORK/share/pub"
mkdir -p "$share/Music" "$share/Docs"
head -c 4194311 /dev/urandom >"$share/memory-sample.bin"
for i in 1 2 3; do head -c 1048583 /dev/urandom >"$share/Music/track-$i.mp3"; done
seq 1 20000 >"$share/Docs/numbers.txt"
words="memory sample"

bench_start_hub
bench_favorites 127.0.0.1 "$HUB_PORT" kivomem
bench_start_kivo
bench_keys F1 2                         # Menu, "Connect"
bench_wait "Welcome to" 15

# name, root process id and a note per client; "" as id: not measured.
clients=(kivo) roots=("$KIVO_PID") notes=("")
failed=0
peer() {
    local name=$1 start=$2 pid_of=$3 status=0
    "$start" "$share" "$words" || status=$?
    clients+=("$name")
    case $status in
    0) roots+=("$($pid_of)") notes+=("") ;;
    "$PEER_MISSING") roots+=("") notes+=("not installed") ;;
    *) roots+=("") notes+=("did not come up: $PEER_ERROR"); failed=1 ;;
    esac
}
pid_mdc() { echo "$MDC_PID"; }
pid_ncdc() { cat "$PEER_NCDC_PID_FILE"; }
pid_eisk() { echo "$PEER_EISK_PID"; }
peer microdc2 peer_start_microdc2 pid_mdc
peer ncdc peer_start_ncdc pid_ncdc
peer eiskaltdcpp-daemon peer_start_eiskalt pid_eisk

# Settled: each measured tree's VmRSS the same over the last $settle looks,
# one a second.
declare -A last same
deadline=$((SECONDS + 90))
while :; do
    all=1
    for i in "${!roots[@]}"; do
        [ -n "${roots[$i]}" ] || continue
        kill -0 "${roots[$i]}" 2>/dev/null || bench_fail "${clients[$i]} ended"
        kb=$(bench_tree_kb "${roots[$i]}")
        if [ "$kb" = "${last[$i]:-}" ]; then same[$i]=$((${same[$i]:-0} + 1)); else same[$i]=0; fi
        last[$i]=$kb
        [ "${same[$i]}" -ge "$settle" ] || all=0
    done
    [ $all = 1 ] || [ $SECONDS -ge $deadline ] && break
    sleep 1
done
bench_screen | grep -qF "Welcome to" || bench_fail "kivo left the main screen"

kivo_kb=${last[0]}
printf '%-20s %9s %10s %10s %12s\n' client processes "VmRSS kB" "Pss kB" "VmRSS/kivo"
for i in "${!clients[@]}"; do
    if [ -z "${roots[$i]}" ]; then
        printf '%-20s %s\n' "${clients[$i]}" "${notes[$i]}"
        continue
    fi
    n=$(bench_tree_pids "${roots[$i]}" | wc -l)
    pss=$(bench_tree_pss_kb "${roots[$i]}")
    note=""
    [ "$n" -gt 1 ] && note="  (sum over its $n processes)"
    [ "${same[$i]}" -ge "$settle" ] || note="$note  (not settled: still changing)"
    awk -v c="${clients[$i]}" -v n="$n" -v kb="${last[$i]}" -v pss="$pss" -v k="$kivo_kb" -v note="$note" \
        'BEGIN { printf "%-20s %9d %10d %10d %12.2f%s\n", c, n, kb, pss, kb / k, note }'
done
echo "all logged into the demo hub on 127.0.0.1, idle; each peer shares $(du -sb "$share" | cut -f1) bytes in" \
     "$(find "$share" -type f | wc -l) files; VmRSS settled over $settle s"
[ $failed = 0 ]
