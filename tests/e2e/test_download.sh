#!/usr/bin/env bash
# Downloads in the real binary against the demo hub, each chosen on the search
# screen and fetched with the "Download" soft key:
# - Slowpoke's song (1 MiB at 200 KiB/s): "Downloads" lists it with its user
#   and a percentage that grows to "100% done";
# - Seeder's 3 MiB track, fetched at full speed;
# - Seeder's "Война и мир.txt": a Cyrillic name (1251 on the wire) that lands
#   under its own name, UTF-8 on disk;
# - OldDC's file, asked for with the legacy $Get (OldDC offers no ADCGet).
# Each file must equal the demo hub's copy byte for byte and lie in kivo's
# current folder, and the chat must show "::start download::", the name and
# " ::downloaded::" on rows of their own without any key being pressed.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

DATA="$E2E_WORK/data"
e2e_start_hub --slow-kibps 200
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
e2e_start_kivo

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# The slow song, watched on the Downloads screen.
e2e_download "slow-song" "slow-song.mp3"
e2e_open_downloads
e2e_wait_entry "slow-song.mp3" "Slowpoke"
e2e_wait_growing "slow-song.mp3" 20
growth=$E2E_GROWTH
e2e_keys F2                                     # "EXIT"
e2e_wait "Welcome to"
e2e_wait_notes "slow-song.mp3"
e2e_same_file "$E2E_WORK/cwd/slow-song.mp3" "$DATA/Slowpoke/Slow/slow-song.mp3"

# A fast one: the notes must come without the Downloads screen's help.
e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::start download::"
e2e_download "opening theme" "01 - Opening Theme.mp3"
e2e_wait_notes "01 - Opening Theme.mp3"
e2e_same_file "$E2E_WORK/cwd/01 - Opening Theme.mp3" "$DATA/Seeder/Music/Kivo Demo Band/01 - Opening Theme.mp3"

# A Cyrillic name.
e2e_keys F1 4
e2e_wait_gone "::start download::"
e2e_download "Война мир txt" "Война и мир.txt"
e2e_wait_notes "Война и мир.txt"
e2e_same_file "$E2E_WORK/cwd/Война и мир.txt" "$DATA/Seeder/Книги/Война и мир.txt"

# From a sharer that knows only the legacy $Get (and gives no TTH).
e2e_keys F1 4
e2e_wait_gone "::start download::"
e2e_download "legacy-get-only" "legacy-get-only.mp3"
e2e_wait_notes "legacy-get-only.mp3" 10 " ::downloaded::"
e2e_same_file "$E2E_WORK/cwd/legacy-get-only.mp3" "$DATA/OldDC/Legacy/legacy-get-only.mp3"

files=$(cd "$E2E_WORK/cwd" && ls -A | LC_ALL=C sort | tr '\n' '/')
[ "$files" = "01 - Opening Theme.mp3/legacy-get-only.mp3/slow-song.mp3/Война и мир.txt/" ] ||
    e2e_fail "kivo's folder holds: $files"

e2e_exit                                   # Menu, "exit"
e2e_pass "progress $growth, four files whole under their names, the notes in the chat"
