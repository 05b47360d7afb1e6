#!/usr/bin/env bash
# A hub named on the command line, connected to at start without a key:
#  - dchub://127.0.0.1:<port> of the demo hub, which a favourite (not the
#    first) names with the registered nick Member and its password: the
#    notes "connecting to ..." and "connected to ..." come by themselves, and
#    the favourite's nick and password log in without a prompt;
#  - nmdcs://127.0.0.1:<TLS port>?kp=<keyprint>, an address no favourite
#    has: over TLS, with the first favourite's nick and no password.
# The first favourite's own hub (a port where nothing listens) is never tried.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_tls_hub

e2e_favorite_hub "Elsewhere" 127.0.0.1 1 cmdline ""
e2e_favorite_hub "Known" 127.0.0.1 "$HUB_PORT" Member letmein

E2E_KIVO_ARGS="\"dchub://127.0.0.1:$HUB_PORT\""
e2e_start_kivo
e2e_wait_text "connecting to 127.0.0.1:$HUB_PORT... connected to 127.0.0.1:$HUB_PORT" 15
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, Member!" 15
e2e_until 10 sh -c "[ \"\$($E2E_TMUX capture-pane -p -t kivo | head -1 | grep -c 'Kivo Demo Hub (')\" = 1 ]" ||
    e2e_fail "the title does not name the hub"
if e2e_text | grep -qF "127.0.0.1:1"; then e2e_fail "the first favourite's hub was tried"; fi
e2e_exit

E2E_KIVO_ARGS="\"nmdcs://127.0.0.1:$TLS_PORT?kp=$KEYPRINT\""
e2e_start_kivo
e2e_wait_text "connecting to 127.0.0.1:$TLS_PORT... connected to 127.0.0.1:$TLS_PORT" 15
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, cmdline!" 10   # the first favourite's nick
e2e_until 5 test "$(e2e_kivo_sockets established "$TLS_PORT")" = 1 || e2e_fail "no connection to the TLS port"
e2e_exit
e2e_pass "dchub:// with a favourite's nick and password, nmdcs:// with a keyprint, each connected at start"
