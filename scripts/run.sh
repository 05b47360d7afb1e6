#!/usr/bin/env bash
# Builds Kivo and runs it in this terminal, with the arguments given. When nothing listens on
# 127.0.0.1:2225, the demo hub is started in the background first (its UTF-8
# port on 2227, its TLS port on 2228) and stopped again when Kivo ends.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_deps

cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/run -j"$(nproc)" --target kivo

hub_pid=""
stop_hub() { [ -n "$hub_pid" ] && kill "$hub_pid" 2>/dev/null && wait "$hub_pid" 2>/dev/null; true; }
trap stop_hub EXIT

if ! (exec 3<>/dev/tcp/127.0.0.1/2225) 2>/dev/null; then
    echo "starting the demo hub on 127.0.0.1:2225, UTF-8 on 2227, TLS on 2228 (log: build/demohub.log)"
    rm -f build/demohub.keyprint
    python3 tools/demohub.py --port 2225 --utf8-port 2227 --tls-port 2228 \
        --keyprint-file build/demohub.keyprint >build/demohub.log 2>&1 &
    hub_pid=$!
    for _ in $(seq 1 100); do
        (exec 3<>/dev/tcp/127.0.0.1/2225) 2>/dev/null && break
        sleep 0.1
    done
    # The keyprint file is written before the hub listens.
    if [ -s build/demohub.keyprint ]; then
        # Kivo shows it too, as a line in its chat at start.
        KIVO_DEMO_TLS_HUB="nmdcs://127.0.0.1:2228?kp=$(cat build/demohub.keyprint)"
        export KIVO_DEMO_TLS_HUB
        echo "the TLS hub: $KIVO_DEMO_TLS_HUB"
    fi
fi

# Downloads go to build/run/downloads, never into the checkout (unless a
# download folder saved in Option says otherwise). A Favorites.xml placed in
# build/run is used, with settings.xml beside it (a portable copy); without
# one Kivo keeps both in ~/.config/kivo/. See README. The arguments go to
# kivo (a hub address to connect to at start, --help).
export XDG_DOWNLOAD_DIR="$PWD/build/run/downloads"
status=0
build/run/kivo "$@" || status=$?
exit $status
