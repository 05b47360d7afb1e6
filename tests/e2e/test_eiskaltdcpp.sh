#!/usr/bin/env bash
# Kivo downloads from Debian's eiskaltdcpp-daemon, a DC++-family client
# nobody here wrote, logged into the demo hub as an active user on 127.0.0.1
# with its default TLS requirement (RequireTLS on: plain transfers refused)
# and its uploads capped at 1 MiB/s, sharing a folder with a file of a few
# MiB with a Cyrillic name. Kivo's search finds it with its TTH; Kivo's
# $MyINFO offers TLS, so eiskaltdcpp's $ConnectToMe port is marked S (read
# from the hub's log); Kivo asks with $ADCGET over TLS and the file arrives
# whole and verified. A second download is stopped halfway on "Downloads" and asked for
# again: it continues from the part file and is verified whole. Prints SKIP
# (status 0) only when the package is missing and cannot be installed.
# eiskaltdcpp needs about 70 s to come up (see lib_peers.sh).
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

peer_sample 4194319                             # 4 MiB and 15 bytes
e2e_start_hub -vv                               # every message logged: the S port
status=0
PEER_EISK_UPLOAD_KIBPS=1024 peer_start_eiskalt "$PEER_SHARE" "$PEER_WORDS" || status=$?
peer_up_or_skip $status
peer_kivo_connect
peer_kivo_fetch_verified 30
peer_connect_was_tls getter || e2e_fail "eiskaltdcpp's \$ConnectToMe port is not marked S"
peer_kivo_stop_and_resume 1000000
e2e_exit                                   # Menu, "exit"
e2e_pass "eiskaltdcpp ($EISK_UP_SECONDS s to come up): $PEER_SAMPLE_SIZE bytes over TLS verified, stopped at $PEER_STOPPED_AT and resumed"
