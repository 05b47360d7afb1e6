#!/usr/bin/env bash
# Browsing the file lists of three real clients nobody here wrote (ncdc,
# eiskaltdcpp-daemon, microdc2), each sharing pub\Музыка of its own (the same
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
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
. "$(dirname "$0")/lib_peers.sh"
. "$(dirname "$0")/lib_lists.sh"

e2e_start_hub
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

e2e_exit
e2e_pass "lists of $NCDC_NICK, $EISK_NICK, $MDC_NICK browsed (peers up in ${PEERS_UP}s); their three Музыка folders downloaded at once, twelve files verified and equal"
