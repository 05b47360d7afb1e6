#!/usr/bin/env bash
# Modern downloads in the real binary against the demo hub:
# - NcdcOnly serves only $ADCGET, as ncdc does: its Cyrillic-named song is
#   fetched by TTH and the chat says it was verified;
# - Slowpoke's song (1 MiB at 200 KiB/s, asked for with $ADCGET too) grows on
#   "Downloads", is paused halfway from that screen's menu, keeping its part
#   in Kivo's parts folder, then resumed: it continues where it stopped
#   ("resumed at"), is verified whole and leaves no part file behind;
# - a file of the person's own with the song's name is still there, byte for
#   byte, and the download takes the free name "slow-song (1).mp3".
. "$(dirname "$0")/lib.sh" "$@"
. "$(dirname "$0")/lib_transfer.sh"
command -v rhash >/dev/null 2>&1 || { echo "SKIP: $E2E_NAME: the rhash command is not installed"; exit 0; }

DATA="$E2E_WORK/data"
e2e_start_hub --slow-kibps 200
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" getter
printf 'the person'"'"'s own slow-song.mp3\n' >"$E2E_WORK/cwd/slow-song.mp3"
cp "$E2E_WORK/cwd/slow-song.mp3" "$E2E_WORK/mine.mp3"
e2e_start_kivo

e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# From an $ADCGET-only peer, checked against its TTH.
song="Песня для ADC.mp3"
e2e_download "песня adc" "$song"
e2e_wait_notes "$song" 15 " ::downloaded:: TTH verified"
e2e_same_file "$E2E_WORK/cwd/$song" "$DATA/NcdcOnly/share/ncdc-only/$song"

# Paused halfway on the Downloads screen, then resumed.
e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_wait_gone "::start download::"
e2e_download "slow-song" "slow-song.mp3"
e2e_pause_download_at "slow-song.mp3" 29 1048581
stopped_at=$E2E_STOPPED_AT
parts=$(e2e_parts | grep -c '\.part$' || true)
[ "$parts" = 1 ] || e2e_fail "expected one part file after the pause, found $parts"
e2e_same_file "$E2E_WORK/cwd/slow-song.mp3" "$E2E_WORK/mine.mp3"

e2e_keys F1 4
e2e_wait_gone "::download stopped::"
e2e_resume_download "slow-song.mp3"
e2e_wait " ::download:: resumed at $stopped_at of 1048581 bytes" 10
e2e_wait " ::downloaded:: TTH verified as slow-song (1).mp3" 20
e2e_same_file "$E2E_WORK/cwd/slow-song (1).mp3" "$DATA/Slowpoke/Slow/slow-song.mp3"
e2e_same_file "$E2E_WORK/cwd/slow-song.mp3" "$E2E_WORK/mine.mp3"

files=$(cd "$E2E_WORK/cwd" && ls -A | LC_ALL=C sort | tr '\n' '/')
[ "$files" = "slow-song (1).mp3/slow-song.mp3/$song/" ] || e2e_fail "kivo's folder holds: $files"

[ -z "$(e2e_parts)" ] || e2e_fail "part files left: $(e2e_parts)"

e2e_exit                                   # Menu, "exit"
e2e_pass "ADC-only peer verified, paused at $stopped_at and resumed, the person's file untouched"
