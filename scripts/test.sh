#!/usr/bin/env bash
# Builds the library, the tools and the tests twice (plain with warnings as
# errors, then with AddressSanitizer + UBSan) and runs every test in both;
# then the unit tests under valgrind's memcheck, the thread tests under
# ThreadSanitizer, each fuzz target for a short while, and the Windows
# cross-builds with their tests under wine (scripts/windows.sh).
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
echo "== unit tests and the C interface under valgrind memcheck =="
# Both run on virtual boards only, so no suppression is needed: libusb and
# umockdev are not loaded.
for program in build/tests/tav_tests build/tests/tav_c_api_test; do
    valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --show-leak-kinds=definite,indirect -q "$program" >build/valgrind.log 2>&1 ||
        { tail -n 60 build/valgrind.log; echo "valgrind: $program failed"; exit 1; }
    echo "valgrind: $program clean"
done
echo "== sanitizer build (ASan + UBSan) =="
run_build build-sanitize -DTAV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DTAV_BUILD_BENCH=OFF
echo "== thread tests under ThreadSanitizer =="
cmake -S . -B build-tsan -DTAV_WERROR=ON -DTAV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug -DTAV_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target tav_thread_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/tests/tav_thread_tests
echo "== fuzzing (libFuzzer, ${TAV_FUZZ_SECONDS:-20}s per target) =="
scripts/fuzz.sh
echo "== Windows: MinGW-w64 cross-builds, tests under wine =="
scripts/windows.sh
