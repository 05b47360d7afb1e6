#!/usr/bin/env bash
# Shared steps of the end-to-end tests: the real kivo binary runs in a private
# tmux server against the demo hub, both on 127.0.0.1, in a scratch folder
# that is removed at the end. Every wait is bounded. Favorites.xml (once a
# test writes one) and settings.xml lie beside the copied binary; without
# one, in $E2E_WORK/config/kivo. Downloads land in $E2E_WORK/cwd.
#
#   . "$(dirname "$0")/lib.sh" "$@"      # $1 kivo binary, $2 repository root
#   e2e_start_hub [demohub options]      # sets HUB_PORT (and HUB_PID)
#   e2e_start_tls_hub [options]          # the same with its nmdcs:// port: TLS_PORT, KEYPRINT
#   e2e_favorites "Name" host port nick  # one <Hub> line per call
#   e2e_favorite_hub "Name" host port nick password [encoding]  # the same with both
#   e2e_settings 'Mode="passive"' ...    # settings.xml with these attributes
#   e2e_start_kivo [cols rows]           # kivo in tmux, 80x24 unless given (again: anew);
#                                        # E2E_KIVO_ARGS: its arguments, each in double quotes
#   e2e_wait "text" [seconds]            # until the screen shows text
#   e2e_wait_gone "text" [seconds]       # until it no longer does
#   e2e_wait_text "text" [seconds]       # the same on e2e_text (wrapped lines joined)
#   e2e_until seconds command...         # until the command succeeds
#   e2e_wait_frame cols rows [seconds]   # until the screen is one whole frame of that size
#   e2e_wait_main [seconds]              # until the main screen is on top (by its title)
#   e2e_title                            # the title in the screen's top border
#   e2e_keys F1 2 ...                    # tmux send-keys
#   e2e_type "literal text"
#   e2e_screen                           # prints the screen, the chat's times left out
#   e2e_screen_stamped                   # prints the screen as shown
#   e2e_text                             # the screen inside its frame, rows joined by blanks
#   e2e_kivo_sockets state port          # kivo's TCP sockets in that ss state to 127.0.0.1:port
#   e2e_wait_exit [status]               # kivo ended with that status (0)
#   e2e_exit                             # Menu, "exit"; OK (F1) when Kivo asks; ended with 0
#   e2e_terminal_given_back              # after the end: no alternate screen, tty modes as before
#   e2e_pass "what was shown"            # with the seconds the test took
#
# kivo runs as "sh -c 'exec kivo'" so that its process id is known and the
# clean-up can end it even when a test fails halfway.
set -euo pipefail

KIVO_BIN=$(readlink -f "$1")
REPO_ROOT=$(readlink -f "$2")
E2E_NAME=$(basename "$0" .sh)
E2E_WORK=$(mktemp -d "/tmp/kivo-e2e-$E2E_NAME-XXXXXX")
E2E_TMUX="tmux -L kivo-$E2E_NAME-$$ -f /dev/null"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# The running-copy lock and socket: in the private TMPDIR (XDG_RUNTIME_DIR
# would come first and be shared with every other test).
export TMPDIR="$E2E_WORK/tmp"
unset XDG_RUNTIME_DIR
# Kivo's settings folder, its data folder (queue.xml, the parts in kivo/parts/)
# and its download folder where the tests look for downloaded files: all in
# the scratch folder, never the person's own.
export XDG_CONFIG_HOME="$E2E_WORK/config"
export XDG_DATA_HOME="$E2E_WORK/data"
export XDG_CACHE_HOME="$E2E_WORK/cache"
export XDG_DOWNLOAD_DIR="$E2E_WORK/cwd"
unset KIVO_DEMO_TLS_HUB
mkdir -p "$TMPDIR" "$E2E_WORK/bin" "$E2E_WORK/cwd"
cp "$KIVO_BIN" "$E2E_WORK/bin/kivo"
E2E_FAVORITES="$E2E_WORK/bin/Favorites.xml"
E2E_PIDS=()
E2E_KIVO_PID_FILES=()
E2E_KIVO_ARGS=""

e2e_cleanup() {
    local status=$?
    # Whatever happens to the output (a reader that went away), clean up all.
    trap '' PIPE
    set +e
    $E2E_TMUX kill-server 2>/dev/null || true
    local pid file
    for file in "${E2E_KIVO_PID_FILES[@]}"; do
        pid=$(cat "$file" 2>/dev/null) || continue
        kill "$pid" 2>/dev/null || continue
        e2e_until 2 e2e_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
    done
    for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${E2E_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ $status -ne 0 ]; then
        echo "---- last screen" >&2
        cat "$E2E_WORK/last-screen" >&2 2>/dev/null || true
        echo "---- demo hub log" >&2
        tail -20 "$E2E_WORK"/hub*.log >&2 2>/dev/null || true
    fi
    rm -rf "$E2E_WORK"
    exit $status
}
trap e2e_cleanup EXIT

e2e_gone() { ! kill -0 "$1" 2>/dev/null; }

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
    e2e_until 30 test -s "$port_file" || e2e_fail "demo hub did not start"
    HUB_PORT=$(cat "$port_file")
}

# The same with its TLS port for nmdcs:// as well; sets TLS_PORT and KEYPRINT
# (the hub certificate's SHA256/<base32>).
e2e_start_tls_hub() {
    e2e_start_hub --tls-port 0 --tls-port-file "$E2E_WORK/tls.port" --keyprint-file "$E2E_WORK/hub.kp" "$@"
    e2e_until 30 test -s "$E2E_WORK/tls.port" || e2e_fail "the demo hub's TLS port never came"
    e2e_until 10 test -s "$E2E_WORK/hub.kp" || e2e_fail "the demo hub's keyprint never came"
    TLS_PORT=$(cat "$E2E_WORK/tls.port")
    KEYPRINT=$(cat "$E2E_WORK/hub.kp")
}

# The file's head, once.
e2e_favorites_begin() {
    if [ ! -s "$E2E_FAVORITES" ]; then
        echo '<?xml version="1.0" encoding="windows-1251"?>' >"$E2E_FAVORITES"
        echo '<Favorites><Hubs>' >>"$E2E_FAVORITES"
    fi
}

e2e_favorites() {
    e2e_favorites_begin
    echo "<Hub Name=\"$1\" Connect=\"0\" Description=\"\" Nick=\"$4\" Password=\"\" Server=\"$2:$3\" UserDescription=\"\"/>" \
        >>"$E2E_FAVORITES"
}

# settings.xml with the given attributes (the others keep their defaults),
# where Kivo reads it: beside Favorites.xml once a test wrote one, else in
# the config folder.
#   e2e_settings 'Mode="passive"' ...
e2e_settings() {
    local file="$XDG_CONFIG_HOME/kivo/settings.xml"
    [ -e "$E2E_FAVORITES" ] && file="$E2E_WORK/bin/settings.xml"
    mkdir -p "$(dirname "$file")"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<KivoSettings %s/>\n' "$*" >"$file"
}

# The same line with a password and, when given, an Encoding attribute after
# the others, where DC++-family clients write it:
#   e2e_favorite_hub "Name" host port nick password [encoding]
# The file is written as given (UTF-8 text stays UTF-8): a test that needs
# code page 1251 converts it, as test_settings.sh does.
e2e_favorite_hub() {
    local encoding=""
    [ -z "${6:-}" ] || encoding=" Encoding=\"$6\""
    e2e_favorites_begin
    echo "<Hub Name=\"$1\" Connect=\"0\" Description=\"\" Nick=\"$4\" Password=\"$5\" Server=\"$2:$3\" UserDescription=\"\"$encoding/>" \
        >>"$E2E_FAVORITES"
}

# Sets E2E_KIVO_COMMAND, the command a tmux pane runs: kivo in the scratch
# folder, then its exit status on the pane and in <tag>-exit-status, the tty
# modes before and after in <tag>-stty-before / -after. The pane stays open a
# while to be read. The clean-up ends kivo by the id in <tag>.pid.
e2e_kivo_command() {
    local tag=$1 w=$E2E_WORK
    E2E_KIVO_PID_FILES+=("$w/$tag.pid")
    E2E_KIVO_COMMAND="cd '$w/cwd' && stty -g >'$w/$tag-stty-before';"
    E2E_KIVO_COMMAND+=" sh -c 'echo \$\$ >\"$w/$tag.pid\"; exec \"$w/bin/kivo\" $E2E_KIVO_ARGS'; s=\$?;"
    E2E_KIVO_COMMAND+=" stty -g >'$w/$tag-stty-after'; echo \"kivo ended \$s\"; echo \$s >'$w/$tag-exit-status'; sleep 60"
}

# Starts kivo in the tmux session "kivo", replacing one that has ended.
e2e_start_kivo() {
    local cols=${1:-80} rows=${2:-24}
    $E2E_TMUX kill-session -t kivo 2>/dev/null || true
    rm -f "$E2E_WORK/kivo-exit-status" "$E2E_WORK/kivo-stty-before" "$E2E_WORK/kivo-stty-after"
    e2e_kivo_command kivo
    $E2E_TMUX new-session -d -x "$cols" -y "$rows" -s kivo "$E2E_KIVO_COMMAND"
}

# The screen as shown, with the time before each chat line ("[HH:MM] ").
e2e_screen_stamped() {
    $E2E_TMUX capture-pane -p -t kivo 2>/dev/null | tee "$E2E_WORK/last-screen"
}

# The screen with the chat's times left out: the tests compare chat and
# notes as they were said, whatever the minute (test_chat_history.sh reads
# the times).
e2e_screen() {
    e2e_screen_stamped | sed -E 's/\[[0-2][0-9]:[0-5][0-9]\] //g'
}

# The screen inside its frame, each row's border column cut off and trailing
# blanks dropped, the rows joined by one blank: a text that the chat view
# wrapped at a blank reads as it was sent.
e2e_text() {
    e2e_screen | sed -e '1d' -e 's/^.//' -e 's/.$//' -e 's/ *$//' | tr '\n' ' ' | tr -s ' '
}

# Runs the command until it succeeds, at most the given seconds (by the
# clock, however long each try takes); fails when time runs out.
e2e_until() {
    local seconds=$1
    shift
    local end=$((${EPOCHREALTIME/./} + seconds * 1000000))
    while :; do
        "$@" && return 0
        [ "${EPOCHREALTIME/./}" -lt "$end" ] || return 1
        sleep 0.1
    done
}

e2e_shows() { local screen; screen=$(e2e_screen); grep -qF -- "$1" <<<"$screen"; }
e2e_shows_not() { ! e2e_shows "$1"; }
e2e_shows_text() { local screen; screen=$(e2e_text); grep -qF -- "$1" <<<"$screen"; }

# The number of kivo's TCP sockets toward 127.0.0.1:port in an ss state:
# established, syn-sent, connected (any but closed) ... A socket kivo has
# closed has no owner any more and is not counted.
e2e_kivo_sockets() {
    local pid
    pid=$(cat "$E2E_WORK/kivo.pid" 2>/dev/null) || { echo 0; return; }
    ss -Htnp state "$1" "( dst 127.0.0.1:$2 )" 2>/dev/null | grep -c "pid=$pid," || true
}

# The whole screen is one frame of cols x rows: a top border (with or without
# a title), rows between "|" and "|", the bottom border; no piece of an earlier
# drawing at another size is left over.
e2e_frame_whole() {
    local screen
    screen=$($E2E_TMUX capture-pane -p -t kivo 2>/dev/null)
    python3 - "$1" "$2" "$screen" <<'PY'
import re, sys
cols, rows, screen = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3].split("\n")
ok = len(screen) == rows and all(len(line) == cols for line in screen)
ok = ok and re.fullmatch(r"\+(-+|( .+ )-+)\+", screen[0]) is not None
ok = ok and re.fullmatch(r"\+-+\+", screen[-1]) is not None
ok = ok and all(line[0] == "|" and line[-1] == "|" for line in screen[1:-1])
sys.exit(0 if ok else 1)
PY
}

e2e_wait_frame() {
    e2e_until "${3:-5}" e2e_frame_whole "$1" "$2" || { e2e_screen >/dev/null; e2e_fail "the screen is not one whole $1x$2 frame"; }
}

e2e_wait() { e2e_until "${2:-10}" e2e_shows "$1" || e2e_fail "screen never showed: $1"; }
e2e_wait_gone() { e2e_until "${2:-10}" e2e_shows_not "$1" || e2e_fail "screen still shows: $1"; }
e2e_wait_text() { e2e_until "${2:-10}" e2e_shows_text "$1" || e2e_fail "screen never showed (rows joined): $1"; }

# The title in the top border ("+ title ----+"), or nothing without one.
e2e_title() {
    e2e_screen | head -1 | sed -n -e 's/^+ \(.*\) -*+$/\1/p'
}

# The main screen's title says the session: "not connected", or the hub's
# name (its address until the name came) and "(N users)", then " TLS" over
# TLS, " N downloads" while transfers run or wait for their peer; " [PM:
# nick...]" after it while a private message waits unread.
e2e_main_shown() {
    e2e_title | grep -qE '^(not connected|.* \([0-9]+ users?\)( TLS)?( [0-9]+ downloads?)?)( \[PM: .*\])?$'
}
e2e_wait_main() { e2e_until "${1:-10}" e2e_main_shown || e2e_fail "the main screen is not on top"; }

e2e_keys() { $E2E_TMUX send-keys -t kivo "$@"; sleep 0.2; }
e2e_type() { $E2E_TMUX send-keys -t kivo -l -- "$1"; sleep 0.2; }

# Waits for kivo to end and checks its exit status.
e2e_wait_exit() {
    local expected=${1:-0} file="$E2E_WORK/kivo-exit-status"
    e2e_until 10 test -s "$file" || e2e_fail "kivo did not end"
    [ "$(cat "$file")" = "$expected" ] || e2e_fail "kivo exit status $(cat "$file")"
}

# Menu, "exit": online or during a download Kivo asks first, and only the
# question's OK soft key (F1) exits; kivo then ends with 0.
e2e_exit_asked_or_ended() { test -s "$E2E_WORK/kivo-exit-status" || e2e_shows "exit anyway?"; }
e2e_exit() {
    e2e_keys F1 1
    e2e_until 10 e2e_exit_asked_or_ended || e2e_fail "exit neither asked nor ended kivo"
    test -s "$E2E_WORK/kivo-exit-status" || e2e_keys F1
    e2e_wait_exit 0
}

# After kivo ended: the pane has left the alternate screen, shows the shell's
# line after kivo and no soft keys, and the tty modes are those from before.
e2e_terminal_given_back() {
    [ "$($E2E_TMUX display -p -t kivo '#{alternate_on}')" = 0 ] || e2e_fail "still on the alternate screen"
    e2e_wait "kivo ended" 3
    local screen
    screen=$(e2e_screen)
    grep -qE '^\| Menu .* (Search|EXIT|CANCEL) \|$' <<<"$screen" && e2e_fail "soft keys still shown after the end"
    cmp -s "$E2E_WORK/kivo-stty-before" "$E2E_WORK/kivo-stty-after" ||
        e2e_fail "tty modes not restored: $(cat "$E2E_WORK/kivo-stty-before") -> $(cat "$E2E_WORK/kivo-stty-after")"
}

e2e_pass() { echo "PASS: $E2E_NAME: $* (${SECONDS}s)"; }
