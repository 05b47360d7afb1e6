#!/usr/bin/env bash
# Kivo downloads from a real client nobody here wrote: Debian's microdc2, an
# active user on the demo hub that shares a folder on 127.0.0.1. Kivo's
# passive search goes through the hub to microdc2, whose $SR comes back
# through the hub; Kivo's $RevConnectToMe reaches microdc2, whose $ConnectToMe
# Kivo follows to microdc2's own listener; microdc2 offers ADCGet, so the
# file is fetched with $ADCGET by the TTH of its $SR and must arrive whole and
# verified. A second shared file is deleted behind
# microdc2's back before Kivo asks for it: microdc2 answers "$Error File Not
# Available", and Kivo must say so and leave no file. Prints SKIP (status 0)
# only when microdc2 is missing and cannot be installed.
#
# microdc2 reads its start-up commands from $HOME/.microdc2/config, so it runs
# with a scratch HOME. It forks helper processes into its own process group;
# they are ended with it ("exit", then the group by its id).
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

if ! command -v microdc2 >/dev/null 2>&1 && [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive timeout 50 apt-get install -y -q microdc2 >"$E2E_WORK/apt.log" 2>&1 || true
fi
if ! command -v microdc2 >/dev/null 2>&1; then
    echo "SKIP: $E2E_NAME: microdc2 is not installed and cannot be installed here"
    exit 0
fi

MDC_HOME="$E2E_WORK/mdc-home"
SHARE="$E2E_WORK/mdc-share"
SAMPLE="interop-sample.bin"
WITHDRAWN="withdrawn-later.bin"
mkdir -p "$MDC_HOME/.microdc2" "$SHARE" "$E2E_WORK/mdc-downloads" "$E2E_WORK/mdc-lists"
# 4 MiB and 7 bytes: several receive chunks, and a tail that is no block size.
head -c 4194311 /dev/urandom >"$SHARE/$SAMPLE"
head -c 1000 /dev/urandom >"$SHARE/$WITHDRAWN"

# microdc2 must listen on 127.0.0.1: without a port it picks one on 0.0.0.0.
MDC_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

mdc_stop() {
    local pid
    pid=$(cat "$E2E_WORK/mdc.pid" 2>/dev/null) || return 0
    $E2E_TMUX send-keys -t mdc "exit" Enter 2>/dev/null || true
    local i
    for i in $(seq 1 30); do
        pgrep -g "$pid" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    kill -- "-$pid" 2>/dev/null || true
}
# Runs before lib.sh's clean-up, which takes the test's status from $?.
mdc_on_exit() {
    local status=$?
    set +e
    mdc_stop
    if [ $status -ne 0 ]; then
        echo "---- microdc2's screen" >&2
        grep -v "^$" "$E2E_WORK/last-mdc" 2>/dev/null | tail -25 >&2
    fi
    (exit $status)
    e2e_cleanup
}
trap mdc_on_exit EXIT

e2e_start_hub
cat >"$MDC_HOME/.microdc2/config" <<EOF
set nick mdc2peer
share "$SHARE"
set downloaddir "$E2E_WORK/mdc-downloads"
set listingdir "$E2E_WORK/mdc-lists"
set listenaddr 127.0.0.1
set listenport $MDC_PORT
set active 1
connect 127.0.0.1:$HUB_PORT
EOF
# The pane's first process leads its own process group, which microdc2's
# helpers join; its id is the group's.
e2e_start_pane mdc 120 40 "echo \$\$ >'$E2E_WORK/mdc.pid'; cd '$E2E_WORK' && HOME='$MDC_HOME' exec microdc2"
e2e_pane_wait mdc "Listening on 127.0.0.1:$MDC_PORT." 10
e2e_pane_wait mdc "Welcome to Kivo Demo Hub, mdc2peer!" 15
e2e_pane_wait mdc "Sharing 4195311 bytes" 15

e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
e2e_start_kivo
e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

e2e_download "interop sample" "$SAMPLE"
e2e_wait_notes "$SAMPLE" 20 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/$SAMPLE" "$SHARE/$SAMPLE"
e2e_pane_wait mdc "getter: Upload of \`$SAMPLE' succeeded" 5

# Still in microdc2's list, gone from its disk.
rm "$SHARE/$WITHDRAWN"
e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::downloaded::"
e2e_download "withdrawn later" "$WITHDRAWN"
e2e_wait ' ::download failed:: File Not Available' 10
screen=$(e2e_screen)
grep -qF "::start download::" <<<"$screen" && e2e_fail "a refused download was started"
[ ! -e "$E2E_WORK/cwd/$WITHDRAWN" ] || e2e_fail "a refused download left a file"

e2e_keys F1 1                                   # Menu, "exit"
e2e_wait_exit 0
mdc_stop
e2e_pass "4194311 bytes from microdc2 through its search result and \$ConnectToMe, whole; its \$Error reported"
