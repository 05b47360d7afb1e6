#!/usr/bin/env bash
# Kivo active downloads from Debian's eiskaltdcpp-daemon, passive
# (IncomingConnections 3) and with its default TLS requirement, behind a demo
# hub that clears the TLS bit of every relayed $MyINFO (--clear-tls-flag, as
# PtokaX does): neither side sees that the other does TLS. Kivo's search
# names its UDP port and eiskaltdcpp's result comes with its TTH; Kivo's
# first, plain "$ConnectToMe eiskpeer 127.0.0.1:<port>" is refused
# ("Secure connection required!"), after which Kivo's own $ConnectToMe
# names its TLS listener ("...:<tls port>S", read in the hub's log; Kivo
# sends no $RevConnectToMe), eiskaltdcpp connects there and the file arrives
# over TLS, whole and TTH-verified. Prints SKIP (status 0) only when
# eiskaltdcpp is missing and cannot be installed.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

peer_sample 2097169                             # 2 MiB and 17 bytes
e2e_start_hub -vv --clear-tls-flag              # every message logged: the ports
status=0
PEER_PASSIVE=1 peer_start_eiskalt "$PEER_SHARE" "$PEER_WORDS" || status=$?
peer_up_or_skip $status
peer_was_passive "$EISK_NICK"
HUB_LOG="$E2E_WORK/hub0.log"
peer_kivo_connect
peer_kivo_fetch_verified 30
peer_kivo_connected_to "$EISK_NICK"
[ "${PEER_KIVO_CTM%S}" != "$PEER_KIVO_CTM" ] || e2e_fail "Kivo's last \$ConnectToMe to eiskaltdcpp is not marked S: $PEER_KIVO_CTM"
# Kivo's tries in order: the first plain (the hub hid the TLS bit), the last
# to its TLS listener.
tries=$(grep -o "<- getter b'\\\$ConnectToMe $EISK_NICK [0-9.:]*S\\?|" "$HUB_LOG" | sed -e 's/.* //' -e 's/|$//' | tr '\n' ' ')
first=${tries%% *}
[ "${first%S}" = "$first" ] || e2e_fail "Kivo's first \$ConnectToMe to eiskaltdcpp was marked S although the hub hid the bit: $tries"
e2e_exit                                   # Menu, "exit"
e2e_pass "passive eiskaltdcpp ($EISK_UP_SECONDS s to come up) behind a hub that hides TLS: Kivo's \$ConnectToMe tries $tries; $PEER_SAMPLE_SIZE bytes over TLS verified"
