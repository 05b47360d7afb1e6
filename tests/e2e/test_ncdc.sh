#!/usr/bin/env bash
# Kivo downloads from Debian's ncdc, a client nobody here wrote that serves
# files only through $ADCGET, logged into the demo hub as an active user on
# 127.0.0.1 and sharing a folder with a file of a few MiB with a Cyrillic
# name. Kivo's search finds it with its TTH; the file arrives whole and
# verified. Then, with ncdc's upload rate held down, a second download of it
# is stopped halfway on "Downloads" and asked for again: it continues from
# the part file with "$ADCGET ... <offset> <rest>" and is verified whole.
# Prints SKIP (status 0) only when ncdc is missing and cannot be installed.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

SHARE="$E2E_WORK/pub"
NAME="Пример файла.bin"
mkdir -p "$SHARE"
head -c 3145739 /dev/urandom >"$SHARE/$NAME"   # 3 MiB and 11 bytes

e2e_start_hub
status=0
peer_start_ncdc "$SHARE" "пример файла" || status=$?
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
e2e_wait_notes "$NAME" 20 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/$NAME" "$SHARE/$NAME"
rm "$E2E_WORK/cwd/$NAME"

# Slowly enough to stop it halfway: 3 MiB at 256 KiB/s.
peer_ncdc_type "/set upload_rate 256K"
e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::downloaded::"
e2e_download "пример файла" "$NAME"
e2e_stop_download_at 500000 3145739
stopped_at=$E2E_STOPPED_AT
peer_ncdc_type "/unset upload_rate"
e2e_keys F1 4
e2e_wait_gone "::download stopped::"
e2e_download "пример файла" "$NAME"
e2e_wait " ::download:: resumed at $stopped_at of 3145739 bytes" 15
e2e_wait " ::downloaded:: TTH verified" 30
e2e_same_file "$E2E_WORK/cwd/$NAME" "$SHARE/$NAME"
files=$(cd "$E2E_WORK/cwd" && ls -A)
[ "$files" = "$NAME" ] || e2e_fail "kivo's folder holds: $files"

e2e_keys F1 1                                   # Menu, "exit"
e2e_wait_exit 0
e2e_pass "ncdc ($NCDC_UP_SECONDS s to come up): 3145739 bytes verified, stopped at $stopped_at and resumed"
