#!/usr/bin/env bash
# Shared steps of the end-to-end tests: the real kivo binary runs in a private
# tmux server against the demo hub, both on 127.0.0.1, in a scratch folder
# that is removed at the end. Every wait is bounded.
#
#   . "$(dirname "$0")/lib.sh" "$@"      # $1 kivo binary, $2 repository root
#   e2e_start_hub [demohub options]      # sets HUB_PORT (and HUB_PID)
#   e2e_favorites "Name" host port nick  # one <Hub> line per call
#   e2e_start_kivo                       # kivo in tmux, 80x24
#   e2e_wait "text" [seconds]            # until the screen shows text
#   e2e_keys F1 2 ...                    # tmux send-keys
#   e2e_type "literal text"
#   e2e_screen                           # prints the screen
#   e2e_pass "what was shown"
set -euo pipefail

KIVO_BIN=$(readlink -f "$1")
REPO_ROOT=$(readlink -f "$2")
E2E_NAME=$(basename "$0" .sh)
E2E_WORK=$(mktemp -d "/tmp/kivo-e2e-$E2E_NAME-XXXXXX")
E2E_TMUX="tmux -L kivo-$E2E_NAME-$$ -f /dev/null"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export TMPDIR="$E2E_WORK/tmp"
mkdir -p "$TMPDIR" "$E2E_WORK/bin" "$E2E_WORK/cwd"
cp "$KIVO_BIN" "$E2E_WORK/bin/kivo"
E2E_FAVORITES="$E2E_WORK/bin/Favorites.xml"
E2E_PIDS=()

e2e_cleanup() {
    local status=$?
    $E2E_TMUX kill-server 2>/dev/null || true
    local pid
    for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${E2E_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ $status -ne 0 ]; then
        echo "---- last screen" >&2
        cat "$E2E_WORK/last-screen" 2>/dev/null >&2 || true
        echo "---- demo hub log" >&2
        tail -20 "$E2E_WORK"/hub*.log 2>/dev/null >&2 || true
    fi
    rm -rf "$E2E_WORK"
    exit $status
}
trap e2e_cleanup EXIT

e2e_fail() {
    echo "FAIL: $E2E_NAME: $*" >&2
    exit 1
}

# Starts a demo hub on a free port; extra options are passed on.
e2e_start_hub() {
    local n=${#E2E_PIDS[@]}
    local port_file="$E2E_WORK/hub$n.port"
    python3 "$REPO_ROOT/tools/demohub.py" --port 0 --port-file "$port_file" --quiet \
        --churn-seconds 0 --big-mib 0 --data-dir "$E2E_WORK/data" "$@" >"$E2E_WORK/hub$n.log" 2>&1 &
    E2E_PIDS+=($!)
    HUB_PID=$!
    local i
    for i in $(seq 1 300); do
        [ -s "$port_file" ] && break
        sleep 0.1
    done
    [ -s "$port_file" ] || e2e_fail "demo hub did not start"
    HUB_PORT=$(cat "$port_file")
}

e2e_favorites() {
    if [ ! -s "$E2E_FAVORITES" ]; then
        echo '<?xml version="1.0" encoding="windows-1251"?>' >"$E2E_FAVORITES"
        echo '<Favorites><Hubs>' >>"$E2E_FAVORITES"
    fi
    echo "<Hub Name=\"$1\" Connect=\"0\" Description=\"\" Nick=\"$4\" Password=\"\" Server=\"$2:$3\" UserDescription=\"\"/>" \
        >>"$E2E_FAVORITES"
}

e2e_start_kivo() {
    local cols=${1:-80} rows=${2:-24}
    $E2E_TMUX new-session -d -x "$cols" -y "$rows" -s kivo \
        "cd '$E2E_WORK/cwd' && '$E2E_WORK/bin/kivo'; echo \$? >'$E2E_WORK/exit-status'; sleep 30"
}

e2e_screen() {
    $E2E_TMUX capture-pane -p -t kivo 2>/dev/null | tee "$E2E_WORK/last-screen"
}

e2e_wait() {
    local text=$1 seconds=${2:-10} i
    for i in $(seq 1 $((seconds * 10))); do
        if e2e_screen | grep -qF -- "$text"; then return 0; fi
        sleep 0.1
    done
    e2e_fail "screen never showed: $text"
}

e2e_wait_gone() {
    local text=$1 seconds=${2:-10} i
    for i in $(seq 1 $((seconds * 10))); do
        if ! e2e_screen | grep -qF -- "$text"; then return 0; fi
        sleep 0.1
    done
    e2e_fail "screen still shows: $text"
}

e2e_keys() { $E2E_TMUX send-keys -t kivo "$@"; sleep 0.2; }
e2e_type() { $E2E_TMUX send-keys -t kivo -l -- "$1"; sleep 0.2; }

# Waits for kivo to end and checks its exit status.
e2e_wait_exit() {
    local expected=${1:-0} i
    for i in $(seq 1 100); do
        [ -s "$E2E_WORK/exit-status" ] && break
        sleep 0.1
    done
    [ -s "$E2E_WORK/exit-status" ] || e2e_fail "kivo did not end"
    [ "$(cat "$E2E_WORK/exit-status")" = "$expected" ] || e2e_fail "kivo exit status $(cat "$E2E_WORK/exit-status")"
}

e2e_pass() { echo "PASS: $E2E_NAME: $*"; }
