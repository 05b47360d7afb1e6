#!/usr/bin/env bash
# Downloads over TLS in the real binary against the demo hub. Kivo's $MyINFO
# offers TLS transfers (flag byte "0": bit 0x10) and, active on 127.0.0.1, it
# asks Seeder and Secure (who offer TLS too) to connect to its TLS listener,
# its $ConnectToMe's port marked S:
# - Secure's 2 MiB archive: Secure refuses every plain request ("Secure
#   connection required!"), so a whole, TTH-verified file proves the exchange
#   ran over TLS;
# - Seeder's 3 MiB track, whose $ConnectToMe in the hub's log is marked S.
# Each file must equal the demo hub's copy byte for byte. The hub logs every
# message (-vv) so that the test can read what Kivo announced and was sent.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

DATA="$E2E_WORK/data"
HUB_LOG="$E2E_WORK/hub0.log"
e2e_start_hub -vv
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
e2e_start_kivo

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15
grep -qF '$ $Modem0$' "$HUB_LOG" || e2e_fail "kivo's \$MyINFO does not offer TLS: $(grep -m1 -F 'MyINFO $ALL getter' "$HUB_LOG")"

# The port of the last $ConnectToMe Kivo sent to the user, S included.
last_connect_port() {
    grep -o "\\\$ConnectToMe $1 127\\.0\\.0\\.1:[0-9]*S\\?" "$HUB_LOG" | tail -1 | sed 's/.*://'
}

e2e_download "sealed-archive" "sealed-archive.zip"
e2e_wait_notes "sealed-archive.zip" 20 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/sealed-archive.zip" "$DATA/Secure/Secure/sealed-archive.zip"
port=$(last_connect_port Secure)
[ "${port%S}" != "$port" ] || e2e_fail "Secure's \$ConnectToMe port is not marked S: $port"

e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::downloaded::"
track="01 - Opening Theme.mp3"
e2e_download "opening theme" "$track"
e2e_wait_notes "$track" 20 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/$track" "$DATA/Seeder/Music/Kivo Demo Band/$track"
port=$(last_connect_port Seeder)
[ "${port%S}" != "$port" ] || e2e_fail "Seeder's \$ConnectToMe port is not marked S: $port"
# The hub logs each plain request that Secure refuses.
! grep -qF "Secure takes requests over TLS only" "$HUB_LOG" || e2e_fail "a request reached Secure in the clear"

e2e_exit                                   # Menu, "exit"
e2e_pass "Secure's and Seeder's files over TLS, whole and TTH-verified"
