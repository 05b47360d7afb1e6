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

# Two users share the same alpha.txt (one TTH): one entry, "2 users" in its
# user column, and Info lists both with their slots.
e2e_keys Up Up                                  # back into the search field
e2e_keys BSpace BSpace BSpace BSpace BSpace BSpace BSpace BSpace BSpace BSpace BSpace BSpace
e2e_type "alpha.txt"
e2e_keys Enter
e2e_wait "2 users"
row=$(e2e_screen | grep -F '2 users')
grep -qE 'alpha\.txt +6 B 2 users +[0-9]+/[0-9]+ *\|$' <<<"$row" || e2e_fail "not one entry in columns: $row"
[ "$(e2e_screen | grep -cE '^\|[> ].*alpha\.txt')" = 1 ] || e2e_fail "the sources are listed apart"
e2e_keys F1 1                                   # "Info" on the selected (first) entry
e2e_wait "TTH:NO7SPF3VBJB4LSTKNBV63REQKOMU5VMZLRM6ZLI"
screen=$(e2e_screen)
grep -qE '^\| *linux_fan [0-9]+/[0-9]+ ' <<<"$screen" || e2e_fail "Info lacks linux_fan and his slots"
grep -qE '^\| *tux [0-9]+/[0-9]+ ' <<<"$screen" || e2e_fail "Info lacks tux and his slots"
e2e_keys Enter
e2e_wait_gone "TTH:NO7SPF3"

e2e_keys F1 6                                   # "Exit search"
e2e_wait_gone "Download"
e2e_wait "Welcome to"

e2e_exit                                   # Menu, "exit"
e2e_pass "search sent, result listed, Full, Info, one entry with 2 users and its sources, Exit search"
