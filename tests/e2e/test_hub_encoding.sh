#!/usr/bin/env bash
# A hub's encoding found or named, in the real binary against the demo hub:
#  - Its UTF-8 port as a favourite with no Encoding attribute (Auto): the hub
#    is found to send UTF-8 at login (a note says so, once), the Cyrillic
#    users and welcome read right, a Cyrillic search finds Seeder's
#    "Война и мир.txt" and the download lands under that name on disk.
#  - Its code page 1252 port named Encoding="CP1252": "ünïcode" goes out and
#    comes back in Mira's quote; a line with a letter 1252 lacks is not sent,
#    a note names the letter and the line stays.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

DATA="$E2E_WORK/data"
e2e_start_hub -vv --utf8-port 0 --utf8-port-file "$E2E_WORK/hub-utf8.port" \
    --cp1252-port 0 --cp1252-port-file "$E2E_WORK/hub-1252.port"
e2e_until 10 test -s "$E2E_WORK/hub-1252.port" || e2e_fail "no 1252 port"
utf8_port=$(cat "$E2E_WORK/hub-utf8.port")
cp1252_port=$(cat "$E2E_WORK/hub-1252.port")
e2e_favorite_hub "Demo UTF-8" 127.0.0.1 "$utf8_port" reader ""
e2e_favorite_hub "Demo 1252" 127.0.0.1 "$cp1252_port" reader "" CP1252

e2e_start_kivo 80 30
e2e_wait "|Pelmark tarvol v 0.05 "
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "Auto"
e2e_keys F2                                     # "CANCEL"
e2e_wait_main

# Auto on the UTF-8 port.
e2e_keys F1 2
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub (UTF-8), reader!" 15
e2e_wait "|the hub sends UTF-8: reading and writing it as UTF-8 "
[ "$(e2e_screen | grep -cF "the hub sends UTF-8")" = 1 ] || e2e_fail "the switch note shows more than once"
e2e_download "Война мир txt" "Война и мир.txt"
e2e_wait_notes "Война и мир.txt"
e2e_same_file "$E2E_WORK/cwd/Война и мир.txt" "$DATA/Seeder/Книги/Война и мир.txt"
files=$(cd "$E2E_WORK/cwd" && ls -A | tr '\n' '/')
[ "$files" = "Война и мир.txt/" ] || e2e_fail "kivo's folder holds: $files"
e2e_keys F1 3                                   # Disconnect
e2e_until 5 grep -qF "reader left" "$E2E_WORK/hub0.log" || e2e_fail "the hub never saw reader leave"

# The 1252 port, chosen in Option.
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "| OK "
e2e_keys Enter
e2e_wait "|2 Demo 1252 "
e2e_keys 2
e2e_wait "[$cp1252_port "
e2e_wait "CP1252"
e2e_keys F1                                     # "OK"
e2e_wait_main
e2e_keys F1 4                                   # Clear Chat
e2e_keys F1 2
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub (CP1252), reader!" 15
e2e_type "mira ünïcode"
e2e_keys Enter
e2e_wait "|<reader> mira ünïcode "
e2e_wait "|<Mira> reader, you said: mira ünïcode "
e2e_until 3 grep -aqF "<- reader b'<reader> mira \\xfcn\\xefcode" "$E2E_WORK/hub0.log" ||
    e2e_fail "the hub never received ünïcode in code page 1252"
e2e_type "mira жук"
e2e_keys Enter
e2e_wait "|cannot send \"ж\" in CP1252: change the line "
e2e_wait "[mira жук "
grep -aqF "<- reader b'<reader> mira ?" "$E2E_WORK/hub0.log" && e2e_fail "a '?' went out instead"

e2e_exit
e2e_pass "Auto found a UTF-8 hub (one note), Cyrillic search and download under its name; CP1252 hub sends and shows ünïcode and refuses ж with a note"
