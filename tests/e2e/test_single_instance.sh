#!/usr/bin/env bash
# One running copy per user: a second start, in another tmux window with the
# same TMPDIR, makes the first copy show itself afresh and ends with 0 within
# about 3 s, writing only one line to standard error ("Kivo is already
# running; brought it to the front") and never drawing. The first copy goes on
# working; once it has ended, a new start runs as the only copy.
#
# "Brought to the front" is seen as a full redraw: bytes written straight to
# the first pane's terminal stay on screen (an idle kivo draws nothing) until
# the second start asks the first copy to show itself.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" single
e2e_start_kivo
e2e_wait "|Pelmark tarvol v 0.05 "
e2e_wait "Search |"

first_tty=$($E2E_TMUX display -p -t kivo:0 '#{pane_tty}')
printf '\033[5;10HSMUDGE-ON-THE-SCREEN' >"$first_tty"
e2e_wait "SMUDGE-ON-THE-SCREEN" 3
sleep 1
e2e_wait "SMUDGE-ON-THE-SCREEN" 1   # nothing redraws an idle screen by itself

# The second copy's window: it waits for a go file so that everything its
# terminal receives from the start is logged by pipe-pane.
e2e_kivo_command second
$E2E_TMUX new-window -d -t kivo:1 -n second \
    "while [ ! -e '$E2E_WORK/go' ]; do sleep 0.05; done; date +%s%N >'$E2E_WORK/second-started'; $E2E_KIVO_COMMAND"
$E2E_TMUX pipe-pane -t kivo:1 -o "cat >'$E2E_WORK/second-output'"
sleep 0.2
touch "$E2E_WORK/go"
e2e_until 5 test -s "$E2E_WORK/second-exit-status" || e2e_fail "the second copy did not end within 5 s"
ended=$(date +%s%N)
[ "$(cat "$E2E_WORK/second-exit-status")" = 0 ] || e2e_fail "the second copy ended with $(cat "$E2E_WORK/second-exit-status")"
elapsed_ms=$(((ended - $(cat "$E2E_WORK/second-started")) / 1000000))
[ "$elapsed_ms" -le 3000 ] || e2e_fail "the second copy took $elapsed_ms ms"

# Its terminal got one line on standard error, and then the pane's own
# "kivo ended 0" line: no drawing, no terminal set-up.
sleep 0.2
output=$(tr -d '\r' <"$E2E_WORK/second-output")
[ "$output" = $'Kivo is already running; brought it to the front\nkivo ended 0' ] || e2e_fail "the second copy wrote to its terminal: $(od -c <"$E2E_WORK/second-output" | head -5)"
cmp -s "$E2E_WORK/second-stty-before" "$E2E_WORK/second-stty-after" || e2e_fail "the second copy changed its tty modes"

# The first copy showed itself afresh and still works.
e2e_wait_gone "SMUDGE-ON-THE-SCREEN" 3
e2e_wait "|Pelmark tarvol v 0.05 "
e2e_keys F1 2
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, single!" 15
e2e_exit

# With the first copy gone, a new start is the only copy and draws.
$E2E_TMUX kill-window -t kivo:1
e2e_kivo_command third
$E2E_TMUX new-window -d -t kivo:2 -n third "$E2E_KIVO_COMMAND"
third_draws() { $E2E_TMUX capture-pane -p -t kivo:2 | grep -qE '^\|\[[0-9]{2}:[0-9]{2}\] Pelmark tarvol v 0\.05 '; }
e2e_until 5 third_draws || e2e_fail "a start after the first copy ended did not draw"
$E2E_TMUX send-keys -t kivo:2 F1 1
e2e_until 5 test -s "$E2E_WORK/third-exit-status" || e2e_fail "the start after the first copy did not end"
[ "$(cat "$E2E_WORK/third-exit-status" 2>/dev/null)" = 0 ] || e2e_fail "the start after the first copy did not end with 0"
e2e_pass "second copy ended with 0 in ${elapsed_ms} ms, silent; first copy redrawn; later start runs alone"
