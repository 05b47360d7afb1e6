#!/usr/bin/env bash
# Kivo downloads from Debian's eiskaltdcpp-daemon, a DC++-family client
# nobody here wrote, logged into the demo hub as an active user on 127.0.0.1
# with its TLS requirement off and its uploads capped at 1 MiB/s, sharing a
# folder with a file of a few MiB with a Cyrillic name. Kivo's search finds it
# with its TTH; Kivo asks with $ADCGET and the file arrives whole and
# verified. A second download is stopped halfway on "Downloads" and asked for
# again: it continues from the part file and is verified whole. Prints SKIP
# (status 0) only when the package is missing and cannot be installed.
# eiskaltdcpp needs about 70 s to come up (see lib_peers.sh).
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

SHARE="$E2E_WORK/pub"
NAME="Пример файла.bin"
SIZE=4194319                                    # 4 MiB and 15 bytes
mkdir -p "$SHARE"
head -c $SIZE /dev/urandom >"$SHARE/$NAME"

e2e_start_hub
status=0
PEER_EISK_UPLOAD_KIBPS=1024 peer_start_eiskalt "$SHARE" "пример файла" || status=$?
if [ $status -eq "$PEER_MISSING" ]; then
    echo "SKIP: $E2E_NAME: $PEER_ERROR"
    exit 0
fi
[ $status -eq 0 ] || e2e_fail "$PEER_ERROR"

e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
e2e_start_kivo
e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

e2e_download "пример файла" "$NAME"
e2e_wait_notes "$NAME" 30 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/$NAME" "$SHARE/$NAME"
rm "$E2E_WORK/cwd/$NAME"

e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::downloaded::"
e2e_download "пример файла" "$NAME"
e2e_stop_download_at 1000000 $SIZE
stopped_at=$E2E_STOPPED_AT
e2e_keys F1 4
e2e_wait_gone "::download stopped::"
e2e_download "пример файла" "$NAME"
e2e_wait " ::download:: resumed at $stopped_at of $SIZE bytes" 15
e2e_wait " ::downloaded:: TTH verified" 30
e2e_same_file "$E2E_WORK/cwd/$NAME" "$SHARE/$NAME"
files=$(cd "$E2E_WORK/cwd" && ls -A)
[ "$files" = "$NAME" ] || e2e_fail "kivo's folder holds: $files"

e2e_keys F1 1                                   # Menu, "exit"
e2e_wait_exit 0
e2e_pass "eiskaltdcpp ($EISK_UP_SECONDS s to come up): $SIZE bytes verified, stopped at $stopped_at and resumed"
