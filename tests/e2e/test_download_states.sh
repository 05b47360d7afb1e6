#!/usr/bin/env bash
# What the Downloads screen and the chat say about a download, in the real
# binary against the demo hub:
# - Slowpoke's song at 100 KiB/s: its row reads "receiving" with Slowpoke, a
#   percentage and a speed, then "paused" after the menu's "Pause";
# - after a burst of chat that fills more than the chat view keeps, HalfWay's
#   file (it closes halfway) leaves its failure note on the main screen
#   without a key pressed, and on the Downloads screen it waits to be tried
#   again, its details naming the last error;
# - Slowpoke's tiny file ends as "100% done".
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

e2e_start_hub --slow-kibps 100
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" stater
e2e_start_kivo

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# Receiving, then paused.
e2e_download "slow-song" "slow-song.mp3"
e2e_open_downloads
e2e_wait_entry "slow-song.mp3" " receiving" 10
e2e_wait_entry "slow-song.mp3" "Slowpoke"
e2e_wait_entry "slow-song.mp3" "KiB/s" 5
e2e_entry_percent "slow-song.mp3" | grep -qE '^[0-9]+$' || e2e_fail "the receiving row shows no percentage"
e2e_queue_command "slow-song.mp3" 1             # "Pause"
e2e_wait_entry "slow-song.mp3" " paused" 5
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
e2e_open_downloads
e2e_wait_entry "half-small.txt" " waiting" 5
e2e_wait_entry "half-small.txt" "HalfWay"
e2e_entry_select "half-small.txt"
e2e_keys Enter                                  # the details
e2e_wait "last error: peer stopped at " 5
e2e_wait "from: HalfWay: Broken\\half-small.txt"
e2e_keys Enter
e2e_wait_gone "last error:"
e2e_keys F2

# Done.
e2e_download "tiny" "tiny.txt"
e2e_open_downloads
e2e_wait_entry "tiny.txt" "100% done" 15
e2e_wait_entry "tiny.txt" "1000 B"
e2e_keys F2
e2e_wait_main

e2e_exit                                   # Menu, "exit"
e2e_pass "receiving, paused, waiting again after a failure with its reason, done"
