#!/usr/bin/env bash
# File lists of the real clients of lib_peers.sh (ncdc, eiskaltdcpp-daemon,
# microdc2), for tests that browse a peer's list in Kivo and download a
# folder from it whole. Source it after lib.sh and lib_peers.sh, and start
# the hub (e2e_start_hub) before a peer.
#
#   lists_share dir                  # dir (made) holds the folder $LISTS_FOLDER:
#                                    #   Музыка/список песен.txt
#                                    #   Музыка/Ёлочка 'зимняя'.mp3
#                                    #   Музыка/Альбом/01 - песня.mp3
#                                    #   Музыка/Альбом/02 - Rock & Roll.mp3
#                                    # of random bytes drawn anew at each call, so
#                                    # that no two peers share a file (one TTH).
#   lists_start_peer client [nick]   # client: ncdc, eiskalt or microdc2. Makes
#                                    # the share $E2E_WORK/lists-<client>/pub with
#                                    # lists_share, starts the peer on it
#                                    # (peer_start_*, default nick) and fetches its
#                                    # list until it holds the folder whole.
#       status 0: up, its list holds the folder; PEER_MISSING (2): the package
#       is missing (print SKIP); 1: it did not come up or its list lacks the
#       folder within LISTS_WAIT_SECONDS (default 100). PEER_ERROR says why.
#       Sets, with <P> NCDC, EISK or MDC: LISTS_<P>_SHARE (the shared folder
#       on disk, ".../pub"), LISTS_<P>_LIST (the list last fetched, bzip2),
#       LISTS_<P>_FOLDER ("pub\Музыка": the folder's path in the list, '\'
#       between names, as Kivo's browse screen and $SR write it); the
#       peer's <P>_NICK and the rest as peer_start_* sets them.
#   lists_launch_peer client [nick]  # lists_start_peer's two halves: the share
#   lists_await_peer client          # made and the peer started (peer_start_*),
#                                    # then its list fetched until it holds the
#                                    # folder; the same statuses and variables.
#                                    # Launching every peer before awaiting any
#                                    # lets ncdc write its list while the
#                                    # others come up.
#   lists_fetch nick out             # its files.xml.bz2 into out, through
#                                    # peer_probe.py (over TLS when the peer
#                                    # offers only that); status 0 when out is bzip2
#   lists_holds_folder list dir path # the list (bzip2 XML) holds at path ('\'
#                                    # between names) exactly the files under dir,
#                                    # nested as on disk, with their sizes and,
#                                    # with rhash, their TTHs; says what differs
#   lists_same_tree a b              # folders a and b hold the same names and bytes
#
# How soon a list holds the files: eiskaltdcpp and microdc2 list what they
# have hashed once peer_start_* returns; ncdc writes its list again only a
# while after it has hashed (up to about a minute), so its first fetches may
# still lack the folder: they are repeated every 3 s.

LISTS_FOLDER="Музыка"
LISTS_WAIT_SECONDS=${LISTS_WAIT_SECONDS:-100}
LISTS_WORDS="rock roll"   # microdc2 finds no Cyrillic search word

lists_share() {
    local dir=$1
    mkdir -p "$dir/$LISTS_FOLDER/Альбом"
    head -c 1501 /dev/urandom | base64 | head -c 1501 >"$dir/$LISTS_FOLDER/список песен.txt"
    head -c 131085 /dev/urandom >"$dir/$LISTS_FOLDER/Ёлочка 'зимняя'.mp3"
    head -c 262151 /dev/urandom >"$dir/$LISTS_FOLDER/Альбом/01 - песня.mp3"
    head -c 196613 /dev/urandom >"$dir/$LISTS_FOLDER/Альбом/02 - Rock & Roll.mp3"
}

lists_fetch() {
    local nick=$1 out=$2
    rm -f "$out"
    timeout 40 python3 "$PEER_PROBE" --hub "127.0.0.1:$HUB_PORT" --nick "lists$$" --timeout 30 \
        --tls get --peer "$nick" --get files.xml.bz2 0 -1 --out "$out" >"$out.log" 2>&1 || true
    bzip2 -t "$out" 2>/dev/null
}

lists_holds_folder() {
    python3 - "$1" "$2" "$3" <<'PY'
import bz2, os, shutil, subprocess, sys
import xml.etree.ElementTree as ET

list_file, disk, path = sys.argv[1], sys.argv[2], sys.argv[3]
try:
    root = ET.fromstring(bz2.decompress(open(list_file, "rb").read()))
except (OSError, ValueError, EOFError, ET.ParseError) as e:
    sys.exit("the list does not read: %s" % e)
folder = root
for name in path.split("\\"):
    folder = next((d for d in folder.findall("Directory") if d.get("Name") == name), None)
    if folder is None:
        sys.exit("the list has no folder %s (no %s)" % (path, name))

listed = {}
def walk(element, above):
    for child in element:
        where = above + (child.get("Name"),)
        if child.tag == "Directory":
            walk(child, where)
        elif child.tag == "File":
            listed["/".join(where)] = (int(child.get("Size", "-1")), child.get("TTH"))
walk(folder, ())

on_disk = {}
for top, _dirs, files in os.walk(disk):
    for f in files:
        full = os.path.join(top, f)
        on_disk[os.path.relpath(full, disk)] = full
if sorted(listed) != sorted(on_disk):
    sys.exit("the list's %s holds %s, the disk %s" % (path, sorted(listed), sorted(on_disk)))
for rel, full in sorted(on_disk.items()):
    size, tth = listed[rel]
    if size != os.path.getsize(full):
        sys.exit("%s: size %d in the list, %d on disk" % (rel, size, os.path.getsize(full)))
    if shutil.which("rhash"):
        out = subprocess.run(["rhash", "--tth", "--simple", full], stdout=subprocess.PIPE,
                             check=True, timeout=30).stdout
        want = out.split(b" ")[0].upper().decode()
        if tth != want:
            sys.exit("%s: TTH %s in the list, %s on disk" % (rel, tth, want))
PY
}

lists_same_tree() { diff -r -q -- "$1" "$2" >/dev/null; }

lists_prefix() {
    case $1 in
    ncdc) LISTS_P=NCDC ;;
    eiskalt) LISTS_P=EISK ;;
    microdc2) LISTS_P=MDC ;;
    *) peer_fail "no such client: $1"; return 1 ;;
    esac
}

lists_launch_peer() {
    local client=$1 nick=${2:-} share status=0
    lists_prefix "$client" || return 1
    PEER_ERROR=""
    share="$E2E_WORK/lists-$client/pub"
    lists_share "$share"
    if [ -n "$nick" ]; then
        "peer_start_$client" "$share" "$LISTS_WORDS" "$nick" || status=$?
    else
        "peer_start_$client" "$share" "$LISTS_WORDS" || status=$?
    fi
    return $status
}

lists_await_peer() {
    local client=$1 p share list why deadline nick_var
    lists_prefix "$client" || return 1
    p=$LISTS_P
    share="$E2E_WORK/lists-$client/pub"
    nick_var="${p}_NICK"
    list="$E2E_WORK/lists-$client/files.xml.bz2"
    deadline=$((SECONDS + LISTS_WAIT_SECONDS))
    while :; do
        if lists_fetch "${!nick_var}" "$list"; then
            why=$(lists_holds_folder "$list" "$share/$LISTS_FOLDER" "pub\\$LISTS_FOLDER" 2>&1) && break
        else
            why="no list: $(grep -E '^(ERROR|REPLY)' "$list.log" | tail -1)"
        fi
        if [ $SECONDS -ge $deadline ]; then
            peer_fail "$client: its list does not hold the folder within ${LISTS_WAIT_SECONDS}s: $why"
            return 1
        fi
        sleep 3
    done
    printf -v "LISTS_${p}_SHARE" '%s' "$share"
    printf -v "LISTS_${p}_LIST" '%s' "$list"
    printf -v "LISTS_${p}_FOLDER" '%s' "pub\\$LISTS_FOLDER"
}

lists_start_peer() {
    lists_launch_peer "$@" || return $?
    lists_await_peer "$1"
}
