#!/usr/bin/env bash
# Shared steps of the whole-process measurements: the real kivo binary, copied
# into a scratch folder with its own Favorites.xml, runs in a private tmux
# server against the demo hub, both on 127.0.0.1. The scratch folder, the tmux
# server and the hub are removed or stopped at the end. Every wait is bounded.
#
#   . "$(dirname "$0")/lib.sh" <kivo-binary> <repo-root>
#   bench_start_hub [demohub options]     # sets HUB_PORT
#   bench_favorites host port nick        # the favourite hub, then the same with TLS="0"
#   bench_start_kivo                      # kivo in tmux, 80x24, first screen up; sets KIVO_PID
#   bench_wait "text" [seconds]           # until the screen shows text
#   bench_keys F1 2 ... / bench_type "text"
#   bench_cpu_ticks PID, bench_cpu_ns PID, bench_switches PID, bench_status PID Field
#   bench_until seconds command...        # until the command succeeds
#   bench_tree_pids PID                   # PID and all its descendants, one a line
#   bench_tree_kb PID [Field]             # VmRSS (or Field) summed over that tree
#   bench_tree_pss_kb PID                 # Pss summed over that tree (smaps_rollup)
#   bench_use_peers                       # tests/e2e/lib_peers.sh on this folder and tmux
#   bench_use_transfer                    # tests/e2e/lib_transfer.sh's steps on this kivo
set -euo pipefail
shopt -s inherit_errexit

KIVO_BIN=$(readlink -f "$1")
REPO_ROOT=$(readlink -f "$2")
BENCH_NAME=$(basename "$0" .sh)
BENCH_WORK=$(mktemp -d "/tmp/kivo-bench-$BENCH_NAME-XXXXXX")
BENCH_TMUX="tmux -L kivo-bench-$BENCH_NAME-$$ -f /dev/null"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# The running-copy lock and socket live in TMPDIR when XDG_RUNTIME_DIR is
# unset: a private one keeps this copy apart from any other kivo on the machine.
export TMPDIR="$BENCH_WORK/tmp"
unset XDG_RUNTIME_DIR
# Kivo's settings, its queue (queue.xml and the part files) and its download
# folder: all in the scratch folder, never the person's own.
export XDG_CONFIG_HOME="$BENCH_WORK/config"
export XDG_DATA_HOME="$BENCH_WORK/kivo-data"
export XDG_CACHE_HOME="$BENCH_WORK/kivo-cache"
export XDG_DOWNLOAD_DIR="$BENCH_WORK/cwd"
mkdir -p "$TMPDIR" "$BENCH_WORK/bin" "$BENCH_WORK/cwd"
cp "$KIVO_BIN" "$BENCH_WORK/bin/kivo"
BENCH_FAVORITES="$BENCH_WORK/bin/Favorites.xml"
BENCH_HUB_PID=""
KIVO_PID=""

bench_cleanup() {
    local status=$?
    $BENCH_TMUX kill-server 2>/dev/null || true
    if [ -n "$BENCH_HUB_PID" ]; then
        kill "$BENCH_HUB_PID" 2>/dev/null || true
        wait "$BENCH_HUB_PID" 2>/dev/null || true
    fi
    # A missed target is no broken run: BENCH_SHOW_ON_FAIL=0 skips the screen and the log.
    if [ $status -ne 0 ] && [ "${BENCH_SHOW_ON_FAIL:-1}" != 0 ]; then
        echo "---- last screen" >&2
        cat "$BENCH_WORK/last-screen" >&2 2>/dev/null || true
        echo "---- demo hub log" >&2
        tail -20 "$BENCH_WORK/hub.log" >&2 2>/dev/null || true
    fi
    rm -rf "$BENCH_WORK"
    exit $status
}
trap bench_cleanup EXIT

bench_fail() {
    echo "FAIL: $BENCH_NAME: $*" >&2
    exit 1
}

# Starts the demo hub on a free port, without churn or chatter; extra options
# are passed on (later ones win). Waits up to BENCH_HUB_WAIT seconds (default
# 30) for it to listen: generating big files takes a while the first time.
bench_start_hub() {
    local port_file="$BENCH_WORK/hub.port" i
    python3 "$REPO_ROOT/tools/demohub.py" --port 0 --port-file "$port_file" --quiet \
        --churn-seconds 0 --chatter-seconds 0 --big-mib 0 --data-dir "$BENCH_WORK/data" "$@" \
        >"$BENCH_WORK/hub.log" 2>&1 &
    BENCH_HUB_PID=$!
    for i in $(seq 1 $((${BENCH_HUB_WAIT:-30} * 10))); do
        [ -s "$port_file" ] && break
        kill -0 "$BENCH_HUB_PID" 2>/dev/null || bench_fail "demo hub ended"
        sleep 0.1
    done
    [ -s "$port_file" ] || bench_fail "demo hub did not start"
    HUB_PORT=$(cat "$port_file")
}

bench_favorites() {
    {
        echo '<?xml version="1.0" encoding="windows-1251"?>'
        echo '<Favorites><Hubs>'
        echo "<Hub Name=\"Bench\" Connect=\"0\" Description=\"\" Nick=\"$3\" Password=\"\" Server=\"$1:$2\" UserDescription=\"\"/>"
        # The same hub with TLS switched off for transfers (chosen in Option).
        echo "<Hub Name=\"Bench plain\" Connect=\"0\" Description=\"\" Nick=\"$3\" Password=\"\" Server=\"$1:$2\" TLS=\"0\" UserDescription=\"\"/>"
        echo '</Hubs></Favorites>'
    } >"$BENCH_FAVORITES"
}

# kivo itself is the pane's process (exec), so the pane's pid is kivo's.
# Returns once the first screen shows the banner.
bench_start_kivo() {
    $BENCH_TMUX new-session -d -x 80 -y 24 -s kivo "cd '$BENCH_WORK/cwd' && exec '$BENCH_WORK/bin/kivo'"
    KIVO_PID=$($BENCH_TMUX list-panes -t kivo -F '#{pane_pid}')
    bench_wait "Pelmark tarvol"
    [ "$(cat "/proc/$KIVO_PID/comm" 2>/dev/null)" = kivo ] || bench_fail "the pane's process is not kivo"
}

bench_screen() {
    $BENCH_TMUX capture-pane -p -t kivo 2>/dev/null | tee "$BENCH_WORK/last-screen"
}

bench_wait() {
    local text=$1 seconds=${2:-10} i
    for i in $(seq 1 $((seconds * 10))); do
        if bench_screen | grep -qF -- "$text"; then return 0; fi
        sleep 0.1
    done
    bench_fail "screen never showed: $text"
}

bench_keys() { $BENCH_TMUX send-keys -t kivo "$@"; sleep 0.2; }
bench_type() { $BENCH_TMUX send-keys -t kivo -l -- "$1"; sleep 0.2; }

# User + system time of the whole process (all threads) in clock ticks:
# fields 14 and 15 of /proc/<pid>/stat, counted after the parenthesised name.
bench_cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }

# Time on the CPU of all the process's threads in nanoseconds (schedstat).
bench_cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ n += $1 } END { print n }'; }

# Voluntary and involuntary context switches of all threads: each wake-up of
# a sleeping thread adds one.
bench_switches() {
    cat /proc/"$1"/task/*/status | awk '/^(non)?voluntary_ctxt_switches:/ { n += $2 } END { print n }'
}

# One field of /proc/<pid>/status, its number only (e.g. VmHWM in kB).
bench_status() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status"; }

# Runs the command until it succeeds, at most the given seconds by the clock.
bench_until() {
    local seconds=$1
    shift
    local end=$((${EPOCHREALTIME/./} + seconds * 1000000))
    while :; do
        "$@" && return 0
        [ "${EPOCHREALTIME/./}" -lt "$end" ] || return 1
        sleep 0.1
    done
}

# The process and every process below it (children, their children ...),
# from one look at the process table.
bench_tree_pids() {
    ps -e -o pid=,ppid= | awk -v root="$1" '
        { kids[$2] = kids[$2] " " $1 }
        END {
            queue[1] = root; n = 1
            for (i = 1; i <= n; i++) {
                print queue[i]
                c = split(kids[queue[i]], list, " ")
                for (j = 1; j <= c; j++) queue[++n] = list[j]
            }
        }'
}

# A field of /proc/<pid>/status (VmRSS by default, in kB) summed over the
# tree; a process that ended meanwhile counts 0. Shared pages (the program's
# code, libraries, a forked helper's copy-on-write pages) count once in each
# process that maps them.
bench_tree_kb() {
    local pid n=0 kb
    for pid in $(bench_tree_pids "$1"); do
        kb=$(bench_status "$pid" "${2:-VmRSS}" 2>/dev/null) || kb=0
        n=$((n + ${kb:-0}))
    done
    echo "$n"
}

# Proportional set size summed over the tree: each shared page split among
# the processes that map it, so a tree of forked helpers is not counted twice.
bench_tree_pss_kb() {
    local pid n=0 kb
    for pid in $(bench_tree_pids "$1"); do
        kb=$(awk '$1 == "Pss:" { print $2 }' "/proc/$pid/smaps_rollup" 2>/dev/null) || kb=0
        n=$((n + ${kb:-0}))
    done
    echo "$n"
}

# The e2e tests' download steps (tests/e2e/lib_transfer.sh: e2e_download,
# e2e_rows, e2e_same_file ...) on this kivo: they look and type through the
# names of tests/e2e/lib.sh, given here as this script's.
bench_use_transfer() {
    e2e_screen() { bench_screen; }
    e2e_keys() { bench_keys "$@"; }
    e2e_type() { bench_type "$@"; }
    e2e_fail() { bench_fail "$@"; }
    e2e_wait() { bench_wait "$@"; }
    e2e_wait_gone() {
        local text=$1 seconds=${2:-10} i
        for i in $(seq 1 $((seconds * 10))); do
            bench_screen | grep -qF -- "$text" || return 0
            sleep 0.1
        done
        bench_fail "screen still shows: $text"
    }
    . "$REPO_ROOT/tests/e2e/lib_transfer.sh"
}

# The e2e tests' helpers that start real clients as peers on the demo hub
# (tests/e2e/lib_peers.sh) want the names of tests/e2e/lib.sh: its scratch
# folder, tmux server, wait and clean-up. They are given this script's.
# lib_peers.sh's exit trap stops the peers, then runs bench_cleanup.
bench_use_peers() {
    E2E_WORK=$BENCH_WORK
    E2E_TMUX=$BENCH_TMUX
    E2E_PIDS=()
    e2e_until() { bench_until "$@"; }
    e2e_gone() { ! kill -0 "$1" 2>/dev/null; }
    e2e_cleanup() {
        local status=$? pid
        for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
        (exit $status)
        bench_cleanup
    }
    . "$REPO_ROOT/tests/e2e/lib_peers.sh"
}
