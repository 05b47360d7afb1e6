#!/usr/bin/env bash
# The queue against three real clients nobody here wrote, each sharing a
# file of its own through the demo hub: ncdc and eiskaltdcpp-daemon upload
# slowly (capped), microdc2 a file of 384 MiB at full speed. One Download on
# each result queues the three files, which run at once (the title counts
# "3 downloads"). Halfway Kivo is killed with SIGKILL; started again, it
# takes its queue from queue.xml, connects, and all three continue from
# their part files ("resumed at") and finish verified by their TTH, equal to
# the shared files, with no part left.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"

PARTS="$E2E_WORK/data/kivo/parts"
declare -A SHARE=([mdc]="$E2E_WORK/s-mdc" [ncdc]="$E2E_WORK/s-ncdc" [eisk]="$E2E_WORK/s-eisk")
declare -A NAME=([mdc]="очередь mdc.bin" [ncdc]="очередь ncdc.bin" [eisk]="очередь eisk.bin")
declare -A SIZE=([mdc]=402653203 [ncdc]=12582917 [eisk]=12582929)
for p in mdc ncdc eisk; do
    mkdir -p "${SHARE[$p]}"
    head -c "${SIZE[$p]}" /dev/urandom >"${SHARE[$p]}/${NAME[$p]}"
done

e2e_start_hub
status=0
# microdc2 hashes its share before it answers a search.
PEER_WAIT_SECONDS=120 peer_start_microdc2 "${SHARE[mdc]}" "очередь mdc" || status=$?
peer_up_or_skip $status
PEER_NCDC_TLS_POLICY=prefer peer_start_ncdc "${SHARE[ncdc]}" "очередь ncdc" || status=$?
peer_up_or_skip $status
peer_ncdc_type "/set upload_rate 512K"
PEER_EISK_UPLOAD_KIBPS=512 peer_start_eiskalt "${SHARE[eisk]}" "очередь eisk" || status=$?
peer_up_or_skip $status

peer_kivo_connect
for p in ncdc eisk mdc; do e2e_download "очередь $p" "${NAME[$p]}"; done
three_running() { e2e_title | grep -q ' 3 downloads$'; }
e2e_until 20 three_running || e2e_fail "the three downloads never ran at once: $(e2e_title)"

# The size of a part of p's file, 0 when there is none.
part_size() {
    local f
    for f in "$PARTS/${NAME[$1]}".*.part; do
        [ -f "$f" ] && { stat -c %s "$f"; return; }
    done
    echo 0
}
halfway() {
    local n
    for p in ncdc eisk; do [ "$(part_size $p)" -gt 0 ] || return 1; done
    n=$(part_size mdc)
    [ "$n" -gt 0 ] && [ "$n" -lt $((SIZE[mdc] * 4 / 5)) ]
}
e2e_until 90 halfway || e2e_fail "never halfway: mdc $(part_size mdc), ncdc $(part_size ncdc), eisk $(part_size eisk)"
kill -KILL "$(cat "$E2E_WORK/kivo.pid")"
declare -A HELD
for p in mdc ncdc eisk; do
    HELD[$p]=$(part_size "$p")
    [ "${HELD[$p]}" -gt 0 ] && [ "${HELD[$p]}" -lt "${SIZE[$p]}" ] || e2e_fail "$p's part holds ${HELD[$p]} bytes"
    [ ! -e "$E2E_WORK/cwd/${NAME[$p]}" ] || e2e_fail "$p's file is there before the restart"
done
grep -c '<File ' "$E2E_WORK/data/kivo/queue.xml" | grep -qx 3 || e2e_fail "queue.xml does not hold the three files"

peer_kivo_connect
finished() {
    for p in mdc ncdc eisk; do cmp -s "$E2E_WORK/cwd/${NAME[$p]}" "${SHARE[$p]}/${NAME[$p]}" || return 1; done
}
e2e_until 90 finished || e2e_fail "not all three finished after the restart"
for p in mdc ncdc eisk; do e2e_wait_text "${NAME[$p]}" 5; done
no_parts() { [ -z "$(ls -A "$PARTS")" ]; }
e2e_until 10 no_parts || e2e_fail "parts are left: $(ls -A "$PARTS")"
resumed=$(e2e_rows | grep -c '^ ::download:: resumed at ' || true)
[ "$resumed" = 3 ] || e2e_fail "$resumed of the three downloads said they resumed"
verified=$(e2e_rows | grep -c '^ ::downloaded:: TTH verified' || true)
[ "$verified" = 3 ] || e2e_fail "$verified of the three downloads were verified"

e2e_exit
e2e_pass "three peers at once, killed at mdc ${HELD[mdc]}, ncdc ${HELD[ncdc]}, eisk ${HELD[eisk]} bytes; all resumed and verified"
