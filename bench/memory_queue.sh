#!/usr/bin/env bash
# Kivo's peak resident memory (VmHWM) with its download queue at work, each
# case a fresh start of the real binary in tmux against the demo hub on
# 127.0.0.1, beside the same figure connected and idle with an empty queue:
#   idle          no queue.xml: started, connected, left 6 s on its main
#                 screen; VmRSS then, and the peak before and after Connect
#   1,000 waiting a queue.xml of 1,000 File entries (50 users who are not on
#                 the hub, 20 files each: they wait) written into
#                 $XDG_DATA_HOME/kivo/ before the start; the same figures
#   transfers     a queue.xml of 1 or 3 entries whose users are on the hub,
#                 written before the start: Connect starts them all at once
#                 (the title counts " 3 downloads"; the script fails when it
#                 never does). The three: the demo hub's Seeder ("Video\Kivo
#                 Demo Movie.avi", MiB) and archivist ("Archive\big\
#                 backup-2010.tar", MiB/2), and ncdc (tests/e2e/lib_peers.sh,
#                 tls_policy "prefer") sharing MiB/2 of random bytes; the one:
#                 Seeder's. Each with its TTH, so each is verified. Plain: the
#                 only favourite has TLS="0" (Kivo offers no TLS, all three
#                 serve plain); TLS: the favourite without it (Kivo offers
#                 TLS, all three serve over TLS).
# The peak is reset (/proc/PID/clear_refs 5) just before Connect and read
# when every file lies whole under its own name and every closing note says
# "TTH verified"; set beside the idle run's peak after Connect, the rise over
# it is the transfers' cost: the target is at most about 300 kB (of 1,000
# bytes) per running transfer. For the 1,000 entries the rise of VmRSS and of
# the whole-life peak over the idle run's: the target is at most about
# 300 kB. Each figure is printed with "met" or "MISSED"; a missed target does
# not fail the run. Each downloaded file is compared with its source.
# Not part of the test suite.
#
#   bash bench/memory_queue.sh <kivo-binary> <repo-root> [MiB] [data-dir]   (default 512)
#
# The hub generates its big files into data-dir the first time and reuses
# them (see bench/download_kivo.sh); without one they go into the scratch
# folder.
. "$(dirname "$0")/lib.sh" "$@"
mib=${3:-512}
data=${4:-$BENCH_WORK/data}
bench_use_peers
queue_xml="$XDG_DATA_HOME/kivo/queue.xml"
mkdir -p "$XDG_DATA_HOME/kivo"

BENCH_HUB_WAIT=600 bench_start_hub --big-mib "$mib" --data-dir "$data"
ncdc_share="$BENCH_WORK/ncdc/pub"
mkdir -p "$ncdc_share"
head -c $((mib / 2 * 1048576 + 77)) /dev/urandom >"$ncdc_share/memq-ncdc-sample.bin"
status=0
PEER_NCDC_TLS_POLICY=prefer PEER_WAIT_SECONDS=120 peer_start_ncdc "$ncdc_share" "memq ncdc sample" || status=$?
[ $status = 0 ] || bench_fail "ncdc did not come up: $PEER_ERROR"

# The three sources: nick, $SR path, local name, size, TTH (from a search).
declare -a NICK SRPATH NAME SIZE TTH SRC
add_source() {
    peer_search "$1" "$2" 30 || bench_fail "no result from $1 for: $2"
    NICK+=("$1") SRPATH+=("$PEER_SR_PATH") NAME+=("${PEER_SR_PATH##*\\}") SIZE+=("$PEER_SIZE")
    TTH+=("$PEER_TTH") SRC+=("$3")
}
add_source Seeder "video kivo demo movie" "$data/Seeder/Video/Kivo Demo Movie.avi"
add_source archivist "backup 2010" "$data/archivist/Archive/big/backup-2010.tar"
add_source ncdcpeer "memq ncdc sample" "$ncdc_share/memq-ncdc-sample.bin"
for i in 0 1 2; do [ -f "${SRC[$i]}" ] || bench_fail "no source file ${SRC[$i]}"; done

xml_text() { local s=${1//&/&amp;}; s=${s//</&lt;}; s=${s//\"/&quot;}; printf '%s' "$s"; }

# queue.xml with the first n of the three sources.
queue_sources() {
    local i
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo '<KivoQueue Version="1">'
        for i in $(seq 0 $(($1 - 1))); do
            printf ' <File Nick="%s" Path="%s" Name="%s" TTH="%s" Size="%s" Held="0" State="waiting" Tries="0" Encoding="cp1251" LastEnd="0"/>\n' \
                "${NICK[$i]}" "$(xml_text "${SRPATH[$i]}")" "$(xml_text "${NAME[$i]}")" "${TTH[$i]}" "${SIZE[$i]}"
        done
        echo '</KivoQueue>'
    } >"$queue_xml"
}

# queue.xml with 1,000 entries of users who are not on the hub: paths,
# names and TTHs of a usual length, each different.
queue_waiting() {
    python3 - "$queue_xml" <<'PY'
import base64, hashlib, sys
out = ['<?xml version="1.0" encoding="UTF-8"?>', '<KivoQueue Version="1">']
for i in range(1000):
    user, n = divmod(i, 20)
    tth = base64.b32encode(hashlib.sha1(b"%d" % i).digest() + b"\0" * 4).decode()[:39]
    name = "%02d - Track Number %d of the Album.mp3" % (n + 1, n + 1)
    out.append(' <File Nick="gone_user_%02d" Path="Music\\Artist %02d\\Album of %d\\%s" Name="%s" TTH="%s"'
               ' Size="%d" Held="0" State="waiting" Tries="0" Encoding="cp1251" LastEnd="0"/>'
               % (user, user, 2000 + user, name, name, tth, 3000000 + i * 4099))
out.append("</KivoQueue>")
open(sys.argv[1], "w").write("\n".join(out) + "\n")
PY
}

# Ends the running kivo, if any (its queue.xml is written by then).
kivo_end() {
    [ -n "$KIVO_PID" ] || return 0
    $BENCH_TMUX kill-session -t kivo 2>/dev/null || true
    bench_until 10 e2e_gone "$KIVO_PID" || bench_fail "kivo did not end"
    KIVO_PID=""
}

# Kivo started anew with only the given favourite (on: TLS offered; off:
# TLS="0"), an empty download folder; returns on its first screen.
kivo_fresh() {
    {
        echo '<?xml version="1.0" encoding="windows-1251"?>'
        echo '<Favorites><Hubs>'
        echo "<Hub Name=\"Bench\" Connect=\"0\" Description=\"\" Nick=\"memq\" Password=\"\" Server=\"127.0.0.1:$HUB_PORT\"$([ "$1" = off ] && echo ' TLS="0"') UserDescription=\"\"/>"
        echo '</Hubs></Favorites>'
    } >"$BENCH_FAVORITES"
    rm -f "$BENCH_WORK"/cwd/*
    bench_start_kivo
}

# Connect with the peak reset just before it.
kivo_connect() {
    echo 5 >"/proc/$KIVO_PID/clear_refs"
    bench_keys F1 2                         # Menu, "Connect"
    bench_wait "Welcome to" 15
}

title() { bench_screen | head -1 | sed -n -e 's/^+ \(.*\) -*+$/\1/p'; }

# An idle run with the queue.xml written by the command: the peak before
# Connect (start-up and the queue's reading), then after Connect and 6 s on
# the main screen the peak and VmRSS, into RUN.
idle_run() {
    kivo_end
    "$@"
    kivo_fresh on
    local pre
    pre=$(bench_status "$KIVO_PID" VmHWM)
    kivo_connect
    sleep 6
    RUN="$pre $(bench_status "$KIVO_PID" VmHWM) $(bench_status "$KIVO_PID" VmRSS)"
}

# A transfer run of the first n sources with TLS on or off: the peak from
# Connect until all are whole and verified, and the most seen at once,
# into RUN.
transfer_run() {
    local n=$1 tls=$2 i most=0 count end
    kivo_end
    queue_sources "$n"
    kivo_fresh "$tls"
    kivo_connect
    end=$((SECONDS + 300))
    while :; do
        count=$(title | sed -n 's/.* \([0-9]*\) downloads\?$/\1/p')
        [ -n "$count" ] && [ "$count" -gt "$most" ] && most=$count
        local whole=1
        for i in $(seq 0 $((n - 1))); do
            [ "$(stat -c %s "$BENCH_WORK/cwd/${NAME[$i]}" 2>/dev/null || echo 0)" = "${SIZE[$i]}" ] || whole=0
        done
        [ $whole = 1 ] && break
        [ $SECONDS -lt $end ] || bench_fail "not all $n files came within 300 s"
        sleep 0.05
    done
    verified() { [ "$(bench_screen | grep -cF ' ::downloaded:: TTH verified')" -ge "$n" ]; }
    bench_until 20 verified || bench_fail "fewer than $n notes say TTH verified"
    for i in $(seq 0 $((n - 1))); do
        cmp -s "${SRC[$i]}" "$BENCH_WORK/cwd/${NAME[$i]}" || bench_fail "${NAME[$i]} differs from its source"
    done
    [ "$most" -ge "$n" ] || [ "$n" = 1 ] || bench_fail "the title never counted $n downloads at once (at most $most)"
    RUN="$(bench_status "$KIVO_PID" VmHWM) $most"
}

no_queue() { rm -f "$queue_xml"; }
idle_run no_queue
read -r idle_pre idle_hwm idle_rss <<<"$RUN"
idle_run queue_waiting
read -r many_pre many_hwm many_rss <<<"$RUN"
[ "$(grep -c '<File ' "$queue_xml")" = 1000 ] || bench_fail "queue.xml no longer holds the 1,000 entries"
transfer_run 1 off
read -r plain1 _ <<<"$RUN"
transfer_run 3 off
read -r plain3 plain_most <<<"$RUN"
transfer_run 1 on
read -r tls1 _ <<<"$RUN"
transfer_run 3 on
read -r tls3 tls_most <<<"$RUN"
kivo_end

BENCH_SHOW_ON_FAIL=0
awk -v ip="$idle_pre" -v ih="$idle_hwm" -v ir="$idle_rss" -v mp="$many_pre" -v mh="$many_hwm" -v mr="$many_rss" \
    -v p1="$plain1" -v p3="$plain3" -v t1="$tls1" -v t3="$tls3" -v pm="$plain_most" -v tm="$tls_most" -v m="$mib" 'BEGIN {
    kb = 1.024                              # /proc counts kB of 1024 bytes; the targets are in kB of 1000
    life_i = ip > ih ? ip : ih; life_m = mp > mh ? mp : mh
    printf "all figures in kB of 1024 bytes (/proc); rises also in kB of 1000 bytes\n"
    printf "idle, empty queue:           VmRSS %6d   peak before Connect %6d, after %6d\n", ir, ip, ih
    printf "idle, 1,000 waiting entries: VmRSS %6d   peak before Connect %6d, after %6d\n", mr, mp, mh
    r = (mr - ir) * kb; l = (life_m - life_i) * kb
    printf "  1,000 entries add: VmRSS %.0f kB, whole-life peak %.0f kB (target <= about 300 kB): %s\n", r, l,
        (r <= 300 && l <= 300) ? "met" : "MISSED"
    printf "transfers (%d, %d/2, %d/2 MiB), peak from Connect to the last verified file, beside idle %d:\n", m, m, m, ih
    printf "  plain, 1:            %6d  (+%.0f kB)\n", p1, (p1 - ih) * kb
    printf "  plain, 3 at once:    %6d  (+%.0f kB, %.0f kB a transfer; %d seen at once): %s\n", p3, (p3 - ih) * kb,
        (p3 - ih) * kb / 3, pm, (p3 - ih) * kb / 3 <= 300 ? "met" : "MISSED"
    printf "  TLS, 1:              %6d  (+%.0f kB)\n", t1, (t1 - ih) * kb
    printf "  TLS, 3 at once:      %6d  (+%.0f kB, %.0f kB a transfer; %d seen at once): %s\n", t3, (t3 - ih) * kb,
        (t3 - ih) * kb / 3, tm, (t3 - ih) * kb / 3 <= 300 ? "met" : "MISSED"
}'
