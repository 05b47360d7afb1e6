#!/usr/bin/env bash
# Where an idle Kivo's resident pages go: the real binary logged in to a
# silent demo hub, left on its main screen for a few seconds after the
# welcome line (the login's last replies and repaint settle), then its
# resident memory (VmRSS, and the peak VmHWM) and, from /proc/<pid>/smaps,
# the resident kB of each mapping (file mappings by name, the rest as
# [heap], [stack] or anonymous), largest first. Fails above the limit
# (kB of 1024 bytes; default 3072, the 3 MB target). Then the resident memory
# after 6,000 chat lines and after 100,000 more. Not part of the test suite.
#
#   bash bench/memory_kivo.sh <kivo-binary> <repo-root> [limit-kB]
. "$(dirname "$0")/lib.sh" "$@"
limit_kb=${3:-3072}

bench_start_hub
bench_favorites 127.0.0.1 "$HUB_PORT" idler
bench_start_kivo
bench_keys F1 2                 # Menu, "Connect"
bench_wait "Welcome to" 15
sleep 6

rss=$(bench_status "$KIVO_PID" VmRSS)
hwm=$(bench_status "$KIVO_PID" VmHWM)
echo "kivo connected and idle: VmRSS $rss kB, VmHWM $hwm kB (limit $limit_kb kB)"
awk '
    /^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6) ? $6 : "anonymous"; sub(/.*\//, "", name); next }
    /^Rss:/ { rss[name] += $2 }
    END { for (n in rss) if (rss[n] > 0) printf "  %6d kB  %s\n", rss[n], n }
' "/proc/$KIVO_PID/smaps" | sort -rn
[ "$rss" -le "$limit_kb" ] || bench_fail "VmRSS $rss kB is above $limit_kb kB"

# The chat history filled: 6,000 lines, then 94,000 more (each pushing the
# oldest out once 8,192 are kept). The store is fixed: the second figure
# exceeds the first by at most the rest of its 1.06 MiB.
flood() {
    bench_type "+flood $1"
    bench_keys Enter
    bench_wait "flood $(printf %05d "$1") of $1" 60
    sleep 2
}
flood 6000
echo "after 6,000 chat lines: VmRSS $(bench_status "$KIVO_PID" VmRSS) kB"
flood 50000
flood 44000
echo "after 100,000 chat lines: VmRSS $(bench_status "$KIVO_PID" VmRSS) kB, VmHWM $(bench_status "$KIVO_PID" VmHWM) kB"
