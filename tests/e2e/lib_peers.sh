#!/usr/bin/env bash
# Real Direct Connect clients that nobody here wrote, as sharing peers on the
# demo hub: Debian's ncdc, eiskaltdcpp-daemon and microdc2. Source this after lib.sh
# and start the hub (e2e_start_hub) before a peer. Each peer is an active
# user (passive with PEER_PASSIVE=1, below) that listens on a port of its
# own on 127.0.0.1, shares one folder and
# talks code page 1251 to the hub; TLS for transfers as set below. A start returns
# only once a search through the hub finds a file of that folder with its
# TTH, so the peer is logged in and its share is hashed and searchable.
#
#   peer_start_ncdc share_dir "words" [nick]      # nick ncdcpeer by default
#   peer_start_eiskalt share_dir "words" [nick]   # nick eiskpeer by default
#   peer_start_microdc2 share_dir "words" [nick]  # nick mdc2peer by default
#       status 0: up; PEER_MISSING (2): the package is missing and cannot be
#       installed (print SKIP); 1: it did not come up in time. PEER_ERROR
#       holds the reason, which is also printed on stderr.
#       "words" must find a file of share_dir; the folder is shared under
#       its own base name (share_dir /x/pub: paths pub\... in $SR).
#       Sets <P>_NICK, <P>_PORT (its listener on 127.0.0.1), <P>_SR_PATH
#       (the found file's $SR path, UTF-8: "\pub\a b.bin" from ncdc,
#       "pub\a b.bin" from eiskaltdcpp), <P>_ADC_PATH (the same as an ADC
#       file id: "/pub/a\sb.bin"), <P>_SIZE, <P>_TTH (39 base32 letters,
#       upper case as in $SR; rhash prints it in lower case), <P>_UP_SECONDS,
#       where <P> is NCDC, EISK or MDC. Also NCDC_DIR (its session folder is
#       $NCDC_DIR/session, logs in session/logs) and EISK_DIR, EISK_CONF,
#       EISK_RPC_PORT (JSON-RPC: peer_eisk_rpc method '{"key":"value"}').
#   peer_stop_ncdc, peer_stop_eiskalt, peer_stop_microdc2, peer_stop_all
#                                       # clean stops, bounded; safe to repeat
#   peer_search nick "words" [seconds]  # a passive search through the hub (active
#                                       # with PEER_PASSIVE=1) until
#                                       # nick answers with a TTH; sets PEER_SR_PATH,
#                                       # PEER_ADC_PATH, PEER_SIZE, PEER_TTH
#   peer_probe args...                  # peer_probe.py logged into the hub
#                                       # (see its --help: search, get)
#
# PEER_PASSIVE=1 starts a peer passive instead (ncdc "/set active false",
# microdc2 "set active 0", eiskaltdcpp IncomingConnections 3): it listens on
# nothing, so only a downloader's own $ConnectToMe brings the two together,
# and peer_search searches actively (results by UDP, which passive clients
# send to an active searcher) instead.
# PEER_EISK_UPLOAD_KIBPS, when set, caps eiskaltdcpp's uploads (KiB/s), so
# that a download from it can be stopped halfway.
# TLS for transfers: eiskaltdcpp keeps its default, RequireTLS on (a
# downloader whose $MyINFO offers TLS gets a $ConnectToMe port marked S; one
# that does not is refused), unless PEER_EISK_REQUIRE_TLS=0. ncdc's setting
# for NMDC transfers is tls_policy, PEER_NCDC_TLS_POLICY: "disabled" by
# default (plain only), "prefer" makes its $ConnectToMe port marked S for a
# downloader that offers TLS.
#   peer_connect_was_tls nick   # the hub's last $ConnectToMe to nick had a port
#                               # marked S (the hub runs with -vv: its log
#                               # $E2E_WORK/hub0.log holds every message)
#   peer_kivo_connected_to nick [kivo_nick]  # (-vv too) Kivo, active, sent its own
#                               # "$ConnectToMe nick 127.0.0.1:<port>[S]" and no
#                               # $RevConnectToMe; sets PEER_KIVO_CTM to the
#                               # last such address ("127.0.0.1:4120S")
#   peer_was_passive nick       # (-vv) nick's $MyINFO said M:P
#
# Sourcing this sets an EXIT trap that stops the peers and then runs lib.sh's
# clean-up; a test that sets its own trap must call peer_stop_all and then
# e2e_cleanup, keeping the status (see test_microdc2.sh). Waits are bounded by
# PEER_WAIT_SECONDS (login and search, default 40) and PEER_HASH_SECONDS
# (eiskaltdcpp's first hashing, default 100).
#
# ncdc runs in the tmux session "peer-ncdc" of the test's tmux server (it
# needs a terminal) with its own session folder, set up by typing its
# commands; "/quit" ends it. It is up about 3 s after the start.
# eiskaltdcpp-daemon reads its settings from its config folder and is driven
# over JSON-RPC on 127.0.0.1. A file that it hashes while it runs stays out of
# its share (no search finds it, its $MyINFO share stays 0) until a refresh,
# and it writes its hash index only on its minute timer (about 61 s after the
# start), never at exit: it dies of SIGSEGV on its way out, after daemon.stop
# as after SIGTERM. So it runs twice: once, away from the hub, until
# HashIndex.xml lists the file; then daemon.stop; then again with the hub
# among its favourites, which it joins at once with the share announced.
# It is up about 67 s after the start.
# microdc2 reads its start-up commands from $HOME/.microdc2/config, so it runs
# with a scratch HOME ($MDC_DIR/home), in the tmux session "peer-mdc" (it
# needs a terminal); each look at its screen saves it in
# $E2E_WORK/last-peer-mdc. It forks helper processes into its own process
# group, which the pane's first process leads (MDC_PID: that process, which
# execs microdc2); they are ended with it ("exit", then the group by its id).
# It is up about 2 s after the start.

PEER_MISSING=2
PEER_WAIT_SECONDS=${PEER_WAIT_SECONDS:-40}
PEER_HASH_SECONDS=${PEER_HASH_SECONDS:-100}
PEER_PROBE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/peer_probe.py"
PEER_PROBE_NICK="harness$$"
PEER_ERROR=""
PEER_NCDC_PID_FILE=""
PEER_EISK_PID=""
PEER_EISK_WAITER=""
PEER_MDC_PID=""

peer_fail() {
    PEER_ERROR=$1
    echo "lib_peers: $1" >&2
    return 1
}

# The package's program is there, or is installed the way test_microdc2.sh
# does it (as root, bounded); PEER_NO_INSTALL=1 never installs.
peer_have() {
    local program=$1 package=$2
    if ! command -v "$program" >/dev/null 2>&1 && [ "$(id -u)" = 0 ] && [ -z "${PEER_NO_INSTALL:-}" ]; then
        DEBIAN_FRONTEND=noninteractive timeout 50 apt-get install -y -q "$package" \
            >>"$E2E_WORK/apt-peers.log" 2>&1 || true
    fi
    if ! command -v "$program" >/dev/null 2>&1; then
        PEER_ERROR="$package is not installed and cannot be installed here"
        echo "lib_peers: $PEER_ERROR" >&2
        return $PEER_MISSING
    fi
}

# A TCP port on 127.0.0.1 that nobody listens on now; the UDP port of the
# same number is checked too, since both peers use it for UDP as well.
peer_free_port() {
    python3 - <<'PY'
import socket
for _ in range(50):
    t = socket.socket()
    t.bind(("127.0.0.1", 0))
    port = t.getsockname()[1]
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        u.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        u.close()
        t.close()
    print(port)
    break
PY
}

peer_probe() {
    python3 "$PEER_PROBE" --hub "127.0.0.1:$HUB_PORT" "$@"
}

# ADC file id for a $SR path: no leading '\', '/' between the parts, a
# blank written "\s" (a part cannot hold a '\' of its own).
peer_adc_path() {
    local p=${1#\\}
    p=${p//\\//}
    p=${p// /\\s}
    printf '/%s' "$p"
}

peer_search() {
    local nick=$1 words=$2 seconds=${3:-$PEER_WAIT_SECONDS} out line found_nick
    local -a word_list
    local -a udp=()
    read -r -a word_list <<<"$words"
    [ -z "${PEER_PASSIVE:-}" ] || udp=(--udp)
    out=$(timeout $((seconds + 10)) python3 "$PEER_PROBE" --hub "127.0.0.1:$HUB_PORT" \
        --nick "$PEER_PROBE_NICK" --timeout "$seconds" \
        search "${udp[@]}" --peer "$nick" --need-tth "${word_list[@]}" 2>&1) || true
    line=$(grep -m1 '^RESULT ' <<<"$out") || true
    if [ -z "$line" ]; then
        peer_fail "$nick: no search result with a TTH within ${seconds}s: $(grep '^ERROR' <<<"$out" | tail -1)"
        return 1
    fi
    IFS=$'\t' read -r found_nick PEER_SR_PATH PEER_SIZE PEER_TTH <<<"${line#RESULT }"
    PEER_ADC_PATH=$(peer_adc_path "$PEER_SR_PATH")
}

peer_now() { echo "${EPOCHREALTIME/./}"; }
peer_seconds_since() { echo $((($(peer_now) - $1) / 1000000)); }

peer_check_share() {
    local dir=$1
    [ -d "$dir" ] || { peer_fail "no share folder: $dir"; return 1; }
    [ -n "$(basename "$dir")" ] || { peer_fail "the share folder needs a base name: $dir"; return 1; }
}

# ---- ncdc -------------------------------------------------------------------

peer_ncdc_shows() {
    local screen
    screen=$($E2E_TMUX capture-pane -p -S -200 -t peer-ncdc 2>/dev/null) || return 1
    grep -qF -- "$1" <<<"$screen"
}

peer_ncdc_type() {
    $E2E_TMUX send-keys -t peer-ncdc -l -- "$1" && $E2E_TMUX send-keys -t peer-ncdc Enter
}

peer_start_ncdc() {
    local share=$1 words=$2 nick=${3:-ncdcpeer} started dir port name
    peer_have ncdc ncdc || return $?
    peer_check_share "$share" || return 1
    [ -z "$PEER_NCDC_PID_FILE" ] || { peer_fail "ncdc runs already"; return 1; }
    started=$(peer_now)
    share=$(cd "$share" && pwd)
    name=$(basename "$share")
    dir="$E2E_WORK/ncdc-$nick"
    NCDC_DIR=$dir
    mkdir -p "$dir/home" "$dir/session"
    port=$(peer_free_port)
    [ -n "$port" ] || { peer_fail "no free port for ncdc"; return 1; }
    PEER_NCDC_PID_FILE="$dir/ncdc.pid"
    $E2E_TMUX new-session -d -x 160 -y 50 -s peer-ncdc \
        "echo \$\$ >'$PEER_NCDC_PID_FILE'; cd '$dir' && HOME='$dir/home' exec ncdc -c '$dir/session'" ||
        { peer_fail "ncdc: tmux could not start it"; return 1; }
    e2e_until 15 peer_ncdc_shows "Welcome to ncdc" || { peer_fail "ncdc did not start"; return 1; }
    # Active on 127.0.0.1 with a port of its own; text to the hub in 1251;
    # tls_policy (NMDC transfers): "disabled" offers plain connections only,
    # "prefer" asks for TLS from peers that offer it. "/share"
    # takes the name with its blanks escaped and the path as the rest of
    # the line (quotes would be kept as part of the path).
    local command
    for command in "/set nick $nick" "/set encoding CP1251" "/set local_address 127.0.0.1" \
        "/set active_ip 127.0.0.1" "/set active_port $port" "/set active $([ -n "${PEER_PASSIVE:-}" ] && echo false || echo true)" \
        "/set tls_policy ${PEER_NCDC_TLS_POLICY:-disabled}" "/share ${name// /\\ } $share"; do
        peer_ncdc_type "$command" || { peer_fail "ncdc: cannot type $command"; return 1; }
    done
    # Its main tab is logged to logs/main.log: the share taken, or why not.
    e2e_until 10 grep -qF "Added to share: /$name -> $share" "$NCDC_DIR/session/logs/main.log" ||
        { peer_fail "ncdc did not take the share: $(tail -1 "$NCDC_DIR/session/logs/main.log" 2>/dev/null)"; return 1; }
    peer_ncdc_type "/open demo nmdc://127.0.0.1:$HUB_PORT" || { peer_fail "ncdc: cannot type /open"; return 1; }
    peer_search "$nick" "$words" "$PEER_WAIT_SECONDS" || {
        PEER_ERROR="ncdc did not come up: $PEER_ERROR"
        return 1
    }
    NCDC_NICK=$nick NCDC_PORT=$port NCDC_SR_PATH=$PEER_SR_PATH NCDC_ADC_PATH=$PEER_ADC_PATH
    NCDC_SIZE=$PEER_SIZE NCDC_TTH=$PEER_TTH NCDC_UP_SECONDS=$(peer_seconds_since "$started")
}

peer_stop_ncdc() {
    local pid
    [ -n "$PEER_NCDC_PID_FILE" ] || return 0
    pid=$(cat "$PEER_NCDC_PID_FILE" 2>/dev/null) || pid=""
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        peer_ncdc_type "/quit" 2>/dev/null || true
        if ! e2e_until 5 e2e_gone "$pid"; then
            kill "$pid" 2>/dev/null || true
            e2e_until 3 e2e_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    $E2E_TMUX kill-session -t peer-ncdc 2>/dev/null || true
    PEER_NCDC_PID_FILE=""
}

# ---- eiskaltdcpp ------------------------------------------------------------

peer_xml() {
    local s=$1
    s=${s//&/&amp;}
    s=${s//</&lt;}
    s=${s//>/&gt;}
    s=${s//\"/&quot;}
    printf '%s' "$s"
}

# Prints the "result" of a JSON-RPC call; fails when there is none.
peer_eisk_rpc() {
    local params=${2:-'{}'}
    python3 - "$EISK_RPC_PORT" "$1" "$params" <<'PY'
import json, sys, urllib.request
port, method, params = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": method, "params": params}).encode()
try:
    with urllib.request.urlopen("http://127.0.0.1:%s/" % port, body, timeout=3) as r:
        reply = json.loads(r.read(1 << 20))
except (OSError, ValueError):
    sys.exit(1)
if "result" not in reply:
    sys.exit(1)
print(json.dumps(reply["result"]))
PY
}

peer_eisk_answers() { peer_eisk_rpc show.version >/dev/null 2>&1; }
peer_eisk_hashed() { grep -q '<File ' "$EISK_CONF/HashIndex.xml" 2>/dev/null; }

# Starts the daemon under a subshell that waits for it and logs how it
# ended: after daemon.stop it has been seen to die of SIGSEGV on its way out
# (its files are written by then), which the log shows and the test ignores.
peer_eisk_run() {
    local log=$1 pid_file="$EISK_DIR/daemon.pid"
    rm -f "$pid_file"
    (
        HOME="$EISK_DIR/home" eiskaltdcpp-daemon -c "$EISK_CONF/" -P "$EISK_RPC_PORT" \
            -u "$EISK_DIR/rpc.log" >>"$log" 2>&1 </dev/null &
        echo $! >"$pid_file"
        ended=0
        wait $! || ended=$?
        echo "lib_peers: eiskaltdcpp-daemon ended with status $ended"
    ) >>"$log" 2>&1 &
    PEER_EISK_WAITER=$!
    e2e_until 5 test -s "$pid_file" || { peer_fail "eiskaltdcpp-daemon did not start"; return 1; }
    PEER_EISK_PID=$(cat "$pid_file")
    E2E_PIDS+=("$PEER_EISK_PID")   # lib.sh's clean-up ends it should all else fail
    e2e_until 15 peer_eisk_answers || { peer_fail "eiskaltdcpp: no JSON-RPC answer on port $EISK_RPC_PORT"; return 1; }
}

# daemon.stop, then a bounded wait; SIGTERM and SIGKILL only when it hangs.
peer_eisk_end() {
    local pid=$PEER_EISK_PID
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        peer_eisk_rpc daemon.stop >/dev/null 2>&1 || true
        if ! e2e_until 10 e2e_gone "$pid"; then
            kill "$pid" 2>/dev/null || true
            e2e_until 3 e2e_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    if [ -n "$PEER_EISK_WAITER" ]; then
        wait "$PEER_EISK_WAITER" 2>/dev/null || true
    fi
    if [ -n "$pid" ]; then
        local kept=() p
        for p in "${E2E_PIDS[@]}"; do [ "$p" = "$pid" ] || kept+=("$p"); done
        E2E_PIDS=("${kept[@]}")
    fi
    PEER_EISK_PID=""
    PEER_EISK_WAITER=""
}

peer_eisk_settings() {
    local nick=$1 share=$2 name=$3
    # InPort serves TCP and UDP. TLS is on offer (its $MyINFO flag byte has
    # 0x10) and required by default; PEER_EISK_REQUIRE_TLS=0 lets a
    # downloader without that flag have a plain $ConnectToMe. NoIpOverride
    # keeps 127.0.0.1 in its $ConnectToMe; DHT stays off.
    cat >"$EISK_CONF/DCPlusPlus.xml" <<EOF
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<DCPlusPlus>
	<Settings>
		<Nick type="string">$(peer_xml "$nick")</Nick>
		<Description type="string">test peer</Description>
		<IncomingConnections type="int">$([ -n "${PEER_PASSIVE:-}" ] && echo 3 || echo 0)</IncomingConnections>
		<InPort type="int">$EISK_PORT</InPort>
		<UDPPort type="int">$EISK_PORT</UDPPort>
		<TLSPort type="int">$EISK_TLS_PORT</TLSPort>
		<BindAddress type="string">127.0.0.1</BindAddress>
		<ExternalIp type="string">127.0.0.1</ExternalIp>
		<NoIpOverride type="int">1</NoIpOverride>
$([ -n "${PEER_EISK_REQUIRE_TLS:-}" ] && echo "		<RequireTLS type=\"int\">$PEER_EISK_REQUIRE_TLS</RequireTLS>")
		<UseDHT type="int">0</UseDHT>
		<HashingStartDelay type="int">0</HashingStartDelay>
		<AutoDetectIncomingConnection type="int">0</AutoDetectIncomingConnection>
		<EnableThrottle type="int">$([ -n "${PEER_EISK_UPLOAD_KIBPS:-}" ] && echo 1 || echo 0)</EnableThrottle>
		<MaxUploadSpeedMain type="int">${PEER_EISK_UPLOAD_KIBPS:-0}</MaxUploadSpeedMain>
	</Settings>
	<Share>
		<Directory Virtual="$(peer_xml "$name")">$(peer_xml "$share/")</Directory>
	</Share>
</DCPlusPlus>
EOF
}

peer_eisk_favorite() {
    cat >"$EISK_CONF/Favorites.xml" <<EOF
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<Favorites>
	<Hubs>
		<Hub Name="demo" Connect="1" Description="" Nick="" Password="" Server="nmdc://127.0.0.1:$HUB_PORT" UserDescription="" Encoding="CP1251"/>
	</Hubs>
</Favorites>
EOF
}

peer_start_eiskalt() {
    local share=$1 words=$2 nick=${3:-eiskpeer} started name
    peer_have eiskaltdcpp-daemon eiskaltdcpp-daemon || return $?
    peer_check_share "$share" || return 1
    [ -z "$PEER_EISK_PID$PEER_EISK_WAITER" ] || { peer_fail "eiskaltdcpp runs already"; return 1; }
    started=$(peer_now)
    share=$(cd "$share" && pwd)
    name=$(basename "$share")
    EISK_DIR="$E2E_WORK/eisk-$nick"
    EISK_CONF="$EISK_DIR/config"
    mkdir -p "$EISK_DIR/home" "$EISK_CONF"
    EISK_PORT=$(peer_free_port)
    EISK_TLS_PORT=$(peer_free_port)
    EISK_RPC_PORT=$(peer_free_port)
    [ -n "$EISK_PORT" ] && [ -n "$EISK_TLS_PORT" ] && [ -n "$EISK_RPC_PORT" ] ||
        { peer_fail "no free ports for eiskaltdcpp"; return 1; }
    peer_eisk_settings "$nick" "$share" "$name"

    # First run, off the hub: hash the folder and wait for the index on disk.
    peer_eisk_run "$EISK_DIR/first-run.log" || { peer_eisk_end; return 1; }
    if ! e2e_until "$PEER_HASH_SECONDS" peer_eisk_hashed; then
        peer_eisk_end
        peer_fail "eiskaltdcpp wrote no hash index within ${PEER_HASH_SECONDS}s"
        return 1
    fi
    peer_eisk_end

    # Second run: the share is announced from the start; it joins the hub.
    peer_eisk_favorite
    peer_eisk_run "$EISK_DIR/run.log" || { peer_eisk_end; return 1; }
    peer_search "$nick" "$words" "$PEER_WAIT_SECONDS" || {
        PEER_ERROR="eiskaltdcpp did not come up: $PEER_ERROR"
        return 1
    }
    EISK_NICK=$nick EISK_SR_PATH=$PEER_SR_PATH EISK_ADC_PATH=$PEER_ADC_PATH
    EISK_SIZE=$PEER_SIZE EISK_TTH=$PEER_TTH EISK_UP_SECONDS=$(peer_seconds_since "$started")
}

peer_stop_eiskalt() { peer_eisk_end; }

# ---- microdc2 ---------------------------------------------------------------

peer_mdc_shows() {
    $E2E_TMUX capture-pane -p -S -200 -t peer-mdc >"$E2E_WORK/last-peer-mdc" 2>/dev/null || return 1
    grep -qF -- "$1" "$E2E_WORK/last-peer-mdc"
}

peer_start_microdc2() {
    local share=$1 words=$2 nick=${3:-mdc2peer} started port bytes
    peer_have microdc2 microdc2 || return $?
    peer_check_share "$share" || return 1
    [ -z "$PEER_MDC_PID" ] || { peer_fail "microdc2 runs already"; return 1; }
    started=$(peer_now)
    share=$(cd "$share" && pwd)
    MDC_DIR="$E2E_WORK/mdc-$nick"
    mkdir -p "$MDC_DIR/home/.microdc2" "$MDC_DIR/downloads" "$MDC_DIR/lists"
    # It must listen on 127.0.0.1: without a port it picks one on 0.0.0.0.
    port=$(peer_free_port)
    [ -n "$port" ] || { peer_fail "no free port for microdc2"; return 1; }
    bytes=$(find "$share" -type f -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }')
    cat >"$MDC_DIR/home/.microdc2/config" <<MDC
set nick $nick
share "$share"
set downloaddir "$MDC_DIR/downloads"
set listingdir "$MDC_DIR/lists"
set listenaddr 127.0.0.1
set listenport $port
set active $([ -n "${PEER_PASSIVE:-}" ] && echo 0 || echo 1)
connect 127.0.0.1:$HUB_PORT
MDC
    rm -f "$MDC_DIR/mdc.pid"
    $E2E_TMUX new-session -d -x 120 -y 40 -s peer-mdc \
        "echo \$\$ >'$MDC_DIR/mdc.pid'; cd '$MDC_DIR' && HOME='$MDC_DIR/home' exec microdc2" ||
        { peer_fail "microdc2: tmux could not start it"; return 1; }
    e2e_until 5 test -s "$MDC_DIR/mdc.pid" || { peer_fail "microdc2 did not start"; return 1; }
    PEER_MDC_PID=$(cat "$MDC_DIR/mdc.pid")
    if [ -n "${PEER_PASSIVE:-}" ]; then             # passive: it listens on nothing
        e2e_until 10 peer_mdc_shows "Listening address set to 127.0.0.1." ||
            { peer_fail "microdc2 did not take its settings"; return 1; }
    else
        e2e_until 10 peer_mdc_shows "Listening on 127.0.0.1:$port." ||
            { peer_fail "microdc2 does not listen on 127.0.0.1:$port"; return 1; }
    fi
    e2e_until 15 peer_mdc_shows ", $nick!" || { peer_fail "microdc2 was not welcomed by the hub"; return 1; }
    e2e_until 15 peer_mdc_shows "Sharing $bytes bytes" ||
        { peer_fail "microdc2 does not share the $bytes bytes of $share"; return 1; }
    peer_search "$nick" "$words" "$PEER_WAIT_SECONDS" || {
        PEER_ERROR="microdc2 did not come up: $PEER_ERROR"
        return 1
    }
    MDC_NICK=$nick MDC_PORT=$port MDC_PID=$PEER_MDC_PID MDC_SR_PATH=$PEER_SR_PATH MDC_ADC_PATH=$PEER_ADC_PATH
    MDC_SIZE=$PEER_SIZE MDC_TTH=$PEER_TTH MDC_UP_SECONDS=$(peer_seconds_since "$started")
}

peer_mdc_group_gone() { ! pgrep -g "$PEER_MDC_PID" >/dev/null 2>&1; }

peer_stop_microdc2() {
    [ -n "$PEER_MDC_PID" ] || return 0
    if ! peer_mdc_group_gone; then
        $E2E_TMUX send-keys -t peer-mdc "exit" Enter 2>/dev/null || true
        e2e_until 3 peer_mdc_group_gone || kill -- "-$PEER_MDC_PID" 2>/dev/null || true
        e2e_until 3 peer_mdc_group_gone || kill -KILL -- "-$PEER_MDC_PID" 2>/dev/null || true
    fi
    $E2E_TMUX kill-session -t peer-mdc 2>/dev/null || true
    PEER_MDC_PID=""
}

peer_connect_was_tls() {
    local port
    port=$(grep -o "\\\$ConnectToMe $1 127\\.0\\.0\\.1:[0-9]*S\\?" "$E2E_WORK/hub0.log" 2>/dev/null | tail -1)
    [ -n "$port" ] && [ "${port%S}" != "$port" ]
}

peer_kivo_connected_to() {
    local nick=$1 kivo=${2:-getter} log="$E2E_WORK/hub0.log"
    PEER_KIVO_CTM=$(grep -o "<- $kivo b'\\\$ConnectToMe $nick 127\\.0\\.0\\.1:[0-9]*S\\?|" "$log" 2>/dev/null |
        tail -1 | sed -e 's/.* //' -e 's/|$//')
    [ -n "$PEER_KIVO_CTM" ] || e2e_fail "no \$ConnectToMe $nick 127.0.0.1:<port> from Kivo in the hub's log"
    ! grep -qF "<- $kivo b'\$RevConnectToMe" "$log" || e2e_fail "Kivo, active, sent a \$RevConnectToMe"
}

peer_was_passive() {
    grep -q "\\\$MyINFO \\\$ALL $1 [^|]*,M:P," "$E2E_WORK/hub0.log" || e2e_fail "$1's \$MyINFO does not say M:P"
}

peer_stop_all() {
    peer_stop_ncdc
    peer_stop_eiskalt
    peer_stop_microdc2
}

# Runs before lib.sh's clean-up, which takes the test's status from $?.
peer_on_exit() {
    local status=$?
    set +e
    if [ $status -ne 0 ]; then
        if [ -n "$PEER_NCDC_PID_FILE" ]; then
            echo "---- ncdc's main tab and hub tab" >&2
            tail -n 8 "$NCDC_DIR/session/logs/main.log" "$NCDC_DIR/session/logs/#demo.log" >&2 2>/dev/null
        fi
        if [ -n "${EISK_DIR:-}" ]; then
            echo "---- eiskaltdcpp's output" >&2
            tail -n 20 "$EISK_DIR"/*run.log >&2 2>/dev/null
        fi
        if [ -n "$PEER_MDC_PID" ]; then
            echo "---- microdc2's screen" >&2
            grep -v "^$" "$E2E_WORK/last-peer-mdc" 2>/dev/null | tail -25 >&2
        fi
    fi
    peer_stop_all
    (exit $status)
    e2e_cleanup
}
trap peer_on_exit EXIT

# ---- Kivo against a peer ------------------------------------------------------
# The steps the interoperability tests share, on top of lib_transfer.sh: a
# sample file with a Cyrillic name in a share folder, Kivo logged into the
# demo hub, one verified download, and a download paused halfway on
# "Downloads" and resumed from its part file.
#
#   peer_sample size                  # PEER_SHARE/PEER_NAME, size random bytes
#   peer_up_or_skip status            # after a peer_start_*: SKIP, fail or go on
#   peer_kivo_connect                 # Kivo started and logged into the demo hub
#   peer_kivo_fetch_verified seconds  # downloaded, " ::downloaded:: TTH verified",
#                                     # equal to the shared file, then removed
#   peer_kivo_stop_and_resume min     # paused at min bytes or more, resumed:
#                                     # "resumed at", verified, equal, no part left;
#                                     # sets PEER_STOPPED_AT

PEER_SHARE="$E2E_WORK/pub"
PEER_NAME="Пример файла.bin"
PEER_WORDS="пример файла"

peer_sample() {
    PEER_SAMPLE_SIZE=$1
    mkdir -p "$PEER_SHARE"
    head -c "$PEER_SAMPLE_SIZE" /dev/urandom >"$PEER_SHARE/$PEER_NAME"
}

peer_up_or_skip() {
    local status=$1
    if [ "$status" -eq "$PEER_MISSING" ]; then
        echo "SKIP: $E2E_NAME: $PEER_ERROR"
        exit 0
    fi
    [ "$status" -eq 0 ] || e2e_fail "$PEER_ERROR"
}

peer_kivo_connect() {
    e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
    e2e_start_kivo
    e2e_wait "Pelmark tarvol"
    e2e_keys F1 2                               # Menu, "Connect"
    e2e_wait "Welcome to" 15
}

peer_kivo_fetch_verified() {
    e2e_download "$PEER_WORDS" "$PEER_NAME"
    e2e_wait_notes "$PEER_NAME" "$1" " ::downloaded:: TTH verified"
    e2e_same_file "$E2E_WORK/cwd/$PEER_NAME" "$PEER_SHARE/$PEER_NAME"
    rm "$E2E_WORK/cwd/$PEER_NAME"
    e2e_clear_finished
    e2e_keys F1 4                               # Menu, "Clear Chat"
    e2e_wait_gone "::downloaded::"
}

peer_kivo_stop_and_resume() {
    local min=$1 files
    e2e_download "$PEER_WORDS" "$PEER_NAME"
    e2e_pause_download_at "$PEER_NAME" $((min * 100 / PEER_SAMPLE_SIZE)) "$PEER_SAMPLE_SIZE"
    PEER_STOPPED_AT=$E2E_STOPPED_AT
    e2e_keys F1 4
    e2e_wait_gone "::download stopped::"
    e2e_resume_download "$PEER_NAME"
    e2e_wait " ::download:: resumed at $PEER_STOPPED_AT of $PEER_SAMPLE_SIZE bytes" 15
    e2e_wait " ::downloaded:: TTH verified" 30
    e2e_same_file "$E2E_WORK/cwd/$PEER_NAME" "$PEER_SHARE/$PEER_NAME"
    files=$(cd "$E2E_WORK/cwd" && ls -A)
    [ "$files" = "$PEER_NAME" ] || e2e_fail "kivo's folder holds: $files"
}
