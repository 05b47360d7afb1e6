#!/usr/bin/env bash
# Builds the test suites that run threads together (the download worker, the
# chat and the counters, the hub's receive path and the fault tests) with
# ThreadSanitizer into build/tsan and runs them; any report fails the run.
#   bash scripts/tsan.sh
# Environment: KIVO_TSAN_BUILD, the build directory (default build/tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_deps

build=${KIVO_TSAN_BUILD:-build/tsan}
suites=(test_state test_hub test_transfer)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVO_TSAN=ON -DKIVO_WERROR=ON >/dev/null
build_args=()
for suite in "${suites[@]}"; do build_args+=(--target "$suite"); done
cmake --build "$build" -j"$(nproc)" "${build_args[@]}"

# halt_on_error: the first report ends the binary with a failure status.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
for suite in "${suites[@]}"; do
    echo "== $suite under ThreadSanitizer"
    "$build/tests/$suite" --gtest_brief=1
done
echo "ThreadSanitizer: no reports"
