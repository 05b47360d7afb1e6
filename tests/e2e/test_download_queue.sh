#!/usr/bin/env bash
# The download queue on the Downloads screen, in the real binary against the
# demo hub: five files queued from the search screen, one row each;
# - Slowpoke's two files run one after the other: his tiny file waits while
#   his slow song runs, and gets its turn once the song is paused;
# - Seeder's and archivist's files run beside them and end "100% done";
# - Passive's file fails at once: two passive clients cannot connect (Kivo
#   is set passive in Option);
# - Move up moves the selected entry and the selection with it, Remove asks
#   and takes the paused song and its part file, Clear finished leaves only
#   what did not finish.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

DATA="$E2E_WORK/data"
e2e_start_hub --slow-kibps 50
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" queuer
e2e_settings 'Mode="passive"'
e2e_start_kivo

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# One user's two files: the second waits for the first.
e2e_download "slow-song" "slow-song.mp3"
e2e_download "tiny" "tiny.txt"
e2e_open_downloads
e2e_wait_entry "slow-song.mp3" " receiving" 10
e2e_wait_entry "tiny.txt" " waiting"
e2e_wait "+ Downloads (1 running, 2 in all) "
e2e_keys F2
e2e_wait_main

# Two other users' files run beside the song; a passive user's fails at once.
e2e_download "readme-demo" "readme-demo.txt"
e2e_download "passive-notes" "passive-notes.txt"
e2e_wait_text "::download failed:: Passive is passive too: two passive clients cannot connect" 5
e2e_download "notes" "notes.txt"
e2e_open_downloads
e2e_wait "in all) "
e2e_wait_entry "readme-demo.txt" "100% done" 15
e2e_wait_entry "notes.txt" "100% done" 15
e2e_wait_entry "passive-notes.txt" " failed: "
e2e_wait_entry "tiny.txt" " waiting"
e2e_wait "+ Downloads (1 running, 5 in all) "

# Paused, the song gives the tiny file its turn.
e2e_queue_command "slow-song.mp3" 1             # "Pause"
e2e_wait_entry "slow-song.mp3" " paused" 5
e2e_wait_entry "tiny.txt" "100% done" 15
e2e_same_file "$E2E_WORK/cwd/tiny.txt" "$DATA/Slowpoke/Slow/tiny.txt"
e2e_same_file "$E2E_WORK/cwd/readme-demo.txt" "$DATA/Seeder/Docs/readme-demo.txt"
e2e_same_file "$E2E_WORK/cwd/notes.txt" "$DATA/archivist/Archive/notes.txt"
[ "$(e2e_parts | wc -l)" = 1 ] || e2e_fail "the paused song's part is not kept: $(e2e_parts)"

# Move up: the last entry goes before the one above it, still selected.
order() { e2e_rows | sed -n 's/^[ >]\([^ ]*\) .*/\1/p' | head -5 | tr '\n' ' '; }
[ "$(order)" = "slow-song.mp3 tiny.txt readme-demo.txt passive-notes.txt notes.txt " ] ||
    e2e_fail "the queue's order: $(order)"
e2e_queue_command "notes.txt" 4                 # "Move up"
e2e_until 5 eval '[ "$(order)" = "slow-song.mp3 tiny.txt readme-demo.txt notes.txt passive-notes.txt " ]' ||
    e2e_fail "Move up gave: $(order)"
e2e_entry_selected "notes.txt" || e2e_fail "the selection did not follow the entry"

# Remove asks first; CANCEL keeps the song, OK removes it and its part.
e2e_queue_command "slow-song.mp3" 6             # "Remove"
e2e_wait "remove slow-song.mp3 from the queue?"
e2e_keys F2                                     # "CANCEL"
e2e_wait_gone "remove slow-song.mp3"
e2e_entry_row "slow-song.mp3" | grep -q . || e2e_fail "CANCEL removed the song"
e2e_queue_command "slow-song.mp3" 6
e2e_wait "remove slow-song.mp3 from the queue?"
e2e_keys F1                                     # "OK"
e2e_until 5 eval '[ -z "$(e2e_entry_row slow-song.mp3)" ]' || e2e_fail "the song is still listed"
[ -z "$(e2e_parts)" ] || e2e_fail "the removed song's part is left: $(e2e_parts)"

# Clear finished: only the failed entry stays.
e2e_keys F1
e2e_wait "Clear finished"
e2e_keys 7
e2e_wait "+ Downloads (0 running, 1 in all) "
e2e_entry_row "passive-notes.txt" | grep -qF " failed: " || e2e_fail "the failed entry went too"
e2e_keys F2
e2e_wait_main

files=$(cd "$E2E_WORK/cwd" && ls -A | LC_ALL=C sort | tr '\n' '/')
[ "$files" = "notes.txt/readme-demo.txt/tiny.txt/" ] || e2e_fail "kivo's folder holds: $files"

e2e_exit                                   # Menu, "exit"
e2e_pass "five queued: one user's two in turn, Pause, Move up, Remove, Clear finished, the passive user's failed at once"
