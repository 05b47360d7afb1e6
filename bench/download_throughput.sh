#!/usr/bin/env bash
# Download throughput: the client's worker against a plain socket copy of the
# same bytes over 127.0.0.1, in one run; prints both, their ratio (target
# >= 0.9) and the client's peak memory. Not part of the test suite.
#
#   bash bench/download_throughput.sh [build-dir] [MiB]   (default: build/bench-download, 1024)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/bench-download}
mib=${2:-1024}

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target kivo_core -j2 >/dev/null
c++ -std=c++20 -O2 -Wall -Wextra -Werror -I"$repo/src" "$repo/bench/download_throughput.cpp" \
    "$build/libkivo_core.a" -lncursesw -lpthread -o "$build/download_throughput"
"$build/download_throughput" "$mib"
