#!/usr/bin/env bash
# The phone's own size, 36x16: the main screen shows its banner, input line and
# both soft-key labels; the menu shows all nine entries; Connect and a chat line
# work; the Users and settings screens show their soft keys, the settings its
# last row; the Downloads screen its title and how to add to an empty queue. Resized while the
# main screen, the Users screen or a message box shows, the screen is drawn
# whole at each new size. "exit" gives the terminal back.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" small
e2e_start_kivo 36 16

main_keys="| Menu                      Search |"
e2e_wait_main
e2e_wait "|Pelmark tarvol v 0.05 "
e2e_wait "$main_keys"
[ "$(e2e_screen | sed -n 15p)" = "$main_keys" ] || e2e_fail "soft keys not on the row above the bottom"
e2e_wait "|[                                ]|"

e2e_keys F1
for entry in "1 exit" "2 Connect" "3 Disconnect" "4 Clear Chat" "5 Downloads" "6 About" "7 Traffic" "8 Users" "9 Option"; do
    e2e_wait "|$entry "
done
e2e_keys 2
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, small! Search for mp3 or music" 15
e2e_wait "$main_keys"

e2e_type "tiny Привет"
e2e_keys Enter
e2e_wait "|<small> tiny Привет "

e2e_keys F1 8
e2e_wait "| Menu                        EXIT |"
e2e_wait "|>Alice   "
e2e_keys F2
e2e_wait "$main_keys"

e2e_keys F1 5
e2e_wait "+ Downloads -"
e2e_wait "|>the queue is empty "
e2e_keys F2
e2e_wait "$main_keys"

e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "| OK                        CANCEL |"
e2e_wait "|At once   [3"
e2e_wait "|TLS port  ["                              # the last row keeps its place
e2e_keys F2
e2e_wait "$main_keys"

# Resized, every screen is drawn whole at the new size, with nothing left
# over from the old one: the main screen, the Users screen, a message box.
$E2E_TMUX resize-window -t kivo -x 80 -y 24
e2e_wait_frame 80 24
e2e_wait_main
e2e_wait "| Menu                                                                  Search |"
e2e_wait "|<small> tiny Привет "
e2e_keys F1 8
e2e_wait "|>Alice   "
$E2E_TMUX resize-window -t kivo -x 36 -y 16
e2e_wait_frame 36 16
e2e_wait "| Menu                        EXIT |"
e2e_wait "|>Alice   "
e2e_keys F2
e2e_wait_frame 36 16
e2e_wait "$main_keys"
e2e_keys F1 6
e2e_wait "+ About -"
$E2E_TMUX resize-window -t kivo -x 60 -y 20
e2e_wait_frame 60 20
e2e_wait "+ About -"
e2e_keys Enter
e2e_wait_gone "+ About -"
$E2E_TMUX resize-window -t kivo -x 36 -y 16
e2e_wait_frame 36 16
e2e_wait_main
e2e_wait "$main_keys"
e2e_wait "|<small> tiny Привет "

e2e_exit
e2e_terminal_given_back
e2e_pass "36x16: soft keys, menu, Connect, chat, Users, settings, resize, exit"
