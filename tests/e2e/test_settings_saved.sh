#!/usr/bin/env bash
# Settings that stay: with a favourite hub (Favorites.xml beside the program,
# a portable copy), Option takes a new nick, a password (drawn as stars),
# a download folder that does not exist yet, the mode (Passive, which keeps
# the download below as it was) and the ports; OK saves them to settings.xml
# beside Favorites.xml (mode 0600). After Exit and a new start the fields
# show them again and win over the favourite's nick; Connect logs in with the
# new nick, and a download lands in the new folder, which Kivo made private
# to the user, and nowhere else.
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"

DATA="$E2E_WORK/data"
FOLDER="$E2E_WORK/dl/sub"
SAVED="$E2E_WORK/bin/settings.xml"
e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" favnick
e2e_start_kivo
e2e_wait "Pelmark tarvol"

# Option: Hub, Host, Port, Nick, Password, Share, Downloads from the top.
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[favnick "
e2e_keys Down Down Down                 # the nick field
e2e_keys -N 10 BSpace
e2e_type "keeper"
e2e_keys Down                           # the password field
e2e_type 'pa"<&|$'
e2e_wait "[******* "
e2e_keys Down Down                      # the download folder field
e2e_keys -N 100 BSpace
e2e_type "$FOLDER"
e2e_keys Down Down Down Down            # Chat time, Encoding, At once, Mode
e2e_keys Enter
e2e_wait "|3 Passive "
e2e_keys 3
e2e_wait_gone "|3 Passive "
e2e_keys Down                           # the port
e2e_type "4120"
e2e_keys Down                           # the TLS port
e2e_type "4121"
e2e_keys F1                             # "OK"
e2e_wait_main
[ "$(stat -c %a "$SAVED")" = 600 ] || e2e_fail "settings.xml is not private to the user"
grep -qF 'Nick="keeper"' "$SAVED" || e2e_fail "the nick is not in settings.xml: $(cat "$SAVED")"
grep -qF 'Password="pa&quot;&lt;&amp;|$"' "$SAVED" || e2e_fail "the password is not in settings.xml"
grep -qF "DownloadFolder=\"$FOLDER\"" "$SAVED" || e2e_fail "the folder is not in settings.xml"
for attribute in 'Mode="passive"' 'Port="4120"' 'TlsPort="4121"' 'ExternalAddress=""'; do
    grep -qF "$attribute" "$SAVED" || e2e_fail "no $attribute in settings.xml: $(cat "$SAVED")"
done
e2e_exit

# A new start: the saved settings, not the favourite's nick.
e2e_start_kivo
e2e_wait "Pelmark tarvol"
e2e_keys F1 9
e2e_wait "+ Settings -"
e2e_wait "[keeper "
e2e_wait "[******* "
e2e_wait "[$FOLDER "
e2e_wait "[Passive "
e2e_wait "[4120 "
e2e_wait "[4121 "
e2e_keys F2                             # "CANCEL"
e2e_wait_main
e2e_keys F1 2                           # Connect
e2e_wait_text "Welcome to Kivo Demo Hub, keeper!" 15

[ ! -e "$FOLDER" ] || e2e_fail "the download folder was made before a download"
e2e_download "opening theme" "01 - Opening Theme.mp3"
e2e_wait_notes "01 - Opening Theme.mp3" 20
e2e_same_file "$FOLDER/01 - Opening Theme.mp3" "$DATA/Seeder/Music/Kivo Demo Band/01 - Opening Theme.mp3"
[ "$(stat -c %a "$FOLDER")" = 700 ] || e2e_fail "the download folder Kivo made is not private"
[ -z "$(ls -A "$E2E_WORK/cwd")" ] || e2e_fail "something landed in the current folder: $(ls -A "$E2E_WORK/cwd")"
e2e_exit
e2e_pass "nick, password (stars), download folder, mode and ports saved by OK, shown after a new start, used by Connect and the download"
