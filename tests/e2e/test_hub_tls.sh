#!/usr/bin/env bash
# Kivo and the demo hub over TLS (nmdcs://): About names the TLS library; the
# first favourite, nmdcs:// with the hub's keyprint, logs in over TLS (the
# welcome, and Mira answering a line that names her); Option shows it as
# nmdcs://; the title ends in "TLS"; a private message to PenPal, whose
# answer marks the title and the Private list until its conversation is
# opened, and one from that conversation; one to a nick not on the hub is
# refused; the second favourite, the same hub with a wrong keyprint, is
# refused with its note naming both keyprints, the title back at "not
# connected" and no socket left open to the hub.
#
# The favourites' nick is one character, so the default nick "[i]mpx200" stays.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_tls_hub
WRONG="SHA256/$(printf 'A%.0s' $(seq 1 52))"
[ "$KEYPRINT" != "$WRONG" ] || e2e_fail "the keyprint is the wrong one"

e2e_favorites "Secure" "nmdcs://127.0.0.1" "$TLS_PORT?kp=$KEYPRINT" a
e2e_favorites "Forged" "nmdcs://127.0.0.1" "$TLS_PORT?kp=$WRONG" a
e2e_start_kivo
e2e_wait "|Pelmark tarvol v 0.05 "

e2e_keys F1 6
e2e_wait "+ About -"
e2e_wait "TLS: mbed TLS 2."
e2e_keys Enter
e2e_wait_gone "+ About -"
e2e_wait_main

# The first favourite: over TLS with the keyprint it names; the title says TLS.
e2e_keys F1 2
e2e_wait_text "connecting to 127.0.0.1:$TLS_PORT... connected to 127.0.0.1:$TLS_PORT <Hub-Security> This hub is running demohub 1.0" 15
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, [i]mpx200!" 10
e2e_type "hello Mira, over TLS"
e2e_keys Enter
e2e_wait "|<[i]mpx200> hello Mira, over TLS "
e2e_wait "|<Mira> " 10
e2e_until 5 test "$(e2e_kivo_sockets established "$TLS_PORT")" = 1 || e2e_fail "no connection to the TLS port"
title_ends() { e2e_title | grep -qE -- "$1\$"; }
e2e_until 5 title_ends ' \([0-9]+ users\) TLS' || e2e_fail "the title has no TLS mark: $(e2e_title)"

# Private messages: PenPal's answer marks the title and the Private list
# until its conversation is opened; the conversation sends to PenPal; a
# nick that is not on the hub gets nothing.
e2e_type ">PenPal hi over TLS"
e2e_keys Enter
e2e_wait "|[to PenPal] <[i]mpx200> hi over TLS "
e2e_wait "|>PenPal> You wrote: hi over TLS " 10
e2e_until 5 title_ends ' TLS \[PM: PenPal\]' || e2e_fail "the title has no PM mark: $(e2e_title)"
e2e_type ">Nobody hello"
e2e_keys Enter
e2e_wait "|Nobody is not on the hub: not sent "
e2e_keys F1 0
e2e_wait "+ Private -"
e2e_wait ">PenPal (1) "   # selected: the newest first
e2e_keys Enter
e2e_wait "+ Private: PenPal -"
e2e_wait "|>PenPal> You wrote: hi over TLS "
e2e_type "and again"
e2e_keys Enter
e2e_wait "|[to PenPal] <[i]mpx200> and again "
e2e_wait "|>PenPal> You wrote: and again " 10
e2e_keys Escape
e2e_wait "+ Private -"
e2e_wait ">PenPal "
e2e_shows "PenPal (" && e2e_fail "the conversation read is still counted"
e2e_keys Escape
e2e_wait_main
e2e_until 5 title_ends ' \([0-9]+ users\) TLS' || e2e_fail "the PM mark stayed: $(e2e_title)"

# Option shows the hub as nmdcs://; the second favourite is chosen.
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[nmdcs://127.0.0.1 "
e2e_wait "[$TLS_PORT "
e2e_keys Enter                  # the favourites list has the focus: open it
e2e_wait "|2 Forged "
e2e_keys 2
e2e_wait_gone "|2 Forged "
e2e_keys F1                     # "OK"
e2e_wait_main

# Its keyprint is not the hub's: refused, one note, the old connection gone.
e2e_keys F1 2
e2e_wait_text "cannot connect to 127.0.0.1:$TLS_PORT: TLS handshake failed: the hub's keyprint does not match: expected $WRONG, seen $KEYPRINT" 15
not_connected() { [ "$(e2e_title)" = "not connected" ]; }
e2e_until 5 not_connected || e2e_fail "the title is $(e2e_title)"
e2e_until 5 test "$(e2e_kivo_sockets connected "$TLS_PORT")" = 0 || e2e_fail "a connection to the TLS port stayed open"

e2e_exit
e2e_terminal_given_back
e2e_pass "About names TLS, login, chat and a private conversation over nmdcs:// with the keyprint, the title's TLS and PM marks, a wrong keyprint refused with both keyprints named"
