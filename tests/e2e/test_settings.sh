#!/usr/bin/env bash
# The settings screen with two favourite hubs, each a demo hub on its own free
# port: "Option" lists both names, the fields start from the first favourite;
# choosing the second in the drop-down puts its port into the port field but
# keeps the nick; "CANCEL" stores nothing (Connect still reaches the first
# hub), "OK" stores it (Connect, while connected, reaches the second hub).
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
first_port=$HUB_PORT
e2e_start_hub --name "Second Demo"
second_port=$HUB_PORT
e2e_favorites "First" 127.0.0.1 "$first_port" firstnick
e2e_favorites "Second" 127.0.0.1 "$second_port" secondnick
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
    e2e_wait "|2 Second "
    e2e_keys 2
    e2e_wait_gone "|1 First "
    e2e_wait "[Second "
    e2e_wait "[$second_port "
    e2e_wait "[firstnick "          # the favourite's nick is not taken
}

e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[$first_port "
e2e_keys F2                         # "CANCEL"
e2e_wait "+ Kivo -"

choose_second
e2e_keys F2                         # "CANCEL": nothing stored
e2e_wait "+ Kivo -"
e2e_keys F1 2
e2e_wait_text "\$Hello firstnick|\$HubName Kivo Demo Hub|" 15
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, firstnick!" 10

choose_second
e2e_keys F1                         # "OK"
e2e_wait "+ Kivo -"
e2e_keys F1 2                       # Connect again, now to the second hub
e2e_wait_text "\$Hello firstnick|\$HubName Second Demo|" 15
e2e_wait_text "<Hub-Security> Welcome to Second Demo, firstnick!" 10

# The stored settings show when the screen opens again.
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[$second_port "
e2e_keys F2
e2e_wait "+ Kivo -"

e2e_keys F1 1
e2e_wait_exit 0
e2e_pass "both favourites listed; CANCEL kept the first hub, OK and Connect reached the second"
