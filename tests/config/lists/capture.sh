#!/usr/bin/env bash
# Captures the file lists that Debian's ncdc, eiskaltdcpp-daemon and
# microdc2 serve, each sharing the same small folder through the demo hub,
# into this folder as <client>.xml.bz2 (the seeds of test_file_list and of
# fuzz_file_list). The folder holds nested folders, a Cyrillic name, names
# with XML's special characters, two names that differ only in case, an
# empty folder, and names that are no UTF-8 or hold a control byte (what a
# client writes for those, or whether it leaves them out, is its own).
#   bash tests/config/lists/capture.sh [clients...]   # ncdc microdc2 eiskaltdcpp (default all)
# Not run by the tests: the lists it wrote are kept in the repository.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(readlink -f "$here/../../..")
clients=${*:-ncdc microdc2 eiskaltdcpp}
. "$root/tests/e2e/lib.sh" /bin/true "$root"
. "$root/tests/e2e/lib_peers.sh"

share="$E2E_WORK/pub"
mkdir -p "$share/docs/deeper/level3" "$share/empty" "$share/Музыка"
head -c 2000 /dev/urandom >"$share/$PEER_NAME"
printf 'readme\n' >"$share/docs/readme.txt"
printf 'README\n' >"$share/docs/README.TXT"
printf 'notes\n' >"$share/docs/Notes & \"quotes\" <x> 'y'.txt"
printf 'deep\n' >"$share/docs/deeper/level3/a.txt"
head -c 70000 /dev/urandom >"$share/Музыка/песня.mp3"
printf 'latin1\n' >"$share/docs/$(printf 'caf\xe9.txt')"
printf 'ctrl\n' >"$share/docs/$(printf 'bell\x07.txt')"

e2e_start_hub
fetch() {
    local nick=$1 out=$2
    python3 "$PEER_PROBE" --hub "127.0.0.1:$HUB_PORT" --timeout 30 get --peer "$nick" \
        --get files.xml.bz2 0 -1 --out "$E2E_WORK/$out" >"$E2E_WORK/$out.log" 2>&1 || true
    if bzip2 -t "$E2E_WORK/$out" 2>/dev/null; then
        cp "$E2E_WORK/$out" "$here/$out"
        echo "captured $out ($(stat -c %s "$here/$out") bytes)"
    else
        echo "no list from $nick:"; cat "$E2E_WORK/$out.log"
    fi
}
# A client makes its list some seconds after it has hashed the files (ncdc
# lists only files it has hashed): the list is asked for after a pause.
for client in $clients; do
    status=0
    case $client in
    ncdc)
        peer_start_ncdc "$share" "$PEER_WORDS" || status=$?
        sleep 70
        [ $status -eq 0 ] && fetch ncdcpeer ncdc.xml.bz2
        peer_stop_ncdc ;;
    microdc2)
        peer_start_microdc2 "$share" "$PEER_WORDS" || status=$?
        # It may find no hash for names that are no UTF-8, and then answers
        # no search: its list is asked for all the same once it is logged in.
        sleep 5
        [ $status -ne $PEER_MISSING ] && fetch mdc2peer microdc2.xml.bz2
        peer_stop_microdc2 ;;
    eiskaltdcpp)
        PEER_EISK_REQUIRE_TLS=0 peer_start_eiskalt "$share" "$PEER_WORDS" || status=$?
        [ $status -eq 0 ] && fetch eiskpeer eiskaltdcpp.xml.bz2
        peer_stop_eiskalt ;;
    esac
done
peer_stop_all
