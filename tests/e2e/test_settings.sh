#!/usr/bin/env bash
# The settings screen: without a favourites file the defaults show and an
# empty file is created in the settings folder (private to the user), with a
# start-up line that says what Connect uses; with two favourite hubs, each a demo hub on its own
# free port and the second named in Cyrillic (the file is in code page 1251),
# "Option" lists both names, the fields start from the first favourite;
# choosing the second in the drop-down puts its port and nick into the
# fields; "CANCEL" stores nothing (Connect still reaches the first hub), "OK"
# stores it and says the new nick counts from the next Connect (Connect,
# while connected, says it left the first hub and reaches the second).
. "$(dirname "$0")/lib.sh" "$@"

# No favourites file: the defaults show, and an empty file is made in the
# settings folder, not beside the program.
e2e_start_kivo
e2e_wait "|Pelmark tarvol v 0.05 "
e2e_wait_text "no favourite hubs yet in $XDG_CONFIG_HOME/kivo/Favorites.xml: Connect uses 127.0.0.1:2225"
e2e_keys F1 9
e2e_wait "+ Settings -"
for field in "127.0.0.1" "2225" "[i]mpx200" "1234567890"; do e2e_wait "[$field "; done
e2e_keys F2
e2e_wait_main
e2e_exit
made="$XDG_CONFIG_HOME/kivo/Favorites.xml"
[ -f "$made" ] && [ ! -s "$made" ] || e2e_fail "no empty Favorites.xml in the settings folder"
[ "$(stat -c %a "$XDG_CONFIG_HOME/kivo")" = 700 ] || e2e_fail "the settings folder is not private"
[ ! -e "$E2E_FAVORITES" ] || e2e_fail "a Favorites.xml was made beside the program"

# Two favourites, the file in code page 1251 as its header says.
e2e_start_hub
first_port=$HUB_PORT
e2e_start_hub --name "Second Demo"
second_port=$HUB_PORT
e2e_favorites "First" 127.0.0.1 "$first_port" firstnick
e2e_favorites "Второй хаб" 127.0.0.1 "$second_port" secondnick
iconv -f UTF-8 -t CP1251 "$E2E_FAVORITES" >"$E2E_FAVORITES.1251"
mv "$E2E_FAVORITES.1251" "$E2E_FAVORITES"
e2e_start_kivo
e2e_wait "|Pelmark tarvol v 0.05 "

# Opens the settings screen and chooses the second favourite.
choose_second() {
    e2e_keys F1 9
    e2e_wait "+ Settings -"
    e2e_wait "| OK "
    e2e_wait "[firstnick "
    e2e_keys Enter                  # the favourites list has the focus: open it
    e2e_wait "|1 First "
    e2e_wait "|2 Второй хаб "
    e2e_keys 2
    e2e_wait_gone "|1 First "
    e2e_wait "[Второй хаб "
    e2e_wait "[$second_port "
    e2e_wait "[secondnick "         # the favourite's nick is taken too
}

e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[$first_port "
e2e_keys F2                         # "CANCEL"
e2e_wait_main

choose_second
e2e_keys F2                         # "CANCEL": nothing stored
e2e_wait_main
e2e_keys F1 2
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, firstnick!" 15

choose_second
e2e_keys F1                         # "OK"
e2e_wait_main
e2e_wait_text "the new nick is used from the next Connect"
e2e_keys F1 2                       # Connect again, now to the second hub
e2e_wait_text "disconnected from 127.0.0.1:$first_port" 15
e2e_wait_text "<Hub-Security> Welcome to Second Demo, secondnick!" 15

# The stored settings show when the screen opens again.
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[$second_port "
e2e_keys F2
e2e_wait_main

e2e_exit
e2e_pass "both favourites listed; CANCEL kept the first hub, OK took the second's nick and Connect left the first for the second"
