#!/usr/bin/env bash
# A long chat history as a person reads it: each line shows after its time;
# 6,000 chat lines from the hub arrive at once and Home reaches the first line
# of the session, PageDown goes on from it, End returns to the newest; the
# view is full at 200x60; 6,000 more push the oldest out (8,192 lines kept):
# Home then shows the first kept line and PageUp finds nothing older. Typing
# and sending still answer at once after the flood.
. "$(dirname "$0")/lib.sh" "$@"

e2e_start_hub
e2e_favorites "Demo" 127.0.0.1 "$HUB_PORT" reader
e2e_start_kivo

e2e_wait_main
e2e_keys F1 2
e2e_wait_text "<Hub-Security> Welcome to Kivo Demo Hub, reader!" 15
e2e_screen_stamped | grep -qE '^\|\[[0-2][0-9]:[0-5][0-9]\] <Hub-Security> Welcome to' ||
    e2e_fail "the welcome line shows without its time"

e2e_type "+flood 6000"
e2e_keys Enter
e2e_wait "|<Chatterbox> flood 06000 of 6000 " 30

# All of the session is kept: Home shows its first line, the banner.
e2e_keys Home
e2e_wait "|Pelmark tarvol v 0.05 "
e2e_wait "-- more below --"
e2e_screen | sed -n 2p | grep -q '^|Pelmark tarvol v 0.05 ' || e2e_fail "Home does not show the banner first"
e2e_keys PageDown PageDown
e2e_wait "|<Chatterbox> flood 00040 of 6000 "
e2e_keys End
e2e_wait "|<Chatterbox> flood 06000 of 6000 "
e2e_wait_gone "-- more below --"

# At 200x60 every row of the chat view shows a line.
$E2E_TMUX resize-window -t kivo -x 200 -y 60
e2e_wait_frame 200 60
e2e_until 5 test "$(e2e_screen | grep -c '^|<Chatterbox> flood ')" -ge 54 || e2e_fail "the 200x60 view is not full"
$E2E_TMUX resize-window -t kivo -x 80 -y 24
e2e_wait_frame 80 24

# 6,000 more: 8,192 lines are kept, the first batch's 3,809th the oldest.
e2e_type "+flood 6000"
e2e_keys Enter
e2e_wait "|<Chatterbox> flood 06000 of 6000 " 30
e2e_keys Home
e2e_wait "|<Chatterbox> flood 03809 of 6000 "
e2e_keys PageUp
sleep 0.5
e2e_screen | sed -n 2p | grep -q '^|<Chatterbox> flood 03809 of 6000 ' || e2e_fail "PageUp went past the first kept line"

# Sending returns to the newest at once.
e2e_type "still here"
e2e_keys Enter
e2e_wait "|<reader> still here "
e2e_wait_gone "-- more below --"

e2e_keys F1
e2e_wait "1 exit"
e2e_keys Escape
e2e_exit
e2e_pass "times shown, 12,000 lines: Home, PageUp/PageDown, End, a full 200x60 view, the oldest kept line, sending"
