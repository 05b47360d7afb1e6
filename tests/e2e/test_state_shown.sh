#!/usr/bin/env bash
# The session always shown, in the real binary against the demo hub: the main
# screen's title ("not connected", then the hub's name and user count) and the
# notes of Connect, Disconnect and a refused Connect, each on a line of its
# own; the Users screen empty after Disconnect; Esc (the Back key) leaving
# Search, Users, Downloads and Settings; on the results screen the status
# line, the first result selected in reverse video before any arrow is
# pressed, and Enter on it opening its Info.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
# A port on 127.0.0.1 where nothing listens.
refused_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" watcher
e2e_favorites "Nowhere" 127.0.0.1 "$refused_port" watcher
e2e_start_kivo

title_is() { [ "$(e2e_title)" = "$1" ]; }
title_matches() { e2e_title | grep -qE "$1"; }
wait_title() { e2e_until "${2:-10}" title_is "$1" || e2e_fail "title is \"$(e2e_title)\", not \"$1\""; }

e2e_wait "|Pelmark tarvol v 0.05 "
wait_title "not connected"

# Esc, the Back key, leaves each sub-screen for the main screen.
e2e_keys F2                                     # Search
e2e_wait "+ Search -"
e2e_keys Escape
e2e_wait_main
e2e_keys F1 8                                   # Users
e2e_wait "EXIT |"
e2e_keys Escape
e2e_wait_main
e2e_keys F1 5                                   # Downloads
e2e_wait "EXIT |"
e2e_wait "|>the queue is empty "                       # and how to add to it
e2e_shows "to add: Download on a search result" || e2e_fail "the empty queue does not say how to add"
e2e_keys Escape
e2e_wait_main
e2e_keys F1 9                                   # Option
e2e_wait "+ Settings -"
e2e_keys Escape
e2e_wait_main
wait_title "not connected"

# Connect: its notes start lines of their own; the title follows.
e2e_keys F1 2
e2e_wait "|connecting to 127.0.0.1:$HUB_PORT... " 5
e2e_wait "|connected to 127.0.0.1:$HUB_PORT " 15
e2e_until 10 title_matches '^Kivo Demo Hub \([0-9]+ users\)$' || e2e_fail "title once connected: $(e2e_title)"
users=$(e2e_title | sed -e 's/.*(\([0-9]*\) users)$/\1/')
[ "$users" -gt 40 ] || e2e_fail "the title counts $users users"
e2e_keys F1 8
e2e_wait "Alice"
e2e_keys Escape
e2e_wait_main

# Search: the status line, the first result selected (reverse video) with no
# arrow pressed, the words kept, Enter on the selected result opens its Info.
e2e_keys F2
e2e_wait "+ Search -"
e2e_type "keypad blues"
e2e_keys Enter
e2e_wait "02 - Keypad Blues.mp3" 10
e2e_until 10 e2e_shows_text "result" || e2e_fail "no result count on the status line"
e2e_shows "[keypad blues" || e2e_fail "the search field lost its words"
selected=$($E2E_TMUX capture-pane -e -p -t kivo | grep -F "02 - Keypad Blues.mp3" | head -1)
grep -qF $'\e[7m' <<<"$selected" || e2e_fail "the first result is not in reverse video: $(cat -v <<<"$selected")"
e2e_keys Down Down                              # past "OK" into the list; the selection stays
e2e_keys Enter                                  # the Action key on the selected result
e2e_wait "user: Seeder"
e2e_keys Enter                                  # closes the box
e2e_wait_gone "user: Seeder"
e2e_keys Escape                                 # the list has the focus: Back leaves
e2e_wait_main

# Disconnect: its note, "not connected", and nobody on the Users screen.
e2e_keys F1 3
e2e_wait "|disconnected from 127.0.0.1:$HUB_PORT " 5
wait_title "not connected"
e2e_keys F1 8
e2e_wait "EXIT |"
e2e_shows "Alice" && e2e_fail "the Users screen lists users after Disconnect"
e2e_keys Escape
e2e_wait_main

# A Connect nobody answers: one note with the reason; still "not connected".
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_keys Enter                                  # the favourites' drop-down
e2e_wait "|2 Nowhere "
e2e_keys 2
e2e_wait "[$refused_port "
e2e_keys F1                                     # "OK"
e2e_wait_main
e2e_keys F1 2
e2e_wait "|connecting to 127.0.0.1:$refused_port... " 5
e2e_wait_text "cannot connect to 127.0.0.1:$refused_port: connection refused" 10
wait_title "not connected"

e2e_exit
e2e_pass "title and notes through Connect, Disconnect and a refused Connect; Esc from four screens; selected result in reverse video, Enter opens its Info"
