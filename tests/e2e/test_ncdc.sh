#!/usr/bin/env bash
# Kivo downloads from Debian's ncdc, a client nobody here wrote that serves
# files only through $ADCGET, logged into the demo hub as a passive user
# (M:P) and sharing a folder with a file of a few MiB with a Cyrillic name,
# with TLS for transfers on: its tls_policy (the setting that applies to NMDC
# client connections) is "prefer", so its $MyINFO offers TLS. Kivo is active
# (Mode Auto on 127.0.0.1): its search names its UDP port, ncdc's result
# comes with its TTH, and Kivo sends its own "$ConnectToMe ncdcpeer
# 127.0.0.1:<port>S" (its TLS listener, read in the hub's log; no
# $RevConnectToMe): ncdc connects there and the file arrives over TLS, whole
# and verified. Then, with ncdc's upload rate held down, a second download of
# it is stopped halfway on "Downloads" and asked for again: it continues from
# the part file with "$ADCGET ... <offset> <rest>" and is verified whole.
# Prints SKIP (status 0) only when ncdc is missing and cannot be installed.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

peer_sample 3145739                             # 3 MiB and 11 bytes
e2e_start_hub -vv                               # every message logged: the S port
status=0
PEER_PASSIVE=1 PEER_NCDC_TLS_POLICY=prefer peer_start_ncdc "$PEER_SHARE" "$PEER_WORDS" || status=$?
peer_up_or_skip $status
peer_was_passive "$NCDC_NICK"
peer_kivo_connect
peer_kivo_fetch_verified 20
peer_kivo_connected_to "$NCDC_NICK"
[ "${PEER_KIVO_CTM%S}" != "$PEER_KIVO_CTM" ] || e2e_fail "Kivo's \$ConnectToMe to ncdc is not marked S: $PEER_KIVO_CTM"
peer_ncdc_type "/set upload_rate 256K"         # slowly enough to stop it halfway
peer_kivo_stop_and_resume 500000
e2e_exit                                   # Menu, "exit"
e2e_pass "passive ncdc ($NCDC_UP_SECONDS s to come up): $PEER_SAMPLE_SIZE bytes over TLS to Kivo's $PEER_KIVO_CTM verified, stopped at $PEER_STOPPED_AT and resumed"
