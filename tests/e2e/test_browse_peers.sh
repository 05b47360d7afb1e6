#!/usr/bin/env bash
# Browsing the file lists of three real clients nobody here wrote (ncdc,
# eiskaltdcpp-daemon with its default TLS requirement, so over TLS, and
# microdc2), each sharing pub\Музыка of its own (the same
# names, other random bytes, so other TTHs) through the demo hub. For each
# peer Kivo opens Users, selects the nick by type-ahead, Enter fetches his
# list and opens it ("<nick>: " titled); Enter goes into pub, type-ahead
# selects Музыка (4 files), Download queues its four files, Back twice
# closes the screen. The twelve files run from the three peers at once into
# the same folder Музыка of the download folder: the chat says "TTH
# verified" twelve times, the Downloads screen shows all twelve done, each
# under the name its file took with its folders, queue.xml keeps them, and every
# shared file is there byte for byte, once, under its own name or a free
# name "<stem> (n)<ext>" beside it; no part is left.
# Then the queue against the same three: each shares a file of its own
# besides (ncdc and eiskaltdcpp upload it slowly, capped; microdc2 1 GiB
# at full speed). One Download on each search result queues the three
# files, which run at once (the title counts "3 downloads"). Halfway Kivo
# is killed with SIGKILL; started again, it takes its queue from
# queue.xml, connects, and all three continue from their part files
# ("resumed at") and finish verified, equal to the shared files, with no
# part left.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"
. "$(dirname "$0")/lib_lists.sh"

PARTS="$E2E_WORK/data/kivo/parts"
declare -A CLIENT=([mdc]=microdc2 [ncdc]=ncdc [eisk]=eiskalt)
# microdc2 finds no Cyrillic words in its share: its file is named in ASCII.
declare -A NAME=([mdc]="queue mdc.bin" [ncdc]="очередь ncdc.bin" [eisk]="очередь eisk.bin")
declare -A WORDS=([mdc]="queue mdc" [ncdc]="очередь ncdc" [eisk]="очередь eisk")
declare -A SIZE=([mdc]=1073741827 [ncdc]=12582917 [eisk]=12582929)
declare -A SHARED
for p in mdc ncdc eisk; do
    SHARED[$p]="$E2E_WORK/lists-${CLIENT[$p]}/pub/${NAME[$p]}"
    mkdir -p "$(dirname "${SHARED[$p]}")"
    head -c "${SIZE[$p]}" /dev/urandom >"${SHARED[$p]}"
done
# Slow enough to be halfway when Kivo is killed; its folder's files are small.
export PEER_EISK_UPLOAD_KIBPS=512

e2e_start_hub -vv                               # every message logged: the S port
# All three are started before any list is awaited: ncdc writes its list a
# while after it has hashed, which passes while eiskaltdcpp hashes away from
# the hub (about a minute); microdc2 is up at once.
for client in ncdc eiskalt microdc2; do
    status=0
    lists_launch_peer "$client" || status=$?
    peer_up_or_skip $status
done
for client in ncdc eiskalt microdc2; do
    lists_await_peer "$client" || e2e_fail "$PEER_ERROR"
done
PEERS_UP=$SECONDS

# 80 x 70: the notes of three lists and twelve files stay on the main screen together.
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" browser
# Kivo passive: the peers connect as the hub relays it (their port marked S
# when they do TLS).
e2e_settings 'Mode="passive"'
e2e_start_kivo 80 70
e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# Users, the nick by type-ahead, Enter: his list is fetched and opens; pub,
# Музыка, Download; Back up to the top closes the screen.
browse_and_queue() {
    local nick=$1
    e2e_keys F1 8                               # Menu, "Users"
    e2e_wait "| Menu                                                                    EXIT |"
    e2e_type "$nick"
    e2e_wait "|>$nick "
    e2e_keys Enter
    e2e_wait "+ $nick:  " 30
    e2e_type "pub"
    e2e_wait "|>pub\\"
    e2e_keys Enter
    e2e_wait "+ $nick: pub "
    e2e_type "Му"
    e2e_wait "|>Музыка\\"
    e2e_shows "4 files" || e2e_fail "$nick's Музыка does not count its four files"
    e2e_keys F2                                 # "Download"
    e2e_wait "|4 files queued"
    e2e_keys Escape
    e2e_wait "+ $nick:  "
    e2e_keys Escape                             # at the top: closes
    e2e_wait_main
}
for nick in "$NCDC_NICK" "$EISK_NICK" "$MDC_NICK"; do browse_and_queue "$nick"; done

# " ::downloaded:: TTH verified", or "... verified as <free name>".
verified_count() { e2e_rows | grep -cE '^ ::downloaded:: TTH verified( as .+)?$' || true; }
twelve_verified() { [ "$(verified_count)" = 12 ]; }
e2e_until 60 twelve_verified || e2e_fail "$(verified_count) of the twelve files were verified"
if e2e_rows | grep -E '::download (failed|refused|stopped)::|cannot keep'; then
    e2e_fail "a download failed, was refused or was not kept"
fi
# Twelve entries done; each names the file it became, with its folders:
# the name queued or a free name beside it, as queue.xml keeps them.
e2e_open_downloads
e2e_until 10 eval '[ "$(e2e_rows | grep -c "100% done")" = 12 ]' ||
    e2e_fail "the twelve files are not all done: $(e2e_rows)"
[ "$(e2e_rows | grep -c "^.$LISTS_FOLDER/")" = 12 ] || e2e_fail "not every entry shows its folder: $(e2e_rows)"
e2e_keys F2
e2e_wait_main
kept() {
    python3 - "$E2E_WORK/data/kivo/queue.xml" "$E2E_WORK/cwd" <<'PY'
import os, sys
import xml.etree.ElementTree as ET
files = ET.parse(sys.argv[1]).getroot().findall("File")
names = sorted(f.get("Name") for f in files if f.get("State") == "done")
on_disk = sorted(os.path.relpath(os.path.join(top, f), sys.argv[2])
                 for top, _dirs, found in os.walk(sys.argv[2]) for f in found)
sys.exit(0 if len(files) == 12 and names == on_disk else "%s\n%s" % (names, on_disk))
PY
}
e2e_until 5 kept 2>/dev/null || kept || e2e_fail "queue.xml does not name the twelve files as they lie on disk"

# Every shared file once, byte for byte, under its name or a free name
# beside it; nothing else in the download folder.
python3 - "$E2E_WORK/cwd" "$LISTS_FOLDER" "$LISTS_NCDC_SHARE" "$LISTS_EISK_SHARE" "$LISTS_MDC_SHARE" <<'PY' ||
import os, re, sys

got, folder, shares = sys.argv[1], sys.argv[2], sys.argv[3:]

def files(top):
    found = {}
    for above, _dirs, names in os.walk(top):
        for name in names:
            full = os.path.join(above, name)
            found[os.path.relpath(full, top)] = open(full, "rb").read()
    return found

on_disk = files(got)
left = dict(on_disk)
for share in shares:
    for rel, data in sorted(files(share).items()):
        if not rel.startswith(folder + "/"):
            continue
        above, name = os.path.split(rel)
        stem, ext = os.path.splitext(name)
        free = re.compile(re.escape(stem) + r"( \([0-9]+\))?" + re.escape(ext) + r"\Z")
        same = [r for r, d in left.items()
                if os.path.dirname(r) == above and free.match(os.path.basename(r)) and d == data]
        if len(same) != 1:
            sys.exit("%s of %s: %d equal copies in the download folder" % (rel, share, len(same)))
        del left[same[0]]
if left:
    sys.exit("the download folder holds more: %s" % sorted(left))
if len(on_disk) != 12:
    sys.exit("the download folder holds %d files, not 12: %s" % (len(on_disk), sorted(on_disk)))
PY
    e2e_fail "the three Музыка folders did not all land whole: $(cd "$E2E_WORK/cwd" && find . -type f | sort)"
[ -z "$(e2e_parts)" ] || e2e_fail "parts are left: $(e2e_parts)"

# eiskaltdcpp serves only over TLS (its default): Kivo's $MyINFO offers TLS,
# so its $ConnectToMe port is marked S, and its four files came that way.
grep -qE '\$ConnectToMe browser 127\.0\.0\.1:[0-9]+S' "$E2E_WORK/hub0.log" ||
    e2e_fail "eiskaltdcpp's \$ConnectToMe port is not marked S"

# --- The queue: three files at once, Kivo killed halfway, resumed ----------------
peer_ncdc_type "/set upload_rate 512K"
e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::downloaded::"
for p in ncdc eisk mdc; do e2e_download "${WORDS[$p]}" "${NAME[$p]}"; done
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
# Where Kivo's threads wait, for a run that never gets halfway.
thread_waits() {
    local pid task
    pid=$(cat "$E2E_WORK/kivo.pid")
    for task in /proc/"$pid"/task/*; do printf '%s:%s ' "${task##*/}" "$(cat "$task/wchan" 2>/dev/null)"; done
    ls -la "$PARTS" 2>&1 | tail -5
}
e2e_until 90 halfway ||
    e2e_fail "never halfway: mdc $(part_size mdc), ncdc $(part_size ncdc), eisk $(part_size eisk); $(thread_waits)"
kill -KILL "$(cat "$E2E_WORK/kivo.pid")"
declare -A HELD
for p in mdc ncdc eisk; do
    HELD[$p]=$(part_size "$p")
    [ "${HELD[$p]}" -gt 0 ] && [ "${HELD[$p]}" -lt "${SIZE[$p]}" ] || e2e_fail "$p's part holds ${HELD[$p]} bytes"
    [ ! -e "$E2E_WORK/cwd/${NAME[$p]}" ] || e2e_fail "$p's file is there before the restart"
done
waiting=$(grep -c 'State="waiting"' "$E2E_WORK/data/kivo/queue.xml" || true)
[ "$waiting" = 3 ] || e2e_fail "queue.xml does not hold the three files as waiting: $waiting"

peer_kivo_connect
finished() {
    for p in mdc ncdc eisk; do cmp -s "$E2E_WORK/cwd/${NAME[$p]}" "${SHARED[$p]}" || return 1; done
}
e2e_until 90 finished || e2e_fail "not all three finished after the restart"
for p in mdc ncdc eisk; do e2e_wait_text "${NAME[$p]}" 5; done
e2e_until 10 eval '[ -z "$(e2e_parts)" ]' || e2e_fail "parts are left: $(e2e_parts)"
resumed=$(e2e_rows | grep -c '^ ::download:: resumed at ' || true)
[ "$resumed" = 3 ] || e2e_fail "$resumed of the three downloads said they resumed"
verified=$(e2e_rows | grep -c '^ ::downloaded:: TTH verified' || true)
[ "$verified" = 3 ] || e2e_fail "$verified of the three downloads were verified"

e2e_exit
e2e_pass "lists of $NCDC_NICK, $EISK_NICK, $MDC_NICK browsed (peers up in ${PEERS_UP}s), their three Музыка folders downloaded at once and verified; three files queued at once, killed at mdc ${HELD[mdc]}, ncdc ${HELD[ncdc]}, eisk ${HELD[eisk]} bytes, all resumed and verified"
