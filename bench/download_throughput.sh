#!/usr/bin/env bash
# Download throughput: the client's worker against a plain socket copy of the
# same bytes over 127.0.0.1, in one run; prints both, their ratio (target
# >= 0.9) and the measuring process's peak memory. Not part of the test suite.
#
#   bash bench/download_throughput.sh [build-dir] [MiB]   (default: build/bench, 1024)
#
# The build directory is configured with -DKIVO_BENCH=ON (Release) when it
# has no cache yet; an existing one is used as it is.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/bench}
mib=${2:-1024}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DKIVO_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target download_throughput -j2 >/dev/null
"$build/bench/download_throughput" "$mib"
