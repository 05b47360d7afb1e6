#!/usr/bin/env bash
# Active mode with the demo hub, Kivo's Mode left at Auto:
# - on 127.0.0.1 Kivo is active: About says "mode: active on <port>, TLS on
#   <port>" and its TLS keyprint, and the file of Passive (a passive user,
#   M:P) arrives whole, since Kivo's own $ConnectToMe makes Passive connect;
# - guards: while connected, 100 TCP connections to Kivo's listener (silent,
#   "$MyNick stranger|$Lock x Pk=y|", or junk), then 100,000 $SR datagrams
#   to its UDP port, first with no search, then with a search running for
#   words that nothing matches: Kivo's open descriptors stay within
#   INCOMING_HANDSHAKES (8) and a few more of where they were, its resident
#   memory within 2 MiB, the menu opens and closes after each flood, and the
#   results screen shows none of the flood: "no results", until three
#   datagrams that do name the words come and are listed ("3 results");
# - with a hub whose $UserIP says 203.0.113.5 Kivo is passive ("mode:
#   passive: the hub sees 203.0.113.5, not this machine") and the download
#   from Passive fails at once: two passive clients cannot connect.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

DATA="$E2E_WORK/data"
e2e_start_hub -vv                               # every message logged
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
e2e_start_kivo
e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# About names the mode, both ports and the keyprint.
about() {
    e2e_keys F1 6                               # Menu, "About"
    e2e_wait "+ About -"
    ABOUT=$(e2e_text)
    e2e_keys Enter
    e2e_wait_gone "+ About -"
}
about
mode=$(grep -oE 'mode: active on [0-9]+, TLS on [0-9]+' <<<"$ABOUT") || e2e_fail "About does not say active: $ABOUT"
PORT=$(sed -E 's/mode: active on ([0-9]+),.*/\1/' <<<"$mode")
grep -qE 'TLS keyprint: SHA256/[A-Z2-7]{52}' <<<"$ABOUT" || e2e_fail "About shows no keyprint: $ABOUT"
grep -q "MyINFO \$ALL getter [^|]*,M:A," "$E2E_WORK/hub0.log" || e2e_fail "Kivo's \$MyINFO does not say M:A"

e2e_download "passive-notes" "passive-notes.txt"
e2e_wait_notes "passive-notes.txt" 15 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/passive-notes.txt" "$DATA/Passive/Firewalled/passive-notes.txt"
grep -q "<- getter b'\\\$ConnectToMe Passive 127\\.0\\.0\\.1:" "$E2E_WORK/hub0.log" ||
    e2e_fail "Kivo sent no \$ConnectToMe of its own to Passive"

# ---- Floods: descriptors, memory, keys, results ----
KIVO_PID=$(cat "$E2E_WORK/kivo.pid")
fds() { ls "/proc/$KIVO_PID/fd" | wc -l; }
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$KIVO_PID/status"; }
FDS0=$(fds)
RSS0=$(rss)
FD_MAX=$((FDS0 + 8 + 4))
RSS_MAX=$((RSS0 + 2048))
# Runs the python flood in the background and samples kivo meanwhile;
# fails on a descriptor count or resident size past the bounds.
flood() {
    local what=$1 pid peak_fds=0 peak_rss=0 n r
    shift
    python3 - "$PORT" "$what" "$@" <<'PY' &
import socket, sys, time
port, what = int(sys.argv[1]), sys.argv[2]
if what == "tcp":
    conns = []
    for i in range(100):
        s = socket.socket()
        s.settimeout(2)
        try:
            s.connect(("127.0.0.1", port))
            if i % 3 == 1:
                s.sendall(b"$MyNick stranger|$Lock x Pk=y|")
            elif i % 3 == 2:
                s.sendall(bytes((i * 7 + k) % 256 for k in range(3000)))
        except OSError:
            pass
        conns.append(s)
    time.sleep(2)
    for s in conns:
        s.close()
else:
    count, name = int(sys.argv[3]), sys.argv[4]
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    for i in range(count):
        sr = "$SR flooder %s-%d.bin\x05%d 1/1\x05TTH:%s (127.0.0.1:411)|" % (name, i, 1000 + i, "A" * 39)
        try:
            u.sendto(sr.encode(), ("127.0.0.1", port))
        except OSError:
            pass
    u.close()
PY
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        n=$(fds); r=$(rss)
        [ "$n" -gt "$peak_fds" ] && peak_fds=$n
        [ "$r" -gt "$peak_rss" ] && peak_rss=$r
        sleep 0.1
    done
    wait "$pid" || e2e_fail "the $what flood did not run"
    [ "$peak_fds" -le "$FD_MAX" ] || e2e_fail "$what flood: $peak_fds descriptors open (from $FDS0)"
    [ "$peak_rss" -le "$RSS_MAX" ] || e2e_fail "$what flood: VmRSS $peak_rss kB (from $RSS0)"
    FLOOD_SEEN+="$what: $peak_fds fds, $peak_rss kB; "
}
menu_answers() {
    e2e_keys F1
    e2e_wait "Clear Chat" 5
    e2e_keys Escape
    e2e_wait_gone "Clear Chat" 5
}
settled_fds() { [ "$(fds)" -le $((FDS0 + 1)) ]; }
FLOOD_SEEN=""

flood tcp
menu_answers
e2e_until 20 settled_fds || e2e_fail "the descriptors stay at $(fds) (from $FDS0) after the connections ended"
flood udp 100000 zqxwords
menu_answers
e2e_wait_main

e2e_keys F2                                     # "Search"
e2e_wait "Download"
e2e_type "zqxnomatch wvkjunk"
e2e_keys Enter
flood udp 100000 other
sleep 1
e2e_wait "no results" 15
e2e_shows_not "flooder" || e2e_fail "a flooded result is shown"
sleep 1                                         # the kernel's queue read away
flood udp 3 zqxnomatch-wvkjunk
e2e_wait "3 results" 5
[ "$(e2e_rows | grep -c 'zqxnomatch-wvkjunk-[0-2]\.bin')" = 3 ] || e2e_fail "the three results are not listed: $(e2e_rows)"
e2e_keys F1 6                                   # "Exit search"
e2e_wait_main
menu_answers
e2e_until 10 settled_fds || e2e_fail "the descriptors stay at $(fds) (from $FDS0)"
[ "$(rss)" -le "$RSS_MAX" ] || e2e_fail "VmRSS $(rss) kB at the end (from $RSS0)"
e2e_exit

# ---- Behind a router as the hub sees it: passive ----
e2e_start_hub -vv --user-ip 203.0.113.5
rm "$E2E_FAVORITES"
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
e2e_start_kivo
e2e_wait "Pelmark tarvol"
e2e_keys F1 2
e2e_wait "Welcome to" 15
about_passive() { about; grep -qF "mode: passive: the hub sees 203.0.113.5, not this machine" <<<"$ABOUT"; }
e2e_until 10 about_passive || e2e_fail "About does not say passive: $ABOUT"
e2e_download "passive-notes" "passive-notes.txt"
e2e_wait_text "::download failed:: Passive is passive too: two passive clients cannot connect" 5
e2e_exit
e2e_pass "active on $PORT: Passive's file over Kivo's \$ConnectToMe; floods kept at $FLOOD_SEEN(bounds $FD_MAX fds, $RSS_MAX kB); flooded results never shown; passive behind 203.0.113.5 and Passive refused at once"
