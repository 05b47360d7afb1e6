#!/usr/bin/env bash
# Steps of the download tests, on top of lib.sh (source lib.sh first). They
# read the screen only through e2e_screen, and every wait is bounded.
#
#   e2e_download "words" "name"          # main screen -> search, the result whose
#                                        # name column reads exactly "name" selected,
#                                        # Download (F2)
#   e2e_rows                             # the screen inside its frame, one row a
#                                        # line, trailing blanks dropped
#   e2e_wait_notes "name" [seconds] [note]  # "::start download::", name and a
#                                        # row starting " ::downloaded::" (or
#                                        # reading exactly note) on consecutive rows
#   e2e_entry_row "name"                 # on "Downloads": the row of that queue entry
#                                        # (">" first when selected), or nothing
#   e2e_entry_percent "name"             # N of its "N%"
#   e2e_wait_entry "name" "text" [seconds]  # until its row shows text
#   e2e_queue_command "name" digit       # on "Downloads": selects the entry, then
#                                        # the menu's entry of that digit
#   e2e_pause_download_at name min total # on the main screen: "Downloads", the entry
#                                        # at min % or more, the menu's "Pause", back;
#                                        # sets E2E_STOPPED_AT from the stop note
#   e2e_resume_download name             # on the main screen: "Downloads", "Resume", back
#   e2e_clear_finished                   # on the main screen: "Downloads", "Clear finished", back
#   e2e_parts                            # the part files Kivo keeps, one a line
#   e2e_wait_growing name [seconds]      # on "Downloads": two rising percentages
#                                        # below 100, then "100% done"
#   e2e_same_file copy original          # byte for byte, or fail
#   e2e_start_pane name cols rows "cmd"  # another program in the same tmux server
#   e2e_pane_wait name "text" [seconds]  # until that pane shows text

e2e_rows() {
    e2e_screen | sed -e '1d' -e '$d' -e 's/^.//' -e 's/.$//' -e 's/ *$//'
}

# Whether a list row (from stdin) has exactly the name $1 in its name
# column: after a blank, or after '>' when selected, the name, then blanks
# and the size column ("2.0 MiB", "123 B").
e2e_is_result_row() {
    E2E_NAME_SEEN="$1" awk '
        BEGIN { name = ENVIRON["E2E_NAME_SEEN"]; status = 1 }
        (substr($0, 1, 1) == " " || substr($0, 1, 1) == ">") && substr($0, 2, length(name)) == name &&
        substr($0, 2 + length(name)) ~ /^ +[0-9]+(\.[0-9])? (B|[KMGTPE]iB) / { status = 0 }
        END { exit status }'
}

# Index (0-based) of the first list entry whose name is exactly $1 on the
# search screen: the rows below the input line and the status line ("N
# results"), in order.
e2e_result_index() {
    local rows i=0 row
    rows=$(e2e_rows | sed '1,2d')
    while IFS= read -r row; do
        if e2e_is_result_row "$1" <<<"$row"; then
            echo "$i"
            return
        fi
        i=$((i + 1))
    done <<<"$rows"
}

e2e_download() {
    local words=$1 name=$2 index i
    e2e_keys F2                                 # the main screen's "Search"
    e2e_wait "Download"
    e2e_type "$words"
    e2e_keys Enter                              # the Action key sends the search
    e2e_wait "$name"
    for i in $(seq 1 30); do                    # results still arriving: let them settle
        index=$(e2e_result_index "$name")
        [ -n "$index" ] && break
        sleep 0.1
    done
    [ -n "$index" ] || e2e_fail "no result reads exactly: $name"
    e2e_keys Down Down                          # past "OK" to the list: its first entry is selected
    for i in $(seq 1 "$index"); do e2e_keys Down; done
    local entry
    entry=$(e2e_rows | sed -n "$((index + 3))p")     # below the input and status lines
    [ "${entry:0:1}" = ">" ] && e2e_is_result_row "$name" <<<"$entry" ||
        e2e_fail "the entry $name is not the selected one: $entry"
    e2e_keys F2                                 # "Download"
    e2e_wait_gone "Download"
}

e2e_wait_notes() {
    local name=$1 seconds=${2:-10} note=${3:-} i rows
    for i in $(seq 1 $((seconds * 10))); do
        rows=$(e2e_rows)
        if printf '%s\n' "$rows" | E2E_NAME_SEEN="$name" E2E_NOTE="$note" awk '
            BEGIN { name = ENVIRON["E2E_NAME_SEEN"]; note = ENVIRON["E2E_NOTE"] }
            function done_note(row) { return note == "" ? index(row, " ::downloaded::") == 1 : row == note }
            prev2 == "::start download::" && prev1 == name && done_note($0) { found = 1 }
            { prev2 = prev1; prev1 = $0 }
            END { exit !found }'; then
            return 0
        fi
        sleep 0.1
    done
    e2e_fail "the chat never showed the three download notes for: $name"
}

# A row of the Downloads list: after its mark (" " or ">"), the name, then
# blanks up to the percentage column.
e2e_entry_row() {
    e2e_rows | E2E_NAME_SEEN="$1" awk '
        BEGIN { name = ENVIRON["E2E_NAME_SEEN"] }
        (substr($0, 1, 1) == " " || substr($0, 1, 1) == ">") && substr($0, 2, length(name)) == name &&
        substr($0, 2 + length(name)) ~ /^ +([0-9]+%)? / { print; exit }'
}

e2e_entry_percent() {
    e2e_entry_row "$1" | sed -n 's/^.\{2,\} \([0-9][0-9]*\)% .*$/\1/p'
}

e2e_entry_shows() { e2e_entry_row "$1" | grep -qF -- "$2"; }
e2e_entry_shows_not() { ! e2e_entry_shows "$1" "$2"; }
e2e_entry_selected() { [ "$(e2e_entry_row "$1" | cut -c1)" = ">" ]; }
e2e_wait_entry() {
    e2e_until "${3:-10}" e2e_entry_shows "$1" "$2" || e2e_fail "the entry $1 never showed: $2 (row: $(e2e_entry_row "$1"))"
}

# The position of the selected row and of the entry's row among the list's rows.
e2e_entry_select() {
    local rows selected target i
    rows=$(e2e_rows)
    selected=$(awk 'substr($0, 1, 1) == ">" { print NR; exit }' <<<"$rows")
    target=$(e2e_rows | E2E_NAME_SEEN="$1" awk '
        BEGIN { name = ENVIRON["E2E_NAME_SEEN"] }
        substr($0, 2, length(name)) == name { print NR; exit }')
    [ -n "$target" ] || e2e_fail "no entry $1 on the Downloads screen"
    if [ -z "$selected" ]; then
        e2e_keys Down                           # a list without a selection selects its first entry
        selected=1
    fi
    for ((i = selected; i < target; i++)); do e2e_keys Down; done
    for ((i = selected; i > target; i--)); do e2e_keys Up; done
    e2e_until 3 e2e_entry_selected "$1" || e2e_fail "the entry $1 is not selected"
}

e2e_queue_command() {
    e2e_entry_select "$1"
    e2e_keys F1                                 # the screen's menu
    e2e_wait "Clear finished"
    e2e_keys "$2"
}

e2e_open_downloads() {
    e2e_keys F1 5                               # Menu, "Downloads"
    e2e_wait "+ Downloads"
}

e2e_pause_download_at() {
    local name=$1 min=$2 total=$3 i n=""
    e2e_open_downloads
    for i in $(seq 1 300); do
        n=$(e2e_entry_percent "$name")
        [ -n "$n" ] && [ "$n" -ge "$min" ] && break
        sleep 0.1
    done
    [ -n "$n" ] && [ "$n" -ge "$min" ] || e2e_fail "the entry $name never reached $min %"
    e2e_queue_command "$name" 1                 # "Pause"
    e2e_wait_entry "$name" " paused" 5
    e2e_keys F2                                 # "EXIT"
    e2e_wait " ::download stopped:: at " 5
    E2E_STOPPED_AT=$(e2e_rows | sed -n "s/^ ::download stopped:: at \([0-9]*\) of $total bytes\$/\1/p" | head -1)
    [ -n "$E2E_STOPPED_AT" ] && [ "$E2E_STOPPED_AT" -gt 0 ] && [ "$E2E_STOPPED_AT" -lt "$total" ] ||
        e2e_fail "no stop note with a count between 0 and $total"
}

e2e_resume_download() {
    e2e_open_downloads
    e2e_queue_command "$1" 2                    # "Resume"
    e2e_until 5 e2e_entry_shows_not "$1" " paused" || e2e_fail "the entry $1 stayed paused"
    e2e_keys F2                                 # "EXIT"
    e2e_wait_main
}

e2e_clear_finished() {
    e2e_open_downloads
    e2e_keys F1
    e2e_wait "Clear finished"
    e2e_keys 7                                  # "Clear finished"
    e2e_until 5 e2e_shows_not "% done" || e2e_fail "finished entries still listed"
    e2e_keys F2                                 # "EXIT"
    e2e_wait_main
}

e2e_parts() {
    find "$E2E_WORK/cwd" "$E2E_WORK/data/kivo" -name '*.part' 2>/dev/null || true
}

e2e_wait_growing() {
    local name=$1 seconds=${2:-20} i n first="" second=""
    for i in $(seq 1 $((seconds * 10))); do
        n=$(e2e_entry_percent "$name")
        if [ -n "$n" ] && [ "$n" -gt 0 ] && [ "$n" -lt 100 ]; then
            if [ -z "$first" ]; then
                first=$n
            elif [ "$n" -gt "$first" ]; then
                second=$n
                break
            fi
        fi
        sleep 0.1
    done
    [ -n "$second" ] || e2e_fail "the percentage of $name did not grow below 100 (first: ${first:-none})"
    e2e_wait_entry "$name" "100% done" "$seconds"
    E2E_GROWTH="$first % < $second % < 100 %"
}

e2e_same_file() {
    [ -f "$1" ] || e2e_fail "no file: $1"
    cmp -s -- "$1" "$2" || e2e_fail "$1 differs from $2 ($(stat -c %s -- "$1") and $(stat -c %s -- "$2") bytes)"
}

e2e_start_pane() {
    local name=$1 cols=$2 rows=$3 command=$4
    $E2E_TMUX new-session -d -x "$cols" -y "$rows" -s "$name" "$command"
}

e2e_pane_wait() {
    local name=$1 text=$2 seconds=${3:-10} i
    for i in $(seq 1 $((seconds * 10))); do
        $E2E_TMUX capture-pane -p -S -200 -t "$name" >"$E2E_WORK/last-$name" 2>/dev/null || true
        if grep -qF -- "$text" "$E2E_WORK/last-$name"; then return 0; fi
        sleep 0.1
    done
    e2e_fail "$name never showed: $text"
}
