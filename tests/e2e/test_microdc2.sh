#!/usr/bin/env bash
# Kivo downloads from a real client nobody here wrote: Debian's microdc2, a
# passive user on the demo hub that shares a folder on 127.0.0.1, with Kivo
# active (Mode Auto on 127.0.0.1). Kivo's active search names its UDP port;
# microdc2's $SR comes back (by UDP or through the hub); Kivo sends its own
# "$ConnectToMe mdc2peer 127.0.0.1:<port>" (read in the hub's log, and no
# $RevConnectToMe from Kivo), microdc2 connects to Kivo's listener; it
# offers ADCGet, so the file is fetched with $ADCGET by the TTH of its $SR
# and must arrive whole and verified. A second shared file is deleted behind
# microdc2's back before Kivo asks for it: microdc2 answers "$Error File Not
# Available", and Kivo must say so and leave no file. Prints SKIP (status 0)
# only when microdc2 is missing and cannot be installed.
#
# microdc2 runs as lib_peers.sh starts it: a scratch HOME with its start-up
# commands, its helper processes ended with it.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

SHARE="$E2E_WORK/mdc-share"
SAMPLE="interop-sample.bin"
WITHDRAWN="withdrawn-later.bin"
mkdir -p "$SHARE"
# 4 MiB and 7 bytes: several receive chunks, and a tail that is no block size.
head -c 4194311 /dev/urandom >"$SHARE/$SAMPLE"
head -c 1000 /dev/urandom >"$SHARE/$WITHDRAWN"

e2e_start_hub -vv                               # every message logged
status=0
PEER_PASSIVE=1 peer_start_microdc2 "$SHARE" "interop sample" || status=$?
peer_up_or_skip $status

e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
e2e_start_kivo
e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

e2e_download "interop sample" "$SAMPLE"
e2e_wait_notes "$SAMPLE" 20 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/$SAMPLE" "$SHARE/$SAMPLE"
e2e_pane_wait peer-mdc "getter: Upload of \`$SAMPLE' succeeded" 5
peer_was_passive "$MDC_NICK"
peer_kivo_connected_to "$MDC_NICK"

# Still in microdc2's list, gone from its disk.
rm "$SHARE/$WITHDRAWN"
e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::downloaded::"
e2e_download "withdrawn later" "$WITHDRAWN"
e2e_wait ' ::download failed:: File Not Available' 10
screen=$(e2e_screen)
grep -qF "::start download::" <<<"$screen" && e2e_fail "a refused download was started"
[ ! -e "$E2E_WORK/cwd/$WITHDRAWN" ] || e2e_fail "a refused download left a file"

e2e_exit                                   # Menu, "exit"
peer_stop_microdc2
e2e_pass "4194311 bytes from a passive microdc2 through Kivo's active search and \$ConnectToMe ($PEER_KIVO_CTM), whole; its \$Error reported"
