#!/usr/bin/env bash
# Kivo as a person runs it against the demo hub: the start-up banner, Traffic
# and About before connecting, Connect with its notice and the hub's first
# reply, a public line and a Cyrillic line sent and echoed back by the hub,
# the bytes sent counted exactly, Clear Chat, a 600-character paste that
# arrives whole, Back in the input line, the hub going away (noted, sends
# into the closed connection harmless, Connect refused), and "exit" giving
# the terminal back.
#
# The favourite's nick is one character, so the default nick "[i]mpx200" stays.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" a
e2e_start_kivo

e2e_wait "|Pelmark tarvol v 0.05 "
e2e_wait "| Menu"
e2e_wait "Search |"

# Traffic before any connection: four zeros.
e2e_keys F1 7
e2e_wait "+ Traffic count -"
screen=$(e2e_screen)
for line in "In: 0 kbytes" "Out: 0 kbytes" "in 0 bytes" "out 0 bytes"; do
    grep -qF "| $line " <<<"$screen" || e2e_fail "Traffic box lacks '$line'"
done
e2e_keys Enter
e2e_wait_gone "Traffic count"
e2e_wait "|Pelmark tarvol v 0.05 "

e2e_keys F1 6
e2e_wait "+ About -"
e2e_wait "Kivo 0.05"
e2e_keys Enter
e2e_wait_gone "+ About -"
e2e_wait_main

# Connect: "connecting to" starts a line below the banner (the banner has no
# line break), the first reply is not shown raw after "connected to": its chat
# lines, and those after it, are dispatched, each once.
e2e_keys F1 2
e2e_wait_text "Pelmark tarvol v 0.05 connecting to 127.0.0.1:$HUB_PORT... connected to 127.0.0.1:$HUB_PORT <Hub-Security> This hub is running demohub 1.0" 15
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, [i]mpx200!" 10
[ "$(e2e_text | grep -oF "This hub is running demohub" | wc -l)" = 1 ] || e2e_fail "the hub's notice is not shown once"
e2e_shows "\$Hello" && e2e_fail "the first reply is shown raw"

# Sets TRAFFIC to N of "in N bytes" or "out N bytes" in the Traffic box,
# checks the kbytes line against it, and closes the box.
traffic_bytes() {
    e2e_keys F1 7
    e2e_wait "+ Traffic count -"
    local screen value kbytes
    screen=$(e2e_screen)
    value=$(grep -oE "\| $1 [0-9]+ bytes" <<<"$screen" | grep -oE '[0-9]+')
    kbytes=$(grep -oE "\| ${1^}: [0-9]+ kbytes" <<<"$screen" | grep -oE '[0-9]+')
    [ -n "$value" ] && [ "$kbytes" = $((value >> 10)) ] || e2e_fail "Traffic box: $1 $value bytes, ${kbytes} kbytes"
    e2e_keys Enter
    e2e_wait_gone "Traffic count"
    TRAFFIC=$value
}

traffic_bytes in
in_before=$TRAFFIC
traffic_bytes out
out_before=$TRAFFIC
[ "$in_before" -gt 20 ] || e2e_fail "bytes received after Connect: $in_before"

e2e_type "hello from e2e"
e2e_wait "[hello from e2e"
e2e_keys Enter
e2e_wait "|<[i]mpx200> hello from e2e "
e2e_wait "|[                                                                            ]|"
# "<[i]mpx200> hello from e2e |": one send, counted to the byte.
traffic_bytes out
out_after=$TRAFFIC
[ "$out_after" = $((out_before + 28)) ] || e2e_fail "bytes sent went from $out_before to $out_after, not +28"

# Cyrillic, including the code page's own letters Ё ё and №, both ways.
e2e_type "Привет, Ёжик и ёлка №5"
e2e_keys Enter
e2e_wait "|<[i]mpx200> Привет, Ёжик и ёлка №5 "
traffic_bytes out
out_cyrillic=$TRAFFIC
[ "$out_cyrillic" = $((out_after + 36)) ] || e2e_fail "Cyrillic line not sent one byte a letter: +$((out_cyrillic - out_after))"

# Clear Chat empties the view, the banner too.
e2e_keys F1 4
e2e_wait_gone "Pelmark tarvol"
e2e_wait_gone "<[i]mpx200>"

# A paste of 600 characters arrives in one burst, more than the keys the
# program queues at once: every character reaches the input line and the hub.
paste="Вставка:$(printf ' слово word%.0s' $(seq 1 53)) конец!!!"
[ ${#paste} = 600 ] || e2e_fail "the paste is ${#paste} characters"
e2e_type "$paste"
e2e_keys Enter
e2e_wait_text "<[i]mpx200> Вставка: слово word слово word" 10
e2e_wait_text "слово word конец!!!" 10
traffic_bytes out
[ "$TRAFFIC" = $((out_cyrillic + 614)) ] || e2e_fail "a 600-character paste sent $((TRAFFIC - out_cyrillic - 14)) characters"

# Backspace deletes in the input line; Esc (Back) neither deletes there nor
# leaves the main screen.
e2e_type "abc"
e2e_keys BSpace
e2e_wait "|[ab                                                                          ]|"
e2e_keys Escape
e2e_wait_main
e2e_shows "|[ab                                                                          ]|" || e2e_fail "Esc changed the input line"
e2e_keys BSpace BSpace BSpace
e2e_wait "|[                                                                            ]|"

# The hub goes away: the close is noted, lines sent into the closed
# connection do not end the program, and Connect reports the refusal.
kill "$HUB_PID"
e2e_wait "connection to 127.0.0.1:$HUB_PORT lost: closed by the hub"
e2e_type "into the void"
e2e_keys Enter
e2e_type "and again"
e2e_keys Enter
e2e_wait "|[                                                                            ]|"
e2e_keys F1 2
e2e_wait_text "lost: closed by the hub connecting to 127.0.0.1:$HUB_PORT... cannot connect to 127.0.0.1:$HUB_PORT: connection refused"
[ ! -s "$E2E_WORK/kivo-exit-status" ] || e2e_fail "kivo ended after the hub went away"

e2e_exit
e2e_terminal_given_back
e2e_pass "banner, Traffic, About, Connect, public and Cyrillic chat, Clear Chat, long paste, exit with 0 and the terminal back"
