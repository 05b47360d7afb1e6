#!/usr/bin/env bash
# One file of random bytes (1 GiB + 4321 bytes by default), shared by
# Debian's eiskaltdcpp-daemon on 127.0.0.1 through the demo hub, downloaded
# in the same run, on the same machine, by three clients, one after another
# (the uploader serves one download at a time; the order rotates each round):
#   kivo        the real binary (Release) in tmux, through its screens as a
#               person does it: Search, the result, the "Download" soft key;
#               the file is checked against its TTH while it arrives and
#               renamed to its own name only after the check
#   ncdc        in its own tmux session (tests/e2e/lib_peers.sh starts it):
#               "/search -all <words>", then "d" on the result in its search
#               tab; its file goes to <session>/dl/ once whole and checked
#   eiskaltdcpp a second eiskaltdcpp-daemon ("eiskget"), driven over its
#               JSON-RPC: magnet.add with the file's TTH, size and name, then
#               search.send for the TTH, whose result gives the queued file
#               its source; its file goes to its download folder once whole
# All three reach the uploader over TLS: eiskaltdcpp requires it by default,
# kivo offers it (its first favourite), ncdc runs with tls_policy "prefer"
# and the second eiskaltdcpp keeps its defaults. (Plain, with TLS offered by
# nobody, the second eiskaltdcpp-daemon 2.4.2 rejected the uploader's tree,
# "Full tree does not match TTH root", and never began: so TLS only.)
# Each time runs from the request (kivo's "Download" key, ncdc's "d", the
# magnet.add call) until the file lies under its final name with all its
# bytes, watched every 5 ms. Each file is compared with the shared one (cmp)
# and its TTH (rhash --tth) with the one eiskaltdcpp announced, then removed.
# Prints every round, then the best of each client and which is shortest;
# fails when kivo's is not. With BENCH_PERF=<file>, "perf record -g" samples
# kivo during its downloads into that file (perf report -i <file>).
# Not part of the test suite.
#
#   bash bench/download_side_by_side.sh <kivo-binary> <repo-root> [MiB] [rounds]
#                                               (default 1024 MiB, 2 rounds)
# The uploader hashes the file at its start (about a minute and a half for
# 1 GiB with its index written); the second eiskaltdcpp takes a few seconds.
. "$(dirname "$0")/lib.sh" "$@"
mib=${3:-1024}
rounds=${4:-2}
total=$((mib * 1048576 + 4321))
bench_use_peers

name="kivobench-sample.bin"
words="kivobench sample"
share="$BENCH_WORK/share/pub"
mkdir -p "$share" "$BENCH_WORK/ncdc-own/own"
head -c "$total" /dev/urandom >"$share/$name"
echo "ncdc's own small share" >"$BENCH_WORK/ncdc-own/own/ncdc-own-note.txt"
source_tth=$(rhash --tth --simple "$share/$name" | cut -d' ' -f1 | tr a-z A-Z)

bench_start_hub
status=0
PEER_HASH_SECONDS=${PEER_HASH_SECONDS:-400} peer_start_eiskalt "$share" "$words" || status=$?
[ $status = 0 ] || bench_fail "the uploader, eiskaltdcpp-daemon, did not come up: $PEER_ERROR"
[ "$EISK_TTH" = "$source_tth" ] || bench_fail "eiskaltdcpp announces $EISK_TTH, rhash says $source_tth"
[ "$EISK_SIZE" = "$total" ] || bench_fail "eiskaltdcpp announces $EISK_SIZE bytes"
PEER_NCDC_TLS_POLICY=prefer peer_start_ncdc "$BENCH_WORK/ncdc-own/own" "ncdc own note" ncdcget || status=$?
[ $status = 0 ] || bench_fail "ncdc did not come up: $PEER_ERROR"
ncdc_file="$NCDC_DIR/session/dl/$name"

# ---- the second eiskaltdcpp-daemon: a downloader that shares nothing ---------
GET_DIR="$BENCH_WORK/eisk-get"
GET_CONF="$GET_DIR/config"
get_file="$GET_DIR/dl/$name"
mkdir -p "$GET_DIR/home" "$GET_CONF" "$GET_DIR/dl" "$GET_DIR/inc"
get_port=$(peer_free_port)
get_tls_port=$(peer_free_port)
GET_RPC_PORT=$(peer_free_port)
cat >"$GET_CONF/DCPlusPlus.xml" <<EOF
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<DCPlusPlus>
	<Settings>
		<Nick type="string">eiskget</Nick>
		<Description type="string">bench downloader</Description>
		<IncomingConnections type="int">0</IncomingConnections>
		<InPort type="int">$get_port</InPort>
		<UDPPort type="int">$get_port</UDPPort>
		<TLSPort type="int">$get_tls_port</TLSPort>
		<BindAddress type="string">127.0.0.1</BindAddress>
		<ExternalIp type="string">127.0.0.1</ExternalIp>
		<NoIpOverride type="int">1</NoIpOverride>
		<UseDHT type="int">0</UseDHT>
		<AutoDetectIncomingConnection type="int">0</AutoDetectIncomingConnection>
		<DownloadDirectory type="string">$GET_DIR/dl/</DownloadDirectory>
		<TempDownloadDirectory type="string">$GET_DIR/inc/</TempDownloadDirectory>
	</Settings>
</DCPlusPlus>
EOF
cat >"$GET_CONF/Favorites.xml" <<EOF
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<Favorites>
	<Hubs>
		<Hub Name="demo" Connect="1" Description="" Nick="" Password="" Server="nmdc://127.0.0.1:$HUB_PORT" UserDescription="" Encoding="CP1251"/>
	</Hubs>
</Favorites>
EOF
cat >"$BENCH_WORK/rpc.py" <<'PY'
import json, sys, urllib.request
port, method, params = sys.argv[1], sys.argv[2], json.loads(sys.argv[3] if len(sys.argv) > 3 else "{}")
body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": method, "params": params}).encode()
with urllib.request.urlopen("http://127.0.0.1:%s/" % port, body, timeout=5) as r:
    reply = json.loads(r.read(1 << 22))
if "result" not in reply:
    sys.exit("%s: %s" % (method, reply.get("error")))
print(json.dumps(reply["result"]))
PY
get_rpc() { python3 "$BENCH_WORK/rpc.py" "$GET_RPC_PORT" "$@"; }
# It dies of SIGSEGV on its way out (see lib_peers.sh): a subshell waits for
# it and logs that, instead of the script's shell.
(
    HOME="$GET_DIR/home" eiskaltdcpp-daemon -c "$GET_CONF/" -P "$GET_RPC_PORT" -u "$GET_DIR/rpc.log" </dev/null &
    echo $! >"$GET_DIR/daemon.pid"
    ended=0
    wait $! || ended=$?
    echo "eiskaltdcpp-daemon ended with status $ended"
) >"$GET_DIR/run.log" 2>&1 &
bench_until 5 test -s "$GET_DIR/daemon.pid" || bench_fail "the second eiskaltdcpp-daemon did not start"
GET_PID=$(cat "$GET_DIR/daemon.pid")
E2E_PIDS+=("$GET_PID")
get_answers() { get_rpc show.version >/dev/null 2>&1; }
bench_until 20 get_answers || bench_fail "the second eiskaltdcpp-daemon does not answer on port $GET_RPC_PORT"
get_on_hub() { get_rpc hub.getusers '{"huburl":"nmdc://127.0.0.1:'"$HUB_PORT"'","separator":";"}' 2>/dev/null | grep -q eiskpeer; }
bench_until 40 get_on_hub || bench_fail "the second eiskaltdcpp-daemon never saw eiskpeer on the hub"

bench_favorites 127.0.0.1 "$HUB_PORT" kivoget
bench_start_kivo
bench_keys F1 2                             # Menu, "Connect"
bench_wait "Welcome to" 15
kivo_file="$BENCH_WORK/cwd/$name"

# Runs the command (the request) and watches path every 5 ms until it holds
# total bytes; prints the seconds from just before the command.
timed() {
    local path=$1
    shift
    python3 - "$path" "$total" "$@" <<'EOF'
import os, subprocess, sys, time
path, total, command = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
start = time.monotonic()
subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
while time.monotonic() - start < 600:
    try:
        if os.stat(path).st_size >= total:
            break
    except FileNotFoundError:
        pass
    time.sleep(0.005)
else:
    sys.exit("never whole: " + path)
print("%.3f" % (time.monotonic() - start))
EOF
}

check_file() {
    local who=$1 path=$2 tth
    cmp -s "$share/$name" "$path" || bench_fail "$who's file differs from the shared one"
    tth=$(rhash --tth --simple "$path" | cut -d' ' -f1 | tr a-z A-Z)
    [ "$tth" = "$source_tth" ] || bench_fail "$who's file has the TTH $tth"
    rm -f "$path"
}

kivo_round() {
    bench_keys F1 4                         # Menu, "Clear Chat": the notes below are this round's
    bench_keys F2                           # the "Search" soft key
    bench_wait "Download"
    bench_type "$words"
    bench_keys Enter
    sleep 0.3
    bench_wait "$name"
    bench_keys Down Down                    # past "OK" into the list: the only result selected
    local t perf=""
    if [ -n "${BENCH_PERF:-}" ]; then
        perf record -g -q -o "$BENCH_PERF" -p "$KIVO_PID" >/dev/null 2>&1 &
        perf=$!
        sleep 0.5
    fi
    t=$(timed "$kivo_file" $BENCH_TMUX send-keys -t kivo F2)
    if [ -n "$perf" ]; then
        kill -INT "$perf"
        wait "$perf" || true
    fi
    bench_wait " ::downloaded:: TTH verified" 20 >/dev/null
    check_file kivo "$kivo_file"
    echo "$t"
}

ncdc_tab_shows() { $BENCH_TMUX capture-pane -p -t peer-ncdc | grep -qF -- "$1"; }
ncdc_round() {
    peer_ncdc_type "/search -all $words"
    bench_until 20 ncdc_tab_shows "$name" || bench_fail "ncdc's search found nothing"
    sleep 0.5                               # its first row is the selected one
    local t
    t=$(timed "$ncdc_file" $BENCH_TMUX send-keys -t peer-ncdc d)
    check_file ncdc "$ncdc_file"
    peer_ncdc_type "/close"                 # the search tab
    echo "$t"
}

eisk_request() {
    get_rpc magnet.add "{\"magnet\":\"magnet:?xt=urn:tree:tiger:$source_tth&xl=$total&dn=$name\",\"directory\":\"$GET_DIR/dl/\"}" &&
        get_rpc search.send "{\"searchstring\":\"$source_tth\",\"searchtype\":8,\"huburls\":\"nmdc://127.0.0.1:$HUB_PORT\"}"
}
eisk_round() {
    get_rpc search.clear '{}' >/dev/null 2>&1 || true
    export -f eisk_request get_rpc
    export GET_RPC_PORT BENCH_WORK source_tth total name GET_DIR HUB_PORT
    local t
    t=$(timed "$get_file" bash -c eisk_request)
    check_file eiskaltdcpp "$get_file"
    echo "$t"
}

results=""
for round in $(seq 1 "$rounds"); do
    declare -A t=()
    for step in 0 1 2; do
        case $(((round + step) % 3)) in
        0) t[kivo]=$(kivo_round) ;;
        1) t[ncdc]=$(ncdc_round) ;;
        2) t[eisk]=$(eisk_round) ;;
        esac
    done
    echo "round $round: kivo ${t[kivo]} s, ncdc ${t[ncdc]} s, eiskaltdcpp-daemon ${t[eisk]} s"
    results="$results${t[kivo]} ${t[ncdc]} ${t[eisk]}"$'\n'
done

get_rpc daemon.stop >/dev/null 2>&1 || true
bench_until 10 e2e_gone "$GET_PID" || kill "$GET_PID" 2>/dev/null || true

awk -v b="$total" -v m="$mib" -v n="$rounds" '
    function best(old, new) { return (old == "" || new < old) ? new : old }
    NF == 3 { k = best(k, $1); c = best(c, $2); e = best(e, $3) }
    END {
        printf "file:  %d MiB + 4321 bytes of random bytes from eiskaltdcpp-daemon, over TLS, one download at a time, best of %d\n", m, n
        printf "kivo                %7.3f s %7.1f MB/s\n", k, b / k / 1e6
        printf "ncdc                %7.3f s %7.1f MB/s   %.2f x kivo\n", c, b / c / 1e6, c / k
        printf "eiskaltdcpp-daemon  %7.3f s %7.1f MB/s   %.2f x kivo\n", e, b / e / 1e6, e / k
        s = (k <= c && k <= e) ? "kivo" : (c <= e ? "ncdc" : "eiskaltdcpp-daemon")
        printf "shortest: %s\n", s
        exit s == "kivo" ? 0 : 1
    }' <<<"$results"
