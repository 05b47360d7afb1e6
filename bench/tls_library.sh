#!/usr/bin/env bash
# The TLS library comparison, OpenSSL 3 and mbedTLS side by side in one run,
# each linked statically and as shared libraries, against a client without
# TLS. A local server (bench/tls_library_server.cpp, OpenSSL, a self-signed
# RSA 2048 certificate made with the openssl command into a scratch folder)
# serves MiB bytes over 127.0.0.1 to each client in turn; the clients
# (bench/tls_library_client.cpp) link nothing but libc, libstdc++ and their
# library. Rounds rotate the order; the best time of each counts. Prints per
# client: the cipher suite, VmRSS and VmHWM idle after the handshake, VmHWM at
# the end of the transfer, each against the plain client, the resident pages
# of the library's own mappings (shared builds), the bytes the library adds to
# the binary (static: size(1) text+data+bss over the plain client's; shared:
# the library files it maps), and the throughput with its ratio to the plain
# transfer (plain best time / client best time). Not part of the test suite.
#
#   bash bench/tls_library.sh [build-dir] [MiB] [rounds]   (default: build/bench, 1024, 3)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/bench}
mib=${2:-1024}
rounds=${3:-3}
bytes=$((mib * 1024 * 1024))
clients=(plain openssl_static openssl_shared mbedtls_static mbedtls_shared)

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DKIVO_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
targets=(--target tls_library_server)
for c in "${clients[@]}"; do targets+=(--target "tls_library_client_$c"); done
cmake --build "$build" -j2 "${targets[@]}" >/dev/null
bin="$build/bench"

work=$(mktemp -d /tmp/kivo-bench-tls-XXXXXX)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=kivo-bench -days 2 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
start_server() {  # port file, then the server's extra arguments
    local port_file=$1 i
    shift
    "$bin/tls_library_server" "$port_file" "$bytes" "$@" &
    pids+=($!)
    for i in $(seq 1 50); do [ -s "$port_file" ] && return 0; sleep 0.1; done
    echo "tls_library: the server did not start" >&2
    exit 1
}
start_server "$work/plain.port"
start_server "$work/tls.port" "$work/cert.pem" "$work/key.pem"

for round in $(seq 1 "$rounds"); do
    for i in "${!clients[@]}"; do
        c=${clients[$(((i + round - 1) % ${#clients[@]}))]}
        port=$(cat "$work/tls.port")
        [ "$c" = plain ] && port=$(cat "$work/plain.port")
        echo "$c $(timeout 120 "$bin/tls_library_client_$c" "$port" "$bytes")" >>"$work/results"
    done
done

# Bytes each build adds: size(1) of the static binaries over the plain one;
# for shared builds, the library files the binary maps.
for c in "${clients[@]}"; do
    added=$(size "$bin/tls_library_client_$c" | awk 'NR == 2 { print $4 }')
    libs=0
    case $c in
    *_shared)
        libs=$(ldd "$bin/tls_library_client_$c" | awk '/libssl|libcrypto|libmbed/ { print $3 }' |
            xargs -r stat -L -c %s | awk '{ n += $1 } END { print n + 0 }')
        ;;
    esac
    echo "$c $added $libs" >>"$work/sizes"
done

echo "TLS library comparison: $mib MiB over 127.0.0.1, best of $rounds rounds, load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work/results" "$work/sizes" "$bytes" <<'PY'
import sys
rows = {}
order = []
for line in open(sys.argv[1]):
    f = line.split()
    name = f[0]
    if name not in rows:
        rows[name] = []
        order.append(name)
    rows[name].append(dict(idle_rss=int(f[1]), idle_hwm=int(f[2]), peak=int(f[3]), lib=int(f[4]),
                           seconds=float(f[6]), cipher=f[7]))
sizes = {}
for line in open(sys.argv[2]):
    name, text, libs = line.split()
    sizes[name] = (int(text), int(libs))
total = int(sys.argv[3])
base = rows["plain"]
base_best = min(r["seconds"] for r in base)
base_idle = max(r["idle_rss"] for r in base)
base_peak = max(r["peak"] for r in base)
base_text = sizes["plain"][0]
print("%-15s %-40s %9s %9s %9s %9s %9s %12s %9s %6s" % (
    "client", "cipher suite", "idle RSS", "+plain", "peak HWM", "+plain", "lib RSS", "binary +B", "MB/s", "ratio"))
for name in order:
    rs = rows[name]
    best = min(r["seconds"] for r in rs)
    idle = max(r["idle_rss"] for r in rs)
    peak = max(r["peak"] for r in rs)
    text, libs = sizes[name]
    added = libs if libs else text - base_text
    print("%-15s %-40s %6d kB %6d kB %6d kB %6d kB %6d kB %12d %9.0f %6.3f" % (
        name, rs[0]["cipher"], idle, idle - base_idle, peak, peak - base_peak, max(r["lib"] for r in rs),
        added, total / best / 1e6, base_best / best))
PY
