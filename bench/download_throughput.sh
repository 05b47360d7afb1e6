#!/usr/bin/env bash
# Download throughput over 127.0.0.1, one run, the same file side by side: a
# plain socket copy, `rhash --tth` of the file, the client's worker verifying
# the file against that TTH while it receives ($ADCGET), the worker's legacy
# $Get, and three rhash runs and three verified downloads (three jobs'
# workers) at once. Prints every round, the best and mean of each, the
# verified ratio (slower of plain copy and rhash / verified; target >= 0.9),
# rhash / verified (target >= 1.0), three rhash / three verified at once
# (target >= 0.9), the legacy ratio (plain copy / legacy; target >= 0.9) and
# the measuring process's peak memory. Not part of the test suite.
#
#   bash bench/download_throughput.sh [build-dir] [MiB] [rounds]   (default: build/bench, 1024, 8)
#
# The build directory is configured with -DKIVO_BENCH=ON (Release) when it
# has no cache yet; an existing one is used as it is. Needs the rhash command.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/bench}
mib=${2:-1024}
rounds=${3:-8}
command -v rhash >/dev/null 2>&1 || { echo "download_throughput: the rhash command is not installed" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DKIVO_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target download_throughput -j2 >/dev/null
"$build/bench/download_throughput" "$mib" "$rounds"
