#!/usr/bin/env bash
# Builds the library, the tools and the tests twice (plain with warnings as
# errors, then with AddressSanitizer + UBSan) and runs every test in both;
# then the thread tests once more under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

run_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DTAV_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== plain build =="
run_build build
echo "== sanitizer build (ASan + UBSan) =="
run_build build-sanitize -DTAV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DTAV_BUILD_BENCH=OFF
echo "== thread tests under ThreadSanitizer =="
cmake -S . -B build-tsan -DTAV_WERROR=ON -DTAV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug -DTAV_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target tav_thread_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/tests/tav_thread_tests
