#!/usr/bin/env bash
# Browsing a user's file list in the real binary against the demo hub:
# Enter on Seeder in the Users screen fetches his list and opens it; Enter
# goes into a folder (Музыка, then Альбом), Esc back up with the folder
# left selected; Find "rock" goes to the file in Альбом; Download on Музыка
# queues its five files, which the Downloads screen shows done and which
# land below the download folder as Музыка/...; File lists shows the kept
# list; a search result's "Browse user's files" opens his list at the
# result's folder.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

DATA="$E2E_WORK/data"
e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" browser
e2e_start_kivo 80 30

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# Users, Seeder by type-ahead, Enter: the list is fetched and opens.
e2e_keys F1 8
e2e_wait "| Menu                                                                    EXIT |"
e2e_type "Seeder"
e2e_wait "|>Seeder   "
e2e_keys Enter
e2e_wait "+ Seeder:  " 20
e2e_wait "|>Docs\\"
e2e_type "Му"                                   # type-ahead in the folder
e2e_wait "|>Музыка\\"
e2e_shows "5 files" || e2e_fail "Музыка does not count its five files"
e2e_keys Enter
e2e_wait "+ Seeder: Музыка "
e2e_wait "|>Альбом\\"
e2e_wait "| список песен.txt "
e2e_keys Enter
e2e_wait "+ Seeder: Музыка\\Альбом "
e2e_wait "| 02 - Rock & Roll.mp3 "
e2e_keys Escape
e2e_wait "+ Seeder: Музыка "
e2e_wait "|>Альбом\\"
e2e_keys Escape
e2e_wait "|>Музыка\\"

# Find goes across folders to the first name holding the words.
e2e_keys F1 3                                   # "Find"
e2e_wait "Find in Seeder's files"
e2e_type "ROCK"
e2e_keys Enter
e2e_wait "+ Seeder: Музыка\\Альбом "
e2e_wait "|>02 - Rock & Roll.mp3 "
e2e_wait 'found "ROCK"'
e2e_keys Escape Escape
e2e_wait "+ Seeder:  "

# Download on the folder: every file below it, into Музыка/ in the download folder.
e2e_type "Му"
e2e_wait "|>Музыка\\"
e2e_keys F2                                     # "Download"
e2e_wait "|5 files queued"
e2e_keys Escape                                 # at the top: closes
e2e_wait_main
e2e_open_downloads
e2e_until 30 eval '[ "$(e2e_rows | grep -c "100% done")" = 5 ]' ||
    e2e_fail "the folder's five files are not all done: $(e2e_rows)"
e2e_keys F2
e2e_wait_main
for f in "Альбом/01 - песня.mp3" "Альбом/02 - Rock & Roll.mp3" "Альбом/обложка.jpg" "список песен.txt" \
    "Ёлочка 'зимняя'.mp3"; do
    e2e_same_file "$E2E_WORK/cwd/Музыка/$f" "$DATA/Seeder/Музыка/$f"
done

# File lists: the kept list with its age.
e2e_keys F1 Down Down Down Down Down Down Down Down Down Enter   # the eleventh entry
e2e_wait "+ File lists "
e2e_wait "|>Seeder  just now"
e2e_keys F2
e2e_wait_main

# A result's "Browse user's files": the list opens at the result's folder.
e2e_keys F2
e2e_wait "Download"
e2e_type "readme-demo"
e2e_keys Enter
e2e_wait "readme-demo.txt"
e2e_keys Down Down                              # to the list, its first entry selected
e2e_keys F1 Down Down Down Down Down Down Down Down Down Down Enter   # the eleventh entry
e2e_wait "+ Seeder: Docs " 10
e2e_wait "|>readme-demo.txt"
e2e_keys Escape Escape
e2e_wait_main

e2e_exit
e2e_pass "Seeder's list browsed from Users (Музыка, Альбом, back), Find, Музыка downloaded whole, File lists, a result browsed at its folder"
