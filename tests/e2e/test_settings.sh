#!/usr/bin/env bash
# The settings screen: without a favourites file the defaults show and an
# empty file is created; with two favourite hubs, each a demo hub on its own
# free port and the second named in Cyrillic (the file is in code page 1251),
# "Option" lists both names, the fields start from the first favourite;
# choosing the second in the drop-down puts its port into the port field but
# keeps the nick; "CANCEL" stores nothing (Connect still reaches the first
# hub), "OK" stores it (Connect, while connected, reaches the second hub).
. "$(dirname "$0")/lib.sh" "$@"

# No favourites file: the defaults show, and an empty file is left beside
# the program.
e2e_start_kivo
e2e_wait "|Pelmark tarvol v 0.05 "
e2e_keys F1 9
e2e_wait "+ Settings -"
for field in "127.0.0.1" "2225" "[i]mpx200" "1234567890"; do e2e_wait "[$field "; done
e2e_keys F2
e2e_wait_main
e2e_exit
[ -f "$E2E_FAVORITES" ] && [ ! -s "$E2E_FAVORITES" ] || e2e_fail "no empty Favorites.xml beside the program"

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
    e2e_wait "[firstnick "          # the favourite's nick is not taken
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
e2e_keys F1 2                       # Connect again, now to the second hub
e2e_wait_text "<Hub-Security> Welcome to Second Demo, firstnick!" 15

# The stored settings show when the screen opens again.
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[$second_port "
e2e_keys F2
e2e_wait_main

e2e_exit
e2e_pass "both favourites listed; CANCEL kept the first hub, OK and Connect reached the second"
