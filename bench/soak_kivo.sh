#!/usr/bin/env bash
# Kivo over a long run: the real binary in tmux, logged into the demo hub on
# 127.0.0.1 with its churn and chatter ten times as often as by default (a
# demo user leaves or comes back every 2 to 6 s, one says something every 4.5
# to 9 s), and one download a minute from a demo user, the way a user does
# it: "Clear Chat", the "Search" soft key, the words, the result, the
# "Download" soft key (tests/e2e/lib_transfer.sh's e2e_download). The files
# rotate among Seeder's and archivist's (TTH in their $SR, so each is checked
# while it arrives; Kivo's $MyINFO offers TLS, so they come over TLS); each
# must arrive whole under its own name, equal to the hub's file, with the
# note " ::downloaded:: TTH verified", and is then removed.
# At the end of every minute, the download's worker gone, prints Kivo's
# resident memory (VmRSS, kB), open descriptors (/proc/<pid>/fd) and CPU time
# (utime + stime of all threads); at the end a verdict: flat when VmRSS at the
# end is at most SOAK_RSS_BOUND_KB (default 64) above the baseline, the end
# of minute 1 (minute 5 in runs of 10 minutes or more: the first minutes
# touch pages for the first time), and the descriptors at the end equal the
# baseline's. Fails when it is not flat or a download went wrong.
# Not part of the test suite (an hour by default).
#
#   bash bench/soak_kivo.sh <kivo-binary> <repo-root> [minutes]   (default 60)
. "$(dirname "$0")/lib.sh" "$@"
minutes=${3:-60}
bound=${SOAK_RSS_BOUND_KB:-64}
[ "$minutes" -ge 1 ] || bench_fail "minutes must be 1 or more"
base_minute=1
[ "$minutes" -lt 10 ] || base_minute=5
bench_use_transfer
data="$BENCH_WORK/data"
hz=$(getconf CLK_TCK)

# The demo hub's defaults are --churn-seconds 20 and --chatter-seconds 45.
bench_start_hub --no-quiet --churn-seconds 2 --chatter-seconds 4.5
bench_favorites 127.0.0.1 "$HUB_PORT" soaker
bench_start_kivo
bench_keys F1 2                         # Menu, "Connect"
bench_wait "Welcome to" 15
sleep 6                                 # the start-up name lookup's helper thread ends
threads_idle=$(ls "/proc/$KIVO_PID/task" | wc -l)

# search words|the name the result and the file have|the hub's file; "война
# мир" also finds virtual users' files, listed before and after Seeder's
downloads=(
    'kivo demo band opening|01 - Opening Theme.mp3|Seeder/Music/Kivo Demo Band/01 - Opening Theme.mp3'
    'война мир|Война и мир.txt|Seeder/Книги/Война и мир.txt'
    'photos-2009|photos-2009.zip|archivist/Archive/photos-2009.zip'
    'readme-demo|readme-demo.txt|Seeder/Docs/readme-demo.txt'
    'keypad blues|02 - Keypad Blues.mp3|Seeder/Music/Kivo Demo Band/02 - Keypad Blues.mp3'
)

worker_gone() { [ "$(ls "/proc/$KIVO_PID/task" | wc -l)" -le "$threads_idle" ]; }
whole() { [ "$(stat -c %s "$1" 2>/dev/null)" = "$2" ]; }

# One download; prints "<name>, <bytes> bytes, <seconds> s".
download() {
    local words name source file size started
    IFS='|' read -r words name source <<<"$1"
    source="$data/$source"
    file="$BENCH_WORK/cwd/$name"
    size=$(stat -c %s "$source")
    rm -f "$file"
    bench_keys F1 4                     # Menu, "Clear Chat": the note below is this round's
    started=${EPOCHREALTIME/./}
    e2e_download "$words" "$name"
    bench_until 60 whole "$file" "$size" || bench_fail "$name did not arrive whole"
    bench_until 30 worker_gone || bench_fail "the download worker of $name did not end"
    bench_wait " ::downloaded:: TTH verified" 10 >/dev/null
    e2e_same_file "$file" "$source"
    rm -f "$file"
    awk -v n="$name" -v b="$size" -v us=$((${EPOCHREALTIME/./} - started)) \
        'BEGIN { printf "%s, %d bytes, %.1f s", n, b, us / 1e6 }'
}

echo "kivo against the demo hub, churn every 2-6 s, chatter every 4.5-9 s, a download a minute;" \
     "idle: VmRSS $(bench_status "$KIVO_PID" VmRSS) kB, $(ls "/proc/$KIVO_PID/fd" | wc -l) fds"
printf '%6s %9s %5s %9s %8s  %s\n' minute "VmRSS kB" fds "CPU s" "CPU/min" "download (verified)"
start=$SECONDS
cpu_before=$(bench_cpu_ticks "$KIVO_PID")
for m in $(seq 1 "$minutes"); do
    what=$(download "${downloads[$(((m - 1) % ${#downloads[@]}))]}")
    left=$((start + m * 60 - SECONDS))
    [ "$left" -le 0 ] || sleep "$left"
    kill -0 "$KIVO_PID" 2>/dev/null || bench_fail "kivo ended"
    worker_gone || bench_fail "a download worker is still running at the end of minute $m"
    rss[$m]=$(bench_status "$KIVO_PID" VmRSS)
    fds[$m]=$(ls "/proc/$KIVO_PID/fd" | wc -l)
    cpu=$(bench_cpu_ticks "$KIVO_PID")
    awk -v m="$m" -v r="${rss[$m]}" -v f="${fds[$m]}" -v c="$cpu" -v p="$cpu_before" -v hz="$hz" -v w="$what" \
        'BEGIN { printf "%6d %9d %5d %9.2f %8.2f  %s\n", m, r, f, c / hz, (c - p) / hz, w }'
    cpu_before=$cpu
done
bench_screen | grep -qF "users)" || bench_fail "kivo is no longer on the main screen, connected"

growth=$((rss[minutes] - rss[base_minute]))
verdict=flat
[ "$growth" -le "$bound" ] && [ "${fds[$minutes]}" = "${fds[$base_minute]}" ] || verdict="NOT flat"
echo "VmHWM $(bench_status "$KIVO_PID" VmHWM) kB; VmRSS from minute $base_minute to $minutes:" \
     "${rss[$base_minute]} -> ${rss[$minutes]} kB ($growth kB, bound $bound kB);" \
     "fds ${fds[$base_minute]} -> ${fds[$minutes]}"
echo "verdict: $verdict"
BENCH_SHOW_ON_FAIL=0
[ "$verdict" = flat ]
