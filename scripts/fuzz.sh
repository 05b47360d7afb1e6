#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each, one after the other, for the given
# number of seconds (default 10), starting from the seed corpus in
# fuzz/corpus/<target> (captured from the demo hub by fuzz/capture_corpus.py).
# Fails on any finding; the crashing input is left in <build>/findings.
#   bash scripts/fuzz.sh 5        # a quick pass, about 55 s for all ten targets
#   bash scripts/fuzz.sh 600      # ten minutes per target
#   bash scripts/fuzz.sh 36000    # hours
# Environment:
#   KIVO_FUZZ_BUILD    build directory (default build/fuzz)
#   KIVO_FUZZ_TARGETS  the targets to run, blank-separated (default: all fuzz/fuzz_*.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_deps clang libclang-rt-dev

seconds=${1:-10}
build=${KIVO_FUZZ_BUILD:-build/fuzz}
targets=${KIVO_FUZZ_TARGETS:-$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')}

CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKIVO_FUZZ=ON -DKIVO_SANITIZE=ON -DKIVO_WERROR=ON >/dev/null
build_args=()
for target in $targets; do build_args+=(--target "$target"); done
cmake --build "$build" -j"$(nproc)" "${build_args[@]}"

mkdir -p "$build/findings"
for target in $targets; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$target" ] && cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
    echo "== $target for ${seconds}s"
    log=$build/$target.log
    dict=()
    [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="fuzz/dict/$target.dict")   # the messages' own words
    status=0
    # A finding (crash, sanitizer report, leak, hang past 10 s, 2 GiB of
    # memory) makes libFuzzer exit non-zero.
    "$build/fuzz/$target" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$target-" "$corpus" 2>"$log" || status=$?
    if [ "$status" -ne 0 ]; then
        tail -40 "$log"
        echo "FAIL: $target found a fault (exit $status); input in $build/findings/"
        exit 1
    fi
    grep -E "stat::number_of_executed_units" "$log" || true
done
echo "fuzzing: no findings"
