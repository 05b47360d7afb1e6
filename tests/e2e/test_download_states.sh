#!/usr/bin/env bash
# What the Downloads screen and the chat say about a download, in the real
# binary against the demo hub:
# - Slowpoke's song at 100 KiB/s: the state line reads "receiving from
#   Slowpoke" with a percentage and a speed, then "stopped from Slowpoke"
#   after the menu's "Stop";
# - after a burst of chat that fills more than the chat view keeps, HalfWay's
#   file (it closes halfway) leaves its failure note on the main screen
#   without a key pressed, and the Downloads screen reads "failed from HalfWay";
# - Slowpoke's tiny file ends as "done from Slowpoke  100%".
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

e2e_start_hub --slow-kibps 100
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" stater
e2e_start_kivo

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# Receiving, then stopped.
e2e_download "slow-song" "slow-song.mp3"
e2e_keys F1 5                                   # Menu, "Downloads"
e2e_wait "receiving from Slowpoke" 10
e2e_shows_text "KiB/s" || e2e_fail "the receiving line shows no speed"
e2e_keys F1                                     # the screen's menu
e2e_wait "Stop"
e2e_type "1"                                    # "Stop"
e2e_wait "stopped from Slowpoke" 5
e2e_keys F2                                     # "EXIT"
e2e_wait " ::download stopped:: at "

# A burst of chat: twelve lines of 120 characters, each echoed by the hub,
# more than the chat view keeps, then a download that fails.
for i in $(seq 1 12); do
    e2e_type "burst $i $(printf 'x%.0s' $(seq 1 110))"
    e2e_keys Enter
done
e2e_wait "<stater> burst 12" 10
e2e_download "half-small" "half-small.txt"
e2e_wait " ::download failed:: " 15
e2e_shows "<stater> burst 12" || e2e_fail "the burst's last line left the screen"
e2e_keys F1 5                                   # Menu, "Downloads"
e2e_wait "failed from HalfWay" 5
e2e_keys F2

# Done.
e2e_download "tiny" "tiny.txt"
e2e_keys F1 5
e2e_wait "done from Slowpoke  100%" 15
e2e_wait "1000 / 1000 bytes"
e2e_keys F2
e2e_wait_gone "done from Slowpoke"

e2e_exit                                   # Menu, "exit"
e2e_pass "receiving, stopped, failed after a chat burst, done"
