#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 10), starting from the seed corpus in fuzz/corpus/<target>.
# Fails on any finding; the crashing input is left in build/fuzz/findings.
#   bash scripts/fuzz.sh 600      # ten minutes per target
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_deps clang libclang-rt-dev

seconds=${1:-10}
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKIVO_FUZZ=ON -DKIVO_SANITIZE=ON >/dev/null
cmake --build build/fuzz -j"$(nproc)" $(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//' | sed 's/^/--target /')
mkdir -p build/fuzz/findings
for source in fuzz/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$target" ] && cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
    echo "== $target for ${seconds}s"
    build/fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/findings/"$target"- "$corpus" 2>build/fuzz/"$target".log ||
        { tail -40 build/fuzz/"$target".log; echo "FAIL: $target found a fault"; exit 1; }
    grep -E "stat::number_of_executed_units" build/fuzz/"$target".log || true
done
echo "fuzzing: no findings"
