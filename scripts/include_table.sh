#!/usr/bin/env bash
# Prints which folder of src/ includes which, from the #include "..." lines:
# one row a pair, with the number of include lines, and a mark on each pair
# that does not point downward. Layers, top first: shell (start-up), screens,
# hub (connection, dispatch, chat, users, search, the download request),
# transfer (the worker), protocol (pure parsers and builders) and config (the
# favourites file) side by side, state, resources, platform.
#   bash scripts/include_table.sh
set -euo pipefail
cd "$(dirname "$0")/../src"
layer() {
    case $1 in
        shell) echo 8 ;;
        screens) echo 7 ;;
        hub) echo 6 ;;
        transfer) echo 5 ;;
        protocol | config) echo 4 ;;
        state) echo 3 ;;
        resources) echo 2 ;;
        platform) echo 1 ;;
        *) echo 0 ;;
    esac
}
grep -rHo '^#include "[a-z_]*/' --include='*.cpp' --include='*.h' . |
    sed -E 's|^\./([a-z_]+)/[^:]*:#include "([a-z_]+)/$|\1 \2|' |
    awk '$1 != $2' | sort | uniq -c |
    while read -r count from to; do
        mark=""
        [ "$(layer "$from")" -lt "$(layer "$to")" ] && mark="  <- upward"
        [ "$(layer "$from")" -eq "$(layer "$to")" ] && mark="  (same layer)"
        printf '%-10s -> %-10s %3d%s\n' "$from" "$to" "$count" "$mark"
    done
