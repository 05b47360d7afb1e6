#!/usr/bin/env bash
# Kivo downloads from Debian's ncdc, a client nobody here wrote that serves
# files only through $ADCGET, logged into the demo hub as an active user on
# 127.0.0.1 and sharing a folder with a file of a few MiB with a Cyrillic
# name, with TLS for transfers on: its tls_policy (the setting that applies
# to NMDC client connections) is "prefer", so for Kivo, whose $MyINFO offers
# TLS, its $ConnectToMe port is marked S (read from the hub's log). Kivo's
# search finds the file with its TTH; it arrives over TLS, whole and
# verified. Then, with ncdc's upload rate held down, a second download of it
# is stopped halfway on "Downloads" and asked for again: it continues from
# the part file with "$ADCGET ... <offset> <rest>" and is verified whole.
# Prints SKIP (status 0) only when ncdc is missing and cannot be installed.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

peer_sample 3145739                             # 3 MiB and 11 bytes
e2e_start_hub -vv                               # every message logged: the S port
status=0
PEER_NCDC_TLS_POLICY=prefer peer_start_ncdc "$PEER_SHARE" "$PEER_WORDS" || status=$?
peer_up_or_skip $status
peer_kivo_connect
peer_kivo_fetch_verified 20
peer_connect_was_tls getter || e2e_fail "ncdc's \$ConnectToMe port is not marked S"
peer_ncdc_type "/set upload_rate 256K"         # slowly enough to stop it halfway
peer_kivo_stop_and_resume 500000
e2e_exit                                   # Menu, "exit"
e2e_pass "ncdc ($NCDC_UP_SECONDS s to come up): $PEER_SAMPLE_SIZE bytes over TLS verified, stopped at $PEER_STOPPED_AT and resumed"
