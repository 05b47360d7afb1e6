#!/usr/bin/env bash
# Keys never move text between screens, against the demo hub (-vv: its log
# holds what Kivo sent): random mixes of Backspace, Esc, search words, arrows
# and Enter (fixed seed) on the results screen leave the main screen's input
# line empty and send searches but no chat. Then Exit while connected: Menu
# and Enter choose Connect; Menu 1 asks, Enter and Esc cancel, OK (F1) exits.
. "$(dirname "$0")/lib.sh" "$@"

SEQUENCES=${E2E_KEY_SEQUENCES:-250}
RANDOM=20240611                                 # the fixed seed
WORDS=(secure tls private Проверка keypad blues)
KEYS=(BSpace BSpace Escape Left Right Up Down Enter)

e2e_start_hub -vv
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" keys
e2e_start_kivo
e2e_wait "Pelmark tarvol"
e2e_keys F1 2                                   # Menu, "Connect"
e2e_wait "Welcome to" 15

# What kivo shows once it has handled the keys sent: two captures alike.
settled() {
    local before after tries
    before=$(e2e_screen)
    for tries in 1 2 3 4 5 6 7 8 9 10; do
        sleep 0.05
        after=$(e2e_screen)
        [ "$after" = "$before" ] && break
        before=$after
    done
}
search_open() {
    e2e_keys F2                                 # the main screen's "Search"
    e2e_wait "Download"
}

search_open
escapes=0
for ((n = 0; n < SEQUENCES; n++)); do
    sequence=()
    for ((k = RANDOM % 6 + 1; k > 0; k--)); do
        if ((RANDOM % 3 == 0)); then sequence+=("${WORDS[RANDOM % ${#WORDS[@]}]}")
        else sequence+=("${KEYS[RANDOM % ${#KEYS[@]}]}"); fi
    done
    $E2E_TMUX send-keys -t kivo "${sequence[@]}"
    settled
    title=$(e2e_title)
    case "$title" in
    Search) ;;
    item) e2e_keys Enter ;;                     # a result's Info box
    *'users)')
        escapes=$((escapes + 1))
        sleep 0.1
        e2e_shows "|[                                                                            ]|" ||
            e2e_fail "after ${sequence[*]} the main screen's input line holds text"
        search_open ;;
    *) e2e_fail "after ${sequence[*]} the screen on top is \"$title\"" ;;
    esac
done
e2e_keys Escape
e2e_wait_main

# What the hub received from kivo: searches, and no chat, public or private.
log="$E2E_WORK/hub0.log"
e2e_until 5 grep -qE '\$Search (Hub:keys|127\.0\.0\.1:[0-9]+) ' "$log" || e2e_fail "no search reached the hub"
grep -E "<- keys b'(<keys> |\\\$To: )" "$log" && e2e_fail "a search word went to the chat"
e2e_type "a line meant for the chat"
e2e_keys Enter
e2e_until 5 grep -qF "<- keys b'<keys> a line meant for the chat" "$log" || e2e_fail "the hub log shows no chat at all"

# Exit while connected.
e2e_keys F1 4                                   # Menu, "Clear Chat"
e2e_keys F1 Enter                               # Connect again, where the menu opened
e2e_wait "connecting to 127.0.0.1:$HUB_PORT"
e2e_wait "Welcome to" 15
for cancel in Enter Escape; do
    e2e_keys F1 1                               # Menu, "exit"
    e2e_wait "connected to Kivo Demo Hub: exit anyway?"
    e2e_wait "| OK"
    e2e_keys "$cancel"
    e2e_wait_main
    [ ! -s "$E2E_WORK/kivo-exit-status" ] || e2e_fail "$cancel on the exit question ended kivo"
done
e2e_keys F1 1
e2e_wait "exit anyway?"
e2e_keys F1                                     # OK
e2e_wait_exit 0
e2e_pass "$SEQUENCES random sequences ($escapes closed by Esc) sent no chat; Exit asked and only OK ended"
