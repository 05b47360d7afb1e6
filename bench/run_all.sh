#!/usr/bin/env bash
# Builds the benchmarks (Release, -DKIVO_BENCH=ON) and runs every measurement
# of docs/performance.md once, printing the figures. Takes a few minutes; the
# 1 GiB runs want a quiet machine, so the load average is printed before each
# step. Exits non-zero when a step failed; the others still run.
#
#   bash bench/run_all.sh [build-dir]     (default: build/bench)
#
# The soak (bench/soak_kivo.sh, an hour by default) runs only when asked:
# KIVO_SOAK_MINUTES=60 bash bench/run_all.sh. The side-by-side memory step
# starts the other clients that are installed (eiskaltdcpp-daemon takes
# about a minute to come up); the side-by-side download needs ncdc and
# eiskaltdcpp-daemon (its uploader hashes 1 GiB first: a few minutes).
#
# The demo hub's big files (about 2.2 GiB) are kept in <build-dir>/demohub-data
# for the next run.
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$repo/build/bench}" && cd "${1:-$repo/build/bench}" && pwd)
cd "$repo"
. scripts/deps.sh
kivo_install_deps libbenchmark-dev libssl-dev openssl python3 rhash

cmake -S "$repo" -B "$build" -G Ninja -DKIVO_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
cmake --build "$build" -j2 --target kivo screen_demo bench_dispatch bench_users download_throughput file_list_open \
    tls_library_server tls_library_client_plain tls_library_client_openssl_static tls_library_client_openssl_shared \
    tls_library_client_mbedtls_static tls_library_client_mbedtls_shared >/dev/null ||
    exit 1
kivo="$build/kivo"

failed=()
step() {
    local name=$1
    shift
    echo
    echo "==== $name    (load average: $(cut -d' ' -f1-3 /proc/loadavg))"
    "$@" || { echo "==== $name FAILED"; failed+=("$name"); }
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(free -g | awk '/^Mem:/ { print $2 }') GiB"
echo "commit:  $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown), $(date -u '+%Y-%m-%d %H:%M UTC')"

step "hub dispatch: 3000-user login burst and plain chat" "$build/bench/bench_dispatch"
step "Users screen with 3000 users (target: median under 5 ms)" "$build/bench/bench_users"
step "start-up time to the first drawn screen" bash bench/startup_time.sh "$kivo" "$repo"
step "resident memory of kivo connected and idle (target: under 3 MiB)" bash bench/memory_kivo.sh "$kivo" "$repo"
step "idle kivo, connected, 10 s (target: no CPU)" bash bench/idle_kivo.sh "$kivo" "$repo" 10
step "idle screen (screen_demo), 5 s" bash bench/idle_cpu.sh "$build"
step "1 GiB: plain copy, rhash --tth, verified and legacy downloads, one and three at once (targets: verified and legacy >= 0.9, against rhash >= 1.0, three at once >= 0.9)" \
    bash bench/download_throughput.sh "$build" 1024
step "real kivo downloading 1 GiB from the demo hub, verified (TLS and plain) and legacy (targets: VmHWM under 4 MiB plain, 6 MiB TLS)" \
    bash bench/download_kivo.sh "$kivo" "$repo" 1024 5 "$build/demohub-data"
step "TLS libraries side by side, 1 GiB over 127.0.0.1 (memory and throughput against plain TCP)" \
    bash bench/tls_library.sh "$build" 1024 3
step "file lists of 10,000, 100,000 and 1,000,000 files against bzcat (targets: at most 1.5 times bzcat, memory back within 200 kB)" \
    bash bench/file_list.sh "$build" 3
step "resident memory, idle on the demo hub, beside microdc2, ncdc and eiskaltdcpp-daemon" \
    bash bench/memory_side_by_side.sh "$kivo" "$repo"
step "peak memory of the download queue: 1 and 3 transfers at once, plain and TLS; 1,000 waiting entries (targets: about 300 kB a transfer, 300 kB for the entries)" \
    bash bench/memory_queue.sh "$kivo" "$repo" 512 "$build/demohub-data-512"
step "1 GiB from eiskaltdcpp-daemon over TLS: kivo, ncdc and a second eiskaltdcpp-daemon in turn (target: kivo shortest)" \
    bash bench/download_side_by_side.sh "$kivo" "$repo" 1024 3
if [ -n "${KIVO_SOAK_MINUTES:-}" ]; then
    step "soak: $KIVO_SOAK_MINUTES minutes of fast churn and chatter, a download a minute (target: VmRSS and fds flat)" \
        bash bench/soak_kivo.sh "$kivo" "$repo" "$KIVO_SOAK_MINUTES"
fi

echo
if [ ${#failed[@]} -gt 0 ]; then
    echo "failed: ${failed[*]}"
    exit 1
fi
echo "all measurements ran"
