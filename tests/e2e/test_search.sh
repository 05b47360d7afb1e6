#!/usr/bin/env bash
# Passive search in the real binary against the demo hub: two words sent from
# the search screen, the result listed while the screen is open, its path after
# "Full", its three "Info" lines, and "Exit search" back to the main screen.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" searcher
e2e_start_kivo

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

e2e_keys F2                                     # the "Search" soft key
e2e_wait "Download"
e2e_type "keypad blues"
e2e_keys Enter                                  # the Action key: send the search
e2e_wait "02 - Keypad Blues.mp3"
e2e_screen | grep -qF 'Music\Kivo Demo Band' && e2e_fail "short-name mode shows the path"

e2e_keys F1 3                                   # "Full"
e2e_wait 'Music\Kivo Demo Band\02 - Keypad Blues.mp3'

e2e_keys Down Down                              # past "OK" into the list: its entry is selected
e2e_keys F1 1                                   # "Info"
e2e_wait "user: Seeder"
screen=$(e2e_screen)
path_row=$(grep -nF 'Music\Kivo Demo Band\02 - Keypad Blues.mp3' <<<"$screen" | head -1 | cut -d: -f1)
[ "$(sed -n "$((path_row + 1))p" <<<"$screen" | grep -cF 'user: Seeder')" = 1 ] || e2e_fail "no user line under the path"
[ "$(sed -n "$((path_row + 2))p" <<<"$screen" | grep -cF 'size:2097671 bytes')" = 1 ] || e2e_fail "no size line"
e2e_keys Enter                                  # closes the box
e2e_wait_gone "user: Seeder"

e2e_keys F1 6                                   # "Exit search"
e2e_wait_gone "Download"
e2e_wait "Welcome to"

e2e_exit                                   # Menu, "exit"
e2e_pass "search sent, result listed, Full, Info and Exit search"
