#!/usr/bin/env bash
# Builds Kivo and runs the whole suite twice, warnings as errors: a normal
# build, then one with AddressSanitizer and UndefinedBehaviorSanitizer (all
# but the end-to-end tests with a real peer client, label "peer", which show
# that two programs understand each other; the normal build runs them); then
# builds the Release configuration and runs its unit suites. Then the demo hub's own
# tests, the threaded suites under ThreadSanitizer, and each fuzz target for a
# few seconds (scripts/fuzz.sh runs them for as long as asked).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_deps
kivo_install_optional microdc2 ncdc eiskaltdcpp-daemon   # the real peers of tests/e2e
kivo_install_optional man-db   # tests/install reads the manual page through man
kivo_install_optional lintian  # tests/install checks the Debian package with it

jobs=$(nproc)
# run_suite <build-dir> <cmake options...>; CTEST_ARGS adds ctest options.
run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    # shellcheck disable=SC2086
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" ${CTEST_ARGS:-}
}

echo "== normal build"
run_suite build/test-normal -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVO_WERROR=ON
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
# The random key sequences run 250 times in the normal build, 60 here.
E2E_KEY_SEQUENCES=60 ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 CTEST_ARGS="-LE peer" \
    run_suite build/test-asan -DCMAKE_BUILD_TYPE=Debug -DKIVO_SANITIZE=ON -DKIVO_WERROR=ON
echo "== Release build (what a packager builds), unit suites"
cmake -S . -B build/test-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVO_WERROR=ON >/dev/null
cmake --build build/test-release -j"$jobs"
ctest --test-dir build/test-release --output-on-failure -j"$jobs" -LE e2e
echo "== demo hub self-test"
(cd tools && python3 -m unittest -q test_demohub)
echo "== ThreadSanitizer"
bash scripts/tsan.sh
echo "== fuzz targets, a short pass"
bash scripts/fuzz.sh 4
