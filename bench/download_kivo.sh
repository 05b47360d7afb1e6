#!/usr/bin/env bash
# The real kivo binary downloads the demo hub's big file (1 GiB + 4321 bytes
# by default) the way a user does it: Connect, Search "kivo demo movie", the
# result, the "Download" soft key. Each round also fetches the same file from
# the same hub with bench/plain_fetch.py (dd copying the socket to a file, no client
# around it); the order alternates. Both times run from the download request
# to the last byte on disk. Prints every round, the best of each and their
# ratio, and kivo's peak resident memory (VmHWM) before the first download and
# after the last; each downloaded file is compared with the hub's.
# Not part of the test suite.
#
#   bash bench/download_kivo.sh <kivo-binary> <repo-root> [MiB] [rounds] [data-dir]
#
# The hub generates its big files (MiB, 2/3 and 1/2 of it) into data-dir the
# first time and reuses them while they are whole; without a data-dir they
# go into the scratch folder and are removed at the end.
. "$(dirname "$0")/lib.sh" "$@"
mib=${3:-1024}
rounds=${4:-3}
data=${5:-$BENCH_WORK/data}
total=$((mib * 1048576 + 4321))
source_file="$data/Seeder/Video/Kivo Demo Movie.avi"
kivo_file="$BENCH_WORK/cwd/Kivo Demo Movie.avi"
plain_file="$BENCH_WORK/plain.bin"

BENCH_HUB_WAIT=600 bench_start_hub --big-mib "$mib" --data-dir "$data"
[ "$(stat -c %s "$source_file")" = "$total" ] || bench_fail "the hub has no file of $total bytes"
sync -f "$source_file"                     # freshly made files are not written back during a round
bench_favorites 127.0.0.1 "$HUB_PORT" fetcher
bench_start_kivo
bench_keys F1 2                            # Menu, "Connect"
bench_wait "Welcome to" 15
hwm_before=$(bench_status "$KIVO_PID" VmHWM)
threads_idle=$(ls "/proc/$KIVO_PID/task" | wc -l)

# One download through kivo's screens; prints its seconds.
kivo_round() {
    rm -f "$kivo_file"
    bench_keys F2                          # the "Search" soft key
    bench_wait "Download"
    bench_type "kivo demo movie"
    bench_keys Enter                       # the Action key sends the search
    sleep 0.3                              # the list is emptied and filled anew
    bench_wait "Kivo Demo Movie.avi"
    bench_keys Down Down Down              # past "OK" into the list, onto the result
    # The "Download" soft key, then the file's size watched every 5 ms.
    python3 - "$kivo_file" "$total" $BENCH_TMUX send-keys -t kivo F2 <<'EOF'
import os, subprocess, sys, time
path, total, key = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
start = time.monotonic()
subprocess.run(key, check=True)
while time.monotonic() - start < 300:
    try:
        if os.stat(path).st_size >= total:
            break
    except FileNotFoundError:
        pass
    time.sleep(0.005)
print("%.3f" % (time.monotonic() - start))
EOF
    # The worker's notes appear only at the next paint: its end is seen as
    # its thread leaving the process.
    local i
    for i in $(seq 1 300); do
        [ "$(ls "/proc/$KIVO_PID/task" | wc -l)" -le "$threads_idle" ] && break
        sleep 0.1
    done
    [ "$(ls "/proc/$KIVO_PID/task" | wc -l)" -le "$threads_idle" ] || bench_fail "the download worker did not end"
    cmp -s "$source_file" "$kivo_file" || bench_fail "kivo's file differs from the hub's"
}

plain_round() {
    rm -f "$plain_file"
    python3 "$REPO_ROOT/bench/plain_fetch.py" "$HUB_PORT" Seeder 'Video\Kivo Demo Movie.avi' "$total" "$plain_file"
    cmp -s "$source_file" "$plain_file" || bench_fail "the plain fetch differs from the hub's file"
}

results=""
for round in $(seq 1 "$rounds"); do
    if [ $((round % 2)) = 1 ]; then
        k=$(kivo_round); p=$(plain_round)
    else
        p=$(plain_round); k=$(kivo_round)
    fi
    echo "round $round: kivo $k s, plain fetch $p s"
    results="$results$k $p"$'\n'
done
hwm_after=$(bench_status "$KIVO_PID" VmHWM)
rss_after=$(bench_status "$KIVO_PID" VmRSS)

awk -v b="$total" -v m="$mib" -v n="$rounds" '
    NF == 2 { if (!bk || $1 < bk) bk = $1; if (!bp || $2 < bp) bp = $2 }
    END {
        printf "kivo download: %d MiB + 4321 bytes from the demo hub, best of %d: %.3f s, %.1f MB/s\n", m, n, bk, b / bk / 1e6
        printf "plain fetch:   same file, same hub, best of %d: %.3f s, %.1f MB/s\n", n, bp, b / bp / 1e6
        printf "ratio:         %.3f (plain time / kivo time)\n", bp / bk
    }' <<<"$results"
echo "kivo peak memory: VmHWM $hwm_before kB before the first download, $hwm_after kB after the last (VmRSS $rss_after kB)"
